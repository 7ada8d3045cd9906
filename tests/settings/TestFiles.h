#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <QString>
#include <QTemporaryDir>

#include <ostream>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace testfiles {

inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void Spit(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A folder in which no file can be created. Permission bits do not stop root,
// so root gets /proc, where no one can create a file.
class ReadOnlyFolder {
 public:
  ReadOnlyFolder() {
    if (geteuid() == 0) {
      path_ = "/proc";
    } else {
      path_ = dir_.path().toStdString();
      std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    }
  }
  ~ReadOnlyFolder() {
    if (path_ != "/proc") std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  QTemporaryDir dir_;
  std::filesystem::path path_;
};

}  // namespace testfiles
