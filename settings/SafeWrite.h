#pragma once

#include <filesystem>
#include <string>

namespace settings {

// Whether a new file can be made in dir, found by making one (and removing it):
// permission bits alone do not say so for root, a read-only mount or /proc.
bool FolderTakesNewFiles(const std::filesystem::path& dir);

// Puts newBytes into a new file beside path and renames it over path, so that
// path holds either the old or the new contents, never a mixture, whatever
// fails (a full disk, for example). The new file takes the old one's
// permissions. A symbolic link at path is followed: its target is replaced.
// Throws std::system_error; path is then unchanged.
void ReplaceFile(const std::filesystem::path& path, const std::string& newBytes);

// For a file whose folder cannot take a new file: writes newBytes over the
// file's own bytes. Room for the longer contents is claimed before anything is
// overwritten, and a failed write puts oldBytes back, so a failure never leaves
// the file shorter than it was. Throws std::system_error.
void RewriteInPlace(const std::filesystem::path& path, const std::string& oldBytes, const std::string& newBytes);

}  // namespace settings
