#include "office/officetestutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <png.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "testutil.h"

namespace kxtest {

LocalServer::LocalServer() {
  FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (FListen < 0 || bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(FListen, 16) != 0 ||
      getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("the test server cannot listen");
  FPort = ntohs(addr.sin_port);
  FThread = std::thread([this] { Loop(); });
}

LocalServer::~LocalServer() {
  FStop = true;
  FThread.join();
  close(FListen);
}

std::string LocalServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

void LocalServer::Serve(const std::string& path, const std::string& body) {
  std::lock_guard<std::mutex> g(FLock);
  FFiles[path] = body;
}

void LocalServer::Redirect(const std::string& path, const std::string& location) {
  std::lock_guard<std::mutex> g(FLock);
  FSpecial[path] = {TKind::Redirect, location};
}

void LocalServer::Endless(const std::string& path) {
  std::lock_guard<std::mutex> g(FLock);
  FSpecial[path] = {TKind::Endless, ""};
}

void LocalServer::Stall(const std::string& path) {
  std::lock_guard<std::mutex> g(FLock);
  FSpecial[path] = {TKind::Stall, ""};
}

// Sends all of `data`; false once the client has gone (never a SIGPIPE).
static bool SendAll(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

void LocalServer::Special(int fd, TKind kind, const std::string& text) {
  if (kind == TKind::Redirect) {
    SendAll(fd, "HTTP/1.0 302 Found\r\nLocation: " + text + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return;
  }
  std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n";
  if (kind == TKind::Endless) {
    if (!SendAll(fd, head + "\r\n")) return;
    std::string chunk(1 << 16, 'x');
    while (!FStop && SendAll(fd, chunk)) {
    }
    return;
  }
  if (!SendAll(fd, head + "Content-Length: 100000\r\n\r\n0123456789")) return;
  while (!FStop) {  // until the client closes its end
    pollfd p{fd, POLLIN, 0};
    char c;
    if (poll(&p, 1, 50) > 0 && read(fd, &c, 1) <= 0) return;
  }
}

void LocalServer::Loop() {
  while (!FStop) {
    pollfd p{FListen, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++FConnections;
    Answer(fd);
    close(fd);
  }
}

// One request per connection: GET and HEAD of the files served, 404 for others.
void LocalServer::Answer(int fd) {
  std::string request;
  char buf[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) return;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return;
    request.append(buf, size_t(n));
  }
  std::string method = request.substr(0, request.find(' '));
  size_t at = request.find(' ') + 1;
  std::string path = request.substr(at, request.find(' ', at) - at);
  std::string status = "404 Not Found", body;
  {
    std::unique_lock<std::mutex> g(FLock);
    auto special = FSpecial.find(path);
    if (special != FSpecial.end()) {
      auto [kind, text] = special->second;
      g.unlock();
      Special(fd, kind, text);
      return;
    }
    auto it = FFiles.find(path);
    if (method != "GET" && method != "HEAD")
      status = "501 Not Implemented";
    else if (it != FFiles.end()) {
      status = "200 OK";
      body = it->second;
    }
  }
  std::string answer = "HTTP/1.0 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
  if (method == "GET") answer += body;
  for (size_t done = 0; done < answer.size();) {
    ssize_t n = write(fd, answer.data() + done, answer.size() - done);
    if (n <= 0) return;
    done += size_t(n);
  }
}

FileWatch::FileWatch(const std::string& path) {
  FFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (FFd < 0 || inotify_add_watch(FFd, path.c_str(), IN_OPEN | IN_ACCESS) < 0)
    throw std::runtime_error("cannot watch " + path);
}

FileWatch::~FileWatch() { close(FFd); }

int FileWatch::Events() {
  alignas(inotify_event) char buf[4096];
  ssize_t n;
  while ((n = read(FFd, buf, sizeof buf)) > 0) {
    for (char* p = buf; p < buf + n;) {
      auto* e = reinterpret_cast<inotify_event*>(p);
      ++FCount;
      p += sizeof(inotify_event) + e->len;
    }
  }
  return FCount;
}

namespace {

void Put16(std::string& s, unsigned v) {
  s.push_back(char(v & 255));
  s.push_back(char(v >> 8 & 255));
}

void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

std::string Deflate(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
  std::string out(deflateBound(&z, uLong(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

}  // namespace

std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& parts) {
  std::string zip, central;
  for (const auto& [name, data] : parts) {
    std::string packed = Deflate(data);
    uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    uint32_t offset = uint32_t(zip.size());
    std::string common;  // version needed .. name length, shared by both headers
    Put16(common, 20);
    Put16(common, 0);
    Put16(common, 8);
    Put16(common, 0);
    Put16(common, 0x21);  // 1980-01-01
    Put32(common, crc);
    Put32(common, uint32_t(packed.size()));
    Put32(common, uint32_t(data.size()));
    Put16(common, unsigned(name.size()));
    Put32(zip, 0x04034b50);
    zip += common;
    Put16(zip, 0);
    zip += name + packed;
    Put32(central, 0x02014b50);
    Put16(central, 20);
    central += common;
    Put16(central, 0);  // extra
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, 0);  // external attributes
    Put32(central, offset);
    central += name;
  }
  uint32_t at = uint32_t(zip.size());
  zip += central;
  Put32(zip, 0x06054b50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, unsigned(parts.size()));
  Put16(zip, unsigned(parts.size()));
  Put32(zip, uint32_t(central.size()));
  Put32(zip, at);
  Put16(zip, 0);
  return zip;
}

std::string DocxOf(const std::string& bodyXml) {
  const char* types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/word/document.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>";
  const char* rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
      "Target=\"word/document.xml\"/></Relationships>";
  std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
      bodyXml + "</w:body></w:document>";
  return ZipOf({{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"word/document.xml", document}});
}

std::string MadeDocument(const std::string& name) {
  static TempDir dir;
  static const bool made = [] {
    std::string command = "bash '" LUMI_SOURCE_DIR "/tests/testlib.sh' '" + dir.Path() + "'";
    return std::system(command.c_str()) == 0;
  }();
  if (!made) throw std::runtime_error("LibreOffice did not make the test documents (tests/testlib.sh)");
  return dir / name;
}

Grey GreyOf(cairo_surface_t* image) {
  Grey g;
  cairo_surface_flush(image);
  g.W = cairo_image_surface_get_width(image), g.H = cairo_image_surface_get_height(image);
  const unsigned char* d = cairo_image_surface_get_data(image);
  int stride = cairo_image_surface_get_stride(image);
  for (int y = 0; y < g.H; ++y)
    for (int x = 0; x < g.W; ++x) {
      uint32_t p;
      std::memcpy(&p, d + size_t(y) * size_t(stride) + size_t(x) * 4, 4);
      g.V.push_back(0.299 * (p >> 16 & 255) + 0.587 * (p >> 8 & 255) + 0.114 * (p & 255));
    }
  return g;
}

Grey ReadGrey(const std::string& pngPath) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, pngPath.c_str())) return {};
  img.format = PNG_FORMAT_GRAY;
  std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(img));
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&img, &white, bytes.data(), 0, nullptr)) return {};
  Grey g;
  g.W = int(img.width), g.H = int(img.height);
  g.V.assign(bytes.begin(), bytes.end());
  return g;
}

double Ssim(const Grey& a, const Grey& b, int x0, int y0, int x1, int y1) {
  if (a.W != b.W || a.H != b.H) return 0;
  const double c1 = 6.5025, c2 = 58.5225;
  x0 = std::max(0, x0), y0 = std::max(0, y0), x1 = std::min(a.W, x1), y1 = std::min(a.H, y1);
  double sum = 0;
  long n = 0;
  for (int y = y0; y + 7 <= y1; y += 2)
    for (int x = x0; x + 7 <= x1; x += 2) {
      double ma = 0, mb = 0, va = 0, vb = 0, cov = 0;
      for (int j = 0; j < 7; ++j)
        for (int i = 0; i < 7; ++i) ma += a.At(x + i, y + j), mb += b.At(x + i, y + j);
      ma /= 49, mb /= 49;
      for (int j = 0; j < 7; ++j)
        for (int i = 0; i < 7; ++i) {
          double da = a.At(x + i, y + j) - ma, db = b.At(x + i, y + j) - mb;
          va += da * da, vb += db * db, cov += da * db;
        }
      va /= 48, vb /= 48, cov /= 48;
      sum += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++n;
    }
  return n ? sum / double(n) : 0;
}

}  // namespace kxtest
