#include "journal/JournalText.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <unicode/udat.h>

namespace JournalText {

QString searchFold(const QString& text)
{
    return text.toLower().normalized(QString::NormalizationForm_C);
}

namespace {
bool isAscii(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

bool atBoundary(const QString& s, qsizetype pos)
{
    if (pos == 0 || pos == s.size())
        return true;
    // Fast path: a boundary before and after plain ASCII letters is certain
    // unless combining marks or joiners follow.
    const QChar next = s.at(pos);
    const QChar prev = s.at(pos - 1);
    if (next.unicode() < 0x80 && prev.unicode() < 0x80 && !(prev == QLatin1Char('\r') && next == QLatin1Char('\n')))
        return true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    finder.setPosition(pos);
    return finder.isAtBoundary();
}
} // namespace

bool containsWhole(const QString& folded, const QString& foldedQuery)
{
    if (foldedQuery.isEmpty())
        return true;
    const bool simple = isAscii(folded) && isAscii(foldedQuery);
    for (qsizetype from = 0;;) {
        const qsizetype at = folded.indexOf(foldedQuery, from);
        if (at < 0)
            return false;
        if (simple || (atBoundary(folded, at) && atBoundary(folded, at + foldedQuery.size())))
            return true;
        from = at + 1;
    }
}

SearchIndex::SearchIndex(const QList<JournalEntryData>& entries)
{
    items_.reserve(entries.size());
    for (const JournalEntryData& e : entries) {
        Item item{searchFold(e.title), {}};
        if (e.tags)
            for (const QString& tag : *e.tags)
                item.tags.append(searchFold(tag));
        items_.push_back(std::move(item));
    }
}

QList<qsizetype> SearchIndex::matches(const QString& searchText) const
{
    QList<qsizetype> result;
    if (searchText.isEmpty()) {
        result.reserve(qsizetype(items_.size()));
        for (qsizetype i = 0; i < qsizetype(items_.size()); ++i)
            result.append(i);
        return result;
    }
    const QString query = searchFold(searchText);
    for (qsizetype i = 0; i < qsizetype(items_.size()); ++i) {
        const Item& item = items_[size_t(i)];
        bool hit = containsWhole(item.title, query);
        for (qsizetype t = 0; !hit && t < item.tags.size(); ++t)
            hit = containsWhole(item.tags.at(t), query);
        if (hit)
            result.append(i);
    }
    return result;
}

QList<JournalEntryData> filterEntries(const QList<JournalEntryData>& entries, const QString& searchText)
{
    if (searchText.isEmpty())
        return entries;
    QList<JournalEntryData> out;
    for (qsizetype i : SearchIndex(entries).matches(searchText))
        out.append(entries.at(i));
    return out;
}

QStringList parseTags(const QString& field)
{
    QStringList tags;
    for (const QString& piece : field.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        qsizetype start = 0, end = piece.size();
        const auto trims = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
        while (start < end && trims(piece.at(start)))
            ++start;
        while (end > start && trims(piece.at(end - 1)))
            --end;
        if (end > start)
            tags.append(piece.mid(start, end - start));
    }
    return tags;
}

QString joinTags(const std::optional<QStringList>& tags)
{
    return tags ? tags->join(QStringLiteral(", ")) : QString();
}

QString formatEntryDate(const QString& insertedAt, const QLocale& locale, const QTimeZone& zone)
{
    // An internet date-time: full date, "T", full time, "Z" or an offset with
    // a colon; Qt's own ISO reader alone would also take dates without time.
    static const QRegularExpression form(QStringLiteral(
        "^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(\\.\\d+)?(Z|[+-]\\d{2}:\\d{2})$"));
    if (!form.match(insertedAt).hasMatch())
        return insertedAt;
    const QDateTime when = QDateTime::fromString(insertedAt, Qt::ISODateWithMs);
    if (!when.isValid())
        return insertedAt;
    // Qt has no medium date style; ICU, which Qt itself loads, has.
    UErrorCode status = U_ZERO_ERROR;
    const QByteArray localeName = locale.name().toLatin1();
    const QString zoneId = QString::fromLatin1(zone.id());
    UDateFormat* format = udat_open(UDAT_NONE, UDAT_MEDIUM, localeName.constData(),
                                    reinterpret_cast<const UChar*>(zoneId.utf16()), int32_t(zoneId.size()), nullptr, -1,
                                    &status);
    UChar text[128];
    const int32_t length = U_SUCCESS(status) ? udat_format(format, UDate(when.toMSecsSinceEpoch()), text, 128, nullptr, &status) : 0;
    udat_close(format);
    if (U_SUCCESS(status) && length > 0 && length <= 128)
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
    return locale.toString(when.toTimeZone(zone).date(), QLocale::ShortFormat);
}

QString trimmedNote(const QString& text)
{
    return text.trimmed();
}

QString quickNoteFailure(const Error& error)
{
    if (const APIError* api = asAPIError(error)) {
        switch (api->kind) {
        case APIError::Case::serverError:
            return QCoreApplication::translate("JournalText", "Server error (%1)").arg(api->status);
        case APIError::Case::networkError:
            return QCoreApplication::translate("JournalText", "Network error: %1")
                .arg(api->underlyingLocalized.isEmpty() ? api->underlyingText : api->underlyingLocalized);
        case APIError::Case::unauthorized:
            return QCoreApplication::translate("JournalText", "Not logged in");
        case APIError::Case::decodingError:
            return QCoreApplication::translate("JournalText", "Unexpected response");
        }
    }
    return QCoreApplication::translate("JournalText", "Failed: %1").arg(localizedDescription(error));
}

QString errorDescription(const Error& error)
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("JournalText", text); };
    if (const APIError* api = asAPIError(error)) {
        switch (api->kind) {
        case APIError::Case::serverError: {
            // The body is the service's own words: one line, and not a page of it.
            QString message = api->message.simplified();
            if (message.size() > 200)
                message = message.left(200) + QChar(0x2026);
            return message.isEmpty() ? tr("the study service answered %1").arg(api->status)
                                     : tr("the study service answered %1: %2").arg(api->status).arg(message);
        }
        case APIError::Case::networkError:
            return tr("the network failed: %1")
                .arg(api->underlyingLocalized.isEmpty() ? api->underlyingText : api->underlyingLocalized);
        case APIError::Case::unauthorized:
            return tr("you are not signed in");
        case APIError::Case::decodingError:
            return tr("the study service sent an answer that could not be read");
        }
    }
    if (const auto* transport = std::get_if<TransportError>(&error)) {
        switch (transport->kind()) {
        case TransportError::Kind::refused: return tr("could not connect to the server");
        case TransportError::Kind::hostNotFound: return tr("the server was not found");
        case TransportError::Kind::timedOut: return tr("the study service did not answer in time");
        case TransportError::Kind::connectionLost: return tr("the connection was lost");
        case TransportError::Kind::insecure: return tr("no secure connection could be made");
        case TransportError::Kind::offline: return tr("the computer is offline");
        case TransportError::Kind::tooLarge: return tr("the answer of the study service was too large");
        case TransportError::Kind::other: break;
        }
        return transport->description.isEmpty() ? tr("the request failed") : transport->description;
    }
    return tr("the study service sent an answer that could not be read");
}

} // namespace JournalText
