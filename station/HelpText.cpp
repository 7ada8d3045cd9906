#include "station/HelpText.h"

#include <QStringList>

#include "ui/PathText.h"

namespace station {

namespace {

// The help text's last item, naming where saved lists go: the drive's root as
// ever, or the folder that takes its place (on a line of its own, as a path
// may be long).
QStringList HelpListFolderLines(const std::filesystem::path& folder, const QString& caption) {
  if (ui::ListFolderIsDriveRoot(folder)) {
    return {QStringLiteral("8.文件放在") + caption + QStringLiteral("根目录下，以时间"), QStringLiteral("为文件名.")};
  }
  return {QStringLiteral("8.文件放在文件夹"), caption, QStringLiteral("中，以时间为文件名.")};
}

}  // namespace

QString HelpText(const std::filesystem::path& listFolder, const QString& listFolderCaption) {
  static const char* const kHelpLines[] = {
      "说明：",
      "1.读写卡前,请点击【端口打",
      "开】.",
      "2.按写卡按钮一次，写一张卡，",
      "如果不刷卡，系统等待20秒自动",
      "复位。",
      "3.可以设定连续号功能，自动跳",
      "到下一张。",
      "4.刷卡出错，号码不变，自动复",
      "位写卡",
      "5.串口设定可按设定按钮来选择",
      "不同的串口，从com1-com8,默认",
      "com1.",
      "6.当大于2000个时，系统自动刷",
      "新",
      "显示卡号的信息。",
      "7.手工保存请按保存按钮。",
  };
  QStringList help;
  for (const char* line : kHelpLines) help << QString::fromUtf8(line);
  help << HelpListFolderLines(listFolder, listFolderCaption);
  return help.join(QLatin1Char('\n'));
}

}  // namespace station
