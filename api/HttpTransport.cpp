#include "api/HttpTransport.h"

#include "core/SecureZero.h"
#include "core/Timing.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QHostAddress>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <memory>

namespace HttpTransport {

namespace {

constexpr qint64 kMaxResponseBytes = 16 * 1024 * 1024;

QString tr(const char* text)
{
    return QCoreApplication::translate("APIClient", text);
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
    e.code = timedOut ? int(QNetworkReply::TimeoutError) : int(code);
    switch (timedOut ? QNetworkReply::TimeoutError : code) {
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
    default: e.description = qtText.isEmpty() ? tr("The request failed.") : qtText; break;
    }
    const char* name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(int(code));
    e.details = QStringLiteral("%1: %2; %3 %4")
                    .arg(QLatin1String(name ? name : "UnknownNetworkError"), qtText, method,
                         url.toString(QUrl::RemoveUserInfo));
    return e;
}

// A request body held for the reply's lifetime. The finished handler keeps it
// alive, and Qt destroys that handler only after the reply itself, so the
// device outlives every read from it; then the bytes are wiped.
class UploadBody {
public:
    explicit UploadBody(QByteArray bytes) : bytes_(std::move(bytes))
    {
        buffer_.setBuffer(&bytes_);
        buffer_.open(QIODevice::ReadOnly);
    }
    ~UploadBody()
    {
        buffer_.close();
        buffer_.setBuffer(nullptr);
        secureZero(bytes_);
    }
    UploadBody(const UploadBody&) = delete;
    UploadBody& operator=(const UploadBody&) = delete;
    QIODevice* device() { return &buffer_; }

private:
    QByteArray bytes_;
    QBuffer buffer_;
};

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

void send(const QString& path, const QString& method, const std::optional<QByteArray>& body,
          const std::optional<QString>& token, double timeoutSeconds, std::function<void(RawReply)> then)
{
    const QString problem = baseURLProblem();
    if (!problem.isEmpty()) {
        then(RawReply{refusedBaseURL(problem), std::nullopt, {}});
        return;
    }
    const QUrl url(baseURL() + path);
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
    if (token) {
        QByteArray tokenBytes = token->toUtf8();
        QByteArray header = "Bearer " + tokenBytes;
        secureZero(tokenBytes);
        request.setRawHeader("Authorization", header);
        secureZero(header); // shared with the request now: only released
    }
    request.setTransferTimeout(int(Timing::interval(timeoutSeconds).count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);

    const QByteArray verb = method.toLatin1();
    // The body (the password, for a sign-in) is read from a buffer we own
    // rather than handed to Qt as a shared copy, so it can be wiped once the
    // reply is gone; see UploadBody.
    std::shared_ptr<UploadBody> upload = body ? std::make_shared<UploadBody>(*body) : nullptr;
    QNetworkReply* reply = manager()->sendCustomRequest(request, verb, upload ? upload->device() : nullptr);

    // Set when we abort the reply ourselves, to tell that apart from Qt
    // cancelling it on the transfer time-out.
    auto tooLarge = std::make_shared<bool>(false);
    auto checkSize = [reply, tooLarge](qint64 size) {
        if (size > kMaxResponseBytes && !*tooLarge) {
            *tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, checkSize] {
        checkSize(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [checkSize](qint64 received, qint64 total) { checkSize(std::max(received, total)); });

    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, tooLarge, method, url, upload, then = std::move(then)] {
        reply->deleteLater();
        if (*tooLarge) {
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
        if (error != QNetworkReply::NoError && !(status.isValid() && isHTTPLevelError(error)) && !plainRedirectStatus) {
            // We only abort for size, so a cancel here is the transfer time-out.
            const bool timedOut = error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError;
            then(RawReply{transportError(error, reply->errorString(), timedOut, method, url), std::nullopt, {}});
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
