#include "convert/olecall.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/text.h"

namespace kx {

TkxOleArg TkxOleArg::Text(std::string s) {
  TkxOleArg a = Make(Kind::Text, 0);
  a.S = std::move(s);
  return a;
}
TkxOleArg TkxOleArg::Var(Variant v) {
  TkxOleArg a = Make(Kind::Var, 0);
  a.V = std::move(v);
  return a;
}
TkxOleArg TkxOleArg::Ref(int32_t* p) {
  TkxOleArg a = Make(Kind::IntRef, 0);
  a.IntPtr = p;
  return a;
}
TkxOleArg TkxOleArg::Ref(std::string* p) {
  TkxOleArg a = Make(Kind::TextRef, 0);
  a.TextPtr = p;
  return a;
}

static std::string CodeText(HRESULT code) {
  std::string t = SysErrorMessage(code);
  if (!t.empty()) return t;
  char buf[32];
  std::snprintf(buf, sizeof buf, "OLE error %.8x", unsigned(code));
  return buf;
}

Variant CreateOleObject(const std::string& className) {
  CoInitialize();
  std::shared_ptr<IDispatch> d;
  HRESULT hr = CreateAutomationObject(className, d);
  if (hr != S_OK) throw EOleError(CodeText(hr) + ", ProgID: \"" + className + "\"", hr);
  return Variant::FromDispatch(std::move(d));
}

bool IsNullRef(const Variant& v) {
  Variant d = v.Deref();
  return d.Type != VarType::Dispatch || !d.Disp;
}

// The server's description without trailing spaces, control characters and periods.
static std::string TrimDescription(std::string s) {
  while (!s.empty() && (static_cast<unsigned char>(s.back()) <= ' ' || s.back() == '.')) s.pop_back();
  return s;
}

Variant OleInvoke(const Variant& target, TkxCallKind kind, const std::string& member, std::vector<TkxOleArg> args,
                  bool wantResult) {
  if (args.size() > 64) throw EOleError("Dispatch methods do not support more than 64 parameters", E_INVALIDARG);
  Variant t = target.Deref();
  if (t.Type != VarType::Dispatch || !t.Disp)
    throw EOleError("Variant does not reference an automation object", DISP_E_TYPEMISMATCH);
  IDispatch& disp = *t.Disp;

  int32_t id = 0;
  HRESULT hr = disp.GetIDsOfNames(Utf8ToUtf16(member), id);
  if (hr == DISP_E_UNKNOWNNAME) throw EOleError("Method '" + member + "' not supported by automation object", hr);
  if (hr != S_OK) throw EOleError(CodeText(hr), hr);

  // Automation strings for text passed by reference; written back after the call.
  std::vector<std::u16string> refStrings(args.size());
  DispParams params;
  params.Args.reserve(args.size());
  for (size_t k = args.size(); k-- > 0;) {
    TkxOleArg& a = args[k];
    switch (a.K) {
      case TkxOleArg::Kind::Omitted: params.Args.push_back(Variant::Omitted()); break;
      case TkxOleArg::Kind::Text: params.Args.push_back(Variant::FromUtf8(a.S)); break;
      case TkxOleArg::Kind::TextRef:
        refStrings[k] = a.TextPtr ? Utf8ToUtf16(*a.TextPtr) : std::u16string();
        params.Args.push_back(Variant::RefTo(&refStrings[k]));
        break;
      case TkxOleArg::Kind::Int: params.Args.push_back(Variant::FromInt(a.I)); break;
      case TkxOleArg::Kind::Bool: params.Args.push_back(Variant::FromBool(a.I != 0)); break;
      case TkxOleArg::Kind::Var: params.Args.push_back(a.V); break;
      case TkxOleArg::Kind::IntRef: params.Args.push_back(Variant::RefTo(a.IntPtr)); break;
    }
  }

  uint16_t flags;
  if (kind == TkxCallKind::Put) {
    params.NamedArgs.push_back(DISPID_PROPERTYPUT);
    bool byRef = !params.Args.empty() && params.Args[0].Type == VarType::Dispatch;
    flags = byRef ? uint16_t(DISPATCH_PROPERTYPUTREF) : uint16_t(DISPATCH_PROPERTYPUT);
  } else {
    flags = (args.empty() && wantResult) ? uint16_t(DISPATCH_METHOD | DISPATCH_PROPERTYGET) : uint16_t(DISPATCH_METHOD);
  }

  Variant result;
  ExcepInfo excep;
  hr = disp.Invoke(id, flags, params, wantResult ? &result : nullptr, &excep);
  for (size_t k = 0; k < args.size(); ++k)
    if (args[k].K == TkxOleArg::Kind::TextRef && args[k].TextPtr) *args[k].TextPtr = Utf16ToUtf8(refStrings[k]);
  if (hr == DISP_E_EXCEPTION)
    throw EOleException(TrimDescription(Utf16ToUtf8(excep.Description)), excep.Code ? excep.Code : hr,
                        Utf16ToUtf8(excep.Source), Utf16ToUtf8(excep.HelpFile), excep.HelpContext);
  if (hr != S_OK) throw EOleError(CodeText(hr), hr);
  return result;
}

static const char* TypeName(VarType t) {
  switch (t) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Int: return "Integer";
    case VarType::Bool: return "Boolean";
    case VarType::String: return "String";
    case VarType::Dispatch: return "Dispatch";
    case VarType::Error: return "Error";
    case VarType::Bytes: return "Array Byte";
    default: return "Unknown";
  }
}

