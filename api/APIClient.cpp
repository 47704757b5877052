#include "api/APIClient.h"

#include "api/Delivery.h"
#include "api/HttpTransport.h"
#include "api/JsonDecoding.h"
#include "api/KeychainService.h"
#include "core/Log.h"
#include "core/SecureZero.h"
#include "core/Timing.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QUuid>

#include <memory>

namespace APIClient {

namespace {

constexpr double kDefaultTimeout = Timing::requestTimeout;

QObject* mainObject()
{
    return QCoreApplication::instance();
}

// Everything of the client runs on the main thread; a call from elsewhere is
// moved there first.
void onMain(std::function<void()> work)
{
    QObject* app = mainObject();
    if (QThread::currentThread() == app->thread())
        work();
    else
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

// The keyring calls block (bounded, but up to a few seconds with a hung
// daemon), so they run on one worker thread, in the order they were asked
// for, and their results come back to the main thread.
QThreadPool* keyringWorker()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(mainObject());
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
    }
    return pool;
}

template <class T>
void withKeyring(std::function<T()> work, std::function<void(T)> then)
{
    keyringWorker()->start([work = std::move(work), then = std::move(then)]() mutable {
        T value = work();
        QMetaObject::invokeMethod(
            mainObject(), [then = std::move(then), value = std::move(value)]() mutable { then(std::move(value)); },
            Qt::QueuedConnection);
    });
}

// A reply that never got an HTTP status (transport failure, or not HTTP at
// all) ends the operation the same way for login and for requests: hands the
// error to the sink and says so.
template <class T>
bool handOnUnanswered(const HttpTransport::RawReply& reply, Delivery<T>& sink)
{
    if (reply.transport) {
        sink(*reply.transport);
        return true;
    }
    if (!reply.status) {
        sink(HttpTransport::notAnHTTPResponse());
        return true;
    }
    return false;
}

void loginFrom(std::uint64_t startGeneration, const QString& email, const QString& password, DeliveryPtr<void> sink)
{
    QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("email"), email},
                                                      {QStringLiteral("password"), password}})
                                .toJson(QJsonDocument::Compact);
    const QString path = QStringLiteral("/auth/login");
    if (const QString problem = baseURLProblem(); !problem.isEmpty()) {
        (*sink)(HttpTransport::refusedBaseURL(problem));
        return;
    }
    log(QStringLiteral("Login request to ") + baseURL() + path);
    // send() keeps its own copy of the body and wipes it when done; ours goes
    // once it is the only one left, i.e. if send() refused the request.
    struct WipeOnExit {
        QByteArray& bytes;
        ~WipeOnExit() { secureZero(bytes); }
    } wipeBody{body};
    // Not keyed: a second sign-in changes nothing stored, and the answer (a
    // token) is not something the service should keep.
    HttpTransport::send({path, QStringLiteral("POST"), body, std::nullopt, {}, kDefaultTimeout},
         [startGeneration, email, password, sink](HttpTransport::RawReply reply) {
             if (handOnUnanswered(reply, *sink))
                 return;
             if (*reply.status != 200) {
                 (*sink)(APIError::serverError(*reply.status, QStringLiteral("Login failed")));
                 return;
             }
             Result<QJsonValue> parsed = JsonDecoding::parse(reply.body);
             if (!parsed) {
                 (*sink)(parsed.error());
                 return;
             }
             const QJsonValue token = parsed.value()[QLatin1String("data")][QLatin1String("access_token")];
             if (!parsed.value().isObject() || !parsed.value()[QLatin1String("data")].isObject() || !token.isString()) {
                 (*sink)(APIError::decodingError());
                 return;
             }
             withKeyring<bool>(
                 [=] { return KeychainService::saveLoginIfCurrent(startGeneration, email, password, token.toString()); },
                 [sink](bool stored) {
                     // Not stored: the account was cleared (switched) while this
                     // sign-in was under way, so it no longer speaks for anyone.
                     if (stored)
                         (*sink)(Result<void>());
                     else
                         (*sink)(APIError::unauthorized());
                 });
         });
}

