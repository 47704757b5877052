// The HTTP face of the study service: the /api contract the agent talks to,
// plus, with the test control on, the /control endpoints tests use to inject
// faults and inspect traffic.
//
// Built on QAbstractHttpServer rather than QHttpServer's router because every
// /api request must first be recorded and checked against the fault queue, and
// some faults need the raw socket (closing it unanswered, answering later).
#pragma once

#include "service/StudyApi.h"
#include "service/TestControl.h"

#include <QAbstractHttpServer>


namespace study {

// Routes each request: /control to the test control, /api through the fault
// queue to the API; a fault may drop the connection or answer later.
class StudyServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    using Options = ServiceOptions;

    StudyServer(StudyStore* store, Options options, QObject* parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    bool quiet_;
    bool testControl_;
    StudyApi api_;
    TestControl control_;
};

} // namespace study
