#include "service/CardExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace study {

namespace {

QByteArray csvField(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Unquoted fields are read trimmed, so spaces at either end need quotes too.
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
                       || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\t'))
                       || (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text.toUtf8();
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return '"' + text.toUtf8() + '"';
}

} // namespace

QByteArray writeCsv(const QList<ExportedCard>& cards)
{
    QByteArray out = "front,back,notes,tags,deck\r\n";
    for (const ExportedCard& c : cards) {
        out += csvField(c.front) + ',' + csvField(c.back) + ',' + csvField(c.notes) + ','
               + csvField(c.tags.join(QLatin1Char(' '))) + ',' + csvField(c.deck) + "\r\n";
    }
    return out;
}

QByteArray writeJson(const QList<ExportedCard>& cards)
{
    QJsonArray list;
    for (const ExportedCard& c : cards) {
        list.append(QJsonObject{{QStringLiteral("front"), c.front},
                                {QStringLiteral("back"), c.back},
                                {QStringLiteral("notes"), c.notes},
                                {QStringLiteral("tags"), QJsonArray::fromStringList(c.tags)},
                                {QStringLiteral("deck"), c.deck}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("cards"), list}}).toJson(QJsonDocument::Indented);
}

} // namespace study
