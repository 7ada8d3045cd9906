#include "station/RecorderFailure.h"

#include <cerrno>
#include <new>

#include "serial/SerialErrors.h"

namespace station {
namespace {

constexpr int SystemCode(int err) { return -(serial_codes::SystemErrorBase + err); }

// The layer's code for a full disk on Windows, where the system error is not an errno.
constexpr int kWindowsDiskFull = -101;

struct Reason {
  int code;
  const char* text;
};

constexpr Reason kReasons[] = {
    {serial_codes::ecFileNotFound, "文件夹不存在"},
    {serial_codes::ecPathNotFound, "文件夹不存在"},
    {serial_codes::ecAccessDenied, "没有写入权限"},
    {SystemCode(EPERM), "没有写入权限"},
    {SystemCode(EROFS), "磁盘只读"},
    {SystemCode(ENOSPC), "磁盘已满"},
    {kWindowsDiskFull, "磁盘已满"},
    {serial_codes::ecOutOfMemory, "内存不足"},
    {SystemCode(EISDIR), "同名的是文件夹"},
    {SystemCode(EEXIST), "同名的不是普通文件"},
    {SystemCode(EIO), "磁盘读写出错"},
};

int ResultCodeOf(const std::exception& error) {
  if (const auto* io = dynamic_cast<const EInOutError*>(&error)) return -io->ErrorCode;
  if (const auto* serial = dynamic_cast<const ESerException*>(&error)) return serial->ResultCode;
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return serial_codes::ecOutOfMemory;
  return 0;
}

}  // namespace

std::string RecorderFailureText(const std::string& file, const std::exception& error) {
  std::string reason = std::string("系统错误：") + error.what();
  const int code = ResultCodeOf(error);
  for (const Reason& known : kReasons) {
    if (known.code == code) reason = known.text;
  }
  return "端口已关闭，但串口记录文件 " + file + " 无法写入：" + reason + "。";
}

}  // namespace station
