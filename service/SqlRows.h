// What the two halves of SqlStore share: how values become columns and back.
#pragma once

#include "service/Normalize.h"
#include "service/StudyStore.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cmath>
#include <optional>

namespace study::sqlrows {

inline const QString kCardColumns = QStringLiteral(
    "SELECT c.id, a.email, c.deck_id, d.name, c.front, c.back, c.notes, c.tags, c.trouble_rank, c.lapses, "
    "c.ease, c.interval, c.repetitions, c.due, c.right_run FROM cards c JOIN decks d ON d.id = c.deck_id "
    "JOIN accounts a ON a.id = c.account_id ");
inline const QString kEntryColumns = QStringLiteral(
    "SELECT j.id, a.email, j.title, j.content, j.tags, j.inserted_at, j.updated_at FROM journal j "
    "JOIN accounts a ON a.id = j.account_id ");
inline const QString kAccountOf = QStringLiteral("(SELECT id FROM accounts WHERE email = ?)");

inline QString tagsText(const QStringList& tags)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(tags)).toJson(QJsonDocument::Compact));
}

inline QStringList tagsList(const QString& text)
{
    QStringList out;
    for (const QJsonValue& v : QJsonDocument::fromJson(text.toUtf8()).array())
        out.append(v.toString());
    return out;
}

inline QString canonicalPair(const QString& front, const QString& back)
{
    return canonicalCardText(front) + QChar(0x1f) + canonicalCardText(back);
}

inline qint64 msSinceEpoch(const QString& iso)
{
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODateWithMs);
    return t.isValid() ? t.toMSecsSinceEpoch() : 0;
}

inline QVariant nullable(const std::optional<ReviewState>& r, auto field)
{
    return r ? QVariant::fromValue((*r).*field) : QVariant();
}

// Every trouble score fades at the same rate, so the order of the cards only
// changes when one is answered: the column keeps the score scaled by the fade
// since the epoch ("rank"), and today's score is the rank scaled back. Whole
// days keep a score steady through the day.
inline double fadeSinceEpoch(const QDate& day)
{
    static const QDate epoch(2026, 1, 1);
    return std::exp2(double(epoch.daysTo(day)) / troubleHalfLifeDays);
}

inline double rankOf(double score, const QDate& day) { return score * fadeSinceEpoch(day); }

inline double scoreOf(double rank, const QDate& day) { return std::round(rank / fadeSinceEpoch(day) * 100.0) / 100.0; }

inline bool fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace study::sqlrows
