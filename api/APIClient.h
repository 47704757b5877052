#pragma once
#include "Result.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace APIClient {

// The build-time base URL, unless TAVLO_API_BASE_URL overrides it for a
// deployment. Ends in "/api", no trailing slash.
QString baseURL();
// Empty when the base URL is usable; otherwise why not (plain http to a
// non-loopback host, not a URL at all).
QString baseURLProblem();

// One JSON request with the stored bearer token; signs in again once with the
// stored credentials on a missing token or a 401 and repeats the request.
// `done` gets the body of a 2xx response.
void authenticatedRequest(const QString& path, const QString& method, std::optional<QByteArray> body,
                          bool isRetry, double timeoutSeconds, QObject* context, Callback<QByteArray> done);
// GET, no body, not a retry, 15 s.
void authenticatedRequest(const QString& path, QObject* context, Callback<QByteArray> done);

// Exchanges e-mail and password for a token and stores all three.
void login(const QString& email, const QString& password, QObject* context, Callback<void> done);

// Tests scale the time-outs down; 1.0 in the shipped agent.
void setTimeoutScaleForTesting(double scale);

} // namespace APIClient
