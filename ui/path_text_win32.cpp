#include "ui/PathText.h"

namespace ui {

std::filesystem::path PathFromQString(const QString& name) { return std::filesystem::path(name.toStdWString()); }

QString PathToQString(const std::filesystem::path& path) { return QString::fromStdWString(path.native()); }

std::string PathToUtf8(const std::filesystem::path& path) { return PathToQString(path).toStdString(); }

bool ListFolderIsDriveRoot(const std::filesystem::path& folder) {
  return folder.has_root_path() && folder.lexically_normal() == folder.root_path();
}

QString ListFolderCaption(const std::filesystem::path& folder, const std::filesystem::path&) {
  if (ListFolderIsDriveRoot(folder)) return PathToQString(folder.root_path()).toLower();
  QString text = PathToQString(folder.lexically_normal());
  if (!text.endsWith(QLatin1Char('\\'))) text += QLatin1Char('\\');
  return text;
}

}  // namespace ui
