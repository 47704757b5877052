// A bounded soak of the popup cycle: 500 popups through the real AppDelegate
// and PopupWindowController against the local study service, with the delays
// scaled down, random answers (quiz picks, typed answers, the test hook, some
// left to time out) and about one request in ten failing (error statuses,
// dropped connections, slow answers, a garbled card list, expired tokens).
// After every popup: no panel or controller is left behind, the cycle has
// exactly one timer pending, and the answer was either recorded by the service
// or logged as "Error submitting review: ", never both and never neither.
// At the end the unsaved note drafts are byte for byte what they were.
#include "APIClient.h"
#include "AppDelegate.h"
#include "TestSupport.h"
#include "DraftStore.h"
#include "KeychainService.h"
#include "PopupPanel.h"
#include "PopupWindowController.h"
#include "StudyService.h"
#include "TestRandom.h"

#include "QuizView.h"
#include "TypingView.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

constexpr int kPopups = 500;
constexpr double kFaultShare = 0.10;

QJsonArray reviews(StudyService& svc) { return svc.state().value(QStringLiteral("reviews")).toArray(); }

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int countPanels()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<PopupPanel*>(w) != nullptr;
    return n;
}

// One fault of the mix, aimed at the card list or at the review.
QJsonObject randomFault(RandomSource& rs, QString* kind)
{
    const bool onReview = rs.coin();
    const QString path = onReview ? QStringLiteral("/api/reviews") : QStringLiteral("/api/trouble-cards");
    QJsonObject f {{QStringLiteral("path"), path}};
    switch (rs.below(onReview ? 5 : 6)) {
    case 0:
        f[QStringLiteral("mode")] = QStringLiteral("status");
        f[QStringLiteral("status")] = 500;
        break;
    case 1:
        f[QStringLiteral("mode")] = QStringLiteral("status");
        f[QStringLiteral("status")] = 503;
        f[QStringLiteral("body")] = QStringLiteral("<html>maintenance</html>");
        break;
    case 2:
        // Qt resends once on a closed kept-alive connection: two drops fail the call.
        f[QStringLiteral("mode")] = QStringLiteral("drop");
        f[QStringLiteral("count")] = int(1 + rs.below(2));
        break;
    case 3:
        f[QStringLiteral("mode")] = QStringLiteral("delay");
        f[QStringLiteral("delayMs")] = int(20 + rs.below(130));
        break;
    case 4:
        // An expired token: the client signs in again and repeats.
        f[QStringLiteral("mode")] = QStringLiteral("status");
        f[QStringLiteral("status")] = 401;
        break;
    default:
        f[QStringLiteral("mode")] = QStringLiteral("malformed");
        break;
    }
    *kind = path + QLatin1Char(' ') + f.value(QStringLiteral("mode")).toString();
    if (f.contains(QStringLiteral("status")))
        *kind += QLatin1Char(' ') + QString::number(f.value(QStringLiteral("status")).toInt());
    return f;
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(svc.isRunning());
        qputenv("TAVLO_API_BASE_URL", svc.baseURL().toUtf8());
        KeychainService::clearAll();
        DraftStore::setSharedFileForTesting(draftDir.filePath(QStringLiteral("TavloPopup.conf")));
        PopupWindowController::setTimingForTesting({60000, 2});
        Random::setSourceForTesting(std::make_shared<SeededSource>(20261206));
    }
    void TearDown() override
    {
        Random::setSourceForTesting(nullptr);
        PopupWindowController::setTimingForTesting({});
        DraftStore::setSharedFileForTesting({});
        KeychainService::clearAll();
        drainEvents();
    }

    bool signIn()
    {
        bool done = false, ok = false;
        QObject context;
        APIClient::login(StudyService::demoEmail(), StudyService::demoPassword(), &context, [&](Result<void> r) {
            ok = r.ok();
            done = true;
        });
        return waitUntil([&] { return done; }) && ok;
    }

    // Between popups: the session is over and only the long delay is pending.
    static bool idle(AppDelegate& d)
    {
        QTimer* t = d.popupTimer();
        return t && t->isActive() && t->interval() >= 100000;
    }

    StudyService svc;
    QTemporaryDir draftDir;
    LogCapture logs;
};

} // namespace

