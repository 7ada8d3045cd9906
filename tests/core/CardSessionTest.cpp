// The card session against a recording stand-in for the window: events in,
// effects out, no port, no widgets and no pauses.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/CardSession.h"
#include "core/NumberSequence.h"
#include "core/ReadReply.h"
#include "core/Texts.h"
#include "core/TrackCharacters.h"

namespace {

using station::CardSession;
using station::TextSlot;

// Raw bytes of a hex text with blanks.
std::string Bytes(const std::string& spaced) {
  std::string hex;
  for (char c : spaced)
    if (c != ' ') hex.push_back(c);
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string HexOf(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// Records every role of the session.
struct Recorder : station::SessionPort,
                  station::SessionTimers,
                  station::SessionScreen,
                  station::SessionForm,
                  station::SessionJournal {
  station::SessionRoles Roles() { return {*this, *this, *this, *this, *this}; }

  bool open = true;
  bool openSucceeds = true;
  std::uint16_t number = 1;
  station::StationForm form;
  std::vector<std::string> sent;  // hex of every command put
  std::vector<std::string> messages;
  std::vector<std::string> warnings;
  std::map<TextSlot, std::string> texts;
  std::vector<std::string> cards;
  std::vector<station::FocusTarget> focus;
  std::map<int, std::vector<std::string>> records;  // what each file track has left
  int beeps = 0;
  int pauses = 0;
  int triedOpens = 0;
  int listChecks = 0;
  bool timer = false;
  std::optional<bool> trackBoxes;
  std::optional<station::WriteMode> writeMode;
  std::vector<station::WrittenCardRecord> journal;
  std::vector<std::string> events;  // journal commits and list lines, in order
  std::vector<std::string> reads;
  std::vector<std::string> questions;
  bool answer = false;
  bool journalFails = false;
  bool tailWait = false;

  bool PortOpen() override { return open; }
  bool OpenPort(std::optional<std::uint16_t> n) override {
    open = false;
    if (!n || !openSucceeds) return false;
    number = *n;
    open = true;
    return true;
  }
  void TryOpenPort() override { ++triedOpens; }
  void ClosePort() override { open = false; }
  std::uint16_t PortNumber() override { return number; }
  void Send(std::string_view bytes) override {
    sent.push_back(HexOf(std::string(bytes)));
    trail.push_back("send " + sent.back());
  }
  void AwaitMoreReply() override { ++pauses; }
  void ShowText(TextSlot slot, const std::string& text) override { texts[slot] = text; }
  void SetTrackText(int track, const std::string& bytes) override {
    (track == 2 ? form.track2 : form.track3).text = bytes;
  }
  void AddWrittenCard(int track, const std::string& bytes, std::int64_t id) override {
    cards.push_back(std::to_string(track) + ":" + bytes);
    events.push_back("list " + std::to_string(id));
  }
  void Message(const std::string& text) override { messages.push_back(text); }
  void Warning(const std::string& text) override { warnings.push_back(text); }
  void Beep() override { ++beeps; }
  void Focus(station::FocusTarget target) override { focus.push_back(target); }
  void ShowWriteMode(station::WriteMode mode) override { writeMode = mode; }
  void EnableTrackBoxes(bool enable) override { trackBoxes = enable; }
  void StartTimer() override { timer = true; }
  void StopTimer() override { timer = false; }
  station::StationForm Form() override { return form; }
  void KeepCardListInBounds() override { ++listChecks; }
  bool RecordsLeft(int track) override { return !records[track].empty(); }
  void LoadNextRecord(int track) override {
    auto& left = records[track];
    if (left.front() == "!") throw std::runtime_error("unreadable");
    SetTrackText(track, left.front());
    left.erase(left.begin());
  }
  void EndFileTrack(int track) override {
    station::TrackForm& t = track == 2 ? form.track2 : form.track3;
    t = station::TrackForm{};
  }
  std::int64_t RecordWrittenCard(const station::WrittenCardRecord& card) override {
    if (journalFails) throw std::runtime_error("disk full");
    if (awayAtCommit) throw station::JournalAway(std::string(station::kJournalUnreachable) + "connection lost", -1);
    for (const auto& [track, text] : Numbers(card)) holds[{track, text}] = {station::NumberHold::written, "here"};
    journal.push_back(card);
    events.push_back("journal " + std::to_string(journal.size()));
    return static_cast<std::int64_t>(journal.size());
  }
  void RecordReadCard(const std::optional<std::string>& t2, const std::optional<std::string>& t3) override {
    reads.push_back(t2.value_or("-") + "/" + t3.value_or("-"));
  }
  bool Ask(const std::string& question) override {
    questions.push_back(question);
    return answer;
  }
  void StartReplyTailWait() override { tailWait = true; }
  void StopReplyTailWait() override { tailWait = false; }

  bool ReopenPort() override {
    ++reopens;
    open = deviceBack;
    return open;
  }
  void StartReconnectTimer() override { reconnectTimer = true; }
  void StopReconnectTimer() override { reconnectTimer = false; }
  std::string OpenFailureDetail() override { return failureDetail; }

  // The journal's numbers, as one shared by stations; this one is "here".
  struct Hold {
    station::NumberHold hold;
    std::string station;
  };
  std::map<std::pair<int, std::string>, station::Undecided> whys;  // why a number was left unconfirmed
  std::map<std::pair<int, std::string>, Hold> holds;
  std::vector<std::string> trail;  // reservations and sends, in order
  std::string away;                // the journal is away for this reason
  bool awayAtCommit = false;

  static std::vector<std::pair<int, std::string>> Numbers(const station::WrittenCardRecord& card) {
    std::vector<std::pair<int, std::string>> numbers;
    if (card.tracks & 1) numbers.emplace_back(2, card.track2);
    if (card.tracks & 2) numbers.emplace_back(3, card.track3);
    return numbers;
  }
  static std::string Names(const station::WrittenCardRecord& card) {
    std::string names;
    for (const auto& [track, text] : Numbers(card))
      names += (names.empty() ? "" : " ") + std::to_string(track) + ":" + text;
    return names;
  }
  std::optional<Hold> HolderOf(int track, const std::string& text) {
    if (const auto it = holds.find({track, text}); it != holds.end()) return it->second;
    for (const auto& c : journal) {
      if ((track == 2 ? c.track2 : c.track3) == text && (c.tracks & (track == 2 ? 1 : 2))) {
        return Hold{station::NumberHold::written, "here"};
      }
    }
    return std::nullopt;
  }
  Hold At(int track, const std::string& text) { return holds[{track, text}]; }
  bool TakenFromHere(int track, const std::string& text) {
    const auto holder = HolderOf(track, text);
    return holder && !(holder->hold == station::NumberHold::reserved && holder->station == "here");
  }
  station::TakenNumber TakenAt(int track, const std::string& text) {
    const Hold holder = *HolderOf(track, text);
    return {track,
            text,
            holder.hold,
            holder.station,
            "2026-12-07 10:00:00",
            holder.station == "here",
            false,
            holder.hold == station::NumberHold::unconfirmed ? "复位" : ""};
  }
  station::NumbersReserved ReserveNumbers(const station::WrittenCardRecord& card, const station::NumberStep& step,
                                          bool repeat) override {
    if (!away.empty()) throw station::JournalAway(std::string(station::kJournalUnreachable) + away);
    station::NumbersReserved result;
    std::vector<std::pair<int, std::string>> numbers;
    for (auto [track, text] : Numbers(card)) {
      // Another station's number moves on, as far as the step takes it.
      if (TakenFromHere(track, text) && HolderOf(track, text)->station != "here" && !step(track, text).empty()) {
        station::SteppedNumber stepped{TakenAt(track, text), text};
        while (TakenFromHere(track, stepped.text)) stepped.text = step(track, stepped.text);
        text = stepped.text;
        result.stepped.push_back(stepped);
      }
      numbers.emplace_back(track, text);
      if (!repeat && TakenFromHere(track, text)) result.taken.push_back(TakenAt(track, text));
    }
    if (!result.taken.empty()) return result;
    std::string names;
    for (const auto& [track, text] : numbers) {
      holds[{track, text}] = {station::NumberHold::reserved, "here"};
      names += (names.empty() ? "" : " ") + std::to_string(track) + ":" + text;
    }
    trail.push_back("reserve " + names);
    return result;
  }
  void CancelReservation(const station::WrittenCardRecord& card) override {
    trail.push_back("cancel " + Names(card));
    for (const auto& number : Numbers(card)) holds.erase(number);
  }
  void MarkUnconfirmed(const station::WrittenCardRecord& card, station::Undecided why) override {
    trail.push_back("unconfirm " + Names(card));
    for (const auto& number : Numbers(card)) {
      holds[number] = {station::NumberHold::unconfirmed, "here"};
      whys[number] = why;
    }
  }

  std::string failureDetail;
  bool deviceBack = false;
  bool reconnectTimer = false;
  int reopens = 0;

  std::string Text(TextSlot slot) { return texts.count(slot) ? texts[slot] : std::string(); }
};

class CardSessionTest : public ::testing::Test {
 protected:
  Recorder fx;
  CardSession session{fx.Roles()};

  void Tick(int times) {
    for (int i = 0; i < times; ++i) session.TimerTick();
  }
  void TickTrack2(const std::string& text) {
    fx.form.track2.ticked = true;
    fx.form.track2.text = text;
  }
};

// --- Port control -------------------------------------------------------------------

TEST_F(CardSessionTest, OpenAndCloseShowThePortState) {
  struct Row {
    const char* name;
    bool succeeds;
    const char* shown;
    bool warning;
  };
  const Row rows[] = {
      {"com3", true, "com3－－－OK", false},
      {"com3", false, "com3:Close", true},
      {"com", true, "com:Close", true},  // no port digit in fourth place
      {"comX", true, "comX:Close", true},
  };
  for (const Row& row : rows) {
    Recorder rec;
    rec.openSucceeds = row.succeeds;
    CardSession s(rec.Roles());
    s.OpenPressed(row.name);
    EXPECT_EQ(rec.Text(TextSlot::portState), row.shown) << row.name;
    EXPECT_TRUE(rec.messages.empty()) << row.name;
    EXPECT_EQ(rec.warnings,
              row.warning ? std::vector<std::string>{station::kPortUnavailable} : std::vector<std::string>{})
        << row.name;
    EXPECT_EQ(rec.trackBoxes == std::optional<bool>(true), !row.warning) << row.name;
  }
  fx.number = 3;
  session.ClosePressed();
  EXPECT_FALSE(fx.open);
  EXPECT_EQ(fx.trackBoxes, std::optional<bool>(false));
  EXPECT_EQ(fx.Text(TextSlot::portState), "COM3:Close");
}

TEST_F(CardSessionTest, ResetAndStatusSendOnlyWithAnOpenPort) {
  session.StatusPressed();
  session.ResetPressed();
  EXPECT_EQ(fx.sent, (std::vector<std::string>{"1B6A", "1B30"}));
  fx.open = false;
  session.StatusPressed();
  session.ResetPressed();
  EXPECT_EQ(fx.sent.size(), 2u);
  EXPECT_TRUE(fx.messages.empty());
}

TEST_F(CardSessionTest, ResetStopsARunningCountOnly) {
  TickTrack2("");
  session.ReadPressed();
  Tick(2);
  EXPECT_EQ(session.elapsedSeconds(), 2);
  session.ResetPressed();
  EXPECT_FALSE(fx.timer);
  EXPECT_EQ(session.elapsedSeconds(), 0);
  EXPECT_EQ(fx.Text(TextSlot::seconds), "00");

  // A stopped timer's count and display are left alone.
  fx.texts[TextSlot::seconds] = "7";
  session.ResetPressed();
  EXPECT_EQ(fx.Text(TextSlot::seconds), "7");
}

TEST_F(CardSessionTest, SendRefusesClosedPortAndOverlongCommand) {
  fx.open = false;
  EXPECT_FALSE(session.SendCommand("1B30"));
  EXPECT_EQ(fx.triedOpens, 1);
  EXPECT_EQ(fx.messages, std::vector<std::string>{station::kPortNotOpen});

  fx.open = true;
  const std::string longest(2 * 301, '7');
  EXPECT_TRUE(session.SendCommand(longest));
  EXPECT_FALSE(session.SendCommand(longest + "31"));
  EXPECT_EQ(fx.messages.back(), station::kCommandTooLong);
  EXPECT_EQ(fx.sent.size(), 1u);
}

TEST_F(CardSessionTest, TickCountsToTheLimitThenResetsTheDevice) {
  TickTrack2("");
  session.WritePressed();  // nothing to write: no timer
  EXPECT_FALSE(fx.timer);
  session.ReadPressed();
  fx.sent.clear();
  Tick(station::kWaitLimitTicks);
  EXPECT_EQ(fx.Text(TextSlot::seconds), "20");
  EXPECT_TRUE(fx.sent.empty()) << "a read is not polled";
  session.TimerTick();
  EXPECT_EQ(fx.sent, std::vector<std::string>{"1B30"});
  EXPECT_FALSE(fx.timer);
  EXPECT_EQ(fx.Text(TextSlot::seconds), "00");

  fx.open = false;
  session.TimerTick();
  EXPECT_EQ(session.elapsedSeconds(), 0) << "a closed port's tick does nothing";
}

TEST_F(CardSessionTest, LostLineClosesDisarmsAndWaitsForTheDevice) {
  struct Row {
    const char* name;
    void (CardSession::*arm)();
    const char* writePrompt;
  };
  const Row rows[] = {
      {"idle", nullptr, ""},
      {"read armed", &CardSession::ReadPressed, ""},
      {"write armed", &CardSession::WritePressed, station::kWriteLineLost},
  };
  for (const Row& row : rows) {
    Recorder rec;
    CardSession s{rec.Roles()};
    rec.form.track2.ticked = true;
    rec.form.track2.text = "0099";
    s.OpenPressed("COM3");
    if (row.arm) (s.*row.arm)();
    for (int i = 0; i < 3; ++i) s.TimerTick();
    rec.texts.erase(TextSlot::writePrompt);
    s.PortLost();
    EXPECT_FALSE(rec.open) << row.name;
    EXPECT_EQ(s.readTracks() + s.writeTracks(), 0) << row.name;
    EXPECT_FALSE(rec.timer) << row.name;
    EXPECT_EQ(rec.Text(TextSlot::seconds), "00") << row.name;
    EXPECT_EQ(rec.trackBoxes, std::optional<bool>(false)) << row.name;
    EXPECT_EQ(rec.Text(TextSlot::portState), "COM3:Close") << row.name;
    EXPECT_EQ(rec.Text(TextSlot::operation), station::kLineLost) << row.name;
    EXPECT_EQ(rec.Text(TextSlot::writePrompt), row.writePrompt) << row.name;
    EXPECT_TRUE(rec.reconnectTimer) << row.name;

    // Silent while the device stays away; back without re-arming anything.
    const std::size_t sent = rec.sent.size();
    s.ReconnectTick();
    EXPECT_TRUE(rec.reconnectTimer) << row.name;
    EXPECT_EQ(rec.Text(TextSlot::portState), "COM3:Close") << row.name;
    rec.deviceBack = true;
    s.ReconnectTick();
    EXPECT_FALSE(rec.reconnectTimer) << row.name;
    EXPECT_EQ(rec.Text(TextSlot::portState), "COM3－－－OK") << row.name;
    EXPECT_EQ(rec.Text(TextSlot::operation), station::kLineBack) << row.name;
    EXPECT_EQ(rec.trackBoxes, std::optional<bool>(true)) << row.name;
    EXPECT_EQ(s.readTracks() + s.writeTracks(), 0) << row.name;
    EXPECT_FALSE(rec.timer) << row.name;
    EXPECT_EQ(rec.sent.size(), sent) << row.name;
    EXPECT_TRUE(rec.messages.empty() && rec.warnings.empty()) << row.name;
    s.ReconnectTick();
    EXPECT_EQ(rec.reopens, 2) << row.name << ": a stray tick after the reconnect reopens nothing";
  }
}

TEST_F(CardSessionTest, PortButtonsEndTheReconnect) {
  for (bool closeButton : {true, false}) {
    Recorder rec;
    CardSession s{rec.Roles()};
    s.OpenPressed("COM2");
    s.PortLost();
    ASSERT_TRUE(rec.reconnectTimer);
    if (closeButton) {
      s.ClosePressed();
    } else {
      rec.openSucceeds = false;
      s.OpenPressed("COM2");
    }
    EXPECT_FALSE(rec.reconnectTimer) << closeButton;
    EXPECT_EQ(rec.Text(TextSlot::operation), "") << closeButton << ": nothing waits for the device now";
    rec.deviceBack = true;
    s.ReconnectTick();
    EXPECT_EQ(rec.reopens, 0) << closeButton;
    EXPECT_EQ(rec.Text(TextSlot::portState), "COM2:Close") << closeButton;
  }
}

// --- Reading ---------------------------------------------------------------------------

TEST_F(CardSessionTest, ReadNeedsAnOpenPort) {
  fx.open = false;
  session.ReadPressed();
  EXPECT_EQ(fx.Text(TextSlot::operation), station::kSelectPortFirst);
  EXPECT_TRUE(fx.sent.empty());
  EXPECT_FALSE(fx.timer);
}

TEST_F(CardSessionTest, ReadRepliesAreJudgedAsTheyCome) {
  struct Row {
    const char* name;
    bool track2, track3;
    std::vector<const char*> chunks;
    const char* track2Text;
    const char* track3Text;
    const char* prompt;
    int pauses;
  };
  const Row rows[] = {
      {"track 2 whole", true, false, {"1B 73 31 32 3F 1C"}, "12", "", station::kReadSucceeded, 0},
      {"track 2 in pieces", true, false, {"1B 73 31", "32 3F", "1C"}, "12", "", station::kReadSucceeded, 2},
      {"both tracks", true, true, {"1B 73 31 41 32 3F 1C"}, "1", "2", station::kReadSucceeded, 0},
      {"track 3 alone", false, true, {"1B 73 41 39 3F 1C"}, "", "9", station::kReadSucceeded, 0},
      {"both, card without track 2", true, true, {"1B 73 41 33 34 3F 1C"}, "", "34", station::kReadSucceeded, 0},
      {"bytes after the end are dropped",
       true,
       false,
       {"1B 73 37 3F 1C 1B 73 38"},
       "7",
       "",
       station::kReadSucceeded,
       0},
      // '?' without its FS is not the end: the previous card must not show.
      {"question mark without FS", true, false, {"1B 73 31 32 3F"}, "", "", station::kSwipePrompt, 1},
      {"read error", true, false, {"1B 72 71"}, "", "", station::kReadFailed, 0},
  };
  for (const Row& row : rows) {
    Recorder rec;
    rec.form.track2.ticked = row.track2;
    rec.form.track3.ticked = row.track3;
    rec.form.track2.text = "old";
    CardSession s(rec.Roles());
    s.ReadPressed();
    EXPECT_EQ(rec.form.track2.text, "") << row.name << ": fields are emptied when reading starts";
    const std::size_t armed = rec.sent.size();
    for (const char* chunk : row.chunks) s.ReplyBytes(Bytes(chunk));
    EXPECT_EQ(rec.form.track2.text, row.track2Text) << row.name;
    EXPECT_EQ(rec.form.track3.text, row.track3Text) << row.name;
    EXPECT_EQ(rec.Text(TextSlot::readPrompt), row.prompt) << row.name;
    EXPECT_EQ(rec.pauses, row.pauses) << row.name;
    const bool answered = std::string(row.prompt) != station::kSwipePrompt;
    // Every answer arms the same read again with a fresh count.
    EXPECT_EQ(rec.sent.size(), armed + (answered ? 1 : 0)) << row.name;
    if (answered) {
      EXPECT_EQ(rec.sent.back(), rec.sent.front()) << row.name;
    }
    EXPECT_TRUE(rec.timer) << row.name;
    EXPECT_EQ(s.replyHex().empty(), answered) << row.name;
  }
}

TEST_F(CardSessionTest, ReadChunksAfterTheLimitAreIgnored) {
  TickTrack2("");
  session.ReadPressed();
  Tick(station::kWaitLimitTicks);
  session.ReplyBytes(Bytes("1B 73 35 3F 1C"));
  EXPECT_EQ(session.replyHex(), "");
  EXPECT_EQ(fx.form.track2.text, "");
}

// A megabyte of line noise while a read or write is armed: what is kept of it
// stays bounded from the first chunk on (so each chunk is judged in time
// proportional to its size, however long the noise goes on), nothing passes
// for a card, and a real reply right after it still counts.
TEST_F(CardSessionTest, NoiseWhileArmedIsBoundedAndNeverACard) {
  struct Row {
    const char* name;
    bool write;
    const char* chunkEnd;  // hex appended to every chunk of noise
    std::size_t kept;      // the most of the reply text kept meanwhile
    const char* reply;
  };
  const Row rows[] = {
      {"read armed", false, "", station::kLongestReadReplyHex, "1B 73 35 3F 1C"},
      // Each chunk ends like the start of a success reply and waits for its tail.
      {"write armed, chunks ending in ESC", true, "1B", 4, "72 70"},
  };
  // Random bytes without any pattern a reply is judged or cut by: no 'r'
  // ("rq", "rp"), '?' FS or ESC 's'; nor 0xF1 and 0xB7, which would let "3F1C"
  // or "1B73" appear across two bytes of the hex text.
  const std::string patternBytes("r?\x1C\x1B\xF1\xB7", 6);
  std::mt19937 random(7);
  std::string noise;
  while (noise.size() < 8192) {
    const char c = static_cast<char>(random() & 0xFF);
    if (patternBytes.find(c) == std::string::npos) noise.push_back(c);
  }
  for (const Row& row : rows) {
    Recorder rec;
    CardSession s(rec.Roles());
    rec.form.track2 = {true, false, "", false, false, "42"};
    row.write ? s.WritePressed() : s.ReadPressed();
    const std::string chunk = noise + Bytes(row.chunkEnd);
    for (std::size_t sent = 0; sent < 1024 * 1024; sent += chunk.size()) {
      s.ReplyBytes(chunk);
      ASSERT_LE(s.replyHex().size(), row.kept) << row.name;
    }
    EXPECT_EQ(rec.sent.size(), 1u) << row.name << ": neither answered nor retried";
    EXPECT_TRUE(rec.reads.empty() && rec.journal.empty()) << row.name;
    s.ReplyBytes(Bytes(row.reply));
    EXPECT_EQ(rec.reads.size() + rec.journal.size(), 1u) << row.name << ": the real reply counts once";
    if (row.write) {
      EXPECT_EQ(rec.cards, std::vector<std::string>{"2:42"}) << row.name;
    } else {
      EXPECT_EQ(rec.form.track2.text, "5") << row.name;
    }
    EXPECT_TRUE(rec.messages.empty()) << row.name;
  }
}

// --- Writing ---------------------------------------------------------------------------

TEST_F(CardSessionTest, WriteStartRefusalsAndArming) {
  struct Row {
    const char* name;
    station::TrackForm track2;
    bool armed;
    const char* message;
  };
  station::TrackForm typed{true, false, "", false, false, "123"};
  station::TrackForm empty{true, false, "", false, false, ""};
  station::TrackForm noStep{true, true, "", false, false, "1"};
  station::TrackForm fileNotChosen{true, false, "", true, false, ""};
  station::TrackForm fileChosenEmpty{true, false, "", true, true, ""};
  const Row rows[] = {
      {"typed data", typed, true, nullptr},
      {"no data", empty, false, station::kMsgNeedData},
      {"continuous without step", noStep, false, station::kMsgNeedStep},
      {"file box without a file", fileNotChosen, false, station::kMsgNoFileChosen},
      {"chosen file without record", fileChosenEmpty, false, station::kMsgFileRecordEmpty},
  };
  for (const Row& row : rows) {
    Recorder rec;
    rec.form.track2 = row.track2;
    CardSession s(rec.Roles());
    s.WritePressed();
    EXPECT_EQ(s.writeTracks() > 0, row.armed) << row.name;
    EXPECT_EQ(rec.timer, row.armed) << row.name;
    EXPECT_EQ(rec.Text(TextSlot::writePrompt), row.armed ? station::kWritePrompt : "") << row.name;
    if (row.message) {
      EXPECT_EQ(rec.messages, std::vector<std::string>{row.message}) << row.name;
    }
    EXPECT_EQ(s.cardIndex(), 1) << row.name;
  }
}

TEST_F(CardSessionTest, WritePressedDisarmsAReadAndNeedsAnOpenPort) {
  TickTrack2("");
  session.ReadPressed();
  fx.form.track2.ticked = false;
  session.WritePressed();
  EXPECT_EQ(session.readTracks(), 0);
  EXPECT_EQ(session.cardIndex(), 1);

  Recorder closed;
  closed.open = false;
  CardSession s(closed.Roles());
  s.WritePressed();
  EXPECT_EQ(closed.Text(TextSlot::operation), station::kSelectPortFirst);
  EXPECT_EQ(s.cardIndex(), 0);
  EXPECT_FALSE(closed.writeMode);
}

TEST_F(CardSessionTest, WrittenCardIsLoggedAndAFailedOneRetried) {
  TickTrack2("42");
  session.WritePressed();
  const std::string command = fx.sent.back();
  session.ReplyBytes(Bytes("1B 72 71"));  // not written
  EXPECT_EQ(fx.Text(TextSlot::writePrompt), station::kWriteFailed);
  ASSERT_GE(fx.sent.size(), 3u);
  EXPECT_EQ(fx.sent[fx.sent.size() - 2], "1B30");
  EXPECT_EQ(fx.sent.back(), command);
  EXPECT_TRUE(fx.timer);

  session.ReplyBytes(Bytes("1B 72 70"));  // "rp": written
  EXPECT_EQ(fx.cards, std::vector<std::string>{"2:42"});
  EXPECT_EQ(fx.beeps, 1);
  EXPECT_EQ(fx.Text(TextSlot::writePrompt), station::kWriteSucceeded);
  EXPECT_EQ(session.cardIndex(), 2);
  EXPECT_FALSE(fx.timer);
  EXPECT_EQ(fx.listChecks, 2) << "the list is kept in bounds before every judged reply";
}

TEST_F(CardSessionTest, ContinuousRunIncreasesAndStopsAtTheCount) {
  fx.form.track2 = {true, true, "5", false, false, "90098"};
  fx.form.writeCount = "2";
  session.WritePressed();
  session.ReplyBytes(Bytes("72 70"));
  EXPECT_EQ(fx.form.track2.text, "90103");
  EXPECT_TRUE(fx.timer) << "the next card is armed";
  session.ReplyBytes(Bytes("72 70"));
  EXPECT_EQ(fx.cards, (std::vector<std::string>{"2:90098", "2:90103"}));
  EXPECT_EQ(fx.form.track2.text, "90108") << "the field shows the next card's data";
  EXPECT_EQ(fx.Text(TextSlot::writePrompt), "写卡提示信息:2次写成功,写卡完毕！");
  EXPECT_EQ(fx.Text(TextSlot::operation), station::kContinuousDone);
  EXPECT_FALSE(fx.timer);
  EXPECT_EQ(fx.sent.size(), 2u) << "no third card is armed";
}

TEST_F(CardSessionTest, ContinuousRunWithoutTrailingNumberAsksAndEnds) {
  fx.form.track2 = {true, true, "1", false, false, "12="};
  fx.form.writeCount = "5";
  session.WritePressed();
  session.ReplyBytes(Bytes("72 70"));
  // The emptied field then refuses the next card's build.
  EXPECT_EQ(fx.messages, (std::vector<std::string>{station::kNoTrailingDigitMessage, station::kMsgNeedData}));
  EXPECT_EQ(fx.form.track2.text, "");
  EXPECT_EQ(session.writeTracks(), 0) << "the refused rebuild ends the run";
  EXPECT_FALSE(fx.timer);
}

TEST_F(CardSessionTest, BadCountFieldStopsTheReplyWhereItIs) {
  fx.form.track2 = {true, true, "1", false, false, "7"};
  fx.form.writeCount = "";
  session.WritePressed();
  EXPECT_THROW(session.ReplyBytes(Bytes("72 70")), std::invalid_argument);
  EXPECT_EQ(fx.cards.size(), 1u);
}

TEST_F(CardSessionTest, FileRunTakesRecordsUntilTheFileEnds) {
  fx.form.track2 = {true, false, "", true, true, "71"};
  fx.records[2] = {"72"};
  session.FileChosen(2);
  session.WritePressed();
  EXPECT_EQ(session.runMode(), station::WriteMode::file);
  EXPECT_EQ(fx.writeMode, station::WriteMode::file);
  session.ReplyBytes(Bytes("72 70"));
  EXPECT_EQ(fx.form.track2.text, "72");
  EXPECT_EQ(session.fileCount(2), 1);
  session.ReplyBytes(Bytes("72 70"));
  EXPECT_EQ(fx.cards, (std::vector<std::string>{"2:71", "2:72"}));
  EXPECT_EQ(fx.Text(TextSlot::writePrompt), "写卡提示信息:2次写成功,写卡完毕！");
  EXPECT_EQ(fx.Text(TextSlot::operation), station::kTrack2FileDone);
  EXPECT_FALSE(fx.form.track2.fileBox) << "the finished track is unticked";
  EXPECT_FALSE(fx.timer);
  session.FileChosen(2);
  EXPECT_EQ(session.fileCount(2), 0);
}

TEST_F(CardSessionTest, UnreadableRecordStopsTheRun) {
  fx.form.track2 = {true, false, "", true, true, "71"};
  fx.records[2] = {"!"};
  session.WritePressed();
  EXPECT_THROW(session.ReplyBytes(Bytes("72 70")), std::runtime_error);
  EXPECT_FALSE(fx.timer);
  EXPECT_EQ(session.writeTracks(), 0) << "no later reply writes the last record again";
}

TEST_F(CardSessionTest, ArmedWriteIsPolledEveryTickAndResetAtThe21st) {
  TickTrack2("5");
  session.WritePressed();
  fx.sent.clear();
  for (int tick = 1; tick <= station::kWaitLimitTicks; ++tick) {
    session.TimerTick();
    EXPECT_EQ(fx.Text(TextSlot::seconds), std::to_string(tick));
  }
  EXPECT_EQ(fx.sent, std::vector<std::string>(20, "1B6A"));
  session.TimerTick();
  EXPECT_EQ(fx.sent.back(), "1B30");
  EXPECT_EQ(fx.Text(TextSlot::seconds), "00");
  EXPECT_FALSE(fx.timer);
  EXPECT_EQ(session.elapsedSeconds(), 0);
}

TEST_F(CardSessionTest, WriteRepliesAfterTheLimitAreIgnored) {
  for (const bool fileRun : {false, true}) {
    Recorder rec;
    rec.form.track2 = {true, false, "", fileRun, fileRun, "5"};
    rec.records[2] = {"6"};
    CardSession s(rec.Roles());
    s.WritePressed();
    for (int tick = 0; tick < station::kWaitLimitTicks; ++tick) s.TimerTick();
    const std::size_t sent = rec.sent.size();
    for (const char* reply : {"72 70", "72 71"}) s.ReplyBytes(Bytes(reply));
    EXPECT_EQ(rec.beeps, 0) << fileRun;
    EXPECT_TRUE(rec.cards.empty()) << fileRun;
    EXPECT_EQ(s.replyHex(), "") << fileRun;
    EXPECT_EQ(rec.Text(TextSlot::writePrompt), station::kWritePrompt) << fileRun;
    EXPECT_EQ(rec.sent.size(), sent) << fileRun << ": nothing was re-armed";
  }
}

}  // namespace

// --- The journal and the guards before every write -------------------------------

TEST_F(CardSessionTest, WrittenCardIsCommittedBeforeItShows) {
  TickTrack2("42");
  fx.form.track3 = {true, false, "", false, false, "99"};
  session.WritePressed();
  session.ReplyBytes(Bytes("1B 72 70"));
  EXPECT_EQ(fx.events, (std::vector<std::string>{"journal 1", "list 1", "list 1"}));
  ASSERT_EQ(fx.journal.size(), 1u);
  EXPECT_EQ(fx.journal[0].tracks, 3);
  EXPECT_EQ(fx.journal[0].track2 + "/" + fx.journal[0].track3, "42/99");
  EXPECT_EQ(fx.journal[0].cardIndex, 1);
  EXPECT_FALSE(fx.journal[0].deliberateRepeat);
  EXPECT_EQ(fx.Text(TextSlot::writePrompt), station::kWriteSucceeded);
}

TEST_F(CardSessionTest, FailedCommitStopsTheRunWithoutClaimingSuccess) {
  fx.form.track2 = {true, true, "1", false, false, "10"};
  fx.form.writeCount = "5";
  fx.journalFails = true;
  session.WritePressed();
  const std::size_t sent = fx.sent.size();
  session.ReplyBytes(Bytes("1B 72 70"));
  EXPECT_EQ(fx.cards, std::vector<std::string>{"2:10"}) << "the written card stays on screen";
  EXPECT_EQ(fx.events, std::vector<std::string>{"list 0"});
  ASSERT_EQ(fx.messages.size(), 1u);
  EXPECT_EQ(fx.messages[0], std::string(station::kWriteNotJournaled) + "disk full");
  EXPECT_NE(fx.Text(TextSlot::writePrompt), station::kWriteSucceeded);
  EXPECT_EQ(fx.beeps, 0);
  EXPECT_EQ(fx.sent.size(), sent) << "no next card";
  EXPECT_EQ(session.writeTracks(), 0);
  EXPECT_FALSE(fx.timer);
  EXPECT_EQ(fx.form.track2.text, "11") << "the field moves on: resuming never sends the written number again";
}

TEST_F(CardSessionTest, FinishedOrResetRunIgnoresLaterReplies) {
  struct Row {
    const char* name;
    std::function<void(Recorder&, CardSession&)> run;
  };
  const Row rows[] = {
      {"single card written",
       [](Recorder& r, CardSession& s) {
         r.form.track2 = {true, false, "", false, false, "42"};
         s.WritePressed();
         s.ReplyBytes(Bytes("1B 72 70"));
       }},
      {"count reached",
       [](Recorder& r, CardSession& s) {
         r.form.track2 = {true, true, "1", false, false, "42"};
         r.form.writeCount = "1";
         s.WritePressed();
         s.ReplyBytes(Bytes("1B 72 70"));
       }},
      {"file ended",
       [](Recorder& r, CardSession& s) {
         r.form.track2 = {true, false, "", true, true, "42"};
         s.WritePressed();
         s.ReplyBytes(Bytes("1B 72 70"));
       }},
      {"waited out",
       [](Recorder& r, CardSession& s) {
         r.form.track2 = {true, false, "", false, false, "42"};
         s.WritePressed();
         for (int i = 0; i <= station::kWaitLimitTicks; ++i) s.TimerTick();
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Recorder rec;
    CardSession s(rec.Roles());
    row.run(rec, s);
    const std::size_t cards = rec.cards.size();
    rec.sent.clear();
    s.StatusPressed();
    s.ReplyBytes(Bytes("1B 72 71"));  // the status reply, no "rp"
    s.ReplyBytes(Bytes("1B 72 70"));
    EXPECT_EQ(rec.sent, std::vector<std::string>{"1B6A"}) << "nothing re-armed";
    EXPECT_EQ(rec.cards.size(), cards);
    EXPECT_EQ(s.writeTracks(), 0);
  }
}

TEST_F(CardSessionTest, UnwritableTrackTextIsRefusedBeforeAnySend) {
  const struct {
    int track;
    std::string text;
  } rows[] = {{2, "12A34"},
              {2,
               "12\x1b\\\x1b"
               "034"},
              {2, std::string(38, '1')},
              {3, std::string(105, '1')}};
  for (const auto& row : rows) {
    Recorder rec;
    CardSession s(rec.Roles());
    (row.track == 2 ? rec.form.track2 : rec.form.track3) = {true, false, "", false, false, row.text};
    s.WritePressed();
    EXPECT_TRUE(rec.sent.empty()) << row.text;
    EXPECT_EQ(rec.messages, std::vector<std::string>{station::UnwritableTrackMessage(row.track, row.text)});
    EXPECT_EQ(s.writeTracks(), 0);
    EXPECT_FALSE(rec.timer);
  }
  // The longest texts a track holds go out.
  fx.form.track2 = {true, false, "", false, false, std::string(37, '1')};
  fx.form.track3 = {true, false, "", false, false, std::string(104, '2')};
  session.WritePressed();
  EXPECT_EQ(fx.sent.size(), 1u);
}

TEST_F(CardSessionTest, SuccessReplyInPiecesCountsOnce) {
  TickTrack2("42");
  session.WritePressed();
  session.ReplyBytes(Bytes("1B"));
  EXPECT_TRUE(fx.tailWait);
  session.ReplyBytes(Bytes("72"));
  EXPECT_TRUE(fx.tailWait) << "ESC r is still a prefix";
  session.ReplyBytes(Bytes("70"));
  EXPECT_FALSE(fx.tailWait);
  EXPECT_EQ(fx.sent.size(), 1u) << "no reset and no second frame";
  EXPECT_EQ(fx.cards, std::vector<std::string>{"2:42"});

  // A tail that never comes is a failure: the card is tried again.
  Recorder rec;
  CardSession s(rec.Roles());
  rec.form.track2 = {true, false, "", false, false, "43"};
  s.WritePressed();
  s.ReplyBytes(Bytes("1B 72"));
  s.ReplyTailWaitOver();
  EXPECT_EQ(rec.Text(TextSlot::writePrompt), station::kWriteFailed);
  ASSERT_EQ(rec.sent.size(), 3u);
  EXPECT_EQ(rec.sent[1], "1B30");
  // A late "p" after the retry does not complete the earlier reply.
  s.ReplyBytes(Bytes("70"));
  EXPECT_TRUE(rec.cards.empty());
  s.ReplyTailWaitOver();  // a stale end of wait changes nothing
  EXPECT_EQ(rec.sent.size(), 5u);
}

TEST_F(CardSessionTest, DuplicateNumberAsksBeforeWriting) {
  fx.journal.push_back({1, "42", "", 1, false});
  const std::string question = "卡号 42（磁道2）已于 2026-12-07 10:00:00 写过。仍要写入吗？";

  TickTrack2("42");
  fx.answer = false;
  session.WritePressed();
  EXPECT_EQ(fx.questions, std::vector<std::string>{question});
  EXPECT_TRUE(fx.sent.empty());
  EXPECT_EQ(session.writeTracks(), 0);
  EXPECT_EQ(fx.Text(TextSlot::seconds), station::kNoSeconds);

  fx.answer = true;
  session.WritePressed();
  ASSERT_EQ(fx.sent.size(), 1u);
  session.ReplyBytes(Bytes("1B 72 71"));  // failed: retried without a second question
  EXPECT_EQ(fx.questions.size(), 2u);
  session.ReplyBytes(Bytes("1B 72 70"));
  ASSERT_EQ(fx.journal.size(), 2u);
  EXPECT_TRUE(fx.journal[1].deliberateRepeat);
}

TEST_F(CardSessionTest, ContinuousRunAsksAtTheNextCardToo) {
  fx.journal.push_back({1, "11", "", 1, false});
  fx.form.track2 = {true, true, "1", false, false, "10"};
  fx.form.writeCount = "3";
  session.WritePressed();
  session.ReplyBytes(Bytes("1B 72 70"));  // 10 written; 11 was written before
  ASSERT_EQ(fx.questions.size(), 1u);
  EXPECT_EQ(fx.sent.size(), 1u) << "否 sends nothing";
  EXPECT_EQ(session.writeTracks(), 0);
  EXPECT_FALSE(fx.timer);
}

TEST_F(CardSessionTest, ReadCardIsJournaled) {
  fx.form.track2.ticked = true;
  session.ReadPressed();
  session.ReplyBytes(Bytes("1B 73 35 3F 1C"));
  EXPECT_EQ(fx.reads, std::vector<std::string>{"5/-"});
}

// --- Reservations in the shared journal -------------------------------------------

namespace {

// Every write command went out right after a reservation of its numbers.
void ExpectReservedBeforeEverySend(const Recorder& rec) {
  for (std::size_t i = 0; i < rec.trail.size(); ++i) {
    if (rec.trail[i].rfind("send 1B74", 0) != 0) continue;
    EXPECT_TRUE(i > 0 && rec.trail[i - 1].rfind("reserve ", 0) == 0) << "unreserved send at " << i;
  }
}

}  // namespace

TEST_F(CardSessionTest, EveryCardIsReservedBeforeItIsSentAndAFailedOneKeepsIt) {
  fx.form.track2 = {true, true, "1", false, false, "10"};
  fx.form.writeCount = "2";
  session.WritePressed();
  session.ReplyBytes(Bytes("1B 72 71"));  // refused: the same card again
  session.ReplyBytes(Bytes("1B 72 70"));
  session.ReplyBytes(Bytes("1B 72 70"));
  EXPECT_EQ(fx.cards, (std::vector<std::string>{"2:10", "2:11"}));
  ExpectReservedBeforeEverySend(fx);
  for (const std::string& entry : fx.trail) {
    EXPECT_EQ(entry.rfind("cancel", 0), std::string::npos) << "the retry kept its reservation";
    EXPECT_EQ(entry.rfind("unconfirm", 0), std::string::npos);
  }
  EXPECT_EQ(fx.At(2, "10").hold, station::NumberHold::written);
  EXPECT_EQ(fx.At(2, "11").hold, station::NumberHold::written);
}

// How a sent card ends without a decision, with and without reply bytes since
// its command: never swiped, it holds nothing and its number is only this
// station's reservation (kept while the run may arm it again, dropped
// otherwise); answered or cut off with the line, it may hold the number.
TEST_F(CardSessionTest, CardEndingWithoutADecisionIsUnconfirmedOnlyWhenItMayHoldItsNumber) {
  using station::NumberHold;
  using station::Undecided;
  struct Row {
    const char* name;
    bool answered;  // a reply byte came that decided nothing
    std::function<void(Recorder&, CardSession&)> end;
    std::optional<NumberHold> left;  // the number's hold afterwards; none: dropped
    std::optional<Undecided> why;
  };
  const auto waitOut = [](Recorder&, CardSession& s) {
    for (int i = 0; i <= station::kWaitLimitTicks; ++i) s.TimerTick();
  };
  const auto reset = [](Recorder&, CardSession& s) { s.ResetPressed(); };
  const auto lost = [](Recorder&, CardSession& s) { s.PortLost(); };
  const auto closed = [](Recorder&, CardSession& s) { s.ClosePressed(); };
  const auto read = [](Recorder&, CardSession& s) { s.ReadPressed(); };
  const auto exits = [](Recorder&, CardSession& s) { s.Closing(); };
  const auto another = [](Recorder& r, CardSession& s) {
    r.form.track2.text = "20";
    s.WritePressed();
  };
  const Row rows[] = {
      {"waited out", false, waitOut, std::nullopt, std::nullopt},
      {"reset pressed", false, reset, NumberHold::reserved, std::nullopt},
      {"port closed", false, closed, NumberHold::reserved, std::nullopt},
      {"read pressed", false, read, std::nullopt, std::nullopt},
      {"program ends", false, exits, std::nullopt, std::nullopt},
      {"another number pressed", false, another, std::nullopt, std::nullopt},
      {"line lost", false, lost, NumberHold::unconfirmed, Undecided::lineLost},
      {"answered, waited out", true, waitOut, NumberHold::unconfirmed, Undecided::timeout},
      {"answered, reset pressed", true, reset, NumberHold::unconfirmed, Undecided::reset},
      {"answered, port closed", true, closed, NumberHold::unconfirmed, Undecided::portClosed},
      {"answered, read pressed", true, read, NumberHold::unconfirmed, Undecided::readStarted},
      {"answered, program ends", true, exits, NumberHold::unconfirmed, Undecided::programExit},
      {"answered, another number pressed", true, another, NumberHold::unconfirmed, Undecided::writeRestarted},
      {"answered, line lost", true, lost, NumberHold::unconfirmed, Undecided::lineLost},
      // The swipe's reply in the last second is ignored, but it came.
      {"reply ignored after the limit", false,
       [](Recorder&, CardSession& s) {
         for (int i = 0; i < station::kWaitLimitTicks; ++i) s.TimerTick();
         s.ReplyBytes(Bytes("1B 72 70"));
         s.TimerTick();
       },
       NumberHold::unconfirmed, Undecided::timeout},
      // Refused by the device, then nothing goes out again: no card holds it.
      {"refused, then the field emptied", false,
       [](Recorder& r, CardSession& s) {
         r.form.track2.text.clear();
         s.ReplyBytes(Bytes("1B 72 71"));
       },
       std::nullopt, std::nullopt},
      {"refused, then the port gone", false,
       [](Recorder& r, CardSession& s) {
         r.open = false;
         s.ReplyBytes(Bytes("1B 72 71"));
       },
       std::nullopt, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Recorder rec;
    CardSession s(rec.Roles());
    rec.form.track2 = {true, false, "", false, false, "10"};
    s.WritePressed();
    if (row.answered) s.ReplyBytes(Bytes("1B"));  // the start of a reply, cut off
    row.end(rec, s);
    const auto holder = rec.holds.find({2, "10"});
    ASSERT_EQ(holder == rec.holds.end() ? std::nullopt : std::optional(holder->second.hold), row.left);
    if (row.why) {
      EXPECT_EQ(rec.whys[std::pair(2, std::string("10"))], *row.why);
    }
    const auto told = [&rec] {
      return std::count_if(rec.trail.begin(), rec.trail.end(),
                           [](const std::string& e) { return e.ends_with(" 2:10"); });
    };
    if (row.left == NumberHold::reserved) {
      // Kept while the run is armed; the next end that does not re-arm drops it.
      s.Closing();
      EXPECT_EQ(rec.holds.count({2, "10"}), 0u);
    } else {
      // A later end of the run does not tell the journal a second time.
      const auto before = told();
      s.Closing();
      s.PortLost();
      EXPECT_EQ(told(), before);
    }
  }
}

// A card still waiting for its swipe when the station stops listening is
// called off on the device, so that no swipe can write a dropped number.
TEST_F(CardSessionTest, ClosingOrExitingCallsOffAnUnansweredCard) {
  for (const bool exits : {false, true}) {
    Recorder rec;
    CardSession s(rec.Roles());
    rec.form.track2 = {true, false, "", false, false, "10"};
    s.WritePressed();
    exits ? s.Closing() : s.ClosePressed();
    EXPECT_EQ(rec.sent.back(), "1B30") << exits;
    EXPECT_EQ(rec.trail.back(), exits ? "cancel 2:10" : "send 1B30") << exits;
  }
  // Nothing armed: nothing is sent.
  session.ClosePressed();
  EXPECT_TRUE(fx.sent.empty());
}

TEST_F(CardSessionTest, WaitRunOutTellsWhetherTheCardWasWritten) {
  for (const bool answered : {false, true}) {
    Recorder rec;
    CardSession s(rec.Roles());
    rec.form.track2 = {true, false, "", false, false, "10"};
    s.WritePressed();
    if (answered) s.ReplyBytes(Bytes("1B"));
    for (int i = 0; i <= station::kWaitLimitTicks; ++i) s.TimerTick();
    EXPECT_EQ(rec.Text(TextSlot::writePrompt), answered ? station::kWriteTimedOutUndecided : station::kWriteTimedOut);
    // 写卡 again: the unswiped card's number is written without a question.
    s.WritePressed();
    EXPECT_EQ(rec.questions.size(), answered ? 1u : 0u);
    EXPECT_EQ(s.writeTracks() > 0, !answered);
  }
}

// 写卡 again before any swipe carries the same number on: it stays reserved.
TEST_F(CardSessionTest, SameNumberArmedAgainKeepsItsReservation) {
  TickTrack2("10");
  session.WritePressed();
  session.WritePressed();
  session.ResetPressed();
  session.WritePressed();
  EXPECT_TRUE(fx.questions.empty());
  EXPECT_EQ(fx.At(2, "10").hold, station::NumberHold::reserved);
  for (const std::string& entry : fx.trail) EXPECT_EQ(entry.rfind("cancel", 0), std::string::npos) << entry;
  EXPECT_EQ(fx.sent.back(), "1B7431301D1B5C");
}

TEST_F(CardSessionTest, RefusalAfterAResetTakesTheCardsOwnNumberBackWithoutAsking) {
  TickTrack2("10");
  session.WritePressed();
  session.ReplyBytes(Bytes("1B"));
  session.ResetPressed();
  ASSERT_EQ(fx.At(2, "10").hold, station::NumberHold::unconfirmed);
  session.ReplyBytes(Bytes("1B 72 71"));
  EXPECT_TRUE(fx.questions.empty());
  EXPECT_EQ(fx.At(2, "10").hold, station::NumberHold::reserved);
  EXPECT_EQ(fx.sent.back(), "1B7431301D1B5C");
  // A new press finds the number undecided and asks.
  session.ReplyBytes(Bytes("1B"));
  session.ResetPressed();
  session.WritePressed();
  EXPECT_EQ(fx.questions.size(), 1u);
}

TEST_F(CardSessionTest, ContinuousTrackStepsPastNumbersOtherStationsHold) {
  fx.holds[{2, "0011"}] = {station::NumberHold::reserved, "counter-2"};
  fx.holds[{2, "0013"}] = {station::NumberHold::written, "counter-3"};
  fx.holds[{2, "0015"}] = {station::NumberHold::unconfirmed, "counter-2"};
  fx.form.track2 = {true, true, "2", false, false, "0011"};
  fx.form.writeCount = "3";
  session.WritePressed();
  EXPECT_EQ(fx.form.track2.text, "0017") << "the first card steps too, by the run's step";
  EXPECT_EQ(fx.Text(TextSlot::operation), "卡号 0011 已被 counter-2 使用，改写 0017");
  fx.holds[{2, "0019"}] = {station::NumberHold::reserved, "counter-3"};  // taken meanwhile
  fx.holds[{2, "0021"}] = {station::NumberHold::reserved, "counter-2"};
  session.ReplyBytes(Bytes("1B 72 70"));
  EXPECT_EQ(fx.Text(TextSlot::operation), "卡号 0019 已被 counter-3 使用，改写 0023");
  EXPECT_EQ(fx.sent.back(), "1B74303032331D1B5C");
  session.ReplyBytes(Bytes("1B 72 70"));
  session.ReplyBytes(Bytes("1B 72 70"));
  EXPECT_EQ(fx.Text(TextSlot::operation), station::kContinuousDone);
  EXPECT_EQ(fx.cards, (std::vector<std::string>{"2:0017", "2:0023", "2:0025"}));
  EXPECT_TRUE(fx.questions.empty());
  ExpectReservedBeforeEverySend(fx);
}

TEST_F(CardSessionTest, TakenNumberInANormalOrFileRunIsAskedAbout) {
  struct Row {
    const char* name;
    bool fileRun;
    bool answer;
    bool sent;
  };
  const Row rows[] = {
      {"normal, 否", false, false, false},
      {"normal, 是", false, true, true},
      {"file, 否", true, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Recorder rec;
    CardSession s(rec.Roles());
    rec.holds[{2, "42"}] = {station::NumberHold::reserved, "counter-2"};
    rec.form.track2 = {true, false, "", row.fileRun, row.fileRun, "42"};
    rec.answer = row.answer;
    s.WritePressed();
    ASSERT_EQ(rec.questions.size(), 1u);
    EXPECT_EQ(rec.sent.size(), row.sent ? 1u : 0u);
    EXPECT_EQ(s.writeTracks() > 0, row.sent);
    EXPECT_EQ(rec.timer, row.sent);
    EXPECT_EQ(rec.At(2, "42").station, row.sent ? "here" : "counter-2");
    if (row.sent) {
      s.ReplyBytes(Bytes("1B 72 70"));
      ASSERT_EQ(rec.journal.size(), 1u);
      EXPECT_TRUE(rec.journal[0].deliberateRepeat);
    }
  }
}

// "写过" only for a number a card is known to hold.
TEST_F(CardSessionTest, QuestionSaysWhatIsKnownOfTheNumber) {
  const std::pair<station::NumberHold, const char*> rows[] = {
      {station::NumberHold::written, "卡号 42（磁道2）已于 2026-12-07 10:00:00 写过。仍要写入吗？"},
      {station::NumberHold::unconfirmed,
       "卡号 42（磁道2）于 2026-12-07 10:00:00 发送给读写器后没有得到确认（复位），卡上可能已有此号。仍要写入吗？"},
      {station::NumberHold::reserved, "卡号 42（磁道2）正由 counter-2 写卡（2026-12-07 10:00:00 起）。仍要写入吗？"},
  };
  for (const auto& [hold, question] : rows) {
    Recorder rec;
    CardSession s(rec.Roles());
    rec.holds[{2, "42"}] = {hold, "counter-2"};
    rec.form.track2 = {true, false, "", false, false, "42"};
    s.WritePressed();
    EXPECT_EQ(rec.questions, std::vector<std::string>{question});
  }
}

TEST_F(CardSessionTest, JournalAwayRefusesWritingAndStopsARunAfterItsCard) {
  const std::string refusal = std::string(station::kJournalUnreachable) + "server closed the connection";
  TickTrack2("10");
  fx.away = "server closed the connection";
  session.WritePressed();
  EXPECT_EQ(fx.messages, std::vector<std::string>{refusal});
  EXPECT_TRUE(fx.sent.empty());
  EXPECT_FALSE(fx.timer);
  EXPECT_EQ(session.writeTracks(), 0);

  // Away in the middle of a run: the card on the writer is finished, no next one.
  fx.away.clear();
  fx.messages.clear();
  fx.form.track2 = {true, true, "1", false, false, "10"};
  fx.form.writeCount = "5";
  session.WritePressed();
  fx.away = "server closed the connection";
  session.ReplyBytes(Bytes("1B 72 70"));
  EXPECT_EQ(fx.cards, std::vector<std::string>{"2:10"});
  EXPECT_EQ(fx.messages, std::vector<std::string>{refusal});
  EXPECT_EQ(fx.sent.size(), 1u);
  EXPECT_EQ(session.writeTracks(), 0);
  EXPECT_FALSE(fx.timer);

  // Away at the card's own commit: the card is kept for later, the run stops.
  Recorder rec;
  CardSession s(rec.Roles());
  rec.form.track2 = {true, true, "1", false, false, "30"};
  rec.form.writeCount = "5";
  s.WritePressed();
  rec.awayAtCommit = true;
  s.ReplyBytes(Bytes("1B 72 70"));
  EXPECT_EQ(rec.events, std::vector<std::string>{"list -1"});
  EXPECT_EQ(rec.messages, std::vector<std::string>{std::string(station::kJournalUnreachable) + "connection lost"});
  EXPECT_EQ(rec.sent.size(), 1u);
  EXPECT_EQ(rec.At(2, "30").hold, station::NumberHold::reserved) << "neither dropped nor left undecided";
}
