#include "app/PopupWindowController.h"

#include "api/AnswerOutbox.h"
#include "api/CardService.h"
#include "app/CardPick.h"
#include "app/LoginView.h"
#include "app/PopupPanel.h"
#include "app/RandomSource.h"
#include "app/SettingsView.h"
#include "core/Log.h"
#include "core/Timing.h"
#include "journal/JournalListView.h"
#include "journal/QuickNoteView.h"
#include "review/QuizView.h"
#include "review/TypingView.h"

#include <QApplication>
#include <QMetaObject>

// One card session: its phase, the caller's onDismiss (called at most once)
// and the auto-dismiss timer. Its work in flight (fetch, review, waits) runs
// on the application, not on the controller, so a session whose controller
// was replaced still ends and lets the cycle go on.
struct CardSession {
    CardSessionState state;
    std::function<void()> onDismiss;
    std::function<void(int)> answer;
    QPointer<QTimer> timer;

    void end()
    {
        if (timer)
            timer->deleteLater();
        answer = nullptr;
        auto cb = std::move(onDismiss);
        onDismiss = nullptr;
        if (cb)
            cb();
    }
};

namespace {

constexpr QSize kCardSize(420, 340);
constexpr QSize kLoginSize(420, 340);
constexpr QSize kSettingsSize(420, 340);
constexpr QSize kQuickNoteSize(420, 480);
constexpr QSize kJournalSize(420, 520);

// Through the event queue: the end may be decided inside the owner's own
// call that replaces or closes the panel.
template <class Step>
void endLater(std::shared_ptr<CardSession> session, Step step)
{
    QMetaObject::invokeMethod(
        qApp,
        [session, step] {
            if ((session->state.*step)())
                session->end();
        },
        Qt::QueuedConnection);
}

void postTimeout(std::weak_ptr<PopupWindowController> weak, std::shared_ptr<CardSession> session)
{
    // Like the timer's own block, the work goes through the event queue once
    // more; an answer that slips in before it runs wins.
    QMetaObject::invokeMethod(
        qApp,
        [weak, session] {
            if (!session->state.timeOut())
                return;
            if (auto c = weak.lock())
                c->dismissPanel();
            session->end();
        },
        Qt::QueuedConnection);
}

} // namespace

std::shared_ptr<PopupWindowController> PopupWindowController::create()
{
    // deleteLater: the last owner may let go from inside one of our own
    // callbacks or signals.
    return std::shared_ptr<PopupWindowController>(new PopupWindowController, [](PopupWindowController* p) {
        p->release();
        p->deleteLater();
    });
}

PopupWindowController::PopupWindowController() = default;

PopupWindowController::~PopupWindowController()
{
    closePanel();
}

void PopupWindowController::release()
{
    closePanel();
    if (auto s = session_.lock())
        endLater(s, &CardSessionState::release);
}

void PopupWindowController::showCard(std::function<void()> onDismiss, bool activate)
{
    activateCard_ = activate;
    log(QStringLiteral("showCard called"));
    auto session = std::make_shared<CardSession>();
    session->onDismiss = std::move(onDismiss);
    session_ = session;
    shown_.reset();
    std::weak_ptr<PopupWindowController> weak = weak_from_this();
    CardService::fetchTroubleCards(10, qApp, [weak, session](Result<QList<TroubleCard>> result) {
        auto self = weak.lock();
        if (!result.ok()) {
            const Error& error = result.error();
            const APIError* api = asAPIError(error);
            log(QStringLiteral("Error fetching cards: ") + textForm(error));
            if (self && api && api->isRefusedLogin() && session->state.loginShown())
                self->showLoginFor(session);
            else if (session->state.finish())
                session->end();
            return;
        }
        // The service answers again: answers kept while it did not go first.
        if (AnswerOutbox* outbox = AnswerOutbox::current())
            outbox->flush();
        const QList<TroubleCard>& cards = result.value();
        log(QStringLiteral("fetched ") + QString::number(cards.size()) + QStringLiteral(" cards"));
        const auto plan = self ? CardPick::plan(cards, Random::source()) : std::nullopt;
        if (!plan) {
            if (session->state.finish())
                session->end();
            return;
        }
        if (plan->kind == CardPick::QuestionKind::multipleChoice)
            self->showQuizView(plan->card, plan->others, session);
        else
            self->showTypingView(plan->card, session);
    });
}

