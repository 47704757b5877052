#pragma once
// An unsaved quick note, kept locally until it reaches the journal.

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

struct NoteDraft {
    QUuid id;
    QString text;
    std::optional<QString> normalizedTitle;
    std::optional<QString> normalizedContent;
    std::optional<QStringList> normalizedTags;
    bool isNormalized = false;
    QDateTime createdAt;
    QDateTime updatedAt;

    // A fresh record: both times now, nothing standardized yet.
    static NoteDraft make(QUuid id = QUuid::createUuid(), QString text = {});

    // Optional fields that are none are left out; dates are seconds since
    // 2001-01-01 00:00:00 UTC; the id is upper-case.
    QJsonObject toJson() const;
    // None when a required key is missing or any key has the wrong type.
    static std::optional<NoteDraft> fromJson(const QJsonValue& value);

    bool operator==(const NoteDraft&) const = default;
};

namespace DraftDates {
// The reference moment the stored numbers count from.
QDateTime referenceDate();
double toStored(const QDateTime& when);
QDateTime fromStored(double seconds);
} // namespace DraftDates

// The canonical 36-character upper-case form written to the store.
QString draftIdString(const QUuid& id);
