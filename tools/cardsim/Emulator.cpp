#include "Emulator.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <sstream>
#include <utility>

namespace cardsim {

const char* const kControlHelp =
    "  swipe [N]        swipe card N of the deck, or the next blank card\n"
    "  swipe-bad [N]    the same, but the swipe fails\n"
    "  deck             list the deck: ok deck COUNT then TRACK2|TRACK3 per card\n"
    "                   (a byte that is not a visible character shows as \\xHH)\n"
    "  state            what is armed: ok idle | ok read T | ok write T TRACK2|TRACK3\n"
    "  faults           the faults in force\n"
    "  split N [MS]     send every reply in N pieces, MS ms apart (N=1: whole)\n"
    "  bad K            the next K answered swipes fail\n"
    "  drop [K]         do not send the next K replies (default 1)\n"
    "  silent on|off    play a dead device: read nothing, answer nothing\n"
    "  hangup           close the line (the station's port sees a hang-up)\n"
    "  reopen           open a new line after a hang-up (the link follows)\n"
    "  quit             end the emulator\n"
    "  help             this list\n";

namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < line.size()) {
    pos = line.find_first_not_of(" \t\r", pos);
    if (pos == std::string_view::npos) break;
    auto end = line.find_first_of(" \t\r", pos);
    if (end == std::string_view::npos) end = line.size();
    words.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

std::optional<long> Number(std::string_view word) {
  long value = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc() || end != word.data() + word.size() || value < 0) return std::nullopt;
  return value;
}

// A track holds whatever bytes the station wrote. An answer is one line of
// space-separated words with tracks split by a bar, so a byte that is not a
// visible character, a backslash or a bar is shown as \xHH.
std::string Shown(std::string_view track) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(track.size());
  for (const char c : track) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > ' ' && byte < 0x7F && c != '\\' && c != '|') {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0xF];
    }
  }
  return shown;
}

std::string CardText(const Card& card) { return Shown(card.track2) + "|" + Shown(card.track3); }

int TracksCode(Tracks tracks) { return static_cast<int>(tracks); }

}  // namespace

Emulator::Emulator(Deck deck, EmulatorConfig config, Clock::time_point start)
    : deck_(std::move(deck)), config_(std::move(config)) {
  if (config_.hangUpAfter) hangUpAt_ = start + *config_.hangUpAfter;
}

void Emulator::OnInput(std::string_view bytes, Clock::time_point now) {
  if (config_.faults.silent || !lineUp_) return;
  const auto droppedBefore = parser_.droppedFrames();
  for (const Command& command : parser_.Feed(bytes)) {
    const std::string reply = device_.OnCommand(command);
    switch (command.kind) {
      case CommandKind::kReset: autoSwipeAt_.reset(); break;
      case CommandKind::kRead:
      case CommandKind::kWrite:
        if (config_.autoSwipe) autoSwipeAt_ = now + *config_.autoSwipe;
        break;
      case CommandKind::kStatus: break;
    }
    if (!reply.empty()) Send(reply, now);
  }
  if (parser_.droppedFrames() != droppedBefore) notes_.push_back("dropped an unterminated write frame");
}

void Emulator::Send(std::string_view reply, Clock::time_point now) {
  if (config_.faults.dropReplies > 0) {
    --config_.faults.dropReplies;
    notes_.push_back("dropped a reply of " + std::to_string(reply.size()) + " bytes");
    return;
  }
  // Pieces of a later reply never overtake those of an earlier one.
  Clock::time_point due = queue_.empty() ? now : std::max(now, queue_.back().due);
  bool first = true;
  for (std::string& piece : SplitReply(reply, config_.faults.chunks)) {
    if (!first) due += config_.faults.chunkDelay;
    first = false;
    queue_.push_back({due, std::move(piece)});
  }
}

std::string Emulator::Swipe(std::optional<std::size_t> cardNumber, bool bad, Clock::time_point now) {
  if (!lineUp_) return "error the line is hung up";
  if (cardNumber && (*cardNumber == 0 || *cardNumber > deck_.size())) {
    return "error no card " + std::to_string(*cardNumber) + " (the deck has " + std::to_string(deck_.size()) + ")";
  }
  if (config_.faults.silent) return "ok silent";
  autoSwipeAt_.reset();
  const std::size_t number = cardNumber ? *cardNumber : deck_.NextBlank();
  if (device_.mode() != Mode::kIdle && config_.faults.badSwipes > 0) {
    --config_.faults.badSwipes;
    bad = true;
  }
  const auto dropsBefore = config_.faults.dropReplies;
  const Device::Swipe swipe = device_.SwipeCard(deck_.at(number), bad);
  if (!swipe.reply.empty()) Send(swipe.reply, now);
  std::string answer = std::string("ok ") + ToString(swipe.result) + " card " + std::to_string(number);
  if (config_.faults.dropReplies != dropsBefore) answer += " reply-dropped";
  if (swipe.result == SwipeResult::kWritten) {
    try {
      deck_.Save();
    } catch (const std::exception& e) {
      return "error card " + std::to_string(number) + " written but the deck was not saved: " + e.what();
    }
  }
  return answer;
}

void Emulator::HangUp() {
  queue_.clear();
  autoSwipeAt_.reset();
  device_.OnCommand(MakeCommand(CommandKind::kReset));
  parser_ = CommandParser();
  lineUp_ = false;
  lineRequest_ = LineRequest::kHangUp;
}

