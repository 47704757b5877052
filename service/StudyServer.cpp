#include "service/StudyServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpSocket>
#include <QTime>
#include <QTimer>

#include <cstdio>

namespace study {

StudyServer::StudyServer(StudyStore* store, Options options, QObject* parent)
    : QAbstractHttpServer(parent), quiet_(options.quiet), testControl_(options.testControl),
      api_(store, std::move(options)), control_(&api_)
{
}

void StudyServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // handleRequest answers everything; this only runs if that ever changes.
    QHttpServerResponder responder = makeResponder(request, socket);
    writeReply(responder, error(404, QStringLiteral("not found")), Incoming{}, quiet_);
}

bool StudyServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const Incoming in = readIncoming(request);
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));

    // Without the test control there is no /control at all, and nothing is recorded.
    if (testControl_ && (in.path == QLatin1String("/control") || in.path.startsWith(QLatin1String("/control/")))) {
        writeReply(*responder, control_.handle(in, api_.options().maxBodyBytes), in, quiet_);
        return true;
    }
    if (in.path != QLatin1String("/api") && !in.path.startsWith(QLatin1String("/api/"))) {
        writeReply(*responder, error(404, QStringLiteral("not found; the service lives under /api")), in, quiet_);
        return true;
    }

    if (testControl_)
        control_.record(in, api_.options().maxBodyBytes);

    const std::optional<Fault> fault = testControl_ ? control_.takeFault(in.target) : std::nullopt;
    if (!fault) {
        writeReply(*responder, api_.handle(in), in, quiet_);
        return true;
    }
    if (fault->mode == QLatin1String("drop")) {
        if (!quiet_)
            std::fprintf(stderr, "%s %s %s -> dropped (fault)\n",
                         qPrintable(QTime::currentTime().toString(Qt::ISODateWithMs)), qPrintable(in.method),
                         qPrintable(in.target));
        // Close once the server is done with this request; closing from inside
        // the handler would pull the socket away under it.
        QTimer::singleShot(0, socket, [socket] { socket->abort(); });
        return true;
    }
    if (fault->mode == QLatin1String("delay")) {
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(fault->delayMs, socket, [this, guard, responder, in] {
            if (!guard || guard->state() != QAbstractSocket::ConnectedState)
                return;  // the client gave up waiting
            writeReply(*responder, api_.handle(in), in, quiet_);
        });
        return true;
    }
    writeReply(*responder, control_.faultReply(*fault), in, quiet_);
    return true;
}

} // namespace study
