// End-to-end figures of the serial port component over a pseudo-terminal, in
// one run, next to QSerialPort and a bare poll()+read() loop. Every reader
// takes its turn on a fresh pty pair, and each is read as its users read it:
//   component, GetChar   OnTrigger on the main thread, one GetChar per byte
//                        (as the card station takes its replies)
//   component, one call  OnTrigger, the announced bytes taken in one call on
//                        the dispatcher's view of its input ring
//   QSerialPort          readyRead on the main thread, readAll()
//   bare loop            poll() + read() on a thread of its own
// Measurements (arguments pick them; latency and throughput by default):
//   latency     far-end write of a 3-byte message -> the reader holding all
//               three bytes, at random gaps of 0.2 to 2 ms and of 2 to 20 ms
//               (the same gaps for every reader); median, p99, and the
//               reading side's CPU per message
//   throughput  16 MiB as fast as the pty takes them, every byte into a
//               checksum; best of 3 rounds that take turns between the
//               readers, with the reading side's CPU per MiB
//   idle        CPU time and thread wake-ups over 10 s with the port open
// Reader names among the arguments (getchar, onecall, qserialport, bare) run
// only those readers, so that strace or perf can look at one of them alone;
// the others' columns then read 0.
// The reading side's CPU is the whole process's less the far end's writer
// thread. Prints a table; nothing here asserts a time. Exits non-zero when a
// reader lost or reordered bytes.

#include <QApplication>
#include <QSerialPort>
#include <QTimer>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/DeviceProfile.h"
#include "serial/ComPort.h"
#include "serial/Dispatcher.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Pty {
  int master = -1, slave = -1;
  std::string path;
  Pty() {
    char name[128] = {};
    ::openpty(&master, &slave, name, nullptr, nullptr);
    path = name;
    termios tio{};
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
  }
  ~Pty() {
    ::close(master);
    ::close(slave);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
};

void WriteAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w > 0) {
      data += w;
      n -= static_cast<size_t>(w);
    } else {
      pollfd p{fd, POLLIN | POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

// ---- the readers ------------------------------------------------------------------

enum class Reader { componentPerByte, componentPerCall, qserialport, bare };
constexpr Reader kReaders[] = {Reader::componentPerByte, Reader::componentPerCall, Reader::qserialport, Reader::bare};
constexpr const char* kReaderNames[] = {"component, GetChar", "component, one call", "QSerialPort", "bare loop"};
const char* Name(Reader r) { return kReaderNames[static_cast<int>(r)]; }

// Receives each notification's bytes: on the main thread, or on the bare
// loop's own thread.
using Sink = std::function<void(const uint8_t*, size_t)>;

// A reader holding the pty's slave side until destroyed.
class Attachment {
 public:
  virtual ~Attachment() = default;
};

class ComponentReader : public Attachment {
 public:
  ComponentReader(const Pty& pty, Sink sink, bool perByte) {
    // The station's own line settings, so the figures are those of the program.
    station::ApplyDeviceProfile(port_, station::kCardDevice);
    const std::string path = pty.path;
    port_.SetPortResolver([path](uint16_t) { return path; });
    port_.SetOnTrigger(
        [this, sink = std::move(sink), perByte](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
          if (msg != TriggerAvailMsg) return;
          if (perByte) {
            const int n = std::min<int>(data, sizeof buffer_);
            for (int i = 0; i < n; ++i) buffer_[i] = static_cast<uint8_t>(cp->GetChar());
            sink(buffer_, static_cast<size_t>(n));
            return;
          }
          // The announced bytes straight out of the input ring, in one call.
          TSerBaseDispatcher::TInputView view;
          TSerBaseDispatcher* d = cp->Dispatcher();
          if (d == nullptr || !d->BeginTaking(view)) return;
          const uint32_t n = std::min<uint32_t>({data, view.End - view.Next, sizeof buffer_});
          const uint32_t at = (view.Tail + view.Next) % TSerBaseDispatcher::InRingSize;
          const uint32_t first = std::min(n, TSerBaseDispatcher::InRingSize - at);
          std::memcpy(buffer_, view.Ring + at, first);
          std::memcpy(buffer_ + first, view.Ring, n - first);
          d->NoteTaken(view.Next + n);
          sink(buffer_, n);
        });
    port_.SetOpen(true);
  }
  ~ComponentReader() override { port_.SetOpen(false); }

 private:
  TSerComPort port_;
  uint8_t buffer_[TSerBaseDispatcher::InRingSize] = {};
};

class QtReader : public Attachment {
 public:
  QtReader(const Pty& pty, Sink sink) {
    port_.setPortName(QString::fromStdString(pty.path));
    if (!port_.open(QIODevice::ReadWrite)) {
      std::fprintf(stderr, "QSerialPort cannot open %s: %s\n", pty.path.c_str(), qPrintable(port_.errorString()));
      std::exit(1);
    }
    port_.setBaudRate(9600);
    QObject::connect(&port_, &QSerialPort::readyRead, [this, sink = std::move(sink)] {
      const QByteArray bytes = port_.readAll();
      sink(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    });
  }

 private:
  QSerialPort port_;
};

class BareReader : public Attachment {
 public:
  BareReader(const Pty& pty, Sink sink) {
    if (::pipe(wake_) != 0) std::exit(1);
    thread_ = std::thread([this, fd = pty.slave, sink = std::move(sink)] {
      uint8_t buf[8192];
      for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        ::poll(p, 2, -1);
        if (p[1].revents != 0) return;
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r > 0) sink(buf, static_cast<size_t>(r));
      }
    });
  }
  ~BareReader() override {
    [[maybe_unused]] const ssize_t w = ::write(wake_[1], "x", 1);
    thread_.join();
    ::close(wake_[0]);
    ::close(wake_[1]);
  }

 private:
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

std::unique_ptr<Attachment> Attach(Reader reader, const Pty& pty, Sink sink) {
  switch (reader) {
    case Reader::componentPerByte: return std::make_unique<ComponentReader>(pty, std::move(sink), true);
    case Reader::componentPerCall: return std::make_unique<ComponentReader>(pty, std::move(sink), false);
    case Reader::qserialport: return std::make_unique<QtReader>(pty, std::move(sink));
    case Reader::bare: return std::make_unique<BareReader>(pty, std::move(sink));
  }
  return nullptr;
}

// Runs Qt's event loop while body runs on a far-end thread of its own; body
// gets its thread's CPU clock back. Returns the reading side's CPU seconds
// (the process's less the far end's) and the wall seconds.
struct Spent {
  double cpu = 0, wall = 0;
};
Spent RunFarEnd(QApplication& app, const std::function<void()>& body) {
  double farEndCpu = 0;
  const double cpuStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const auto start = Clock::now();
  std::thread farEnd([&] {
    body();
    farEndCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  app.exec();
  farEnd.join();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return {CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart - farEndCpu, wall};
}

// ---- latency ----------------------------------------------------------------------

constexpr size_t kMessage = 3;

struct Latency {
  double medianUs = 0, p99Us = 0, cpuUsPerMessage = 0;
  bool complete = true;
};

Latency MeasureLatency(QApplication& app, Reader reader, int minGapUs, int maxGapUs, int samples) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> gap(minGapUs, maxGapUs);
  std::vector<double> lat(static_cast<size_t>(samples));
  std::mutex m;
  std::condition_variable arrived;
  size_t got = 0;
  Clock::time_point sentAt;
  Pty pty;
  const auto attached = Attach(reader, pty, [&](const uint8_t*, size_t n) {
    const auto now = Clock::now();
    std::lock_guard lock(m);
    got += n;
    if (got % kMessage == 0 && got / kMessage <= lat.size()) {
      lat[got / kMessage - 1] = std::chrono::duration<double, std::micro>(now - sentAt).count();
      arrived.notify_one();
    }
  });
  Latency result;
  const Spent spent = RunFarEnd(app, [&] {
    const uint8_t message[kMessage] = {0x1b, 0x30, 0x00};
    for (int i = 0; i < samples; ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(gap(rng)));
      std::unique_lock lock(m);
      sentAt = Clock::now();
      WriteAll(pty.master, message, sizeof message);
      const size_t want = (static_cast<size_t>(i) + 1) * kMessage;
      if (!arrived.wait_for(lock, std::chrono::seconds(5), [&] { return got >= want; })) {
        result.complete = false;
        return;
      }
    }
  });
  std::sort(lat.begin(), lat.end());
  result.medianUs = lat[lat.size() / 2];
  result.p99Us = lat[std::min(lat.size() - 1, lat.size() * 99 / 100)];
  result.cpuUsPerMessage = spent.cpu * 1e6 / samples;
  return result;
}

// ---- throughput -------------------------------------------------------------------

constexpr size_t kBytes = 16u << 20;
constexpr int kRounds = 3;

uint8_t PatternByte(size_t at) { return static_cast<uint8_t>(at * 7 + (at >> 12)); }

uint32_t PatternSum() {
  uint32_t sum = 0;
  for (size_t at = 0; at < kBytes; ++at) sum = sum * 31 + PatternByte(at);
  return sum;
}

struct Throughput {
  double mibPerSecond = 0, cpuMsPerMiB = 0, bytesPerNotification = 0;
  bool intact = true;
};

Throughput MeasureThroughput(QApplication& app, Reader reader, uint32_t expectedSum) {
  std::atomic<size_t> got{0};
  uint32_t sum = 0;
  long long notifications = 0;
  std::mutex m;
  std::condition_variable done;
  Pty pty;
  const auto attached = Attach(reader, pty, [&](const uint8_t* bytes, size_t n) {
    ++notifications;
    for (size_t i = 0; i < n; ++i) sum = sum * 31 + bytes[i];
    if (got.fetch_add(n) + n >= kBytes) {
      std::lock_guard lock(m);
      done.notify_one();
    }
  });
  bool complete = true;
  const Spent spent = RunFarEnd(app, [&] {
    std::vector<uint8_t> chunk(4096);
    for (size_t at = 0; at < kBytes; at += chunk.size()) {
      for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = PatternByte(at + i);
      WriteAll(pty.master, chunk.data(), chunk.size());
    }
    std::unique_lock lock(m);
    complete = done.wait_for(lock, std::chrono::seconds(30), [&] { return got.load() >= kBytes; });
  });
  Throughput t;
  t.mibPerSecond = kBytes / spent.wall / (1 << 20);
  t.cpuMsPerMiB = spent.cpu * 1000.0 / (kBytes >> 20);
  t.bytesPerNotification = notifications > 0 ? static_cast<double>(got.load()) / notifications : 0.0;
  t.intact = complete && got.load() == kBytes && sum == expectedSum;
  return t;
}

// ---- idle -------------------------------------------------------------------------

// One line per thread of this process: its name, voluntary context switches
// (each is a sleep that something later ended, i.e. one wake-up) and CPU time
// in nanoseconds from the scheduler's own accounting.
struct ThreadSample {
  std::string name;
  long long wakeups = 0;
  long long cpuNs = 0;
};

std::map<std::string, ThreadSample> SampleThreads() {
  std::map<std::string, ThreadSample> byTid;
  DIR* d = ::opendir("/proc/self/task");
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string dir = std::string("/proc/self/task/") + e->d_name;
    ThreadSample t;
    std::ifstream(dir + "/comm") >> t.name;
    std::ifstream status(dir + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) t.wakeups = std::stoll(line.substr(24));
    std::ifstream(dir + "/schedstat") >> t.cpuNs;
    byTid[e->d_name] = t;
  }
  ::closedir(d);
  return byTid;
}

struct Idle {
  double cpuPercent = 0, wakeupsPerSecond = 0;
  // Per thread name (threads of the same name added up), in the same units.
  std::map<std::string, std::pair<double, double>> perThread;
};

// Runs Qt's event loop for the given time with the reader attached to an
// idle pty and reports what the process and each of its threads used
// meanwhile. Threads that started or ended in between are left out.
Idle MeasureIdle(QApplication& app, Reader reader, double seconds) {
  Pty pty;
  const auto attached = Attach(reader, pty, [](const uint8_t*, size_t) {});
  const auto before = SampleThreads();
  QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QCoreApplication::quit);
  app.exec();
  const auto after = SampleThreads();
  Idle idle;
  for (const auto& [tid, a] : after) {
    const auto b = before.find(tid);
    if (b == before.end()) continue;
    const double cpu = (a.cpuNs - b->second.cpuNs) / 1e9 / seconds * 100.0;
    const double wakes = (a.wakeups - b->second.wakeups) / seconds;
    idle.cpuPercent += cpu;
    idle.wakeupsPerSecond += wakes;
    auto& line = idle.perThread[a.name];
    line.first += cpu;
    line.second += wakes;
  }
  return idle;
}

