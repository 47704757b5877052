// Card sessions end to end: the real agent objects against the local study
// service. A popup fetches, shows one of the two kinds, posts exactly one
// review with the reported quality, closes after the (scaled) wait and lets the
// cycle draw its next delay; and the failure paths: no cards, service down, a
// refused login, a failing review, no answer, and an answer racing the time-out.
#include "APIClient.h"
#include "AppDelegate.h"
#include "TestSupport.h"
#include "KeychainService.h"
#include "PopupPanel.h"
#include "PopupWindowController.h"
#include "StudyService.h"
#include "TestRandom.h"

#include "LoginView.h"
#include "QuizView.h"
#include "TypingView.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QJsonArray reviews(StudyService& svc) { return svc.state().value(QStringLiteral("reviews")).toArray(); }

int requestsTo(StudyService& svc, const QString& method, const QString& pathPrefix)
{
    int n = 0;
    for (const QJsonValue& v : svc.requests()) {
        const QJsonObject r = v.toObject();
        n += r.value(QStringLiteral("method")).toString() == method &&
             r.value(QStringLiteral("path")).toString().startsWith(pathPrefix);
    }
    return n;
}

class CardSessionE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(svc.isRunning());
        qputenv("TAVLO_API_BASE_URL", svc.baseURL().toUtf8());
        KeychainService::clearAll();
        PopupWindowController::setTimingForTesting({60000, 20});
        signIn();
        svc.reset();
    }
    void TearDown() override
    {
        PopupWindowController::setTimingForTesting({});
        KeychainService::clearAll();
        drainEvents();
    }

    void signIn(const QString& email = StudyService::demoEmail(), const QString& password = StudyService::demoPassword())
    {
        bool done = false, ok = false;
        QObject context;
        APIClient::login(email, password, &context, [&](Result<void> r) {
            ok = r.ok();
            done = true;
        });
        ASSERT_TRUE(waitUntil([&] { return done; }));
        ASSERT_TRUE(ok);
    }

    // A controller whose onDismiss calls we count.
    std::shared_ptr<PopupWindowController> startCard()
    {
        auto c = PopupWindowController::create();
        c->showCard([this] { ++dismissals; });
        return c;
    }

    bool waitForQuestion(PopupWindowController& c)
    {
        return waitUntil([&] { return c.shownQuestion().has_value() && c.panel() && c.panel()->isVisible(); });
    }

    // Answers through the real view, the way the learner does.
    void answerRight(PopupWindowController& c)
    {
        const auto q = c.shownQuestion();
        ASSERT_TRUE(q.has_value());
        QWidget* content = c.panel()->content();
        if (auto* quiz = qobject_cast<QuizView*>(content)) {
            const auto at = q->options.indexOf(q->correctAnswer);
            ASSERT_GE(at, 0);
            ASSERT_LT(at, 9);
            QTest::keyClick(quiz, Qt::Key(Qt::Key_1 + at)); // the number keys pick an option
        } else {
            auto* typing = qobject_cast<TypingView*>(content);
            ASSERT_NE(typing, nullptr);
            if (auto* field = typing->findChild<QLineEdit*>()) {
                field->setText(q->correctAnswer);
                QTest::keyClick(field, Qt::Key_Return);
            } else {
                c.answerForTesting(4); // a view without an answer field yet
            }
        }
    }

    StudyService svc;
    LogCapture logs;
    int dismissals = 0;
};

} // namespace

