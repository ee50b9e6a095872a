#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>
#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>

#include "platform/hostid.h"
#include "platform/numbers.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

namespace {

[[noreturn]] void FileError(const char* what, const std::string& path, int err) {
  throw std::runtime_error(std::string(what) + " \"" + path + "\". " + std::strerror(err));
}

// Writes all of `data` to `fd`; the errno of the failure, 0 when all was written.
int WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += size_t(n);
  }
  return 0;
}

}  // namespace

static char Fold(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Iterative matcher with backtracking over the last '*'; '?' may match nothing,
// which is tried first by skipping it and then by consuming one character.
static bool MatchAt(const char* m, const char* s, int depth) {
  if (depth > 64) return false;
  while (*m) {
    if (*m == '*') {
      while (*m == '*') ++m;
      if (!*m) return true;
      for (const char* t = s;; ++t) {
        if (MatchAt(m, t, depth + 1)) return true;
        if (!*t) return false;
      }
    }
    if (*m == '?') {
      if (MatchAt(m + 1, s, depth + 1)) return true;
      if (!*s) return false;
      ++m, ++s;
      continue;
    }
    if (!*s || Fold(*m) != Fold(*s)) return false;
    ++m, ++s;
  }
  return *s == 0;
}

// As on the classic platform, a trailing ".*" also matches a name without an
// extension, so "*.*" lists every entry.
bool WildcardMatch(const std::string& mask, const std::string& name) {
  if (MatchAt(mask.c_str(), name.c_str(), 0)) return true;
  return mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 && name.find('.') == std::string::npos &&
         MatchAt(mask.substr(0, mask.size() - 2).c_str(), name.c_str(), 0);
}

namespace {
struct TDirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using TDirOwner = std::unique_ptr<DIR, TDirCloser>;
TDirOwner OpenDir(const std::string& folder) { return TDirOwner(opendir(folder.empty() ? "." : folder.c_str())); }
}  // namespace

int FindFiles(const std::string& pattern, int attrs, const std::function<bool(const TkxFileEntry&)>& fn) {
  std::string folder = ExtractFilePath(pattern);
  std::string mask = ExtractFileName(pattern);
  TDirOwner d = OpenDir(folder);
  if (!d) return errno;
  for (;;) {
    errno = 0;
    dirent* e = readdir(d.get());
    if (!e) return errno;  // 0 at the end of the folder
    std::string name = e->d_name;
    if (!WildcardMatch(mask, name)) continue;
    std::string full = folder + name;
    struct stat lst {
    }, st{};
    if (lstat(full.c_str(), &lst) != 0) continue;
    bool isLink = S_ISLNK(lst.st_mode);
    if (stat(full.c_str(), &st) != 0) continue;  // dangling link
    TkxFileEntry entry{name, 0};
    if (S_ISDIR(st.st_mode)) {
      if (isLink) continue;  // never descend into linked folders: no cycles
      entry.Attr |= faDirectory;
    } else if (S_ISREG(st.st_mode)) {
      entry.Attr |= faArchive;
    } else {
      continue;  // FIFOs, sockets, devices would block or make no sense as documents
    }
    if (name != "." && name != ".." && name[0] == '.') entry.Attr |= faHidden;
    if (!(st.st_mode & S_IWUSR)) entry.Attr |= faReadOnly;
    if ((entry.Attr & faHidden) && !(attrs & faHidden)) continue;
    if ((entry.Attr & faDirectory) && !(attrs & faDirectory)) continue;
    if (!fn(entry)) return 0;
  }
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ForceDirectories(const std::string& path) {
  std::string p = ExcludeTrailingPathDelimiter(path);
  if (p.empty()) throw std::runtime_error("Unable to create directory");
  if (DirectoryExists(p)) return;
  size_t pos = 0;
  while (true) {
    pos = p.find(PathDelim, pos + 1);
    std::string part = p.substr(0, pos);
    if (!part.empty() && !DirectoryExists(part) && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      FileError("Unable to create directory", part, errno);
    if (pos == std::string::npos) break;
  }
  // Made and gone again, or a file of that name meanwhile.
  if (!DirectoryExists(p)) FileError("Unable to create directory", p, ENOTDIR);
}

bool DeleteFile(const std::string& path) { return !path.empty() && unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) {
    errno = ENOENT;
    return false;
  }
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat st {};
  if (lstat(from.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // A folder cannot be linked: it is renamed only where nothing is.
    if (lstat(to.c_str(), &st) == 0) {
      errno = EEXIST;
      return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
  }
  // A file system without the flag: a hard link cannot replace anything either.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  if (unlink(from.c_str()) != 0) {
    int err = errno;
    unlink(to.c_str());
    errno = err;
    return false;
  }
  return true;
}

bool GetFileId(const std::string& path, TkxFileId& id) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  id.Device = st.st_dev;
  id.Inode = st.st_ino;
  id.Size = st.st_size;
  id.Modified = st.st_mtim;
  return true;
}

namespace {

constexpr const char* kTempPrefix = ".lumipix-";
constexpr const char* kTempSuffix = ".tmp";
constexpr const char* kClaimPrefix = ".lumipix-claim-";
constexpr size_t kTempRandom = 6;

std::string RandomPart(size_t n = kTempRandom) {
  thread_local std::mt19937_64 gen{std::random_device{}()};
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string r;
  for (size_t i = 0; i < n; ++i) r.push_back(kChars[gen() % 62]);
  return r;
}

bool ProcessRuns(long pid) { return pid > 0 && (kill(pid_t(pid), 0) == 0 || errno != ESRCH); }

}  // namespace

bool IsTempFileName(const std::string& name, std::string* host, long* owner) {
  size_t p = std::strlen(kTempPrefix), s = std::strlen(kTempSuffix);
  if (name.size() < p + 2 + kTempRandom + s || name.compare(0, p, kTempPrefix) != 0 ||
      name.compare(name.size() - s, s, kTempSuffix) != 0)
    return false;
  size_t dash = name.size() - s - kTempRandom - 1;
  if (name[dash] != '-' || dash == p) return false;
  for (size_t i = dash + 1; i < dash + 1 + kTempRandom; ++i)
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  // "<host>-<pid>" or, from older versions, "<pid>" alone; a host id always holds '~'.
  std::string_view middle = std::string_view(name).substr(p, dash - p);
  size_t hostEnd = middle.rfind('-');
  std::string_view hostPart, pidPart = middle;
  if (hostEnd != std::string_view::npos) {
    hostPart = middle.substr(0, hostEnd);
    pidPart = middle.substr(hostEnd + 1);
    if (hostPart.find('~') == std::string_view::npos) return false;
  }
  std::optional<uint64_t> pid = ReadDigits(pidPart, 999999999);
  if (!pid) return false;
  if (host) *host = std::string(hostPart);
  if (owner) *owner = long(*pid);
  return true;
}

bool ProvedGone(const std::string& host, long pid, time_t modified) {
  if (!host.empty() && host == HostId() && pid > 0 && pid != long(getpid()) && !ProcessRuns(pid)) return true;
  return modified > 0 && time(nullptr) - modified > kAbandonedSeconds;
}

std::string ClaimFileName(const std::string& name) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : name) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return kClaimPrefix + std::string(hex);
}

