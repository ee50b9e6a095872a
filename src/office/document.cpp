#include "office/document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XEmbeddedScripts.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/script/vba/XVBACompatibility.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <osl/file.hxx>
#include <rtl/ref.hxx>

#include "office/interaction.h"
#include "office/webfetch.h"
#include "pdf/pdfpage.h"
#include "platform/fd.h"
#include "platform/trace.h"

namespace kx::office {

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

rtl::OUString U(const std::string& s) { return rtl::OUString::fromUtf8(s.c_str()); }

css::beans::PropertyValue Prop(const char* name, const Any& value) {
  css::beans::PropertyValue p;
  p.Name = rtl::OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

Sequence<css::beans::PropertyValue> Props(std::initializer_list<css::beans::PropertyValue> list) {
  std::vector<css::beans::PropertyValue> v(list);
  return Sequence<css::beans::PropertyValue>(v.data(), sal_Int32(v.size()));
}

// Plain-text import of something that was asked to be a word-processor document.
bool IsTextFilter(const rtl::OUString& filter) {
  return filter == "Text" || filter == "Text (encoded)" || filter.startsWith("Text - txt - csv");
}

// Closing happens after the result is in hand or a failure is known; an office that
// fails to close a document is at worst replaced later, so its failure here is dropped.
void CloseModel(const Reference<css::lang::XComponent>& model) {
  if (!model.is()) return;
  try {
    Reference<css::util::XCloseable> c(model, UNO_QUERY);
    if (c.is())
      c->close(true);
    else
      model->dispose();
  } catch (const css::uno::Exception&) {
    try {
      model->dispose();
    } catch (const css::uno::Exception&) {
      // the model belongs to an office that is gone or is being replaced
    }
  }
}

// Runs a call into the office: a broken bridge or an office that died raises; any other
// failure answers false, and what the office asked meanwhile tells why. The office's
// own words for the failure go to `said`.
template <class F>
bool TryInOffice(TkxOfficeProcess& office, F&& call, std::string* said = nullptr) {
  try {
    call();
    return true;
  } catch (const css::lang::DisposedException&) {
    office.MarkBroken();
    throw;
  } catch (const css::uno::Exception& e) {
    if (!office.Alive()) throw;
    if (said) *said = rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr();
    return false;
  }
}

bool IsWebAddress(const std::string& path) {
  auto starts = [&](const char* scheme) {
    size_t n = std::strlen(scheme);
    if (path.size() <= n) return false;
    for (size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(path[i])) != scheme[i]) return false;
    return true;
  };
  return starts("http://") || starts("https://");
}

// The document at a web address, copied into the office's work folder by the program:
// the office itself never reaches the network, and opens a local file.
std::string FetchIntoWorkFolder(TkxOfficeProcess& office, const std::string& address) {
  static std::atomic<int> serial{0};
  std::string ext = std::filesystem::path(address.substr(0, address.find_first_of("?#"))).extension().string();
  std::string local = office.WorkDir() + "web" + std::to_string(++serial) + ext;
  FetchWebDocument(address, local, CurrentWebLimits());
  return local;
}

// The office's own words after a sentence of ours, when they add anything: " (LibreOffice:
// ...)". Its messages name the document's address, which the sentence's reader knows.
std::string LibreOfficeSays(const std::string& said) {
  std::string text = said;
  if (size_t at = text.rfind(" at ./"); at != std::string::npos) text.resize(at);  // its source location
  if (text.rfind("at ./", 0) == 0) text.clear();
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.empty()) return std::string();
  return " (LibreOffice: " + text + ")";
}

// The address of a local document that this account can read; raises EOfficeError
// with the reason when it cannot.
std::string ReadableFileUrl(const std::string& path) {
  std::string full = path.front() == '/' ? path : std::filesystem::absolute(path).string();
  struct stat st {};
  if (stat(full.c_str(), &st) != 0) throw EOfficeError{errno == EACCES ? kMsgNoFolderAccess : kMsgNotFound};
  if (!S_ISREG(st.st_mode)) throw EOfficeError{kMsgNotFound};
  UniqueFd fd(open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) {
    if (errno == EACCES || errno == EPERM) throw EOfficeError{kMsgNoAccess};
    throw EOfficeError{std::string("The file cannot be read: ") + std::strerror(errno)};
  }
  // LibreOffice opens an empty file as a new blank document.
  if (st.st_size == 0) throw EOfficeError{kMsgDamaged};
  return FileUrl(full);
}