void PrintRow(const char* caption, const char* format, const double (&values)[4]) {
  std::printf("%-40s", caption);
  for (const double v : values) std::printf(format, v);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList picked = app.arguments().mid(1);
  // Readers picked by name; all of them when none is named.
  const char* const kReaderArgs[] = {"getchar", "onecall", "qserialport", "bare"};
  std::vector<Reader> readers;
  for (const Reader r : kReaders)
    if (picked.contains(QLatin1String(kReaderArgs[static_cast<int>(r)]))) readers.push_back(r);
  if (readers.empty()) readers.assign(std::begin(kReaders), std::end(kReaders));
  auto want = [&](const char* name, bool byDefault) {
    const bool anyMeasurement = picked.contains(QLatin1String("latency")) ||
                                picked.contains(QLatin1String("throughput")) || picked.contains(QLatin1String("idle"));
    return anyMeasurement ? picked.contains(QLatin1String(name)) : byDefault;
  };
  bool intact = true;
  std::printf("%-40s", "");
  for (const Reader r : kReaders) std::printf("%22s", Name(r));
  std::printf("\n");

  if (want("latency", true)) {
    // The short gaps are a stream of replies; the long ones a card device,
    // which answers seconds apart, the case that counts.
    struct Band {
      const char* caption;
      int minUs, maxUs, samples;
    };
    for (const Band band : {Band{"gaps 0.2 to 2 ms, 2,000 samples", 200, 2000, 2000},
                            Band{"gaps 2 to 20 ms, 500 samples", 2000, 20000, 500}}) {
      double median[4] = {}, p99[4] = {}, cpu[4] = {};
      for (const Reader r : readers) {
        const Latency l = MeasureLatency(app, r, band.minUs, band.maxUs, band.samples);
        const int i = static_cast<int>(r);
        median[i] = l.medianUs;
        p99[i] = l.p99Us;
        cpu[i] = l.cpuUsPerMessage;
        intact = intact && l.complete;
      }
      std::printf("latency, %s\n", band.caption);
      PrintRow("  median (us)", "%22.1f", median);
      PrintRow("  p99 (us)", "%22.1f", p99);
      PrintRow("  reading side's CPU per message (us)", "%22.1f", cpu);
      std::printf("%-40s%22.2f%22.2f\n", "  median / QSerialPort's", median[0] / median[2], median[1] / median[2]);
    }
  }

  if (want("throughput", true)) {
    const uint32_t expected = PatternSum();
    Throughput best[4];
    // Rounds take turns between the readers, so a busy spell of the shared
    // machine falls on all of them; the best round of each counts.
    for (int round = 0; round < kRounds; ++round) {
      for (const Reader r : readers) {
        const Throughput t = MeasureThroughput(app, r, expected);
        intact = intact && t.intact;
        Throughput& b = best[static_cast<int>(r)];
        if (t.mibPerSecond > b.mibPerSecond) b = t;
      }
    }
    double mib[4], cpu[4], per[4];
    for (int i = 0; i < 4; ++i) {
      mib[i] = best[i].mibPerSecond;
      cpu[i] = best[i].cpuMsPerMiB;
      per[i] = best[i].bytesPerNotification;
    }
    std::printf("throughput, 16 MiB, best of %d\n", kRounds);
    PrintRow("  MiB/s", "%22.1f", mib);
    PrintRow("  reading side's CPU per MiB (ms)", "%22.2f", cpu);
    PrintRow("  bytes per notification", "%22.0f", per);
    std::printf("%-40s%22.2f%22.2f\n", "  MiB/s / QSerialPort's", mib[0] / mib[2], mib[1] / mib[2]);
    std::printf("%-40s%22.2f%22.2f\n", "  CPU per MiB / QSerialPort's", cpu[0] / cpu[2], cpu[1] / cpu[2]);
  }

  if (want("idle", false)) {
    double cpu[4] = {}, wakes[4] = {};
    Idle component;
    for (const Reader r : readers) {
      const Idle idle = MeasureIdle(app, r, 10.0);
      cpu[static_cast<int>(r)] = idle.cpuPercent;
      wakes[static_cast<int>(r)] = idle.wakeupsPerSecond;
      if (r == Reader::componentPerByte) component = idle;
    }
    std::printf("idle, 10 s with the port open\n");
    PrintRow("  CPU (% of a core)", "%22.3f", cpu);
    PrintRow("  wake-ups per second", "%22.1f", wakes);
    std::printf("idle, per thread of the component (CPU %% of a core, wake-ups per second):\n");
    for (const auto& [name, use] : component.perThread)
      std::printf("  %-32s %14.3f %14.1f\n", name.c_str(), use.first, use.second);
  }

  std::printf("%-40s%22s\n", "every byte, in order, every reader", intact ? "yes" : "NO");
  return intact ? 0 : 1;
}
