#pragma once
// The serial line the emulator speaks on, and the symlink that names it.
// Only the event loop uses these; the system headers stay in Line.cpp.

#include <string>

namespace cardsim {

class Line {
 public:
  // A new pseudo-terminal pair in raw mode; path() is the slave side the
  // station opens. Throws std::system_error.
  static Line OpenPty();
  // An existing device (a serial port, one end of a null-modem pair), set
  // raw. Throws std::system_error.
  static Line OpenDevice(const std::string& path);

  Line() = default;
  Line(Line&& other) noexcept;
  Line& operator=(Line&& other) noexcept;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  ~Line();

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  void Close();

 private:
  int fd_ = -1;
  // Our own descriptor on the pty's slave side. While it is open the master
  // never sees a hang-up when the station closes its port, and the line's
  // raw settings survive the station closing and reopening it.
  int heldSlave_ = -1;
  std::string path_;
};

// A symlink at a fixed path that points at the current line.
class Link {
 public:
  explicit Link(std::string path) : path_(std::move(path)) {}
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  // Removes the link if it still points where we put it.
  ~Link();

  // Points the link at `target`, replacing an older link atomically. Refuses
  // (std::system_error) to replace anything that is not a symlink.
  void Point(const std::string& target);

 private:
  std::string path_;
  std::string target_;
};

// A listening Unix stream socket; removed on destruction.
class ControlSocket {
 public:
  // Throws std::system_error. A stale socket file at `path` is replaced;
  // any other file there is refused.
  explicit ControlSocket(std::string path);
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;
  ~ControlSocket();

  int fd() const { return fd_; }
  // A new client descriptor (non-blocking), or -1 when none is waiting.
  int Accept();

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace cardsim
