#pragma once
// Journals for the benchmarks: a PostgreSQL schema of a run's own, and journals
// already holding many written cards, filled in one transaction each (recording
// them card by card would wait for a flush per card).

#include <QString>

namespace bench {

// The connection string of CARDSTATION_BENCH_PG_URI; empty when it is not set.
QString ServerUri();

// A fresh schema on the server, dropped with everything in it at the end;
// uri() reaches the server with that schema as its search path, so that a
// journal opened on it starts empty.
class ServerSchema {
 public:
  explicit ServerSchema(const QString& serverUri);
  ~ServerSchema();
  ServerSchema(const ServerSchema&) = delete;
  ServerSchema& operator=(const ServerSchema&) = delete;
  const QString& uri() const { return uri_; }

 private:
  QString server_;
  QString name_;
  QString uri_;
};

// Bulk cards are of station "bulk", a minute apart from 2026-01-01 08:00, and
// carry the numbers 10000001 upwards on track 2, each with its "written" number
// row, as if recorded one by one.
inline constexpr long long kFirstBulkNumber = 10000001;

// The URI of a schema on the server holding a journal of count bulk cards.
// The schema is filled once and kept on the (throw-away) server for later
// runs, like the SQLite file below: the benchmarks that use it add their own
// cards with numbers of their own (FreshNumbers), which leaves the million
// as they were for every practical purpose.
QString FilledServerJournal(const QString& serverUri, int count);

// The first of a range of a million numbers that no bulk card and, most
// likely, no earlier run carries: nine digits, picked at random.
long long FreshNumbers();

// A copy of a SQLite journal of count bulk cards at target. The filled journal
// is made once and kept in the build folder, since filling it takes longer
// than the benchmarks that use it.
void CopyFilledSqliteJournal(const QString& target, int count);

// Runs statements in one transaction on a connection of its own to the
// SQLite file or the server URI; throws on the first failure.
void RunOnJournal(const QString& uriOrFile, const QStringList& statements);

// The process's resident set in KiB from the kernel: "VmRSS" now, "VmHWM" its
// peak.
long StatusKiB(const char* key);

// Starts the peak resident set over from the present one (Linux 4.0 and later).
void ResetPeakRss();

}  // namespace bench
