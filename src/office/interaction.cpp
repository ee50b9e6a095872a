#include "office/interaction.h"

#include <com/sun/star/document/BrokenPackageRequest.hpp>
#include <com/sun/star/task/DocumentMSPasswordRequest.hpp>
#include <com/sun/star/task/DocumentMSPasswordRequest2.hpp>
#include <com/sun/star/task/DocumentPasswordRequest.hpp>
#include <com/sun/star/task/DocumentPasswordRequest2.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/ucb/InteractiveIOException.hpp>
#include <com/sun/star/ucb/InteractiveNetworkConnectException.hpp>
#include <com/sun/star/ucb/InteractiveNetworkException.hpp>
#include <com/sun/star/ucb/InteractiveNetworkResolveNameException.hpp>

#include "office/document.h"
#include "platform/trace.h"

namespace kx::office {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;

namespace {

std::string ToUtf8(const rtl::OUString& s) { return rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr(); }

// The mode of a password request; false when the request is not one.
bool PasswordMode(const Any& what, css::task::PasswordRequestMode& mode) {
  css::task::DocumentPasswordRequest2 p2;
  css::task::DocumentPasswordRequest p1;
  css::task::DocumentMSPasswordRequest2 m2;
  css::task::DocumentMSPasswordRequest m1;
  if (what >>= p2)
    mode = p2.Mode;
  else if (what >>= p1)
    mode = p1.Mode;
  else if (what >>= m2)
    mode = m2.Mode;
  else if (what >>= m1)
    mode = m1.Mode;
  else
    return false;
  return true;
}

// What went wrong on the network, in words; empty for what is no network failure.
std::string NetworkFailure(const Any& what) {
  css::ucb::InteractiveNetworkConnectException connect;
  css::ucb::InteractiveNetworkResolveNameException resolve;
  css::ucb::InteractiveNetworkException other;
  if (what >>= connect) return "no connection to " + (connect.Server.isEmpty() ? "its server" : ToUtf8(connect.Server));
  if (what >>= resolve) return "the host name " + ToUtf8(resolve.Server) + " is unknown";
  if (what >>= other) {
    // The web server's answer ("HTTP/1.1 404 Not Found") is in the message, if anywhere.
    std::string text = ToUtf8(other.Message);
    size_t at = text.find("HTTP/");
    size_t code = at == std::string::npos ? at : text.find(' ', at);
    if (code == std::string::npos) return "the connection failed";
    std::string answer = text.substr(code + 1, text.find_first_of("\r\n", code) - code - 1);
    if (size_t where = answer.find(" at ./"); where != std::string::npos) answer.resize(where);
    return "the server answers " + answer;
  }
  return "";
}

// The office's own words with a request: its message without the source location
// it appends (" at ./sfx2/source/appl/appuno.cxx:1812"); often there are none.
std::string WordsOf(const Any& what) {
  css::uno::Exception e;
  std::string words;
  if (what >>= e) words = ToUtf8(e.Message);
  if (size_t at = words.rfind(" at ./"); at != std::string::npos) words.resize(at);
  if (words.rfind("at ./", 0) == 0) words.clear();
  return words;
}

}  // namespace

void TkxDecliner::handle(const Reference<css::task::XInteractionRequest>& request) {
  Any what = request->getRequest();
  std::string words = WordsOf(what);
  Trace("document: the office asks " + ToUtf8(what.getValueTypeName()) + (words.empty() ? "" : " (" + words + ")") +
        "; declined");
  if (!words.empty()) {
    std::lock_guard<std::mutex> g(FLock);
    FSaid = words;
  }
  css::task::PasswordRequestMode mode = css::task::PasswordRequestMode_PASSWORD_ENTER;
  css::ucb::InteractiveIOException io;
  css::document::BrokenPackageRequest broken;
  std::string network = NetworkFailure(what);
  if (PasswordMode(what, mode))
    Note(mode == css::task::PasswordRequestMode_PASSWORD_REENTER ? TRequest::WrongPassword : TRequest::PasswordNeeded,
         css::ucb::IOErrorCode_GENERAL, "");
  else if (what >>= broken)
    Note(TRequest::BrokenPackage, css::ucb::IOErrorCode_GENERAL, "");
  else if (!network.empty())
    Note(TRequest::Network, css::ucb::IOErrorCode_GENERAL, network);
  else if (what >>= io)
    Note(TRequest::Io, io.Code, "");
  else
    Note(TRequest::Other, css::ucb::IOErrorCode_GENERAL, "");
  const auto conts = request->getContinuations();
  for (const auto& c : conts) {
    Reference<css::task::XInteractionAbort> abort(c, UNO_QUERY);
    if (abort.is()) {
      abort->select();
      return;
    }
  }
}

void TkxDecliner::Note(TRequest kind, css::ucb::IOErrorCode code, const std::string& detail) {
  std::lock_guard<std::mutex> g(FLock);
  if (kind <= FSeen) return;
  FSeen = kind;
  FCode = code;
  FDetail = detail;
}

std::string TkxDecliner::Said() const {
  std::lock_guard<std::mutex> g(FLock);
  return FSaid;
}

TRequest TkxDecliner::Seen() const {
  std::lock_guard<std::mutex> g(FLock);
  return FSeen;
}

std::string TkxDecliner::Reason(const std::string& source, bool web) const {
  std::lock_guard<std::mutex> g(FLock);
  if (FSeen == TRequest::Network)
    return "The web address " + source +
           (FDetail.rfind("the server", 0) == 0 ? " gives no document: " : " cannot be reached: ") + FDetail;
  if (FSeen != TRequest::Io) return web ? "The web address " + source + " gives no document that can be opened" : "";
  switch (FCode) {
    case css::ucb::IOErrorCode_ACCESS_DENIED:
    case css::ucb::IOErrorCode_LOCKING_VIOLATION:
      return web ? "The web address " + source + " refuses access to the document" : kMsgNoAccess;
    case css::ucb::IOErrorCode_NOT_EXISTING:
    case css::ucb::IOErrorCode_NOT_EXISTING_PATH:
    case css::ucb::IOErrorCode_NO_FILE: return web ? "The web address " + source + " has no document" : kMsgNotFound;
    case css::ucb::IOErrorCode_OUT_OF_MEMORY: return "The document needs more memory than the word processor may use";
    case css::ucb::IOErrorCode_OUT_OF_DISK_SPACE: return "The disk of the word processor's work files is full";
    default:  // a file that cannot be read as what it claims to be
      return web ? "The document at the web address " + source + " cannot be read" : "";
  }
}

}  // namespace kx::office
