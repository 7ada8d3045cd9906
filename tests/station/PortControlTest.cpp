#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "StationHarness.h"

namespace {

using PortControlTest = StationTest;

bool TrackBoxesEnabled(const TForm1& form) {
  return Find<QCheckBox>(form, "TK2CheckBox")->isEnabled() && Find<QCheckBox>(form, "TK3CheckBox")->isEnabled();
}

TEST_F(PortControlTest, OpensThePortNamedInTheSettings) {
  struct Row {
    const char* name;
    std::string comname;  // empty: no [Settings] section
    int mappedPort;
    const char* panel;
  };
  const Row rows[] = {
      {"COM3", "COM3", 3, "COM3－－－OK"},
      {"no setting means com1", "", 1, "com1－－－OK"},
      {"only the fourth character counts", "COM10", 1, "COM10－－－OK"},
  };
  for (const Row& row : rows) {
    form = std::make_unique<TForm1>(Config());
    auto recorder = std::make_unique<RecordingPrompts>();
    prompts = recorder.get();
    form->SetPrompts(std::move(recorder));
    WriteSettings(row.comname, row.mappedPort, device.SlavePath());
    device.ClearReceived();

    Find<QToolButton>(*form, "ToolButton5")->click();
    EXPECT_TRUE(form->port().Open()) << row.name;
    EXPECT_EQ(form->port().ComNumber(), row.mappedPort) << row.name;
    EXPECT_EQ(Panel(0), QString::fromUtf8(row.panel)) << row.name;
    EXPECT_TRUE(TrackBoxesEnabled(*form)) << row.name;
    EXPECT_FALSE(Find<QCheckBox>(*form, "TK1CheckBox")->isEnabled()) << row.name;
    EXPECT_TRUE(prompts->messages.empty()) << row.name;
    Find<QToolButton>(*form, "ToolButton4")->click();
    EXPECT_TRUE(Received("1B6A")) << row.name << ": the mapped device is the one opened";
  }
}

TEST_F(PortControlTest, FailedOpenSaysSoAndLeavesTheBoxes) {
  struct Row {
    std::string comname;
    const char* message;
  };
  const Row rows[] = {
      {"COM", "串口不存在或被占用。"},  // no port digit: nothing more to say
      {"COM5", "串口不存在或被占用。\n设备 /nonexistent/tty-for-test 不存在。"},
  };
  for (const auto& [comname, message] : rows) {
    form = std::make_unique<TForm1>(Config());
    auto recorder = std::make_unique<RecordingPrompts>();
    prompts = recorder.get();
    form->SetPrompts(std::move(recorder));
    WriteSettings(comname, 5, "/nonexistent/tty-for-test");

    Find<QToolButton>(*form, "ToolButton5")->click();
    EXPECT_FALSE(form->port().Open()) << comname;
    ASSERT_EQ(prompts->messages.size(), 1u) << comname;
    EXPECT_EQ(prompts->messages[0], QString::fromUtf8(message)) << comname;
    EXPECT_EQ(Panel(0), QString::fromStdString(comname) + QStringLiteral(":Close"));
    EXPECT_FALSE(Find<QCheckBox>(*form, "TK2CheckBox")->isEnabled()) << comname;
  }
}

TEST_F(PortControlTest, DiagnosticsSwitchesRecordInTheirFolder) {
  const auto folder = std::filesystem::temp_directory_path() / ("station-diagnostics-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const auto trace = folder / "SERIAL.TRC";
  const auto log = folder / "SERIAL.LOG";
  diagnostics_.folder = folder;
  OpenPort();
  Find<QToolButton>(*form, "ToolButton6")->click();
  EXPECT_FALSE(std::filesystem::exists(trace) || std::filesystem::exists(log)) << "off unless switched on";

  diagnostics_.trace = true;
  diagnostics_.log = true;
  OpenPort();
  Find<QToolButton>(*form, "ToolButton4")->click();
  Find<QToolButton>(*form, "ToolButton6")->click();
  EXPECT_GT(std::filesystem::file_size(trace), 0u);
  EXPECT_GT(std::filesystem::file_size(log), 0u);
  std::filesystem::remove_all(folder);
}

// Recorder files that cannot be written do not keep the port open or the
// window saying it is: the port closes, and the operator is told which file
// failed and why once the window shows the closed state.
TEST_F(PortControlTest, UnwritableRecorderFilesAreNamedAfterTheClose) {
  QTemporaryDir folder;
  const std::filesystem::path dir = folder.path().toStdString();
  std::filesystem::create_directory(dir / "SERIAL.TRC");
  ASSERT_EQ(::mkfifo((dir / "SERIAL.LOG").c_str(), 0666), 0);
  diagnostics_ = {true, true, dir};
  OpenPort();
  TickTracks(true, false);
  Find<QToolButton>(*form, "ToolButton4")->click();  // something to record

  Find<QToolButton>(*form, "ToolButton6")->click();
  EXPECT_FALSE(form->port().Open());
  EXPECT_EQ(Panel(0), QStringLiteral("COM3:Close"));
  EXPECT_FALSE(Find<QCheckBox>(*form, "TK2CheckBox")->isEnabled());
  ASSERT_TRUE(Eventually([&] { return !prompts->messages.empty(); }, "the recorders' message"));
  const auto failed = [&](const char* name, const char* reason) {
    return QStringLiteral("端口已关闭，但串口记录文件 ") + QString::fromStdString((dir / name).string()) +
           QStringLiteral(" 无法写入：") + QString::fromUtf8(reason) + QStringLiteral("。");
  };
  EXPECT_EQ(prompts->messages, std::vector<QString>({failed("SERIAL.TRC", "同名的是文件夹") + "\n" +
                                                     failed("SERIAL.LOG", "同名的不是普通文件")}));
  EXPECT_TRUE(prompts->errors.empty());
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "SERIAL.LOG"));
}

