// End-to-end figures of the serial port component over a pseudo-terminal, each
// next to QSerialPort (readyRead on the main thread) and a bare poll()+read()
// loop on the same pty in the same run:
//   latency     far-end write -> OnTrigger on the main thread (2,000 samples at
//               random intervals), median and p99
//   throughput  64 MiB through OnTrigger + GetChar one byte at a time, checked;
//               best of 3 rounds that alternate with the bare loop's, with
//               the CPU the whole process spent per MiB
//   idle        CPU time and thread wake-ups over 10 s with the port open
// Prints a table; nothing here asserts a time.

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
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/DeviceProfile.h"
#include "serial/ComPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of the whole process (every thread, the far end's writer included).
double ProcessCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
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
};

void WriteAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w > 0) {
      data += w;
      n -= static_cast<size_t>(w);
    } else {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

struct Stats {
  double median_us, p99_us;
};
Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

constexpr int kSamples = 2000;
constexpr size_t kBytes = 64u << 20;
constexpr int kRounds = 3;

// Random gaps of 0.2 to 2 ms between samples, the same sequence for both loops.
std::vector<int> Gaps() {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> gap(200, 2000);
  std::vector<int> g(kSamples);
  for (int& x : g) x = gap(rng);
  return g;
}

// ---- bare loop ------------------------------------------------------------------

Stats BareLatency(Pty& pty) {
  const auto gaps = Gaps();
  std::vector<double> lat(kSamples);
  std::atomic<long long> sentAt{0};
  std::atomic<int> received{0};
  std::thread reader([&] {
    uint8_t buf[256];
    int n = 0;
    while (n < kSamples) {
      pollfd p{pty.slave, POLLIN, 0};
      ::poll(&p, 1, -1);
      const ssize_t r = ::read(pty.slave, buf, sizeof buf);
      if (r <= 0) continue;
      const auto now = Clock::now().time_since_epoch().count();
      lat[n] = (now - sentAt.load()) / 1000.0;
      received.store(++n);
    }
  });
  for (int i = 0; i < kSamples; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(gaps[i]));
    const uint8_t b = static_cast<uint8_t>(i);
    sentAt.store(Clock::now().time_since_epoch().count());
    WriteAll(pty.master, &b, 1);
    while (received.load() <= i) std::this_thread::yield();
  }
  reader.join();
  return Summarise(lat);
}

// The far end writes 64 MiB as fast as the pty takes them.
void WriteBulk(Pty& pty) {
  std::vector<uint8_t> chunk(4096);
  for (size_t at = 0; at < kBytes; at += chunk.size()) {
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>((at + i) * 7);
    WriteAll(pty.master, chunk.data(), chunk.size());
  }
}

double BareThroughput(Pty& pty, uint32_t& sum, double& cpuMsPerMiB) {
  std::thread writer([&] { WriteBulk(pty); });
  const double cpuStart = ProcessCpuSeconds();
  const auto start = Clock::now();
  uint8_t buf[8192];
  size_t got = 0;
  sum = 0;
  while (got < kBytes) {
    pollfd p{pty.slave, POLLIN, 0};
    ::poll(&p, 1, -1);
    const ssize_t r = ::read(pty.slave, buf, sizeof buf);
    for (ssize_t i = 0; i < r; ++i) sum = sum * 31 + buf[i];
    if (r > 0) got += static_cast<size_t>(r);
  }
  const double secs = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  cpuMsPerMiB = (ProcessCpuSeconds() - cpuStart) * 1000.0 / (kBytes >> 20);
  return kBytes / secs / (1 << 20);
}

// ---- wake-ups and CPU -------------------------------------------------------------

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
    std::string line;
    while (std::getline(status, line))
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

// Runs Qt's event loop for the given time and reports what the process and each
// of its threads used meanwhile. Threads that started or ended in between are
// left out of the per-thread lines.
Idle MeasureIdle(QApplication& app, double seconds) {
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

// Latency through the component: far-end write -> OnTrigger on the main thread.
Stats PortLatency(QApplication& app, TSerComPort& port, Pty& pty) {
  const auto gaps = Gaps();
  std::vector<double> lat(kSamples);
  std::atomic<long long> sentAt{0};
  std::atomic<int> received{0};
  port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
    if (msg != TriggerAvailMsg) return;
    const auto now = Clock::now().time_since_epoch().count();
    for (int i = 0; i < data; ++i) cp->GetChar();
    const int n = received.load();
    if (n < kSamples) lat[n] = (now - sentAt.load()) / 1000.0;
    received.store(n + 1);
  });
  std::thread writer([&] {
    for (int i = 0; i < kSamples; ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(gaps[i]));
      const uint8_t b = static_cast<uint8_t>(i);
      sentAt.store(Clock::now().time_since_epoch().count());
      WriteAll(pty.master, &b, 1);
      while (received.load() <= i) std::this_thread::yield();
    }
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  app.exec();
  writer.join();
  port.SetOnTrigger([](TSerCustomComPort*, uint16_t, uint16_t, uint16_t) {});
  return Summarise(lat);
}

