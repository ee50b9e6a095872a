// Control bindings on real Qt widgets, offscreen.
#include "core/proplist.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>

#include "core/project.h"
#include "testutil.h"

using kx::Project;
using kx::TkxPropList;

namespace {

struct Controls {
  QLineEdit Source, Target;
  QCheckBox Subdir;
  Controls() {
    Source.setObjectName("eSource");
    Source.setProperty("hint", "Text");
    Subdir.setObjectName("cSubdir");
    Subdir.setProperty("hint", "Checked");
    Target.setObjectName("eTarget");
    Target.setProperty("hint", "Text");
    for (QObject* c : {static_cast<QObject*>(&Source), static_cast<QObject*>(&Subdir), static_cast<QObject*>(&Target)})
      Project->RegisterControl(c);
  }
};

}  // namespace

TEST(PropList, CheckBoxTakesOnlyBooleanIdentifiers) {
  QCheckBox box;
  TkxPropList p(&box);
  EXPECT_GT(p.PropCount(), 10);
  p.SetValue("Checked", "true");
  EXPECT_TRUE(box.isChecked());
  EXPECT_EQ(p.GetValue("checked"), "True");
  p.SetValue("Checked", "FALSE");
  EXPECT_FALSE(box.isChecked());
  box.setChecked(true);
  p.SetValue("Checked", "");
  EXPECT_FALSE(box.isChecked());  // the empty text counts as False
  p.SetValue("Checked", "1");
  EXPECT_FALSE(box.isChecked());  // not an identifier: unchanged
  box.setChecked(true);
  p.SetValue("Checked", "yes");
  EXPECT_TRUE(box.isChecked());
  EXPECT_EQ(p.GetValue("Checked"), "True");
}

TEST(PropList, EditTextIntegersEnumsAndUnknownNames) {
  QLineEdit edit;
  TkxPropList p(&edit);
  p.SetValue("Text", "/in/*.doc?");
  EXPECT_EQ(edit.text().toStdString(), "/in/*.doc?");
  p.SetValue("TEXT", "");
  EXPECT_EQ(p.GetValue("Text"), "");
  edit.setMaxLength(77);
  EXPECT_EQ(p.GetValue("maxLength"), "77");
  p.SetValue("maxLength", "5");
  EXPECT_EQ(edit.maxLength(), 77);  // integers are read, never written
  EXPECT_EQ(p.GetValue("echoMode"), "Normal");
  p.SetValue("echoMode", "password");
  EXPECT_EQ(edit.echoMode(), QLineEdit::Password);
  p.SetValue("echoMode", "nonsense");
  EXPECT_EQ(edit.echoMode(), QLineEdit::Password);
  EXPECT_EQ(p.GetValue("NoSuchProperty"), "");
  p.SetValue("NoSuchProperty", "x");  // nothing happens, nothing raises
  EXPECT_EQ(p.GetValue("font"), "");  // any other kind reads as empty
}

TEST(Bindings, ApplyAndCollectThroughTheThreeControls) {
  kxtest::ProjectScope s;
  Controls c;
  Project->SetSettingsText("Source=/in/*.doc?\nSubdir=True\nTarget=/out/\nOther=1");
  Project->ApplyToControls();
  EXPECT_EQ(c.Source.text().toStdString(), "/in/*.doc?");
  EXPECT_TRUE(c.Subdir.isChecked());
  EXPECT_EQ(c.Target.text().toStdString(), "/out/");
  c.Target.clear();
  c.Source.setText("/new/*.doc?");
  Project->CollectFromControls();
  EXPECT_EQ(Project->GetSettingsText(), "Source=/new/*.doc?\r\nSubdir=True\r\nOther=1\r\n");  // no Target line
}

TEST(Bindings, SubdirOneIsTrueForTheRunnerButTheBoxDoesNotTakeIt) {
  kxtest::ProjectScope s;
  Controls c;
  c.Subdir.setChecked(false);
  Project->SetSettingsText("Subdir=1");
  EXPECT_TRUE(Project->Subdir());
  Project->ApplyToControls();
  EXPECT_FALSE(c.Subdir.isChecked());
  Project->CollectFromControls();
  EXPECT_EQ(Project->GetOption("Subdir"), "False");
}

TEST(Bindings, LegacyKeysFillTheFieldAndDisappear) {
  kxtest::ProjectScope s;
  Controls c;
  std::string file = s.Dir / "old.batch-lumipix";
  kxtest::WriteFile(file, "eSource.Text=/docs/*.doc?\r\ncSubdir.Checked=True\r\n");
  Project->FileName = file;
  Project->OpenProject(true);
  EXPECT_EQ(c.Source.text().toStdString(), "/docs/*.doc?");
  EXPECT_TRUE(c.Subdir.isChecked());
  EXPECT_EQ(Project->GetSettingsText(), "");
  Project->SaveProject();
  EXPECT_EQ(kxtest::ReadFile(file), "Source=/docs/*.doc?\r\nSubdir=True\r\n");
}

TEST(Bindings, SavingANewProjectWritesSourceSubdirTargetInOrder) {
  kxtest::ProjectScope s;
  Controls c;
  Project->NewProject();
  EXPECT_EQ(c.Source.text().toStdString(), "");
  c.Target.setText("/out/");
  c.Source.setText("/in/*.doc?");
  c.Subdir.setChecked(true);
  Project->FileName = s.Dir / "new.batch-lumipix";
  Project->SaveProject();
  EXPECT_EQ(kxtest::ReadFile(Project->FileName), "Source=/in/*.doc?\r\nSubdir=True\r\nTarget=/out/\r\n");
}

TEST(Bindings, DocumentOpeningShowsSourceAndDefaultTarget) {
  kxtest::ProjectScope s;
  Controls c;
  Project->ParseCommandLine(s.Dir / "w/a.doc");
  EXPECT_EQ(c.Source.text().toStdString(), s.Dir / "w/a.doc");
  EXPECT_EQ(c.Target.text().toStdString(), s.Dir / "w/");
  Project->ReleaseControls();
  EXPECT_EQ(c.Source.property("tag").toLongLong(), -1);
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
