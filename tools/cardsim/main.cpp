// cardsim: a magnetic-stripe card reader/writer on a pseudo-terminal.
// One thread, one poll loop: the line, standard input, the control socket,
// signals and the emulator's timers.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <iostream>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ByteLog.h"
#include "ControlLines.h"
#include "Emulator.h"
#include "Line.h"
#include "Options.h"

namespace cardsim {
namespace {

// How long to leave a hung-up line alone before polling it again; only a
// --device line can hang up on its own (a pty's slave side is held open).
constexpr Millis kHangUpBackoff{100};
// Unsent answers a client may leave behind before it is cut off: one that sends
// commands and never reads would otherwise grow our memory without end.
constexpr std::size_t kMaxClientBacklog = 64 * 1024;
// How long to stop accepting control clients after running out of descriptors;
// the pending connection would otherwise wake poll at once, for ever.
constexpr Millis kAcceptBackoff{200};

struct Client {
  int fd = -1;
  std::string in;
  std::string out;
  bool closing = false;
};

class Program {
 public:
  explicit Program(const Options& options) : options_(options) {}

  int Run();

 private:
  void OpenLine();
  std::string RunCommand(const std::string& line);
  void HandleLineRequest(std::string* answer);
  void ReadLine();
  void SendToLine(const std::string& bytes);
  void FlushLine();
  void ReadStdin();
  void ServeClient(Client& client, short revents);
  void Note(const std::string& text);

  const Options& options_;
  std::optional<ByteLog> log_;
  std::unique_ptr<Emulator> emulator_;
  Line line_;
  std::optional<Link> link_;
  std::optional<ControlSocket> control_;
  std::list<Client> clients_;
  std::string lineOut_;
  std::optional<Clock::time_point> lineRetryAt_;
  std::optional<Clock::time_point> acceptRetryAt_;
  bool stdinOpen_ = true;
  std::string stdinBuffer_;
};

void Program::Note(const std::string& text) {
  if (log_) log_->Note(text);
  std::cerr << "cardsim: " << text << std::endl;
}

void Program::OpenLine() {
  line_ = options_.device.empty() ? Line::OpenPty() : Line::OpenDevice(options_.device);
  if (!options_.link.empty()) {
    if (!link_) link_.emplace(options_.link);
    link_->Point(line_.path());
  }
  lineOut_.clear();
  lineRetryAt_.reset();
}

void Program::HandleLineRequest(std::string* answer) {
  switch (emulator_->TakeLineRequest()) {
    case Emulator::LineRequest::kNone: return;
    case Emulator::LineRequest::kHangUp:
      line_.Close();
      lineOut_.clear();
      Note("hung up " + line_.path());
      return;
    case Emulator::LineRequest::kReopen:
      try {
        OpenLine();
        emulator_->SetLineUp(true);
        Note("line open on " + line_.path());
        if (answer) *answer = "ok reopened " + line_.path();
      } catch (const std::exception& e) {
        if (answer) *answer = std::string("error ") + e.what();
      }
      return;
  }
}

std::string Program::RunCommand(const std::string& line) {
  std::string answer = emulator_->Control(line, Clock::now());
  HandleLineRequest(&answer);
  return answer;
}

void Program::SendToLine(const std::string& bytes) {
  if (!line_.isOpen()) return;
  if (log_) log_->Sent(bytes);
  lineOut_ += bytes;
  FlushLine();
}

void Program::FlushLine() {
  while (!lineOut_.empty() && line_.isOpen()) {
    const ssize_t n = ::write(line_.fd(), lineOut_.data(), lineOut_.size());
    if (n > 0) {
      lineOut_.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // EAGAIN: POLLOUT resumes. Anything else: the station is gone and a
      // real line would lose the bytes too.
      if (n < 0 && errno != EAGAIN) lineOut_.clear();
      return;
    }
  }
}

void Program::ReadLine() {
  char buffer[4096];
  const ssize_t n = ::read(line_.fd(), buffer, sizeof buffer);
  if (n > 0) {
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    if (log_) log_->Received(bytes);
    emulator_->OnInput(bytes, Clock::now());
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    lineRetryAt_ = Clock::now() + kHangUpBackoff;
  }
}

void Program::ReadStdin() {
  char buffer[4096];
  const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    // Scripts start us with </dev/null; only quit or a signal ends the run.
    stdinOpen_ = false;
    return;
  }
  stdinBuffer_.append(buffer, static_cast<std::size_t>(n));
  for (const std::string& line : TakeControlLines(stdinBuffer_)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::cout << RunCommand(line) << std::endl;
    if (emulator_->quitRequested()) return;
  }
}

void Program::ServeClient(Client& client, short revents) {
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    char buffer[4096];
    const ssize_t n = ::read(client.fd, buffer, sizeof buffer);
    if (n > 0) {
      client.in.append(buffer, static_cast<std::size_t>(n));
      for (const std::string& line : TakeControlLines(client.in)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (client.out.size() > kMaxClientBacklog) {
          client.closing = true;
          break;
        }
        client.out += RunCommand(line) + "\n";
        if (emulator_->quitRequested()) break;
      }
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      client.closing = true;
    }
  }
  while (!client.out.empty()) {
    const ssize_t n = ::write(client.fd, client.out.data(), client.out.size());
    if (n > 0) {
      client.out.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN) client.closing = true;
      break;
    }
  }
}

