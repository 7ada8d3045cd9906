#include "station/JournalMessages.h"

#include <QFileInfo>

#include <string_view>

#include "ui/PathText.h"

namespace station {
namespace {

std::string Shown(const std::filesystem::path& path) { return ui::PathToUtf8(path); }

// The URI reader's reasons, in the operator's words.
std::string AddressProblem(std::string_view why) {
  if (why == "bad port") return "端口号无效";
  if (why == "bad percent escape") return "含有无效的 % 转义";
  if (why == "unclosed [") return "“[”没有对应的“]”";
  if (why == "parameter without a value") return "“?”后的参数没有值";
  if (why == "';' in a parameter") return "参数中不能有“;”";
  if (why == "bad parameter name") return "参数名无效";
  return "应以 postgresql:// 开头";
}

std::string SettingName(const JournalPlace& place) {
  return "设置文件 " + Shown(place.settingsFile) + " 中 [Journal] 的 Database";
}

std::string DriverText(const journal::JournalError& error, const JournalPlace& place) {
  if (error.detail() == "QPSQL") {
    return SettingName(place) +
           " 指定了 PostgreSQL 服务器，但本机没有安装 Qt 的 PostgreSQL 驱动。写卡已停用，请安装软件包 "
           "libqt6sql6-psql 后重新启动程序。";
  }
  return "本机没有安装 Qt 的 SQLite 驱动，无法打开写卡记录 " + Shown(place.file) +
         "。写卡已停用，请安装软件包 libqt6sql6-sqlite 后重新启动程序。";
}

// The journal by its place, for the sentences that name it.
std::string JournalName(const JournalPlace& place) {
  return place.server ? "写卡记录数据库" : "写卡记录 " + Shown(place.file);
}

// The same as the subject of a sentence: a path is set off by a space.
std::string JournalSubject(const JournalPlace& place) { return JournalName(place) + (place.server ? "" : " "); }

}  // namespace

std::string JournalFileCause(const std::filesystem::path& file) {
  const QFileInfo info(ui::PathToQString(file));
  const QFileInfo folder(info.absolutePath());
  if (!folder.exists()) return "文件夹 " + Shown(file.parent_path()) + " 不存在，也无法创建";
  if (!folder.isDir()) return Shown(file.parent_path()) + " 不是文件夹";
  if (info.isDir()) return "这是一个文件夹，不是文件";
  if (info.exists() && !info.isFile()) return "这不是普通文件";
  if (info.exists() && (!info.isReadable() || !info.isWritable())) return "没有读写该文件的权限";
  if (!info.exists() && !folder.isWritable()) return "没有在该文件夹中创建文件的权限";
  if (!folder.isWritable()) return "没有在该文件夹中写入的权限";
  return "无法创建或打开该文件";
}

std::string JournalReplacedText(const std::filesystem::path& file) {
  return "写卡记录文件 " + Shown(file) + " 已被删除或替换，写卡已停止。请恢复该文件或重新启动程序。";
}

std::string JournalOpenFailureText(const journal::JournalError& error, const JournalPlace& place) {
  using journal::JournalFault;
  const std::string file = Shown(place.file);
  switch (error.fault()) {
    case JournalFault::badAddress:
      return SettingName(place) + " 不是可用的 PostgreSQL 地址（" + AddressProblem(error.detail()) +
             "）。写卡已停用，请改正该设置（或删除它，使用本机的写卡记录）后重新启动程序。";
    case JournalFault::noDriver: return DriverText(error, place);
    case JournalFault::newerSchema:
      return JournalSubject(place) + "由更新版本的程序写入（格式版本 " + error.detail() +
             "），本程序无法使用。写卡已停用，请安装新版本的程序。";
    case JournalFault::damaged:
      if (place.server) break;
      return "无法打开写卡记录 " + file +
             "：文件已损坏或不是写卡记录。写卡已停用，请将该文件改名保存后重新启动程序，程序会新建写卡记录。";
    case JournalFault::diskFull:
      return "无法打开" + JournalName(place) + "：磁盘已满。写卡已停用，请腾出磁盘空间后重新启动程序。";
    case JournalFault::busy:
      return "无法打开" + JournalName(place) +
             "：文件正被其他程序占用。写卡已停用，请关闭其他使用该文件的程序后重新启动本程序。";
    case JournalFault::cannotOpen:
    case JournalFault::readOnly:
      if (place.server) break;
      return "无法打开写卡记录 " + file + "：" + JournalFileCause(place.file) + "。写卡已停用，请检查该文件夹的权限。";
    case JournalFault::replaced: return JournalReplacedText(place.file);
    case JournalFault::failed: break;
  }
  if (place.server) {
    return "无法使用写卡记录数据库：数据库出错。写卡已停用，请联系数据库管理员，之后重新启动程序。";
  }
  return "无法打开写卡记录 " + file + "：数据库出错。写卡已停用，请检查该文件夹的权限后重新启动程序。";
}

std::string JournalUseFailureText(const journal::JournalError& error, const JournalPlace& place) {
  using journal::JournalFault;
  const std::string name = JournalSubject(place);
  switch (error.fault()) {
    case JournalFault::diskFull: return name + "无法写入：磁盘已满。请腾出磁盘空间后再试。";
    case JournalFault::busy: return name + "正被其他程序占用。请稍后再试。";
    case JournalFault::replaced: return JournalReplacedText(place.file);
    case JournalFault::readOnly:
    case JournalFault::cannotOpen:
      if (place.server) break;
      return name + "无法写入：" + JournalFileCause(place.file) + "。请检查该文件夹的权限。";
    case JournalFault::damaged:
      if (place.server) return name + "缺少数据表。请联系数据库管理员。";
      return name + "已损坏。请退出程序，将该文件改名保存后重新启动程序。";
    default: break;
  }
  return name + "出错，本次操作未记录。请重新启动程序；仍然出错时请联系维护人员。";
}

}  // namespace station
