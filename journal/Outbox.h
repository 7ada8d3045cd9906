#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <deque>
#include <variant>
#include <vector>

#include "journal/Journal.h"

// What a station has for the journal while the journal cannot take it: written
// cards, read cards and changes to its reservations, one queue in the order
// they happened. The queue lives in a small file beside the journal as long as
// it holds anything, so that a restart keeps it, order included.
namespace journal {

// A written card, with the id the station's list shows for it until the
// journal gives it one (negative, counting down).
struct OutboxWrittenCard {
  WrittenCard card;  // with its key, so that a card sent twice is stored once
  std::int64_t listId = 0;
};

// Reservations to drop (unconfirm false) or mark unconfirmed.
struct OutboxHoldChange {
  bool unconfirm = false;
  QList<CardNumber> numbers;
  UnconfirmedReason reason = UnconfirmedReason::unknown;
};

using OutboxEntry = std::variant<OutboxWrittenCard, ReadCard, OutboxHoldChange>;

class Outbox {
 public:
  // Takes up what file holds; an empty or missing file is an empty queue, and
  // an unreadable one too (it is then kept aside as file + ".bad", not lost).
  explicit Outbox(QString file);

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  const OutboxEntry& front() const { return entries_.front(); }
  const std::deque<OutboxEntry>& entries() const { return entries_; }

  // The next list id for a written card: below every id in the queue.
  std::int64_t NextListId() const;

  // Both save the file before they return; false when it could not be
  // written (the queue in memory is changed all the same).
  bool Push(OutboxEntry entry);
  // Many entries at once, with one save of the file.
  bool PushAll(std::vector<OutboxEntry> entries);
  bool PopFront();

  // Numbers of written cards in the queue: the card holds them although the
  // journal does not know yet.
  QList<CardNumber> WrittenNumbers() const;

  const QString& file() const { return file_; }

 private:
  bool Save() const;

  QString file_;
  std::deque<OutboxEntry> entries_;
};

}  // namespace journal