TEST_F(CardSessionE2E, ATimedPopupAsksPostsOneReviewClosesAndDrawsTheNextDelay)
{
    AppDelegate d;
    d.setTrayRetryForTesting(60000, 0);
    d.applicationDidFinishLaunching();
    d.setMinInterval(0);
    d.setMaxInterval(0);
    d.scheduleNextPopup(); // the popup timer fires at once
    ASSERT_TRUE(waitUntil([&] { return d.popupController() != nullptr; }));
    PopupWindowController& c = *d.popupController();
    ASSERT_TRUE(waitForQuestion(c));
    d.setMinInterval(300);
    d.setMaxInterval(300);
    EXPECT_EQ(d.popupTimer(), nullptr) << "showing: no timer pending";

    const QStringList lines = logs.messages();
    EXPECT_TRUE(lines.contains(QStringLiteral("showPopup called, token: exists")));
    EXPECT_TRUE(lines.contains(QStringLiteral("showCard called")));
    EXPECT_TRUE(lines.contains(QStringLiteral("fetched 10 cards")));
    EXPECT_EQ(requestsTo(svc, QStringLiteral("GET"), QStringLiteral("/api/trouble-cards?limit=10")), 1);

    const auto q = *c.shownQuestion();
    const QString kind = QString::fromLatin1(c.panel()->content()->metaObject()->className());
    EXPECT_EQ(kind, q.kind == CardPick::QuestionKind::multipleChoice ? QStringLiteral("QuizView") : QStringLiteral("TypingView"));
    EXPECT_EQ(c.panel()->size(), QSize(420, 340));
    if (q.kind == CardPick::QuestionKind::multipleChoice) {
        EXPECT_EQ(q.options.size(), 4);
    }

    answerRight(c);
    ASSERT_TRUE(waitUntil([&] { return c.panel() == nullptr; })) << "closes after the wait";
    const QJsonArray posted = reviews(svc);
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0].toObject().value(QStringLiteral("card_id")).toInteger(), q.cardId);
    EXPECT_EQ(posted[0].toObject().value(QStringLiteral("quality")).toInt(), 4);
    EXPECT_EQ(posted[0].toObject().value(QStringLiteral("account")).toString(), StudyService::demoEmail());
    ASSERT_NE(d.popupTimer(), nullptr) << "the next delay is drawn";
    EXPECT_EQ(d.popupTimer()->interval(), 300000);
}

TEST_F(CardSessionE2E, TheQualityReportedIsTheQualityPosted)
{
    for (int quality : {1, 3, 4}) {
        svc.reset();
        auto c = startCard();
        ASSERT_TRUE(waitForQuestion(*c));
        const auto before = reviews(svc).size();
        c->answerForTesting(quality);
        c->answerForTesting(4); // a second report of the same question is ignored
        ASSERT_TRUE(waitUntil([&] { return c->panel() == nullptr; }));
        const QJsonArray posted = reviews(svc);
        ASSERT_EQ(posted.size(), before + 1);
        EXPECT_EQ(posted.last().toObject().value(QStringLiteral("quality")).toInt(), quality);
        EXPECT_EQ(requestsTo(svc, QStringLiteral("POST"), QStringLiteral("/api/reviews")), 1);
    }
    EXPECT_EQ(dismissals, 3);
}

TEST_F(CardSessionE2E, BothKindsAppearAndAskInOppositeDirections)
{
    ScopedRandom rs(std::make_shared<SeededSource>(99));
    bool sawQuiz = false, sawTyped = false;
    for (int i = 0; i < 12 && !(sawQuiz && sawTyped); ++i) {
        auto c = startCard();
        ASSERT_TRUE(waitForQuestion(*c));
        const auto q = *c->shownQuestion();
        if (q.kind == CardPick::QuestionKind::multipleChoice) {
            sawQuiz = true;
            EXPECT_TRUE(q.options.contains(q.correctAnswer));
            EXPECT_NE(qobject_cast<QuizView*>(c->panel()->content()), nullptr);
        } else {
            sawTyped = true;
            EXPECT_NE(qobject_cast<TypingView*>(c->panel()->content()), nullptr);
        }
        c->dismissPanel();
    }
    EXPECT_TRUE(sawQuiz);
    EXPECT_TRUE(sawTyped);
}

TEST_F(CardSessionE2E, ZeroCardsShowNothingAndDismissAtOnce)
{
    svc.fault({{"mode", "body"}, {"path", "/api/trouble-cards"}, {"body", "{\"data\": []}"}});
    auto c = startCard();
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
    EXPECT_EQ(c->panel(), nullptr);
    EXPECT_TRUE(logs.contains(QStringLiteral("fetched 0 cards")));
    drainEvents();
    EXPECT_EQ(dismissals, 1);
}

TEST_F(CardSessionE2E, ServiceDownIsLoggedAndDismissed)
{
    svc.stop();
    auto c = startCard();
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }, 20000));
    EXPECT_EQ(c->panel(), nullptr);
    EXPECT_EQ(logs.startingWith(QStringLiteral("Error fetching cards: ")).size(), 1);
}

