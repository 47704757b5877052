#pragma once
// One HTTP exchange with the study service, below the client's request rules:
// the base URL and its check, the request with its headers, time-out, size
// cap and redirect policy, and the raw outcome.
#include "api/Result.h"
#include "core/Timing.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace HttpTransport {

// The build-time base URL, unless TAVLO_API_BASE_URL overrides it for a
// deployment. Ends in "/api", no trailing slash.
QString baseURL();
// Empty when the base URL is usable; otherwise why not.
QString baseURLProblem();
TransportError refusedBaseURL(const QString& problem);

// The outcome of one send: a transport failure, or an HTTP status and body.
struct RawReply {
    std::optional<TransportError> transport;
    std::optional<int> status; // absent: not an HTTP response
    QByteArray body;
};

// One request to the service.
struct Request {
    QString path;                    // after the base URL, e.g. "/reviews"
    QString method;                  // "GET", "POST", ...
    std::optional<QByteArray> body;
    std::optional<QString> token;    // adds the bearer header
    // Not empty: sent as the Idempotency-Key header, and the request goes out
    // at most once from here (never resent by the network layer; a connection
    // lost before the answer is a transport error).
    QString idempotencyKey;
    double timeoutSeconds = Timing::requestTimeout; // the whole exchange, from sending to the last byte
};

// Sends one request and reports what came back, on the main thread. Only a
// GET follows redirects (within the same origin); any other method gets the
// 3xx as its answer.
void send(const Request& request, std::function<void(RawReply)> then);

// The error of a reply that is not an HTTP response at all.
APIError notAnHTTPResponse();
// The body as text, or none when it is not UTF-8.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

} // namespace HttpTransport
