#pragma once
// Automation in place of COM: a process-wide registry of automation classes, the
// dispatch interface with late-bound calls, variants, and the system texts of the
// codes this layer produces.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kx {

using HRESULT = int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOTIMPL = int32_t(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = int32_t(0x80004002);
inline constexpr HRESULT E_FAIL = int32_t(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = int32_t(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = int32_t(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = int32_t(0x80070057);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = int32_t(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = int32_t(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = int32_t(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = int32_t(0x80020006);
inline constexpr HRESULT DISP_E_EXCEPTION = int32_t(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = int32_t(0x8002000A);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = int32_t(0x8002000E);
inline constexpr HRESULT CO_E_CLASSSTRING = int32_t(0x800401F3);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = int32_t(0x80080005);
inline constexpr HRESULT RPC_E_DISCONNECTED = int32_t(0x80010108);

enum : uint16_t {
  DISPATCH_METHOD = 1,
  DISPATCH_PROPERTYGET = 2,
  DISPATCH_PROPERTYPUT = 4,
  DISPATCH_PROPERTYPUTREF = 8,
};
inline constexpr int32_t DISPID_PROPERTYPUT = -3;

class IDispatch;

enum class VarType { Empty, Null, Int, Bool, String, Dispatch, Error, Bytes, IntRef, StringRef, VariantRef };

struct Variant {
  VarType Type = VarType::Empty;
  int32_t Int = 0;  // Int, Bool (true = -1) and Error (the code)
  std::u16string Str;
  std::shared_ptr<IDispatch> Disp;
  std::vector<uint8_t> Bytes;
  int32_t* IntRef = nullptr;
  std::u16string* StrRef = nullptr;
  Variant* VarRef = nullptr;

  static Variant Null() { return Make(VarType::Null); }
  static Variant FromInt(int32_t v);
  static Variant FromBool(bool v);
  static Variant FromString(std::u16string s);
  static Variant FromUtf8(const std::string& s);
  static Variant FromDispatch(std::shared_ptr<IDispatch> d);
  static Variant FromBytes(std::vector<uint8_t> b);
  static Variant Omitted();  // the error value DISP_E_PARAMNOTFOUND: an argument not given
  static Variant RefTo(int32_t* p);
  static Variant RefTo(std::u16string* p);
  static Variant RefTo(Variant* p);

  bool IsOmitted() const { return Type == VarType::Error && Int == DISP_E_PARAMNOTFOUND; }
  // The value a by-reference variant points at (itself otherwise).
  Variant Deref() const;

 private:
  static Variant Make(VarType t) {
    Variant v;
    v.Type = t;
    return v;
  }
};

struct ExcepInfo {
  HRESULT Code = 0;
  std::u16string Source, Description, HelpFile;
  int32_t HelpContext = 0;
};

struct DispParams {
  std::vector<Variant> Args;       // positional arguments, the last one first
  std::vector<int32_t> NamedArgs;  // dispatch ids of the first NamedArgs.size() entries
};

class IDispatch {
 public:
  virtual ~IDispatch() = default;
  virtual HRESULT GetIDsOfNames(const std::u16string& name, int32_t& dispId) = 0;
  virtual HRESULT Invoke(int32_t dispId, uint16_t flags, DispParams& params, Variant* result, ExcepInfo* excep) = 0;
};

// Raised inside a TkxDispatchObject member: becomes DISP_E_EXCEPTION with this description.
struct EAutomationFault {
  std::string Description;
};

// A dispatch object with a fixed table of member names (letter case ignored).
// Members receive their arguments in natural order.
class TkxDispatchObject : public IDispatch {
 public:
  explicit TkxDispatchObject(std::vector<std::string> members, std::string source = "");
  HRESULT GetIDsOfNames(const std::u16string& name, int32_t& dispId) override;
  HRESULT Invoke(int32_t dispId, uint16_t flags, DispParams& params, Variant* result, ExcepInfo* excep) override;

 protected:
  // `id` indexes the member table. Returning a code other than S_OK fails the call;
  // throwing EAutomationFault fails it with an exception record.
  virtual HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) = 0;

 private:
  std::vector<std::string> FMembers;
  std::string FSource;
};

using TkxAutomationFactory = std::function<HRESULT(std::shared_ptr<IDispatch>& out)>;
void RegisterAutomationClass(const std::string& className, TkxAutomationFactory factory);
void UnregisterAutomationClass(const std::string& className);
// CO_E_CLASSSTRING for an unknown name; otherwise the factory's code.
HRESULT CreateAutomationObject(const std::string& className, std::shared_ptr<IDispatch>& out);

// The system's text for a code, "" when the table has none.
std::string SysErrorMessage(HRESULT code);
// Per-thread initialisation of the automation runtime (nothing to do here).
inline void CoInitialize() {}

}  // namespace kx
