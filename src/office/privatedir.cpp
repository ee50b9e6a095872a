#include "office/privatedir.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>

#include <rtl/digest.h>
#include <osl/file.hxx>

#include "office/process.h"
#include "platform/fd.h"
#include "platform/files.h"

namespace kx::office {

namespace {

const char* const kDirPrefix = "lumipix-office-";
const char* const kPipePrefix = "lumipix-";

std::string ErrnoText(int err) { return std::strerror(err); }

// A folder this user may create entries in.
bool WritableDir(const char* path) {
  struct stat st {};
  return path && *path == '/' && stat(path, &st) == 0 && S_ISDIR(st.st_mode) && access(path, W_OK | X_OK) == 0;
}

// The process id written after `prefix` in `name` and followed by '-', or 0.
pid_t OwnerOf(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  size_t i = prefix.size(), end = i;
  while (end < name.size() && end - i < 10 && name[end] >= '0' && name[end] <= '9') ++end;
  if (end == i || end >= name.size() || name[end] != '-') return 0;
  return pid_t(std::strtol(name.substr(i, end - i).c_str(), nullptr, 10));
}

bool Running(pid_t pid) { return kill(pid, 0) == 0 || errno != ESRCH; }

// Where LibreOffice puts its pipes' socket files, and the first part of their names:
// the user's id is in it when the account has a name.
std::string SocketDir() {
  if (access("/tmp", W_OK) == 0) return "/tmp";
  if (access("/var/tmp", W_OK) == 0) return "/var/tmp";
  return "/tmp";
}

// Every office has an entry in the user database (AccountHasEntry), so its pipes carry the uid.
std::string SocketPrefix() { return "OSL_PIPE_" + std::to_string(getuid()) + "_"; }
// What offices of older versions run by an account without an entry named theirs.
const char* const kBarePrefix = "OSL_PIPE_";

// LibreOffice names the pipe of a profile after the MD5 of the profile's address, in
// UTF-16, each byte in hexadecimal without leading zeros.
std::string ProfilePipeName(const std::string& profileUrl) {
  rtl::OUString url = rtl::OUString::fromUtf8(profileUrl.c_str());
  sal_uInt8 md5[RTL_DIGEST_LENGTH_MD5];
  rtl_digest_MD5(url.getStr(), sal_uInt32(url.getLength()) * sizeof(sal_Unicode), md5, sizeof md5);
  std::string name = "SingleOfficeIPC_";
  char hex[4];
  for (sal_uInt8 b : md5) {
    std::snprintf(hex, sizeof hex, "%x", unsigned(b));
    name += hex;
  }
  return name;
}

// Calls `fn` with each entry's name and path; a folder that cannot be read has none.
template <class F>
void ForEachEntry(const std::string& dir, F&& fn) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    fn(it->path().filename().string(), it->path().string());
}

// Removes a folder of ours; a symbolic link, or a folder of another user, stays.
void RemoveOwnFolder(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return;
  std::error_code ec;  // what cannot be removed now goes with the next sweep
  std::filesystem::remove_all(path, ec);
}

// The folders this process made and has not removed, with the socket files of their
// offices: what it sweeps at exit. Kept by path, not by the process id in the names,
// which a program in another process-id namespace (a container sharing the folder)
// may carry too.
struct TOwnFolders {
  std::mutex Lock;
  std::map<std::string, std::vector<std::string>> Sockets;
};
TOwnFolders& OwnFolders() {
  static auto* own = new TOwnFolders;  // still there for the exit handler
  return *own;
}

// A folder being made that changed this recently may not be held yet.
constexpr int kQuietSeconds = 60;
// A socket file of an ended program's office that is younger than this may be the pipe
// of an office starting in another process-id namespace, whose owner's id only looks
// ended from here; pipes are needed only until their office is reached.
constexpr int kSocketSeconds = 600;

bool OlderThan(const struct stat& st, int seconds) { return st.st_mtime + seconds < time(nullptr); }

// What a folder is called while it is being made ("lumipix-office-new-XXXXXX").
const char* const kMakingInfix = "new-";
// The file in an office folder that names its office's socket files, one a line.
const char* const kSocketList = "sockets";

// Bytes from the kernel's random source.
void RandomBytes(unsigned char* bytes, size_t n) {
  if (getrandom(bytes, n, 0) == ssize_t(n)) return;
  std::random_device rd;  // the kernel's source all the same, through another door
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(rd());
}

// Six letters and digits, as mkdtemp chooses them.
std::string RandomTail() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  RandomBytes(bytes, sizeof bytes);
  std::string tail;
  for (unsigned char b : bytes) tail += kChars[b % 62];
  return tail;
}

