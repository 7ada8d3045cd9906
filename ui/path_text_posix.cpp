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

}  // namespace ui
