#include "PtyDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <cctype>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "core/HexText.h"

PtyDevice::PtyDevice() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
  slavePath_ = name;
  // Raw line: no echo and no newline translation, so bytes pass unchanged.
  termios tio{};
  tcgetattr(slave_, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave_, TCSANOW, &tio);
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  reader_ = std::thread([this] { ReadLoop(); });
}

PtyDevice::~PtyDevice() {
  const char stop = 'x';
  (void)!write(wakeWrite_, &stop, 1);
  reader_.join();
  close(wakeRead_);
  close(wakeWrite_);
  close(slave_);
  close(master_);
}

std::string PtyDevice::ReceivedHex() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void PtyDevice::ClearReceived() {
  // What the station wrote before this call may still wait in the line for the
  // reader thread; it belongs to what is cleared, not to what follows. The
  // reader reads under the lock, so an empty line here means nothing is half
  // taken.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      int waiting = 0;
      if (ioctl(master_, FIONREAD, &waiting) != 0 || waiting == 0 || std::chrono::steady_clock::now() >= deadline) {
        received_.clear();
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PtyDevice::SendHex(const std::string& hex) {
  station::SendBuffer buffer;
  if (!station::FillSendBuffer(hex, buffer)) throw std::runtime_error("reply too long");
  SendBytes(std::string_view(reinterpret_cast<const char*>(buffer.bytes.data()), buffer.length));
}

void PtyDevice::SendBytes(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("write to pty master failed");
    done += static_cast<std::size_t>(n);
  }
}

void PtyDevice::SetResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
  pending_.clear();
}

void PtyDevice::ReadLoop() {
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) {
      // The slave end is held open here, so a hang-up cannot last; avoid spinning.
      QThread::msleep(5);
      continue;
    }
    unsigned char bytes[512];
    std::string reply;
    {
      std::lock_guard lock(mutex_);
      const ssize_t n = read(master_, bytes, sizeof bytes);
      if (n <= 0) continue;
      const std::string hex =
          station::TextToHex(std::string(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(n)));
      received_ += hex;
      if (responder_) {
        pending_ += hex;
        std::size_t consumed = 0;
        reply = responder_(pending_, consumed);
        pending_.erase(0, std::min(consumed, pending_.size()));
      }
    }
    if (!reply.empty()) SendHex(reply);
  }
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

std::string Hex(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != ' ') out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}
