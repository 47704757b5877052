// Card sessions end to end: the real agent objects against the local study
// service. A popup fetches, shows one of the two kinds, posts exactly one
// review with the reported quality, closes after the (scaled) wait and lets the
// cycle draw its next delay; and every other way a session ends: no cards, a
// failed fetch, a refused login, a failing review, no answer, an answer racing
// the time-out, a released controller, a switch of account.
#include "app/AppDelegate.h"
#include "app/PopupWindowController.h"
#include "PanelSupport.h"
#include "ServiceSupport.h"
#include "TestRandom.h"

#include "app/LoginView.h"
#include "app/SettingsView.h"
#include "core/Timing.h"
#include "journal/JournalListView.h"
#include "review/QuizView.h"
#include "review/TypingView.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

namespace {

QString menuText(AppDelegate& d, int tag)
{
    for (QAction* a : d.menu()->actions())
        if (a->data().toInt() == tag)
            return a->text();
    return {};
}

bool asking(PopupWindowController* c) { return c && c->shownQuestion() && c->panel() && c->panel()->isVisible(); }

QString contentClass(PopupWindowController* c)
{
    return c && c->panel() ? QString::fromLatin1(c->panel()->content()->metaObject()->className()) : QString();
}

void fillLogin(PopupWindowController* c, const QString& email, const QString& password)
{
    for (QLineEdit* f : c->panel()->content()->findChildren<QLineEdit*>())
        f->setText(f->echoMode() == QLineEdit::Password ? password : email);
    qobject_cast<LoginView*>(c->panel()->content())->login();
}

class Session : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        ASSERT_TRUE(signInThroughClient());
        service->reset();
    }
    void TearDown() override { drainEvents(); ServiceFixture::TearDown(); }
    // A card waits 1.2 s for an answer, its result stays 40 ms; requests and
    // keyring calls keep 1.5 s and 300 ms, enough under a thread sanitizer.
    Timing::ScopedScale faster {0.02, 0.1};

    QJsonArray reviews() { return service->state().value(QStringLiteral("reviews")).toArray(); }
    int requestsTo(const char* method, const char* pathPrefix)
    {
        const QJsonArray all = service->requests();
        return int(std::count_if(all.begin(), all.end(), [&](const QJsonValue& v) {
            return v[QStringLiteral("method")] == QLatin1String(method) && v[QStringLiteral("path")].toString().startsWith(QLatin1String(pathPrefix));
        }));
    }
    // The popup timer fires at once; the delay after it is long again.
    void popupDueNow()
    {
        d.setMinInterval(0);
        d.setMaxInterval(0);
        d.scheduleNextPopup();
        d.setMinInterval(300);
        d.setMaxInterval(300);
    }
    int lines(const char* prefix) { return int(logs.startingWith(QString::fromLatin1(prefix)).size()); }
    // A controller whose onDismiss calls we count.
    std::shared_ptr<PopupWindowController> startCard()
    {
        auto c = PopupWindowController::create();
        c->showCard([this] { ++dismissals; });
        return c;
    }

    LogCapture logs;
    int dismissals = 0;
    AppDelegate d; // launched by the tests that need the whole agent
};

} // namespace

