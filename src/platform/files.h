#pragma once
// Files and folders. Attribute bits follow the classic layout so the search's
// attribute tests work unchanged.
#include <sys/types.h>

#include "platform/fd.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace kx {

enum : int {
  faReadOnly = 1,  // the owner may not write it
  faHidden = 2,    // the name begins with '.'
  faSysFile = 4,   // never set here
  faVolumeID = 8,  // never set here
  faDirectory = 16,
  faArchive = 32,  // a regular file
};

struct TkxFileEntry {
  std::string Name;
  int Attr = 0;
};

// Lists the entries of the folder part of `pattern` whose names match its name part
// (`*` any run, `?` one character or none, letter case ignored). As on the classic
// platform, hidden and folder entries are listed only when `attrs` asks for them.
// Only regular files and folders are listed (links followed, except that links to
// folders are never reported as folders); "." and ".." are reported like any entry.
// Each entry is handed to `fn`; returning false stops the listing. Returns 0, or the
// errno of a folder that cannot be listed (missing, not a folder, not readable).
int FindFiles(const std::string& pattern, int attrs, const std::function<bool(const TkxFileEntry&)>& fn);
bool WildcardMatch(const std::string& mask, const std::string& name);

bool FileExists(const std::string& path);       // a regular file (links followed)
bool DirectoryExists(const std::string& path);  // a folder (links followed)
// mkdir -p; raises "Unable to create directory" for the empty path, and with the
// folder and the cause on failure.
void ForceDirectories(const std::string& path);
bool DeleteFile(const std::string& path);
// Never replaces an existing file: fails with errno EEXIST when `to` exists. Folders too.
bool RenameFile(const std::string& from, const std::string& to);

// Who a file is: the same identity means the same file, unchanged since it was taken.
struct TkxFileId {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};
  bool operator==(const TkxFileId& o) const {
    return Device == o.Device && Inode == o.Inode && Size == o.Size && Modified.tv_sec == o.Modified.tv_sec &&
           Modified.tv_nsec == o.Modified.tv_nsec;
  }
};
bool GetFileId(const std::string& path, TkxFileId& id);  // links followed

// Temporary files of this program are named ".lumipix-<host>-<process id>-<6 characters>.tmp"
// in the folder of the file they become, so that they stay short whatever that
// file's name, never carry a final name, and are recognisably ours; <host> is
// HostId() (platform/hostid.h). Older versions wrote ".lumipix-<process id>-<6>.tmp":
// recognised too, with an unknown host.
bool IsTempFileName(const std::string& name, std::string* host = nullptr, long* owner = nullptr);
// How old a file of another run must be before it counts as abandoned whoever wrote
// it: a day, far longer than any document takes.
constexpr int kAbandonedSeconds = 24 * 60 * 60;
// Whether the run that wrote a file is proven gone: it ran on this host (same host
// id) and its process has ended, or the file has not changed for kAbandonedSeconds.
// A fresh file of another host is never judged gone: its run may still be writing.
bool ProvedGone(const std::string& host, long pid, time_t modified);
// Removes the temporary files and page claims in `folder` whose runs are proven gone
// (a killed run, here or anywhere); those of running or unknown runs stay. Returns
// how many were removed.
int SweepTempFiles(const std::string& folder);

// Who holds a claim, as its file says.
struct TkxClaimOwner {
  std::string Host;    // HostId() of the claiming run's machine
  long Pid = 0;        // its process there
  time_t Since = 0;    // when it claimed
  std::string Name;    // the name claimed
  std::string Source;  // what the claim is for (the document)
  std::string Token;   // this claim's own random mark
  std::string File;    // the claim file
};

// A claim on one name in a folder: while it is held, no other run, in this process,
// another one or on another machine sharing the folder, takes the same name. A claim
// is a file ".lumipix-claim-<16 hex digits of the name's hash>" made by an atomic
// exclusive create (a hard link of a complete temporary file, which also holds on
// NFS), holding host, process, time, name and source. A claim whose run is proven
// gone (ProvedGone) is cleared by the next run that wants the name.
class TkxClaim {
 public:
  TkxClaim() = default;
  ~TkxClaim() { Release(); }
  TkxClaim(const TkxClaim&) = delete;
  TkxClaim& operator=(const TkxClaim&) = delete;