// Whether no one holds `path`'s lock: true once this takes it (`hold` keeps it), also
// where the file system has no locks; false while another program holds it.
bool Unheld(const std::string& path, UniqueFd& hold) {
  hold = UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!hold) return false;
  return flock(hold.Get(), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

// The socket files an office folder's list names (none when it has no list, or one
// that is not a small regular file of its own).
std::vector<std::string> ListedSockets(const std::string& folder) {
  std::vector<std::string> sockets;
  UniqueFd fd(open((folder + "/" + kSocketList).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 8192) return sockets;
  std::string text(size_t(st.st_size), '\0');
  if (read(fd.Get(), text.data(), text.size()) != ssize_t(text.size())) return sockets;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    if (end > at && text[at] == '/') sockets.push_back(text.substr(at, end - at));
  return sockets;
}

}  // namespace

std::string PrivateRoot() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (WritableDir(runtime) && stat(runtime, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 077) == 0)
    return runtime;
  const char* tmp = std::getenv("TMPDIR");
  if (WritableDir(tmp)) return tmp;
  return "/tmp";
}

std::string FolderTrouble(const std::string& folder) {
  size_t cut = folder.rfind(std::string("/") + kDirPrefix);
  std::string root = cut == std::string::npos ? folder : folder.substr(0, cut);
  if (root.empty()) root = "/";
  auto is = [&root](const char* variable) {
    const char* v = std::getenv(variable);
    return v && std::filesystem::path(v).lexically_normal() == std::filesystem::path(root).lexically_normal();
  };
  bool runtime = is("XDG_RUNTIME_DIR");
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    // Gone by our own hand (the program is ending) is no trouble to report.
    std::string own = cut == std::string::npos ? folder : folder.substr(0, folder.find('/', cut + 1));
    std::lock_guard<std::mutex> g(OwnFolders().Lock);
    if (!OwnFolders().Sockets.count(own)) return std::string();
    return "the word processor's folder " + folder + " was removed while it worked" +
           (runtime ? " (XDG_RUNTIME_DIR goes when the account's last session ends: unset it for runs that outlive "
                      "the session)"
                    : " (by a program that cleans the temporary folder?)");
  }
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) != 0) return std::string();
  // Room a document's unpacked parts and its PDF need, at the least.
  constexpr double kLowMb = 32;
  double mb = double(fs.f_bavail) * double(fs.f_frsize) / (1024.0 * 1024.0);
  if (mb >= kLowMb) return std::string();
  char free[32];
  std::snprintf(free, sizeof free, "%.1f MB free", mb);
  std::string full = "the word processor's temporary folder " + root + " is full (" + free;
  if (runtime)
    return full +
           ", taken from XDG_RUNTIME_DIR): free some space there, or unset XDG_RUNTIME_DIR so that TMPDIR "
           "or /tmp is used";
  return full + (is("TMPDIR") ? ", taken from TMPDIR" : "") +
         "): free some space there, or set TMPDIR to a folder with more room";
}

