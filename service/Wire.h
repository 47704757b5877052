// The study service's side of one HTTP exchange: the request as the handlers
// see it, the answer they give, the JSON error bodies and field checks every
// handler shares, and the writing of an answer to the socket.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

#include <optional>

class QHttpServerRequest;
class QHttpServerResponder;

namespace study {

struct Incoming {
    QString method;       // "GET", "POST", ...
    QString path;         // decoded path, e.g. "/api/journal/3"
    QString target;       // path and query as sent, e.g. "/api/trouble-cards?limit=10"
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers;  // names in lower case
    QByteArray body;
    QHostAddress peer;

    QByteArray header(const QByteArray& lowerName) const;
};

struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;
};

// Copies what the handlers need out of Qt's request: a delayed answer
// outlives the request object's turn.
Incoming readIncoming(const QHttpServerRequest& request);
// Writes the answer; logs one line to stderr unless `quiet`.
void writeReply(QHttpServerResponder& responder, const Reply& reply, const Incoming& in, bool quiet);

// {"data": ...} with the status.
Reply json(int status, const QJsonValue& data);
// {"error": {"status", "message"}} with the status.
Reply error(int status, const QString& message);
Reply methodNotAllowed(const QByteArray& allow);

// A request body that must be a JSON object; on failure fills `bad`.
std::optional<QJsonObject> objectBody(const Incoming& in, Reply* bad);
bool isInteger(const QJsonValue& v);
// A JSON string field; `required` distinguishes "absent" from "wrong type".
std::optional<QString> stringField(const QJsonObject& o, const QString& key, bool required, Reply* bad,
                                   bool* present = nullptr);
std::optional<QStringList> tagsField(const QJsonObject& o, Reply* bad, bool* ok);

} // namespace study