  // Claims `name` in `folder` for `source` (releasing a claim held before): true when
  // it is ours; false when a live claim holds it, described in `holder`. Raises with
  // the cause when no claim can be made there (a full disk, a folder that cannot be
  // written), naming `shown` (the file the claim is for) when one is given.
  bool Take(const std::string& folder, const std::string& name, const std::string& source,
            TkxClaimOwner* holder = nullptr, const std::string& shown = std::string());
  bool Held() const { return !FFile.empty(); }
  // The claim file is still ours (nobody cleared it meanwhile).
  bool StillOurs() const;
  void Release();

 private:
  std::string FFile;
  std::string FToken;
};
// The claim file's name for a claimed name, and whether a name is one.
std::string ClaimFileName(const std::string& name);
bool IsClaimFileName(const std::string& name);
// Reads a claim file; false when it cannot be read or is not complete.
bool ReadClaim(const std::string& path, TkxClaimOwner& owner);

// A new temporary file in `folder` ("" is the working folder), removed when the
// object goes unless it was kept. Failures raise with their cause, naming `forName`
// (the file the content is for) when one is given.
class TkxTempFile {
 public:
  explicit TkxTempFile(const std::string& folder, std::string forName = std::string());
  ~TkxTempFile();
  TkxTempFile(const TkxTempFile&) = delete;
  TkxTempFile& operator=(const TkxTempFile&) = delete;
  const std::string& Path() const { return FPath; }
  // Writes all of `data`, raising with the cause on failure (a full disk included).
  void Write(const std::string& data);
  // Flushes to the disk and closes; raises with the cause.
  void Finish(bool sync);
  // Renames the file over `path` (finishing it first); afterwards nothing is removed.
  void Replace(const std::string& path);
  void Keep() { FKept = true; }

 private:
  [[noreturn]] void Fail(const char* what, int err) const;
  const std::string& Shown() const { return FFor.empty() ? FPath : FFor; }
  std::string FPath;
  std::string FFor;
  UniqueFd FFd;
  bool FKept = false;
};

// Flushes what was written to a file, or the entries of a folder, to the disk;
// raises with the cause, naming `shown` when one is given.
void SyncFile(const std::string& path, const std::string& shown = std::string());
// The longest file name the folder's file system takes, in bytes.
size_t NameMax(const std::string& folder);

// The whole content of a file, or its first `limit` bytes. Raises with the cause:
// "Cannot open file "<path>". <reason>" or "Cannot read file ...".
std::string ReadWholeFile(const std::string& path, size_t limit = SIZE_MAX);
// Replaces the content of `path` by `data` in place (a missing file is made with the
// usual permissions). Raises with the cause: "Cannot create file ..." or "Cannot
// write file ...", with what was written until then left behind.
void WriteWholeFile(const std::string& path, const std::string& data);
// Makes `path` with the permission bits `mode` and writes all of `data` to it; a file
// or link already there is neither followed nor replaced (EEXIST). Returns 0, or the
// errno of the failure; a file begun stays behind.
int WriteNewFile(const std::string& path, const std::string& data, mode_t mode);

// Writes `data` to `path` whole or not at all: into a temporary file of the same
// folder, flushed to the disk, then renamed over `path`. An existing file keeps
// its permission bits. Raises with the cause; `path` is then as it was.
void WriteFileAtomic(const std::string& path, const std::string& data);

struct TkxFileTimes {
  timespec Creation{}, Access{}, Write{};
};
bool GetFileTimes(const std::string& path, TkxFileTimes& t);
// Sets access and write times; the creation time cannot be set on this platform.
bool SetFileTimes(const std::string& path, const TkxFileTimes& t);
// Birth time where the file system records it, else the modification time.
bool GetCreationTime(const std::string& path, timespec& t);

// (year-1980)<<9 | month<<5 | day in the upper 16 bits, hour<<11 | minute<<5 | second/2
// in the lower; -1 outside 1980..2107.
int32_t DateTimeToDosDateTime(const std::tm& tm);
int32_t UnixToDosDateTime(time_t t, bool utc);

}  // namespace kx
