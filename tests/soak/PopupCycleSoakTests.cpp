// A bounded soak of the popup cycle: 500 popups through the real AppDelegate
// and PopupWindowController against the local study service, with the delays
// scaled down, random answers (quiz picks, typed answers, the test hook, some
// left to time out) and about one request in ten failing (error statuses,
// dropped connections, slow answers, a garbled card list, expired tokens).
// After every popup: no panel or controller is left behind, the cycle has
// exactly one timer pending, and the answer was either recorded by the service
// or logged as "Error submitting review: ", never both and never neither.
// At the end the unsaved note drafts are byte for byte what they were.
#include "AppDelegate.h"
#include "PopupPanel.h"
#include "PopupWindowController.h"
#include "PrivateDrafts.h"
#include "ServiceSupport.h"
#include "TestRandom.h"

#include "QuizView.h"
#include "TypingView.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>

#include <map>

namespace {

constexpr int kPopups = 500;
constexpr double kFaultShare = 0.10;

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One fault of the mix, aimed at the card list or at the review; `kind` names it.
QJsonObject randomFault(RandomSource& rs, QString* kind)
{
    const bool onReview = rs.coin();
    QJsonObject f {{"path", onReview ? "/api/reviews" : "/api/trouble-cards"}, {"mode", "status"}};
    switch (rs.below(onReview ? 5 : 6)) {
    case 0: f["status"] = 500; break;
    case 1: f["status"] = 503; f["body"] = "<html>maintenance</html>"; break;
    // Qt resends once on a closed kept-alive connection: two drops fail the call.
    case 2: f["mode"] = "drop"; f["count"] = int(1 + rs.below(2)); break;
    case 3: f["mode"] = "delay"; f["delayMs"] = int(20 + rs.below(130)); break;
    case 4: f["status"] = 401; break; // an expired token: the client signs in again and repeats
    default: f["mode"] = "malformed"; break;
    }
    *kind = f["path"].toString() + QLatin1Char(' ') + f["mode"].toString();
    if (f.contains("status"))
        *kind += QLatin1Char(' ') + QString::number(f["status"].toInt());
    return f;
}

class Soak : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        PopupWindowController::setTimingForTesting({60000, 2});
        ASSERT_TRUE(signInThroughClient());
        service->reset();
    }
    void TearDown() override
    {
        PopupWindowController::setTimingForTesting({});
        drainEvents();
        ServiceFixture::TearDown();
    }
    // Between popups: the session is over and only the long delay is pending.
    static bool idle(AppDelegate& d)
    {
        QTimer* t = d.popupTimer();
        return t && t->isActive() && t->interval() >= 100000;
    }

    PrivateDrafts drafts;
    LogCapture logs;
    ScopedRandom random {std::make_shared<SeededSource>(20261206)};
};

} // namespace

