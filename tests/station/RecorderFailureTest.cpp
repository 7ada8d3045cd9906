#include "station/RecorderFailure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

#include "serial/SerialErrors.h"

namespace station {
namespace {

TEST(RecorderFailureText, NamesTheFileAndTheCauseInChinese) {
  struct Row {
    const char* name;
    int code;
    const char* reason;
  };
  const Row rows[] = {
      {"full disk", CodeFromErrno(ENOSPC), "磁盘已满"},
      {"immutable file", CodeFromErrno(EPERM), "没有写入权限"},
      {"read-only disk", CodeFromErrno(EROFS), "磁盘只读"},
      {"missing folder", CodeFromErrno(ENOENT), "文件夹不存在"},
      {"a cause without words of its own", CodeFromErrno(ENAMETOOLONG), "系统错误：File name too long"},
  };
  for (const Row& row : rows) {
    try {
      RaisePortError(row.code);
      ADD_FAILURE() << row.name << ": no exception";
    } catch (const std::exception& e) {
      EXPECT_EQ(RecorderFailureText("/srv/SERIAL.TRC", e),
                std::string("端口已关闭，但串口记录文件 /srv/SERIAL.TRC 无法写入：") + row.reason + "。")
          << row.name;
    }
  }
}

}  // namespace
}  // namespace station
