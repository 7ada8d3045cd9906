#include "station/MainWindow.h"
#include "station/NumberSequence.h"

QString TForm1::IncrementTrailingNumber(const QString& text, std::uint64_t step) {
  // Track texts are single bytes per character; Latin-1 maps them one to one.
  const QByteArray bytes = text.toLatin1();
  const station::IncrementResult result =
      station::IncrementTrailingNumber(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), step);
  if (result.noTrailingDigit) prompts().Message(QString::fromUtf8(station::kNoTrailingDigitMessage));
  return QString::fromLatin1(result.text.data(), static_cast<qsizetype>(result.text.size()));
}
