#pragma once
// A Windows file handle owned for its scope (Windows builds only).

#include <windows.h>

namespace ui {

class Win32Handle {
 public:
  explicit Win32Handle(HANDLE h) : h_(h) {}
  ~Win32Handle() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  Win32Handle(const Win32Handle&) = delete;
  Win32Handle& operator=(const Win32Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  // Closes now so that a failing close is seen.
  bool Close() {
    const BOOL ok = ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE h_;
};

}  // namespace ui
