#include "office/wordapp.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <com/sun/star/lang/DisposedException.hpp>

#include "office/document.h"
#include "office/process.h"
#include "platform/automation.h"
#include "platform/clipboard.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace kx::office {

namespace {

inline constexpr const char* kMsgNoDocument = "No document is open";
inline constexpr const char* kMsgClosed = "The document is no longer open";

[[noreturn]] void Fault(const std::string& text) { throw EAutomationFault{text}; }

int ArgInt(const std::vector<Variant>& args, size_t i, int def) {
  if (i >= args.size()) return def;
  Variant v = args[i].Deref();
  if (v.Type == VarType::Int || v.Type == VarType::Bool) return v.Int;
  if (v.Type == VarType::String) {
    try {
      return std::stoi(Utf16ToUtf8(v.Str));
    } catch (const std::logic_error&) {
      // not a number, or out of range: the default, as for any other kind of argument
    }
  }
  return def;
}

bool ArgBool(const std::vector<Variant>& args, size_t i, bool def) {
  if (i >= args.size()) return def;
  Variant v = args[i].Deref();
  if (v.Type == VarType::Int || v.Type == VarType::Bool) return v.Int != 0;
  return def;
}

bool ArgGiven(const std::vector<Variant>& args, size_t i) {
  return i < args.size() && !args[i].IsOmitted() && args[i].Deref().Type != VarType::Empty;
}

std::string ArgText(const std::vector<Variant>& args, size_t i) {
  if (i >= args.size()) return "";
  Variant v = args[i].Deref();
  return v.Type == VarType::String ? Utf16ToUtf8(v.Str) : std::string();
}

// A property the object only keeps: a put stores the argument, a read answers it.
void IntProperty(int& field, uint16_t flags, const std::vector<Variant>& args, Variant& result) {
  if (flags & DISPATCH_PROPERTYPUT)
    field = ArgInt(args, 0, field);
  else
    result = Variant::FromInt(field);
}

void BoolProperty(bool& field, uint16_t flags, const std::vector<Variant>& args, Variant& result) {
  if (flags & DISPATCH_PROPERTYPUT)
    field = ArgBool(args, 0, field);
  else
    result = Variant::FromBool(field);
}

// The members of each object. An id is the member's place in the object's name list;
// the list is built from these pairs, so an id always names its own member.
enum class RangeMember { Start, End };
enum class PageMember { EnhMetaFileBits };
enum class PagesMember { Count, Item };
enum class PaneMember { Pages };
enum class WindowMember { View, ActivePane };
enum class DocumentMember { Close, HasVBProject, Goto };
enum class SelectionMember { Start, End, EndKey, SetRange, Copy };
enum class OptionsMember { UpdateFieldsAtPrint, UpdateLinksAtPrint };
enum class DocumentsMember { Open, Add, Count };
enum class AppMember {
  Version,
  Build,
  Visible,
  WindowState,
  DisplayAlerts,
  Documents,
  Options,
  ActiveWindow,
  Selection,
  Path,
  Quit
};

template <class E, size_t N>
std::vector<std::string> MemberNames(const std::pair<E, const char*> (&members)[N]) {
  std::vector<std::string> names(N);
  for (const auto& [id, name] : members) names.at(size_t(id)) = name;
  return names;
}

// The print layout view, which the pages follow anyway.
constexpr int kPrintView = 3;

struct TkxWordApplication;

// Inside a catch block: the failure in hand as a sentence for a person.
[[noreturn]] void OfficeFault(TkxOfficeProcess* office) {
  try {
    throw;
  } catch (const EAutomationFault&) {
    throw;
  } catch (const EOfficeError& e) {
    // An export that fails in an office near its memory ceiling fails for want of memory.
    if (office && office->OutOfMemory() && e.Message.rfind(kMsgExportFailed, 0) == 0) Fault(OfficeEndedText(*office));
    Fault(e.Message);
  } catch (const css::lang::DisposedException&) {
    if (!office) Fault(kMsgStopped);
    office->MarkBroken();
    Fault(OfficeEndedText(*office));
  } catch (const css::uno::Exception&) {
    if (office && (office->TimedOut() || !office->Alive())) Fault(OfficeEndedText(*office));
    Fault(kMsgExportFailed);
  }
}

// Runs an office step, turning its failures into sentences for a person.
template <class F>
auto Guarded(TkxOfficeProcess* office, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    OfficeFault(office);
  }
}

