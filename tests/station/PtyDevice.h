#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// A scripted stand-in for the card device on a real pseudo-terminal. The
// station opens the slave side by its path; this object reads the master side
// on its own thread, records every byte the station writes, and writes the
// replies the test hands it. The test decides when to reply ("on cue").
class PtyDevice {
 public:
  PtyDevice();
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  const std::string& SlavePath() const { return slavePath_; }

  // All bytes received from the station so far, as uppercase hex text.
  std::string ReceivedHex() const;
  void ClearReceived();

  // Writes bytes given as hex text (blanks allowed) to the station.
  void SendHex(const std::string& hex);
  // Writes raw bytes of any length, blocking while the line is full.
  void SendBytes(std::string_view bytes);

  // Called on the reader thread with the hex of all bytes received so far;
  // whatever hex it returns is sent at once and what it consumed (the count of
  // hex characters it sets) is dropped from the front of the buffer it sees.
  using Responder = std::function<std::string(const std::string& pendingHex, std::size_t& consumed)>;
  void SetResponder(Responder responder);

 private:
  void ReadLoop();

  int master_ = -1;
  int slave_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::string slavePath_;
  mutable std::mutex mutex_;
  std::string received_;
  std::string pending_;
  Responder responder_;
  std::thread reader_;
};

// Spins the Qt event loop until pred holds or the time runs out.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Bytes given as hex text with blanks, as the station's own hex (uppercase, no blanks).
std::string Hex(std::string text);
