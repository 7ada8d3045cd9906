// The card data operations of the main window: record-file loading, the
// written-card list with its save and limit, and the number increase's message.

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FindControl.h"
#include "GbkLabels.h"
#include "TempDir.h"
#include "TestConfig.h"
#include "station/MainWindow.h"

namespace {

using station::testing_support::Find;
using station::testing_support::kTrack2LabelGbk;
using station::testing_support::kTrack3LabelGbk;
using station::testing_support::ReadBytes;
using station::testing_support::TempDir;

class RecordingPrompts : public Prompts {
 public:
  void Message(const QString& text) override { messages.push_back(text); }
  void Info(const QString& text) override { infos.push_back(text); }
  void Error(const QString& text) override { errors.push_back(text); }
  QString OpenFileName(QWidget*) override { return nextFileName; }
  void Beep() override {}
  bool Question(const QString&) override { return false; }

  std::vector<QString> messages;
  std::vector<QString> infos;
  std::vector<QString> errors;
  QString nextFileName;  // empty: the operator cancels
};

class CardDataWindowTest : public testing::Test {
 protected:
  CardDataWindowTest() {
    auto prompts = std::make_unique<RecordingPrompts>();
    prompts_ = prompts.get();
    form_.SetPrompts(std::move(prompts));
    form_.SetCardListFolder(dir_.Path());
  }

  // Ticks the track and its file box, as the operator does before browsing.
  void ChooseFileWriting(QCheckBox* trackBox, QCheckBox* fileBox) {
    trackBox->setEnabled(true);
    trackBox->setChecked(true);
    fileBox->setChecked(true);
  }

  // The next record of a track's file, as a run from files loads it.
  void LoadNext(int track) {
    const std::string n = std::to_string(track);
    form_.recordFiles().LoadNext(track, {Find<QPlainTextEdit>(form_, ("Track" + n + "Memo").c_str()),
                                         Find<QLineEdit>(form_, ("tk" + n + "file_step").c_str()),
                                         Find<QLabel>(form_, ("tk" + n + "disp").c_str())});
  }

  void Browse(QToolButton* button, const std::filesystem::path& file) {
    prompts_->nextFileName = QString::fromStdString(file.string());
    button->click();
  }

  // The files the saves created, by name.
  std::vector<std::filesystem::path> SavedFiles() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
      if (entry.path().extension() == ".txt") files.push_back(entry.path());
    }
    return files;
  }

  TempDir dir_;
  TForm1 form_{station::testing_support::OfflineConfig(dir_.Path())};
  RecordingPrompts* prompts_ = nullptr;
};

TEST_F(CardDataWindowTest, BrowseLoadsFirstRecordAndShowsPath) {
  const auto file = dir_.Write("cards.txt", "  A001 \r\n002\r\n");
  ChooseFileWriting(Find<QCheckBox>(form_, "TK2CheckBox"), Find<QCheckBox>(form_, "tk2filename"));
  Browse(Find<QToolButton>(form_, "tk2Sb"), file);

  EXPECT_TRUE(prompts_->infos.empty());
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track2Memo")->toPlainText(), "A001");
  EXPECT_EQ(Find<QLabel>(form_, "tk2disp")->text(), QString::fromStdString(file.string()));
  EXPECT_FALSE(Find<QLabel>(form_, "tk2disp")->isHidden());
  EXPECT_EQ(form_.session().fileCount(2), 0);
  EXPECT_TRUE(form_.session().files()[2].chosen);
  EXPECT_FALSE(form_.session().files()[3].chosen);

  EXPECT_TRUE(form_.recordFiles().RecordsLeft(2));
  LoadNext(2);
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track2Memo")->toPlainText(), "002");
  EXPECT_FALSE(form_.recordFiles().RecordsLeft(2));
}

