#include "convert/olecall.h"

#include <gtest/gtest.h>

#include "convert/fakeserver.h"
#include "testutil.h"

using namespace kx;
using kxtest::CallLog;
using kxtest::FakeServer;

namespace {
struct Server {
  std::shared_ptr<CallLog> Log = std::make_shared<CallLog>();
  std::shared_ptr<FakeServer> S = std::make_shared<FakeServer>(Log);
  Variant Ref() const { return Variant::FromDispatch(S); }
};

std::string MessageOf(const std::function<void()>& f) { return kxtest::FailureText(f); }
}  // namespace

TEST(CreateOleObject, UnknownClassAndFailingFactoryNameTheProgId) {
  EXPECT_EQ(MessageOf([] { CreateOleObject("No.Such.Class"); }), "Invalid class string, ProgID: \"No.Such.Class\"");
  RegisterAutomationClass("Test.Failing", [](std::shared_ptr<IDispatch>&) { return CO_E_SERVER_EXEC_FAILURE; });
  EXPECT_EQ(MessageOf([] { CreateOleObject("Test.Failing"); }), "Server execution failed, ProgID: \"Test.Failing\"");
  RegisterAutomationClass("Test.Odd", [](std::shared_ptr<IDispatch>&) { return HRESULT(0x80041234); });
  EXPECT_EQ(MessageOf([] { CreateOleObject("Test.Odd"); }), "OLE error 80041234, ProgID: \"Test.Odd\"");
  Server s;
  RegisterAutomationClass("Test.Good", [&](std::shared_ptr<IDispatch>& out) {
    out = s.S;
    return S_OK;
  });
  EXPECT_EQ(CreateOleObject("test.good").Disp, s.S);  // class names ignore letter case
  UnregisterAutomationClass("Test.Good");
}

TEST(OleInvoke, RefusesBeforeTouchingTheServer) {
  Server s;
  EXPECT_EQ(MessageOf([] { OleGet(Variant::Null(), "Count"); }), "Variant does not reference an automation object");
  EXPECT_EQ(MessageOf([] { OleGet(Variant::FromInt(3), "Count"); }), "Variant does not reference an automation object");
  std::vector<TkxOleArg> many(65, TkxOleArg::Int(1));
  EXPECT_EQ(MessageOf([&] { OleGet(s.Ref(), "Count", many); }),
            "Dispatch methods do not support more than 64 parameters");
  s.S->Unknown.insert("Bogus");
  int32_t touched = 5;
  EXPECT_EQ(MessageOf([&] { OleGet(s.Ref(), "Bogus", {TkxOleArg::Ref(&touched)}); }),
            "Method 'Bogus' not supported by automation object");
  EXPECT_TRUE(s.Log->Calls.empty());
  EXPECT_EQ(s.S->Lookups, 1);
  std::vector<TkxOleArg> sixtyFour(64, TkxOleArg::Int(1));
  OleCall(s.Ref(), "Wide", sixtyFour);
  EXPECT_EQ(s.Log->Raw.back().Args.size(), 64u);
}