bool IsClaimFileName(const std::string& name) {
  size_t p = std::strlen(kClaimPrefix);
  if (name.size() != p + 16 || name.compare(0, p, kClaimPrefix) != 0) return false;
  return std::all_of(name.begin() + long(p), name.end(), [](char c) { return std::isxdigit(c) && !std::isupper(c); });
}

namespace {

constexpr const char* kClaimMagic = "lumipix-claim 1";

std::string ClaimText(const TkxClaimOwner& o) {
  // One field a line; a name or source holding a line break cannot be a page name
  // of ours, but is kept from breaking the layout all the same.
  auto line = [](const std::string& v) { return ReplaceAll(ReplaceAll(v, "\\", "\\\\"), "\n", "\\n"); };
  return std::string(kClaimMagic) + "\nhost " + o.Host + "\npid " + std::to_string(o.Pid) + "\nsince " +
         std::to_string(o.Since) + "\nname " + line(o.Name) + "\nsource " + line(o.Source) + "\ntoken " + o.Token +
         "\n";
}

}  // namespace

bool ReadClaim(const std::string& path, TkxClaimOwner& owner) {
  std::string text;
  try {
    text = ReadWholeFile(path, 65536);
  } catch (const std::exception&) {
    return false;
  }
  if (text.rfind(std::string(kClaimMagic) + "\n", 0) != 0) return false;
  TkxClaimOwner o;
  o.File = path;
  bool complete = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line without its end was still being written
    std::string line = text.substr(at, end - at);
    at = end + 1;
    size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    std::string key = line.substr(0, blank), value = line.substr(blank + 1);
    auto unescape = [](const std::string& v) {
      std::string r;
      for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
          r.push_back(v[i + 1] == 'n' ? '\n' : v[i + 1]);
          ++i;
        } else {
          r.push_back(v[i]);
        }
      }
      return r;
    };
    if (key == "host")
      o.Host = value;
    else if (key == "pid")
      o.Pid = long(ReadDigits(value, 999999999).value_or(0));
    else if (key == "since")
      o.Since = time_t(ReadDigits(value).value_or(0));
    else if (key == "name")
      o.Name = unescape(value);
    else if (key == "source")
      o.Source = unescape(value);
    else if (key == "token")
      o.Token = value, complete = true;
  }
  if (!complete) return false;
  owner = o;
  return true;
}

