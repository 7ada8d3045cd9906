// Runs the cardsim program as a separate process on a real pseudo-terminal
// and drives it through its control socket, as the station and a test script
// would.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kBound = 10s;

// Polls `condition` until it holds or `kBound` has passed.
bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = Clock::now() + kBound;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads from `fd` until `enough` says the bytes so far are complete.
std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& enough) {
  std::string got;
  const auto deadline = Clock::now() + kBound;
  while (!enough(got) && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) == 1 && (p.revents & POLLIN)) {
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
  }
  return got;
}

// Runs cardsim with args, its output to the given files, and returns its exit
// status; -1 when it does not end within the bound (it is killed then).
int RunToEnd(const std::vector<std::string>& args, const char* out, const char* err) {
  std::vector<char*> argv;
  std::vector<std::string> all = {CARDSIM_EXE};
  all.insert(all.end(), args.begin(), args.end());
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out, O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err, O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, CARDSIM_EXE, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -2;
  int status = 0;
  if (!WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(CardsimCommandLine, EndlessDecksAndUnwritableHelpFail) {
  EXPECT_EQ(RunToEnd({"--deck", "/dev/zero"}, "/dev/null", "/dev/null"), 1);
  EXPECT_EQ(RunToEnd({"--deck", "/dev/full"}, "/dev/null", "/dev/null"), 1);
  EXPECT_EQ(RunToEnd({"--help"}, "/dev/full", "/dev/null"), 1);
  EXPECT_EQ(RunToEnd({"--help"}, "/dev/null", "/dev/null"), 0);
}

class CardsimProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cardsim-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    link_ = dir_ / "reader";
    control_ = dir_ / "control";
    deck_ = dir_ / "deck.txt";
    log_ = dir_ / "bytes.log";

    // A link left behind by an earlier run is replaced.
    fs::create_symlink(dir_ / "gone", link_);

    const std::vector<std::string> args = {CARDSIM_EXE, "--link",       link_.string(), "--control",  control_.string(),
                                           "--deck",    deck_.string(), "--log",        log_.string()};
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // Standard input at its end from the start: the emulator must keep running.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string out = (dir_ / "stdout.txt").string();
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = ::posix_spawn(&pid_, CARDSIM_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(rc, 0);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(link_) && fs::exists(control_); })) << "cardsim did not start";
    ConnectControl();
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    fs::remove_all(dir_);
  }

  void ConnectControl() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, control_.c_str(), sizeof address.sun_path - 1);
    socket_.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }

  std::string Ask(const std::string& command) {
    const std::string line = command + "\n";
    if (::write(socket_.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "<write>";
    std::string answer = ReadUntil(socket_.get(), [](const std::string& s) { return s.find('\n') != s.npos; });
    if (!answer.empty() && answer.back() == '\n') answer.pop_back();
    return answer;
  }

  bool WaitForState(const std::string& state) {
    return WaitFor([&] { return Ask("state") == state; });
  }

  // Opens the port as the station does: the link, raw, 9600 baud.
  void OpenPort() {
    port_.Reset(::open(link_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(port_.get(), 0) << std::strerror(errno);
    termios tio{};
    ASSERT_EQ(::tcgetattr(port_.get(), &tio), 0);
    ::cfmakeraw(&tio);
    ASSERT_EQ(::tcsetattr(port_.get(), TCSANOW, &tio), 0);
  }

  void Send(const std::string& bytes) {
    ASSERT_EQ(::write(port_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  std::string Receive(std::size_t count) {
    return ReadUntil(port_.get(), [&](const std::string& s) { return s.size() >= count; });
  }

  // The exit status, or -1 when the process does not end within the bound.
  int WaitForExit() {
    int status = 0;
    const bool ended = WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  fs::path dir_, link_, control_, deck_, log_;
  pid_t pid_ = -1;
  Fd socket_;
  Fd port_;
};

TEST_F(CardsimProcess, WritesACardAndReadsItBackAcrossAPortReopen) {
  // The line may reach the file a moment after the link and socket exist.
  WaitFor([&] { return !Slurp(dir_ / "stdout.txt").empty(); });
  EXPECT_EQ(Slurp(dir_ / "stdout.txt"), fs::read_symlink(link_).string() + "\n")
      << "the first line names the slave side";
  OpenPort();
  Send("\x1Bj");
  EXPECT_EQ(Receive(3), "\x1Bok");

  // The write frame split over two writes, then the station's poll.
  Send("\x1Bt0099A1");
  Send("23\x1D\x1B\\\x1Bj");
  ASSERT_TRUE(WaitForState("ok write 3 0099|123"));
  EXPECT_EQ(Ask("swipe"), "ok written card 1");
  EXPECT_EQ(Receive(3), "\x1Brp") << "no status answer while the write was armed";
  EXPECT_EQ(Slurp(deck_), "0099\t123\n");

  // The station closes and reopens its port; the device carries on.
  port_.Reset();
  OpenPort();
  EXPECT_EQ(Ask("split 2 20"), "ok chunks=2 delay=20 bad=0 drop=0 silent=off");
  Send(
      "\x1B"
      "B]\x1Bj");
  ASSERT_TRUE(WaitForState("ok read 3"));
  EXPECT_EQ(Ask("swipe 1"), "ok read card 1");
  EXPECT_EQ(Receive(11), "\x1Bs0099A123?\x1C");

  Send("\x1B]\x1Bj");
  ASSERT_TRUE(WaitForState("ok read 1"));
  EXPECT_EQ(Ask("swipe-bad 1"), "ok read-error card 1");
  EXPECT_EQ(Receive(3), "\x1Brq");

  EXPECT_EQ(Ask("quit"), "ok bye");
  EXPECT_EQ(WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_))) << "the link is removed on exit";
  EXPECT_FALSE(fs::exists(control_));
  const std::string log = Slurp(log_);
  EXPECT_NE(log.find(" rx 1B 74 30 30 39 39 41 31"), std::string::npos) << log;
  EXPECT_NE(log.find(" tx 1B 72 70\n"), std::string::npos) << log;
}

TEST_F(CardsimProcess, HangUpReachesThePortAndReopenRestoresTheLink) {
  OpenPort();
  EXPECT_EQ(Ask("hangup"), "ok hung up");
  // The station's port sees the hang-up: end of file or EIO.
  char byte;
  pollfd p{port_.get(), POLLIN, 0};
  ASSERT_TRUE(WaitFor([&] { return ::poll(&p, 1, 0) == 1; }));
  EXPECT_LE(::read(port_.get(), &byte, 1), 0);

  const std::string reopened = Ask("reopen");
  ASSERT_EQ(reopened.rfind("ok reopened ", 0), 0u) << reopened;
  EXPECT_EQ(fs::read_symlink(link_).string(), reopened.substr(std::strlen("ok reopened ")));
  OpenPort();
  Send("\x1Bj");
  EXPECT_EQ(Receive(3), "\x1Bok");
}

// The control socket is the user's own, and a client that sends commands but
// never reads the answers is cut off instead of growing the emulator's memory.
TEST_F(CardsimProcess, ControlSocketIsPrivateAndAGreedyClientIsCutOff) {
  EXPECT_EQ(fs::status(control_).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  ::fcntl(socket_.get(), F_SETFL, ::fcntl(socket_.get(), F_GETFL) | O_NONBLOCK);
  std::string commands;
  for (int i = 0; i < 1000; ++i) commands += "state\n";
  bool cut = false;
  const auto deadline = Clock::now() + kBound;
  while (!cut && Clock::now() < deadline) {
    const ssize_t n = ::send(socket_.get(), commands.data(), commands.size(), MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN) cut = true;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{socket_.get(), POLLOUT, 0};
      ::poll(&p, 1, 50);
      cut = (p.revents & (POLLHUP | POLLERR)) != 0;
    }
  }
  EXPECT_TRUE(cut);
  ConnectControl();
  EXPECT_EQ(Ask("state"), "ok idle") << "the emulator serves new clients";
}

TEST_F(CardsimProcess, SigtermEndsTheRunAndRemovesTheLink) {
  ASSERT_EQ(::kill(pid_, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));
}

}  // namespace