TEST_F(Soak, FiveHundredPopupsWithFailingRequestsLeakNothingAndLoseNoReview)
{
    // Drafts the card cycle must never touch.
    for (const char* text : {"Kanji to learn: 雨 (rain), 雪 (snow)", "Ещё раз: окно — window\n\n#russian",
                             "e\u0301 vs \u00e9, and 👩‍👩‍👧 in one line"})
        drafts.store().save(NoteDraft::make(QUuid::createUuid(), QString::fromUtf8(text)));
    const QList<NoteDraft> draftsBefore = drafts.store().loadAll();
    const QByteArray draftBytesBefore = fileBytes(drafts.path());
    ASSERT_EQ(draftsBefore.size(), 3);
    ASSERT_FALSE(draftBytesBefore.isEmpty());

    AppDelegate d;
    d.setTrayRetryForTesting(60000, 0);
    d.applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return idle(d); }));

    SeededSource rs(42);
    std::map<QString, int> faultsQueued, outcomes;
    QList<QPointer<PopupWindowController>> controllers;
    const QStringList prefixes {"Error submitting review: ", "Error fetching cards: ", "Decode error: "};
    int recorded = int(service->state().value(QStringLiteral("reviews")).toArray().size()), widgetsBetweenPopups = -1;
    std::array<int, 3> logged {}; // review errors, fetch errors, decode errors (a garbled list reads as empty)

    for (int i = 0; i < kPopups && !HasFailure(); ++i) {
        SCOPED_TRACE(QStringLiteral("popup %1").arg(i + 1).toStdString());
        if (rs.below(1000) < kFaultShare * 1000) {
            QString kind;
            service->fault(randomFault(rs, &kind));
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
        if (idle(d)) {
            ++outcomes["fetch failed"];
        } else {
            const auto q = *c->shownQuestion();
            const int action = int(rs.below(100));
            auto* quiz = qobject_cast<QuizView*>(c->panel()->content());
            auto* typing = qobject_cast<TypingView*>(c->panel()->content());
            ASSERT_EQ(quiz != nullptr, q.kind == CardPick::QuestionKind::multipleChoice);
            ASSERT_TRUE(quiz || typing);
            if (action < 8) {
                c->fireAutoDismissForTesting(); // left unanswered
                ++outcomes["timed out"];
            } else if (quiz) {
                const int pick = int(rs.below(std::uint64_t(q.options.size())));
                quiz->pick(pick);
                ASSERT_TRUE(quiz->submitted());
                const bool right = quiz->rowAppearance(pick).kind == QuizView::RowAppearance::Kind::right;
                answered = {q.cardId, right ? 4 : 1};
                ++outcomes[right ? "quiz right" : "quiz wrong"];
            } else if (action < 40) {
                auto* field = typing->findChild<QLineEdit*>(QStringLiteral("answerField"));
                ASSERT_NE(field, nullptr);
                field->setText(q.correctAnswer);
                QTest::keyClick(field, Qt::Key_Return);
                ASSERT_TRUE(typing->state().submitted());
                answered = {q.cardId, 4};
                ++outcomes["typed right"];
            } else {
                const int grade = std::array {4, 3, 1}[rs.below(3)];
                c->answerForTesting(grade);
                answered = {q.cardId, grade};
                ++outcomes["typed via hook"];
            }
            ASSERT_TRUE(waitUntil([&] { return idle(d); }));
        }
        drainEvents(3);

        // Exactly one place for every answer: the service or the log.
        const QJsonArray now = service->state().value(QStringLiteral("reviews")).toArray();
        const int newReviews = int(now.size()) - recorded;
        std::array<int, 3> fresh {};
        for (int k = 0; k < 3; ++k)
            fresh[k] = int(logs.startingWith(prefixes[k]).size()) - logged[k];
        if (answered) {
            EXPECT_EQ(newReviews + fresh[0], 1) << newReviews << " recorded, " << fresh[0] << " logged";
            if (newReviews == 1) {
                EXPECT_EQ(now.last()[QStringLiteral("card_id")].toInteger(), answered->first);
                EXPECT_EQ(now.last()[QStringLiteral("quality")].toInt(), answered->second);
            }
            EXPECT_EQ(fresh[1] + fresh[2], 0);
        } else {
            EXPECT_EQ(newReviews, 0);
            EXPECT_EQ(fresh[0], 0);
            EXPECT_EQ(fresh[1] + fresh[2], c->shownQuestion() ? 0 : 1);
        }
        recorded = int(now.size());
        for (int k = 0; k < 3; ++k)
            logged[k] += fresh[k];

        // Nothing left behind: no panel, only the current controller, one timer.
        int panels = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            panels += qobject_cast<PopupPanel*>(w) != nullptr;
        EXPECT_EQ(panels, 0);
        controllers.removeIf([](const QPointer<PopupWindowController>& p) { return p.isNull(); });
        EXPECT_EQ(controllers.size(), 1);
        EXPECT_EQ(d.findChildren<QTimer*>(Qt::FindDirectChildrenOnly).size(), 1);
        // A few widgets made once on first use are fine; a leaked view would
        // add dozens per popup.
        const int widgets = int(QApplication::allWidgets().size());
        if (i == 50)
            widgetsBetweenPopups = widgets;
        else if (i > 50)
            EXPECT_LE(widgets, widgetsBetweenPopups + 5) << "widgets pile up between popups";
        if (HasFailure())
            std::printf("last log lines:\n  %s\n", qPrintable(logs.messages().mid(std::max<qsizetype>(0, logs.messages().size() - 12)).join("\n  ")));
    }

    // The mix really happened.
    int queued = 0;
    std::string summary;
    for (const auto& [kind, n] : faultsQueued) {
        queued += n;
        summary += "  fault " + kind.toStdString() + ": " + std::to_string(n) + "\n";
    }
    for (const auto& [kind, n] : outcomes)
        summary += "  " + kind.toStdString() + ": " + std::to_string(n) + "\n";
    std::printf("%d popups, %d reviews recorded; logged: %d review errors, %d fetch errors, %d decode errors\n%s",
                kPopups, recorded, logged[0], logged[1], logged[2], summary.c_str());
    EXPECT_GE(queued, kPopups * kFaultShare / 2);
    for (int n : logged)
        EXPECT_GT(n, 0);
    EXPECT_GT(outcomes["quiz right"] + outcomes["quiz wrong"], 0);
    EXPECT_GT(outcomes["typed right"] + outcomes["typed via hook"], 0);
    EXPECT_GT(outcomes["timed out"], 0);
    EXPECT_GT(recorded, kPopups / 2);

    // The drafts are untouched.
    EXPECT_EQ(fileBytes(drafts.path()), draftBytesBefore);
    EXPECT_EQ(drafts.store().loadAll(), draftsBefore);
}
