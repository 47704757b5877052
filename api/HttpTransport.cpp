#include "api/HttpTransport.h"

#include "core/SecureZero.h"
#include "core/Timing.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <memory>

namespace HttpTransport {

namespace {

constexpr qint64 kMaxResponseBytes = 16 * 1024 * 1024;

// The context lupdate gives the texts of this file: the namespace's name.
QString tr(const char* text)
{
    return QCoreApplication::translate("HttpTransport", text);
}

QNetworkAccessManager* manager()
{
    static QPointer<QNetworkAccessManager> instance;
    if (!instance) {
        instance = new QNetworkAccessManager(QCoreApplication::instance());
        // The token and the password must never follow a redirect to another host.
        instance->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    }
    return instance;
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool isHTTPLevelError(QNetworkReply::NetworkError error)
{
    // The codes Qt derives from an HTTP status; the status itself tells more.
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
           || error == QNetworkReply::ProtocolInvalidOperationError
           || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

TransportError transportError(QNetworkReply::NetworkError code, const QString& qtText, bool timedOut,
                              const QString& method, const QUrl& url)
{
    TransportError e;
    QString said = qtText;
    if (code == QNetworkReply::ContentReSendError) {
        // Qt wanted to send the request again on a new connection; for a
        // request that must go out at most once that is a lost connection.
        said = QStringLiteral("the connection was lost before the answer; not sent again, the service may have applied it");
    }
    e.code = timedOut ? int(QNetworkReply::TimeoutError)
             : code == QNetworkReply::ContentReSendError ? int(QNetworkReply::RemoteHostClosedError) : int(code);
    switch (QNetworkReply::NetworkError(e.code)) {
    case QNetworkReply::TimeoutError: e.description = tr("The request timed out."); break;
    case QNetworkReply::ConnectionRefusedError: e.description = tr("Could not connect to the server."); break;
    case QNetworkReply::RemoteHostClosedError: e.description = tr("The network connection was lost."); break;
    case QNetworkReply::HostNotFoundError:
        e.description = tr("A server with the specified hostname could not be found.");
        break;
    case QNetworkReply::SslHandshakeFailedError:
        e.description = tr("A TLS error has occurred and a secure connection to the server cannot be made.");
        break;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        e.description = tr("The network connection appears to be offline.");
        break;
    case QNetworkReply::InsecureRedirectError:
        e.description = tr("The server redirected the request to another address, which is not followed.");
        break;
    case QNetworkReply::TooManyRedirectsError: e.description = tr("The server redirected the request too many times."); break;
    case QNetworkReply::OperationCanceledError: e.description = tr("The request was cancelled."); break;
    default: e.description = said.isEmpty() ? tr("The request failed.") : said; break;
    }
    const char* name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(int(code));
    e.details = QStringLiteral("%1: %2; %3 %4")
                    .arg(QLatin1String(name ? name : "UnknownNetworkError"), said, method,
                         url.toString(QUrl::RemoveUserInfo));
    return e;
}

// Hands its bytes out once, front to back, and cannot go back: what Qt reads
// from it cannot be sent a second time.
class OneShotDevice : public QIODevice {
public:
    explicit OneShotDevice(const QByteArray& bytes) : bytes_(bytes)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return bytes_.size() - read_ + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (read_ >= bytes_.size())
            return -1; // the end: a sequential device has no size to compare with
        const qint64 n = std::min(maxSize, qint64(bytes_.size()) - read_);
        std::memcpy(data, bytes_.constData() + read_, size_t(n));
        read_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const QByteArray& bytes_;
    qint64 read_ = 0;
};

// A request body held for the reply's lifetime. The finished handler keeps it
// alive, and Qt destroys that handler only after the reply itself, so the
// device outlives every read from it; then the bytes are wiped. A body that
// may be resent is read from a buffer Qt reads in place (no copies of a
// password); one that must go out at most once from a OneShotDevice.
class UploadBody {
public:
    UploadBody(QByteArray bytes, bool once) : bytes_(std::move(bytes))
    {
        if (once) {
            device_ = std::make_unique<OneShotDevice>(bytes_);
            return;
        }
        auto buffer = std::make_unique<QBuffer>();
        buffer->setBuffer(&bytes_);
        buffer->open(QIODevice::ReadOnly);
        device_ = std::move(buffer);
    }
    ~UploadBody()
    {
        device_.reset();
        secureZero(bytes_);
    }
    UploadBody(const UploadBody&) = delete;
    UploadBody& operator=(const UploadBody&) = delete;
    QIODevice* device() { return device_.get(); }

private:
    QByteArray bytes_;
    std::unique_ptr<QIODevice> device_;
};

// What the handlers of one reply share: why we ended it, if we did.
struct Exchange {
    bool tooLarge = false;
    bool timedOut = false;
    QPointer<QTimer> deadline;
};

// Ends the reply once `seconds` (scaled) have passed. A precise timer,
// checked against a deadline on firing, so it never ends a reply early.
void limitTo(double seconds, QNetworkReply* reply, const std::shared_ptr<Exchange>& state)
{
    const QDeadlineTimer deadline(Timing::deadlineInterval(seconds), Qt::PreciseTimer);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, reply, [timer, deadline, reply, state] {
        if (!deadline.hasExpired()) {
            timer->start(std::chrono::milliseconds(deadline.remainingTime() + 1));
            return;
        }
        state->timedOut = true;
        reply->abort();
    });
    state->deadline = timer;
    timer->start(Timing::deadlineInterval(seconds));
}

} // namespace

QString baseURL()
{
    QString url = qEnvironmentVariable("TAVLO_API_BASE_URL");
    if (url.isEmpty())
        url = QStringLiteral(TAVLO_API_BASE_URL);
    while (url.endsWith(u'/'))
        url.chop(1);
    return url;
}

QString baseURLProblem()
{
    const QString base = baseURL();
    const QUrl url(base, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return tr("\"%1\" is not a valid URL.").arg(base);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return {};
    if (scheme == QLatin1String("http")) {
        if (isLoopbackHost(url.host()))
            return {};
        return tr("\"%1\" uses plain http to a host other than this computer; only https is allowed there.").arg(base);
    }
    return tr("\"%1\" is neither an https nor a loopback http URL.").arg(base);
}

std::optional<QString> decodeUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

APIError notAnHTTPResponse()
{
    return APIError::networkError(QStringLiteral("Error Domain=HTTP Code=-1 \"(null)\""),
                                  tr("The operation couldn't be completed. (HTTP error -1.)"));
}

TransportError refusedBaseURL(const QString& problem)
{
    TransportError e;
    e.domain = QStringLiteral("TavloAPI");
    e.code = TransportError::refusedBaseURL;
    e.description = tr("The service address is not allowed: %1").arg(problem);
    e.details = QStringLiteral("base URL %1").arg(baseURL());
    return e;
}

void send(const Request& r, std::function<void(RawReply)> then)
{
    const QString problem = baseURLProblem();
    if (!problem.isEmpty()) {
        then(RawReply{refusedBaseURL(problem), std::nullopt, {}});
        return;
    }
    const QUrl url(baseURL() + r.path);
    if (!url.isValid()) {
        TransportError e;
        e.domain = QStringLiteral("TavloAPI");
        e.code = TransportError::notSent;
        e.description = tr("The request address is not valid.");
        e.details = url.errorString();
        then(RawReply{e, std::nullopt, {}});
        return;
    }

    QNetworkRequest request(url);
    request.setRawHeader("Content-Type", "application/json");
    if (r.token) {
        QByteArray tokenBytes = r.token->toUtf8();
        QByteArray header = "Bearer " + tokenBytes;
        secureZero(tokenBytes);
        request.setRawHeader("Authorization", header);
        secureZero(header); // shared with the request now: only released
    }
    const bool once = !r.idempotencyKey.isEmpty();
    if (once)
        request.setRawHeader("Idempotency-Key", r.idempotencyKey.toLatin1());
    // Qt would repeat a POST, PUT or DELETE at the new address as a GET.
    const bool follows = r.method == QLatin1String("GET") || r.method == QLatin1String("HEAD");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         follows ? QNetworkRequest::SameOriginRedirectPolicy : QNetworkRequest::ManualRedirectPolicy);

    const QByteArray verb = r.method.toLatin1();
    std::shared_ptr<UploadBody> upload = r.body ? std::make_shared<UploadBody>(*r.body, once) : nullptr;
    if (upload && once) {
        // With a length and no buffering allowed, Qt streams the body once;
        // its own resend after a lost kept-alive connection then fails with
        // ContentReSendError instead of applying the request a second time.
        request.setHeader(QNetworkRequest::ContentLengthHeader, qint64(r.body->size()));
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    }
    QNetworkReply* reply = manager()->sendCustomRequest(request, verb, upload ? upload->device() : nullptr);

    auto state = std::make_shared<Exchange>();
    limitTo(r.timeoutSeconds, reply, state);
    auto checkSize = [reply, state](qint64 size) {
        if (size > kMaxResponseBytes && !state->tooLarge) {
            state->tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, checkSize] {
        checkSize(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [checkSize](qint64 received, qint64 total) { checkSize(std::max(received, total)); });

    const QString method = r.method;
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, state, method, url, upload, then = std::move(then)] {
        reply->deleteLater();
        if (state->deadline)
            state->deadline->stop();
        if (state->tooLarge) {
            TransportError e;
            e.domain = QStringLiteral("TavloAPI");
            e.code = TransportError::responseTooLarge;
            e.description = tr("The response from the server is larger than 16 MiB and was not read.");
            e.details = QStringLiteral("%1 %2").arg(method, url.toString(QUrl::RemoveUserInfo));
            then(RawReply{e, std::nullopt, {}});
            return;
        }
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = reply->error();
        // A 3xx without a target is an answer in its own right, not a redirect gone wrong.
        const bool plainRedirectStatus = status.isValid() && status.toInt() >= 300 && status.toInt() <= 399
                                         && !reply->hasRawHeader("Location");
        if (state->timedOut
            || (error != QNetworkReply::NoError && !(status.isValid() && isHTTPLevelError(error)) && !plainRedirectStatus)) {
            then(RawReply{transportError(error, reply->errorString(), state->timedOut, method, url), std::nullopt, {}});
            return;
        }
        if (!status.isValid()) {
            then(RawReply{std::nullopt, std::nullopt, {}});
            return;
        }
        then(RawReply{std::nullopt, status.toInt(), reply->readAll()});
    });
}

} // namespace HttpTransport