TEST_F(CardDataWindowTest, RecordsBeyondTypingRulesLoadWhole) {
  const std::string forty = "ABCDEFGHIJ" + std::string(30, '9');
  ChooseFileWriting(Find<QCheckBox>(form_, "TK2CheckBox"), Find<QCheckBox>(form_, "tk2filename"));
  Browse(Find<QToolButton>(form_, "tk2Sb"), dir_.Write("long.txt", forty + "\n"));
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track2Memo")->toPlainText().toStdString(), forty);

  // Bytes above 127 stand for themselves, one character each.
  Browse(Find<QToolButton>(form_, "tk2Sb"), dir_.Write("high.txt",
                                                       "\xe9\xff"
                                                       "1\n"));
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track2Memo")->toPlainText().toLatin1().toStdString(),
            "\xe9\xff"
            "1");
}

TEST_F(CardDataWindowTest, BlankFirstLineLoadsEmptyRecordWithPath) {
  ChooseFileWriting(Find<QCheckBox>(form_, "TK2CheckBox"), Find<QCheckBox>(form_, "tk2filename"));
  Find<QPlainTextEdit>(form_, "Track2Memo")->setPlainText("old");
  Browse(Find<QToolButton>(form_, "tk2Sb"), dir_.Write("blank.txt", "\r\n001\r\n"));
  EXPECT_TRUE(prompts_->infos.empty());
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track2Memo")->toPlainText(), "");
  EXPECT_FALSE(Find<QLabel>(form_, "tk2disp")->isHidden());
}

TEST_F(CardDataWindowTest, LoadFailuresLeaveNoFileChosenAndFieldUnchanged) {
  struct Case {
    const char* name;
    std::filesystem::path file;
    QString message;
  };
  const Case cases[] = {
      {"zero bytes", dir_.Write("empty.txt", ""), QStringLiteral("文件无内容，请重试!")},
      {"Ctrl+Z first",
       dir_.Write("ctrlz.txt",
                  "\x1a"
                  "001\n"),
       QStringLiteral("文件无内容，请重试!")},
      {"missing file", dir_.Path() / "missing.txt", QStringLiteral("文件读写错误，请重试!")},
      {"folder, not a file", dir_.Path(), QStringLiteral("文件读写错误，请重试!")},
      {"a line of a megabyte", dir_.Write("huge.txt", std::string(1 << 20, '7') + "\n"),
       QStringLiteral("磁道3数据含有不能写入的字符或超长：") + QString(104, '7') + "…"},
  };
  ChooseFileWriting(Find<QCheckBox>(form_, "TK3CheckBox"), Find<QCheckBox>(form_, "tk3filename"));
  const auto good = dir_.Write("good.txt", "777\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Browse(Find<QToolButton>(form_, "tk3Sb"), good);
    ASSERT_FALSE(Find<QLabel>(form_, "tk3disp")->isHidden());
    prompts_->infos.clear();

    Browse(Find<QToolButton>(form_, "tk3Sb"), c.file);
    EXPECT_EQ(prompts_->infos, std::vector<QString>{c.message});
    EXPECT_TRUE(Find<QLabel>(form_, "tk3disp")->isHidden());
    EXPECT_EQ(Find<QLabel>(form_, "tk3disp")->text(), QStringLiteral("文件名"));
    EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track3Memo")->toPlainText(), "777");
    EXPECT_FALSE(form_.session().files()[3].file.IsOpen());
    EXPECT_FALSE(form_.session().files()[3].chosen);
  }
}

TEST_F(CardDataWindowTest, CancelledDialogDropsEarlierChoice) {
  ChooseFileWriting(Find<QCheckBox>(form_, "TK2CheckBox"), Find<QCheckBox>(form_, "tk2filename"));
  Browse(Find<QToolButton>(form_, "tk2Sb"), dir_.Write("cards.txt", "001\n"));
  Browse(Find<QToolButton>(form_, "tk2Sb"), {});
  EXPECT_TRUE(prompts_->infos.empty());
  EXPECT_TRUE(Find<QLabel>(form_, "tk2disp")->isHidden());
  EXPECT_EQ(Find<QLabel>(form_, "tk2disp")->text(), QStringLiteral("文件名"));
  EXPECT_EQ(form_.session().fileCount(2), 0);
  EXPECT_FALSE(form_.session().files()[2].file.IsOpen());
  EXPECT_FALSE(form_.session().files()[2].chosen);
}

