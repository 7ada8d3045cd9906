#include "CardEmulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "PtyDevice.h"

extern char** environ;

namespace station::testing_support {

namespace fs = std::filesystem;

CardEmulator::CardEmulator(bool autoSwipe) {
  std::string pattern = (fs::temp_directory_path() / "station-emulator-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  dir_ = pattern;
  std::vector<std::string> args = {CARDSIM_EXE, "--link", Path(), "--control", Control(), "--deck", Deck()};
  if (autoSwipe) args.insert(args.end(), {"--auto-swipe", "0"});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int rc = ::posix_spawn(&pid_, CARDSIM_EXE, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cardsim did not start");
  if (!WaitUntil([&] { return fs::exists(Path()) && fs::exists(Control()); })) {
    throw std::runtime_error("cardsim did not come up");
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, Control().c_str(), sizeof address.sun_path - 1);
  socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cardsim control socket");
  }
}

CardEmulator::~CardEmulator() {
  if (socket_ >= 0) ::close(socket_);
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string CardEmulator::Ask(const std::string& command) {
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

std::vector<std::string> CardEmulator::Written() const {
  std::vector<std::string> numbers;
  std::ifstream in(Deck());
  for (std::string line; std::getline(in, line);) {
    const std::string track2 = line.substr(0, line.find('\t'));
    if (!track2.empty()) numbers.push_back(track2);
  }
  return numbers;
}

}  // namespace station::testing_support
