#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

#include <filesystem>
#include <fstream>

#include "StationHarness.h"
#include "core/HexText.h"

namespace {

// Raw bytes of a hex text with blanks, as the device would send them.
std::string Bytes(const std::string& spaced) {
  const std::string hex = Hex(spaced);
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

const QString kPrompt = QStringLiteral("写卡提示：请在写卡灯亮后刷卡");
const QString kSucceeded = QStringLiteral("写卡提示信息：写卡成功，请新写下一张卡");
const QString kFailed = QStringLiteral("写卡提示信息：写卡错误，请重新刷卡");
const char* const kWritten = "1B 72 70 1C";  // decoded text "rp"
const char* const kNotWritten = "1B 72 71 1C";

std::string Frame2(const std::string& text) { return "1B74" + station::TextToHex(text) + "1D1B5C"; }
std::string Frame3(const std::string& text) { return "1B7441" + station::TextToHex(text) + "1D1B5C"; }
std::string Frame23(const std::string& t2, const std::string& t3) {
  return "1B74" + station::TextToHex(t2) + "41" + station::TextToHex(t3) + "1D1B5C";
}

// Notes for every message box whether the operation timer ran while it was
// open: a running timer polls the idle device from inside the box, and the
// status reply would be judged as a failed card.
class TimerWatchingPrompts : public RecordingPrompts {
 public:
  explicit TimerWatchingPrompts(const QTimer& timer) : timer_(timer) {}
  void Message(const QString& text) override {
    RecordingPrompts::Message(text);
    timerRunning.push_back(timer_.isActive());
  }
  void Error(const QString& text) override {
    RecordingPrompts::Error(text);
    timerRunning.push_back(timer_.isActive());
  }
  std::vector<bool> timerRunning;

 private:
  const QTimer& timer_;
};

class CardWritingTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    OpenPort();
  }

  void TearDown() override {
    form.reset();
    std::error_code ignored;
    for (const auto& file : files_) std::filesystem::remove(file, ignored);
    StationTest::TearDown();
  }

  // Starts a run and checks the first command on the wire.
  void PressWrite(const std::string& firstCommand) {
    device.ClearReceived();
    Find<QPushButton>(*form, "BitBtn3")->click();
    ASSERT_TRUE(Received(firstCommand));
    device.ClearReceived();
  }

  // The device answers the armed card; waits for the station to re-arm with
  // `next` (empty: the run has ended and nothing more is sent).
  void Swipe(const char* reply, const std::string& next, int beepsAfter) {
    Reply(reply);
    ASSERT_TRUE(
        Eventually([&] { return prompts->beeps == beepsAfter || Find<QLabel>(*form, "st1")->text() == kFailed; },
                   "the reply to be judged"));
    if (!next.empty()) {
      ASSERT_TRUE(Received(next));
      device.ClearReceived();
    }
  }

  std::string RecordFile(const std::string& name, const std::string& content) {
    const auto path = std::filesystem::temp_directory_path() / ("link-" + std::to_string(::getpid()) + "-" + name);
    std::ofstream(path, std::ios::binary) << content;
    files_.push_back(path);
    return path.string();
  }

  // Chooses a record file for the track through its browse button.
  void ChooseFile(int track, const std::string& path) {
    (track == 2 ? Find<QCheckBox>(*form, "tk2filename") : Find<QCheckBox>(*form, "tk3filename"))->setChecked(true);
    prompts->nextFileName = QString::fromStdString(path);
    if (track == 2) {
      Find<QToolButton>(*form, "tk2Sb")->click();
    } else {
      Find<QToolButton>(*form, "tk3Sb")->click();
    }
  }

  TimerWatchingPrompts* WatchTimer() {
    auto watcher = std::make_unique<TimerWatchingPrompts>(*Find<QTimer>(*form, "OpenTimer"));
    TimerWatchingPrompts* raw = watcher.get();
    prompts = raw;
    form->SetPrompts(std::move(watcher));
    return raw;
  }

  // The count has stopped and nothing goes out after the last command: the
  // status query is the first thing the device receives.
  void ExpectTimerStoppedAndNothingSent(const char* why) {
    EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
    EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("00"));
    Find<QToolButton>(*form, "ToolButton4")->click();
    EXPECT_TRUE(Received("1B6A")) << why;
  }

  // The run has ended: nothing armed, no count, and nothing more on the wire.
  void ExpectRunEnded() {
    EXPECT_EQ(form->session().writeTracks(), 0);
    ExpectTimerStoppedAndNothingSent("nothing was armed");
  }

  std::vector<std::filesystem::path> files_;
};

