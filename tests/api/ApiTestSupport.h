#pragma once
// Helpers for driving the asynchronous backend calls from a test: run the
// event loop until the callback arrives, read what the diagnostic log got.

#include "Result.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace apitest {

// Starts `call` with a callback and spins the event loop until it fired (or
// `limitMs` passed, which fails the test). Returns the result.
template <class T>
std::optional<Result<T>> await(const std::function<void(Callback<T>)>& call, int limitMs = 20000)
{
    std::optional<Result<T>> result;
    int calls = 0;
    call([&](Result<T> r) {
        ++calls;
        result.emplace(std::move(r));
    });
    QDeadlineTimer deadline(limitMs);
    while (!result && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    // A second delivery would show up here.
    QCoreApplication::processEvents();
    EXPECT_TRUE(result.has_value()) << "no callback within " << limitMs << " ms";
    EXPECT_LE(calls, 1) << "callback ran more than once";
    return result;
}

// Spins the event loop until `done()` or `limitMs` passed; returns done().
inline bool spinUntil(const std::function<bool()>& done, int limitMs = 20000)
{
    QDeadlineTimer deadline(limitMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return done();
}

inline std::string str(const QString& s)
{
    return s.toStdString();
}

template <class T>
std::string describe(const std::optional<Result<T>>& r)
{
    if (!r)
        return "no result";
    if (r->ok())
        return "ok";
    return textForm(r->error()).toStdString();
}

template <class T>
const APIError* apiErrorOf(const std::optional<Result<T>>& r)
{
    return r && !r->ok() ? std::get_if<APIError>(&r->error()) : nullptr;
}

template <class T>
const TransportError* transportErrorOf(const std::optional<Result<T>>& r)
{
    return r && !r->ok() ? std::get_if<TransportError>(&r->error()) : nullptr;
}

template <class T>
const DecodeError* decodeErrorOf(const std::optional<Result<T>>& r)
{
    return r && !r->ok() ? std::get_if<DecodeError>(&r->error()) : nullptr;
}

// Reads the diagnostic log file into lines (without the timestamps).
inline QStringList logMessages(const QString& path)
{
    QFile file(path);
    QStringList messages;
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        // "YYYY-MM-DD HH:MM:SS +0000: message"
        const int cut = line.indexOf(": ");
        messages << QString::fromUtf8(cut >= 0 ? line.mid(cut + 2) : line);
    }
    return messages;
}

} // namespace apitest
