#include "serial/OpenFailure.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "serial/SerialErrors.h"

std::string OpenFailureText(const TOpenFailure& f) {
  switch (f.Cause) {
    case ofMissing: return "设备 " + f.Path + " 不存在。";
    case ofPermission: return "没有权限打开 " + f.Path + "：请把当前用户加入 dialout 组后重新登录。";
    case ofBusy:
      if (f.HolderPid > 0)
        return f.Path + " 正被其他程序使用（" + std::to_string(f.HolderPid) + " " + f.HolderName + "）。";
      return f.Path + " 正被其他程序使用。";
    case ofNotSerial: return f.Path + " 不是串口设备。";
    case ofNone: break;
  }
  return {};
}

TOpenFailure OpenFailureOf(const std::exception& e) {
  if (const auto* s = dynamic_cast<const ESerException*>(&e)) return s->Failure;
  return {};
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