void PopupWindowController::showLoginFor(std::shared_ptr<CardSession> session)
{
    // After signing in again the cycle waits for its next delay; so it does
    // when the form is closed without a sign-in.
    showLogin([session] {
        if (session->state.finish())
            session->end();
    });
    connect(panel_.data(), &PopupPanel::closed, panel_.data(), [session] { endLater(session, &CardSessionState::finish); });
}

void PopupWindowController::showLogin(std::function<void()> onDismiss)
{
    std::weak_ptr<PopupWindowController> weak = weak_from_this();
    auto onSuccess = [weak, onDismiss] {
        if (auto c = weak.lock()) {
            c->dismissPanel();
            emit c->loginSucceeded();
        }
        if (onDismiss)
            onDismiss();
    };
    presentPanel(new LoginView(onSuccess), kLoginSize);
}

void PopupWindowController::showSettings(double minInterval, double maxInterval,
                                         std::function<void(double, double)> onSave)
{
    std::weak_ptr<PopupWindowController> weak = weak_from_this();
    const int minMinutes = static_cast<int>(minInterval / 60.0);
    const int maxMinutes = static_cast<int>(maxInterval / 60.0);
    auto* view = new SettingsView(
        minMinutes, maxMinutes,
        [weak, onSave](int newMin, int newMax) {
            if (onSave)
                onSave(double(newMin * 60), double(newMax * 60));
            if (auto c = weak.lock())
                c->dismissPanel();
        },
        [weak] {
            if (auto c = weak.lock())
                c->dismissPanel();
        });
    presentPanel(view, kSettingsSize);
}

void PopupWindowController::showQuizView(const TroubleCard& card, QList<TroubleCard> otherCards,
                                         std::shared_ptr<CardSession> session)
{
    const CardPick::QuizQuestion quiz = CardPick::buildQuiz(card, std::move(otherCards), Random::source());
    auto onAnswer = answerCallback(card, session);
    auto* view = new QuizView(quiz.question, quiz.options, quiz.correctAnswer, onAnswer);
    session->state.questionShown();
    shown_ = ShownQuestion {CardPick::QuestionKind::multipleChoice, card.id, quiz.question, quiz.options,
                            quiz.correctAnswer};
    presentPanel(view, kCardSize, Timing::cardInputGuard, activateCard_);
    startAutoDismissTimer(session);
}

void PopupWindowController::showTypingView(const TroubleCard& card, std::shared_ptr<CardSession> session)
{
    const CardPick::TypedQuestion typed = CardPick::buildTyped(card);
    auto onAnswer = answerCallback(card, session);
    auto* view = new TypingView(typed.prompt, typed.expectedAnswer, onAnswer);
    session->state.questionShown();
    shown_ = ShownQuestion {CardPick::QuestionKind::typedAnswer, card.id, typed.prompt, {}, typed.expectedAnswer};
    presentPanel(view, kCardSize, Timing::cardInputGuard, activateCard_);
    startAutoDismissTimer(session);
}

std::function<void(int)> PopupWindowController::answerCallback(const TroubleCard& card,
                                                               std::shared_ptr<CardSession> session)
{
    std::weak_ptr<PopupWindowController> weak = weak_from_this();
    const std::int64_t cardId = card.id;
    // The session is held weakly too: the view must not keep a finished
    // session (and its caller's callback) alive.
    std::weak_ptr<CardSession> weakSession = session;
    auto cb = [weak, weakSession, cardId](int quality) {
        auto c = weak.lock();
        auto s = weakSession.lock();
        if (!c || !s)
            return;
        if (!s->state.answer())
            return;
        if (s->timer)
            s->timer->stop();
        c->handleAnswer(cardId, quality, s);
    };
    session->answer = cb;
    return cb;
}

void PopupWindowController::handleAnswer(std::int64_t cardId, int quality, std::shared_ptr<CardSession> session)
{
    std::weak_ptr<PopupWindowController> weak = weak_from_this();
    auto afterSend = [weak, session](Result<void> result) {
        if (!result.ok())
            log(QStringLiteral("Error submitting review: ") + textForm(result.error()));
        Timing::startOneShot(Timing::afterAnswer, qApp, [weak, session] {
            if (!session->state.finish())
                return;
            if (auto c = weak.lock())
                c->dismissPanel();
            session->end();
        });
    };
    // The application as context: the session ends even when this
    // controller was replaced while the answer was out.
    if (AnswerOutbox* outbox = AnswerOutbox::current())
        outbox->submit(cardId, quality, qApp, std::move(afterSend));
    else
        CardService::submitReview(cardId, quality, qApp, std::move(afterSend));
}

