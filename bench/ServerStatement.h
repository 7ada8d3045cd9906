#pragma once
// Set-up for the benchmarks that run against a PostgreSQL server: one
// statement through a connection of its own, its failure ignored (the run
// that needs it then fails visibly).

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include "journal/PostgresUri.h"

inline void ServerStatement(const QString& uri, const QString& statement) {
  const QString connection = QStringLiteral("bench-setup");
  {
    const auto target = journal::ParsePostgresUri(uri);
    if (!target) return;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    db.setHostName(target->host);
    db.setUserName(target->user);
    db.setPassword(target->password);
    db.setDatabaseName(target->dbname);
    db.setConnectOptions(target->ConnectOptions());
    if (db.open()) QSqlQuery(db).exec(statement);
  }
  QSqlDatabase::removeDatabase(connection);
}
