#pragma once
// Widget-free text rules of the notes and journal forms: search matching,
// tag fields, entry dates and the failure lines shown to the learner.

#include "api/JournalRecords.h"
#include "api/Result.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <vector>

namespace JournalText {

// Full Unicode lower-casing, then the canonical (NFC) form, so canonically
// equivalent spellings compare equal.
QString searchFold(const QString& text);
// Whether `folded` (searchFold of a title or tag) holds `foldedQuery` as a
// run of whole characters: a match may not split a grapheme cluster, so "e"
// is not found inside "é".
bool containsWhole(const QString& folded, const QString& foldedQuery);

// The title and tags of the entries, folded once, so a keystroke only scans.
class SearchIndex {
public:
    SearchIndex() = default;
    explicit SearchIndex(const QList<JournalEntryData>& entries);
    // Indexes into the entries, in their order; every index when the
    // search text is exactly empty (it is not trimmed).
    QList<qsizetype> matches(const QString& searchText) const;
    qsizetype size() const { return qsizetype(items_.size()); }

private:
    struct Item {
        QString title;
        QStringList tags;
    };
    std::vector<Item> items_;
};

QList<JournalEntryData> filterEntries(const QList<JournalEntryData>& entries, const QString& searchText);

// Split at ",", trim spaces and tabs (not line breaks), drop empty pieces.
QStringList parseTags(const QString& field);
QString joinTags(const std::optional<QStringList>& tags);

// The medium date (e.g. "Jan 15, 2025") of an ISO 8601 internet date-time
// with or without fractional seconds; anything else comes back unchanged.
QString formatEntryDate(const QString& insertedAt, const QLocale& locale = QLocale(),
                        const QTimeZone& zone = QTimeZone::systemTimeZone());

// Trimmed of white space and line breaks, as the forms test for emptiness.
QString trimmedNote(const QString& text);

// The line shown after a failed standardize or save of a quick note.
QString quickNoteFailure(const Error& error);
// What follows "Failed to load: " and the other prefixes of the browser:
// the text form of a backend error, the description of any other.
QString errorDescription(const Error& error);

} // namespace JournalText
