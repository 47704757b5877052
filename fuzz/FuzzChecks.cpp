#include "FuzzChecks.h"

#include "api/CardRecords.h"
#include "api/JournalRecords.h"
#include "api/JsonDecoding.h"
#include "journal/DraftStore.h"
#include "journal/MarkdownBlocks.h"
#include "review/AnswerMatching.h"
#include "service/CardExport.h"
#include "service/CardImport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace FuzzChecks {

namespace {

QByteArray bytesOf(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Decodes, and when that works, checks that the encoded record decodes to
// the same encoding again.
template <class T>
Finding roundTrip(const char* name, const QByteArray& bytes, Result<T> (*decode)(const QByteArray&))
{
    const Result<T> first = decode(bytes);
    if (!first)
        return std::nullopt;
    const QByteArray encoded = bytesOf(toJson(first.value()));
    const Result<T> second = decode(encoded);
    if (!second)
        return QStringLiteral("%1: the encoded record does not decode: %2")
            .arg(QLatin1String(name), QString::fromUtf8(encoded));
    const QByteArray again = bytesOf(toJson(second.value()));
    if (again != encoded)
        return QStringLiteral("%1: the record changed on a round trip: %2 became %3")
            .arg(QLatin1String(name), QString::fromUtf8(encoded), QString::fromUtf8(again));
    return std::nullopt;
}

// The answer as typed, or split: everything before the first line break, and after.
std::pair<QString, QString> twoTexts(const QByteArray& bytes)
{
    const qsizetype cut = bytes.indexOf('\n');
    if (cut < 0)
        return {QString::fromUtf8(bytes), QString()};
    return {QString::fromUtf8(bytes.left(cut)), QString::fromUtf8(bytes.mid(cut + 1))};
}

} // namespace

Finding snakeCase(const QByteArray& bytes)
{
    const QString key = QString::fromUtf8(bytes);
    const QString once = JsonDecoding::convertFromSnakeCase(key);
    const QString twice = JsonDecoding::convertFromSnakeCase(once);
    if (once != twice)
        return QStringLiteral("converting twice changed \"%1\" -> \"%2\" -> \"%3\"").arg(key, once, twice);
    return std::nullopt;
}

Finding records(const QByteArray& bytes)
{
    if (auto f = roundTrip("trouble cards", bytes, &decodeTroubleCardsResponse))
        return f;
    if (auto f = roundTrip("trouble card", bytes, &decodeTroubleCard))
        return f;
    if (auto f = roundTrip("login", bytes, &decodeAuthResponse))
        return f;
    if (auto f = roundTrip("journal entry", bytes, &decodeJournalEntryResponse))
        return f;
    if (auto f = roundTrip("journal list", bytes, &decodeJournalListResponse))
        return f;
    return roundTrip("normalize", bytes, &decodeNormalizeResponse);
}

Finding drafts(const QByteArray& bytes)
{
    const auto decoded = DraftStore::decode(bytes);
    if (!decoded)
        return std::nullopt;
    QJsonArray array;
    for (const NoteDraft& d : *decoded)
        array.append(d.toJson());
    const QByteArray encoded = QJsonDocument(array).toJson(QJsonDocument::Compact);
    const auto again = DraftStore::decode(encoded);
    if (!again)
        return QStringLiteral("drafts written back do not decode: %1").arg(QString::fromUtf8(encoded));
    if (*again != *decoded)
        return QStringLiteral("drafts changed when written back: %1").arg(QString::fromUtf8(encoded));
    return std::nullopt;
}

Finding markdown(const QByteArray& bytes)
{
    const QList<MarkdownBlock> blocks = Markdown::parseBlocks(QString::fromUtf8(bytes));
    for (qsizetype i = 0; i < blocks.size(); ++i)
        if (blocks[i].id != i)
            return QStringLiteral("block %1 has id %2").arg(i).arg(blocks[i].id);
    return std::nullopt;
}

Finding matching(const QByteArray& bytes)
{
    const auto [a, b] = twoTexts(bytes);
    const double score = similarity(a, b);
    if (!(score >= 0.0 && score <= 1.0))
        return QStringLiteral("similarity(\"%1\", \"%2\") = %3").arg(a, b).arg(score);
    if (similarity(b, a) != score)
        return QStringLiteral("similarity of \"%1\" and \"%2\" is not symmetric").arg(a, b);
    if (similarity(a, a) != 1.0)
        return QStringLiteral("similarity(\"%1\", itself) = %2").arg(a).arg(similarity(a, a));
    (void)stripPOS(a);
    (void)splitIntoParts(a);
    (void)AnswerMatching::characterCount(b);
    return std::nullopt;
}

Finding cardImport(const QByteArray& bytes)
{
    const study::ParsedCards parsed = study::parseCards(bytes);
    QList<study::ExportedCard> exported;
    int line = 0;
    for (const study::ParsedCard& c : parsed.cards) {
        if (c.front.trimmed().isEmpty() || c.back.trimmed().isEmpty() || c.line <= line)
            return QStringLiteral("line %1: a card without front or back, or out of order").arg(c.line);
        line = c.line;
        exported.append({c.front, c.back, c.notes, c.tags, QString()});
    }
    const QByteArray csv = study::writeCsv(exported);
    const study::ParsedCards again = study::parseCards(csv);
    if (!again.problems.isEmpty() || !again.duplicates.isEmpty() || again.cards.size() != parsed.cards.size())
        return QStringLiteral("the cards written as CSV do not read back: %1").arg(QString::fromUtf8(csv));
    for (qsizetype i = 0; i < again.cards.size(); ++i) {
        const study::ParsedCard& a = parsed.cards.at(i);
        const study::ParsedCard& b = again.cards.at(i);
        if (a.front != b.front || a.back != b.back || a.notes != b.notes || a.tags != b.tags)
            return QStringLiteral("card %1 changed when written as CSV: %2").arg(i).arg(QString::fromUtf8(csv));
    }
    return std::nullopt;
}

Check byName(const QString& name)
{
    if (name == QLatin1String("snake_case"))
        return &snakeCase;
    if (name == QLatin1String("records"))
        return &records;
    if (name == QLatin1String("drafts"))
        return &drafts;
    if (name == QLatin1String("markdown"))
        return &markdown;
    if (name == QLatin1String("matching"))
        return &matching;
    if (name == QLatin1String("card_import"))
        return &cardImport;
    return nullptr;
}

} // namespace FuzzChecks