TkxPrivateDir::TkxPrivateDir() {
  std::string root = PrivateRoot();
  std::string base = root + (root.back() == '/' ? "" : "/") + kDirPrefix;
  // Made under a name that sweeps leave alone, locked, and only then put under its own
  // name: a folder of that name is held from the start, so a sweep may take any it can
  // lock. The lock, not the process id in the name, tells other programs' sweeps that it
  // is in use (ended programs' locks are gone with them).
  std::string pattern = base + kMakingInfix + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data()))  // mode 0700, and never an existing name
    throw EOfficeError{"The word processor's private folder cannot be made in " + root + ": " + ErrnoText(errno)};
  std::string making = buf.data();
  FHold = UniqueFd(open(making.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (FHold && flock(FHold.Get(), LOCK_EX | LOCK_NB) != 0) FHold.Reset();
  std::string tail = making.substr(making.size() - 6);
  for (int attempt = 0;; ++attempt) {
    std::string path = base + std::to_string(getpid()) + "-" + tail;
    if (RenameFile(making, path)) {
      FPath = path;
      break;
    }
    int err = errno;
    if (err != EEXIST || attempt == 16) {
      rmdir(making.c_str());
      throw EOfficeError{"The word processor's private folder cannot be made in " + root + ": " + ErrnoText(err)};
    }
    tail = RandomTail();  // a name planted ahead is never taken
  }
  std::lock_guard<std::mutex> g(OwnFolders().Lock);
  OwnFolders().Sockets[FPath];
}

TkxPrivateDir::~TkxPrivateDir() { Remove(); }

void TkxPrivateDir::Owns(const std::vector<std::string>& sockets) {
  {
    std::lock_guard<std::mutex> g(OwnFolders().Lock);
    OwnFolders().Sockets[FPath] = sockets;
  }
  // For the sweep after a program that was killed: what else of its office to remove.
  std::string list;
  for (const std::string& s : sockets) list += s + "\n";
  WriteFile(kSocketList, list);
}

void TkxPrivateDir::MakeDir(const std::string& relative) const {
  std::string path = FPath + "/" + relative;
  if (mkdir(path.c_str(), 0700) != 0)
    throw EOfficeError{"The word processor's folder " + path + " cannot be made: " + ErrnoText(errno)};
}

void TkxPrivateDir::WriteFile(const std::string& relative, const std::string& data) const {
  std::string path = FPath + "/" + relative;
  if (int err = WriteNewFile(path, data, 0600))
    throw EOfficeError{"The word processor's settings cannot be written to " + path + ": " + ErrnoText(err)};
}

void TkxPrivateDir::Remove() {
  if (FPath.empty()) return;
  // The program's exit handler may remove it while its owner does: one at a time.
  std::lock_guard<std::mutex> g(OwnFolders().Lock);
  RemoveOwnFolder(FPath);
  FHold.Reset();
  OwnFolders().Sockets.erase(FPath);
}

void TkxWorkFile::Remove() {
  if (!FPath.empty()) unlink(FPath.c_str());
  FPath.clear();
}

std::string NewPipeName() {
  unsigned char bytes[16];
  RandomBytes(bytes, sizeof bytes);
  std::string name = kPipePrefix + std::to_string(getpid()) + "-";
  char hex[3];
  for (unsigned char b : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", unsigned(b));
    name += hex;
  }
  return name;
}

bool AccountHasEntry() {
  passwd entry{}, *found = nullptr;
  std::vector<char> buf(16384);
  return getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found;
}

std::string NssWrapperLibrary() {
  // Beside the C library, in whichever multiarch folder that is.
  Dl_info info{};
  std::vector<std::string> folders;
  if (dladdr(reinterpret_cast<void*>(&getpid), &info) && info.dli_fname) {
    std::string libc = info.dli_fname;
    std::string folder = libc.substr(0, libc.rfind('/') + 1);
    folders.push_back(folder);
    if (folder.rfind("/usr/", 0) != 0) folders.push_back("/usr" + folder);
  }
  for (const char* f : {"/usr/lib/x86_64-linux-gnu/", "/usr/lib/aarch64-linux-gnu/", "/usr/lib64/", "/usr/lib/"})
    folders.emplace_back(f);
  for (const std::string& folder : folders) {
    std::string path = folder + "libnss_wrapper.so";
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return std::string();
}

std::string ClientPipeName(const std::string& pipeName) {
  return AccountHasEntry() ? pipeName : std::to_string(getuid()) + "_" + pipeName;
}

std::string ProfileUrl(const std::string& folder) {
  rtl::OUString url;
  osl::FileBase::getFileURLFromSystemPath(rtl::OUString::fromUtf8(folder.c_str()), url);
  return rtl::OUStringToOString(url, RTL_TEXTENCODING_UTF8).getStr();
}

std::vector<std::string> OfficeSockets(const std::string& pipeName, const std::string& profileUrl) {
  std::string base = SocketDir() + "/" + SocketPrefix();
  return {base + pipeName, base + ProfilePipeName(profileUrl)};
}

void RemoveSockets(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    struct stat st {};
    if (lstat(p.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == geteuid()) unlink(p.c_str());
  }
}

void SweepStaleOffices() {
  // A folder goes when its program's id runs nowhere here and no one holds its lock; one
  // left while being made, when no one holds it and it has been quiet for a while.
  std::string making = std::string(kDirPrefix) + kMakingInfix;
  ForEachEntry(PrivateRoot(), [&](const std::string& name, const std::string& path) {
    bool half = name.rfind(making, 0) == 0;
    pid_t owner = OwnerOf(name, kDirPrefix);
    if (!half && (owner <= 0 || owner == getpid() || Running(owner))) return;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return;
    if (half && !OlderThan(st, kQuietSeconds)) return;
    UniqueFd hold;
    if (!Unheld(path, hold)) return;
    std::vector<std::string> sockets = ListedSockets(path);
    std::string ipc = ProfilePipeName(ProfileUrl(path + "/profile"));
    sockets.push_back(SocketDir() + "/" + SocketPrefix() + ipc);
    sockets.push_back(SocketDir() + "/" + kBarePrefix + ipc);
    RemoveSockets(sockets);
    RemoveOwnFolder(path);
  });
  // Sockets whose folder went without them.
  for (const std::string& prefix : {SocketPrefix(), std::string(kBarePrefix)}) {
    std::string pipes = prefix + kPipePrefix;
    ForEachEntry(SocketDir(), [&](const std::string& name, const std::string& path) {
      pid_t owner = OwnerOf(name, pipes);
      struct stat st {};
      if (owner > 0 && owner != getpid() && !Running(owner) && lstat(path.c_str(), &st) == 0 &&
          OlderThan(st, kSocketSeconds))
        RemoveSockets({path});
    });
  }
}

void SweepOwnOffices() {
  std::map<std::string, std::vector<std::string>> own;
  {
    std::lock_guard<std::mutex> g(OwnFolders().Lock);
    own = OwnFolders().Sockets;
  }
  for (const auto& [path, sockets] : own) {
    RemoveSockets(sockets);
    std::lock_guard<std::mutex> g(OwnFolders().Lock);
    RemoveOwnFolder(path);
    OwnFolders().Sockets.erase(path);
  }
}

}  // namespace kx::office
