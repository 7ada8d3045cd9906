#include "journal/Outbox.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace journal {
namespace {

// Track texts are bytes; Latin-1 keeps each byte one character in JSON.
QString Bytes(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }
std::string BytesOf(const QJsonValue& value) { return value.toString().toLatin1().toStdString(); }

QString When(const QDateTime& when) { return when.toUTC().toString(Qt::ISODateWithMs); }
QDateTime WhenOf(const QJsonValue& value) { return QDateTime::fromString(value.toString(), Qt::ISODateWithMs); }

QJsonValue OptionalBytes(const std::optional<std::string>& text) {
  return text ? QJsonValue(Bytes(*text)) : QJsonValue();
}
std::optional<std::string> OptionalBytesOf(const QJsonValue& value) {
  if (!value.isString()) return std::nullopt;
  return BytesOf(value);
}

QJsonArray NumbersJson(const QList<CardNumber>& numbers) {
  QJsonArray out;
  for (const CardNumber& number : numbers)
    out.append(QJsonObject{{"track", number.track}, {"text", Bytes(number.text)}});
  return out;
}

QList<CardNumber> NumbersOf(const QJsonValue& value) {
  QList<CardNumber> numbers;
  for (const QJsonValue& item : value.toArray()) {
    numbers.push_back({item[QLatin1String("track")].toInt(2), BytesOf(item[QLatin1String("text")])});
  }
  return numbers;
}

QJsonObject ToJson(const OutboxEntry& entry) {
  if (const auto* written = std::get_if<OutboxWrittenCard>(&entry)) {
    const WrittenCard& card = written->card;
    QJsonArray tracks;
    for (const WrittenTrack& track : card.tracks) {
      tracks.append(QJsonObject{{"track", track.track},
                                {"text", Bytes(track.text)},
                                {"file", track.fileName},
                                {"record", track.recordNumber}});
    }
    return {{"type", "written"},
            {"listId", static_cast<double>(written->listId)},
            {"when", When(card.when)},
            {"station", card.station},
            {"port", card.port},
            {"device", card.devicePath},
            {"kind", static_cast<int>(card.kind)},
            {"index", card.cardIndex},
            {"repeat", card.deliberateRepeat},
            {"key", card.key},
            {"tracks", tracks}};
  }
  if (const auto* read = std::get_if<ReadCard>(&entry)) {
    return {{"type", "read"},
            {"when", When(read->when)},
            {"station", read->station},
            {"track2", OptionalBytes(read->track2)},
            {"track3", OptionalBytes(read->track3)}};
  }
  const auto& hold = std::get<OutboxHoldChange>(entry);
  return {{"type", "hold"},
          {"unconfirm", hold.unconfirm},
          {"reason", static_cast<int>(hold.reason)},
          {"numbers", NumbersJson(hold.numbers)}};
}

std::optional<OutboxEntry> FromJson(const QJsonObject& object) {
  const QString type = object[QLatin1String("type")].toString();
  if (type == QLatin1String("written")) {
    OutboxWrittenCard written;
    written.listId = static_cast<std::int64_t>(object[QLatin1String("listId")].toDouble());
    WrittenCard& card = written.card;
    card.when = WhenOf(object[QLatin1String("when")]);
    card.station = object[QLatin1String("station")].toString();
    card.port = object[QLatin1String("port")].toString();
    card.devicePath = object[QLatin1String("device")].toString();
    const int kind = object[QLatin1String("kind")].toInt();
    card.kind = kind == 1 ? RunKind::continuous : kind == 2 ? RunKind::file : RunKind::normal;
    card.cardIndex = object[QLatin1String("index")].toInt(1);
    card.deliberateRepeat = object[QLatin1String("repeat")].toBool();
    card.key = object[QLatin1String("key")].toString();
    for (const QJsonValue& item : object[QLatin1String("tracks")].toArray()) {
      WrittenTrack track;
      track.track = item[QLatin1String("track")].toInt(2);
      track.text = BytesOf(item[QLatin1String("text")]);
      track.fileName = item[QLatin1String("file")].toString();
      track.recordNumber = item[QLatin1String("record")].toInt();
      card.tracks.push_back(track);
    }
    if (card.tracks.isEmpty() || card.key.isEmpty()) return std::nullopt;
    return written;
  }
  if (type == QLatin1String("read")) {
    ReadCard read;
    read.when = WhenOf(object[QLatin1String("when")]);
    read.station = object[QLatin1String("station")].toString();
    read.track2 = OptionalBytesOf(object[QLatin1String("track2")]);
    read.track3 = OptionalBytesOf(object[QLatin1String("track3")]);
    return read;
  }
  if (type == QLatin1String("hold")) {
    OutboxHoldChange hold;
    hold.unconfirm = object[QLatin1String("unconfirm")].toBool();
    const int reason = object[QLatin1String("reason")].toInt();
    hold.reason = reason >= 0 && reason <= static_cast<int>(UnconfirmedReason::notJournaled)
                      ? static_cast<UnconfirmedReason>(reason)
                      : UnconfirmedReason::unknown;
    hold.numbers = NumbersOf(object[QLatin1String("numbers")]);
    return hold;
  }
  return std::nullopt;
}

}  // namespace

Outbox::Outbox(QString file) : file_(std::move(file)) {
  QFile in(file_);
  if (!in.exists() || !in.open(QIODevice::ReadOnly)) return;
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(in.readAll(), &error);
  in.close();
  bool whole = error.error == QJsonParseError::NoError && document.isArray();
  for (const QJsonValue& item : document.array()) {
    std::optional<OutboxEntry> entry = FromJson(item.toObject());
    if (entry) {
      entries_.push_back(std::move(*entry));
    } else {
      whole = false;
    }
  }
  // What cannot be read is kept for a person to look at, never overwritten.
  if (!whole) QFile::rename(file_, file_ + QStringLiteral(".bad"));
}

std::int64_t Outbox::NextListId() const {
  std::int64_t lowest = 0;
  for (const OutboxEntry& entry : entries_) {
    if (const auto* written = std::get_if<OutboxWrittenCard>(&entry)) lowest = std::min(lowest, written->listId);
  }
  return lowest - 1;
}

bool Outbox::Push(OutboxEntry entry) {
  entries_.push_back(std::move(entry));
  return Save();
}

bool Outbox::PushAll(std::vector<OutboxEntry> entries) {
  for (OutboxEntry& entry : entries) entries_.push_back(std::move(entry));
  return Save();
}

bool Outbox::PopFront() {
  entries_.pop_front();
  return Save();
}

QList<CardNumber> Outbox::WrittenNumbers() const {
  QList<CardNumber> numbers;
  for (const OutboxEntry& entry : entries_) {
    if (const auto* written = std::get_if<OutboxWrittenCard>(&entry)) {
      for (const WrittenTrack& track : written->card.tracks) numbers.push_back({track.track, track.text});
    }
  }
  return numbers;
}

bool Outbox::Save() const {
  if (file_.isEmpty()) return false;
  if (entries_.empty()) return !QFile::exists(file_) || QFile::remove(file_);
  QJsonArray array;
  for (const OutboxEntry& entry : entries_) array.append(ToJson(entry));
  QSaveFile out(file_);
  if (!out.open(QIODevice::WriteOnly)) return false;
  out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  out.write(QJsonDocument(array).toJson(QJsonDocument::Compact));
  return out.commit();
}

}  // namespace journal
