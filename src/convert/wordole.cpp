#include "convert/wordole.h"

#include "core/infoslot.h"
#include "core/project.h"
#include "core/strlist.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kx {

// Sent with "SkipPassword": a protected document then fails at once instead of asking.
static const char* const kDummyPassword = "*";

// A plain decimal integer (optional sign), 0 when the text is not one.
static int32_t DecimalOrZero(const std::string& s) {
  size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
  if (i >= s.size()) return 0;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return 0;
    v = v * 10 + (s[i] - '0');
    if (v > 2147483647LL) return 0;
  }
  return int32_t(s[0] == '-' ? -v : v);
}

// A document given by a web address is opened from there: the word processor fetches it.
static bool IsWebAddress(const std::string& path) {
  std::string head = LowerAscii(path.substr(0, 8));
  return head.rfind("http://", 0) == 0 || head.rfind("https://", 0) == 0;
}

int32_t VersionNumber(const Variant& value) {
  int32_t n;
  try {
    n = VarIntDiv(value, 1);
  } catch (...) {
    std::string text;
    try {
      text = VarToStr(value);
    } catch (...) {
    }
    n = DecimalOrZero(ReplaceFirst(text, ".", ""));
  }
  if (n > 77) n /= 10;
  return n;
}

TkxWordOle::TkxWordOle(TkxBatch* batch, const TkxNodeEvent& onNodeDone, int threadsLeft)
    : TkxConvertor(batch, onNodeDone, threadsLeft) {
  FApp = Variant::Null();
  FDoc = Variant::Null();
}

TkxWordOle::~TkxWordOle() { QuitServer(); }

bool TkxWordOle::GetReadOnly() const { return ReadBool(Project->GetOption("ReadOnly"), false); }
bool TkxWordOle::GetSkipPassword() const { return ReadBool(Project->GetOption("SkipPassword"), false); }

void TkxWordOle::StartServer() {
  try {
    CoInitialize();
    FApp = CreateOleObject(kWordApplication);
  } catch (...) {
    CoInitialize();
    FApp = CreateOleObject("WPS.Application");
  }
  try {
    FServerVersion = VersionNumber(OleGet(FApp, "Version"));
    if (Info) Info->Count("W", FServerVersion, 1);
  } catch (...) {
  }
  if (ReadBool(Project->GetOption("AppVisible"), false)) {
    OlePut(FApp, "Visible", TkxOleArg::Bool(true));
    OlePut(FApp, "WindowState", TkxOleArg::Int(2));
  }
  try {
    OlePut(FApp, "DisplayAlerts", TkxOleArg::Int(0));
  } catch (...) {
  }
}

void TkxWordOle::OpenDocument(const std::string& path) {
  if (IsNullRef(FApp)) StartServer();
  if (!IsNullRef(FDoc)) return;
  bool exists = FileExists(path) || IsWebAddress(path);
  if (exists && GetSkipPassword()) {
    Variant docs = OleGet(FApp, "Documents");
    FDoc = OleGet(docs, "Open",
                  {TkxOleArg::Text(path), TkxOleArg::Omitted(), TkxOleArg::Bool(GetReadOnly()), TkxOleArg::Omitted(),
                   TkxOleArg::Text(kDummyPassword)});
  } else if (exists) {
    Variant docs = OleGet(FApp, "Documents");
    FDoc = OleGet(docs, "Open", {TkxOleArg::Text(path), TkxOleArg::Omitted(), TkxOleArg::Bool(GetReadOnly())});
  } else {
    Variant docs = OleGet(FApp, "Documents");
    FDoc = OleGet(docs, "Add", {TkxOleArg::Omitted()});
  }
  try {
    OlePut(OleGet(FApp, "Options"), "UpdateFieldsAtPrint", TkxOleArg::Bool(false));
    OlePut(OleGet(FApp, "Options"), "UpdateLinksAtPrint", TkxOleArg::Bool(false));
  } catch (...) {
  }
}

void TkxWordOle::CloseDocument() {
  try {
    if (!IsNullRef(FDoc)) OleCall(FDoc, "Close", {TkxOleArg::Bool(false)});
  } catch (...) {
  }
  FDoc = Variant::Null();
}

void TkxWordOle::QuitServer() {
  try {
    if (!IsNullRef(FApp)) OleCall(FApp, "Quit", {TkxOleArg::Bool(false)});
  } catch (...) {
  }
  FApp = Variant::Null();
}

bool TkxWordOle::HasMacros() {
  if (FServerVersion >= 12) {
    try {
      return VarToBool(OleGet(FDoc, "HasVBProject"));
    } catch (...) {
    }
  }
  return TkxConvertor::HasMacros();
}

std::string TkxWordOle::GetServerExe() { return VarToStr(OleGet(FApp, "Path")) + "/soffice"; }

}  // namespace kx
