// The POSIX termios device layer. All termios and ioctl use of the serial layer
// is in this file.

#include "serial/PosixDispatcher.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "serial/SerialErrors.h"
#include "serial/TermiosLine.h"

namespace {

// A driver refuses an ioctl it does not implement (pseudo-terminals have no
// modem lines): that is "not supported here", not a failure of the port.
bool IsUnsupported(int err) { return err == ENOTTY || err == EINVAL || err == ENOTSUP || err == ENOSYS; }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void SignalFd(int fd) {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void DrainFd(int fd) {
  uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(fd, &value, sizeof value);
}

// The master side of a pseudo-terminal (/dev/ptmx hands out a new one at every
// open) is a terminal too, but no device is ever on its line: it is the end a
// program plays a device on.
bool IsPtyMaster(int fd) {
  int number = 0;
  return ::ioctl(fd, TIOCGPTN, &number) == 0;
}

// How often modem lines and error counters are sampled on a driver that has them;
// the event thread otherwise sleeps in poll() without a timeout.
constexpr int kSampleMs = 50;

}  // namespace

namespace {

// One open device: the descriptor, the three wake-up eventfds and what the
// driver turned out to support. Descriptors change while no port thread waits
// on them: on the main thread, or on the last port thread to end when the port
// was closed during a delivery. The main thread may still wake the threads
// then, so the wake-up descriptors are written and closed under WakeMutex_: a
// wake never writes to a number the system has given to another file.
class TPosixDevice final : public TSerDevice {
 public:
  ~TPosixDevice() override { Close(); }