TEST_F(CardSessionE2E, AServerErrorMentioningUnauthorizedIsNotARefusedLogin)
{
    svc.fault({{"mode", "status"}, {"status", 500}, {"path", "/api/trouble-cards"}, {"body", "unauthorized 401"}});
    auto c = startCard();
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
    EXPECT_EQ(c->panel(), nullptr) << "no login form for a 500";
    const QStringList errors = logs.startingWith(QStringLiteral("Error fetching cards: "));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], QStringLiteral("Error fetching cards: serverError(500, \"unauthorized 401\")"));
}

TEST_F(CardSessionE2E, ARefusedStoredLoginTurnsIntoTheLoginFormThenTheCycleWaits)
{
    AppDelegate d;
    d.setTrayRetryForTesting(60000, 0);
    d.applicationDidFinishLaunching();
    // The token expires and the stored password no longer works.
    KeychainService::saveCredentials(StudyService::demoEmail(), QStringLiteral("wrong password"));
    svc.expireTokens();
    d.showCardNow();
    ASSERT_TRUE(waitUntil([&] {
        auto* c = d.popupController();
        return c && c->panel() && qobject_cast<LoginView*>(c->panel()->content());
    }));
    EXPECT_EQ(logs.startingWith(QStringLiteral("Error fetching cards: ")),
              QStringList {QStringLiteral("Error fetching cards: serverError(401, \"Login failed\")")});
    PopupWindowController& c = *d.popupController();
    EXPECT_EQ(c.panel()->size(), QSize(420, 340));
    QPointer<QTimer> timerBefore = d.popupTimer();

    auto* login = qobject_cast<LoginView*>(c.panel()->content());
    const auto fields = login->findChildren<QLineEdit*>();
    ASSERT_GE(fields.size(), 2);
    for (QLineEdit* f : fields)
        f->setText(f->echoMode() == QLineEdit::Password ? StudyService::demoPassword() : StudyService::demoEmail());
    login->login();
    ASSERT_TRUE(waitUntil([&] { return c.panel() == nullptr; })) << "a successful login closes the panel";
    EXPECT_EQ(d.popupController(), &c) << "no card is shown at once";
    ASSERT_NE(d.popupTimer(), nullptr) << "the cycle waits for the next delay";
    EXPECT_NE(d.popupTimer(), timerBefore.data());
    QAction* label = nullptr;
    for (QAction* a : d.menu()->actions())
        if (a->data().toInt() == 200)
            label = a;
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), StudyService::demoEmail()) << "the account label follows the new login";
    EXPECT_FALSE(label->isEnabled());
}

TEST_F(CardSessionE2E, AFailingReviewStillClosesAndIsLogged)
{
    svc.fault({{"mode", "status"}, {"status", 500}, {"path", "/api/reviews"}, {"body", "review store down"}});
    auto c = startCard();
    ASSERT_TRUE(waitForQuestion(*c));
    c->answerForTesting(3);
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
    EXPECT_EQ(c->panel(), nullptr);
    EXPECT_TRUE(logs.contains(QStringLiteral("Error submitting review: serverError(500, \"review store down\")")));
    EXPECT_EQ(reviews(svc).size(), 0);
}

TEST_F(CardSessionE2E, AnUnansweredCardClosesWithoutAReview)
{
    PopupWindowController::setTimingForTesting({30, 20});
    auto c = startCard();
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
    EXPECT_EQ(c->panel(), nullptr);
    EXPECT_EQ(requestsTo(svc, QStringLiteral("POST"), QStringLiteral("/api/reviews")), 0);
    drainEvents();
    EXPECT_EQ(dismissals, 1);
}

TEST_F(CardSessionE2E, AnAnswerWhileTheTimeOutFiresEndsTheSessionOnce)
{
    PopupWindowController::setTimingForTesting({60000, 50});
    auto c = startCard();
    ASSERT_TRUE(waitForQuestion(*c));
    c->fireAutoDismissForTesting(); // the time-out is on its way through the queue
    c->answerForTesting(4);         // and the learner answers just then
    drainEvents();
    EXPECT_NE(c->panel(), nullptr) << "the time-out must not close the panel under the answer";
    EXPECT_EQ(dismissals, 0);
    ASSERT_TRUE(waitUntil([&] { return dismissals >= 1; }));
    EXPECT_EQ(c->panel(), nullptr);
    drainEvents();
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(reviews(svc).size(), 1);
}

