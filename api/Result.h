#pragma once
// The one asynchronous style of the agent: every network operation takes a
// context QObject and a callback that receives a Result<T>. The callback runs
// on the context's (main) thread, exactly once, and never after the context
// has been destroyed, which is how views and controllers hold themselves
// weakly towards work still in flight.

#include <QString>

#include <optional>
#include <functional>
#include <utility>
#include <variant>

// The backend's own error model. It carries no message text for the learner;
// each view maps the case to its own words.
struct APIError {
    enum class Case { serverError, networkError, unauthorized, decodingError };

    Case kind = Case::unauthorized;
    int status = 0;          // serverError: HTTP status
    QString message;         // serverError: body text, "Unknown error" or "Login failed"
    QString underlyingText;  // networkError: text form of the underlying error
    QString underlyingLocalized; // networkError: its localised description

    static APIError serverError(int status, QString message);
    static APIError networkError(QString underlyingText, QString underlyingLocalized);
    static APIError unauthorized();
    static APIError decodingError();

    // e.g. serverError(401, "Login failed"), unauthorized
    QString textForm() const;
    // A refused sign-in: unauthorized, or serverError with status 401.
    bool isRefusedLogin() const;
};

// A failure of the transport itself (no connection, time-out, TLS failure,
// cancelled, oversized body). It reaches callers unwrapped.
struct TransportError {
    int code = 0;          // QNetworkReply::NetworkError, or our own codes below
    QString description;   // human-readable, localised description
    QString domain = QStringLiteral("QNetworkReply"); // "QNetworkReply", or "TavloAPI" for our own codes
    QString details;       // what the network layer said, the method and the URL

    // Our own codes, in the domain "TavloAPI".
    static constexpr int refusedBaseURL = -1;    // the base URL is not allowed; nothing was sent
    static constexpr int responseTooLarge = -2;  // the body passed the read cap; the transfer was aborted
    static constexpr int notSent = -3;           // the URL could not be built

    QString textForm() const; // full description: domain, code and details

    // What went wrong, in the terms a view words it in.
    enum class Kind { refused, hostNotFound, timedOut, connectionLost, insecure, offline, tooLarge, other };
    Kind kind() const;
};

// A body that is not the JSON or the record shape a call expects.
struct DecodeError {
    QString description;
    QString textForm() const;
};

using Error = std::variant<APIError, TransportError, DecodeError>;

QString textForm(const Error& error);
// What a view shows after "Connection failed: ", "Failed: " and the like.
QString localizedDescription(const Error& error);
inline const APIError* asAPIError(const Error& e) { return std::get_if<APIError>(&e); }

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}
    Result(APIError error) : v_(std::in_place_index<1>, Error(std::move(error))) {}
    Result(TransportError error) : v_(std::in_place_index<1>, Error(std::move(error))) {}
    Result(DecodeError error) : v_(std::in_place_index<1>, Error(std::move(error))) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(v_); }
    T& value() & { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const Error& error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : e_(std::move(error)) {}
    Result(APIError error) : e_(Error(std::move(error))) {}
    Result(TransportError error) : e_(Error(std::move(error))) {}
    Result(DecodeError error) : e_(Error(std::move(error))) {}

    bool ok() const { return !e_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *e_; }

private:
    std::optional<Error> e_;
};

template <class T>
using Callback = std::function<void(Result<T>)>;
