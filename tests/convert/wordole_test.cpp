#include "convert/wordole.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "convert/fakeserver.h"
#include "core/infoslot.h"
#include "core/project.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "testutil.h"

using namespace kx;
using kxtest::CallLog;
using kxtest::FakeServer;

namespace {

// A "Word.Application" of fakes: application, documents, document and options,
// all logging into one list.
struct FakeWord {
  std::shared_ptr<CallLog> Log = std::make_shared<CallLog>();
  std::shared_ptr<FakeServer> App = std::make_shared<FakeServer>(Log, "app.");
  std::shared_ptr<FakeServer> Docs = std::make_shared<FakeServer>(Log, "docs.");
  std::shared_ptr<FakeServer> Doc = std::make_shared<FakeServer>(Log, "doc.");
  std::shared_ptr<FakeServer> Opts = std::make_shared<FakeServer>(Log, "opts.");
  FakeWord(const std::string& className = kWordApplication, const char* version = "16.0") {
    App->Results["Version"] = Variant::FromUtf8(version);
    App->Results["Documents"] = Variant::FromDispatch(Docs);
    App->Results["Options"] = Variant::FromDispatch(Opts);
    App->Results["Path"] = Variant::FromUtf8("/usr/lib/libreoffice/program");
    Docs->Results["Open"] = Variant::FromDispatch(Doc);
    Docs->Results["Add"] = Variant::FromDispatch(Doc);
    Doc->Results["HasVBProject"] = Variant::FromBool(false);
    RegisterAutomationClass(className, [this](std::shared_ptr<IDispatch>& out) {
      out = App;
      return S_OK;
    });
  }
  const std::vector<std::string>& Calls() const { return Log->Calls; }
};

struct Counts : TkxInfoBase {
  std::vector<std::string> Seen;
  void Count(const std::string& k, int v, int inc) override {
    Seen.push_back(k + "=" + std::to_string(v) + "+" + std::to_string(inc));
  }
  void OpenLink(const std::string&, const std::string&, const std::string&) override {}
  void HandleError(const std::string&) override {}
};

struct Scope {
  kxtest::ProjectScope P;
  kx::TkxBatch Batch;
  std::unique_ptr<TkxWordOle> W;
  Counts Info;
  Scope() {
    kxtest::WriteFile(P.Dir / "a.doc", "x");  // the document most cases open
    kx::Info = &Info;
    W = std::make_unique<TkxWordOle>(&Batch, TkxNodeEvent{}, 1);
  }
  ~Scope() {
    W.reset();
    kx::Info = nullptr;
    UnregisterAutomationClass(kWordApplication);
    UnregisterAutomationClass("WPS.Application");
  }
};

}  // namespace

TEST(VersionNumber, EveryListedValue) {
  EXPECT_EQ(VersionNumber(Variant::FromUtf8("12.0")), 12);
  EXPECT_EQ(VersionNumber(Variant::FromUtf8("120")), 12);
  EXPECT_EQ(VersionNumber(Variant::FromUtf8("77")), 77);
  EXPECT_EQ(VersionNumber(Variant::FromUtf8("78")), 7);
  EXPECT_EQ(VersionNumber(Variant::FromUtf8("9.0")), 9);
  EXPECT_EQ(VersionNumber(Variant::FromUtf8("16.0")), 16);
  EXPECT_EQ(VersionNumber(Variant::FromInt(11)), 11);
  EXPECT_EQ(VersionNumber(Variant::FromUtf8("abc")), 0);
  EXPECT_EQ(VersionNumber(Variant::FromUtf8("1.2.3")), 0);  // "12.3" after the first point: no integer
  EXPECT_EQ(VersionNumber(Variant::Null()), 0);
}

TEST(WordOle, StartAndOpenFollowTheCallTable) {
  Scope s;
  FakeWord w;
  std::string doc = s.P.Dir / "a.doc";
  kxtest::WriteFile(doc, "x");
  s.W->OpenDocument(doc);
  EXPECT_EQ(w.Calls(),
            (std::vector<std::string>{"app.Version[call]()", "app.DisplayAlerts[put](0)", "app.Documents[call]()",
                                      "docs.Open[call](\"" + doc + "\",omitted,false)", "app.Options[call]()",
                                      "opts.UpdateFieldsAtPrint[put](false)", "app.Options[call]()",
                                      "opts.UpdateLinksAtPrint[put](false)"}));
  EXPECT_EQ(s.W->FServerVersion, 16);
  EXPECT_EQ(s.Info.Seen, (std::vector<std::string>{"W=16+1"}));
  EXPECT_FALSE(IsNullRef(s.W->FDoc));
  size_t before = w.Calls().size();
  s.W->OpenDocument(s.P.Dir / "other.doc");  // a document is open: nothing happens
  EXPECT_EQ(w.Calls().size(), before);
  s.W->CloseDocument();
  s.W->QuitServer();
  EXPECT_EQ(w.Calls()[before], "doc.Close[call](false)");
  EXPECT_EQ(w.Calls()[before + 1], "app.Quit[call](false)");
  EXPECT_TRUE(IsNullRef(s.W->FApp));
  EXPECT_TRUE(IsNullRef(s.W->FDoc));
}