TEST_F(CardWritingTest, ClosedPortOnlyAsksForThePort) {
  Find<QToolButton>(*form, "ToolButton6")->click();
  TickTracks(true, false);  // ticks survive the closed port's disabled boxes
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  Find<QPushButton>(*form, "BitBtn3")->click();
  EXPECT_EQ(Panel(2), QStringLiteral("请先选择端口打开......"));
  EXPECT_EQ(form->session().cardIndex(), 0);
  EXPECT_EQ(Find<QLabel>(*form, "WriteModePanel")->text(), QStringLiteral("常规写"));
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
}

TEST_F(CardWritingTest, NoTickedTrackResetsStateAndSendsNothing) {
  Find<QCheckBox>(*form, "TK2CheckBox")->setChecked(true);
  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QCheckBox>(*form, "TK2CheckBox")->setChecked(false);  // unticks the continuous box too
  Find<QPushButton>(*form, "BitBtn3")->click();
  EXPECT_EQ(form->session().readTracks(), 0);
  EXPECT_EQ(form->session().cardIndex(), 1);
  EXPECT_EQ(Find<QLabel>(*form, "WriteModePanel")->text(), QStringLiteral("常规写"));
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("★提示信息★:"));
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
  Find<QToolButton>(*form, "ToolButton4")->click();
  EXPECT_TRUE(Received("1B6A")) << "nothing went out before the status query";
}

TEST_F(CardWritingTest, CommandBytesForEachTrackChoice) {
  struct Row {
    bool track2, track3;
    const char* text2;
    const char* text3;
    const char* command;
  };
  const Row rows[] = {
      {true, false, "5", "", "1B74351D1B5C"},
      {false, true, "", "123", "1B74413132331D1B5C"},
      {true, true, "12", "34", "1B7431324133341D1B5C"},
  };
  for (const Row& row : rows) {
    TickTracks(row.track2, row.track3);
    Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText(row.text2);
    Find<QPlainTextEdit>(*form, "Track3Memo")->setPlainText(row.text3);
    PressWrite(row.command);
    EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), kPrompt);
    EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
    EXPECT_EQ(form->session().writeTracks(), row.track2 && row.track3 ? 3 : row.track2 ? 1 : 2);
  }
}

TEST_F(CardWritingTest, RefusedStartShowsWhyAndMovesTheFocus) {
  TickTracks(true, true);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("");
  Find<QPlainTextEdit>(*form, "Track3Memo")->setPlainText("");
  Find<QPushButton>(*form, "BitBtn3")->click();
  ASSERT_EQ(prompts->messages.size(), 1u);
  EXPECT_EQ(prompts->messages[0], QStringLiteral("请输入写卡内容"));
  EXPECT_EQ(form->focusWidget(), Find<QPlainTextEdit>(*form, "Track3Memo"));
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("★提示信息★:"));

  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(*form, "TK2StepEdit")->clear();
  Find<QPushButton>(*form, "BitBtn3")->click();
  ASSERT_EQ(prompts->messages.size(), 2u);
  EXPECT_EQ(prompts->messages[1], QStringLiteral("请输入连续写卡内容和增量数值"));
  EXPECT_EQ(form->focusWidget(), Find<QLineEdit>(*form, "TK2StepEdit"));
  EXPECT_EQ(Find<QLabel>(*form, "WriteModePanel")->text(), QStringLiteral("连续写"));
}

TEST_F(CardWritingTest, ContinuousRunWritesCountCardsThenFinishes) {
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("0099");
  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(*form, "TK2StepEdit")->setText("1");
  Find<QLineEdit>(*form, "WriteCountEdit")->setText("3");
  PressWrite(Frame2("0099"));
  EXPECT_EQ(Find<QLabel>(*form, "WriteModePanel")->text(), QStringLiteral("连续写"));
  EXPECT_EQ(Find<QLabel>(*form, "WriteModePanel")->palette().color(QPalette::Window), QColor(255, 0, 0));

  Swipe(kWritten, Frame2("0100"), 1);
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), kSucceeded);
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  Swipe(kWritten, Frame2("0101"), 2);
  Swipe(kWritten, "", 3);

  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:0099", "磁道1卡号:0100", "磁道1卡号:0101"}));
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("写卡提示信息:3次写成功,写卡完毕！"));
  EXPECT_EQ(Panel(2), QStringLiteral("写卡成功,显示的数据为下一张卡的数据"));
  EXPECT_EQ(Track2(), "0102");
  ExpectTimerStoppedAndNothingSent("no fourth card was armed");
}

