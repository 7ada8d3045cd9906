#include "settings/SettingsDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <unistd.h>

#include "TestFiles.h"

namespace {

using testfiles::Slurp;
using testfiles::Spit;

class SettingsDialogTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return std::filesystem::path(dir_.path().toStdString()) / "VavizEvu.ini"; }

  // A dialog on this test's file whose error box records instead of blocking.
  std::unique_ptr<TForm2> Dialog(const std::filesystem::path& path) {
    auto dialog = std::make_unique<TForm2>(nullptr, path);
    dialog->SetErrorBox([this](const QString& text) { errors_ << text; });
    return dialog;
  }
  std::unique_ptr<TForm2> Dialog() { return Dialog(File()); }

  QTemporaryDir dir_;
  QStringList errors_;
};

TEST_F(SettingsDialogTest, LooksAsDesigned) {
  const auto dialog = Dialog();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("系统设置"));
  EXPECT_EQ(dialog->size(), QSize(278, 173));
  EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
  EXPECT_EQ(dialog->Label1->text(), QStringLiteral("串口设定"));
  EXPECT_EQ(dialog->SpeedButton2->text(), QStringLiteral("保存"));
  EXPECT_EQ(dialog->SpeedButton1->text(), QStringLiteral("关闭"));
  EXPECT_FALSE(dialog->cmb1->isEditable());
  QStringList entries;
  for (int i = 0; i < dialog->cmb1->count(); ++i) entries << dialog->cmb1->itemText(i);
  EXPECT_EQ(entries, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
  for (QWidget* w : std::initializer_list<QWidget*>{dialog->Label1, dialog->cmb1, dialog->SpeedButton2,
                                                    dialog->SpeedButton1}) {
    EXPECT_EQ(w->accessibleDescription(), w->objectName());
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
  }
}

struct OpenCase {
  const char* name;
  const char* content;  // nullptr: no settings file
  const char* shown;
};
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }


class SettingsDialogOpenTest : public SettingsDialogTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(SettingsDialogOpenTest, ShowsStoredPort) {
  if (GetParam().content != nullptr) Spit(File(), GetParam().content);
  EXPECT_EQ(Dialog()->cmb1->currentText(), QString::fromLatin1(GetParam().shown));
  EXPECT_TRUE(GetParam().content != nullptr || !std::filesystem::exists(File())) << "opening must not write";
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsDialogOpenTest,
                         ::testing::Values(OpenCase{"NoFile", nullptr, "COM1"},
                                           OpenCase{"StoredCom5", "[Settings]\r\ncomname=COM5\r\n", "COM5"},
                                           OpenCase{"LowerCaseCom3", "[settings]\ncomname=com3\n", "COM3"},
                                           OpenCase{"UnknownValue", "[Settings]\ncomname=COM9\n", "COM1"},
                                           OpenCase{"HandEdited", "[Settings]\ncomname=ttyUSB0\n", "COM1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsDialogTest, SaveWithoutFileCreatesIt) {
  const auto dialog = Dialog();
  dialog->show();
  QTest::mouseClick(dialog->SpeedButton2, Qt::LeftButton);
  EXPECT_EQ(Slurp(File()), "[Settings]\ncomname=COM1\n");
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(SettingsDialogTest, SaveKeepsEveryOtherByte) {
  const std::string before = "[Ports]\r\nCOM2=/dev/ttyUSB1\r\n\r\n[Settings]\r\ncomname=COM5\r\nnote=\xb4\xae\xbf\xda\r\n";
  Spit(File(), before);
  const auto dialog = Dialog();
  dialog->cmb1->setCurrentIndex(1);
  QTest::mouseClick(dialog->SpeedButton2, Qt::LeftButton);
  std::string expected = before;
  expected.replace(expected.find("COM5"), 4, "COM2");
  EXPECT_EQ(Slurp(File()), expected);
  EXPECT_EQ(Dialog()->cmb1->currentText(), QStringLiteral("COM2"));
}

TEST_F(SettingsDialogTest, CloseWritesNothing) {
  const std::string before = "[Settings]\ncomname=COM5\n";
  Spit(File(), before);
  {
    const auto dialog = Dialog();
    dialog->show();
    dialog->cmb1->setCurrentIndex(1);
    QTest::mouseClick(dialog->SpeedButton1, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
  }
  EXPECT_EQ(Slurp(File()), before);
  EXPECT_EQ(Dialog()->cmb1->currentText(), QStringLiteral("COM5"));
}

TEST_F(SettingsDialogTest, FailedSaveReportsPathAndStaysOpen) {
  const testfiles::ReadOnlyFolder folder;
  const auto path = folder.Path() / "VavizEvu.ini";
  const auto dialog = Dialog(path);
  dialog->show();
  dialog->cmb1->setCurrentIndex(3);
  QTest::mouseClick(dialog->SpeedButton2, Qt::LeftButton);
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_EQ(errors_.front(), QStringLiteral("Unable to write to ") + QString::fromStdString(path.string()));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->cmb1->currentText(), QStringLiteral("COM4"));

  // The operator can try again (and fail again) or close the dialog.
  QTest::mouseClick(dialog->SpeedButton2, Qt::LeftButton);
  EXPECT_EQ(errors_.size(), 2);
  QTest::mouseClick(dialog->SpeedButton1, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
}

// Started from another working folder, the dialog still uses the file beside
// the executable.
TEST(SettingsDialogFolderTest, UsesFileBesideExecutableFromAnyWorkingFolder) {
  const auto besideExe = settings::SettingsPath();
  std::filesystem::remove(besideExe);
  QTemporaryDir elsewhere;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path().toStdString());

  {
    TForm2 dialog;
    dialog.SetErrorBox([](const QString& text) { ADD_FAILURE() << text.toStdString(); });
    dialog.cmb1->setCurrentIndex(6);
    QTest::mouseClick(dialog.SpeedButton2, Qt::LeftButton);
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "VavizEvu.ini"));
  EXPECT_EQ(settings::SettingsFile(besideExe).ReadString("Settings", "comname", ""), "COM7");
  EXPECT_EQ(TForm2().cmb1->currentText(), QStringLiteral("COM7"));

  std::filesystem::current_path(previous);
  std::filesystem::remove(besideExe);
}

}  // namespace