// What a document object, its window and its ranges share.
struct TkxDocState {
  std::unique_ptr<TkxWriterDocument> Doc;
  int PageCount() { return Doc ? int(Doc->Pages().size()) : 0; }
};

class TkxRange : public TkxDispatchObject {
 public:
  explicit TkxRange(int start, int end)
      : TkxDispatchObject(MemberNames({std::pair{RangeMember::Start, "Start"}, {RangeMember::End, "End"}}),
                          "Word.Range"),
        Start(start),
        End(end) {}
  int Start, End;

 protected:
  HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) override {
    if ((flags & DISPATCH_PROPERTYPUT) && args.empty()) return DISP_E_BADPARAMCOUNT;
    IntProperty(RangeMember(id) == RangeMember::Start ? Start : End, flags, args, result);
    return S_OK;
  }
};

class TkxPage : public TkxDispatchObject {
 public:
  TkxPage(std::shared_ptr<TkxDocState> doc, int index)
      : TkxDispatchObject(MemberNames({std::pair{PageMember::EnhMetaFileBits, "EnhMetaFileBits"}}), "Word.Page"),
        FDoc(std::move(doc)),
        FIndex(index) {}

 protected:
  HRESULT Call(int, uint16_t, std::vector<Variant>&, Variant& result) override;

 private:
  std::shared_ptr<TkxDocState> FDoc;
  int FIndex;
};

class TkxPages : public TkxDispatchObject {
 public:
  explicit TkxPages(std::shared_ptr<TkxDocState> doc)
      : TkxDispatchObject(MemberNames({std::pair{PagesMember::Count, "Count"}, {PagesMember::Item, "Item"}}),
                          "Word.Pages"),
        FDoc(std::move(doc)) {}

 protected:
  HRESULT Call(int id, uint16_t, std::vector<Variant>& args, Variant& result) override;

 private:
  std::shared_ptr<TkxDocState> FDoc;
};

class TkxPane : public TkxDispatchObject {
 public:
  explicit TkxPane(std::shared_ptr<TkxDocState> doc)
      : TkxDispatchObject(MemberNames({std::pair{PaneMember::Pages, "Pages"}}), "Word.Pane"), FDoc(std::move(doc)) {}

 protected:
  HRESULT Call(int, uint16_t, std::vector<Variant>&, Variant& result) override {
    result = Variant::FromDispatch(std::make_shared<TkxPages>(FDoc));
    return S_OK;
  }

 private:
  std::shared_ptr<TkxDocState> FDoc;
};

class TkxWindow : public TkxDispatchObject {
 public:
  explicit TkxWindow(std::shared_ptr<TkxDocState> doc)
      : TkxDispatchObject(
            MemberNames({std::pair{WindowMember::View, "View"}, {WindowMember::ActivePane, "ActivePane"}}),
            "Word.Window"),
        FDoc(std::move(doc)) {}

 protected:
  HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) override {
    if (WindowMember(id) == WindowMember::View) {
      IntProperty(FView, flags, args, result);
      return S_OK;
    }
    result = Variant::FromDispatch(std::make_shared<TkxPane>(FDoc));
    return S_OK;
  }

 private:
  std::shared_ptr<TkxDocState> FDoc;
  int FView = kPrintView;
};

class TkxDocument : public TkxDispatchObject {
 public:
  TkxDocument(std::weak_ptr<TkxWordApplication> app, std::shared_ptr<TkxDocState> doc)
      : TkxDispatchObject(MemberNames({std::pair{DocumentMember::Close, "Close"},
                                       {DocumentMember::HasVBProject, "HasVBProject"},
                                       {DocumentMember::Goto, "Goto"}}),
                          "Word.Document"),
        State(std::move(doc)),
        FApp(std::move(app)) {}
  std::shared_ptr<TkxDocState> State;

