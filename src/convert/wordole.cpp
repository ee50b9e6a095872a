#include "convert/wordole.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "convert/wordconst.h"
#include "core/infoslot.h"
#include "core/project.h"
#include "core/strlist.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

namespace {

constexpr const char* kLinkPrefix = "lumipix-links-";

std::string TempRoot() {
  const char* t = std::getenv("TMPDIR");
  return (t && *t) ? t : "/tmp";
}

}  // namespace

// Link folders of processes that have ended; removing them removes links only,
// never the documents they point to.
void SweepLinkFolders(const std::string& root) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(root, ec)) {
    std::string name = e.path().filename().string();
    if (name.rfind(kLinkPrefix, 0) != 0) continue;
    // "lumipix-links-<process>-XXXXXX"
    std::string_view rest = std::string_view(name).substr(std::strlen(kLinkPrefix));
    std::optional<uint64_t> owner = ReadDigits(rest.substr(0, rest.find('-')), INT32_MAX);
    if (!owner || *owner == 0 || pid_t(*owner) == getpid() || kill(pid_t(*owner), 0) == 0 || errno != ESRCH) continue;
    // Only a real folder of this account: never another user's, never through a link.
    struct stat st {};
    if (lstat(e.path().c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid())
      std::filesystem::remove_all(e.path(), ec);
  }
}

// Sent with "SkipPassword": a protected document then fails at once instead of asking.
static const char* const kDummyPassword = "*";

// A plain decimal integer (optional sign), 0 when the text is not one.
static int32_t DecimalOrZero(std::string_view s) {
  bool neg = !s.empty() && s[0] == '-';
  if (!s.empty() && (neg || s[0] == '+')) s.remove_prefix(1);
  std::optional<uint64_t> v = ReadDigits(s, INT32_MAX);
  return v ? int32_t(neg ? -int64_t(*v) : int64_t(*v)) : 0;
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
      // Not text either: the empty text reads as version 0.
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

TkxWordOle::~TkxWordOle() {
  QuitServer();
  DropLink();
  if (!FLinkDir.empty()) rmdir(FLinkDir.c_str());
}

bool TkxWordOle::GetReadOnly() const { return ReadBool(Project->GetOption("ReadOnly"), false); }
bool TkxWordOle::GetSkipPassword() const { return ReadBool(Project->GetOption("SkipPassword"), false); }

void TkxWordOle::StartServer() {
  try {
    CoInitialize();
    FApp = CreateOleObject(kWordApplication);
  } catch (...) {
    // The other word processor's server when this one cannot be had. When neither
    // can, this one's failure is the one worth reading: the other is a stand-in.
    std::exception_ptr first = std::current_exception();
    try {
      CoInitialize();
      FApp = CreateOleObject("WPS.Application");
    } catch (...) {
      std::rethrow_exception(first);
    }
  }
  try {
    FServerVersion = VersionNumber(OleGet(FApp, "Version"));
    if (Info) Info->Count(counter::kWordVersion, FServerVersion, 1);
  } catch (...) {
    // A server that does not tell its version is taken as the oldest kind.
  }
  if (ReadBool(Project->GetOption("AppVisible"), false)) {
    OlePut(FApp, "Visible", TkxOleArg::Bool(true));
    OlePut(FApp, "WindowState", TkxOleArg::Int(word::wdWindowStateMinimize));
  }
  try {
    OlePut(FApp, "DisplayAlerts", TkxOleArg::Int(word::wdAlertsNone));
  } catch (...) {
    // Servers without the property show no alerts to switch off.
  }
}

// The office takes names as UTF-16 text, which cannot carry bytes that are not
// UTF-8 (old archives have Latin-1 names). Such a document is handed over as a
// link with a plain name in a private folder: the office reads the very file,
// nothing is copied or renamed, and the link goes when the document is closed.
std::string TkxWordOle::OfficePath(const std::string& path) {
  if (IsValidUtf8(path)) return path;
  if (FLinkDir.empty()) {
    static std::once_flag sweep;
    std::call_once(sweep, [] { SweepLinkFolders(TempRoot()); });
    std::string dir = TempRoot() + "/" + kLinkPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(dir.data()))
      throw std::runtime_error("Cannot create a folder in " + TempRoot() + " to open the document by. " +
                               std::strerror(errno));
    FLinkDir = dir + "/";
  }
  DropLink();
  std::string link = FLinkDir + "document" + DisplayPath(ExtractFileExt(path));
  std::string target = path.front() == PathDelim ? path : AbsolutePath(path, CurrentDir());
  if (symlink(target.c_str(), link.c_str()) != 0)
    throw std::runtime_error("Cannot create a link in " + FLinkDir + " to open the document by. " +
                             std::strerror(errno));
  FLink = link;
  return FLink;
}

void TkxWordOle::DropLink() {
  if (!FLink.empty()) unlink(FLink.c_str());
  FLink.clear();
}

void TkxWordOle::OpenDocument(const std::string& path) {
  if (IsNullRef(FApp)) StartServer();
  if (!IsNullRef(FDoc)) return;
  bool exists = FileExists(path) || IsWebAddress(path);
  std::string name = exists ? OfficePath(path) : path;
  if (exists && GetSkipPassword()) {
    Variant docs = OleGet(FApp, "Documents");
    FDoc = OleGet(docs, "Open",
                  {TkxOleArg::Text(name), TkxOleArg::Omitted(), TkxOleArg::Bool(GetReadOnly()), TkxOleArg::Omitted(),
                   TkxOleArg::Text(kDummyPassword)});
  } else if (exists) {
    Variant docs = OleGet(FApp, "Documents");
    FDoc = OleGet(docs, "Open", {TkxOleArg::Text(name), TkxOleArg::Omitted(), TkxOleArg::Bool(GetReadOnly())});
  } else {
    // A document that went away after the search fails; a blank page in its place
    // would be reported as converted.
    throw std::runtime_error("The file does not exist");
  }
  try {
    OlePut(OleGet(FApp, "Options"), "UpdateFieldsAtPrint", TkxOleArg::Bool(false));
    OlePut(OleGet(FApp, "Options"), "UpdateLinksAtPrint", TkxOleArg::Bool(false));
  } catch (...) {
    // Servers without these options print fields as they are anyway.
  }
}

void TkxWordOle::CloseDocument() {
  try {
    if (!IsNullRef(FDoc)) OleCall(FDoc, "Close", {TkxOleArg::Bool(false)});
  } catch (...) {
    // A server that cannot close the document has lost it; the next one opens anew.
  }
  FDoc = Variant::Null();
  DropLink();
}

void TkxWordOle::QuitServer() {
  try {
    if (!IsNullRef(FApp)) OleCall(FApp, "Quit", {TkxOleArg::Bool(false)});
  } catch (...) {
    // A server that cannot quit has ended already or is ended with its process.
  }
  FApp = Variant::Null();
}

bool TkxWordOle::HasMacros() {
  if (FServerVersion >= 12) {
    try {
      return VarToBool(OleGet(FDoc, "HasVBProject"));
    } catch (...) {
      // Not answered: the base's answer below.
    }
  }
  return TkxConvertor::HasMacros();
}

std::string TkxWordOle::GetServerExe() { return VarToStr(OleGet(FApp, "Path")) + "/soffice"; }

}  // namespace kx