TEST_F(PortControlTest, ReopenFailureAfterOpenLeavesThePortClosed) {
  OpenPort();
  WriteSettings("COM", 3, device.SlavePath());
  Find<QToolButton>(*form, "ToolButton5")->click();
  EXPECT_FALSE(form->port().Open());
  EXPECT_EQ(Panel(0), QStringLiteral("COM:Close"));
  EXPECT_TRUE(TrackBoxesEnabled(*form)) << "the boxes keep their state";
}

TEST_F(PortControlTest, ClosingDisablesBoxesKeepsTicksAndFreezesTheCount) {
  WriteSettings("COM2", 2, device.SlavePath());
  Find<QToolButton>(*form, "ToolButton5")->click();
  ASSERT_TRUE(form->port().Open());
  TickTracks(true, false);
  Find<QPushButton>(*form, "BitBtn1")->click();
  ASSERT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  Tick(*form);
  ASSERT_EQ(form->session().elapsedSeconds(), 1);

  Find<QToolButton>(*form, "ToolButton6")->click();
  EXPECT_FALSE(form->port().Open());
  EXPECT_EQ(Panel(0), QStringLiteral("COM2:Close"));
  EXPECT_FALSE(Find<QCheckBox>(*form, "TK1CheckBox")->isEnabled() ||
               Find<QCheckBox>(*form, "TK2CheckBox")->isEnabled() ||
               Find<QCheckBox>(*form, "TK3CheckBox")->isEnabled());
  EXPECT_TRUE(Find<QCheckBox>(*form, "TK2CheckBox")->isChecked());
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  Tick(*form);
  EXPECT_EQ(form->session().elapsedSeconds(), 1);
  EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("1"));

  device.ClearReceived();
  Find<QToolButton>(*form, "ToolButton3")->click();
  Find<QToolButton>(*form, "ToolButton4")->click();
  EXPECT_TRUE(prompts->messages.empty()) << "reset and status do nothing on a closed port";
  EXPECT_TRUE(form->port().Open() == false);
}

TEST_F(PortControlTest, ExitClosesThePort) {
  OpenPort();
  Find<QToolButton>(*form, "ToolButton7")->click();
  EXPECT_FALSE(form->port().Open());
}

TEST_F(PortControlTest, ResetStopsARunningCountOnly) {
  OpenPort();
  Find<QLabel>(*form, "l_timer")->setText(QStringLiteral("7"));
  Find<QToolButton>(*form, "ToolButton3")->click();
  EXPECT_TRUE(Received("1B30"));
  EXPECT_EQ(form->session().elapsedSeconds(), 0);
  EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("7"));
  device.ClearReceived();

  TickTracks(true, false);
  Find<QPushButton>(*form, "BitBtn1")->click();
  ASSERT_TRUE(Received("1B5D1B6A"));
  Tick(*form);
  Tick(*form);
  ASSERT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("2"));
  device.ClearReceived();
  Find<QToolButton>(*form, "ToolButton3")->click();
  EXPECT_TRUE(Received("1B30"));
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
  EXPECT_EQ(form->session().elapsedSeconds(), 0);
  EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("00"));
  EXPECT_EQ(form->session().readTracks(), 1) << "the read stays armed";
}

TEST_F(PortControlTest, ArmedReadIsNotPolledAndResetAtThe21st) {
  OpenPort();
  TickTracks(false, true);
  Find<QPushButton>(*form, "BitBtn1")->click();
  ASSERT_TRUE(Received("1B545D1B6A"));
  for (int tick = 1; tick <= 20; ++tick) Tick(*form);
  EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("20"));
  Tick(*form);
  EXPECT_TRUE(Received("1B545D1B6A 1B30"));
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
}

using PortTimingTest = RealTimingsTest;

TEST_F(PortTimingTest, RealTimerPollsOncePerSecond) {
  OpenPort();
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  Find<QPushButton>(*form, "BitBtn3")->click();
  ASSERT_TRUE(Received("1B74351D1B5C"));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Eventually([&] { return form->session().elapsedSeconds() == 2; }, "two ticks"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(Received("1B74351D1B5C 1B6A 1B6A"));
}

}  // namespace
