#include "platform/automation.h"

#include <map>
#include <mutex>

#include "platform/text.h"

namespace kx {

Variant Variant::FromInt(int32_t v) {
  Variant r = Make(VarType::Int);
  r.Int = v;
  return r;
}
Variant Variant::FromBool(bool v) {
  Variant r = Make(VarType::Bool);
  r.Int = v ? -1 : 0;
  return r;
}
Variant Variant::FromString(std::u16string s) {
  Variant r = Make(VarType::String);
  r.Str = std::move(s);
  return r;
}
Variant Variant::FromUtf8(const std::string& s) { return FromString(Utf8ToUtf16(s)); }
Variant Variant::FromDispatch(std::shared_ptr<IDispatch> d) {
  Variant r = Make(d ? VarType::Dispatch : VarType::Null);
  r.Disp = std::move(d);
  return r;
}
Variant Variant::FromBytes(std::vector<uint8_t> b) {
  Variant r = Make(VarType::Bytes);
  r.Bytes = std::move(b);
  return r;
}
Variant Variant::Omitted() {
  Variant r = Make(VarType::Error);
  r.Int = DISP_E_PARAMNOTFOUND;
  return r;
}
Variant Variant::RefTo(int32_t* p) {
  Variant r = Make(VarType::IntRef);
  r.IntRef = p;
  return r;
}
Variant Variant::RefTo(std::u16string* p) {
  Variant r = Make(VarType::StringRef);
  r.StrRef = p;
  return r;
}
Variant Variant::RefTo(Variant* p) {
  Variant r = Make(VarType::VariantRef);
  r.VarRef = p;
  return r;
}

Variant Variant::Deref() const {
  switch (Type) {
    case VarType::IntRef: return IntRef ? FromInt(*IntRef) : Variant();
    case VarType::StringRef: return StrRef ? FromString(*StrRef) : Variant();
    case VarType::VariantRef: return VarRef ? VarRef->Deref() : Variant();
    default: return *this;
  }
}

TkxDispatchObject::TkxDispatchObject(std::vector<std::string> members, std::string source)
    : FMembers(std::move(members)), FSource(std::move(source)) {}

HRESULT TkxDispatchObject::GetIDsOfNames(const std::u16string& name, int32_t& dispId) {
  std::string n = Utf16ToUtf8(name);
  for (size_t i = 0; i < FMembers.size(); ++i)
    if (SameText(FMembers[i], n)) {
      dispId = int32_t(i);
      return S_OK;
    }
  return DISP_E_UNKNOWNNAME;
}

HRESULT TkxDispatchObject::Invoke(int32_t dispId, uint16_t flags, DispParams& params, Variant* result,
                                  ExcepInfo* excep) {
  if (dispId < 0 || size_t(dispId) >= FMembers.size()) return DISP_E_MEMBERNOTFOUND;
  std::vector<Variant> args(params.Args.rbegin(), params.Args.rend());
  Variant r;
  try {
    HRESULT hr = Call(dispId, flags, args, r);
    if (hr != S_OK) return hr;
  } catch (const EAutomationFault& f) {
    if (excep) {
      excep->Code = DISP_E_EXCEPTION;
      excep->Source = Utf8ToUtf16(FSource);
      excep->Description = Utf8ToUtf16(f.Description);
    }
    return DISP_E_EXCEPTION;
  } catch (...) {
    return E_UNEXPECTED;  // nothing escapes the dispatch boundary
  }
  // By-reference arguments the member changed are written back through their pointers.
  for (size_t i = 0; i < args.size(); ++i) {
    Variant& original = params.Args[args.size() - 1 - i];
    if (original.Type == VarType::VariantRef && original.VarRef && args[i].Type != VarType::VariantRef)
      *original.VarRef = args[i];
  }
  if (result) *result = std::move(r);
  return S_OK;
}

namespace {
std::mutex RegistryLock;
std::map<std::string, TkxAutomationFactory>& Classes() {
  static std::map<std::string, TkxAutomationFactory> m;
  return m;
}
}  // namespace

void RegisterAutomationClass(const std::string& className, TkxAutomationFactory factory) {
  std::lock_guard<std::mutex> g(RegistryLock);
  Classes()[LowerAscii(className)] = std::move(factory);
}

void UnregisterAutomationClass(const std::string& className) {
  std::lock_guard<std::mutex> g(RegistryLock);
  Classes().erase(LowerAscii(className));
}

HRESULT CreateAutomationObject(const std::string& className, std::shared_ptr<IDispatch>& out) {
  TkxAutomationFactory f;
  {
    std::lock_guard<std::mutex> g(RegistryLock);
    auto it = Classes().find(LowerAscii(className));
    if (it == Classes().end()) return CO_E_CLASSSTRING;
    f = it->second;
  }
  try {
    HRESULT hr = f(out);
    if (hr == S_OK && !out) return E_NOINTERFACE;
    return hr;
  } catch (...) {
    // The boundary passes a code and nothing else; a server whose reason must be read
    // raises it from its first call instead (the office starts on first use).
    return CO_E_SERVER_EXEC_FAILURE;
  }
}

std::string SysErrorMessage(HRESULT code) {
  switch (uint32_t(code)) {
    case 0x80004001: return "Not implemented";
    case 0x80004002: return "No such interface supported";
    case 0x80004005: return "Unspecified error";
    case 0x8000FFFF: return "Catastrophic failure";
    case 0x8007000E: return "Not enough storage is available to complete this operation";
    case 0x80070057: return "The parameter is incorrect";
    case 0x80020003: return "Member not found";
    case 0x80020004: return "Parameter not found";
    case 0x80020005: return "Type mismatch";
    case 0x80020006: return "Unknown name";
    case 0x80020009: return "Exception occurred";
    case 0x8002000A: return "Out of present range";
    case 0x8002000E: return "Invalid number of parameters";
    case 0x800401F3: return "Invalid class string";
    case 0x80080005: return "Server execution failed";
    case 0x80010108: return "The object invoked has disconnected from its clients";
    default: return "";
  }
}

}  // namespace kx
