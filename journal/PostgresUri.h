#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

// A server's address as libpq takes it in a connection URI:
//   postgresql://[user[:password]@][host][:port][,host[:port]...][/dbname][?key=value&...]
// "postgres://" is the same. Components are percent-decoded, so a host of
// "%2Frun%2Fpostgresql" is a Unix socket folder. Keys in the query override the
// parts before it; any other key is a libpq connection parameter.
namespace journal {

struct PostgresTarget {
  QString host;      // empty: libpq's default (PGHOST, then the local socket)
  QString user;      // empty: PGUSER or the login name
  QString password;  // empty: PGPASSWORD or ~/.pgpass, as libpq finds them
  QString dbname;
  // Every other connection parameter (port included), in the URI's order.
  QList<std::pair<QString, QString>> parameters;

  // The parameters as a Qt SQL connect-options string, with bounds on
  // connecting, statements, locks (through "options") and TCP keepalives for
  // the ones left out, so that a server away, frozen or locked never holds
  // the station for the network's own time-outs.
  QString ConnectOptions() const;
  // All of it as one libpq key=value connection string, bounds included: what
  // Qt's driver hands libpq for this target.
  QString Conninfo() const;
};

// std::nullopt when text is no PostgreSQL URI at all; throws JournalError for
// one that is malformed.
std::optional<PostgresTarget> ParsePostgresUri(const QString& text);

}  // namespace journal
