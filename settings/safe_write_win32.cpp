// Whole-file writes on Windows: a new file renamed over the old one, or the
// old file's bytes overwritten when its folder takes no new file.
#include "settings/SafeWrite.h"

#include <windows.h>
// The system's own ReplaceFile is a macro that would rename ours.
#undef ReplaceFile

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <system_error>

#include "ui/Win32Handle.h"

namespace settings {
namespace {

[[noreturn]] void ThrowLastError(DWORD error, const char* what) {
  throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

using Handle = ui::Win32Handle;

// 0 or the error of the first failing write; writes from offset on.
DWORD WriteAll(HANDLE h, const std::string& bytes, std::int64_t offset) {
  LARGE_INTEGER at{};
  at.QuadPart = offset;
  if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) return ::GetLastError();
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 30));
    DWORD written = 0;
    if (!::WriteFile(h, bytes.data() + done, chunk, &written, nullptr)) return ::GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    done += written;
  }
  return 0;
}

DWORD TruncateAt(HANDLE h, std::int64_t size) {
  LARGE_INTEGER at{};
  at.QuadPart = size;
  if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) return ::GetLastError();
  return 0;
}

// A name no other writer in this or another process picks at the same time.
std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  return path.parent_path() / (path.filename().wstring() + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
                               std::to_wstring(++counter) + L".new");
}

}  // namespace

bool FolderTakesNewFiles(const std::filesystem::path& dir) {
  const std::filesystem::path folder = dir.empty() ? std::filesystem::path(L".") : dir;
  // Removed by the system when closed, even when the program is killed meanwhile.
  const Handle probe(::CreateFileW(TemporaryBeside(folder / L"probe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return probe.valid();
}

// The folders inherit the access rules of the user's profile or program folder.
void CreatePrivateFolders(const std::filesystem::path& dir) { std::filesystem::create_directories(dir); }

// A rename on NTFS keeps the folder's inherited access rules; hard links to a
// settings file are not met there.
bool ReplacingKeepsFile(const std::filesystem::path&) { return true; }

void ReplaceFile(const std::filesystem::path& path, const std::string& newBytes) {
  const std::filesystem::path temporary = TemporaryBeside(path);
  Handle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) ThrowLastError(::GetLastError(), "create");

  DWORD error = WriteAll(file.get(), newBytes, 0);
  if (error == 0 && !::FlushFileBuffers(file.get())) error = ::GetLastError();
  if (!file.Close() && error == 0) error = ::GetLastError();
  // MOVEFILE_WRITE_THROUGH: the call returns once the rename is on the disk.
  if (error == 0 &&
      !::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = ::GetLastError();
  }
  if (error != 0) {
    ::DeleteFileW(temporary.c_str());
    ThrowLastError(error, "write");
  }
}

void RewriteInPlace(const std::filesystem::path& path, const std::string& oldBytes, const std::string& newBytes) {
  Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
  if (!file.valid()) ThrowLastError(::GetLastError(), "open");
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) ThrowLastError(::GetLastError(), "stat");
  const std::int64_t oldSize = size.QuadPart;
  const auto newSize = static_cast<std::int64_t>(newBytes.size());

  // Puts the old contents back, length included, after a failed step.
  const auto restore = [&] {
    WriteAll(file.get(), oldBytes, 0);
    TruncateAt(file.get(), oldSize);
  };
  // Room for the longer contents first: a full disk then fails before any
  // old byte is overwritten.
  if (newSize > oldSize) {
    if (const DWORD error = TruncateAt(file.get(), newSize); error != 0) {
      restore();
      ThrowLastError(error, "reserve");
    }
  }
  if (const DWORD error = WriteAll(file.get(), newBytes, 0); error != 0) {
    restore();
    ThrowLastError(error, "write");
  }
  if (newSize < oldSize) {
    if (const DWORD error = TruncateAt(file.get(), newSize); error != 0) ThrowLastError(error, "truncate");
  }
  if (!::FlushFileBuffers(file.get())) ThrowLastError(::GetLastError(), "sync");
  if (!file.Close()) ThrowLastError(::GetLastError(), "close");
}

}  // namespace settings
