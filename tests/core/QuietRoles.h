#pragma once
// Stand-ins for the card session's roles that do nothing: an open port, a
// journal that takes every card and number, a form held in a member. A fake
// derives from them and overrides only what it watches.

#include "core/SessionEffects.h"

namespace station::testing_support {

class QuietPort : public SessionPort {
 public:
  bool PortOpen() override { return true; }
  bool OpenPort(std::optional<std::uint16_t>) override { return true; }
  void TryOpenPort() override {}
  void ClosePort() override {}
  std::uint16_t PortNumber() override { return 1; }
  void Send(std::string_view) override {}
  void AwaitMoreReply() override {}
  bool ReopenPort() override { return true; }
  std::string OpenFailureDetail() override { return {}; }
};

class QuietTimers : public SessionTimers {
 public:
  void StartTimer() override {}
  void StopTimer() override {}
  void StartReplyTailWait() override {}
  void StopReplyTailWait() override {}
  void StartReconnectTimer() override {}
  void StopReconnectTimer() override {}
};

class QuietScreen : public SessionScreen {
 public:
  void ShowText(TextSlot, const std::string&) override {}
  void SetTrackText(int, const std::string&) override {}
  void AddWrittenCard(int, const std::string&, std::int64_t) override {}
  void Message(const std::string&) override {}
  void Warning(const std::string&) override {}
  bool Ask(const std::string&) override { return false; }
  void Beep() override {}
  void Focus(FocusTarget) override {}
  void ShowWriteMode(WriteMode) override {}
  void EnableTrackBoxes(bool) override {}
};

// The form as the test left it in `form`; no record files.
class QuietForm : public SessionForm {
 public:
  StationForm form;
  StationForm Form() override { return form; }
  void KeepCardListInBounds() override {}
  bool RecordsLeft(int) override { return false; }
  void LoadNextRecord(int) override {}
  void EndFileTrack(int) override {}
};

class QuietJournal : public SessionJournal {
 public:
  std::int64_t RecordWrittenCard(const WrittenCardRecord&) override { return 1; }
  void RecordReadCard(const std::optional<std::string>&, const std::optional<std::string>&) override {}
  NumbersReserved ReserveNumbers(const WrittenCardRecord&, const NumberStep&, bool) override { return {}; }
  void CancelReservation(const WrittenCardRecord&) override {}
  void MarkUnconfirmed(const WrittenCardRecord&, Undecided) override {}
};

}  // namespace station::testing_support
