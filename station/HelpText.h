#pragma once

#include <QString>

#include <filesystem>

namespace station {

// The window's 说明: how the station is used, ending with where saved lists
// go (listFolder, as listFolderCaption names it).
QString HelpText(const std::filesystem::path& listFolder, const QString& listFolderCaption);

}  // namespace station