TEST_F(Session, ATimedPopupAsksPostsOneReviewClosesAndDrawsTheNextDelay)
{
    // The top bit set in every draw: the coin says multiple choice whatever
    // else is drawn before it.
    ScopedRandom quizOnly(std::make_shared<ScriptedSource>(std::initializer_list<std::uint64_t> {std::uint64_t(1) << 63}));
    const Timing::ScopedScale slower(0.4); // the card ignores input for 200 ms, its result stays 0.8 s
    d.applicationDidFinishLaunching();
    d.setMinInterval(0);
    d.setMaxInterval(0);
    d.scheduleNextPopup(); // the popup timer fires at once
    ASSERT_TRUE(waitUntil([&] { return asking(d.popupController()); }));
    PopupWindowController& c = *d.popupController();
    d.setMinInterval(300);
    d.setMaxInterval(300);
    EXPECT_EQ(d.popupTimer(), nullptr) << "showing: no timer pending";
    for (const char* line : {"showPopup called, token: exists", "showCard called", "fetched 10 cards"})
        EXPECT_TRUE(logs.contains(QString::fromLatin1(line))) << line;
    EXPECT_EQ(requestsTo("GET", "/api/trouble-cards?limit=10"), 1);
    EXPECT_EQ(c.panel()->size(), QSize(420, 340));

    const auto q = *c.shownQuestion();
    auto* quiz = qobject_cast<QuizView*>(c.panel()->content());
    ASSERT_NE(quiz, nullptr);
    EXPECT_EQ(q.options.size(), 4);
    const auto at = q.options.indexOf(q.correctAnswer);
    ASSERT_GE(at, 0);
    // Keys and clicks that land as the card appears were meant for another program.
    QTest::keyClick(quiz, Qt::Key(Qt::Key_1 + at));
    QTest::mouseClick(quiz->findChildren<QAbstractButton*>().value(at), Qt::LeftButton);
    EXPECT_FALSE(quiz->submitted()) << "a stray key or click answered the card";
    ASSERT_TRUE(waitUntil([&] { return !c.panel()->inputGuarded(); }));
    QTest::keyClick(quiz, Qt::Key(Qt::Key_1 + at)); // the number keys pick an option, the way the learner does
    c.answerShownCard(1); // a second report of the same question is ignored
    ASSERT_TRUE(waitUntil([&] { return c.panel() == nullptr; })) << "closes after the wait";
    const QJsonArray posted = reviews();
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(requestsTo("POST", "/api/reviews"), 1);
    EXPECT_EQ(std::make_tuple(posted[0][QStringLiteral("card_id")].toInteger(), posted[0][QStringLiteral("quality")].toInt(),
                              posted[0][QStringLiteral("account")].toString()), std::make_tuple(q.cardId, 4, StudyService::demoEmail()));
    EXPECT_EQ(d.popupTimer() ? d.popupTimer()->interval() : -1, Timing::interval(Timing::popupInterval).count()) << "the next delay is drawn";
}

// A fetch that brings no card ends the session at once, exactly once, with no panel.
TEST_F(Session, AFetchWithoutACardShowsNothing)
{
    // {fault on the card list, the "Error fetching cards: " lines it gives}
    const std::pair<QJsonObject, QStringList> rows[] = {
        {{{"mode", "body"}, {"path", "/api/trouble-cards"}, {"body", "{\"data\": []}"}}, {}},
        // A server error whose text mentions "unauthorized" is no refused login.
        {{{"mode", "status"}, {"status", 500}, {"path", "/api/trouble-cards"}, {"body", "unauthorized 401"}},
         {"Error fetching cards: serverError(500, \"unauthorized 401\")"}},
    };
    for (const auto& [fault, errors] : rows) {
        dismissals = 0;
        service->fault(fault);
        auto c = startCard();
        ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
        EXPECT_EQ(c->panel(), nullptr);
        EXPECT_EQ(logs.startingWith(QStringLiteral("Error fetching cards: ")), errors);
        EXPECT_TRUE(!errors.isEmpty() || logs.contains(QStringLiteral("fetched 0 cards")));
        drainEvents();
        EXPECT_EQ(dismissals, 1);
    }
}

TEST_F(Session, ARefusedStoredLoginTurnsIntoTheLoginFormThenTheCycleWaits)
{
    d.applicationDidFinishLaunching();
    // The launch reads the keyring on a worker; under this scale a loaded
    // machine can time that read out and leave the keyring alone for a while.
    ASSERT_TRUE(waitUntil([&] { return !d.readingSignedInState(); }));
    KeychainService::retryNow();
    // The token expires and the stored password no longer works.
    KeychainService::saveCredentials(StudyService::demoEmail(), QStringLiteral("wrong password"));
    service->expireTokens();
    d.showCardNow();
    ASSERT_TRUE(waitUntil([&] { return contentClass(d.popupController()) == QStringLiteral("LoginView"); }));
    EXPECT_EQ(logs.startingWith(QStringLiteral("Error fetching cards: ")),
              QStringList {QStringLiteral("Error fetching cards: serverError(401, \"Login failed\")")});
    PopupWindowController& c = *d.popupController();
    QPointer<QTimer> timerBefore = d.popupTimer();
    fillLogin(&c, StudyService::demoEmail(), StudyService::demoPassword());
    ASSERT_TRUE(waitUntil([&] { return c.panel() == nullptr; })) << "a successful login closes the panel";
    EXPECT_EQ(d.popupController(), &c) << "no card is shown at once";
    EXPECT_TRUE(d.popupTimer() && d.popupTimer() != timerBefore.data()) << "the cycle waits for a new delay";
    EXPECT_TRUE(waitUntil([&] { return menuText(d, 200) == StudyService::demoEmail(); })) << "the account label follows the new login";
}

