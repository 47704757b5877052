#pragma once
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct JournalEntryData {
    std::int64_t id = 0;
    QString title;
    QString content;
    std::optional<QStringList> tags;
    std::optional<QString> insertedAt;
    std::optional<QString> updatedAt;
};

struct NormalizeResult {
    QString title;
    QString content;
    std::optional<QStringList> tags;
};
