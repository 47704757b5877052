#include "api/JournalService.h"

#include "api/APIClient.h"
#include "core/Timing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace JournalService {

namespace {

// Quick notes and normalizing wait on the backend's text work.
constexpr double kTimeout = Timing::requestTimeout;
constexpr double kSlowTimeout = Timing::slowRequestTimeout;

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray entryBody(const QString& title, const QString& content, const QStringList& tags)
{
    return compact(QJsonObject{{QStringLiteral("entry"),
                                QJsonObject{{QStringLiteral("title"), title},
                                            {QStringLiteral("content"), content},
                                            {QStringLiteral("tags"), QJsonArray::fromStringList(tags)}}}});
}

QString entryPath(std::int64_t id)
{
    return QStringLiteral("/journal/") + QString::number(id);
}

// One request whose body decodes with `decoder`; the value under "data" goes to `done`.
template <class T, class Envelope>
void call(const QString& path, const QString& method, std::optional<QByteArray> body, double timeout,
          Result<Envelope> (*decoder)(const QByteArray&), QObject* context, Callback<T> done)
{
    APIClient::authenticatedRequest(path, method, std::move(body), false, timeout, context,
                                    [decoder, done = std::move(done)](Result<QByteArray> result) {
                                        if (!result) {
                                            done(result.error());
                                            return;
                                        }
                                        Result<Envelope> decoded = decoder(result.value());
                                        if (!decoded) {
                                            done(decoded.error());
                                            return;
                                        }
                                        done(std::move(decoded).value().data);
                                    });
}

} // namespace

void listEntries(QObject* context, Callback<QList<JournalEntryData>> done)
{
    call<QList<JournalEntryData>, JournalListResponse>(QStringLiteral("/journal"), QStringLiteral("GET"), std::nullopt,
                                                       kTimeout, &decodeJournalListResponse, context, std::move(done));
}

void createEntry(const QString& title, const QString& content, const QStringList& tags, QObject* context,
                 Callback<JournalEntryData> done)
{
    call<JournalEntryData, JournalEntryResponse>(QStringLiteral("/journal"), QStringLiteral("POST"),
                                                 entryBody(title, content, tags), kTimeout, &decodeJournalEntryResponse,
                                                 context, std::move(done));
}

void updateEntry(std::int64_t id, const QString& title, const QString& content, const QStringList& tags,
                 QObject* context, Callback<JournalEntryData> done)
{
    call<JournalEntryData, JournalEntryResponse>(entryPath(id), QStringLiteral("PUT"), entryBody(title, content, tags),
                                                 kTimeout, &decodeJournalEntryResponse, context, std::move(done));
}

void deleteEntry(std::int64_t id, QObject* context, Callback<void> done)
{
    APIClient::authenticatedRequest(entryPath(id), QStringLiteral("DELETE"), std::nullopt, false, kTimeout, context,
                                    [done = std::move(done)](Result<QByteArray> result) {
                                        if (!result)
                                            done(result.error());
                                        else
                                            done(Result<void>());
                                    });
}

void createQuickNote(const QString& text, QObject* context, Callback<JournalEntryData> done)
{
    call<JournalEntryData, JournalEntryResponse>(QStringLiteral("/journal/quick-note"), QStringLiteral("POST"),
                                                 compact(QJsonObject{{QStringLiteral("text"), text}}), kSlowTimeout,
                                                 &decodeJournalEntryResponse, context, std::move(done));
}

void normalizeText(const QString& text, QObject* context, Callback<NormalizeResult> done)
{
    call<NormalizeResult, NormalizeResponse>(QStringLiteral("/journal/normalize"), QStringLiteral("POST"),
                                             compact(QJsonObject{{QStringLiteral("text"), text}}), kSlowTimeout,
                                             &decodeNormalizeResponse, context, std::move(done));
}

} // namespace JournalService
