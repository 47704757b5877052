// Copies of the database: one on request, and the daily ones the service keeps
// by itself with --backup-dir.
#pragma once

#include <QDate>
#include <QString>

namespace study {

class SqlStore;

// Writes a consistent copy of the store to a new file in `dir` (made if
// missing) and returns its path, or an empty string and the reason.
QString writeBackup(SqlStore& store, const QString& dir, const QString& fileName, QString* error);

// Keeps one backup per day in `dir`: writes today's if it is missing and
// removes all but the newest `keep` daily ones. Returns false with the reason.
bool keepDailyBackups(SqlStore& store, const QString& dir, const QDate& today, int keep, QString* error);

} // namespace study
