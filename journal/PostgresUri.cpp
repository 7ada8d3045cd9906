#include "journal/PostgresUri.h"

#include <QStringList>
#include <QUrl>

#include <algorithm>

#include "journal/Journal.h"

namespace journal {
namespace {

[[noreturn]] void Malformed(const QString& uri, const char* why) {
  // The URI itself stays out of the text: it may hold a password.
  static_cast<void>(uri);
  throw JournalError("Not a usable PostgreSQL URI (" + std::string(why) + ")", JournalFault::badAddress, why);
}

QString Decoded(const QString& uri, const QString& part) {
  // An escape that is no escape would decode to something else than meant.
  // Two hex digits each: a number parser would also take a sign or a blank.
  const auto hexDigit = [&](qsizetype at) {
    return at < part.size() && ((part[at] >= QLatin1Char('0') && part[at] <= QLatin1Char('9')) ||
                                (part[at] >= QLatin1Char('a') && part[at] <= QLatin1Char('f')) ||
                                (part[at] >= QLatin1Char('A') && part[at] <= QLatin1Char('F')));
  };
  for (qsizetype i = part.indexOf(QLatin1Char('%')); i >= 0; i = part.indexOf(QLatin1Char('%'), i + 1)) {
    if (!hexDigit(i + 1) || !hexDigit(i + 2)) Malformed(uri, "bad percent escape");
  }
  return QUrl::fromPercentEncoding(part.toUtf8());
}

// libpq's quoting for a value in a key=value connection string.
QString Quoted(const QString& value) {
  QString escaped = value;
  escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
  escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
  return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

}  // namespace

QString PostgresTarget::ConnectOptions() const {
  // Bounds on every wait for the server, so that no journal call holds the
  // window for long: connecting, a statement, a lock, and a dead peer found by
  // TCP keepalives. A parameter the URI gives keeps the URI's value.
  const std::pair<QLatin1String, QLatin1String> bounds[] = {
      {QLatin1String("connect_timeout"), QLatin1String("5")},
      {QLatin1String("keepalives"), QLatin1String("1")},
      {QLatin1String("keepalives_idle"), QLatin1String("5")},
      {QLatin1String("keepalives_interval"), QLatin1String("2")},
      {QLatin1String("keepalives_count"), QLatin1String("2")},
  };
  // Server settings travel in libpq's "options" as -c name=value.
  const std::pair<QLatin1String, QLatin1String> serverBounds[] = {
      {QLatin1String("statement_timeout"), QLatin1String("4s")},
      {QLatin1String("lock_timeout"), QLatin1String("3s")},
  };
  const auto withServerBounds = [&](QString value) {
    for (const auto& [name, bound] : serverBounds) {
      if (value.contains(name)) continue;
      if (!value.isEmpty()) value += QLatin1Char(' ');
      value += QLatin1String("-c ") + name + QLatin1Char('=') + bound;
    }
    return value;
  };

  QStringList options;
  bool serverOptions = false;
  for (const auto& [key, value] : parameters) {
    if (key == QLatin1String("options")) {
      options << key + QLatin1Char('=') + Quoted(withServerBounds(value));
      serverOptions = true;
    } else {
      options << key + QLatin1Char('=') + Quoted(value);
    }
  }
  for (const auto& bound : bounds) {
    const auto& name = bound.first;
    const bool given =
        std::any_of(parameters.begin(), parameters.end(), [&](const auto& p) { return p.first == name; });
    if (!given) options << name + QLatin1Char('=') + bound.second;
  }
  if (!serverOptions) options << QLatin1String("options=") + Quoted(withServerBounds(QString()));
  // Qt SQL separates options with ';'.
  return options.join(QLatin1Char(';'));
}

QString PostgresTarget::Conninfo() const {
  QStringList parts;
  const std::pair<QLatin1String, const QString*> named[] = {{QLatin1String("host"), &host},
                                                            {QLatin1String("dbname"), &dbname},
                                                            {QLatin1String("user"), &user},
                                                            {QLatin1String("password"), &password}};
  for (const auto& [key, value] : named) {
    if (!value->isEmpty()) parts << key + QLatin1Char('=') + Quoted(*value);
  }
  // The options' values are quoted and hold no ';' (refused when parsed).
  parts << ConnectOptions().split(QLatin1Char(';'));
  return parts.join(QLatin1Char(' '));
}

std::optional<PostgresTarget> ParsePostgresUri(const QString& text) {
  QString rest = text.trimmed();
  bool scheme = false;
  for (const QLatin1String prefix : {QLatin1String("postgresql://"), QLatin1String("postgres://")}) {
    if (rest.startsWith(prefix, Qt::CaseInsensitive)) {
      rest = rest.mid(prefix.size());
      scheme = true;
      break;
    }
  }
  if (!scheme) return std::nullopt;
  // libpq takes its parameters as C strings: a NUL would cut a value unseen.
  if (text.contains(QChar(u'\0'))) Malformed(text, "NUL character");

  PostgresTarget target;
  QString query;
  if (const qsizetype q = rest.indexOf(QLatin1Char('?')); q >= 0) {
    query = rest.mid(q + 1);
    rest.truncate(q);
  }
  if (const qsizetype slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
    target.dbname = Decoded(text, rest.mid(slash + 1));
    rest.truncate(slash);
  }
  if (const qsizetype at = rest.lastIndexOf(QLatin1Char('@')); at >= 0) {
    const QString userInfo = rest.left(at);
    rest = rest.mid(at + 1);
    const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
    target.user = Decoded(text, userInfo.left(colon < 0 ? userInfo.size() : colon));
    if (colon >= 0) target.password = Decoded(text, userInfo.mid(colon + 1));
  }
  // Hosts, each with an optional port; libpq takes both as comma lists.
  QStringList hosts;
  QStringList ports;
  bool anyPort = false;
  if (!rest.isEmpty()) {
    for (const QString& hostPort : rest.split(QLatin1Char(','))) {
      QString host = hostPort;
      QString port;
      const qsizetype close = hostPort.startsWith(QLatin1Char('[')) ? hostPort.indexOf(QLatin1Char(']')) : -1;
      if (hostPort.startsWith(QLatin1Char('[')) && close < 0) Malformed(text, "unclosed [");
      // After "[address]" only a port may follow; anything else would be dropped unseen.
      if (close >= 0 && close + 1 < hostPort.size() && hostPort[close + 1] != QLatin1Char(':')) {
        Malformed(text, "text after ]");
      }
      const qsizetype colon = hostPort.indexOf(QLatin1Char(':'), close < 0 ? 0 : close);
      if (colon >= 0) {
        host = hostPort.left(colon);
        port = hostPort.mid(colon + 1);
        // Digits alone: the number parser stops at a NUL and takes a sign.
        bool number = !port.isEmpty() && port.size() <= 5;
        for (const QChar c : port) number = number && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!number || port.toUInt() > 65535) Malformed(text, "bad port");
        anyPort = true;
      }
      if (close >= 0) host = host.mid(1, close - 1);
      hosts << Decoded(text, host);
      ports << port;
    }
  }
  target.host = hosts.join(QLatin1Char(','));
  if (anyPort) target.parameters.append({QStringLiteral("port"), ports.join(QLatin1Char(','))});

  if (!query.isEmpty()) {
    for (const QString& pair : query.split(QLatin1Char('&'))) {
      const qsizetype equals = pair.indexOf(QLatin1Char('='));
      if (equals <= 0) Malformed(text, "parameter without a value");
      const QString key = Decoded(text, pair.left(equals));
      const QString value = Decoded(text, pair.mid(equals + 1));
      if (key == QLatin1String("host")) {
        target.host = value;
      } else if (key == QLatin1String("user")) {
        target.user = value;
      } else if (key == QLatin1String("password")) {
        target.password = value;
      } else if (key == QLatin1String("dbname")) {
        target.dbname = value;
      } else {
        target.parameters.append({key, value});
      }
    }
  }
  // Qt SQL splits its options at ';' before libpq sees them.
  for (const auto& [key, value] : target.parameters) {
    if (key.contains(QLatin1Char(';')) || value.contains(QLatin1Char(';'))) Malformed(text, "';' in a parameter");
    if (key.isEmpty() || key.contains(QLatin1Char(' ')) || key.contains(QLatin1Char('='))) {
      Malformed(text, "bad parameter name");
    }
  }
  return target;
}

}  // namespace journal