  int Open(const std::string& path) override {
    Close();
    Failure_ = {};
    Failure_.Path = path;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Refuse(-1, errno, false);
    // flock refuses a second holder even when it runs as root, which TIOCEXCL
    // alone does not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return Refuse(fd, errno, true);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return Refuse(fd, errno, false);
    if (IsPtyMaster(fd)) return Refuse(fd, ENOTTY, false);
    // Root passes TIOCEXCL: a flag already set means another program holds the
    // port exclusively, and opening it anyway would take its line away.
    int excl = 0;
    if (::ioctl(fd, TIOCGEXCL, &excl) == 0 && excl != 0) return Refuse(fd, EBUSY, false);
    if (::ioctl(fd, TIOCEXCL) != 0 && !IsUnsupported(errno)) return Refuse(fd, errno, false);
    SetExcl_ = true;
    Saved_ = tio;
    {
      std::lock_guard lock(WakeMutex_);
      CancelFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (CancelFd_ >= 0) WriterFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (WriterFd_ >= 0) DeliveryFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    if (DeliveryFd_ < 0) return Refuse(fd, errno, false);
    // A raw 8-bit line: nothing may echo, edit lines or map CR/LF behind the
    // layer's back.
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return Refuse(fd, errno, false);
    // Every open starts with empty queues: bytes the device sent while the port
    // was closed answer nothing this program asked, and would be taken for the
    // reply to its first command.
    if (::tcflush(fd, TCIOFLUSH) != 0) return Refuse(fd, errno, false);
    Fd_ = fd;
    struct stat st {};
    // Unix98 pseudo-terminal slaves have majors 136 to 143.
    IsPty_ = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    PtyParity_ = pNone;
    PtyByteSize_ = 8;
    int lines = 0;
    ModemLines_ = ::ioctl(fd, TIOCMGET, &lines) == 0;
    serial_icounter_struct count{};
    Counters_ = ::ioctl(fd, TIOCGICOUNT, &count) == 0;
    TakenCount_ = SeenCount_ = count;
    LastStates_ = ModemStates();
    Dead_.store(false);
    HangupReported_ = false;
    return 0;
  }

  int Close() override {
    int result = 0;
    if (Fd_ >= 0) {
      // The next program finds the line as it was before this one took it, and
      // without our exclusive flag (a pseudo-terminal would keep it past close).
      // On a device that went away both fail, which changes nothing.
      ::tcsetattr(Fd_, TCSANOW, &Saved_);
      if (SetExcl_) ::ioctl(Fd_, TIOCNXCL);
      if (::close(Fd_) != 0) result = CodeFromErrno(errno);
      Fd_ = -1;
    }
    SetExcl_ = false;
    std::lock_guard lock(WakeMutex_);
    CloseFd(CancelFd_);
    CloseFd(WriterFd_);
    CloseFd(DeliveryFd_);
    return result;
  }

  const TOpenFailure& Failure() const override { return Failure_; }
  bool Dead() const override { return Dead_.load(); }
  bool IsOpen() const override { return Fd_ >= 0; }
  int HandleNumber() const override { return Fd_; }
  // Whether the open device has modem lines the driver lets us read and switch.
  bool HasModemLines() const { return ModemLines_; }

  int GetLine(TSerLineSettings& line) const override {
    termios tio{};
    if (::tcgetattr(Fd_, &tio) != 0) return CodeFromErrno(errno);
    ReadTermiosLine(tio, line);
    // A pseudo-terminal's driver drops the frame: it reads back as it was set.
    if (IsPty_) {
      line.ByteSize = PtyByteSize_;
      line.Parity = PtyParity_;
    }
    return 0;
  }

  int SetLine(const TSerLineSettings& line) override {
    termios tio{};
    if (::tcgetattr(Fd_, &tio) != 0) return CodeFromErrno(errno);
    // Keep a pseudo-terminal's frame for reading back: its driver drops it.
    if (const int err = BuildTermiosLine(line, IsPty_, tio); err != 0) return CodeFromErrno(err);
    if (::tcsetattr(Fd_, TCSANOW, &tio) != 0) return CodeFromErrno(errno);
    if (IsPty_) {
      PtyParity_ = line.Parity;
      PtyByteSize_ = line.ByteSize;
    }
    return 0;
  }

  // The driver sizes its own queues.
  void Setup(uint32_t, uint32_t) override {}

  // A driver without modem lines gives 0, as there is nothing to switch.
  int Escape(int func) override {
    int bit = func == EscSetRts || func == EscClrRts ? TIOCM_RTS : TIOCM_DTR;
    const bool on = func == EscSetRts || func == EscSetDtr;
    if (::ioctl(Fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
    return IsUnsupported(errno) ? 0 : CodeFromErrno(errno);
  }

  uint8_t ModemStates() const override {
    int lines = 0;
    if (!ModemLines_ || ::ioctl(Fd_, TIOCMGET, &lines) != 0) return 0;
    uint8_t s = 0;
    if (lines & TIOCM_CTS) s |= ModemCts;
    if (lines & TIOCM_DSR) s |= ModemDsr;
    if (lines & TIOCM_RI) s |= ModemRing;
    if (lines & TIOCM_CD) s |= ModemDcd;
    return s;
  }

  // None on a driver without error counters.
  uint8_t TakeLineErrors() override {
    if (!Counters_) return 0;
    serial_icounter_struct now{};
    if (::ioctl(Fd_, TIOCGICOUNT, &now) != 0) return 0;
    std::lock_guard lock(CountMutex_);
    uint8_t bits = 0;
    if (now.buf_overrun != TakenCount_.buf_overrun) bits |= LineRxOverflow;
    if (now.overrun != TakenCount_.overrun) bits |= LineOverrun;
    if (now.parity != TakenCount_.parity) bits |= LineParity;
    if (now.frame != TakenCount_.frame) bits |= LineFraming;
    if (now.brk != TakenCount_.brk) bits |= LineBreak;
    TakenCount_ = now;
    return bits;
  }

  uint32_t BytesWaiting(uint32_t& flags) override {
    flags = 0;
    int n = 0;
    if (::ioctl(Fd_, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<uint32_t>(n);
  }

  int Read(uint8_t* buffer, uint32_t size) override {
    // A read of 0 says nothing here: with VMIN and VTIME 0 it is also what an
    // empty queue gives. A hung-up tty fails with EIO.
    const ssize_t n = ::read(Fd_, buffer, size);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EAGAIN || errno == EINTR) return 0;
    if (errno == EIO) Dead_.store(true);
    return CodeFromErrno(errno);
  }

  int Write(const uint8_t* buffer, uint32_t size) override {
    const ssize_t n = ::write(Fd_, buffer, size);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EAGAIN || errno == EINTR) return 0;
    if (errno == EIO) Dead_.store(true);
    return CodeFromErrno(errno);
  }

  bool WaitWritable() override {
    pollfd fds[2] = {{WriterFd_, POLLIN, 0}, {Fd_, POLLOUT, 0}};
    for (;;) {
      const int r = ::poll(fds, 2, -1);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return false;
      if (fds[0].revents & POLLIN) {
        DrainFd(WriterFd_);
        return false;
      }
      // A hung-up line counts as writable: the write then fails and drops the bytes.
      return true;
    }
  }
  void WakeWriter() override { Wake(WriterFd_); }

  int Discard(int queue) override {
    return ::tcflush(Fd_, queue == FlushInput ? TCIFLUSH : TCOFLUSH) == 0 ? 0 : CodeFromErrno(errno);
  }

  // A changed modem line, a break or a line error. Received bytes and hang-ups
  // are the delivery thread's (WaitInput). On a driver without modem lines or
  // error counters there is nothing to sample, and the thread sleeps until
  // cancelled.
  uint32_t WaitEvent() override {
    for (;;) {
      pollfd fds[1] = {{CancelFd_, POLLIN, 0}};
      const bool sample = !Dead_.load() && (ModemLines_ || Counters_);
      const int r = ::poll(fds, 1, sample ? kSampleMs : -1);
      if (r < 0 && errno != EINTR) return 0;
      if (fds[0].revents & POLLIN) {
        DrainFd(CancelFd_);
        return 0;
      }
      if (!sample) continue;
      if (const uint32_t mask = SampleModemAndErrors()) return mask;
    }
  }

  // Received bytes wake the thread that reads them directly; the event thread
  // watches only modem lines and line errors.
  bool WaitsForInput() const override { return true; }
  // From the hang-up on the dead descriptor is not watched: it would report
  // itself ready for ever.
  uint32_t WaitInput(bool watchData, int timeoutMs) override {
    if (Dead_.load() && !HangupReported_) {
      HangupReported_ = true;
      return EvHangup;
    }
    const bool watch = watchData && !Dead_.load();
    pollfd fds[2] = {{DeliveryFd_, POLLIN, 0}, {Fd_, POLLIN, 0}};
    if (::poll(fds, watch ? 2 : 1, timeoutMs) <= 0) return 0;
    if (fds[0].revents & POLLIN) DrainFd(DeliveryFd_);
    if (!watch) return 0;
    if ((fds[1].revents & (POLLHUP | POLLERR)) && IsHungUp()) {
      Dead_.store(true);
      HangupReported_ = true;
      return EvHangup;
    }
    return (fds[1].revents & POLLIN) ? EvRxChar : 0;
  }
  void WakeInput() override { Wake(DeliveryFd_); }

  void CancelWait() override { Wake(CancelFd_); }

  void NameCurrentThread(TSerThreadKind kind) override {
    // At most 15 characters; the same names for every port.
    static constexpr const char* Names[] = {"serial-event", "serial-deliver", "serial-output"};
    ::pthread_setname_np(::pthread_self(), Names[kind]);
  }

 private:
  void Wake(const int& fd) {
    std::lock_guard lock(WakeMutex_);
    if (fd >= 0) SignalFd(fd);
  }

  // Closes what the failed open made and records the cause; returns the code.
  int Refuse(int fd, int err, bool fromLock) {
    if (fd >= 0) ::close(fd);
    {
      std::lock_guard lock(WakeMutex_);
      CloseFd(CancelFd_);
      CloseFd(WriterFd_);
      CloseFd(DeliveryFd_);
    }
    SetExcl_ = false;
    Failure_.SystemError = err;
    switch (err) {
      case ENOENT:
      case ENOTDIR:
      case ENXIO:
      case ENODEV: Failure_.Cause = ofMissing; break;
      case EACCES:
      case EPERM: Failure_.Cause = ofPermission; break;
      case EBUSY: Failure_.Cause = ofBusy; break;
      case ENOTTY: Failure_.Cause = ofNotSerial; break;
      default:
        if (fromLock && (err == EWOULDBLOCK || err == EAGAIN)) Failure_.Cause = ofBusy;
        break;
    }
    if (Failure_.Cause == ofBusy) FindDeviceHolder(Failure_.Path, Failure_.HolderPid, Failure_.HolderName);
    // Busy is told apart from other refusals by the cause; the code stays the
    // "in use" one callers expect. Not a serial device counts as no such port.
    if (Failure_.Cause == ofBusy) return serial_codes::ecAccessDenied;
    if (Failure_.Cause == ofNotSerial) return serial_codes::ecFileNotFound;
    return CodeFromErrno(err, fromLock);
  }
  // The line reports hang-up or error: gone for good when nothing is left to read
  // (FIONREAD fails with EIO on a hung-up tty).
  bool IsHungUp() const {
    int n = 0;
    return ::ioctl(Fd_, FIONREAD, &n) != 0 || n <= 0;
  }
  // Event thread only.
  uint32_t SampleModemAndErrors() {
    uint32_t mask = 0;
    if (ModemLines_) {
      const uint8_t states = ModemStates();
      const uint8_t changed = states ^ LastStates_;
      if (changed & ModemCts) mask |= EvCts;
      if (changed & ModemDsr) mask |= EvDsr;
      if (changed & ModemDcd) mask |= EvRlsd;
      if ((changed & ModemRing) && (states & ModemRing)) mask |= EvRing;
      LastStates_ = states;
    }
    if (Counters_) {
      serial_icounter_struct now{};
      if (::ioctl(Fd_, TIOCGICOUNT, &now) == 0) {
        if (now.brk != SeenCount_.brk) mask |= EvBreak;
        if (now.frame != SeenCount_.frame || now.parity != SeenCount_.parity || now.overrun != SeenCount_.overrun ||
            now.buf_overrun != SeenCount_.buf_overrun)
          mask |= EvErr;
        SeenCount_ = now;
      }
    }
    return mask;
  }

  int Fd_ = -1;
  int CancelFd_ = -1;
  int WriterFd_ = -1;
  int DeliveryFd_ = -1;
  bool ModemLines_ = false;
  bool Counters_ = false;
  bool IsPty_ = false;
  uint8_t PtyParity_ = pNone;    // main thread
  uint8_t PtyByteSize_ = 8;      // main thread
  bool HangupReported_ = false;  // delivery thread
  std::atomic<bool> Dead_{false};
  bool SetExcl_ = false;    // main thread: we set the exclusive flag
  termios Saved_{};         // main thread: the line as it was before the open
  TOpenFailure Failure_;    // main thread
  uint8_t LastStates_ = 0;  // event thread
  std::mutex WakeMutex_;    // the wake-up descriptors' writes and closes
  std::mutex CountMutex_;
  serial_icounter_struct TakenCount_{};  // TakeLineErrors, under CountMutex_
  serial_icounter_struct SeenCount_{};   // event thread
};

}  // namespace

bool ProbeSerialDevice(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // Refused for want of rights or because it is held exclusively: it exists.
  if (fd < 0) return errno == EBUSY || errno == EACCES || errno == EPERM;
  termios tio{};
  const bool terminal = ::tcgetattr(fd, &tio) == 0 && !IsPtyMaster(fd);
  ::close(fd);
  return terminal;
}

// ---- the dispatcher ------------------------------------------------------------

TSerPosixDispatcher::TSerPosixDispatcher(TSerCustomComPort* owner)
    : TSerDeviceDispatcher(owner, std::make_unique<TPosixDevice>()) {}

TSerPosixDispatcher::~TSerPosixDispatcher() { DestroySequence(); }

bool TSerPosixDispatcher::HasModemLines() const { return static_cast<const TPosixDevice&>(Device()).HasModemLines(); }
