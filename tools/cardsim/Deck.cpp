#include "Deck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace cardsim {

Deck::Deck(std::filesystem::path file) : file_(std::move(file)) {
  // Opened without blocking, so that a FIFO under the name is refused rather
  // than waited on; a device such as /dev/zero would never end.
  const int fd = ::open(file_->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return;
  const auto fail = [&](const std::string& why) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot read deck " + file_->string() + ": " + why);
  };
  if (fd < 0) fail(std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) fail(std::strerror(errno));
  if (!S_ISREG(info.st_mode)) fail("not a regular file");
  if (info.st_size > static_cast<off_t>(kMaxDeckBytes)) fail("larger than " + std::to_string(kMaxDeckBytes) + " bytes");
  // Read to one byte past the bound, in case the file grows meanwhile.
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(std::strerror(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxDeckBytes) fail("larger than " + std::to_string(kMaxDeckBytes) + " bytes");
  }
  ::close(fd);
  cards_ = Parse(text);
}

std::size_t Deck::NextBlank() {
  for (std::size_t i = 0; i < cards_.size(); ++i) {
    if (cards_[i].Blank()) return i + 1;
  }
  cards_.emplace_back();
  return cards_.size();
}

std::string Deck::Format(const std::vector<Card>& cards) {
  std::string text;
  for (const Card& card : cards) {
    text += card.track2;
    text += '\t';
    text += card.track3;
    text += '\n';
  }
  return text;
}

std::vector<Card> Deck::Parse(std::string_view text) {
  std::vector<Card> cards;
  while (!text.empty()) {
    auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Card card;
    const auto tab = line.find('\t');
    card.track2 = std::string(line.substr(0, tab));
    if (tab != std::string_view::npos) card.track3 = std::string(line.substr(tab + 1));
    cards.push_back(std::move(card));
  }
  return cards;
}

void Deck::Save() const {
  if (!file_) return;
  std::filesystem::path temp = *file_;
  temp += ".new";
  const std::string text = Format(cards_);
  // Whatever stands at the temporary name (a leftover, or a link someone
  // planted to make us overwrite another file) is removed, never followed: the
  // file is then created exclusively, and anything that appears in between
  // makes the save fail.
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  const auto fail = [&](const std::string& what) {
    const std::string reason = std::strerror(errno);
    if (fd >= 0) ::unlink(temp.c_str());
    throw std::runtime_error(what + " " + temp.string() + ": " + reason);
  };
  if (fd < 0) fail("cannot create");
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      ::close(fd);
      errno = saved;
      fail("cannot write");
    }
    done += static_cast<std::size_t>(n);
  }
  // The data must be on disk before the rename makes it the deck.
  if (::fsync(fd) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    fail("cannot sync");
  }
  if (::close(fd) != 0) fail("cannot close");
  if (::rename(temp.c_str(), file_->c_str()) != 0) fail("cannot rename");
}

}  // namespace cardsim
