#pragma once
// Who writes a file into a folder that several machines may share. A process id
// means something only on its own machine and in its own process namespace, so
// the files a run leaves in a target folder carry the host as well: its name, and
// a tag of the machine's boot and of the process namespace (containers that share
// a host name, or two machines misnamed alike, still differ). Header-only: the PNG
// module names its temporary files the same way.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace kx {

namespace hostid_detail {

inline uint32_t Fnv1a32(const std::string& s, uint32_t h = 2166136261u) {
  for (unsigned char c : s) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

inline std::string ReadSmallFile(const char* path) {
  std::string r;
  if (FILE* f = std::fopen(path, "re")) {
    char buf[128];
    size_t n = std::fread(buf, 1, sizeof buf, f);
    r.assign(buf, n);
    std::fclose(f);
  }
  return r;
}

inline std::string Make() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) std::snprintf(name, sizeof name, "localhost");
  std::string host;
  for (const char* p = name; *p && host.size() < 63; ++p) {
    char c = *p;
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    host.push_back(plain ? c : '_');
  }
  char ns[128] = {};
  ssize_t n = readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
  std::string where = ReadSmallFile("/proc/sys/kernel/random/boot_id") + "|" + std::string(ns, n > 0 ? size_t(n) : 0);
  char tag[16];
  std::snprintf(tag, sizeof tag, "%08x", unsigned(Fnv1a32(where)));
  return host + "~" + tag;
}

}  // namespace hostid_detail

// "<host name>~<8 hex digits>": only letters, digits, '.', '-' and '_' before the '~'.
inline const std::string& HostId() {
  static const std::string id = hostid_detail::Make();
  return id;
}

// The start of this process's temporary file names: ".lumipix-<host id>-<pid>-".
inline std::string TempNamePrefix() { return ".lumipix-" + HostId() + "-" + std::to_string(getpid()) + "-"; }

}  // namespace kx
