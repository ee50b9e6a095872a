#pragma once
// Late-bound automation calls: creating a server object by class name, one call
// from its description, and the conversions applied to results.
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/automation.h"

namespace kx {

class EOleError : public std::runtime_error {
 public:
  EOleError(const std::string& message, HRESULT code) : std::runtime_error(message), Code(code) {}
  HRESULT Code;
};

// A failure the server described itself.
class EOleException : public EOleError {
 public:
  EOleException(const std::string& message, HRESULT code, std::string source, std::string helpFile, int helpContext)
      : EOleError(message, code), Source(std::move(source)), HelpFile(std::move(helpFile)), HelpContext(helpContext) {}
  std::string Source, HelpFile;
  int HelpContext;
};

// A variant that cannot take the asked type.
class EVariantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One argument of a call, as the call site declares it.
struct TkxOleArg {
  enum class Kind { Int, Bool, Text, Var, Omitted, IntRef, TextRef };
  Kind K = Kind::Omitted;
  int32_t I = 0;
  std::string S;
  Variant V;
  int32_t* IntPtr = nullptr;
  std::string* TextPtr = nullptr;

  static TkxOleArg Int(int32_t v) { return Make(Kind::Int, v); }
  static TkxOleArg Bool(bool v) { return Make(Kind::Bool, v ? -1 : 0); }
  static TkxOleArg Text(std::string s);
  static TkxOleArg Var(Variant v);
  static TkxOleArg Omitted() { return Make(Kind::Omitted, 0); }
  static TkxOleArg Ref(int32_t* p);
  static TkxOleArg Ref(std::string* p);

 private:
  static TkxOleArg Make(Kind k, int32_t v) {
    TkxOleArg a;
    a.K = k;
    a.I = v;
    return a;
  }
};

enum class TkxCallKind { Method, Put };

// The server object of a class name; raises "<system text>, ProgID: "<name>"".
Variant CreateOleObject(const std::string& className);

// One late-bound call. For Put, `args` holds the one value.
Variant OleInvoke(const Variant& target, TkxCallKind kind, const std::string& member, std::vector<TkxOleArg> args,
                  bool wantResult);
inline Variant OleGet(const Variant& target, const std::string& member, std::vector<TkxOleArg> args = {}) {
  return OleInvoke(target, TkxCallKind::Method, member, std::move(args), true);
}
inline void OleCall(const Variant& target, const std::string& member, std::vector<TkxOleArg> args = {}) {
  OleInvoke(target, TkxCallKind::Method, member, std::move(args), false);
}
inline void OlePut(const Variant& target, const std::string& member, TkxOleArg value) {
  OleInvoke(target, TkxCallKind::Put, member, {std::move(value)}, false);
}

bool IsNullRef(const Variant& v);  // holds no dispatch interface

// Conversions by the variant rules; they raise EVariantError.
int32_t VarToInt(const Variant& v);
bool VarToBool(const Variant& v);
std::string VarToStr(const Variant& v);
bool VarEqual(const Variant& a, const Variant& b);
int32_t VarIntDiv(const Variant& v, int32_t divisor);

}  // namespace kx
