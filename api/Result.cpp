#include "api/Result.h"

#include <QCoreApplication>
#include <QNetworkReply>

APIError APIError::serverError(int status, QString message)
{
    APIError e;
    e.kind = Case::serverError;
    e.status = status;
    e.message = std::move(message);
    return e;
}

APIError APIError::networkError(QString underlyingText, QString underlyingLocalized)
{
    APIError e;
    e.kind = Case::networkError;
    e.underlyingText = std::move(underlyingText);
    e.underlyingLocalized = std::move(underlyingLocalized);
    return e;
}

APIError APIError::unauthorized()
{
    return APIError{};
}

APIError APIError::decodingError()
{
    APIError e;
    e.kind = Case::decodingError;
    return e;
}

QString APIError::textForm() const
{
    switch (kind) {
    case Case::serverError:
        return QStringLiteral("serverError(%1, \"%2\")").arg(status).arg(message);
    case Case::networkError:
        return QStringLiteral("networkError(%1)").arg(underlyingText);
    case Case::unauthorized:
        return QStringLiteral("unauthorized");
    case Case::decodingError:
        return QStringLiteral("decodingError");
    }
    return {};
}

bool APIError::isRefusedLogin() const
{
    return kind == Case::unauthorized || (kind == Case::serverError && status == 401);
}

QString TransportError::textForm() const
{
    QString text = QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(domain).arg(code).arg(description);
    if (!details.isEmpty())
        text += QStringLiteral(" (%1)").arg(details);
    return text;
}

TransportError::Kind TransportError::kind() const
{
    if (domain != QLatin1String("QNetworkReply"))
        return code == responseTooLarge ? Kind::tooLarge : Kind::other;
    switch (code) {
    case QNetworkReply::ConnectionRefusedError: return Kind::refused;
    case QNetworkReply::HostNotFoundError: return Kind::hostNotFound;
    case QNetworkReply::TimeoutError: return Kind::timedOut;
    case QNetworkReply::RemoteHostClosedError: return Kind::connectionLost;
    case QNetworkReply::SslHandshakeFailedError: return Kind::insecure;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError: return Kind::offline;
    default: return Kind::other;
    }
}

QString DecodeError::textForm() const
{
    return QStringLiteral("DecodeError(\"%1\")").arg(description);
}

QString textForm(const Error& error)
{
    return std::visit([](const auto& e) { return e.textForm(); }, error);
}

QString localizedDescription(const Error& error)
{
    if (const auto* api = std::get_if<APIError>(&error)) {
        switch (api->kind) {
        case APIError::Case::serverError:
            return QCoreApplication::translate("APIError", "Server error (%1): %2").arg(api->status).arg(api->message);
        case APIError::Case::networkError:
            return api->underlyingLocalized;
        case APIError::Case::unauthorized:
            return QCoreApplication::translate("APIError", "Not signed in.");
        case APIError::Case::decodingError:
            return QCoreApplication::translate("APIError", "Unexpected response from server.");
        }
    }
    if (const auto* transport = std::get_if<TransportError>(&error))
        return transport->description;
    return std::get<DecodeError>(error).description;
}
