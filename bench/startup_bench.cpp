// Start-up of the card station as an operator sees it: the time from starting
// the program to the first paint of its window, and its peak resident memory,
// next to a bare Qt window with one Chinese label (startup_label). Each run
// starts the program under a private Xvfb and watches the screen with the X
// DAMAGE extension: the station's windows have no background of their own, so
// the first change of the screen after the window is mapped is the program's
// own first paint. The program is left for half a second after it, then ended;
// its peak resident set is the kernel's (getrusage of the ended child).
// Subjects take turns run by run, so that a busy spell of the shared machine
// falls on all of them. The station also starts once more per run with a
// journal of a million written cards beside it.
// Given another build of the program (an earlier one, say), that build takes
// its turn too, with an empty journal, and is compared in the same runs.
// --no-full leaves the million-card journal out (its first filling takes
// minutes).
//   startup_bench [--no-full] [RUNS [OTHER_CARDSTATION]]      (default 5 runs)
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "BenchJournal.h"
#include "journal/Journal.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Starts program with args and env additions; the child's pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int keepFd = -1) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
  ::unsetenv("QT_QPA_PLATFORM");
  const int null = ::open("/dev/null", O_RDWR);
  ::dup2(null, 0);
  ::dup2(null, 1);
  if (keepFd < 0) ::dup2(null, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

// Whether an X server answers on display.
bool DisplayAnswers(const std::string& display) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  const bool answers = xcb_connection_has_error(c) == 0;
  xcb_disconnect(c);
  return answers;
}

// A private X server, ended with the object. The display number is picked at
// random among the high ones, and one that answers already is passed over:
// another user's server on the same number in another folder of sockets still
// shares the abstract socket name, which the clients try first.
class Xvfb {
 public:
  Xvfb() {
    std::mt19937 rng(static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 20 && display_.empty(); ++attempt) {
      const std::string candidate = ":" + std::to_string(std::uniform_int_distribution<int>(100, 899)(rng));
      if (!DisplayAnswers(candidate)) Start(candidate);
    }
    if (display_.empty()) {
      std::fprintf(stderr, "Xvfb did not start\n");
      std::exit(1);
    }
  }
  ~Xvfb() { Stop(); }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  const std::string& display() const { return display_; }

