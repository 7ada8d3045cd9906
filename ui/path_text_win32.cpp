#include "ui/PathText.h"

namespace ui {

std::filesystem::path PathFromQString(const QString& name) { return std::filesystem::path(name.toStdWString()); }

QString PathToQString(const std::filesystem::path& path) { return QString::fromStdWString(path.native()); }

std::string PathToUtf8(const std::filesystem::path& path) { return PathToQString(path).toStdString(); }

// The operator knows the drive, whichever folder a setting puts in its place.
QString DriveCCaption(const std::filesystem::path&, const std::filesystem::path&) { return QStringLiteral("c:\\"); }

bool DriveCCaptionIsRoot() { return true; }

}  // namespace ui