namespace {

// The change time of a file, 0 when it is not there.
time_t ModifiedTime(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// Whether the claim at `path` is proven gone; fills `owner` with what it says (or
// leaves it empty when it cannot be read: an unknown owner, gone only with age).
bool ClaimGone(const std::string& path, TkxClaimOwner& owner) {
  owner = TkxClaimOwner();
  owner.File = path;
  time_t modified = ModifiedTime(path);
  if (modified == 0) return false;
  if (!ReadClaim(path, owner)) return ProvedGone(std::string(), 0, modified);
  return ProvedGone(owner.Host, owner.Pid, modified);
}

// Clears a claim judged gone, unless another run replaced it meanwhile: the claim is
// first moved aside under a name of our own (one step, whoever else tries), and only
// removed when it is still the one judged; otherwise it is put back.
void ClearGoneClaim(const std::string& path, const TkxClaimOwner& judged) {
  std::string aside = ExtractFilePath(path) + TempNamePrefix() + RandomPart() + kTempSuffix;
  if (rename(path.c_str(), aside.c_str()) != 0) return;  // someone else cleared it first
  TkxClaimOwner moved;
  bool same =
      judged.Token.empty() ? !ReadClaim(aside, moved) : (ReadClaim(aside, moved) && moved.Token == judged.Token);
  if (!same && link(aside.c_str(), path.c_str()) != 0) {
    // A third run made a new claim in between: the one moved aside was fresh, and its
    // run learns it lost the name when it checks before putting its pages in place.
  }
  unlink(aside.c_str());
}

}  // namespace

int SweepTempFiles(const std::string& folder) {
  TDirOwner d = OpenDir(folder);
  if (!d) return 0;  // a folder that cannot be listed has nothing to sweep that can be found
  std::string dir = IncludeTrailingPathDelimiter(folder.empty() ? "." : folder);
  std::vector<std::string> temps, claims;
  while (dirent* e = readdir(d.get())) {
    if (IsTempFileName(e->d_name))
      temps.emplace_back(e->d_name);
    else if (IsClaimFileName(e->d_name))
      claims.emplace_back(e->d_name);
  }
  d.reset();
  int removed = 0;
  for (const std::string& name : temps) {
    std::string host, full = dir + name;
    long owner = 0;
    IsTempFileName(name, &host, &owner);
    struct stat st {};
    if (lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ProvedGone(host, owner, st.st_mtime)) continue;
    if (unlink(full.c_str()) == 0) ++removed;
  }
  for (const std::string& name : claims) {
    TkxClaimOwner owner;
    std::string full = dir + name;
    struct stat st {};
    if (lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ClaimGone(full, owner)) continue;
    ClearGoneClaim(full, owner);
    if (lstat(full.c_str(), &st) != 0) ++removed;
  }
  return removed;
}

bool TkxClaim::Take(const std::string& folder, const std::string& name, const std::string& source,
                    TkxClaimOwner* holder, const std::string& shown) {
  Release();
  std::string dir = folder.empty() ? std::string() : IncludeTrailingPathDelimiter(folder);
  std::string path = dir + ClaimFileName(name);
  TkxClaimOwner mine;
  mine.Host = HostId();
  mine.Pid = long(getpid());
  mine.Since = time(nullptr);
  mine.Name = name;
  mine.Source = source;
  mine.Token = RandomPart(16);
  mine.File = path;
  for (int attempt = 0; attempt < 8; ++attempt) {
    // The claim appears whole or not at all: a complete file linked to the claim's name.
    TkxTempFile tmp(dir, shown.empty() ? path : shown);
    tmp.Write(ClaimText(mine));
    tmp.Finish(false);
    int err = 0;
    if (link(tmp.Path().c_str(), path.c_str()) != 0) {
      err = errno;
      struct stat st {};
      // Over NFS the reply of a link that was made can be lost: the link count tells.
      if (err != EEXIST && stat(tmp.Path().c_str(), &st) == 0 && st.st_nlink == 2) err = 0;
    }
    if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == EMLINK) {
      // A file system without hard links: an exclusive create, written at once.
      if (int werr = WriteNewFile(path, ClaimText(mine), 0644))
        err = werr;
      else
        err = 0;
    }
    if (err == 0) {
      FFile = path;
      FToken = mine.Token;
      return true;
    }
    if (err != EEXIST) FileError("Cannot create file", shown.empty() ? path : shown, err);
    TkxClaimOwner other;
    if (!ClaimGone(path, other)) {
      if (holder) *holder = other;
      return false;
    }
    ClearGoneClaim(path, other);
  }
  if (holder) ReadClaim(path, *holder);
  return false;
}

