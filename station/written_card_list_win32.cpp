// Saving the written-card list on Windows.
#include "station/WrittenCardList.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "serial/SystemServices.h"
#include "ui/PathText.h"
#include "ui/Win32Handle.h"

namespace station {
namespace {

// The GBK code page of Windows.
constexpr UINT kGbkCodePage = 936;

using Handle = ui::Win32Handle;

bool WriteAll(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 30));
    DWORD written = 0;
    if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Opens the file itself, never what a link under its name points to.
HANDLE OpenForAppend(const std::filesystem::path& file, DWORD disposition) {
  return ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

std::string ToGbk(std::string_view utf8) {
  if (utf8.empty()) return {};
  const std::string text(utf8);
  if (text.size() > INT_MAX) throw std::runtime_error("Text has no GBK form: text too long");
  const int length = static_cast<int>(text.size());
  const int wideLength = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (wideLength <= 0) throw std::runtime_error("Text has no GBK form: " + text);
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), wideLength);

  // No best fit and no default character: a character GBK lacks is an error,
  // never a look-alike or a question mark in the saved list.
  BOOL usedDefault = FALSE;
  const int gbkLength = ::WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0,
                                              nullptr, &usedDefault);
  if (gbkLength <= 0 || usedDefault) throw std::runtime_error("Text has no GBK form: " + text);
  std::string out(static_cast<std::size_t>(gbkLength), '\0');
  ::WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, out.data(), gbkLength, nullptr,
                        &usedDefault);
  return out;
}

void AppendCardListFile(const std::filesystem::path& file, const std::vector<std::string>& lines) {
  // A new file is created only where none exists, so two saves under one name
  // both keep their lines; should one appear between the two opens, the
  // append is tried again.
  bool created = false;
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 2 && h == INVALID_HANDLE_VALUE; ++attempt) {
    h = OpenForAppend(file, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      h = OpenForAppend(file, CREATE_NEW);
      created = h != INVALID_HANDLE_VALUE;
      if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) continue;
    }
    break;
  }
  if (h == INVALID_HANDLE_VALUE) error = ::GetLastError();
  Handle out(h);
  BY_HANDLE_FILE_INFORMATION info{};
  if (error == 0 && ::GetFileInformationByHandle(out.get(), &info) &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    // A link planted under the next time-based name would otherwise send the
    // numbers into whatever file it points at.
    error = ERROR_CANT_ACCESS_FILE;
  }
  if (error != 0) {
    throw CardListSaveError("Cannot create file \"" + ui::PathToUtf8(file) + "\". " +
                            SystemErrorText(static_cast<int>(error)));
  }

  LARGE_INTEGER before{};
  const bool sizeKnown = ::GetFileSizeEx(out.get(), &before) != FALSE;
  std::string bytes;
  for (const std::string& line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  const LARGE_INTEGER zero{};
  bool written = ::SetFilePointerEx(out.get(), zero, nullptr, FILE_END) != FALSE && WriteAll(out.get(), bytes);
  // A failed write may show only at the flush, while the file is still open
  // and the failure can still be undone.
  if (written && !::FlushFileBuffers(out.get())) written = false;
  if (!written) {
    // The list stays on screen for another try; lines left here from this try
    // would then be saved twice.
    if (created) {
      out.Close();
      ::DeleteFileW(file.c_str());
    } else if (sizeKnown) {
      ::SetFilePointerEx(out.get(), before, nullptr, FILE_BEGIN);
      ::SetEndOfFile(out.get());
    }
    throw CardListSaveError("Stream write error");
  }
  if (!out.Close()) throw CardListSaveError("Stream write error");
}

}  // namespace station
