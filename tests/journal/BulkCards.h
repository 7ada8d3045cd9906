#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QUuid>

#include <stdexcept>

// Fills a SQLite journal the program has created with count written cards in
// one transaction: numbers 10000001 upwards on track 2, a minute apart from
// 2026-01-01 08:00:00, all of station "bulk". Recording them one by one would
// wait for a disk flush per card.
inline void AddBulkWrittenCards(const QString& file, int count) {
  const QString name = QUuid::createUuid().toString();
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    if (!db.open()) throw std::runtime_error(db.lastError().text().toStdString());
    const auto exec = [&db](const QString& statement) {
      QSqlQuery query(db);
      if (!query.exec(statement)) throw std::runtime_error(query.lastError().text().toStdString());
    };
    db.transaction();
    exec(QStringLiteral(
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
             "INSERT INTO written_card (written_utc_ms, written_local, station, port, device_path, run_kind, "
             "card_index) SELECT 1767254400000 + i * 60000, strftime('%Y-%m-%d %H:%M:%S', 1767254400 + i * 60, "
             "'unixepoch'), 'bulk', 'COM1', '/dev/ttyUSB0', 'continuous', i FROM n")
             .arg(count));
    exec(
        QStringLiteral("INSERT INTO written_track (card_id, track, card_text) "
                       "SELECT id, 2, CAST(10000000 + id AS TEXT) FROM written_card WHERE station = 'bulk'"));
    db.commit();
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
}
