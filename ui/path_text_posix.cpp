#include <QFile>

#include "ui/PathText.h"

namespace ui {

std::filesystem::path PathFromQString(const QString& name) {
  return std::filesystem::path(QFile::encodeName(name).toStdString());
}

QString PathToQString(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

std::string PathToUtf8(const std::filesystem::path& path) { return path.native(); }

QString ListFolderCaption(const std::filesystem::path& folder, const std::filesystem::path& home) {
  // Without trailing separators, so that "/home/op/" and "/home/op" compare equal.
  const auto plain = [](const std::filesystem::path& p) {
    std::string text = p.lexically_normal().native();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
  };
  const std::string where = plain(folder);
  const std::string own = plain(home);
  std::string shown = where;
  if (!own.empty() && own != "/") {
    if (where == own) {
      shown = "~";
    } else if (where.rfind(own + "/", 0) == 0) {
      shown = "~" + where.substr(own.size());
    }
  }
  if (shown.empty() || shown.back() != '/') shown += '/';
  return PathToQString(shown);
}

bool ListFolderIsDriveRoot(const std::filesystem::path&) { return false; }

}  // namespace ui