TEST_F(CardWritingTest, CountZeroWritesOneCardAndNormalWritingIgnoresTheCount) {
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("7");
  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(*form, "WriteCountEdit")->setText("0");
  PressWrite(Frame2("7"));
  Swipe(kWritten, "", 1);
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("写卡提示信息:0次写成功,写卡完毕！"));
  EXPECT_EQ(Track2(), "8");

  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(false);
  Find<QLineEdit>(*form, "WriteCountEdit")->setText("5");
  PressWrite(Frame2("8"));
  EXPECT_EQ(Find<QLabel>(*form, "WriteModePanel")->text(), QStringLiteral("常规写"));
  Swipe(kWritten, "", 2);
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), kSucceeded);
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
  EXPECT_EQ(Track2(), "8");
  Find<QToolButton>(*form, "ToolButton4")->click();
  EXPECT_TRUE(Received("1B6A"));
  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:7", "磁道1卡号:8"}));
}

TEST_F(CardWritingTest, FailedSwipeResetsAndArmsTheSameData) {
  TickTracks(true, true);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("0001");
  Find<QPlainTextEdit>(*form, "Track3Memo")->setPlainText("9");
  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(*form, "WriteCountEdit")->setText("2");
  PressWrite(Frame23("0001", "9"));
  Tick(*form);
  ASSERT_TRUE(Received("1B6A"));  // the tick's poll, before the line is watched afresh
  device.ClearReceived();

  Reply(kNotWritten);
  ASSERT_TRUE(Eventually([&] { return Find<QLabel>(*form, "st1")->text() == kFailed; }, "the failure"));
  EXPECT_TRUE(Received("1B30" + Frame23("0001", "9")));
  EXPECT_EQ(form->session().elapsedSeconds(), 0);
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  EXPECT_TRUE(LogLines().isEmpty());
  device.ClearReceived();

  // Track 3 keeps its number, which the first card carries now: 是 writes it again.
  prompts->answer = true;
  Swipe(kWritten, Frame23("0002", "9"), 1);
  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:0001", "磁道2卡号:9"}));
  EXPECT_EQ(prompts->questions.size(), 1u);
}

TEST_F(CardWritingTest, ResetLeavesTheWriteArmedAndAFailureRestartsTheTimer) {
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  PressWrite(Frame2("5"));
  Find<QToolButton>(*form, "ToolButton3")->click();
  ASSERT_TRUE(Received("1B30"));
  ASSERT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
  device.ClearReceived();

  Reply(kNotWritten);
  ASSERT_TRUE(Eventually([&] { return Find<QLabel>(*form, "st1")->text() == kFailed; }, "the failure"));
  EXPECT_TRUE(Received("1B30" + Frame2("5")));
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive()) << "the same card is armed again and counted";
  EXPECT_EQ(form->session().writeTracks(), 1);
}

TEST_F(CardWritingTest, SuccessSplitOverChunksCountsOnceOrFailsWhenItsTailNeverComes) {
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  PressWrite(Frame2("5"));
  Reply("1B");
  Reply("72");
  Reply("70 1C");
  ASSERT_TRUE(Eventually([&] { return prompts->beeps == 1; }, "the card to be counted"));
  EXPECT_EQ(LogLines(), QStringList{QStringLiteral("磁道1卡号:5")});

  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("6");
  PressWrite(Frame2("6"));
  Reply("1B 72");
  ASSERT_TRUE(Eventually([&] { return Find<QLabel>(*form, "st1")->text() == kFailed; }, "the short wait to run out"));
  EXPECT_TRUE(Received("1B30" + Frame2("6")));
  EXPECT_EQ(prompts->beeps, 1);
}

TEST_F(CardWritingTest, SecondPressDuringARunStartsOver) {
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("10");
  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(*form, "WriteCountEdit")->setText("5");
  PressWrite(Frame2("10"));
  Swipe(kWritten, Frame2("11"), 1);
  EXPECT_EQ(form->session().cardIndex(), 2);
  PressWrite(Frame2("11"));
  EXPECT_EQ(form->session().cardIndex(), 1);
}