void PopupWindowController::startAutoDismissTimer(std::shared_ptr<CardSession> session)
{
    // Owned by the session, not by this controller; the application is its
    // parent only so that a card still pending at quit is freed with it.
    std::weak_ptr<PopupWindowController> weak = weak_from_this();
    QTimer* timer = Timing::startOneShot(Timing::autoDismiss, qApp, [weak, session] { postTimeout(weak, session); });
    session->timer = timer;
    dismissTimer_ = timer;
}

void PopupWindowController::fireAutoDismissNow()
{
    if (auto s = session_.lock(); s && dismissTimer_) {
        dismissTimer_->stop();
        postTimeout(weak_from_this(), s);
    }
}

void PopupWindowController::answerShownCard(int quality)
{
    if (auto s = session_.lock(); s && s->answer)
        s->answer(quality);
}

std::function<void()> PopupWindowController::closePanelThen(std::function<void()> onDismiss)
{
    // Holds the controller weakly: a view that outlives it still reports to the caller.
    std::weak_ptr<PopupWindowController> weak = weak_from_this();
    return [weak, onDismiss = std::move(onDismiss)] {
        if (auto c = weak.lock())
            c->dismissPanel();
        if (onDismiss)
            onDismiss();
    };
}

void PopupWindowController::showQuickNote(std::function<void()> onDismiss)
{
    presentPanel(new QuickNoteView(closePanelThen(std::move(onDismiss))), kQuickNoteSize);
}

void PopupWindowController::showJournalList(std::function<void()> onDismiss)
{
    presentPanel(new JournalListView(closePanelThen(std::move(onDismiss))), kJournalSize);
}

void PopupWindowController::presentPanel(QWidget* content, QSize size, double inputGuard, bool activate)
{
    closePanel();
    log(QStringLiteral("presentPanel called"));
    auto* p = new PopupPanel(content, size);
    p->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    if (inputGuard > 0)
        p->guardInput(inputGuard);
    connect(p, &PopupPanel::closed, this, &PopupWindowController::panelClosed);
    StickyWindow::prepare(p);
    p->place();
    p->show();
    // Once shown the platform knows the frame (offscreen at once, X11 when the
    // window manager has framed it; the panel re-places itself then).
    p->place();
    StickyWindow::request(p);
    p->raise();
    if (activate)
        p->activateWindow();
    panel_ = p;
    p->whenPlaced([](QRect f) {
        log(QStringLiteral("panel shown at (%1, %2, %3, %4)").arg(f.x()).arg(f.y()).arg(f.width()).arg(f.height()));
    });
}

void PopupWindowController::closePanel()
{
    if (QPointer<PopupPanel> p = std::exchange(panel_, nullptr)) {
        p->close();
        if (p)
            p->deleteLater();
    }
}

void PopupWindowController::dismissPanel()
{
    closePanel();
    if (auto s = session_.lock(); s && s->state.phase() == CardSessionState::Phase::asking)
        endLater(s, &CardSessionState::timeOut);
}

std::optional<PopupWindowController::Work> PopupWindowController::workInProgress() const
{
    if (!panel_ || !panel_->isVisible())
        return std::nullopt;
    const std::optional<double> since = panel_->secondsSinceInput();
    const double left = since ? Timing::formLeftAlone - *since : 0;
    if (left <= 0)
        return std::nullopt;
    QWidget* view = panel_->content();
    if (qobject_cast<QuickNoteView*>(view))
        return Work {QStringLiteral("quick note"), left};
    if (auto* journal = qobject_cast<JournalListView*>(view); journal && journal->mode().editing)
        return Work {QStringLiteral("journal entry being edited"), left};
    if (qobject_cast<LoginView*>(view))
        return Work {QStringLiteral("login form"), left};
    if (qobject_cast<SettingsView*>(view))
        return Work {QStringLiteral("settings form"), left};
    return std::nullopt;
}
