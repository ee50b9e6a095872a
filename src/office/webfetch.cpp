#include "office/webfetch.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "office/process.h"
#include "platform/fd.h"
#include "platform/trace.h"

namespace kx::office {

namespace {

std::mutex ReaderLock;
std::function<TkxWebLimits()> LimitsReader;

// What one transfer wrote, and why it stopped writing.
struct TkxSink {
  int Fd = -1;
  int64_t Written = 0;
  int64_t Max = 0;
  bool TooLarge = false;
  int WriteError = 0;
  std::string Status;  // the last status line the server sent
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<TkxSink*>(user);
  size_t n = size * count;
  if (sink->Written + int64_t(n) > sink->Max) {
    sink->TooLarge = true;
    return 0;  // the transfer ends with a write error
  }
  for (size_t done = 0; done < n;) {
    ssize_t w = write(sink->Fd, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      sink->WriteError = w < 0 ? errno : EIO;
      return 0;
    }
    done += size_t(w);
  }
  sink->Written += int64_t(n);
  return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<TkxSink*>(user);
  std::string line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    size_t code = line.find(' ');
    sink->Status = code == std::string::npos ? line : line.substr(code + 1);
    while (!sink->Status.empty() && (sink->Status.back() == '\r' || sink->Status.back() == '\n'))
      sink->Status.pop_back();
  }
  return size * count;
}

// "host:port" of an address, for "no connection to ...".
std::string HostAndPort(const std::string& address) {
  std::unique_ptr<CURLU, void (*)(CURLU*)> url(curl_url(), &curl_url_cleanup);
  char* host = nullptr;
  char* port = nullptr;
  std::string r;
  if (url && curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) == CURLUE_OK &&
      curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
      curl_url_get(url.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
    r = std::string(host) + ":" + port;
  curl_free(host);
  curl_free(port);
  return r;
}

}  // namespace

void SetWebLimitsReader(std::function<TkxWebLimits()> reader) {
  std::lock_guard<std::mutex> g(ReaderLock);
  LimitsReader = std::move(reader);
}

TkxWebLimits CurrentWebLimits() {
  std::function<TkxWebLimits()> reader;
  {
    std::lock_guard<std::mutex> g(ReaderLock);
    reader = LimitsReader;
  }
  return reader ? reader() : TkxWebLimits();
}

std::string ShownAddress(const std::string& address) {
  size_t scheme = address.find("://");
  if (scheme == std::string::npos) return address;
  size_t start = scheme + 3;
  size_t end = address.find_first_of("/?#", start);
  size_t at = address.rfind('@', end == std::string::npos ? std::string::npos : end);
  if (at == std::string::npos || at < start) return address;
  return address.substr(0, start) + address.substr(at + 1);
}

void FetchWebDocument(const std::string& address, const std::string& local, const TkxWebLimits& limits) {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::string shown = ShownAddress(address);
  UniqueFd fd(open(local.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd)
    throw EOfficeError{"The document at the web address " + shown +
                       " cannot be copied into the work folder: " + std::strerror(errno)};
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) throw EOfficeError{"The web address " + shown + " cannot be read: the transfer cannot be set up"};
  TkxSink sink;
  sink.Fd = fd.Get();
  sink.Max = int64_t(limits.MaxMegabytes) << 20;
  char error[CURL_ERROR_SIZE] = "";
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, address.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, limits.Redirects > 0 ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, long(limits.Redirects));
  curl_easy_setopt(c, CURLOPT_TIMEOUT, long(limits.Seconds));
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(sink.Max));
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(c, CURLOPT_USERAGENT, "Lumipix-Converter");
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &sink);
  auto started = std::chrono::steady_clock::now();
  CURLcode result = curl_easy_perform(c);
  long code = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  int closed = fd.Close();
  if (result == CURLE_OK && closed == 0) {
    if (TraceOn()) {
      char took[32];
      std::snprintf(took, sizeof took, "%.3f", seconds);
      Trace("web: " + shown + ": " + std::to_string(sink.Written) + " bytes in " + took + " s");
    }
    return;
  }
  unlink(local.c_str());
  std::string why;
  std::string limit = std::to_string(limits.MaxMegabytes);
  if (sink.TooLarge || result == CURLE_FILESIZE_EXCEEDED) {
    why = "The document at the web address " + shown + " is larger than the limit of " + limit +
          " MB (WebMaxSize=" + limit + ")";
  } else if (result == CURLE_OPERATION_TIMEDOUT) {
    std::string s = std::to_string(limits.Seconds);
    why = "The document at the web address " + shown + " did not arrive within the limit of " + s +
          " seconds (WebTimeout=" + s + ")";
  } else if (result == CURLE_TOO_MANY_REDIRECTS) {
    std::string n = std::to_string(limits.Redirects);
    why = "The web address " + shown + " redirects more often than the limit of " + n + " (WebRedirects=" + n + ")";
  } else if (result == CURLE_UNSUPPORTED_PROTOCOL) {
    why = "The web address " + shown + " redirects to an address that is neither http nor https";
  } else if (result == CURLE_HTTP_RETURNED_ERROR) {
    if (code == 404 || code == 410)
      why = "The web address " + shown + " has no document";
    else if (code == 401 || code == 403 || code == 407)
      why = "The web address " + shown + " refuses access to the document";
    else
      why = "The web address " + shown + " gives no document: the server answers " +
            (sink.Status.empty() ? std::to_string(code) : sink.Status);
  } else if (result == CURLE_COULDNT_CONNECT) {
    std::string where = HostAndPort(address);
    why = "The web address " + shown + " cannot be reached: no connection to " +
          (where.empty() ? std::string("its server") : where);
  } else if (result == CURLE_COULDNT_RESOLVE_HOST) {
    std::string where = HostAndPort(address);
    why = "The web address " + shown + " cannot be reached: the host name " + where.substr(0, where.rfind(':')) +
          " is unknown";
  } else if (sink.WriteError || closed) {
    why = "The document at the web address " + shown +
          " cannot be copied into the work folder: " + std::strerror(sink.WriteError ? sink.WriteError : closed);
  } else {
    // Whatever else curl met (a certificate, a broken connection): its own words.
    why = "The web address " + shown + " cannot be read: " + (*error ? std::string(error) : curl_easy_strerror(result));
  }
  Trace("web: " + why);
  throw EOfficeError{why};
}

}  // namespace kx::office