TEST_F(CardWritingTest, ReadStartedDuringARunDisarmsTheWrite) {
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  PressWrite(Frame2("5"));
  Find<QPushButton>(*form, "BitBtn1")->click();
  ASSERT_TRUE(Received("1B5D1B6A"));
  device.ClearReceived();
  Tick(*form);
  EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("1"));
  form->session().ReplyBytes(Bytes("1B 78 1C"));  // neither a read's end nor "rp"
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), kPrompt) << "the write judge no longer takes replies";
  Find<QToolButton>(*form, "ToolButton4")->click();
  EXPECT_TRUE(Received("1B6A")) << "no poll on the tick, no retry of the write";
}

TEST_F(CardWritingTest, IncrementFailureEndsTheRunWithoutRewritingTheNumber) {
  TimerWatchingPrompts* watcher = WatchTimer();
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("12=");
  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(*form, "WriteCountEdit")->setText("3");
  PressWrite(Frame2("12="));
  Tick(*form);
  Swipe(kWritten, "", 1);
  ASSERT_EQ(prompts->messages.size(), 2u);
  EXPECT_EQ(prompts->messages[0], QStringLiteral("字符末尾没有检测到数字，请重新输入"));
  EXPECT_EQ(prompts->messages[1], QStringLiteral("请输入写卡内容"));
  EXPECT_EQ(watcher->timerRunning, std::vector<bool>({false, false})) << "no poll while a box is open";
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
  EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("00"));

  // Neither a later reply nor the status query re-arms the written number.
  device.ClearReceived();
  form->session().ReplyBytes(Bytes(kNotWritten));
  Find<QToolButton>(*form, "ToolButton4")->click();
  EXPECT_TRUE(Received("1B6A"));
  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:12="}));
}

TEST_F(CardWritingTest, FileRunWritesEveryRecordThenEndsTheTrack) {
  TickTracks(true, false);
  ChooseFile(2, RecordFile("t2.txt", "001\r\n002\r\n003\r\n"));
  ASSERT_EQ(Track2(), "001");
  PressWrite(Frame2("001"));
  EXPECT_EQ(Find<QLabel>(*form, "WriteModePanel")->text(), QStringLiteral("文件写"));
  EXPECT_EQ(Find<QLabel>(*form, "WriteModePanel")->palette().color(QPalette::Window), QColor(0, 255, 0));

  Swipe(kNotWritten, "1B30" + Frame2("001"), 0);
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), kFailed) << "the file judge shows the failure itself";
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  Swipe(kWritten, Frame2("002"), 1);
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), kSucceeded);
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  EXPECT_EQ(form->session().fileCount(2), 1);
  Swipe(kWritten, Frame2("003"), 2);
  Swipe(kWritten, "", 3);

  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:001", "磁道1卡号:002", "磁道1卡号:003"}));
  EXPECT_EQ(prompts->beeps, 3) << "one beep per card";
  EXPECT_EQ(form->session().cardIndex(), 4);
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("写卡提示信息:3次写成功,写卡完毕！"));
  EXPECT_EQ(Panel(2), QStringLiteral("磁道1读文件写卡成功完成"));
  EXPECT_FALSE(Find<QCheckBox>(*form, "tk2filename")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(*form, "TK2CheckBox")->isChecked());
  EXPECT_EQ(Track2(), "");
  EXPECT_FALSE(Find<QPlainTextEdit>(*form, "Track2Memo")->isEnabled());
  EXPECT_FALSE(Find<QToolButton>(*form, "tk2Sb")->isEnabled());
  EXPECT_FALSE(Find<QLabel>(*form, "tk2disp")->isVisibleTo(form.get()));
  EXPECT_EQ(Find<QLabel>(*form, "tk2disp")->text(), QStringLiteral("文件名"));
  EXPECT_FALSE(form->session().files()[2].file.IsOpen());
  EXPECT_FALSE(form->session().files()[2].chosen);
  ExpectTimerStoppedAndNothingSent("nothing was armed after the last record");
}

