#pragma once
// The questions the office asks while it loads a document. Every one is declined, so
// that loading never waits for a person; what was asked tells why a load failed.
#include <mutex>
#include <string>

#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/ucb/IOErrorCode.hpp>
#include <cppuhelper/implbase1.hxx>

namespace kx::office {

namespace css = com::sun::star;

// In rising weight: a load remembers the weightiest request it saw.
enum class TRequest { None, Other, Io, Network, BrokenPackage, PasswordNeeded, WrongPassword };

class TkxDecliner : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
 public:
  void SAL_CALL handle(const css::uno::Reference<css::task::XInteractionRequest>& request) override;
  TRequest Seen() const;
  // Why the load of `source` (a path or a web address) gave no document, as a sentence
  // for a person; empty when nothing asked says more than that the file is damaged.
  std::string Reason(const std::string& source, bool web) const;
  // The office's own words with the last request that had any; "" when none did.
  std::string Said() const;

 private:
  void Note(TRequest kind, css::ucb::IOErrorCode code, const std::string& detail);

  mutable std::mutex FLock;
  TRequest FSeen = TRequest::None;
  css::ucb::IOErrorCode FCode = css::ucb::IOErrorCode_GENERAL;
  std::string FDetail;  // what went wrong on the network, in words
  std::string FSaid;
};

}  // namespace kx::office