TEST(WordOle, OptionsVisibleReadOnlyPassword) {
  Scope s;
  FakeWord w;
  std::string doc = s.P.Dir / "a.doc";
  kxtest::WriteFile(doc, "x");
  Project->SetSettingsText("AppVisible=1\nReadOnly=True\nSkipPassword=1");
  s.W->OpenDocument(doc);
  std::vector<std::string> c = w.Calls();
  EXPECT_EQ(c[1], "app.Visible[put](true)");
  EXPECT_EQ(c[2], "app.WindowState[put](2)");
  EXPECT_EQ(c[5], "docs.Open[call](\"" + doc + "\",omitted,true,omitted,\"*\")");
}

TEST(WordOle, AMissingFileFailsInsteadOfBecomingABlankDocument) {
  Scope s;
  FakeWord w;
  Project->SetOption("SkipPassword", "1");
  EXPECT_THROW(s.W->OpenDocument(s.P.Dir / "gone.doc"), std::runtime_error);
  for (const std::string& call : w.Calls()) EXPECT_EQ(call.find("docs."), std::string::npos) << call;
  EXPECT_TRUE(IsNullRef(s.W->FDoc));
}

TEST(WordOle, FailedOpenLeavesNoDocumentAndGuardedCallsAreIgnored) {
  Scope s;
  FakeWord w;
  w.App->Faults["DisplayAlerts"] = "not here";
  w.App->Faults["Options"] = "not here either";
  w.Docs->Faults["Open"] = "The password of the document is not correct.";
  std::string doc = s.P.Dir / "a.doc";
  kxtest::WriteFile(doc, "x");
  try {
    s.W->OpenDocument(doc);
    FAIL();
  } catch (const EOleError& e) {
    EXPECT_STREQ(e.what(), "The password of the document is not correct");
  }
  EXPECT_TRUE(IsNullRef(s.W->FDoc));
  EXPECT_FALSE(IsNullRef(s.W->FApp));  // the server stays for the next file
  w.Docs->Faults.clear();
  s.W->OpenDocument(doc);  // no second start
  std::vector<std::string> calls = w.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "app.Version[call]()"), 1);
  EXPECT_FALSE(IsNullRef(s.W->FDoc));
}

TEST(WordOle, VisibleFailureFailsTheFileButKeepsTheServer) {
  Scope s;
  FakeWord w;
  w.App->Faults["Visible"] = "No window here";
  Project->SetOption("AppVisible", "1");
  EXPECT_THROW(s.W->OpenDocument(s.P.Dir / "a.doc"), EOleError);
  EXPECT_FALSE(IsNullRef(s.W->FApp));
}

TEST(WordOle, FallbackServerAndBothFailing) {
  {
    Scope s;
    RegisterAutomationClass(kWordApplication, [](std::shared_ptr<IDispatch>&) { return CO_E_SERVER_EXEC_FAILURE; });
    FakeWord wps("WPS.Application", "11.1");
    s.W->OpenDocument(s.P.Dir / "a.doc");
    EXPECT_EQ(wps.Calls()[0], "app.Version[call]()");
    EXPECT_EQ(s.W->FServerVersion, 11);
  }
  {
    Scope s;
    UnregisterAutomationClass(kWordApplication);
    try {
      s.W->OpenDocument(s.P.Dir / "a.doc");
      FAIL();
    } catch (const EOleError& e) {
      // The stand-in's failure would hide why the word processor itself could not be had.
      EXPECT_STREQ(e.what(), "Invalid class string, ProgID: \"Word.Application\"");
    }
    EXPECT_TRUE(IsNullRef(s.W->FApp));
  }
}