TEST_F(CardDataWindowTest, UntickingFileBoxOrTrackBoxClosesDataFile) {
  const auto file = dir_.Write("cards.txt", "001\n002\n");
  ChooseFileWriting(Find<QCheckBox>(form_, "TK2CheckBox"), Find<QCheckBox>(form_, "tk2filename"));
  Browse(Find<QToolButton>(form_, "tk2Sb"), file);
  Find<QCheckBox>(form_, "tk2filename")->setChecked(false);
  EXPECT_FALSE(form_.session().files()[2].file.IsOpen());
  EXPECT_FALSE(form_.session().files()[2].chosen);
  EXPECT_TRUE(Find<QLabel>(form_, "tk2disp")->isHidden());

  Find<QCheckBox>(form_, "tk2filename")->setChecked(true);
  Browse(Find<QToolButton>(form_, "tk2Sb"), file);
  Find<QCheckBox>(form_, "TK2CheckBox")->setChecked(false);
  EXPECT_FALSE(form_.session().files()[2].file.IsOpen());
  EXPECT_FALSE(form_.session().files()[2].chosen);
  EXPECT_EQ(Find<QLabel>(form_, "tk2disp")->text(), QStringLiteral("文件名"));
}

TEST_F(CardDataWindowTest, SameFileOnBothTracksAdvancesIndependently) {
  const auto file = dir_.Write("shared.txt", "001\n002\n003\n");
  ChooseFileWriting(Find<QCheckBox>(form_, "TK2CheckBox"), Find<QCheckBox>(form_, "tk2filename"));
  ChooseFileWriting(Find<QCheckBox>(form_, "TK3CheckBox"), Find<QCheckBox>(form_, "tk3filename"));
  Browse(Find<QToolButton>(form_, "tk2Sb"), file);
  Browse(Find<QToolButton>(form_, "tk3Sb"), file);
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track2Memo")->toPlainText(), "001");
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track3Memo")->toPlainText(), "001");
  LoadNext(2);
  LoadNext(2);
  LoadNext(3);
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track2Memo")->toPlainText(), "003");
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Track3Memo")->toPlainText(), "002");
  EXPECT_FALSE(form_.recordFiles().RecordsLeft(2));
  EXPECT_TRUE(form_.recordFiles().RecordsLeft(3));
}

TEST_F(CardDataWindowTest, SaveWritesGbkLabelsAndCrLfThenEmptiesList) {
  form_.cardList().Append(2, "0001");
  form_.cardList().Append(3, QString::fromLatin1("12=\xe9"));
  ASSERT_EQ(Find<QPlainTextEdit>(form_, "Memo1")->toPlainText(), QStringLiteral("磁道1卡号:0001\n磁道2卡号:12=\u00e9"));

  Find<QToolButton>(form_, "SpeedButton1")->click();
  EXPECT_TRUE(prompts_->errors.empty());
  const auto files = SavedFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ReadBytes(files[0]), kTrack2LabelGbk + "0001\r\n" + kTrack3LabelGbk + "12=\xe9\r\n");
  EXPECT_TRUE(Find<QPlainTextEdit>(form_, "Memo1")->document()->isEmpty());
  EXPECT_EQ(Find<QLabel>(form_, "MainStatusBarPanel2")->text(),
            QStringLiteral("已保存到 ") + QString::fromStdString(files[0].string()));
}

// The name starts with today's year, month (counted from 1) and day, as the
// clock tells them independently of the station.
TEST_F(CardDataWindowTest, SavingEmptyListGivesZeroByteFileNamedForToday) {
  const auto datePart = [] {
    const QDate today = QDate::currentDate();
    return QStringLiteral("%1%2%3").arg(today.year()).arg(today.month()).arg(today.day()).toStdString();
  };
  const std::string before = datePart();
  Find<QToolButton>(form_, "SpeedButton1")->click();
  const std::string after = datePart();
  const auto files = SavedFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(files[0]), 0u);
  const std::string name = files[0].filename().string();
  EXPECT_TRUE(name.rfind(before, 0) == 0 || name.rfind(after, 0) == 0) << name << " is not named for " << before;
}

