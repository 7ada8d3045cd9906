// End-to-end figures of the serial port component over a pseudo-terminal, each
// next to a bare poll()+read() loop on the same pty in the same run:
//   latency     far-end write -> OnTrigger on the main thread (2,000 samples at
//               random intervals), median and p99
//   throughput  64 MiB through OnTrigger + GetChar one byte at a time, checked
//   idle        CPU time and thread wake-ups over 10 s with the port open
// Prints a table; nothing here asserts a time.

#include <QApplication>
#include <QTimer>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComPort.h"

namespace {

using Clock = std::chrono::steady_clock;

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

double BareThroughput(Pty& pty, uint32_t& sum) {
  std::thread writer([&] {
    std::vector<uint8_t> chunk(4096);
    for (size_t at = 0; at < kBytes; at += chunk.size()) {
      for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>((at + i) * 7);
      WriteAll(pty.master, chunk.data(), chunk.size());
    }
  });
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
  return kBytes / secs / (1 << 20);
}

// ---- wake-ups and CPU -------------------------------------------------------------

long long ContextSwitches() {
  long long total = 0;
  DIR* d = ::opendir("/proc/self/task");
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stoll(line.substr(24));
  }
  ::closedir(d);
  return total;
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Idle {
  double cpuPercent, wakeupsPerSecond;
};

Idle MeasureIdle(QApplication& app, double seconds) {
  const long long w0 = ContextSwitches();
  const double c0 = CpuSeconds();
  QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QCoreApplication::quit);
  app.exec();
  return {(CpuSeconds() - c0) / seconds * 100.0, (ContextSwitches() - w0) / seconds};
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Pty pty;

  // Bare loop first, while nothing else holds the pty.
  const Stats bareLat = BareLatency(pty);
  uint32_t bareSum = 0;
  const double bareMiB = BareThroughput(pty, bareSum);
  Idle bareIdle{};
  {
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

  TSerComPort port;
  port.SetPortResolver([&](uint16_t) { return pty.path; });
  LoadComPort1Settings(port);
  port.SetOpen(true);

  // Latency through the component.
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
  const Stats portLat = Summarise(lat);

  // Throughput: one GetChar per byte, as the card station takes its replies.
  size_t got = 0;
  uint32_t sum = 0;
  Clock::time_point start;
  port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
    if (msg != TriggerAvailMsg) return;
    for (int i = 0; i < data; ++i) sum = sum * 31 + static_cast<uint8_t>(cp->GetChar());
    got += data;
    if (got >= kBytes) QCoreApplication::quit();
  });
  std::thread bulk([&] {
    std::vector<uint8_t> chunk(4096);
    for (size_t at = 0; at < kBytes; at += chunk.size()) {
      for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>((at + i) * 7);
      WriteAll(pty.master, chunk.data(), chunk.size());
    }
  });
  start = Clock::now();
  app.exec();
  const double portMiB = kBytes / std::chrono::duration<double>(Clock::now() - start).count() / (1 << 20);
  bulk.join();

  port.SetOnTrigger([](TSerCustomComPort*, uint16_t, uint16_t, uint16_t) {});
  const Idle portIdle = MeasureIdle(app, 10.0);
  port.SetOpen(false);

  std::printf("%-34s %14s %14s\n", "", "component", "bare loop");
  std::printf("%-34s %14.1f %14.1f\n", "latency median (us)", portLat.median_us, bareLat.median_us);
  std::printf("%-34s %14.1f %14.1f\n", "latency p99 (us)", portLat.p99_us, bareLat.p99_us);
  std::printf("%-34s %14.1f %14.1f\n", "throughput 64 MiB (MiB/s)", portMiB, bareMiB);
  std::printf("%-34s %14s %14s\n", "  checksum matches the bare loop", sum == bareSum ? "yes" : "NO",
              got == kBytes ? "(all bytes)" : "(bytes lost)");
  std::printf("%-34s %14.3f %14.3f\n", "idle CPU over 10 s (% of a core)", portIdle.cpuPercent, bareIdle.cpuPercent);
  std::printf("%-34s %14.1f %14.1f\n", "idle wake-ups per second", portIdle.wakeupsPerSecond,
              bareIdle.wakeupsPerSecond);
  return sum == bareSum && got == kBytes ? 0 : 1;
}