// Fails with `opening` and the reason when the office's folder is why a step failed.
void FailOnFolderTrouble(const TkxOfficeProcess& office, const std::string& opening) {
  if (std::string trouble = FolderTrouble(office.WorkDir()); !trouble.empty()) throw EOfficeError{opening + trouble};
}

}  // namespace

std::string FileUrl(const std::string& path) {
  rtl::OUString url;
  osl::FileBase::getFileURLFromSystemPath(U(path), url);
  return rtl::OUStringToOString(url, RTL_TEXTENCODING_UTF8).getStr();
}

std::string OfficeEndedText(const TkxOfficeProcess& office) {
  if (office.TimedOut())
    return "The word processor did not finish this document within " + std::to_string(office.MissedDeadline()) +
           " seconds";
  if (office.OutOfMemory())
    return "The document needs more memory than the word processor may use (" + std::to_string(office.CeilingMb()) +
           " MB)";
  // An office whose folder went or filled up ends for that.
  if (std::string trouble = FolderTrouble(office.WorkDir()); !trouble.empty()) return kMsgStopped + (": " + trouble);
  return kMsgStopped;
}

TkxWriterDocument::TkxWriterDocument(TkxOfficeProcess& office, const std::string& path, bool readOnly,
                                     const std::string* password)
    : FOffice(office) {
  bool web = IsWebAddress(path);
  if (web) FWebCopy.Take(FetchIntoWorkFolder(FOffice, path));
  std::string url = path.empty() ? "private:factory/swriter" : ReadableFileUrl(web ? FWebCopy.Path() : path);
  // One hidden load that declines every question; what was asked tells why it failed.
  std::string said;  // the office's own words when a load fails
  auto load = [&](const std::string* pass, rtl::Reference<TkxDecliner>& asked) {
    asked = new TkxDecliner();
    std::vector<css::beans::PropertyValue> props{
        Prop("Hidden", Any(true)),
        Prop("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
        Prop("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
        Prop("InteractionHandler", Any(Reference<css::task::XInteractionHandler>(asked.get()))),
        Prop("Silent", Any(true)),
    };
    // "ReadOnly" false would forbid the office to fall back to reading a document this
    // account may not write, and every read-only document would fail. Left out, the
    // office opens what it may write for writing and the rest for reading.
    if (readOnly && !path.empty()) props.push_back(Prop("ReadOnly", Any(true)));
    if (pass) props.push_back(Prop("Password", Any(U(*pass))));
    Reference<css::lang::XComponent> model;
    TryInOffice(
        FOffice,
        [&] {
          TkxOfficeProcess::Watch watch(FOffice, BaseDeadline());
          Reference<css::frame::XComponentLoader> loader(FOffice.Desktop, UNO_QUERY_THROW);
          model = loader->loadComponentFromURL(
              U(url), "_blank", 0, Sequence<css::beans::PropertyValue>(props.data(), sal_Int32(props.size())));
        },
        &said);
    return model;
  };
  rtl::Reference<TkxDecliner> asked;
  Reference<css::lang::XComponent> model = load(password, asked);
  if (!model.is()) {
    TRequest seen = asked->Seen();
    if (seen == TRequest::PasswordNeeded) throw EOfficeError{password ? kMsgWrongPassword : kMsgPasswordNeeded};
    if (seen == TRequest::WrongPassword) throw EOfficeError{kMsgWrongPassword};
    // A wrong password fails without a question; asking again without it tells the cases apart.
    if (password && !path.empty()) {
      rtl::Reference<TkxDecliner> again;
      Reference<css::lang::XComponent> plainLoad = load(nullptr, again);
      CloseModel(plainLoad);
      if (again->Seen() == TRequest::PasswordNeeded || again->Seen() == TRequest::WrongPassword)
        throw EOfficeError{kMsgWrongPassword};
    }
    if (FOffice.OutOfMemory()) throw EOfficeError{OfficeEndedText(FOffice)};
    std::string reason = asked->Reason(path, false);
    if (reason.empty()) {
      // An office that cannot unpack the document into its folder is no proof of damage.
      std::string trouble = FolderTrouble(FOffice.WorkDir());
      reason = trouble.empty() ? kMsgDamaged + LibreOfficeSays(said.empty() ? asked->Said() : said)
                               : kMsgNotOpened + trouble;
    }
    Trace("document: load failed: " + reason + (said.empty() ? "" : " [" + said + "]"));
    throw EOfficeError{reason};
  }
  // A damaged package that a lenient filter then read as something else is damaged.
  if (asked->Seen() == TRequest::BrokenPackage) {
    CloseModel(model);
    FailOnFolderTrouble(FOffice, kMsgNotOpened);
    throw EOfficeError{kMsgDamaged + LibreOfficeSays(asked->Said())};
  }
  Reference<css::text::XTextDocument> text(model, UNO_QUERY);
  bool plain = false;
  if (text.is() && !path.empty()) {
    Reference<css::frame::XModel> m(model, UNO_QUERY);
    if (m.is()) {
      for (const auto& arg : m->getArgs())
        if (arg.Name == "FilterName") {
          rtl::OUString filter;
          arg.Value >>= filter;
          std::string ext = std::filesystem::path(path).extension().string();
          for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
          plain = IsTextFilter(filter) && (ext == ".doc" || ext == ".docx" || ext == ".docm" || ext == ".dot" ||
                                           ext == ".dotx" || ext == ".rtf");
        }
    }
  }
  if (!text.is() || plain) {
    CloseModel(model);
    throw EOfficeError{kMsgDamaged};
  }
  FModel = model;
}

TkxWriterDocument::~TkxWriterDocument() { Close(); }

void TkxWriterDocument::Close() {
  if (FModel.is() && FOffice.Alive()) {
    TkxOfficeProcess::Watch watch(FOffice, BaseDeadline());
    CloseModel(FModel);
  }
  FModel.clear();
  FWebCopy.Remove();
  FPages.clear();
  FExported = false;
}

bool TkxWriterDocument::HasVBProject() {
  Reference<css::document::XEmbeddedScripts> scripts(FModel, UNO_QUERY);
  if (!scripts.is()) return false;
  Reference<css::script::vba::XVBACompatibility> vba(scripts->getBasicLibraries(), UNO_QUERY);
  return vba.is() && vba->getVBACompatibilityMode();
}

const std::vector<std::string>& TkxWriterDocument::Pages() {
  if (!FExported) ExportPages();
  return FPages;
}

void TkxWriterDocument::ExportPages() {
  static std::atomic<int> serial{0};
  std::string pdf = FOffice.WorkDir() + "doc" + std::to_string(++serial) + ".pdf";
  int seconds = BaseDeadline();
  try {
    // The deadline grows with the document: Writer's own page count is estimate enough.
    int estimate = 1;
    {
      TkxOfficeProcess::Watch watch(FOffice, BaseDeadline());
      Reference<css::frame::XModel> m(FModel, UNO_QUERY);
      Reference<css::beans::XPropertySet> view(m.is() ? m->getCurrentController() : nullptr, UNO_QUERY);
      sal_Int32 n = 0;
      if (view.is() && (view->getPropertyValue("PageCount") >>= n) && n > 0) estimate = n;
    }
    seconds = BaseDeadline() + PerPageDeadline() * estimate;
    TkxOfficeProcess::Watch watch(FOffice, seconds);
    BeforeExport(FOffice.Pid());
    Reference<css::frame::XStorable> storable(FModel, UNO_QUERY_THROW);
    // Pictures go into the PDF as they are: resampling them there costs the office more
    // than the translation's own choice of resolution does.
    Sequence<css::beans::PropertyValue> filterData = Props({Prop("ReduceImageResolution", Any(false))});
    Sequence<css::beans::PropertyValue> pdfProps =
        Props({Prop("FilterName", Any(rtl::OUString("writer_pdf_Export"))), Prop("FilterData", Any(filterData))});
    storable->storeToURL(U(FileUrl(pdf)), pdfProps);
  } catch (const css::lang::DisposedException&) {
    unlink(pdf.c_str());
    FOffice.MarkBroken();
    throw;
  } catch (const css::uno::Exception& e) {
    unlink(pdf.c_str());
    if (!FOffice.Alive()) throw;
    // LibreOffice's own words say why; its bare "SfxBaseModel::impl_store" and error
    // codes are still more than nothing to whoever reads the run log.
    std::string why = rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr();
    Trace("document: export failed: " + why);
    FailOnFolderTrouble(FOffice, std::string(kMsgExportFailed) + ": ");
    throw EOfficeError{std::string(kMsgExportFailed) + (why.empty() ? "" : ": LibreOffice says \"" + why + "\"")};
  }
  // Every page of the PDF, read in-process, made into a metafile.
  bool complete = false;
  std::string error;
  std::vector<std::string> pages = pdf::TranslatePdfFile(pdf, &complete, &error);
  unlink(pdf.c_str());
  if (!complete || pages.empty()) {
    FailOnFolderTrouble(FOffice, std::string(kMsgExportFailed) + ": ");
    throw EOfficeError{std::string(kMsgExportFailed) + ": its PDF cannot be read (" +
                       (error.empty() ? "no page in it" : error) + ")"};
  }
  FPages = std::move(pages);
  FExported = true;
}

}  // namespace kx::office