TEST_F(CardWritingTest, BothTracksFromFilesGoOnWithTheLongerFile) {
  TickTracks(true, true);
  ChooseFile(2, RecordFile("a2.txt", "21\n"));
  ChooseFile(3, RecordFile("a3.txt", "31\n32\n"));
  PressWrite(Frame23("21", "31"));
  Swipe(kWritten, Frame3("32"), 1);
  EXPECT_EQ(Panel(2), QStringLiteral("磁道1读文件写卡成功完成"));
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("写卡提示信息:1次写成功,写卡完毕！"));
  EXPECT_FALSE(Find<QCheckBox>(*form, "TK2CheckBox")->isChecked());
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive()) << "the track 3 card is armed and counted";
  Swipe(kWritten, "", 2);
  EXPECT_EQ(Panel(2), QStringLiteral("磁道2读文件写卡成功完成"));
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("写卡提示信息:2次写成功,写卡完毕！"));
  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:21", "磁道2卡号:31", "磁道2卡号:32"}));
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
  Find<QToolButton>(*form, "ToolButton4")->click();
  EXPECT_TRUE(Received("1B6A"));
}

TEST_F(CardWritingTest, TrackThreeFileEndingFirstIsNotWrittenAgain) {
  TickTracks(true, true);
  ChooseFile(2, RecordFile("b2.txt", "21\n22\n"));
  ChooseFile(3, RecordFile("b3.txt", "31\n"));
  PressWrite(Frame23("21", "31"));
  Swipe(kWritten, Frame2("22"), 1);
  EXPECT_EQ(Panel(2), QStringLiteral("磁道2读文件写卡成功完成"));
  Swipe(kWritten, "", 2);
  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:21", "磁道2卡号:31", "磁道1卡号:22"}));
}

TEST_F(CardWritingTest, ContinuousTrackBesideAFileTrackRunsToTheEndOfTheFile) {
  TickTracks(true, true);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("909");
  Find<QCheckBox>(*form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(*form, "TK2StepEdit")->setText("2");
  Find<QLineEdit>(*form, "WriteCountEdit")->setText("1");
  ChooseFile(3, RecordFile("c3.txt", "7\n8\n9"));
  PressWrite(Frame23("909", "7"));
  Swipe(kWritten, Frame23("911", "8"), 1);
  Swipe(kWritten, Frame23("913", "9"), 2);
  Swipe(kWritten, "", 3);
  EXPECT_EQ(form->session().cardIndex(), 4);
  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:909", "磁道2卡号:7", "磁道1卡号:911", "磁道2卡号:8", "磁道1卡号:913",
                                     "磁道2卡号:9"}));
  EXPECT_EQ(Track2(), "915");
}

TEST_F(CardWritingTest, BlankRecordEndsTheRun) {
  TimerWatchingPrompts* watcher = WatchTimer();
  TickTracks(true, false);
  ChooseFile(2, RecordFile("d2.txt", "1\n  \n3\n"));
  PressWrite(Frame2("1"));
  Swipe(kWritten, "", 1);
  ASSERT_EQ(prompts->messages.size(), 1u);
  EXPECT_EQ(prompts->messages[0], QStringLiteral("文件中无内容,请重新按浏览按钮选择文件名"));
  EXPECT_EQ(watcher->timerRunning, std::vector<bool>({false}));
  ExpectRunEnded();
  device.ClearReceived();
  form->session().ReplyBytes(Bytes(kNotWritten));
  Find<QToolButton>(*form, "ToolButton4")->click();
  EXPECT_TRUE(Received("1B6A")) << "the first record is not armed again";

  // 浏览 continues after the blank record, not at record 1.
  EXPECT_EQ(Find<QLineEdit>(*form, "tk2file_step")->text(), QStringLiteral("3"));
  Find<QToolButton>(*form, "tk2Sb")->click();
  EXPECT_EQ(Track2(), "3");
}

TEST_F(CardWritingTest, StartRecordFieldChoosesWhereLoadingStarts) {
  TickTracks(true, false);
  EXPECT_FALSE(Find<QLineEdit>(*form, "tk2file_step")->isEnabled());
  Find<QCheckBox>(*form, "tk2filename")->setChecked(true);
  EXPECT_TRUE(Find<QLineEdit>(*form, "tk2file_step")->isEnabled());
  EXPECT_EQ(Find<QLineEdit>(*form, "tk2file_step")->maxLength(), 7);
  const std::string file = RecordFile("s2.txt", "1\n2\n3\n");
  const struct {
    const char* start;
    const char* shown;
  } rows[] = {{"", "1"}, {"0", "1"}, {"2", "2"}};
  for (const auto& row : rows) {
    Find<QLineEdit>(*form, "tk2file_step")->setText(row.start);
    ChooseFile(2, file);
    EXPECT_EQ(Track2(), row.shown) << row.start;
  }
  Find<QLineEdit>(*form, "tk2file_step")->setText("4");
  ChooseFile(2, file);
  EXPECT_EQ(prompts->infos.back(), QStringLiteral("文件中无内容,请重新按浏览按钮选择文件名"));
  EXPECT_EQ(Find<QLabel>(*form, "tk2disp")->text(), QStringLiteral("文件名"));
}