TEST(WordOle, MacrosAskTheDocumentOnlyFromVersionTwelve) {
  Scope s;
  FakeWord w("Word.Application", "11.0");
  s.W->OpenDocument(s.P.Dir / "a.doc");
  size_t before = w.Calls().size();
  EXPECT_TRUE(s.W->HasMacros());
  EXPECT_EQ(w.Calls().size(), before);  // no call below version 12
  s.W->FServerVersion = 12;
  EXPECT_FALSE(s.W->HasMacros());
  EXPECT_EQ(w.Calls().back(), "doc.HasVBProject[call]()");
  w.Doc->Faults["HasVBProject"] = "no";
  EXPECT_TRUE(s.W->HasMacros());
  EXPECT_EQ(s.W->GetServerExe(), "/usr/lib/libreoffice/program/soffice");
}

TEST(WordOle, CloseAndQuitOnNullMakeNoCall) {
  Scope s;
  FakeWord w;
  s.W->CloseDocument();
  s.W->QuitServer();
  EXPECT_TRUE(w.Calls().empty());
}

TEST(WordOle, DestructionQuitsTheServer) {
  Scope s;
  FakeWord w;
  s.W->OpenDocument(s.P.Dir / "a.doc");
  s.W->CloseDocument();
  s.W.reset();
  EXPECT_EQ(w.Calls().back(), "app.Quit[call](false)");
}

TEST(WordOle, NamesThatAreNotUtf8ReachTheOfficeThroughALink) {
  Scope s;
  FakeWord w;
  std::string doc = s.P.Dir / "caf\xe9.doc";
  kxtest::WriteFile(doc, "document");
  auto openedName = [&] {
    for (size_t i = w.Log->Calls.size(); i-- > 0;)
      if (w.Log->Calls[i].rfind("docs.Open", 0) == 0) return Utf16ToUtf8(w.Log->Raw[i].Args.back().Str);
    return std::string();
  };
  s.W->OpenDocument(doc);
  std::string given = openedName();
  EXPECT_TRUE(IsValidUtf8(given)) << given;
  EXPECT_EQ(ExtractFileExt(given), ".doc");  // the office still sees what kind of file it is
  char target[4096] = {};
  ASSERT_GT(readlink(given.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), doc);
  EXPECT_EQ(kxtest::ReadFile(given), "document");
  s.W->CloseDocument();
  struct stat st {};
  EXPECT_NE(lstat(given.c_str(), &st), 0);  // gone with the document
  EXPECT_TRUE(DirectoryExists(ExtractFilePath(given)));
  std::string plain = s.P.Dir / "caf\xc3\xa9.doc";
  kxtest::WriteFile(plain, "document");
  s.W->OpenDocument(plain);
  EXPECT_EQ(openedName(), plain);  // a UTF-8 name goes as it is
  s.W->CloseDocument();
  s.W.reset();
  EXPECT_FALSE(DirectoryExists(ExtractFilePath(given)));
  EXPECT_EQ(kxtest::ReadFile(doc), "document");
}

TEST(WordOle, TheLinkSweepRemovesOnlyOwnFoldersOfEndedProcesses) {
  kxtest::TempDir root;
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  std::string dead = "lumipix-links-" + std::to_string(ended) + "-";
  std::string keep = root.Path() + "keep/";
  ASSERT_EQ(mkdir(keep.c_str(), 0700), 0);
  kxtest::WriteFile(keep + "document.doc", "x");
  ASSERT_EQ(mkdir((root.Path() + dead + "own").c_str(), 0700), 0);
  ASSERT_EQ(symlink(keep.c_str(), (root.Path() + dead + "link").c_str()), 0);
  ASSERT_EQ(mkdir((root.Path() + "lumipix-links-" + std::to_string(getpid()) + "-live").c_str(), 0700), 0);
  bool asRoot = geteuid() == 0;
  if (asRoot) {
    ASSERT_EQ(mkdir((root.Path() + dead + "other").c_str(), 0700), 0);
    ASSERT_EQ(chown((root.Path() + dead + "other").c_str(), 65534, 65534), 0);
  }
  SweepLinkFolders(root.Path());
  EXPECT_FALSE(DirectoryExists(root.Path() + dead + "own/"));
  struct stat st {};
  EXPECT_EQ(lstat((root.Path() + dead + "link").c_str(), &st), 0);  // a link is never followed or taken
  EXPECT_TRUE(FileExists(keep + "document.doc"));
  EXPECT_TRUE(DirectoryExists(root.Path() + "lumipix-links-" + std::to_string(getpid()) + "-live/"));
  if (asRoot) {
    EXPECT_TRUE(DirectoryExists(root.Path() + dead + "other/"));  // another account's
  }
}
