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

// The folder standing for drive C is named as the drive the operator knows.
bool ListFolderIsDriveRoot(const std::filesystem::path&) { return true; }
QString ListFolderCaption(const std::filesystem::path&) { return QStringLiteral("c:\\"); }

}  // namespace ui
