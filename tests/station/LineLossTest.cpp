#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "StationHarness.h"
#include "station/ReadReply.h"
#include "station/Texts.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The card emulator as a separate process on its own pty, reached through a
// link that follows the line across a hang-up and a reopen, and driven through
// its control socket.
class Emulator {
 public:
  Emulator() {
    std::string pattern = (fs::temp_directory_path() / "station-line-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    const std::vector<std::string> args = {CARDSIM_EXE, "--link", Path(), "--control", (dir_ / "control").string()};
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc = ::posix_spawn(&pid_, CARDSIM_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cardsim did not start");
    const auto started = [&] { return fs::exists(Path()) && fs::exists(dir_ / "control"); };
    if (!WaitUntil(started)) throw std::runtime_error("cardsim did not come up");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (dir_ / "control").c_str(), sizeof address.sun_path - 1);
    socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("cardsim control socket");
    }
  }
  ~Emulator() {
    if (socket_ >= 0) ::close(socket_);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  std::string Path() const { return (dir_ / "reader").string(); }

  // One command, its one answer line.
  std::string Ask(const std::string& command) {
    const std::string line = command + "\n";
    if (::write(socket_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "<write>";
    std::string answer;
    WaitUntil([&] {
      pollfd p{socket_, POLLIN, 0};
      char buffer[256];
      if (::poll(&p, 1, 0) == 1) {
        const ssize_t n = ::read(socket_, buffer, sizeof buffer);
        if (n > 0) answer.append(buffer, static_cast<std::size_t>(n));
      }
      return answer.find('\n') != std::string::npos;
    });
    if (!answer.empty() && answer.back() == '\n') answer.pop_back();
    return answer;
  }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
  int socket_ = -1;
};

class LineLossTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    WriteSettings("COM3", 3, emulator.Path());
  }
  void Unplug() { ASSERT_EQ(emulator.Ask("hangup"), "ok hung up"); }
  void PlugIn() { ASSERT_EQ(emulator.Ask("reopen").rfind("ok reopened", 0), 0u); }
  Emulator emulator;
};

TEST_F(LineLossTest, HangUpClosesDisarmsAndReconnectsWithoutResuming) {
  struct Row {
    const char* name;
    void (TForm1::*arm)();
    const char* writePrompt;  // st1 after the loss; null: unchanged
  };
  const Row rows[] = {
      {"idle", nullptr, nullptr},
      {"read armed", &TForm1::BitBtn1Click, nullptr},
      {"write armed", &TForm1::BitBtn3Click, station::kWriteLineLost},
  };
  for (const Row& row : rows) {
    OpenPort();
    TickTracks(true, false);
    Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText(QStringLiteral("0099"));
    if (row.arm) (form.get()->*row.arm)();
    const QString st1Before = Find<QLabel>(*form, "st1")->text();

    Unplug();
    EXPECT_TRUE(Eventually([&] { return Panel(2) == QString::fromUtf8(station::kLineLost); }, "the loss")) << row.name;
    EXPECT_FALSE(form->port().Open()) << row.name;
    EXPECT_EQ(Panel(0), QStringLiteral("COM3:Close")) << row.name;
    EXPECT_FALSE(Find<QCheckBox>(*form, "TK2CheckBox")->isEnabled()) << row.name;
    EXPECT_TRUE(Find<QCheckBox>(*form, "TK2CheckBox")->isChecked()) << row.name << ": ticks are kept";
    EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive()) << row.name;
    EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("00")) << row.name;
    EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), row.writePrompt ? QString::fromUtf8(row.writePrompt) : st1Before)
        << row.name;
    EXPECT_EQ(form->session().readTracks() + form->session().writeTracks(), 0) << row.name;

    PlugIn();
    EXPECT_TRUE(Eventually([&] { return form->port().Open(); }, "the reconnect")) << row.name;
    EXPECT_EQ(Panel(0), QStringLiteral("COM3－－－OK")) << row.name;
    EXPECT_EQ(Panel(2), QString::fromUtf8(station::kLineBack)) << row.name;
    EXPECT_TRUE(Find<QCheckBox>(*form, "TK2CheckBox")->isEnabled()) << row.name;
    EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive()) << row.name << ": nothing resumes by itself";
    EXPECT_TRUE(prompts->messages.empty()) << row.name << ": the reconnect is silent";
    EXPECT_EQ(emulator.Ask("state"), "ok idle") << row.name << ": nothing was sent to the device";
    form->ToolButton6Click();
  }
}

