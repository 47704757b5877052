// The HTTP face of the study service: the /api contract the agent talks to,
// plus the /control endpoints tests use to inject faults and inspect traffic.
//
// Built on QAbstractHttpServer rather than QHttpServer's router because every
// /api request must first be recorded and checked against the fault queue, and
// some faults need the raw socket (closing it unanswered, answering later).
#pragma once

#include "service/StudyStore.h"

#include <QAbstractHttpServer>
#include <QDeadlineTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QList>
#include <QUrlQuery>
#include <functional>
#include <memory>

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

struct Fault {
    QString mode;
    int count = 1;
    QString path;
    int status = 0;       // 0: the mode's default
    std::optional<QString> body;
    int delayMs = 0;
    qint64 bytes = 20 * 1024 * 1024;
    QByteArray contentType = "application/json";
};

class StudyServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    struct Options {
        double tokenTtlSeconds = 86400;
        bool quiet = false;
        qint64 maxBodyBytes = 1024 * 1024;
        // Called after every change to the store; false means it could not be kept.
        std::function<bool(const StudyStore&)> persist;
    };

    StudyServer(StudyStore* store, Options options, QObject* parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Session {
        QString email;
        QDeadlineTimer expiry;
    };

    Reply handleApi(const Incoming& in);
    Reply handleControl(const Incoming& in);
    Reply faultReply(const Fault& fault) const;
    std::optional<Fault> takeFault(const QString& target);

    Reply login(const Incoming& in);
    Reply troubleCards(const QString& who, const Incoming& in);
    Reply postReview(const QString& who, const Incoming& in);
    Reply listJournal(const QString& who);
    Reply createEntry(const QString& who, const Incoming& in);
    Reply getEntry(const QString& who, qint64 id);
    Reply updateEntry(const QString& who, qint64 id, const Incoming& in);
    Reply deleteEntry(const QString& who, qint64 id);
    Reply quickNote(const QString& who, const Incoming& in);
    Reply normalize(const Incoming& in);

    Reply queueFault(const Incoming& in);
    QJsonObject stateJson() const;

    std::optional<QString> sessionEmail(const Incoming& in);
    QString issueToken(const QString& email);
    bool saved();

    void send(QHttpServerResponder& responder, const Reply& reply, const Incoming& in);

    StudyStore* store_;
    Options options_;
    QHash<QString, Session> sessions_;
    QList<Fault> faults_;
    QJsonArray requests_;
};

} // namespace study