 protected:
  HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) override;

 private:
  std::weak_ptr<TkxWordApplication> FApp;
};

class TkxSelection : public TkxDispatchObject {
 public:
  explicit TkxSelection(std::weak_ptr<TkxWordApplication> app)
      : TkxDispatchObject(MemberNames({std::pair{SelectionMember::Start, "Start"},
                                       {SelectionMember::End, "End"},
                                       {SelectionMember::EndKey, "EndKey"},
                                       {SelectionMember::SetRange, "SetRange"},
                                       {SelectionMember::Copy, "Copy"}}),
                          "Word.Selection"),
        FApp(std::move(app)) {}
  int Start = 0, End = 0;

 protected:
  HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) override;

 private:
  std::weak_ptr<TkxWordApplication> FApp;
};

class TkxOptions : public TkxDispatchObject {
 public:
  TkxOptions()
      : TkxDispatchObject(MemberNames({std::pair{OptionsMember::UpdateFieldsAtPrint, "UpdateFieldsAtPrint"},
                                       {OptionsMember::UpdateLinksAtPrint, "UpdateLinksAtPrint"}}),
                          "Word.Options") {}

 protected:
  HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) override {
    BoolProperty(OptionsMember(id) == OptionsMember::UpdateFieldsAtPrint ? FFields : FLinks, flags, args, result);
    return S_OK;
  }

 private:
  bool FFields = true, FLinks = true;
};

class TkxDocuments : public TkxDispatchObject {
 public:
  explicit TkxDocuments(std::weak_ptr<TkxWordApplication> app)
      : TkxDispatchObject(MemberNames({std::pair{DocumentsMember::Open, "Open"},
                                       {DocumentsMember::Add, "Add"},
                                       {DocumentsMember::Count, "Count"}}),
                          "Word.Documents"),
        FApp(std::move(app)) {}

 protected:
  HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) override;

 private:
  std::weak_ptr<TkxWordApplication> FApp;
};

// The application object. Its office process starts with the first call that needs
// it, so that a missing or failing office is a readable failure of that call.
struct TkxWordApplication : public TkxDispatchObject, public std::enable_shared_from_this<TkxWordApplication> {
  TkxWordApplication()
      : TkxDispatchObject(MemberNames({std::pair{AppMember::Version, "Version"},
                                       {AppMember::Build, "Build"},
                                       {AppMember::Visible, "Visible"},
                                       {AppMember::WindowState, "WindowState"},
                                       {AppMember::DisplayAlerts, "DisplayAlerts"},
                                       {AppMember::Documents, "Documents"},
                                       {AppMember::Options, "Options"},
                                       {AppMember::ActiveWindow, "ActiveWindow"},
                                       {AppMember::Selection, "Selection"},
                                       {AppMember::Path, "Path"},
                                       {AppMember::Quit, "Quit"}}),
                          "Word.Application") {}
  ~TkxWordApplication() override { Shutdown(); }

  std::unique_ptr<TkxOfficeProcess> Office;
  std::vector<std::weak_ptr<TkxDocState>> Open;  // in opening order; the last is active
  std::shared_ptr<TkxSelection> Sel;
  std::shared_ptr<TkxOptions> Opts = std::make_shared<TkxOptions>();
  bool Visible = false;
  int WindowState = 0;
  int DisplayAlerts = -1;

  // A dead office, one the watchdog ended, or one that has opened many documents is
  // replaced by a fresh one before the next document: its documents are gone.
  TkxOfficeProcess& EnsureOffice() {
    bool recycle = Office && Office->Documents >= RecycleAfter() && !Active();
    if (Office && (recycle || Office->TimedOut() || !Office->Alive())) {
      Trace("office: " + Office->Folder() + " replaced by a fresh one: " +
            (recycle              ? "it has opened " + std::to_string(Office->Documents) + " documents"
             : Office->TimedOut() ? "the watchdog ended it"
                                  : "it is not running any more"));
      for (auto& w : Open)
        if (auto d = w.lock()) d->Doc.reset();
      Open.clear();
      Office.reset();
    }
    if (!Office) {
      try {
        Office = std::make_unique<TkxOfficeProcess>();
      } catch (const EOfficeError& e) {
        Fault(e.Message);
      }
    }
    return *Office;
  }