bool TkxClaim::StillOurs() const {
  TkxClaimOwner now;
  return !FFile.empty() && ReadClaim(FFile, now) && now.Token == FToken;
}

void TkxClaim::Release() {
  if (FFile.empty()) return;
  if (StillOurs()) unlink(FFile.c_str());
  FFile.clear();
  FToken.clear();
}

TkxTempFile::TkxTempFile(const std::string& folder, std::string forName) : FFor(std::move(forName)) {
  std::string dir = folder.empty() ? std::string() : IncludeTrailingPathDelimiter(folder);
  for (int attempt = 0; attempt < 100; ++attempt) {
    FPath = dir + TempNamePrefix() + RandomPart() + kTempSuffix;
    // 0666 and the process's umask, as for any file the program makes.
    FFd.Reset(open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (FFd) return;
    if (errno != EEXIST) break;
  }
  int err = errno;
  std::string path = Shown();
  FPath.clear();
  FileError("Cannot create file", path, err);
}

TkxTempFile::~TkxTempFile() {
  FFd.Reset();
  if (!FKept && !FPath.empty()) unlink(FPath.c_str());
}

void TkxTempFile::Fail(const char* what, int err) const { FileError(what, Shown(), err); }

void TkxTempFile::Write(const std::string& data) {
  if (!FFd) Fail("Cannot write file", EBADF);
  if (int err = WriteAll(FFd.Get(), data)) Fail("Cannot write file", err);
}

void TkxTempFile::Finish(bool sync) {
  if (!FFd) return;
  UniqueFd fd = std::move(FFd);
  // Delayed allocation reports a full disk only here.
  if (sync && fsync(fd.Get()) != 0) Fail("Cannot write file", errno);
  if (int err = fd.Close()) Fail("Cannot write file", err);
}

void TkxTempFile::Replace(const std::string& path) {
  Finish(true);
  if (rename(FPath.c_str(), path.c_str()) != 0) FileError("Cannot write file", path, errno);
  FKept = true;
}

void SyncFile(const std::string& path, const std::string& shown) {
  UniqueFd fd(open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC));
  int err = fd ? 0 : errno;
  if (fd && fsync(fd.Get()) != 0) err = errno;
  if (err) FileError("Cannot write file", shown.empty() ? path : shown, err);
}