// Every way a shown card ends: each ends its session exactly once and closes its panel.
TEST_F(Session, EverySessionEndsOnceAndClosesItsPanel)
{
    using Act = std::function<void(std::shared_ptr<PopupWindowController>&)>;
    // {what, what happens while asking, reviews posted, reviews stored}
    const std::tuple<const char*, Act, int, int> rows[] = {
        {"review fails", [this](auto& c) {
             service->fault({{"mode", "status"}, {"status", 500}, {"path", "/api/reviews"}, {"body", "review store down"}});
             c->answerShownCard(3); }, 1, 0},
        {"no answer", [](auto&) {}, 0, 0},
        {"answer after the time-out", [this](auto& c) {
             c->fireAutoDismissNow();
             ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
             c->answerShownCard(4);
         }, 0, 0},
        {"controller released", [](auto& c) { c.reset(); }, 0, 0}, // a newer panel replaced it
        {"answer while the time-out fires", [this](auto& c) {
             c->fireAutoDismissNow(); // the time-out is on its way through the queue
             c->answerShownCard(4);         // and the learner answers just then
             drainEvents();
             EXPECT_TRUE(c->panel() && dismissals == 0) << "the time-out must not close the panel under the answer";
         }, 1, 1},
    };
    for (const auto& [what, act, posted, stored] : rows) {
        SCOPED_TRACE(what);
        service->reset();
        dismissals = 0;
        auto c = startCard();
        ASSERT_TRUE(waitUntil([&] { return asking(c.get()); }));
        QPointer<PopupPanel> panel = c->panel();
        act(c);
        ASSERT_TRUE(waitUntil([&] { return dismissals >= 1; }));
        drainEvents();
        EXPECT_TRUE(panel.isNull() && (!c || !c->panel()));
        EXPECT_EQ(std::make_tuple(dismissals, requestsTo("POST", "/api/reviews"), reviews().size()), std::make_tuple(1, posted, qsizetype(stored)))
            << "dismissals, reviews posted, reviews stored";
    }
    EXPECT_TRUE(logs.contains(QStringLiteral("Error submitting review: serverError(500, \"review store down\")")));
}

// A session answered while paused, or before a switch of account, ends
// without starting the cycle again; signing in on the login form the switch
// leaves shows a card at once and names the new account.
TEST_F(Session, AnAnsweredCardRestartsNoStoppedCycleAndASignInShowsACard)
{
    d.applicationDidFinishLaunching();
    d.togglePause();
    d.showCardNow();
    ASSERT_TRUE(waitUntil([&] { return asking(d.popupController()); }));
    QPointer<PopupWindowController> paused = d.popupController();
    paused->answerShownCard(4);
    ASSERT_TRUE(waitUntil([&] { return paused->panel() == nullptr; }));
    drainEvents();
    EXPECT_EQ(std::make_tuple(d.popupTimer(), d.isPaused(), menuText(d, 100), reviews().size()),
              std::make_tuple(nullptr, true, QStringLiteral("Resume"), qsizetype(1))) << "no timer, still paused";

    d.togglePause();
    d.showCardNow();
    ASSERT_TRUE(waitUntil([&] { return asking(d.popupController()); }));
    QPointer<PopupWindowController> answered = d.popupController();
    answered->answerShownCard(4);
    d.switchAccount(); // while the review is on its way
    ASSERT_TRUE(waitUntil([&] { return answered.isNull(); })) << "the answered session ran to its end";
    drainEvents();
    EXPECT_EQ(d.popupTimer(), nullptr) << "no timer under the login form";
    ASSERT_EQ(contentClass(d.popupController()), QStringLiteral("LoginView"));

    const int cardsShown = logs.count(QStringLiteral("showCard called"));
    fillLogin(d.popupController(), StudyService::secondEmail(), StudyService::secondPassword());
    ASSERT_TRUE(waitUntil([&] { return asking(d.popupController()); })) << "a card at once";
    EXPECT_TRUE(waitUntil([&] { return menuText(d, 200) == StudyService::secondEmail(); })) << menuText(d, 200).toStdString();
    EXPECT_EQ(logs.count(QStringLiteral("showCard called")), cardsShown + 1);
}

