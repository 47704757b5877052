// The answer outbox against the study service and its fault injector: what is
// kept and what is dropped, that kept answers reach the service once, in
// order, under their own account, across a restart of the agent.
#include "ServiceSupport.h"

#include "api/AnswerOutbox.h"
#include "core/Timing.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace {

struct Review {
    QString account;
    qint64 cardId;
    bool operator==(const Review&) const = default;
};

class Outbox : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        ASSERT_TRUE(signInThroughClient());
        service->reset();
    }
    QString path() const { return dir_.filePath(QStringLiteral("outbox.json")); }
    std::optional<Result<void>> answer(AnswerOutbox& outbox, qint64 cardId, int quality = 4)
    {
        return await<void>([&](Callback<void> done) { outbox.submit(cardId, quality, nullptr, done); });
    }
    QList<Review> reviews()
    {
        QList<Review> out;
        for (const QJsonValue& r : service->state()[QLatin1String("reviews")].toArray())
            out.append({r["account"].toString(), r["card_id"].toInteger()});
        return out;
    }
    QStringList keysSent()
    {
        QStringList keys;
        for (const QJsonValue& r : service->requests())
            if (r["path"] == QLatin1String("/api/reviews"))
                keys << r["headers"]["idempotency-key"].toString();
        return keys;
    }
    QTemporaryDir dir_;
    LogCapture logs_;
};

// Whatever the service could not take is kept, with the key of the first
// sending, and goes out once when flushed; a content rejection is dropped.
TEST_F(Outbox, KeepsWhatTheServiceCouldNotTakeAndDeliversItOnce)
{
    struct Row {
        const char* name;
        QJsonObject fault;
        bool kept;
    };
    const Row rows[] = {
        {"dropped connection", {{"mode", "drop"}}, true},
        {"503", {{"mode", "status"}, {"status", 503}}, true},
        {"408", {{"mode", "status"}, {"status", 408}}, true},
        {"429", {{"mode", "status"}, {"status", 429}}, true},
        {"302 not followed", {{"mode", "status"}, {"status", 302}}, true},
        {"307 not followed", {{"mode", "status"}, {"status", 307}}, true},
        {"400 rejected", {{"mode", "status"}, {"status", 400}}, false},
        {"404 rejected", {{"mode", "status"}, {"status", 404}}, false},
    };
    const QString demo = StudyService::demoEmail();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        service->reseed();
        service->reset();
        QFile::remove(path());
        AnswerOutbox outbox(path());
        outbox.setAccount(demo);
        QJsonObject fault = row.fault;
        fault["path"] = "/api/reviews";
        service->fault(fault);
        const auto first = answer(outbox, 3);
        EXPECT_FALSE(first && first->ok()) << "the caller hears of the failure";
        ASSERT_EQ(outbox.pending(), row.kept ? 1 : 0);
        if (!row.kept) {
            EXPECT_TRUE(outbox.entries().isEmpty());
            continue;
        }
        EXPECT_EQ(QFile(path()).permissions() & 0x0077, 0) << "only the owner may read it";
        EXPECT_EQ(AnswerOutbox(path()).entries().size(), 1) << "on disk before anything else happens";
        outbox.flush();
        waitUntil([&] { return outbox.pending() == 0; });
        EXPECT_EQ(reviews(), QList<Review>({{demo, 3}}));
        const QStringList keys = keysSent();
        ASSERT_GE(keys.size(), 2);
        EXPECT_EQ(keys.count(keys[0]), keys.size()) << "every resend carries the first key";
        EXPECT_TRUE(AnswerOutbox(path()).entries().isEmpty());
    }
}

// The answer reached the service but its reply did not reach the agent: the
// resend is answered without being applied a second time.
TEST_F(Outbox, AnAnswerWhoseReplyWasLostIsAppliedOnce)
{
    Timing::ScopedScale fast(0.1); // the request gives up after 1.5 s
    AnswerOutbox outbox(path());
    outbox.setAccount(StudyService::demoEmail());
    service->fault({{"mode", "delay"}, {"delayMs", 2500}, {"path", "/api/reviews"}});
    const auto first = answer(outbox, 7);
    ASSERT_NE(transportErrorOf(first), nullptr) << describe(first);
    ASSERT_EQ(outbox.pending(), 1);
    waitUntil([&] { return reviews().size() == 1; }); // the slow one is applied meanwhile
    outbox.flush();
    waitUntil([&] { return outbox.pending() == 0; });
    EXPECT_EQ(reviews(), QList<Review>({{StudyService::demoEmail(), 7}}));
}

// Answers wait for their own account, in their order, and outlive the agent.
TEST_F(Outbox, AnswersWaitForTheirAccountInOrderAcrossARestart)
{
    const QString demo = StudyService::demoEmail();
    {
        AnswerOutbox outbox(path());
        outbox.setAccount(demo);
        service->fault({{"mode", "status"}, {"status", 503}, {"path", "/api/reviews"}, {"count", 3}});
        for (qint64 card : {5, 2, 9})
            (void)answer(outbox, card);
        EXPECT_EQ(outbox.pending(), 3);
    }
    service->reset();
    AnswerOutbox restarted(path());
    restarted.setAccount(StudyService::secondEmail());
    EXPECT_EQ(restarted.pending(), 0);
    drainEvents();
    EXPECT_TRUE(keysSent().isEmpty()) << "nothing goes out under another account";
    restarted.setAccount(demo);
    waitUntil([&] { return restarted.pending() == 0; });
    EXPECT_EQ(reviews(), QList<Review>({{demo, 5}, {demo, 2}, {demo, 9}}));
}

// A file that cannot be read is set aside, never silently emptied; a full
// outbox keeps the oldest answers and says so.
TEST_F(Outbox, AnUnreadableFileIsKeptAsideAndAFullOutboxSaysSo)
{
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\"entries\": [tru");
    }
    {
        AnswerOutbox outbox(path());
        EXPECT_TRUE(outbox.entries().isEmpty());
    }
    const QStringList aside = QDir(dir_.path()).entryList({QStringLiteral("outbox.json.unreadable-*")});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir_.filePath(aside[0]));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{\"entries\": [tru"));
    EXPECT_EQ(logs_.messages().filter(QStringLiteral("Answer outbox unreadable")).size(), 1);

    const QString demo = StudyService::demoEmail();
    QJsonArray entries;
    for (int i = 0; i < AnswerOutbox::kCapacity; ++i)
        entries.append(QJsonObject{{"account", demo}, {"card_id", QString::number(i + 1)}, {"quality", 1},
                                   {"key", QStringLiteral("k%1").arg(i)}, {"answered_at", ""}});
    entries.append(QJsonObject{{"account", demo}, {"card_id", "x"}, {"quality", 1}, {"key", "bad"}});
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(QJsonObject{{"entries", entries}}).toJson());
    }
    service->fault({{"mode", "status"}, {"status", 503}, {"path", "/api/reviews"}, {"count", 1000}});
    AnswerOutbox outbox(path());
    outbox.setAccount(demo);
    waitUntil([&] { return !keysSent().isEmpty(); });
    (void)answer(outbox, 42);
    EXPECT_EQ(outbox.pending(), AnswerOutbox::kCapacity);
    EXPECT_EQ(outbox.entries().constFirst().key, QStringLiteral("k0"));
    EXPECT_EQ(logs_.messages().filter(QStringLiteral("Answer outbox full")).size(), 1);
    EXPECT_EQ(logs_.messages().filter(QStringLiteral("unreadable entries skipped")).size(), 1);
}

} // namespace