TEST(OleInvoke, ArgumentsReversedWithTheirKinds) {
  Server s;
  Variant v = Variant::FromUtf8("kept");
  OleCall(s.Ref(), "Open",
          {TkxOleArg::Text("/a b/ä.doc"), TkxOleArg::Omitted(), TkxOleArg::Bool(true), TkxOleArg::Int(-7),
           TkxOleArg::Var(v)});
  EXPECT_EQ(s.Log->Calls.back(), "Open[call](\"/a b/ä.doc\",omitted,true,-7,\"kept\")");
  const DispParams& raw = s.Log->Raw.back();
  EXPECT_EQ(raw.Args[0].Type, VarType::String);  // the last argument comes first
  EXPECT_EQ(raw.Args[4].Type, VarType::String);
  EXPECT_EQ(raw.Args[3].Type, VarType::Error);
  EXPECT_EQ(raw.Args[3].Int, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(raw.Args[2].Int, -1);  // Boolean true has all bits set
  EXPECT_TRUE(raw.NamedArgs.empty());
  EXPECT_EQ(s.Log->Flags.back(), DISPATCH_METHOD);
}

TEST(OleInvoke, CallKindsAndPuts) {
  Server s;
  s.S->Results["Count"] = Variant::FromInt(3);
  EXPECT_EQ(VarToInt(OleGet(s.Ref(), "Count")), 3);
  EXPECT_EQ(s.Log->Flags.back(), DISPATCH_METHOD | DISPATCH_PROPERTYGET);  // no arguments, a result wanted
  OleCall(s.Ref(), "Count");
  EXPECT_EQ(s.Log->Flags.back(), DISPATCH_METHOD);
  OlePut(s.Ref(), "Visible", TkxOleArg::Bool(true));
  EXPECT_EQ(s.Log->Flags.back(), DISPATCH_PROPERTYPUT);
  EXPECT_EQ(s.Log->Raw.back().NamedArgs, (std::vector<int32_t>{DISPID_PROPERTYPUT}));
  Server other;
  OlePut(s.Ref(), "Target", TkxOleArg::Var(other.Ref()));
  EXPECT_EQ(s.Log->Flags.back(), DISPATCH_PROPERTYPUTREF);
}

TEST(OleInvoke, ByReferenceResultsAreWrittenBack) {
  Server s;
  s.S->WriteIntRef["Goto"] = 42;
  s.S->WriteStrRef["Name"] = u"changed";
  int32_t i = 1;
  std::string text = "before";
  OleCall(s.Ref(), "Goto", {TkxOleArg::Int(1), TkxOleArg::Int(1), TkxOleArg::Ref(&i)});
  EXPECT_EQ(s.Log->Calls.back(), "Goto[call](1,1,&1)");
  EXPECT_EQ(i, 42);
  OleCall(s.Ref(), "Name", {TkxOleArg::Ref(&text)});
  EXPECT_EQ(text, "changed");
}

TEST(OleInvoke, ResultsIncludingByteArraysAndReferences) {
  Server s;
  s.S->Results["EnhMetaFileBits"] = Variant::FromBytes({1, 2, 3});
  Variant bits = OleGet(s.Ref(), "EnhMetaFileBits");
  EXPECT_EQ(bits.Bytes, (std::vector<uint8_t>{1, 2, 3}));
  Variant inner = s.Ref();
  Variant byRef = Variant::RefTo(&inner);
  OleCall(byRef, "Ping");  // a reference to a dispatch interface is a target too
  EXPECT_EQ(s.Log->Calls.back(), "Ping[call]()");
}

TEST(OleInvoke, FailureTexts) {
  Server s;
  s.S->Faults["Open"] = "The file is damaged. \r\n";
  try {
    OleCall(s.Ref(), "Open");
    FAIL();
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.what(), "The file is damaged");
    EXPECT_EQ(e.Source, "Fake");
    EXPECT_EQ(e.HelpFile, "fake.hlp");
    EXPECT_EQ(e.HelpContext, 7);
  }
  s.S->Faults["Dots"] = "Wait...";
  EXPECT_EQ(MessageOf([&] { OleCall(s.Ref(), "Dots"); }), "Wait");
  s.S->Codes["Typed"] = DISP_E_TYPEMISMATCH;
  EXPECT_EQ(MessageOf([&] { OleCall(s.Ref(), "Typed"); }), "Type mismatch");
  s.S->Codes["Odd"] = HRESULT(0x8004ABCD);
  EXPECT_EQ(MessageOf([&] { OleCall(s.Ref(), "Odd"); }), "OLE error 8004abcd");
}

TEST(VariantRules, Conversions) {
  EXPECT_EQ(VarToInt(Variant::FromUtf8("12")), 12);
  EXPECT_EQ(VarToInt(Variant::FromBool(true)), -1);
  EXPECT_THROW(VarToInt(Variant::FromUtf8("abc")), EVariantError);
  EXPECT_THROW(VarToInt(Variant::Null()), EVariantError);
  EXPECT_TRUE(VarToBool(Variant::FromUtf8("true")));
  EXPECT_FALSE(VarToBool(Variant::FromInt(0)));
  EXPECT_EQ(VarToStr(Variant::FromInt(-5)), "-5");
  EXPECT_EQ(VarToStr(Variant::FromBool(false)), "False");
  EXPECT_TRUE(VarEqual(Variant::FromInt(2), Variant::FromUtf8("2")));
  EXPECT_FALSE(VarEqual(Variant::FromInt(2), Variant::FromInt(3)));
  EXPECT_EQ(VarIntDiv(Variant::FromUtf8("16.0"), 1), 16);
  EXPECT_EQ(VarIntDiv(Variant::FromInt(7), 2), 3);
  EXPECT_THROW(VarIntDiv(Variant::FromUtf8("x16"), 1), EVariantError);
  int32_t n = 9;
  EXPECT_EQ(VarToInt(Variant::RefTo(&n)), 9);
  EXPECT_TRUE(IsNullRef(Variant::Null()));
  EXPECT_TRUE(IsNullRef(Variant::FromInt(1)));
}