TEST_F(CardDataWindowTest, FailedSaveKeepsListAndShowsReason) {
  const auto folder = dir_.Path() / "no-drive-c";
  form_.SetCardListFolder(folder);
  form_.cardList().Append(2, "0001");
  Find<QToolButton>(form_, "SpeedButton1")->click();
  ASSERT_EQ(prompts_->errors.size(), 1u);
  const QString error = prompts_->errors[0];
  EXPECT_TRUE(error.startsWith("Cannot create file \"" + QString::fromStdString(folder.string()) + "/"))
      << error.toStdString();
  EXPECT_TRUE(error.endsWith(".txt\". No such file or directory")) << error.toStdString();
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Memo1")->toPlainText(), QStringLiteral("磁道1卡号:0001"));
  EXPECT_FALSE(Find<QLabel>(form_, "MainStatusBarPanel2")->text().startsWith(QStringLiteral("已保存到")));
}

TEST_F(CardDataWindowTest, LongEntryCountsAsTheLinesItWrapsTo) {
  form_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  EXPECT_EQ(form_.cardList().DisplayLines(), 0);
  form_.cardList().Append(2, "0001");
  EXPECT_EQ(form_.cardList().DisplayLines(), 1);
  form_.cardList().Append(3, QString(104, QLatin1Char('9')));
  const int longLines = form_.cardList().DisplayLines() - 1;
  // 104 digits cannot fit the list's narrow view on one line or two.
  EXPECT_GE(longLines, 3);
  form_.cardList().Append(3, QString(104, QLatin1Char('9')));
  EXPECT_EQ(form_.cardList().DisplayLines(), 1 + 2 * longLines);
}

TEST_F(CardDataWindowTest, LimitSavesThenEmptiesAtTwoThousandDisplayLines) {
  form_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  // Wrapped entries reach the limit with far fewer than 2000 entries.
  const QString longText(104, QLatin1Char('1'));
  int entries = 0;
  while (form_.cardList().DisplayLines() < 1999) {
    form_.cardList().Append(3, longText);
    ++entries;
  }
  if (form_.cardList().DisplayLines() == 1999) {
    form_.EnforceCardLogLimit();
    EXPECT_TRUE(SavedFiles().empty()) << "one line short of the limit";
    form_.cardList().Append(2, "0001");
    ++entries;
  }
  ASSERT_LT(entries, 2000);

  form_.EnforceCardLogLimit();
  EXPECT_TRUE(prompts_->errors.empty());
  EXPECT_TRUE(Find<QPlainTextEdit>(form_, "Memo1")->document()->isEmpty());
  const auto files = SavedFiles();
  ASSERT_EQ(files.size(), 1u);
  const std::string saved = ReadBytes(files[0]);
  std::size_t lines = 0;
  for (std::size_t at = saved.find("\r\n"); at != std::string::npos; at = saved.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, static_cast<std::size_t>(entries));
}

TEST_F(CardDataWindowTest, LimitKeepsListWhenItsSaveFails) {
  form_.SetCardListFolder(dir_.Path() / "no-drive-c");
  for (int i = 0; i < 2000; ++i) form_.cardList().Append(2, QString::number(i));
  form_.EnforceCardLogLimit();
  ASSERT_EQ(prompts_->errors.size(), 1u);
  EXPECT_TRUE(prompts_->errors[0].startsWith("Cannot create file \""));
  EXPECT_EQ(Find<QPlainTextEdit>(form_, "Memo1")->document()->blockCount(), 2000);

  form_.SetCardListFolder(dir_.Path());
  form_.EnforceCardLogLimit();
  EXPECT_TRUE(Find<QPlainTextEdit>(form_, "Memo1")->document()->isEmpty())
      << "the next reply saves what the failed one kept";
  ASSERT_EQ(SavedFiles().size(), 1u);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