int TimeoutMs(std::optional<Clock::time_point> deadline, Clock::time_point now) {
  if (!deadline) return -1;
  if (*deadline <= now) return 0;
  // Rounded up, so the loop never wakes a moment early and spins.
  const auto ms = std::chrono::ceil<Millis>(*deadline - now).count();
  return static_cast<int>(std::min<long long>(ms, 60'000));
}

int Program::Run() {
  // Loaded while SIGTERM still ends the program at once.
  Deck deck = options_.deck.empty() ? Deck() : Deck(options_.deck);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) throw std::system_error(errno, std::generic_category());
  const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signalFd < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
  struct SignalFdCloser {
    int fd;
    ~SignalFdCloser() { ::close(fd); }
  } signalFdCloser{signalFd};
  ::signal(SIGPIPE, SIG_IGN);

  if (!options_.log.empty()) log_.emplace(options_.log);
  OpenLine();
  if (!options_.control.empty()) control_.emplace(options_.control);
  std::cout << line_.path() << std::endl;
  if (log_) log_->Note("line open on " + line_.path());
  emulator_ = std::make_unique<Emulator>(std::move(deck), options_.config, Clock::now());

  while (!emulator_->quitRequested()) {
    const Clock::time_point now = Clock::now();
    if (lineRetryAt_ && now >= *lineRetryAt_) lineRetryAt_.reset();
    if (acceptRetryAt_ && now >= *acceptRetryAt_) acceptRetryAt_.reset();

    std::vector<pollfd> fds;
    fds.push_back({signalFd, POLLIN, 0});
    const std::size_t lineIndex = fds.size();
    const bool pollLine = line_.isOpen() && !lineRetryAt_;
    if (pollLine) fds.push_back({line_.fd(), static_cast<short>(POLLIN | (lineOut_.empty() ? 0 : POLLOUT)), 0});
    const std::size_t stdinIndex = fds.size();
    if (stdinOpen_) fds.push_back({STDIN_FILENO, POLLIN, 0});
    const std::size_t controlIndex = fds.size();
    const bool pollControl = control_ && !acceptRetryAt_;
    if (pollControl) fds.push_back({control_->fd(), POLLIN, 0});
    const std::size_t clientsIndex = fds.size();
    for (const Client& client : clients_) {
      fds.push_back({client.fd, static_cast<short>(POLLIN | (client.out.empty() ? 0 : POLLOUT)), 0});
    }

    std::optional<Clock::time_point> deadline = emulator_->NextDeadline();
    if (lineRetryAt_ && (!deadline || *lineRetryAt_ < *deadline)) deadline = lineRetryAt_;
    if (acceptRetryAt_ && (!deadline || *acceptRetryAt_ < *deadline)) deadline = acceptRetryAt_;
    const int ready = ::poll(fds.data(), fds.size(), TimeoutMs(deadline, now));
    if (ready < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");

    if (ready > 0) {
      if (fds[0].revents & POLLIN) {
        signalfd_siginfo info{};
        if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
          Note(std::string("stopped by ") + (info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM"));
          break;
        }
      }
      if (pollLine) {
        const short revents = fds[lineIndex].revents;
        if (revents & POLLIN) {
          ReadLine();
        } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
          lineRetryAt_ = Clock::now() + kHangUpBackoff;
        }
        if ((revents & POLLOUT) && line_.isOpen()) FlushLine();
      }
      if (stdinOpen_ && fds[stdinIndex].revents) ReadStdin();
      if (pollControl && (fds[controlIndex].revents & POLLIN)) {
        int fd;
        while ((fd = control_->Accept()) >= 0) clients_.emplace_back().fd = fd;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          acceptRetryAt_ = Clock::now() + kAcceptBackoff;
        }
      }
      std::size_t i = clientsIndex;
      for (Client& client : clients_) {
        // Clients accepted in this round have no slot yet.
        if (i >= fds.size()) break;
        if (fds[i].revents) ServeClient(client, fds[i].revents);
        ++i;
      }
      clients_.remove_if([](const Client& client) {
        if (client.closing) ::close(client.fd);
        return client.closing;
      });
    }

    for (const std::string& piece : emulator_->Advance(Clock::now())) SendToLine(piece);
    for (const std::string& note : emulator_->TakeNotes()) Note(note);
    HandleLineRequest(nullptr);
  }

  // Answers to the last commands (quit's own among them) go out before we close.
  for (Client& client : clients_) {
    ServeClient(client, 0);
    ::close(client.fd);
  }
  clients_.clear();
  return 0;
}

}  // namespace
}  // namespace cardsim

int main(int argc, char** argv) {
  try {
    const cardsim::Options options = cardsim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      // A help text that could not be written (a full disk) is a failure.
      std::cout << cardsim::Usage() << std::flush;
      return std::cout ? 0 : 1;
    }
    cardsim::Program program(options);
    return program.Run();
  } catch (const std::invalid_argument& e) {
    std::cerr << "cardsim: " << e.what() << "\ntry 'cardsim --help'\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "cardsim: " << e.what() << '\n';
    return 1;
  }
}