TEST_F(LineLossTest, ClosePressedEndsTheRetrying) {
  OpenPort();
  Unplug();
  ASSERT_TRUE(Eventually([&] { return Find<QTimer>(*form, "ReconnectTimer")->isActive(); }, "the retrying"));
  form->ToolButton6Click();
  EXPECT_FALSE(Find<QTimer>(*form, "ReconnectTimer")->isActive());
  PlugIn();
  EXPECT_FALSE(WaitUntil([&] { return form->port().Open(); }, Timings().reconnect * 5));
}

TEST_F(LineLossTest, SilentDeviceRunsOutWithoutSuccess) {
  struct Row {
    const char* name;
    void (TForm1::*arm)();
    const char* promptLabel;
    const char* prompt;  // the prompt stays the armed one
    const char* track2;
  };
  const Row rows[] = {
      {"write armed", &TForm1::BitBtn3Click, "st1", station::kWritePrompt, "0099"},
      {"read armed", &TForm1::BitBtn1Click, "st2", station::kSwipePrompt, ""},
  };
  ASSERT_EQ(emulator.Ask("silent on").rfind("ok", 0), 0u);
  OpenPort();
  TickTracks(true, false);
  for (const Row& row : rows) {
    form->findChild<QPlainTextEdit*>("Track2Memo")->setPlainText(QStringLiteral("0099"));
    (form.get()->*row.arm)();
    for (int i = 0; i <= station::kWaitLimitTicks; ++i) form->OpenTimerTimer();
    EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive()) << row.name;
    EXPECT_EQ(form->findChild<QLabel*>("l_timer")->text(), QStringLiteral("00")) << row.name;
    EXPECT_EQ(form->findChild<QLabel*>(row.promptLabel)->text(), QString::fromUtf8(row.prompt)) << row.name;
    EXPECT_TRUE(LogLines().isEmpty()) << row.name;
    EXPECT_EQ(Track2(), row.track2) << row.name;
  }
}

using ShutdownTest = StationTest;

TEST_F(ShutdownTest, ClosingTheWindowDropsRepliesInFlight) {
  OpenPort();
  TickTracks(true, false);
  form->BitBtn1Click();
  const std::string reply = "1B731B013B3132333F1C1B02";
  for (int i = 0; i < 200; ++i) device.SendHex(reply);
  ASSERT_TRUE(Eventually([&] { return !form->session().replyHex().empty() || !Track2().empty(); }, "replies"));
  form->close();  // as the title bar's close box does
  EXPECT_FALSE(form->port().Open());
  for (int i = 0; i < 200; ++i) device.SendHex(reply);
  form.reset();  // replies still arriving: nothing may reach the window now
}

// Line noise (no reply pattern in it) neither crashes the station nor passes
// for a card: ten megabytes while idle, a few chunks while a read is armed
// (each incomplete chunk costs its pause; what is kept of it stays bounded), a
// line's worth while a write is armed (every chunk there is a failed card and
// its device pause).
TEST_F(ShutdownTest, NoiseIsNeverACard) {
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += "U\xAA";
  OpenPort();
  TickTracks(true, false);
  // Written from a thread: the station takes the bytes on this one.
  std::atomic<bool> written = false;
  std::size_t kept = 0;  // the most of the reply text seen kept
  const auto sendNoise = [&](int bytes) {
    written = false;
    std::thread writer([&] {
      for (int sent = 0; sent < bytes; sent += 8192) device.SendBytes(noise);
      written = true;
    });
    const bool allWritten = WaitUntil(
        [&] {
          kept = std::max(kept, form->session().replyHex().size());
          return written.load();
        },
        std::chrono::seconds(60));
    writer.join();
    return allWritten;
  };
  ASSERT_TRUE(sendNoise(10 * 1024 * 1024));
  form->BitBtn1Click();
  ASSERT_TRUE(sendNoise(64 * 1024));
  Reply("1B 73 35 3F 1C");
  EXPECT_TRUE(Eventually([&] { return Track2() == "5"; }, "the read after the noise"));
  EXPECT_LE(kept, station::kLongestReadReplyHex);
  EXPECT_TRUE(LogLines().isEmpty());

  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText(QStringLiteral("0099"));
  form->BitBtn3Click();
  device.SendBytes(noise.substr(0, 2048));  // what the line holds without the station reading
  EXPECT_TRUE(Eventually([&] { return Find<QLabel>(*form, "st1")->text() == QString::fromUtf8(station::kWriteFailed); },
                         "the noise judged a failed card"));
  EXPECT_TRUE(LogLines().isEmpty());
  EXPECT_EQ(Track2(), "0099");
  EXPECT_GT(form->session().writeTracks(), 0) << "the card is still to be written";
}

}  // namespace
