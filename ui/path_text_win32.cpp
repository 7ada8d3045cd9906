#include "ui/PathText.h"

namespace ui {

std::filesystem::path PathFromQString(const QString& name) { return std::filesystem::path(name.toStdWString()); }

QString PathToQString(const std::filesystem::path& path) { return QString::fromStdWString(path.native()); }

std::string PathToUtf8(const std::filesystem::path& path) { return PathToQString(path).toStdString(); }

}  // namespace ui
