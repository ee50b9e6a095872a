#include "convert/fakeserver.h"

#include "platform/text.h"

namespace kxtest {

using namespace kx;

std::string Describe(const Variant& v) {
  switch (v.Type) {
    case VarType::Empty: return "empty";
    case VarType::Null: return "null";
    case VarType::Int: return std::to_string(v.Int);
    case VarType::Bool: return v.Int ? "true" : "false";
    case VarType::String: return "\"" + Utf16ToUtf8(v.Str) + "\"";
    case VarType::Dispatch: return "dispatch";
    case VarType::Error: return v.IsOmitted() ? "omitted" : "error";
    case VarType::Bytes: return "bytes" + std::to_string(v.Bytes.size());
    case VarType::IntRef: return "&" + std::to_string(*v.IntRef);
    case VarType::StringRef: return "&\"" + Utf16ToUtf8(*v.StrRef) + "\"";
    case VarType::VariantRef: return "&" + Describe(*v.VarRef);
  }
  return "?";
}

HRESULT FakeServer::GetIDsOfNames(const std::u16string& name, int32_t& id) {
  ++Lookups;
  std::string n = Utf16ToUtf8(name);
  if (Unknown.count(n)) return DISP_E_UNKNOWNNAME;
  for (size_t i = 0; i < FNames.size(); ++i)
    if (SameText(FNames[i], n)) {
      id = int32_t(i);
      return S_OK;
    }
  FNames.push_back(n);
  id = int32_t(FNames.size() - 1);
  return S_OK;
}

HRESULT FakeServer::Invoke(int32_t id, uint16_t flags, DispParams& params, Variant* result, ExcepInfo* e) {
  const std::string& name = FNames.at(size_t(id));
  std::string kind = (flags & DISPATCH_PROPERTYPUT) || (flags & DISPATCH_PROPERTYPUTREF) ? "put" : "call";
  std::string text = Prefix + name + "[" + kind + "](";
  for (size_t i = params.Args.size(); i-- > 0;) {
    text += Describe(params.Args[i]);
    if (i) text += ",";
  }
  Log->Calls.push_back(text + ")");
  Log->Raw.push_back(params);
  Log->Flags.push_back(flags);
  if (auto it = WriteIntRef.find(name); it != WriteIntRef.end())
    for (auto& a : params.Args)
      if (a.Type == VarType::IntRef) *a.IntRef = it->second;
  if (auto it = WriteStrRef.find(name); it != WriteStrRef.end())
    for (auto& a : params.Args)
      if (a.Type == VarType::StringRef) *a.StrRef = it->second;
  if (auto it = Faults.find(name); it != Faults.end()) {
    e->Description = Utf8ToUtf16(it->second);
    e->Source = u"Fake";
    e->HelpFile = u"fake.hlp";
    e->HelpContext = 7;
    return DISP_E_EXCEPTION;
  }
  if (auto it = Codes.find(name); it != Codes.end()) return it->second;
  if (result) {
    auto it = Results.find(name);
    *result = it == Results.end() ? Variant() : it->second;
  }
  return S_OK;
}

}  // namespace kxtest