 private:
  void Start(const std::string& display) {
    int fds[2];
    if (::pipe(fds) != 0) std::exit(1);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execlp("Xvfb", "Xvfb", display.c_str(), "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen",
               "0", "1024x768x24", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    char buf[32] = {};
    const ssize_t n = ::read(fds[0], buf, sizeof buf - 1);
    ::close(fds[0]);
    // It names the display once it listens; a server that could not take the
    // number ends without naming it.
    if (n > 0 && DisplayAnswers(display)) {
      display_ = display;
    } else {
      Stop();
    }
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  std::string display_;
};

// Watches the screen: top-level windows mapped and any change of the screen.
class Screen {
 public:
  explicit Screen(const std::string& display) {
    c_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c_)) {
      std::fprintf(stderr, "cannot reach %s\n", display.c_str());
      std::exit(1);
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(c_, &xcb_damage_id);
    if (damage == nullptr || !damage->present) {
      std::fprintf(stderr, "the X server has no DAMAGE extension\n");
      std::exit(1);
    }
    damageEvent_ = damage->first_event + XCB_DAMAGE_NOTIFY;
    free(xcb_damage_query_version_reply(c_, xcb_damage_query_version(c_, 1, 1), nullptr));
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
    // Damage of the root window covers the windows inside it.
    damage_ = xcb_generate_id(c_);
    xcb_damage_create(c_, damage_, root_, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    xcb_flush(c_);
  }
  ~Screen() { xcb_disconnect(c_); }
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  enum class What { none, mapped, unmapped, painted };
  // The next event within the time left, if any.
  What Next(Clock::time_point deadline) {
    for (;;) {
      std::unique_ptr<xcb_generic_event_t, decltype(&free)> e(xcb_poll_for_event(c_), &free);
      if (!e) {
        const int left =
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0) return What::none;
        pollfd p{xcb_get_file_descriptor(c_), POLLIN, 0};
        ::poll(&p, 1, left);
        continue;
      }
      const uint8_t type = e->response_type & 0x7f;
      if (type == damageEvent_) {
        // Re-armed: the next change is reported again.
        xcb_damage_subtract(c_, damage_, XCB_NONE, XCB_NONE);
        xcb_flush(c_);
        return What::painted;
      }
      if (type == XCB_MAP_NOTIFY) return What::mapped;
      if (type == XCB_UNMAP_NOTIFY || type == XCB_DESTROY_NOTIFY) return What::unmapped;
    }
  }

 private:
  xcb_connection_t* c_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_damage_damage_t damage_ = 0;
  uint8_t damageEvent_ = 0;
};

struct Run {
  double mapMs = 0, paintMs = 0, peakRssMiB = 0;
};

// Starts the program, waits for its first paint, leaves it half a second more
// and ends it.
std::optional<Run> Measure(Screen& screen, const std::string& display, const std::vector<std::string>& argv) {
  Run run;
  const auto start = Clock::now();
  const pid_t pid = Spawn(argv, {"DISPLAY=" + display});
  const auto deadline = start + std::chrono::seconds(30);
  bool mapped = false, painted = false;
  while (!painted) {
    const Screen::What what = screen.Next(deadline);
    if (what == Screen::What::none) break;
    if (what == Screen::What::mapped && !mapped) {
      mapped = true;
      run.mapMs = MsSince(start);
    } else if (what == Screen::What::painted && mapped) {
      painted = true;
      run.paintMs = MsSince(start);
    }
  }
  // Events until half a second after the paint, then the program is ended;
  // its windows' removal is seen before the next run starts.
  const auto settle = Clock::now() + std::chrono::milliseconds(500);
  while (screen.Next(settle) != Screen::What::none) {
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const auto gone = Clock::now() + std::chrono::milliseconds(300);
  while (screen.Next(gone) != Screen::What::none) {
  }
  if (!painted) return std::nullopt;
  run.peakRssMiB = usage.ru_maxrss / 1024.0;
  return run;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The station as an operator's copy: the program with its settings file beside
// it (no port opened: nothing opens it by itself).
std::string StationCopy(const QString& folder, const QString& program = QStringLiteral(CARDSTATION_EXE)) {
  QDir().mkpath(folder + QStringLiteral("/lists"));
  const QString exe = folder + QStringLiteral("/cardstation");
  if (!QFile::copy(program, exe)) std::exit(1);
  QFile ini(folder + QStringLiteral("/VavizEvu.ini"));
  if (!ini.open(QIODevice::WriteOnly)) std::exit(1);
  ini.write(QStringLiteral("[Settings]\r\ncomname=COM1\r\n[Ports]\r\nCOM1=%1/none\r\n[Drives]\r\nC=%1/lists\r\n")
                .arg(folder)
                .toUtf8());
  return exe.toStdString();
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  std::vector<std::string> positional;
  bool withFull = true;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--no-full") {
      withFull = false;
    } else {
      positional.emplace_back(argv[i]);
    }
  }
  const int runs = !positional.empty() ? std::max(1, std::atoi(positional[0].c_str())) : 5;
  QTemporaryDir work;
  const std::string empty = StationCopy(work.filePath(QStringLiteral("empty")));

  Xvfb xvfb;
  Screen screen(xvfb.display());
  struct Subject {
    const char* name;
    std::vector<std::string> argv;
    std::vector<double> map, paint, rss;
  };
  std::vector<Subject> subjects = {{"bare window, one Chinese label", {STARTUP_LABEL_EXE}, {}, {}, {}},
                                   {"card station, empty journal", {empty}, {}, {}, {}}};
  if (withFull) {
    const std::string full = StationCopy(work.filePath(QStringLiteral("full")));
    bench::CopyFilledSqliteJournal(work.filePath(QStringLiteral("full/cards.db")), 1000000);
    // The full journal's copy is opened once before the runs, so that every
    // run finds its indexes as a station in use would.
    journal::Journal::OpenSqlite(work.filePath(QStringLiteral("full/cards.db")));
    subjects.push_back({"card station, 1,000,000 cards", {full}, {}, {}, {}});
  }
  if (positional.size() > 1) {
    const std::string other =
        StationCopy(work.filePath(QStringLiteral("other")), QFile::decodeName(QByteArray(positional[1].c_str())));
    subjects.push_back({"other build, empty journal", {other}, {}, {}, {}});
  }
  for (int r = 0; r < runs; ++r) {
    for (Subject& s : subjects) {
      const std::optional<Run> run = Measure(screen, xvfb.display(), s.argv);
      if (!run) {
        std::fprintf(stderr, "%s: no first paint within 30 s\n", s.name);
        return 1;
      }
      s.map.push_back(run->mapMs);
      s.paint.push_back(run->paintMs);
      s.rss.push_back(run->peakRssMiB);
    }
  }
  const std::string caption = "median of " + std::to_string(runs) + " runs";
  std::printf("%-34s %12s %16s %14s\n", caption.c_str(), "mapped (ms)", "first paint (ms)", "peak RSS (MiB)");
  for (const Subject& s : subjects) {
    std::printf("%-34s %12.1f %16.1f %14.1f\n", s.name, Median(s.map), Median(s.paint), Median(s.rss));
  }
  const Subject& bare = subjects[0];
  for (std::size_t i = 1; i < subjects.size(); ++i) {
    std::printf("%s against the bare window: first paint %.2f x, peak RSS %.2f x\n", subjects[i].name,
                Median(subjects[i].paint) / Median(bare.paint), Median(subjects[i].rss) / Median(bare.rss));
  }
  return 0;
}
