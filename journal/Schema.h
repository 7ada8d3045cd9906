#pragma once

#include <QSqlDatabase>

// The journal's tables and their versions. Each version is a step from the one
// before, so a new journal runs every step and an older one the steps it
// lacks; a journal from a newer program is refused rather than written into.
//
// Version 1: written_card, written_track, read_card, list_save,
//            list_save_entry, journal_schema.
// Version 2: written_card.deliberate_repeat; card_number, one row per (track,
//            text) with its state and the station and card that hold it, filled
//            from the cards already written. A reservation is another state of
//            that row, so the uniqueness of a number across stations is its key.
// Version 3: card_number.held_local, when the number was reserved or written;
//            written_card.card_key, a station's own key for a card, unique, so
//            that a record retried after a lost connection is stored once.
// Version 4: card_number.unconfirmed_reason, why an unconfirmed number was
//            left undecided; empty for the numbers marked before.
// Version 5: on SQLite, written_track_search_mark, the rowid of written_track
//            up to which the trigram index is complete; new tracks are indexed
//            after their card's commit, in batches (CatchUpSearchIndex). No
//            change on a server.
namespace journal {

inline constexpr int kSchemaVersion = 5;

// The version a journal of db's kind is brought up to: kSchemaVersion, or
// the last one that changed anything on a server.
int NewestSchemaVersion(const QSqlDatabase& db);

// Brings db up to target (at most NewestSchemaVersion), one transaction per step.
// Safe when several stations start at once: on a server each step holds a
// transaction-level lock and reads the version again under it, so a step that
// another station has just run is not run twice. Throws JournalError.
void MigrateSchema(QSqlDatabase& db, int target = kSchemaVersion);

// The trigram index over written_track.card_text, made at the opening where
// the store allows it (see HasSearchIndexes).
inline constexpr char kTrackSearchIndex[] = "written_track_search";

// SQLite: one row, indexed_rowid; the tracks above it are not yet in the
// trigram index, and a search reads them directly.
inline constexpr char kSearchMarkTable[] = "written_track_search_mark";

// SQLite: puts the tracks above the mark into the trigram index and moves the
// mark, in one transaction of its own, when at least atLeast tracks wait (and
// the index exists). Returns how many were indexed; nothing on a server, whose
// index keeps itself. Throws JournalError.
qint64 CatchUpSearchIndex(QSqlDatabase& db, qint64 atLeast = 1);

// Whether the indexes that serve a search by part of a number are there: the
// trigram index over the tracks and the index of the station names.
bool HasSearchIndexes(QSqlDatabase& db);

// 0 for a database without the journal's tables.
int StoredSchemaVersion(QSqlDatabase& db);

}  // namespace journal
