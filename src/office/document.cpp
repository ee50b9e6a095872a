#include "office/document.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XEmbeddedScripts.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/script/vba/XVBACompatibility.hpp>
#include <com/sun/star/task/DocumentPasswordRequest.hpp>
#include <com/sun/star/task/DocumentPasswordRequest2.hpp>
#include <com/sun/star/task/DocumentMSPasswordRequest.hpp>
#include <com/sun/star/task/DocumentMSPasswordRequest2.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <com/sun/star/lang/DisposedException.hpp>
#include <osl/file.hxx>
#include <rtl/ref.hxx>

#include "office/pdfpage.h"
#include "office/pdfreader.h"

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

enum class TRequest { None, PasswordNeeded, WrongPassword, Other };

// Declines every request so that loading never waits for a person; remembers why.
class TkxDecliner : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
 public:
  std::atomic<TRequest> Seen{TRequest::None};
  void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override {
    Any what = request->getRequest();
    css::task::DocumentPasswordRequest2 p2;
    css::task::DocumentPasswordRequest p1;
    css::task::DocumentMSPasswordRequest2 m2;
    css::task::DocumentMSPasswordRequest m1;
    css::task::PasswordRequestMode mode = css::task::PasswordRequestMode_PASSWORD_ENTER;
    bool password = true;
    if (what >>= p2)
      mode = p2.Mode;
    else if (what >>= p1)
      mode = p1.Mode;
    else if (what >>= m2)
      mode = m2.Mode;
    else if (what >>= m1)
      mode = m1.Mode;
    else
      password = false;
    if (password)
      Seen = mode == css::task::PasswordRequestMode_PASSWORD_REENTER ? TRequest::WrongPassword : TRequest::PasswordNeeded;
    else if (Seen == TRequest::None)
      Seen = TRequest::Other;
    const auto conts = request->getContinuations();
    for (const auto& c : conts) {
      Reference<css::task::XInteractionAbort> abort(c, UNO_QUERY);
      if (abort.is()) {
        abort->select();
        return;
      }
    }
  }
};

// Plain-text import of something that was asked to be a word-processor document.
bool IsTextFilter(const rtl::OUString& filter) {
  return filter == "Text" || filter == "Text (encoded)" || filter.startsWith("Text - txt - csv");
}

void CloseModel(const Reference<css::lang::XComponent>& model) {
  if (!model.is()) return;
  try {
    Reference<css::util::XCloseable> c(model, UNO_QUERY);
    if (c.is())
      c->close(true);
    else
      model->dispose();
  } catch (...) {
    try {
      model->dispose();
    } catch (...) {
    }
  }
}

}  // namespace

std::string FileUrl(const std::string& path) {
  rtl::OUString url;
  osl::FileBase::getFileURLFromSystemPath(U(path), url);
  return rtl::OUStringToOString(url, RTL_TEXTENCODING_UTF8).getStr();
}

TkxWriterDocument::TkxWriterDocument(TkxOfficeProcess& office, const std::string& path, bool readOnly,
                                     const std::string* password)
    : FOffice(office) {
  std::string url = "private:factory/swriter";
  if (!path.empty()) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw EOfficeError{kMsgNotFound};
    // LibreOffice opens an empty file as a new blank document.
    if (st.st_size == 0) throw EOfficeError{kMsgDamaged};
    url = FileUrl(path.front() == '/' ? path : std::filesystem::absolute(path).string());
  }
  // One hidden load that declines every question; reports what was asked.
  auto load = [&](const std::string* pass, TRequest& seen) {
    TkxDecliner* decliner = new TkxDecliner();
    Reference<css::task::XInteractionHandler> handler(decliner);  // keeps it alive
    std::vector<css::beans::PropertyValue> props{
        Prop("Hidden", Any(true)),
        Prop("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
        Prop("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
        Prop("InteractionHandler", Any(handler)),
        Prop("Silent", Any(true)),
    };
    if (!path.empty()) props.push_back(Prop("ReadOnly", Any(readOnly)));
    if (pass) props.push_back(Prop("Password", Any(U(*pass))));
    Reference<css::lang::XComponent> model;
    try {
      TkxOfficeProcess::Watch watch(FOffice, BaseDeadline());
      Reference<css::frame::XComponentLoader> loader(FOffice.Desktop, UNO_QUERY_THROW);
      model = loader->loadComponentFromURL(U(url), "_blank", 0,
                                           Sequence<css::beans::PropertyValue>(props.data(), sal_Int32(props.size())));
    } catch (const css::lang::DisposedException&) {
      FOffice.MarkBroken();
      throw;
    } catch (const css::uno::RuntimeException&) {
      if (!FOffice.Alive()) throw;
    } catch (const css::uno::Exception&) {
    }
    seen = decliner->Seen;
    return model;
  };
  TRequest seen = TRequest::None;
  Reference<css::lang::XComponent> model = load(password, seen);
  if (!model.is()) {
    if (seen == TRequest::PasswordNeeded) throw EOfficeError{password ? kMsgWrongPassword : kMsgPasswordNeeded};
    if (seen == TRequest::WrongPassword) throw EOfficeError{kMsgWrongPassword};
    // A wrong password fails without a question; asking again without it tells the cases apart.
    if (password && !path.empty()) {
      TRequest again = TRequest::None;
      Reference<css::lang::XComponent> plainLoad = load(nullptr, again);
      CloseModel(plainLoad);
      if (again == TRequest::PasswordNeeded || again == TRequest::WrongPassword) throw EOfficeError{kMsgWrongPassword};
    }
    throw EOfficeError{kMsgDamaged};
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
    Sequence<css::beans::PropertyValue> pdfProps = Props({Prop("FilterName", Any(rtl::OUString("writer_pdf_Export")))});
    storable->storeToURL(U(FileUrl(pdf)), pdfProps);
  } catch (const css::lang::DisposedException&) {
    unlink(pdf.c_str());
    FOffice.MarkBroken();
    throw;
  } catch (const css::uno::Exception&) {
    unlink(pdf.c_str());
    if (!FOffice.Alive()) throw;
    throw EOfficeError{kMsgExportFailed};
  }
  // Every page of the PDF as LibreOffice's own PDF reader sees it, made into a metafile.
  TkxPdfReaderOutput out;
  bool read = RunPdfReader(TkxOfficeProcess::ProgramDir() + "/xpdfimport", pdf, seconds * 1000, out);
  unlink(pdf.c_str());
  bool complete = false;
  std::vector<std::string> pages;
  if (read) pages = TranslatePdfPages(out.Text, out.Binary, &complete);
  if (!complete || pages.empty()) throw EOfficeError{kMsgExportFailed};
  FPages = std::move(pages);
  FExported = true;
}

}  // namespace kx::office