struct RequestParams {
    QString path;
    QString method;
    std::optional<QByteArray> body;
    bool isRetry = false;
    double timeout = kDefaultTimeout;
    QString idempotencyKey; // the same on the repeat after a re-login
};

void request(RequestParams params, DeliveryPtr<QByteArray> sink);

// Signs in again with the stored credentials, then repeats the request once.
void reloginAndRepeat(RequestParams params, std::uint64_t startGeneration, DeliveryPtr<QByteArray> sink)
{
    withKeyring<std::optional<Credentials>>(
        [] { return KeychainService::getCredentials(); },
        [params, startGeneration, sink](std::optional<Credentials> credentials) {
            if (!credentials) {
                (*sink)(APIError::unauthorized());
                return;
            }
            auto loggedIn = std::make_shared<Delivery<void>>(nullptr, [params, sink](Result<void> result) {
                if (!result) {
                    (*sink)(result.error());
                    return;
                }
                RequestParams repeat = params;
                repeat.isRetry = true;
                request(repeat, sink);
            });
            loginFrom(startGeneration, credentials->email, credentials->password, loggedIn);
        });
}

void request(RequestParams params, DeliveryPtr<QByteArray> sink)
{
    // Taken before anything is read: a clearAll() from here on means the
    // stored account changed, and a re-login for the old one must not store.
    const std::uint64_t startGeneration = KeychainService::generation();
    withKeyring<std::optional<QString>>(
        [] { return KeychainService::getAccessToken(); },
        [params, startGeneration, sink](std::optional<QString> token) {
            if (!token) {
                if (params.isRetry)
                    (*sink)(APIError::unauthorized());
                else
                    reloginAndRepeat(params, startGeneration, sink);
                return;
            }
            HttpTransport::send({params.path, params.method, params.body, token, params.idempotencyKey, params.timeout},
                 [params, startGeneration, sink](HttpTransport::RawReply reply) {
                     if (handOnUnanswered(reply, *sink))
                         return;
                     const int status = *reply.status;
                     if (status == 401 && !params.isRetry) {
                         reloginAndRepeat(params, startGeneration, sink);
                         return;
                     }
                     if (status >= 200 && status <= 299) {
                         (*sink)(reply.body);
                         return;
                     }
                     (*sink)(APIError::serverError(status, HttpTransport::decodeUtf8(reply.body).value_or(QStringLiteral("Unknown error"))));
                 });
        });
}

} // namespace

QString baseURL()
{
    return HttpTransport::baseURL();
}

QString baseURLProblem()
{
    return HttpTransport::baseURLProblem();
}

QString newIdempotencyKey()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString authenticatedRequest(const QString& path, const QString& method, std::optional<QByteArray> body, bool isRetry,
                             double timeoutSeconds, QObject* context, Callback<QByteArray> done, QString idempotencyKey)
{
    auto sink = makeDelivery<QByteArray>(context, std::move(done));
    if (method != QLatin1String("POST"))
        idempotencyKey.clear();
    else if (idempotencyKey.isEmpty())
        idempotencyKey = newIdempotencyKey();
    RequestParams params{path, method, std::move(body), isRetry, timeoutSeconds, idempotencyKey};
    onMain([params = std::move(params), sink] { request(params, sink); });
    return idempotencyKey;
}

void authenticatedRequest(const QString& path, QObject* context, Callback<QByteArray> done)
{
    authenticatedRequest(path, QStringLiteral("GET"), std::nullopt, false, kDefaultTimeout, context, std::move(done));
}

void login(const QString& email, const QString& password, QObject* context, Callback<void> done)
{
    auto sink = makeDelivery<void>(context, std::move(done));
    const std::uint64_t startGeneration = KeychainService::generation();
    onMain([=] { loginFrom(startGeneration, email, password, sink); });
}

} // namespace APIClient
