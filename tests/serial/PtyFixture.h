#pragma once
// Pseudo-terminal pairs and bounded waits for the port tests.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// One pty pair. The test plays the device on the master side; the serial layer
// opens the slave by its path. The slave descriptor opened here stays open so the
// master never sees a hang-up between opens.
class TPty {
 public:
  TPty() {
    char name[128] = {};
    if (::openpty(&Master, &Slave, name, nullptr, nullptr) == 0) {
      Path = name;
      ::fcntl(Master, F_SETFL, ::fcntl(Master, F_GETFL) | O_NONBLOCK);
      termios tio{};
      ::tcgetattr(Master, &tio);
      ::cfmakeraw(&tio);
      ::tcsetattr(Master, TCSANOW, &tio);
    }
  }
  ~TPty() {
    if (Master >= 0) ::close(Master);
    if (Slave >= 0) ::close(Slave);
  }
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  // Writes all bytes; while the pty is full, the main thread keeps handling
  // events, as the port's deliveries wait for it.
  bool Write(const std::string& bytes) const {
    QElapsedTimer timer;
    timer.start();
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (timer.elapsed() > 10000) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      ::usleep(200);
    }
    return true;
  }
  // Whatever the device has received so far.
  std::string ReadAvailable() const {
    std::string out;
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(Master, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

  int Master = -1;
  int Slave = -1;
  std::string Path;
};

// Processes Qt events until cond holds or timeoutMs has passed.
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!cond()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents();
    ::usleep(200);
  }
  return true;
}

inline int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}
inline int OpenFdCount() { return CountEntries("/proc/self/fd"); }
inline int ThreadCount() { return CountEntries("/proc/self/task"); }
