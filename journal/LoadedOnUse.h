#pragma once

#include <QLibrary>

#include <optional>

namespace journal {

// Sets function to the library's function of that name, for libraries loaded
// on first use rather than at the program's start; false when it is missing.
template <typename Function>
bool Resolve(QLibrary& library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(library.resolve(name));
  return function != nullptr;
}

// The functions Load finds, loaded at the first call and kept for the rest of
// the run; null when the library is not installed.
template <typename Functions, std::optional<Functions> (*Load)()>
const Functions* LoadedOnce() {
  static const std::optional<Functions> loaded = Load();
  return loaded ? &*loaded : nullptr;
}

}  // namespace journal
