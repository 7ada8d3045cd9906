#pragma once

#include <QLibrary>

namespace journal {

// Sets function to the library's function of that name, for libraries loaded
// on first use rather than at the program's start; false when it is missing.
template <typename Function>
bool Resolve(QLibrary& library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(library.resolve(name));
  return function != nullptr;
}

}  // namespace journal
