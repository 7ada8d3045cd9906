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

// How the window names the folder saved lists go to: on Windows a drive's root
// as the operator knows it ("c:\\"), any other folder by its path; elsewhere
// the folder with a trailing "/", the home folder shortened to "~".
bool ListFolderIsDriveRoot(const std::filesystem::path& folder);
QString ListFolderCaption(const std::filesystem::path& folder, const std::filesystem::path& home);

}  // namespace ui
