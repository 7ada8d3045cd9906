#pragma once
// Why a port did not open, in terms an operator can act on, and the sentence
// that tells them. Free of Qt and of system headers, so that any window can
// show it.

#include <exception>
#include <string>

enum TOpenFailureCause : unsigned char {
  ofNone,        // opened, or the cause is not one an operator can act on
  ofMissing,     // no device at that path
  ofPermission,  // the device exists, this user may not open it
  ofBusy,        // another program holds the device
  ofNotSerial,   // the path names something that is not a serial device
};

struct TOpenFailure {
  TOpenFailureCause Cause = ofNone;
  std::string Path;
  int SystemError = 0;  // errno of the failing step; 0 when none
  // The program holding a busy device, when it could be found: 0 and empty otherwise.
  int HolderPid = 0;
  std::string HolderName;
};

// The sentence naming the path and the cause (UTF-8); empty for ofNone.
std::string OpenFailureText(const TOpenFailure& failure);

// The failure an exception from opening a port carries; Cause ofNone when it
// carries none.
TOpenFailure OpenFailureOf(const std::exception& e);

// The process that holds the device at path: the one holding its lock, else
// another that has it open; its pid and command name, looked up through /proc
// on Linux. False when none can be seen (other users' processes are hidden
// from an ordinary user; Windows never tells).
bool FindDeviceHolder(const std::string& path, int& pid, std::string& name);
