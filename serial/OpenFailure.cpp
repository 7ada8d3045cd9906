#include "serial/OpenFailure.h"

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
