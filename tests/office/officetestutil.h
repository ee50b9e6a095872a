#pragma once
// Helpers of the office tests: a web server on 127.0.0.1 that counts who comes, a
// watch on a file that counts who opens or reads it, .docx files made by hand,
// documents LibreOffice makes for the tests, and pages compared as poppler draws them.
#include <cairo.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kxtest {

class LocalServer {
 public:
  LocalServer();  // listens on 127.0.0.1 at a free port
  ~LocalServer();
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;
  int Port() const { return FPort; }
  std::string Url(const std::string& path) const;  // "http://127.0.0.1:<port>" + path
  void Serve(const std::string& path, const std::string& body);
  // A 302 answer that sends the client on to `location`.
  void Redirect(const std::string& path, const std::string& location);
  // A body that never ends, sent as fast as the client takes it.
  void Endless(const std::string& path);
  // A few bytes of a longer body, then nothing until the client gives up.
  void Stall(const std::string& path);
  int Connections() const { return FConnections; }

 private:
  enum class TKind { Redirect, Endless, Stall };
  void Loop();
  void Answer(int fd);
  void Special(int fd, TKind kind, const std::string& text);
  int FListen = -1;
  int FPort = 0;
  std::atomic<int> FConnections{0};
  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::map<std::string, std::string> FFiles;
  std::map<std::string, std::pair<TKind, std::string>> FSpecial;
  std::thread FThread;
};

// Counts the times a file is opened or read from now on (inotify).
class FileWatch {
 public:
  explicit FileWatch(const std::string& path);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;
  int Events();

 private:
  int FFd = -1;
  int FCount = 0;
};

// A zip archive of the given parts, deflated.
std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& parts);
// A .docx whose body is `bodyXml` (WordprocessingML paragraphs).
std::string DocxOf(const std::string& bodyXml);

// The path of a document LibreOffice made from HTML for this run (tests/testlib.sh,
// once a run): "one.doc", "two.docx", "three.doc"... with that many A4 pages.
std::string MadeDocument(const std::string& name);

// A page's pixels as grey levels.
struct Grey {
  int W = 0, H = 0;
  std::vector<double> V;
  double At(int x, int y) const { return V[size_t(y) * size_t(W) + size_t(x)]; }
};
Grey GreyOf(cairo_surface_t* image);
Grey ReadGrey(const std::string& pngPath);  // empty when it cannot be read
// SSIM of two equally sized pages over the box [x0, x1) x [y0, y1), 7 x 7 windows every
// 2 pixels, flat windows included: a colour that differs lowers it too. 0 for pages of
// different sizes.
double Ssim(const Grey& a, const Grey& b, int x0, int y0, int x1, int y1);
inline double Ssim(const Grey& a, const Grey& b) { return Ssim(a, b, 0, 0, a.W, a.H); }

}  // namespace kxtest
