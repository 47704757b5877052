#pragma once
#include "api/Result.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

// The one gateway to the study service. Everything runs on the main thread's
// event loop (calls from other threads are moved there); `done` runs on the
// main thread, once, and not at all after `context` was destroyed (a null
// context means "always deliver"). Keyring reads and writes happen on a
// worker thread so a slow keyring never stalls the interface.
//
// Errors: APIError for what the service answered (serverError with the
// status and body text, "Unknown error" for a body that is not UTF-8, or
// "Login failed" for the login endpoint; unauthorized; decodingError for a
// login answer without a string at data.access_token); TransportError for
// everything below HTTP (time-out, refused or dropped connection, TLS,
// a redirect to another origin, a body over 16 MiB, a refused base URL);
// DecodeError for a login body that is not JSON at all.
//
// A sign-in, whether asked for or automatic, stores nothing if
// KeychainService::clearAll() ran after it began (the account was switched
// meanwhile); it then fails with unauthorized.
namespace APIClient {

// The build-time base URL, unless TAVLO_API_BASE_URL overrides it for a
// deployment. Ends in "/api", no trailing slash.
QString baseURL();
// Empty when the base URL is usable; otherwise why not (plain http to a
// non-loopback host, not a URL at all).
QString baseURLProblem();

// One JSON request with the stored bearer token; signs in again once with the
// stored credentials on a missing token or a 401 and repeats the request.
// `done` gets the body of a 2xx response. The whole exchange (each sending,
// not the keyring or a sign-in in between) has `timeoutSeconds`.
//
// A POST goes out at most once per sending, with an Idempotency-Key header:
// `idempotencyKey`, or a new random one when it is empty. The repeat after a
// re-login carries the same key, and so must a later resend by the caller
// (the service then applies the request once and answers as it did the
// first time). Returns the key used; empty for other methods.
QString authenticatedRequest(const QString& path, const QString& method, std::optional<QByteArray> body,
                             bool isRetry, double timeoutSeconds, QObject* context, Callback<QByteArray> done,
                             QString idempotencyKey = {});
// GET, no body, not a retry, 15 s.
void authenticatedRequest(const QString& path, QObject* context, Callback<QByteArray> done);

// A fresh idempotency key: a random UUID without braces.
QString newIdempotencyKey();

// Exchanges e-mail and password for a token and stores all three.
void login(const QString& email, const QString& password, QObject* context, Callback<void> done);

} // namespace APIClient
