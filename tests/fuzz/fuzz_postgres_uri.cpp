// The reader of the journal server's URI from the settings file.
// Invariants: text is refused (JournalError) or read, never anything else;
// a URI read has only whole percent escapes (two hex digits after every '%'),
// so nothing decodes to other than what was meant; and its connect options
// split at ';' into exactly its parameters plus the connect bound, so no
// value can smuggle in an option of its own.
#include <QString>
#include <QStringList>

#include <cstdint>

#include "FuzzCheck.h"
#include "journal/Journal.h"
#include "journal/PostgresUri.h"

namespace {

bool HexDigit(QChar c) {
  return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
         (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  std::optional<journal::PostgresTarget> target;
  try {
    target = journal::ParsePostgresUri(text);
  } catch (const journal::JournalError&) {
    return 0;
  }
  if (!target) return 0;

  for (qsizetype i = text.indexOf(QLatin1Char('%')); i >= 0; i = text.indexOf(QLatin1Char('%'), i + 1)) {
    FUZZ_CHECK(i + 2 < text.size() && HexDigit(text[i + 1]) && HexDigit(text[i + 2]));
  }
  // Every parameter passes once, and each bound the URI leaves out is added once.
  QStringList missing = {QStringLiteral("connect_timeout"),  QStringLiteral("keepalives"),
                         QStringLiteral("keepalives_idle"),  QStringLiteral("keepalives_interval"),
                         QStringLiteral("keepalives_count"), QStringLiteral("options")};
  for (const auto& [key, value] : target->parameters) {
    FUZZ_CHECK(!key.isEmpty() && !key.contains(QLatin1Char(';')) && !value.contains(QLatin1Char(';')));
    missing.removeAll(key);
  }
  const QStringList options = target->ConnectOptions().split(QLatin1Char(';'));
  FUZZ_CHECK(options.size() == target->parameters.size() + missing.size());
  return 0;
}