TEST_F(CardSessionE2E, AnAnswerAfterTheTimeOutDoesNothing)
{
    auto c = startCard();
    ASSERT_TRUE(waitForQuestion(*c));
    c->fireAutoDismissForTesting();
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
    c->answerForTesting(4);
    drainEvents();
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(requestsTo(svc, QStringLiteral("POST"), QStringLiteral("/api/reviews")), 0);
}

TEST_F(CardSessionE2E, AReleasedControllerStillEndsItsSessionByTimeOut)
{
    PopupWindowController::setTimingForTesting({40, 20});
    auto c = startCard();
    ASSERT_TRUE(waitForQuestion(*c));
    QPointer<PopupPanel> panel = c->panel();
    c.reset(); // a newer panel replaced this controller
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
    drainEvents();
    EXPECT_TRUE(panel.isNull());
    EXPECT_EQ(requestsTo(svc, QStringLiteral("POST"), QStringLiteral("/api/reviews")), 0);
}

TEST_F(CardSessionE2E, SwitchingAccountDuringTheWaitLeavesTheCycleStopped)
{
    PopupWindowController::setTimingForTesting({60000, 30});
    AppDelegate d;
    d.setTrayRetryForTesting(60000, 0);
    d.applicationDidFinishLaunching();
    d.showCardNow();
    ASSERT_TRUE(waitUntil([&] { return d.popupController() && d.popupController()->shownQuestion(); }));
    QPointer<PopupWindowController> answered = d.popupController();
    answered->answerForTesting(4);
    d.switchAccount(); // while the review is on its way
    ASSERT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return answered.isNull();
    })) << "the answered session ran to its end";
    drainEvents();
    EXPECT_EQ(d.popupTimer(), nullptr) << "no timer under the login form";
    ASSERT_NE(d.popupController(), nullptr);
    ASSERT_NE(d.popupController()->panel(), nullptr);
    EXPECT_NE(qobject_cast<LoginView*>(d.popupController()->panel()->content()), nullptr);
}

TEST_F(CardSessionE2E, ACardShownWhilePausedSchedulesNothingWhenDone)
{
    AppDelegate d;
    d.setTrayRetryForTesting(60000, 0);
    d.applicationDidFinishLaunching();
    d.togglePause();
    d.showCardNow();
    ASSERT_TRUE(waitUntil([&] { return d.popupController() && d.popupController()->shownQuestion(); }));
    PopupWindowController& c = *d.popupController();
    answerRight(c);
    ASSERT_TRUE(waitUntil([&] { return c.panel() == nullptr; }));
    drainEvents();
    EXPECT_EQ(d.popupTimer(), nullptr);
    EXPECT_TRUE(d.isPaused());
    for (QAction* a : d.menu()->actions()) {
        if (a->data().toInt() == 100) {
            EXPECT_EQ(a->text(), QStringLiteral("Resume"));
        }
    }
    EXPECT_EQ(reviews(svc).size(), 1);
}

TEST_F(CardSessionE2E, SigningInFromTheMenuShowsACardAtOnceAndNamesTheAccount)
{
    KeychainService::clearAll();
    AppDelegate d;
    d.setTrayRetryForTesting(60000, 0);
    d.applicationDidFinishLaunching();
    d.showQuickNote(); // signed out: the login form instead
    ASSERT_NE(d.popupController(), nullptr);
    auto* login = qobject_cast<LoginView*>(d.popupController()->panel()->content());
    ASSERT_NE(login, nullptr);
    for (QLineEdit* f : login->findChildren<QLineEdit*>())
        f->setText(f->echoMode() == QLineEdit::Password ? StudyService::secondPassword() : StudyService::secondEmail());
    login->login();
    ASSERT_TRUE(waitUntil([&] {
        auto* c = d.popupController();
        return c && c->shownQuestion() && c->panel();
    })) << "a card, not the quick note";
    QString label;
    for (QAction* a : d.menu()->actions())
        if (a->data().toInt() == 200)
            label = a->text();
    EXPECT_EQ(label, StudyService::secondEmail());
    const QStringList lines = logs.messages();
    EXPECT_EQ(lines.count(QStringLiteral("showCard called")), 1);
}