std::vector<std::string> Emulator::Advance(Clock::time_point now) {
  if (hangUpAt_ && now >= *hangUpAt_) {
    hangUpAt_.reset();
    if (lineUp_) {
      HangUp();
      notes_.push_back("hung up");
    }
  }
  if (autoSwipeAt_ && now >= *autoSwipeAt_) {
    autoSwipeAt_.reset();
    notes_.push_back("auto-swipe: " + Swipe(std::nullopt, false, now));
  }
  std::vector<std::string> due;
  while (!queue_.empty() && queue_.front().due <= now) {
    due.push_back(std::move(queue_.front().bytes));
    queue_.pop_front();
  }
  return due;
}

std::optional<Clock::time_point> Emulator::NextDeadline() const {
  std::optional<Clock::time_point> next;
  const auto consider = [&](const std::optional<Clock::time_point>& t) {
    if (t && (!next || *t < *next)) next = t;
  };
  consider(hangUpAt_);
  consider(autoSwipeAt_);
  if (!queue_.empty()) consider(queue_.front().due);
  return next;
}

Emulator::LineRequest Emulator::TakeLineRequest() { return std::exchange(lineRequest_, LineRequest::kNone); }

std::vector<std::string> Emulator::TakeNotes() { return std::exchange(notes_, {}); }

std::string Emulator::StateText() const {
  if (!lineUp_) return "ok hung-up";
  switch (device_.mode()) {
    case Mode::kIdle: return "ok idle";
    case Mode::kRead: return "ok read " + std::to_string(TracksCode(device_.tracks()));
    case Mode::kWrite: {
      const Command& write = device_.armedWrite();
      return "ok write " + std::to_string(TracksCode(write.tracks)) + " " + Shown(write.track2) + "|" +
             Shown(write.track3);
    }
  }
  return "ok";
}

std::string Emulator::FaultsText() const {
  const Faults& f = config_.faults;
  std::ostringstream text;
  text << "ok chunks=" << f.chunks << " delay=" << f.chunkDelay.count() << " bad=" << f.badSwipes
       << " drop=" << f.dropReplies << " silent=" << (f.silent ? "on" : "off");
  return text.str();
}

std::string Emulator::Control(std::string_view line, Clock::time_point now) {
  const auto words = Words(line);
  if (words.empty()) return "error empty command";
  const std::string_view verb = words[0];
  const auto argument = [&](std::size_t i) -> std::optional<long> {
    return i < words.size() ? Number(words[i]) : std::nullopt;
  };
  const auto tooMany = [&](std::size_t allowed) { return words.size() > allowed + 1; };

  if (verb == "swipe" || verb == "swipe-bad") {
    if (tooMany(1) || (words.size() == 2 && !argument(1))) return "error usage: " + std::string(verb) + " [N]";
    std::optional<std::size_t> card;
    if (words.size() == 2) card = static_cast<std::size_t>(*argument(1));
    return Swipe(card, verb == "swipe-bad", now);
  }
  if (verb == "deck" && !tooMany(0)) {
    std::string answer = "ok deck " + std::to_string(deck_.size());
    for (const Card& card : deck_.cards()) answer += " " + CardText(card);
    return answer;
  }
  if (verb == "state" && !tooMany(0)) return StateText();
  if (verb == "faults" && !tooMany(0)) return FaultsText();
  if (verb == "split") {
    const auto n = argument(1);
    const auto ms = words.size() > 2 ? argument(2) : std::optional<long>(0);
    // A day at most, as --chunk-delay takes: a longer pause would overflow the clock.
    constexpr long kMaxDelayMs = 24L * 3600 * 1000;
    if (tooMany(2) || !n || *n < 1 || !ms || *ms > kMaxDelayMs) return "error usage: split N [MS]";
    config_.faults.chunks = static_cast<int>(std::min<long>(*n, 1000));
    config_.faults.chunkDelay = Millis(*ms);
    return FaultsText();
  }
  if (verb == "bad") {
    const auto k = argument(1);
    if (tooMany(1) || !k) return "error usage: bad K";
    config_.faults.badSwipes = static_cast<int>(std::min<long>(*k, 1000000));
    return FaultsText();
  }
  if (verb == "drop") {
    const auto k = words.size() > 1 ? argument(1) : std::optional<long>(1);
    if (tooMany(1) || !k) return "error usage: drop [K]";
    config_.faults.dropReplies = static_cast<int>(std::min<long>(*k, 1000000));
    return FaultsText();
  }
  if (verb == "silent") {
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) return "error usage: silent on|off";
    config_.faults.silent = words[1] == "on";
    if (config_.faults.silent) {
      // A dead device stops at once, also in the middle of a reply.
      queue_.clear();
      autoSwipeAt_.reset();
    }
    return FaultsText();
  }
  if (verb == "hangup" && !tooMany(0)) {
    if (!lineUp_) return "error already hung up";
    HangUp();
    return "ok hung up";
  }
  if (verb == "reopen" && !tooMany(0)) {
    if (lineUp_) return "error the line is up";
    lineRequest_ = LineRequest::kReopen;
    return "ok reopening";
  }
  if (verb == "quit" && !tooMany(0)) {
    quit_ = true;
    return "ok bye";
  }
  if (verb == "help" && !tooMany(0))
    return "ok swipe [N], swipe-bad [N], deck, state, faults, split N [MS], bad K, "
           "drop [K], silent on|off, hangup, reopen, quit";
  return "error unknown command: " + std::string(line);
}

}  // namespace cardsim
