#include "convert/fakeword.h"

#include <algorithm>
#include <functional>

#include "platform/automation.h"
#include "platform/clipboard.h"
#include "platform/text.h"

namespace kxtest {

using namespace kx;

namespace {

class Obj : public TkxDispatchObject {
 public:
  using Fn = std::function<HRESULT(int, uint16_t, std::vector<Variant>&, Variant&)>;
  Obj(std::string name, std::vector<std::string> members, std::shared_ptr<FakeDocument> doc, Fn fn)
      : TkxDispatchObject(members),
        FName(std::move(name)),
        FMembers(std::move(members)),
        FDoc(std::move(doc)),
        FFn(std::move(fn)) {}

 protected:
  HRESULT Call(int id, uint16_t flags, std::vector<Variant>& args, Variant& result) override {
    {
      std::lock_guard<std::mutex> g(FDoc->Lock);
      FDoc->Calls.push_back(FName + "." + FMembers[size_t(id)]);
    }
    return FFn(id, flags, args, result);
  }

 private:
  std::string FName;
  std::vector<std::string> FMembers;
  std::shared_ptr<FakeDocument> FDoc;
  Fn FFn;
};

int IntArg(const std::vector<Variant>& a, size_t i) {
  Variant v = i < a.size() ? a[i].Deref() : Variant();
  return v.Type == VarType::Int || v.Type == VarType::Bool ? v.Int : 0;
}

std::shared_ptr<IDispatch> Range(std::shared_ptr<FakeDocument> d, int start, int end) {
  auto s = std::make_shared<int>(start);
  return std::make_shared<Obj>("Range", std::vector<std::string>{"Start", "End"}, d,
                               [s, end](int id, uint16_t flags, std::vector<Variant>& a, Variant& r) {
                                 if (id == 0 && (flags & DISPATCH_PROPERTYPUT))
                                   *s = IntArg(a, 0);
                                 else
                                   r = Variant::FromInt(id == 0 ? *s : end);
                                 return S_OK;
                               });
}

std::shared_ptr<IDispatch> App(std::shared_ptr<FakeDocument> d) {
  // The pages of the document this server has open.
  auto opened = std::make_shared<std::vector<std::string>>();
  auto exported = std::make_shared<bool>(false);
  auto pagesOf = [d, opened, exported]() -> const std::vector<std::string>& {
    if (!*exported && d->OnExport) d->OnExport();
    *exported = true;
    return d->OpenFile ? *opened : d->Pages;
  };
  auto n = [pagesOf] { return int(pagesOf().size()); };
  auto page = [d, pagesOf](int i) {
    return std::make_shared<Obj>("Page", std::vector<std::string>{"EnhMetaFileBits"}, d,
                                 [d, i, pagesOf](int, uint16_t, std::vector<Variant>&, Variant& r) {
                                   if (d->OnBits) d->OnBits(i);
                                   if (d->FailBitsAt && i >= d->FailBitsAt)
                                     throw EAutomationFault{"No page bits here."};
                                   const std::string& e = pagesOf()[size_t(i - 1)];
                                   r = Variant::FromBytes(std::vector<uint8_t>(e.begin(), e.end()));
                                   return S_OK;
                                 });
  };
  auto pages = std::make_shared<Obj>("Pages", std::vector<std::string>{"Count", "Item"}, d,
                                     [n, page](int id, uint16_t, std::vector<Variant>& a, Variant& r) {
                                       if (id == 0)
                                         r = Variant::FromInt(n());
                                       else
                                         r = Variant::FromDispatch(page(IntArg(a, 0)));
                                       return S_OK;
                                     });
  auto pane = std::make_shared<Obj>("Pane", std::vector<std::string>{"Pages"}, d,
                                    [pages](int, uint16_t, std::vector<Variant>&, Variant& r) {
                                      r = Variant::FromDispatch(pages);
                                      return S_OK;
                                    });
  auto window = std::make_shared<Obj>("Window", std::vector<std::string>{"View", "ActivePane"}, d,
                                      [pane](int id, uint16_t, std::vector<Variant>&, Variant& r) {
                                        if (id == 1) r = Variant::FromDispatch(pane);
                                        return S_OK;
                                      });
  auto sel = std::make_shared<std::pair<int, int>>(0, 0);
  auto selection =
      std::make_shared<Obj>("Selection", std::vector<std::string>{"Start", "End", "EndKey", "SetRange", "Copy"}, d,
                            [d, n, sel, pagesOf](int id, uint16_t, std::vector<Variant>& a, Variant& r) {
                              switch (id) {
                                case 0: r = Variant::FromInt(sel->first); break;
                                case 1: r = Variant::FromInt(sel->second); break;
                                case 2: sel->first = sel->second = n(); break;
                                case 3: sel->first = IntArg(a, 0), sel->second = IntArg(a, 1); break;
                                case 4:
                                  if (d->FailCopyAt && sel->first + 1 >= d->FailCopyAt)
                                    throw EAutomationFault{"Copy failed."};
                                  if (d->OnCopy) d->OnCopy();
                                  ClipboardSetMetafile(pagesOf()[size_t(sel->first)]);
                                  break;
                              }
                              return S_OK;
                            });
  auto doc = std::make_shared<Obj>("Document", std::vector<std::string>{"Close", "HasVBProject", "Goto"}, d,
                                   [d, n](int id, uint16_t, std::vector<Variant>& a, Variant& r) {
                                     if (id == 2) {
                                       int page = std::max(1, std::min(IntArg(a, 2), std::max(1, n())));
                                       r = Variant::FromDispatch(Range(d, page - 1, page));
                                     }
                                     if (id == 1) r = Variant::FromBool(false);
                                     return S_OK;
                                   });
  auto docs = std::make_shared<Obj>("Documents", std::vector<std::string>{"Open", "Add"}, d,
                                    [d, doc, opened, exported](int id, uint16_t, std::vector<Variant>& a, Variant& r) {
                                      *exported = false;
                                      if (id == 0 && !a.empty()) {
                                        std::string path = Utf16ToUtf8(a[0].Deref().Str);
                                        {
                                          std::lock_guard<std::mutex> g(d->Lock);
                                          d->Opened.push_back(path);
                                        }
                                        if (d->OpenFile) *opened = d->OpenFile(path);
                                      }
                                      r = Variant::FromDispatch(doc);
                                      return S_OK;
                                    });
  auto options = std::make_shared<Obj>("Options", std::vector<std::string>{"UpdateFieldsAtPrint", "UpdateLinksAtPrint"},
                                       d, [](int, uint16_t, std::vector<Variant>&, Variant&) { return S_OK; });
  return std::make_shared<Obj>(
      "App",
      std::vector<std::string>{"Version", "Visible", "WindowState", "DisplayAlerts", "Documents", "Options",
                               "ActiveWindow", "Selection", "Quit"},
      d, [d, docs, options, window, selection](int id, uint16_t, std::vector<Variant>&, Variant& r) {
        switch (id) {
          case 0: r = Variant::FromUtf8(d->Version); break;
          case 4: r = Variant::FromDispatch(docs); break;
          case 5: r = Variant::FromDispatch(options); break;
          case 6: r = Variant::FromDispatch(window); break;
          case 7: r = Variant::FromDispatch(selection); break;
          default: break;
        }
        return S_OK;
      });
}

}  // namespace

FakeWordScope::FakeWordScope(std::shared_ptr<FakeDocument> doc) : Doc(std::move(doc)) {
  auto d = Doc;
  RegisterAutomationClass("Word.Application", [d](std::shared_ptr<IDispatch>& out) {
    out = App(d);
    return S_OK;
  });
}

FakeWordScope::~FakeWordScope() { UnregisterAutomationClass("Word.Application"); }

int FakeWordScope::Count(const std::string& call) const {
  std::lock_guard<std::mutex> g(Doc->Lock);
  return int(std::count(Doc->Calls.begin(), Doc->Calls.end(), call));
}

}  // namespace kxtest