// A timed popup never replaces a form the learner is working in: it waits
// until the form is closed or left alone, then comes after a pause.
TEST_F(Session, ATimedPopupWaitsForTheFormTheLearnerIsWorkingIn)
{
    const Timing::ScopedScale faster(0.01, 0.1); // a form counts as left after 1.8 s, the popup follows 0.3 s later
    d.applicationDidFinishLaunching();
    auto panel = [&] { return d.popupController()->panel(); };
    auto view = [&] { return panel()->content(); };
    // {the form, how it is opened, where the learner types, how it is left (nothing: left alone)}
    using Step = std::function<void()>;
    const std::tuple<const char*, Step, std::function<QWidget*()>, Step> rows[] = {
        {"quick note", [&] { d.showQuickNote(); }, [&] { return view()->findChild<QPlainTextEdit*>(); }, nullptr},
        {"journal entry being edited", [&] {
             d.showJournalList();
             auto* journal = qobject_cast<JournalListView*>(view());
             ASSERT_TRUE(waitUntil([&] { return !journal->entries().isEmpty(); }));
             journal->startEditing(journal->entries().first());
         }, [&] { return view()->findChild<QPlainTextEdit*>(QStringLiteral("contentEditor")); }, [&] { panel()->close(); }},
        {"settings form", [&] { d.showSettings(); }, [&] { return qobject_cast<SettingsView*>(view())->minSlider(); },
         [&] { qobject_cast<SettingsView*>(view())->cancelButton()->click(); }},
        // Signed out, the popup is the login form itself.
        {"login form", [&] { KeychainService::clearAll(); d.showJournalList(); }, [&] { return view()->findChild<QLineEdit*>(QStringLiteral("email")); },
         [&] { panel()->close(); }},
    };
    for (const auto& [form, open, field, leave] : rows) {
        SCOPED_TRACE(form);
        open();
        drainEvents(); // the card it replaced ends
        ASSERT_TRUE(field());
        QElapsedTimer untouched;
        QTest::keyClicks(field(), QStringLiteral("4 words"));
        untouched.start();
        QPointer<PopupPanel> working = panel();
        if (QLatin1String(form) == QLatin1String("quick note"))
            open(); // the menu again brings the same editor forward
        const int popups = lines("showPopup called");
        popupDueNow();
        ASSERT_TRUE(waitUntil([&] { return logs.contains(QStringLiteral("Popup deferred: the learner is working in the ") + form); }));
        EXPECT_TRUE(working && working->isVisible() && lines("showPopup called") == popups) << "the form was replaced";
        EXPECT_EQ(std::make_pair(d.deferredFor(), d.cycleProblem()), std::make_pair(QString::fromLatin1(form), QString()));
        QElapsedTimer left;
        if (leave)
            leave();
        left.start();
        ASSERT_TRUE(waitUntil([&] { return lines("showPopup called") > popups; }));
        EXPECT_GE(left.elapsed(), Timing::scaled(Timing::afterDeferral) * 1000);
        EXPECT_TRUE(leave || untouched.elapsed() >= Timing::scaled(Timing::formLeftAlone + Timing::afterDeferral) * 1000);
    }
}