size_t NameMax(const std::string& folder) {
  long n = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? size_t(n) : 255;
}

std::string ReadWholeFile(const std::string& path, size_t limit) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) FileError("Cannot open file", path, errno);
  std::string data;
  char buf[65536];
  while (data.size() < limit) {
    ssize_t n = read(fd.Get(), buf, std::min(sizeof buf, limit - data.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FileError("Cannot read file", path, errno);
    if (n == 0) break;
    data.append(buf, size_t(n));
  }
  return data;
}

// Opens `path` for writing with the further `flags` and writes all of `data`: 0, or
// the errno of the failure, `opened` telling whether it came after the opening.
static int OpenAndWrite(const std::string& path, int flags, mode_t mode, const std::string& data, bool& opened) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, mode));
  opened = fd.Valid();
  if (!fd) return errno;
  int err = WriteAll(fd.Get(), data);
  // A full disk may only show when the file is closed.
  int closeErr = fd.Close();
  return err ? err : closeErr;
}

void WriteWholeFile(const std::string& path, const std::string& data) {
  bool opened = false;
  if (int err = OpenAndWrite(path, O_CREAT | O_TRUNC, 0666, data, opened))
    FileError(opened ? "Cannot write file" : "Cannot create file", path, err);
}

int WriteNewFile(const std::string& path, const std::string& data, mode_t mode) {
  bool opened = false;
  return OpenAndWrite(path, O_CREAT | O_EXCL | O_NOFOLLOW, mode, data, opened);
}

void WriteFileAtomic(const std::string& path, const std::string& data) {
  TkxTempFile tmp(ExtractFilePath(path), path);
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) chmod(tmp.Path().c_str(), st.st_mode & 07777);
  tmp.Write(data);
  tmp.Replace(path);
}

bool GetCreationTime(const std::string& path, timespec& t) {
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) return false;
  const statx_timestamp& ts = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  t.tv_sec = ts.tv_sec;
  t.tv_nsec = ts.tv_nsec;
  return true;
}

bool GetFileTimes(const std::string& path, TkxFileTimes& t) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  t.Access = st.st_atim;
  t.Write = st.st_mtim;
  if (!GetCreationTime(path, t.Creation)) t.Creation = st.st_mtim;
  return true;
}

bool SetFileTimes(const std::string& path, const TkxFileTimes& t) {
  timespec times[2] = {t.Access, t.Write};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int32_t DateTimeToDosDateTime(const std::tm& tm) {
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return -1;
  uint32_t date = uint32_t((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
  uint32_t time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
  return int32_t(date << 16 | time);
}

int32_t UnixToDosDateTime(time_t t, bool utc) {
  std::tm tm{};
  if (!(utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm))) return -1;
  return DateTimeToDosDateTime(tm);
}

}  // namespace kx