  std::shared_ptr<TkxDocState> Active() {
    for (auto it = Open.rbegin(); it != Open.rend(); ++it)
      if (auto d = it->lock(); d && d->Doc) return d;
    return nullptr;
  }

  void Shutdown() {
    for (auto& w : Open)
      if (auto d = w.lock()) d->Doc.reset();
    Open.clear();
    Office.reset();
  }

  template <class F>
  auto Guard(F&& f) -> decltype(f()) {
    return Guarded(Office.get(), std::forward<F>(f));
  }

 protected:
  HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) override {
    switch (AppMember(id)) {
      case AppMember::Version:  // the object-model level it answers to
        result = Variant::FromUtf8("16.0");
        return S_OK;
      case AppMember::Build: result = Variant::FromUtf8("LibreOffice"); return S_OK;
      case AppMember::Visible:  // the office runs headless; the value is kept
        BoolProperty(Visible, flags, args, result);
        return S_OK;
      case AppMember::WindowState: IntProperty(WindowState, flags, args, result); return S_OK;
      case AppMember::DisplayAlerts: IntProperty(DisplayAlerts, flags, args, result); return S_OK;
      case AppMember::Documents:
        result = Variant::FromDispatch(std::make_shared<TkxDocuments>(weak_from_this()));
        return S_OK;
      case AppMember::Options: result = Variant::FromDispatch(Opts); return S_OK;
      case AppMember::ActiveWindow: {
        auto d = Active();
        if (!d) Fault(kMsgNoDocument);
        result = Variant::FromDispatch(std::make_shared<TkxWindow>(d));
        return S_OK;
      }
      case AppMember::Selection:
        if (!Sel) Sel = std::make_shared<TkxSelection>(weak_from_this());
        result = Variant::FromDispatch(Sel);
        return S_OK;
      case AppMember::Path: result = Variant::FromUtf8(TkxOfficeProcess::ProgramDir()); return S_OK;
      case AppMember::Quit: Shutdown(); return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }
};

std::shared_ptr<TkxWordApplication> LockApp(const std::weak_ptr<TkxWordApplication>& w) {
  std::shared_ptr<TkxWordApplication> a = w.lock();
  if (!a) Fault("The word processor has quit");
  return a;
}

HRESULT TkxPage::Call(int, uint16_t, std::vector<Variant>&, Variant& result) {
  if (!FDoc->Doc) Fault(kMsgClosed);
  const auto& pages =
      Guarded(&FDoc->Doc->Office(), [&]() -> const std::vector<std::string>& { return FDoc->Doc->Pages(); });
  if (FIndex < 1 || FIndex > int(pages.size())) return DISP_E_BADPARAMCOUNT;
  const std::string& emf = pages[size_t(FIndex - 1)];
  result = Variant::FromBytes(std::vector<uint8_t>(emf.begin(), emf.end()));
  return S_OK;
}

HRESULT TkxPages::Call(int id, uint16_t, std::vector<Variant>& args, Variant& result) {
  if (!FDoc->Doc) Fault(kMsgClosed);
  int n = Guarded(&FDoc->Doc->Office(), [&] { return FDoc->PageCount(); });
  if (PagesMember(id) == PagesMember::Count) {
    result = Variant::FromInt(n);
    return S_OK;
  }
  int i = ArgInt(args, 0, 0);
  if (i < 1 || i > n) Fault("The requested page does not exist");
  result = Variant::FromDispatch(std::make_shared<TkxPage>(FDoc, i));
  return S_OK;
}