// 64 MiB through the open component: one GetChar per byte, as the card station
// takes its replies.
struct Throughput {
  double mibPerSecond = 0, bytesPerNotification = 0, cpuMsPerMiB = 0;
  uint32_t sum = 0;
  bool complete = false;
};

Throughput PortThroughput(QApplication& app, TSerComPort& port, Pty& pty) {
  size_t got = 0;
  uint32_t sum = 0;
  long long notifications = 0;
  port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
    if (msg != TriggerAvailMsg) return;
    ++notifications;
    for (int i = 0; i < data; ++i) sum = sum * 31 + static_cast<uint8_t>(cp->GetChar());
    got += data;
    if (got >= kBytes) QCoreApplication::quit();
  });
  std::thread bulk([&] { WriteBulk(pty); });
  const double cpuStart = ProcessCpuSeconds();
  const auto start = Clock::now();
  app.exec();
  const double secs = std::chrono::duration<double>(Clock::now() - start).count();
  bulk.join();
  const double cpuMsPerMiB = (ProcessCpuSeconds() - cpuStart) * 1000.0 / (kBytes >> 20);
  port.SetOnTrigger([](TSerCustomComPort*, uint16_t, uint16_t, uint16_t) {});
  Throughput t;
  t.mibPerSecond = kBytes / secs / (1 << 20);
  t.cpuMsPerMiB = cpuMsPerMiB;
  t.bytesPerNotification = notifications ? double(got) / notifications : 0.0;
  t.sum = sum;
  t.complete = got == kBytes;
  return t;
}


// ---- QSerialPort ------------------------------------------------------------------

bool OpenQt(QSerialPort& qt, const Pty& pty) {
  qt.setPortName(QString::fromStdString(pty.path));
  if (!qt.open(QIODevice::ReadWrite)) return false;
  qt.setBaudRate(9600);
  return true;
}

