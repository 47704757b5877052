#pragma once
#include "api/JournalRecords.h"
#include "api/Result.h"

#include <QObject>

namespace JournalService {

void listEntries(QObject* context, Callback<QList<JournalEntryData>> done);
void createEntry(const QString& title, const QString& content, const QStringList& tags, QObject* context,
                 Callback<JournalEntryData> done);
void updateEntry(std::int64_t id, const QString& title, const QString& content, const QStringList& tags,
                 QObject* context, Callback<JournalEntryData> done);
void deleteEntry(std::int64_t id, QObject* context, Callback<void> done);
void createQuickNote(const QString& text, QObject* context, Callback<JournalEntryData> done);
void normalizeText(const QString& text, QObject* context, Callback<NormalizeResult> done);

} // namespace JournalService
