// Shared pieces of the study service tests: one service per test suite,
// reseeded before every test, a few JSON helpers and the check every refused
// request must pass.
#pragma once

#include "StudyService.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }
inline QJsonObject dataObject(const StudyService::Response& r) { return r.json().value("data").toObject(); }
inline QJsonArray dataArray(const StudyService::Response& r) { return r.json().value("data").toArray(); }

inline QByteArray headerOf(const StudyService::Response& r, const QByteArray& name)
{
    for (const auto& h : r.headers)
        if (h.first == name)
            return h.second;
    return {};
}

// The error body every refusal carries: {"error": {"status": n, "message": "..."}}.
inline bool isJsonError(const StudyService::Response& r)
{
    const QJsonObject e = r.json().value("error").toObject();
    return e.value("status").toInt() == r.status && !e.value("message").toString().isEmpty();
}

// A request the service must refuse; `as` is whose token it carries (Stale: a
// valid token with a character added).
struct Refusal {
    enum Who { Demo, Second, None, Garbage, Stale };
    QByteArray method;
    QString path;
    QByteArray body;
    int status;
    Who as = Demo;
};

class ServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { service_ = std::make_unique<StudyService>(); }
    static void TearDownTestSuite() { service_.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(service_ && service_->isRunning());
        service_->reseed();
        token = service_->login();
        ASSERT_FALSE(token.isEmpty());
    }

    StudyService& svc() { return *service_; }
    StudyService::Response get(const QString& path) { return svc().send("GET", path, {}, token); }
    StudyService::Response post(const QString& path, const QJsonObject& body)
    {
        return svc().send("POST", path, compact(body), token);
    }

    // Every refusal is a JSON error with no data, changes nothing and leaves
    // no fault queued behind.
    void expectRefused(const std::vector<Refusal>& rows)
    {
        const QString second = svc().login(StudyService::secondEmail(), StudyService::secondPassword());
        const QString tokens[] = {token, second, QString(), QStringLiteral("not-a-token"), token + "x"};
        for (const Refusal& row : rows) {
            SCOPED_TRACE(row.method.toStdString() + " " + row.path.toStdString() + " " + row.body.left(60).toStdString());
            const QJsonObject before = svc().state();
            const auto r = svc().send(row.method, row.path, row.body, tokens[row.as]);
            EXPECT_EQ(r.status, row.status) << r.body.toStdString();
            EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
            EXPECT_FALSE(r.json().contains("data"));
            EXPECT_EQ(headerOf(r, "content-type"), "application/json");
            EXPECT_EQ(svc().state(), before);
            EXPECT_EQ(get("/api/journal").status, 200);
        }
    }

    QString token;
    static inline std::unique_ptr<StudyService> service_;
};
