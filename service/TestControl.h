// What tests may do to the study service: record every /api request, queue
// faults for the next matching requests, and the /control endpoints that
// drive both and look at the data.
#pragma once

#include "service/Wire.h"

#include <QJsonArray>
#include <QList>

#include <optional>

namespace study {

class StudyApi;

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

class TestControl {
public:
    explicit TestControl(StudyApi* api);

    // Keeps the request for GET /control/requests (at most the newest 2000).
    void record(const Incoming& in, qint64 maxBodyBytes);
    // Uses one use of the first queued fault whose path matches.
    std::optional<Fault> takeFault(const QString& target);
    // The answer of a fault that answers (status, body, malformed, oversized).
    Reply faultReply(const Fault& fault) const;
    // A /control request.
    Reply handle(const Incoming& in, qint64 maxBodyBytes);

private:
    Reply queueFault(const Incoming& in);
    QJsonObject stateJson() const;

    StudyApi* api_;
    QList<Fault> faults_;
    QJsonArray requests_;
};

} // namespace study