// A controller replaced while its card is fetched shows nothing more, takes
// no focus, builds no login form, and its session still ends so the cycle goes on.
TEST_F(Session, AReplacedCardShowsNothingAndTheCycleGoesOn)
{
    d.applicationDidFinishLaunching();
    using Step = std::function<void()>;
    // {what the learner does while the fetch is slow, the fetch refused (also after signing in again), what is on screen then}
    const std::tuple<const char*, Step, bool, const char*> rows[] = {
        {"Quick Note, the fetch refused", [&] { d.showQuickNote(); }, true, "QuickNoteView"},
        {"Quick Note, cards fetched", [&] { d.showQuickNote(); }, false, "QuickNoteView"},
        {"Show Card Now, both fetches refused", [&] { d.showCardNow(); }, true, "LoginView"},
        {"Switch Account..., cards fetched", [&] { d.switchAccount(); }, false, "LoginView"},
    };
    for (const auto& [what, act, refused, left] : rows) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(signInThroughClient());
        if (refused) {
            KeychainService::saveCredentials(StudyService::demoEmail(), QStringLiteral("wrong password"));
            service->expireTokens();
        }
        service->fault({{"mode", "delay"}, {"delayMs", 300}, {"path", "/api/trouble-cards"}});
        const int cards = lines("showCard called"), fetches = lines("fetched ") + lines("Error fetching cards: ");
        popupDueNow();
        ASSERT_TRUE(waitUntil([&] { return lines("showCard called") > cards; }));
        const int presented = logs.count(QStringLiteral("presentPanel called"));
        act();
        const int more = lines("showCard called") - cards; // Show Card Now fetches again
        ASSERT_TRUE(waitUntil([&] { return lines("fetched ") + lines("Error fetching cards: ") == fetches + more; }));
        drainEvents();
        EXPECT_EQ(shownPanels(), QStringList {QString::fromLatin1(left)});
        EXPECT_EQ(logs.count(QStringLiteral("presentPanel called")), presented + 1) << "the replaced controller showed a panel";
        EXPECT_EQ(d.cycleProblem(), QString());
    }
}

// No wait of the cycle ends early, and each keeps its real-valued length:
// the popup delay, the unanswered card, the result after an answer.
TEST_F(Session, PopupDelayTimeOutAndResultNeverEndEarly)
{
    d.applicationDidFinishLaunching();
    // When panels appear and go, on one clock.
    struct Watch : QObject {
        QElapsedTimer clock;
        qint64 shown = -1, hidden = -1;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (qobject_cast<PopupPanel*>(o) && (e->type() == QEvent::Show || e->type() == QEvent::Hide))
                (e->type() == QEvent::Show ? shown : hidden) = clock.nsecsElapsed();
            return false;
        }
    } watch;
    watch.clock.start();
    qApp->installEventFilter(&watch);
    // {what, scale, how it starts and is marked, the wait it must last (agent seconds), when it ended}
    using Start = std::function<qint64()>;
    const std::tuple<const char*, double, Start, std::function<double()>, std::function<qint64()>> rows[] = {
        {"popup delay", 1.0, [&] {
             const qint64 at = watch.clock.nsecsElapsed();
             d.setMinInterval(0.1);
             d.setMaxInterval(0.3);
             d.scheduleNextPopup();
             d.setMinInterval(300);
             d.setMaxInterval(300);
             return at;
         }, [&] { return d.lastDelay(); }, [&] { return watch.shown; }},
        {"unanswered card", 0.007, [&] {
             popupDueNow();
             EXPECT_TRUE(waitUntil([&] { return asking(d.popupController()); }));
             return watch.shown;
         }, [] { return Timing::autoDismiss; }, [&] { return watch.hidden; }},
        {"result after an answer", 0.05, [&] {
             popupDueNow();
             EXPECT_TRUE(waitUntil([&] { return asking(d.popupController()); }));
             const qint64 at = watch.clock.nsecsElapsed();
             d.popupController()->answerShownCard(4);
             return at;
         }, [] { return Timing::afterAnswer; }, [&] { return watch.hidden; }},
    };
    for (const auto& [what, scale, start, wait, ended] : rows) {
        const Timing::ScopedScale scaled(scale, 0.1);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(what);
            watch.shown = watch.hidden = -1;
            const qint64 from = start();
            const qint64 last = ended();
            ASSERT_TRUE(waitUntil([&] { return ended() != last && ended() > from; }));
            EXPECT_GE(double(ended() - from) / 1e9, Timing::scaled(wait())) << "ended early";
            d.popupController()->dismissPanel();
            drainEvents(); // its session ends
        }
    }
    qApp->removeEventFilter(&watch);
}