// Latency through QSerialPort: far-end write -> readyRead on the main thread.
Stats QtLatency(QApplication& app, QSerialPort& qt, Pty& pty) {
  const auto gaps = Gaps();
  std::vector<double> lat(kSamples);
  std::atomic<long long> sentAt{0};
  std::atomic<int> received{0};
  auto connection = QObject::connect(&qt, &QSerialPort::readyRead, [&] {
    const auto now = Clock::now().time_since_epoch().count();
    qt.readAll();
    const int n = received.load();
    if (n < kSamples) lat[n] = (now - sentAt.load()) / 1000.0;
    received.store(n + 1);
  });
  std::thread writer([&] {
    for (int i = 0; i < kSamples; ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(gaps[i]));
      const uint8_t b = static_cast<uint8_t>(i);
      sentAt.store(Clock::now().time_since_epoch().count());
      WriteAll(pty.master, &b, 1);
      while (received.load() <= i) std::this_thread::yield();
    }
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  app.exec();
  writer.join();
  QObject::disconnect(connection);
  return Summarise(lat);
}

// 64 MiB through QSerialPort, read in whatever chunks readyRead offers, every
// byte into the same running checksum.
Throughput QtThroughput(QApplication& app, QSerialPort& qt, Pty& pty) {
  size_t got = 0;
  uint32_t sum = 0;
  long long notifications = 0;
  char buf[8192];
  auto connection = QObject::connect(&qt, &QSerialPort::readyRead, [&] {
    ++notifications;
    for (qint64 n; (n = qt.read(buf, sizeof buf)) > 0;) {
      for (qint64 i = 0; i < n; ++i) sum = sum * 31 + static_cast<uint8_t>(buf[i]);
      got += static_cast<size_t>(n);
    }
    if (got >= kBytes) QCoreApplication::quit();
  });
  std::thread bulk([&] { WriteBulk(pty); });
  const double cpuStart = ProcessCpuSeconds();
  const auto start = Clock::now();
  app.exec();
  const double secs = std::chrono::duration<double>(Clock::now() - start).count();
  bulk.join();
  const double cpuMsPerMiB = (ProcessCpuSeconds() - cpuStart) * 1000.0 / (kBytes >> 20);
  QObject::disconnect(connection);
  Throughput t;
  t.mibPerSecond = kBytes / secs / (1 << 20);
  t.cpuMsPerMiB = cpuMsPerMiB;
  t.bytesPerNotification = notifications ? double(got) / notifications : 0.0;
  t.sum = sum;
  t.complete = got == kBytes;
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Optional arguments pick measurements (latency, throughput, idle); all by default.
  const QStringList picked = app.arguments().mid(1);
  auto want = [&](const char* name) { return picked.isEmpty() || picked.contains(QLatin1String(name)); };
  Pty pty;

  // Bare loop first, while nothing else holds the pty.
  const Stats bareLat = want("latency") ? BareLatency(pty) : Stats{};
  Idle bareIdle{};
  if (want("idle")) {
    std::atomic<bool> stop{false};
    int wake[2];
    if (::pipe(wake) != 0) return 1;
    std::thread t([&] {
      pollfd p[2] = {{pty.slave, POLLIN, 0}, {wake[0], POLLIN, 0}};
      uint8_t buf[256];
      while (!stop.load()) {
        ::poll(p, 2, -1);
        if (p[0].revents & POLLIN) [[maybe_unused]] ssize_t r = ::read(pty.slave, buf, sizeof buf);
      }
    });
    bareIdle = MeasureIdle(app, 10.0);
    stop.store(true);
    [[maybe_unused]] ssize_t w = ::write(wake[1], "x", 1);
    t.join();
    ::close(wake[0]);
    ::close(wake[1]);
  }

  // QSerialPort next, on the same pty, while our component is closed.
  Stats qtLat{};
  Idle qtIdle{};
  {
    QSerialPort qt;
    if (!OpenQt(qt, pty)) {
      std::fprintf(stderr, "QSerialPort cannot open %s: %s\n", pty.path.c_str(), qPrintable(qt.errorString()));
      return 1;
    }
    if (want("latency")) qtLat = QtLatency(app, qt, pty);
    if (want("idle")) qtIdle = MeasureIdle(app, 10.0);
  }

  // The station's own line settings, so the figures are those of the program.
  TSerComPort port;
  station::ApplyDeviceProfile(port, station::kCardDevice);
  port.SetPortResolver([&](uint16_t) { return pty.path; });
  port.SetOpen(true);

  const Stats portLat = want("latency") ? PortLatency(app, port, pty) : Stats{};

  // Throughput rounds, alternating between the three readers (only one holds
  // the pty at a time).
  double portMiB = 0, bareMiB = 0, qtMiB = 0, bytesPerNotification = 0, qtBytesPerNotification = 0;
  // CPU per MiB of each reader's best round.
  double portCpu = 0, qtCpu = 0, bareCpu = 0;
  uint32_t bareSum = 0;
  bool allChecked = true;
  for (int round = 0; want("throughput") && round < kRounds; ++round) {
    port.SetOpen(false);
    double cpu = 0;
    const double mib = BareThroughput(pty, bareSum, cpu);
    if (mib > bareMiB) {
      bareMiB = mib;
      bareCpu = cpu;
    }
    {
      QSerialPort qt;
      if (!OpenQt(qt, pty)) return 1;
      const Throughput t = QtThroughput(app, qt, pty);
      allChecked = allChecked && t.sum == bareSum && t.complete;
      if (t.mibPerSecond > qtMiB) {
        qtMiB = t.mibPerSecond;
        qtBytesPerNotification = t.bytesPerNotification;
        qtCpu = t.cpuMsPerMiB;
      }
    }
    port.SetOpen(true);
    const Throughput t = PortThroughput(app, port, pty);
    allChecked = allChecked && t.sum == bareSum && t.complete;
    if (t.mibPerSecond > portMiB) {
      portMiB = t.mibPerSecond;
      bytesPerNotification = t.bytesPerNotification;
      portCpu = t.cpuMsPerMiB;
    }
  }

  port.SetOnTrigger([](TSerCustomComPort*, uint16_t, uint16_t, uint16_t) {});
  const Idle portIdle = want("idle") ? MeasureIdle(app, 10.0) : Idle{};
  port.SetOpen(false);

  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  std::printf("%-34s %12s %12s %12s\n", "", "component", "QSerialPort", "bare loop");
  std::printf("%-34s %12.1f %12.1f %12.1f\n", "latency median (us)", portLat.median_us, qtLat.median_us,
              bareLat.median_us);
  std::printf("%-34s %12.1f %12.1f %12.1f\n", "latency p99 (us)", portLat.p99_us, qtLat.p99_us, bareLat.p99_us);
  std::printf("%-34s %12.1f %12.1f %12.1f\n", "throughput 64 MiB, best of 3 (MiB/s)", portMiB, qtMiB, bareMiB);
  std::printf("%-34s %12.2f %12.2f %12.2f\n", "  CPU per MiB (ms, whole process)", portCpu, qtCpu, bareCpu);
  std::printf("%-34s %12s\n", "  every byte, in order, every round", allChecked ? "yes" : "NO");
  std::printf("%-34s %12.0f %12.0f\n", "  bytes per notification", bytesPerNotification, qtBytesPerNotification);
  std::printf("%-34s %12.3f %12.3f %12.3f\n", "idle CPU over 10 s (% of a core)", portIdle.cpuPercent,
              qtIdle.cpuPercent, bareIdle.cpuPercent);
  std::printf("%-34s %12.1f %12.1f %12.1f\n", "idle wake-ups per second", portIdle.wakeupsPerSecond,
              qtIdle.wakeupsPerSecond, bareIdle.wakeupsPerSecond);
  std::printf("%-34s %12.2f\n", "latency median / QSerialPort's", ratio(portLat.median_us, qtLat.median_us));
  std::printf("%-34s %12.2f\n", "throughput / bare loop's", ratio(portMiB, bareMiB));
  std::printf("idle, per thread of the component run (CPU %% of a core, wake-ups per second):\n");
  for (const auto& [name, use] : portIdle.perThread)
    std::printf("  %-32s %14.3f %14.1f\n", name.c_str(), use.first, use.second);
  return allChecked ? 0 : 1;
}
