#pragma once
// The few file calls of the card station that differ by operating system, one
// implementation per platform (file_access_posix.cpp, file_access_win32.cpp).

#include <filesystem>

namespace station {

// Opens path for reading bytes as they are and returns a descriptor for
// read/fstat/close, or -1 with errno set. Never blocks on a FIFO without a
// writer, and the descriptor is not inherited by programs started later.
int OpenForReading(const std::filesystem::path& path);

}  // namespace station