TEST_F(CardWritingTest, RetryRefusedAfterTheFieldWasEmptiedEndsTheRun) {
  TimerWatchingPrompts* watcher = WatchTimer();
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  PressWrite(Frame2("5"));
  Find<QPlainTextEdit>(*form, "Track2Memo")->clear();
  Reply(kNotWritten);
  ASSERT_TRUE(Eventually([&] { return !prompts->messages.empty(); }, "the builder's message"));
  EXPECT_EQ(prompts->messages[0], QStringLiteral("请输入写卡内容"));
  EXPECT_EQ(watcher->timerRunning, std::vector<bool>({false})) << "no poll while the box is open";
  EXPECT_TRUE(Received("1B30")) << "the reset still goes out, the old card does not";
  device.ClearReceived();
  ExpectRunEnded();
}

TEST_F(CardWritingTest, OverlongRecordIsNeverArmed) {
  const std::string overlong(302, '7');
  {
    SCOPED_TRACE("as the next record of a run");
    TimerWatchingPrompts* watcher = WatchTimer();
    TickTracks(true, false);
    ChooseFile(2, RecordFile("e2.txt", "1\n" + overlong + "\n"));
    PressWrite(Frame2("1"));
    Swipe(kWritten, "", 1);
    ASSERT_EQ(prompts->messages.size(), 1u);
    EXPECT_TRUE(prompts->messages[0].startsWith(QStringLiteral("磁道2数据含有不能写入的字符或超长：777")));
    EXPECT_EQ(watcher->timerRunning, std::vector<bool>({false}));
    ExpectRunEnded();
  }
  {
    SCOPED_TRACE("as the first record, refused when the file is loaded");
    WatchTimer();
    TickTracks(true, false);
    ChooseFile(2, RecordFile("f2.txt", overlong + "\n"));
    ASSERT_EQ(prompts->infos.size(), 1u);
    EXPECT_EQ(prompts->infos[0], QStringLiteral("磁道2数据含有不能写入的字符或超长：") + QString(37, '7') + "…");
    EXPECT_EQ(Find<QLabel>(*form, "tk2disp")->text(), QStringLiteral("文件名"));
  }
}

TEST_F(CardWritingTest, FullListIsSavedBeforeItIsEmptied) {
  const auto folder = std::filesystem::temp_directory_path() / ("link-drive-c-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  form->SetCardListFolder(folder);
  QStringList full;
  for (int i = 0; i < 2000; ++i) full << QStringLiteral("磁道1卡号:%1").arg(i);
  Find<QPlainTextEdit>(*form, "Memo1")->setPlainText(full.join(QLatin1Char('\n')));

  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  PressWrite(Frame2("5"));
  Swipe(kWritten, "", 1);
  EXPECT_EQ(LogLines(), QStringList({"磁道1卡号:5"}));

  std::size_t savedLines = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) ++savedLines;
  }
  EXPECT_EQ(savedLines, 2000u);
  std::filesystem::remove_all(folder);
}

TEST_F(CardWritingTest, FullListThatCannotBeSavedIsKeptAndTheCardStillJudged) {
  TimerWatchingPrompts* watcher = WatchTimer();
  form->SetCardListFolder("/nonexistent/drive-c");
  QStringList full;
  for (int i = 0; i < 2000; ++i) full << QStringLiteral("磁道1卡号:%1").arg(i);
  Find<QPlainTextEdit>(*form, "Memo1")->setPlainText(full.join(QLatin1Char('\n')));

  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  PressWrite(Frame2("5"));
  Swipe(kWritten, "", 1);
  ASSERT_EQ(prompts->errors.size(), 1u);
  EXPECT_TRUE(prompts->errors[0].startsWith(QStringLiteral("Cannot create file \"/nonexistent/drive-c/")));
  EXPECT_EQ(watcher->timerRunning, std::vector<bool>({false})) << "no poll while the error box is open";
  EXPECT_EQ(LogLines().size(), 2001) << "every line kept, the new card added";
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), kSucceeded);
}

}  // namespace