TEST_F(Soak, FiveHundredPopupsWithFailingRequestsLeakNothingAndLoseNoReview)
{
    // Drafts the card cycle must never touch.
    DraftStore& drafts = DraftStore::shared();
    for (const QString& text : {QStringLiteral("Kanji to learn: 雨 (rain), 雪 (snow)"),
                                QStringLiteral("Ещё раз: окно — window\n\n#russian"),
                                QStringLiteral("e\u0301 vs \u00e9, and 👩‍👩‍👧 in one line")})
        drafts.save(NoteDraft::make(QUuid::createUuid(), text));
    const QList<NoteDraft> draftsBefore = drafts.loadAll();
    const QByteArray draftBytesBefore = fileBytes(drafts.settingsFile());
    ASSERT_EQ(draftsBefore.size(), 3);
    ASSERT_FALSE(draftBytesBefore.isEmpty());

    ASSERT_TRUE(signIn());
    svc.reset();

    AppDelegate d;
    d.setTrayRetryForTesting(60000, 0);
    d.applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return idle(d); }));

    SeededSource rs(42);
    std::map<QString, int> faultsQueued;
    std::map<QString, int> outcomes;
    QList<QPointer<PopupWindowController>> controllers;
    int recorded = int(reviews(svc).size());
    int reviewErrors = 0, fetchErrors = 0, decodeErrors = 0;
    int widgetsBetweenPopups = -1;

    for (int i = 0; i < kPopups; ++i) {
        SCOPED_TRACE(QStringLiteral("popup %1").arg(i + 1).toStdString());
        if (rs.below(1000) < kFaultShare * 1000) {
            QString kind;
            svc.fault(randomFault(rs, &kind));
            ++faultsQueued[kind];
        }
        PopupWindowController* previous = d.popupController();
        // The next delay is drawn from short bounds; the one after this popup
        // from long ones, so each popup stands alone.
        d.setMinInterval(0.001);
        d.setMaxInterval(0.004);
        d.scheduleNextPopup();
        d.setMinInterval(300);
        d.setMaxInterval(300);

        ASSERT_TRUE(waitUntil([&] { return d.popupController() && d.popupController() != previous; }));
        PopupWindowController* c = d.popupController();
        controllers.append(c);
        ASSERT_TRUE(waitUntil([&] { return (c->shownQuestion() && c->panel() && c->panel()->isVisible()) || idle(d); }));

        std::optional<std::pair<std::int64_t, int>> answered;
        if (!idle(d)) {
            const auto q = *c->shownQuestion();
            const int action = int(rs.below(100));
            if (action < 8) {
                c->fireAutoDismissForTesting(); // left unanswered
                ++outcomes["timed out"];
            } else if (auto* quiz = qobject_cast<QuizView*>(c->panel()->content())) {
                ASSERT_EQ(q.kind, CardPick::QuestionKind::multipleChoice);
                const int pick = int(rs.below(std::uint64_t(q.options.size())));
                quiz->pick(pick);
                ASSERT_TRUE(quiz->submitted());
                const bool right = quiz->rowAppearance(pick).kind == QuizView::RowAppearance::Kind::right;
                answered = {q.cardId, right ? 4 : 1};
                ++outcomes[right ? "quiz right" : "quiz wrong"];
            } else {
                auto* typing = qobject_cast<TypingView*>(c->panel()->content());
                ASSERT_NE(typing, nullptr);
                if (action < 40) {
                    auto* field = typing->findChild<QLineEdit*>(QStringLiteral("answerField"));
                    ASSERT_NE(field, nullptr);
                    field->setText(q.correctAnswer);
                    QTest::keyClick(field, Qt::Key_Return);
                    ASSERT_TRUE(typing->state().submitted());
                    answered = {q.cardId, 4};
                    ++outcomes["typed right"];
                } else {
                    static const int grades[] = {4, 3, 1};
                    const int grade = grades[rs.below(3)];
                    c->answerForTesting(grade);
                    answered = {q.cardId, grade};
                    ++outcomes["typed via hook"];
                }
            }
            ASSERT_TRUE(waitUntil([&] { return idle(d); }));
        } else {
            ++outcomes["fetch failed"];
        }
        drainEvents(3);

        // Exactly one place for every answer: the service or the log.
        const QJsonArray now = reviews(svc);
        const int newReviews = int(now.size()) - recorded;
        const int newReviewErrors = int(logs.startingWith(QStringLiteral("Error submitting review: ")).size()) - reviewErrors;
        const int newFetchErrors = int(logs.startingWith(QStringLiteral("Error fetching cards: ")).size()) - fetchErrors;
        // A garbled card list reads as an empty one, with its own line.
        const int newDecodeErrors = int(logs.startingWith(QStringLiteral("Decode error: ")).size()) - decodeErrors;
        if (answered) {
            EXPECT_EQ(newReviews + newReviewErrors, 1) << newReviews << " recorded, " << newReviewErrors << " logged";
            if (newReviews == 1) {
                const QJsonObject last = now.last().toObject();
                EXPECT_EQ(last.value(QStringLiteral("card_id")).toInteger(), answered->first);
                EXPECT_EQ(last.value(QStringLiteral("quality")).toInt(), answered->second);
            }
            EXPECT_EQ(newFetchErrors + newDecodeErrors, 0);
        } else {
            EXPECT_EQ(newReviews, 0);
            EXPECT_EQ(newReviewErrors, 0);
            EXPECT_EQ(newFetchErrors + newDecodeErrors, c->shownQuestion() ? 0 : 1);
        }
        recorded = int(now.size());
        reviewErrors += newReviewErrors;
        fetchErrors += newFetchErrors;
        decodeErrors += newDecodeErrors;

        // Nothing left behind: no panel, only the current controller, one timer.
        EXPECT_EQ(countPanels(), 0);
        int alive = 0;
        for (const auto& p : controllers)
            alive += !p.isNull();
        EXPECT_EQ(alive, 1);
        controllers.removeIf([](const QPointer<PopupWindowController>& p) { return p.isNull(); });
        EXPECT_EQ(d.findChildren<QTimer*>(Qt::FindDirectChildrenOnly).size(), 1);
        const int widgets = int(QApplication::allWidgets().size());
        // A few widgets made once on first use are fine; a leaked view
        // would add dozens per popup.
        if (i == 50) {
            widgetsBetweenPopups = widgets;
        } else if (i > 50) {
            EXPECT_LE(widgets, widgetsBetweenPopups + 5) << "widgets pile up between popups";
        }
        if (::testing::Test::HasFailure()) {
            const QStringList lines = logs.messages();
            std::printf("last log lines:\n  %s\n", qPrintable(lines.mid(std::max<qsizetype>(0, lines.size() - 12)).join(QStringLiteral("\n  "))));
            break;
        }
    }

    // The mix really happened.
    int queued = 0;
    for (const auto& [kind, n] : faultsQueued)
        queued += n;
    EXPECT_GE(queued, kPopups * kFaultShare / 2);
    EXPECT_GT(reviewErrors, 0);
    EXPECT_GT(fetchErrors, 0);
    EXPECT_GT(decodeErrors, 0);
    EXPECT_GT(outcomes["quiz right"] + outcomes["quiz wrong"], 0);
    EXPECT_GT(outcomes["typed right"] + outcomes["typed via hook"], 0);
    EXPECT_GT(outcomes["timed out"], 0);
    EXPECT_GT(recorded, kPopups / 2);
    std::string summary;
    for (const auto& [kind, n] : outcomes)
        summary += "  " + kind.toStdString() + ": " + std::to_string(n) + "\n";
    for (const auto& [kind, n] : faultsQueued)
        summary += "  fault " + kind.toStdString() + ": " + std::to_string(n) + "\n";
    std::printf("%d popups, %d reviews recorded; logged: %d review errors, %d fetch errors, %d decode errors\n%s",
                kPopups, recorded, reviewErrors, fetchErrors, decodeErrors, summary.c_str());

    // The drafts are untouched.
    EXPECT_EQ(fileBytes(drafts.settingsFile()), draftBytesBefore);
    EXPECT_EQ(drafts.loadAll(), draftsBefore);
}
