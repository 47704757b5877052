#include "service/Wire.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTime>

#include <cmath>
#include <cstdio>

namespace study {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return {};
    }
}

} // namespace

QByteArray Incoming::header(const QByteArray& lowerName) const
{
    for (const auto& h : headers)
        if (h.first == lowerName)
            return h.second;
    return {};
}

Incoming readIncoming(const QHttpServerRequest& request)
{
    Incoming in;
    const QMetaEnum methods = QMetaEnum::fromType<QHttpServerRequest::Method>();
    in.method = QString::fromLatin1(methods.valueToKey(int(request.method()))).toUpper();
    if (in.method.isEmpty())
        in.method = QStringLiteral("UNKNOWN");
    const QUrl url = request.url();
    in.path = url.path();
    in.target = url.path(QUrl::FullyEncoded);
    if (url.hasQuery())
        in.target += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    in.query = request.query();
    for (const auto& h : request.headers()) {
        const QByteArray name = h.first.toLower();
        bool merged = false;
        for (auto& existing : in.headers) {
            if (existing.first == name) {
                existing.second += ", " + h.second;
                merged = true;
            }
        }
        if (!merged)
            in.headers.append({name, h.second});
    }
    in.body = request.body();
    in.peer = request.remoteAddress();

    return in;
}

void writeReply(QHttpServerResponder& responder, const Reply& reply, const Incoming& in, bool quiet)
{
    if (!quiet && !in.method.isEmpty())
        std::fprintf(stderr, "%s %s %s -> %d\n", qPrintable(QTime::currentTime().toString(Qt::ISODateWithMs)),
                     qPrintable(in.method), qPrintable(in.target), reply.status);
    QTcpSocket* socket = responder.socket();
    // The status line is written by hand so that any status a fault asks for
    // (even one without a reason phrase in Qt's table) goes out as given.
    socket->write("HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status)
                  + "\r\n");
    const bool bodiless = reply.status == 204 || reply.status == 304;
    if (!bodiless)
        responder.writeHeader("Content-Type", reply.contentType);
    for (const auto& h : reply.headers)
        responder.writeHeader(h.first, h.second);
    if (!bodiless)
        responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    // A HEAD answer announces the body but must not carry it.
    responder.writeBody(bodiless || in.method == QLatin1String("HEAD") ? QByteArray() : reply.body);
}

Reply json(int status, const QJsonValue& data)
{
    Reply r;
    r.status = status;
    r.body = QJsonDocument(QJsonObject{{"data", data}}).toJson(QJsonDocument::Compact);
    return r;
}

Reply error(int status, const QString& message)
{
    Reply r;
    r.status = status;
    r.body = QJsonDocument(QJsonObject{{"error", QJsonObject{{"status", status}, {"message", message}}}})
                 .toJson(QJsonDocument::Compact);
    return r;
}

Reply methodNotAllowed(const QByteArray& allow)
{
    Reply r = error(405, QStringLiteral("method not allowed; use ") + QString::fromLatin1(allow));
    r.headers.append({"Allow", allow});
    return r;
}

std::optional<QJsonObject> objectBody(const Incoming& in, Reply* bad)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(in.body, &err);
    if (err.error != QJsonParseError::NoError) {
        *bad = error(400, QStringLiteral("request body is not valid JSON: ") + err.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *bad = error(400, QStringLiteral("request body must be a JSON object"));
        return std::nullopt;
    }
    return doc.object();
}

bool isInteger(const QJsonValue& v)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    return std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9007199254740992.0;
}

std::optional<QString> stringField(const QJsonObject& o, const QString& key, bool required,
                                   Reply* bad, bool* present)
{
    const QJsonValue v = o.value(key);
    if (present)
        *present = !v.isUndefined();
    if (v.isUndefined() || (v.isNull() && !required)) {
        if (required)
            *bad = error(400, QStringLiteral("missing field \"%1\"").arg(key));
        return std::nullopt;
    }
    if (!v.isString()) {
        *bad = error(400, QStringLiteral("field \"%1\" must be a string").arg(key));
        return std::nullopt;
    }
    return v.toString();
}

std::optional<QStringList> tagsField(const QJsonObject& o, Reply* bad, bool* ok)
{
    *ok = true;
    const QJsonValue v = o.value("tags");
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    if (!v.isArray()) {
        *ok = false;
        *bad = error(400, QStringLiteral("field \"tags\" must be an array of strings"));
        return std::nullopt;
    }
    QStringList tags;
    for (const QJsonValue& t : v.toArray()) {
        if (!t.isString()) {
            *ok = false;
            *bad = error(400, QStringLiteral("field \"tags\" must be an array of strings"));
            return std::nullopt;
        }
        tags.append(t.toString());
    }
    return tags;
}

} // namespace study
