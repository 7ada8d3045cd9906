#include "Deck.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace cardsim {

Deck::Deck(std::filesystem::path file) : file_(std::move(file)) {
  std::error_code ec;
  if (!std::filesystem::exists(*file_, ec)) return;
  std::ifstream in(*file_, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read deck " + file_->string());
  std::ostringstream text;
  text << in.rdbuf();
  cards_ = Parse(text.str());
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
