#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "serial/OpenFailure.h"
#include "serial/Recorder.h"
#include "serial/SystemServices.h"

std::string SystemErrorText(int systemError) {
  // strerrordesc_np gives no text for numbers the C library does not know.
  const char* text = strerrordesc_np(systemError);
  return text != nullptr ? text : std::string();
}

std::string DefaultDevicePath(uint16_t portNumber) {
  return "/dev/ttyS" + std::to_string(static_cast<int>(portNumber) - 1);
}

std::string OperatingSystemDescription() {
  utsname u{};
  if (uname(&u) != 0) return "Unknown";
  return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

namespace {
bool IsNumber(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}
}  // namespace

bool FindDeviceHolder(const std::string& path, int& pid, std::string& name) {
  struct stat target{};
  if (::stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return false;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (!found) {
    const dirent* p = ::readdir(proc);
    if (p == nullptr) break;
    if (!IsNumber(p->d_name)) continue;
    const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    while (const dirent* f = ::readdir(fds)) {
      if (!IsNumber(f->d_name)) continue;
      struct stat st{};
      // stat follows the descriptor's link to the device it has open.
      if (::stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
          st.st_rdev == target.st_rdev) {
        found = true;
        break;
      }
    }
    ::closedir(fds);
    if (found) {
      pid = std::atoi(p->d_name);
      std::ifstream comm(std::string("/proc/") + p->d_name + "/comm");
      std::getline(comm, name);
    }
  }
  ::closedir(proc);
  return found;
}
