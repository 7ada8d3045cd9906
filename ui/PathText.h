#pragma once

#include <QString>

#include <filesystem>
#include <string>

namespace ui {

// A file name as Qt holds it, as a path, and back. On Windows the wide name
// passes unchanged: a conversion through 8-bit text would depend on the C
// library's locale and could turn a Chinese name into another one.
std::filesystem::path PathFromQString(const QString& name);
QString PathToQString(const std::filesystem::path& path);

// The path as UTF-8, for texts shown to the operator.
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace ui
