#pragma once
// The files an office has on disk: its private folder, the socket files of its
// pipes, and the sweep of what offices of ended programs left behind. Nothing is
// made or removed through a name another user could have planted.
#include <string>
#include <vector>

#include "platform/fd.h"

namespace kx::office {

// Where the offices' folders go: $XDG_RUNTIME_DIR when it is a folder of this user
// that no one else may enter, else $TMPDIR when it is a writable folder, else /tmp.
std::string PrivateRoot();

// A fresh folder that only this user may enter, with a name no one can know in
// advance ("lumipix-office-<pid>-XXXXXX" under PrivateRoot()), locked (flock) from
// before it has that name for as long as it lives. Removed with its content when it goes.
class TkxPrivateDir {
 public:
  TkxPrivateDir();  // raises EOfficeError
  ~TkxPrivateDir();
  TkxPrivateDir(const TkxPrivateDir&) = delete;
  TkxPrivateDir& operator=(const TkxPrivateDir&) = delete;

  const std::string& Path() const { return FPath; }  // no trailing '/'
  // A new sub-folder, and a new file written inside; both fail rather than use a
  // name that exists. Raise EOfficeError.
  void MakeDir(const std::string& relative) const;
  void WriteFile(const std::string& relative, const std::string& data) const;
  // The socket files of the office living in it, removed with it when the program ends
  // while the office is starting or ending, or by a later sweep when it was killed (they
  // are listed in the folder). Raises EOfficeError.
  void Owns(const std::vector<std::string>& sockets);
  void Remove();

 private:
  std::string FPath;
  UniqueFd FHold;
};

// Why an office could not write into `folder` (one inside its private folder), as words
// for a person: the folder is gone, or its file system is (nearly) full; "" for neither.
std::string FolderTrouble(const std::string& folder);

// A file in an office's work folder, removed when its owner goes or takes another.
class TkxWorkFile {
 public:
  TkxWorkFile() = default;
  ~TkxWorkFile() { Remove(); }
  TkxWorkFile(const TkxWorkFile&) = delete;
  TkxWorkFile& operator=(const TkxWorkFile&) = delete;
  void Take(std::string path) {
    Remove();
    FPath = std::move(path);
  }
  const std::string& Path() const { return FPath; }
  void Remove();

 private:
  std::string FPath;
};

// A pipe name for one office that no one can know in advance: "lumipix-<pid>-<random>".
std::string NewPipeName();
// Whether this account has an entry in the user database. LibreOffice names its pipes
// after the uid and leaves their mode to the umask only for an account with one; for
// an account without one (a container started with an arbitrary uid) it names them
// without the uid and opens them to every account (mode 0777). So an office is always
// given an entry: ours, or one of its own through libnss-wrapper (OfficeAccountFiles).
bool AccountHasEntry();
// Where libnss-wrapper's library is; "" when it is not installed.
std::string NssWrapperLibrary();
// The pipe name our UNO client asks for to reach an office's pipe: the office's socket
// is always OSL_PIPE_<uid>_<name>, and a client without an entry (which asks for
// OSL_PIPE_<name>) is given "<uid>_<name>".
std::string ClientPipeName(const std::string& pipeName);
// The socket files an office makes: its UNO pipe, and the pipe through which a second
// start of the same profile would reach it (named after the profile's address).
std::vector<std::string> OfficeSockets(const std::string& pipeName, const std::string& profileUrl);
// Removes those of `paths` that are sockets of this user; others are left alone.
void RemoveSockets(const std::vector<std::string>& paths);
// The address LibreOffice is given for a profile folder.
std::string ProfileUrl(const std::string& folder);

// Removes the folders and sockets of offices whose programs no longer run: a folder
// that no one holds and whose process id runs nowhere here, with the sockets it lists; a
// socket left without its folder once it is some minutes old; a folder left half made
// once it has been quiet for a minute. Only real folders and sockets owned by this user
// are touched; symbolic links never are. Programs in other process-id namespaces that
// share the folder (containers) keep theirs, whatever their ids.
void SweepStaleOffices();
// Removes every office folder this process made and its pipe sockets (at exit, after
// its offices were killed): also those of offices that were starting or ending then.
void SweepOwnOffices();

}  // namespace kx::office