HRESULT TkxDocument::Call(int id, uint16_t, std::vector<Variant>& args, Variant& result) {
  std::shared_ptr<TkxWordApplication> app = LockApp(FApp);
  switch (DocumentMember(id)) {
    case DocumentMember::Close:  // (SaveChanges): documents are never saved
      State->Doc.reset();
      return S_OK;
    case DocumentMember::HasVBProject:
      if (!State->Doc) Fault(kMsgClosed);
      result = Variant::FromBool(app->Guard([&] { return State->Doc->HasVBProject(); }));
      return S_OK;
    case DocumentMember::Goto: {  // (What, Which, Count): page-based positions, page i starts at i-1
      if (!State->Doc) Fault(kMsgClosed);
      int n = app->Guard([&] { return State->PageCount(); });
      int page = std::max(1, std::min(ArgInt(args, 2, 1), std::max(1, n)));
      result = Variant::FromDispatch(std::make_shared<TkxRange>(page - 1, std::min(page, n)));
      return S_OK;
    }
  }
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT TkxSelection::Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) {
  std::shared_ptr<TkxWordApplication> app = LockApp(FApp);
  switch (SelectionMember(id)) {
    case SelectionMember::Start: IntProperty(Start, flags, args, result); return S_OK;
    case SelectionMember::End: IntProperty(End, flags, args, result); return S_OK;
    case SelectionMember::EndKey: {  // (Unit): to the end of the document
      auto d = app->Active();
      if (!d) Fault(kMsgNoDocument);
      Start = End = app->Guard([&] { return d->PageCount(); });
      return S_OK;
    }
    case SelectionMember::SetRange:
      Start = ArgInt(args, 0, Start);
      End = ArgInt(args, 1, End);
      return S_OK;
    case SelectionMember::Copy: {  // the page where the selection starts
      auto d = app->Active();
      if (!d) Fault(kMsgNoDocument);
      const auto& pages = app->Guard([&]() -> const std::vector<std::string>& { return d->Doc->Pages(); });
      if (pages.empty() || Start < 0 || Start >= int(pages.size())) Fault("Nothing is selected");
      ClipboardSetMetafile(pages[size_t(Start)]);
      return S_OK;
    }
  }
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT TkxDocuments::Call(int id, uint16_t, std::vector<Variant>& args, Variant& result) {
  std::shared_ptr<TkxWordApplication> app = LockApp(FApp);
  if (DocumentsMember(id) == DocumentsMember::Count) {
    int n = 0;
    for (auto& w : app->Open)
      if (auto d = w.lock(); d && d->Doc) ++n;
    result = Variant::FromInt(n);
    return S_OK;
  }
  TkxOfficeProcess& office = app->EnsureOffice();
  auto state = std::make_shared<TkxDocState>();
  if (DocumentsMember(id) ==
      DocumentsMember::Open) {  // (FileName, ConfirmConversions, ReadOnly, AddToRecentFiles, PasswordDocument)
    std::string path = ArgText(args, 0);
    bool readOnly = ArgBool(args, 2, false);
    std::string password = ArgText(args, 4);
    bool withPassword = ArgGiven(args, 4);
    state->Doc = app->Guard([&] {
      return std::make_unique<TkxWriterDocument>(office, path, readOnly, withPassword ? &password : nullptr);
    });
    ++office.Documents;
  } else {  // Add(Template): a new blank document
    state->Doc = app->Guard([&] { return std::make_unique<TkxWriterDocument>(office, "", false, nullptr); });
  }
  // Forget documents that have been closed.
  std::erase_if(app->Open, [](const std::weak_ptr<TkxDocState>& w) {
    auto d = w.lock();
    return !d || !d->Doc;
  });
  app->Open.push_back(state);
  result = Variant::FromDispatch(std::make_shared<TkxDocument>(app, state));
  return S_OK;
}

}  // namespace

void RegisterWordApplication() {
  RegisterAutomationClass("Word.Application", [](std::shared_ptr<IDispatch>& out) {
    out = std::make_shared<TkxWordApplication>();
    return S_OK;
  });
}

}  // namespace kx::office
