// The window and its journal: cards written through the device are committed,
// come back after an end without a save, and are saved on the way out.
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>

#include "StationHarness.h"
#include "journal/Journal.h"
#include "journal/ui/JournalDialog.h"

namespace {

const char* const kWritten = "1B 72 70 1C";

class JournalLinkTest : public StationTest {
 protected:
  // A window as the next start of the program makes it, on the same journal.
  void Restart() {
    form = std::make_unique<TForm1>(Config());
    auto recorder = std::make_unique<RecordingPrompts>();
    prompts = recorder.get();
    form->SetPrompts(std::move(recorder));
    form->SetCardListFolder(lists_.path().toStdString());
  }

  void WriteCard(const char* text) {
    Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText(text);
    const int beeps = prompts->beeps;
    form->BitBtn3Click();
    Reply(kWritten);
    ASSERT_TRUE(Eventually([&] { return prompts->beeps == beeps + 1; }, "the card to be counted"));
  }

  QTemporaryDir lists_;
};

TEST_F(JournalLinkTest, UnsavedCardsComeBackAtStartAndAreSavedOnClose) {
  Restart();
  EXPECT_NE(Panel(2), QStringLiteral("已恢复上次未保存的 0 条写卡记录。"));
  OpenPort();
  TickTracks(true, false);
  WriteCard("11");
  WriteCard("12");
  ASSERT_NE(form->journal(), nullptr);
  EXPECT_EQ(form->journal()->Cards({}).size(), 2);

  Restart();  // as after a crash: nothing was saved
  EXPECT_EQ(LogLines(), (QStringList{QStringLiteral("磁道1卡号:11"), QStringLiteral("磁道1卡号:12")}));
  EXPECT_EQ(Panel(2), QStringLiteral("已恢复上次未保存的 2 条写卡记录。"));

  form->close();
  EXPECT_TRUE(LogLines().isEmpty()) << "closing saved the list";
  EXPECT_EQ(QDir(lists_.path()).entryList({QStringLiteral("*.txt")}).size(), 1);
  Restart();
  EXPECT_TRUE(LogLines().isEmpty()) << "a saved card does not come back";
}

TEST_F(JournalLinkTest, WrittenNumberIsAskedAboutThroughTheWindow) {
  OpenPort();
  TickTracks(true, false);
  WriteCard("21");
  prompts->answer = false;
  device.ClearReceived();
  form->BitBtn3Click();
  ASSERT_EQ(prompts->questions.size(), 1u);
  EXPECT_TRUE(prompts->questions[0].startsWith(QStringLiteral("卡号 21（磁道2）已于 ")));
  form->ToolButton4Click();
  EXPECT_TRUE(Received("1B6A")) << "否 sent nothing";
}

TEST_F(JournalLinkTest, GuardSwitchedOffRewritesOwnNumbersButAsksAboutOthers) {
  StationConfig config = Config();
  config.duplicateCheck = false;
  form = std::make_unique<TForm1>(config);
  auto recorder = std::make_unique<RecordingPrompts>();
  prompts = recorder.get();
  form->SetPrompts(std::move(recorder));
  OpenPort();
  TickTracks(true, false);
  WriteCard("31");
  WriteCard("31");
  EXPECT_TRUE(prompts->questions.empty());
  ASSERT_TRUE(form->journal()->Reserve(QStringLiteral("other"), {{2, "32"}}).isEmpty());
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("32");
  form->BitBtn3Click();
  EXPECT_EQ(prompts->questions.size(), 1u);
}

TEST_F(JournalLinkTest, RecordButtonOpensTheJournalDialog) {
  EXPECT_EQ(Find<QToolButton>(*form, "ToolButton9")->accessibleName(), QStringLiteral("记录"));
  Find<QToolButton>(*form, "ToolButton9")->click();
  ASSERT_NE(form->journalDialog(), nullptr);
  EXPECT_TRUE(form->journalDialog()->isVisible());
  EXPECT_FALSE(form->journalDialog()->isModal());
  EXPECT_EQ(form->journalDialog()->windowTitle(), QStringLiteral("写卡记录"));
}

}  // namespace