[[noreturn]] static void CannotConvert(VarType from, const char* to) {
  throw EVariantError(std::string("Could not convert variant of type (") + TypeName(from) + ") into type (" + to + ")");
}

// A number in the "C" locale, fraction allowed, surrounding blanks ignored.
static bool ParseNumber(const std::string& s, double& out) {
  const char* b = s.c_str();
  while (*b == ' ') ++b;
  if (!*b) return false;
  char* end = nullptr;
  out = std::strtod(b, &end);
  while (end && *end == ' ') ++end;
  return end && *end == 0 && std::isfinite(out);
}

int32_t VarToInt(const Variant& value) {
  Variant v = value.Deref();
  switch (v.Type) {
    case VarType::Empty: return 0;
    case VarType::Int:
    case VarType::Bool: return v.Int;
    case VarType::String: {
      double d;
      if (!ParseNumber(Utf16ToUtf8(v.Str), d) || d < -2147483648.0 || d > 2147483647.0)
        CannotConvert(v.Type, "Integer");
      return int32_t(std::nearbyint(d));
    }
    default: CannotConvert(v.Type, "Integer");
  }
}

bool VarToBool(const Variant& value) {
  Variant v = value.Deref();
  switch (v.Type) {
    case VarType::Empty: return false;
    case VarType::Int:
    case VarType::Bool: return v.Int != 0;
    case VarType::String: {
      std::string s = Utf16ToUtf8(v.Str);
      if (SameText(s, "True")) return true;
      if (SameText(s, "False")) return false;
      double d;
      if (ParseNumber(s, d)) return d != 0;
      CannotConvert(v.Type, "Boolean");
    }
    default: CannotConvert(v.Type, "Boolean");
  }
}

std::string VarToStr(const Variant& value) {
  Variant v = value.Deref();
  switch (v.Type) {
    case VarType::Empty:
    case VarType::Null: return "";
    case VarType::Int: return std::to_string(v.Int);
    case VarType::Bool: return v.Int ? "True" : "False";
    case VarType::String: return Utf16ToUtf8(v.Str);
    default: CannotConvert(v.Type, "String");
  }
}

bool VarEqual(const Variant& a, const Variant& b) {
  Variant x = a.Deref(), y = b.Deref();
  if (x.Type == VarType::String && y.Type == VarType::String) return x.Str == y.Str;
  return VarToInt(x) == VarToInt(y);
}

int32_t VarIntDiv(const Variant& value, int32_t divisor) {
  if (divisor == 0) throw EVariantError("Division by zero");
  Variant v = value.Deref();
  int64_t n;
  if (v.Type == VarType::String) {
    double d;
    if (!ParseNumber(Utf16ToUtf8(v.Str), d) || d < -9e18 || d > 9e18) CannotConvert(v.Type, "Int64");
    n = int64_t(std::nearbyint(d));
  } else {
    n = VarToInt(v);
  }
  return int32_t(n / divisor);
}

}  // namespace kx
