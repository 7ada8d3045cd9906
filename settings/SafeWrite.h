#pragma once

#include <filesystem>
#include <string>

namespace settings {

// Whether a new file can be made in dir, found by making one (and removing it):
// permission bits alone do not say so for root, a read-only mount or /proc.
bool FolderTakesNewFiles(const std::filesystem::path& dir);

// Creates dir and every missing folder above it, each new one readable by
// this user alone (0700 on POSIX): the settings and the card journal are
// nobody else's business. Folders that exist are left as they are. Throws
// std::system_error naming the first folder that could not be made.
void CreatePrivateFolders(const std::filesystem::path& dir);

// Puts newBytes into a new file beside path and renames it over path, so that
// path holds either the old or the new contents, never a mixture, whatever
// fails (a full disk, for example). The new file is readable by this user
// alone from its first byte; when path existed it takes the old file's owner,
// group and permissions before the rename. A symbolic link at path is
// followed: its target is replaced. Throws std::system_error; path is then
// unchanged.
void ReplaceFile(const std::filesystem::path& path, const std::string& newBytes);

// Whether ReplaceFile can stand in for the file at path without the file
// losing something: true when there is no file yet, false when another name
// (a hard link) shares it or its owner or group is not this process's to give.
bool ReplacingKeepsFile(const std::filesystem::path& path);

// For a file whose folder cannot take a new file: writes newBytes over the
// file's own bytes. Room for the longer contents is claimed before anything is
// overwritten, and a failed write puts oldBytes back, so a failure never leaves
// the file shorter than it was. Throws std::system_error.
void RewriteInPlace(const std::filesystem::path& path, const std::string& oldBytes, const std::string& newBytes);

}  // namespace settings
