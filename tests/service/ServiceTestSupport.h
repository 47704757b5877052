// Shared pieces of the study service tests: one service per test suite,
// reseeded before every test, and small JSON helpers.
#pragma once

#include "StudyService.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

inline QJsonObject dataObject(const StudyService::Response& r)
{
    return r.json().value("data").toObject();
}

inline QJsonArray dataArray(const StudyService::Response& r)
{
    return r.json().value("data").toArray();
}

// The error body every refusal carries: {"error": {"status": n, "message": "..."}}.
inline bool isJsonError(const StudyService::Response& r)
{
    const QJsonObject e = r.json().value("error").toObject();
    return e.value("status").toInt() == r.status && !e.value("message").toString().isEmpty();
}

class ServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_service = std::make_unique<StudyService>(); }
    static void TearDownTestSuite() { s_service.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(s_service && s_service->isRunning());
        s_service->reseed();
        token = s_service->login();
        ASSERT_FALSE(token.isEmpty());
    }

    StudyService& svc() { return *s_service; }
    StudyService::Response get(const QString& path) { return svc().send("GET", path, {}, token); }
    StudyService::Response post(const QString& path, const QJsonObject& body)
    {
        return svc().send("POST", path, compact(body), token);
    }

    QString token;
    static inline std::unique_ptr<StudyService> s_service;
};
