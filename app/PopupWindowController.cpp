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
// and the auto-dismiss timer, which outlives a released controller so a
// session whose controller was replaced still ends and lets the cycle go on.
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
    return std::shared_ptr<PopupWindowController>(new PopupWindowController,
                                                  [](PopupWindowController* p) { p->deleteLater(); });
}

PopupWindowController::PopupWindowController() = default;

PopupWindowController::~PopupWindowController()
{
    // A replaced controller takes its panel with it; a card's auto-dismiss
    // timer keeps running and still ends that session.
    if (panel_) {
        panel_->close();
        panel_->deleteLater();
    }
}

void PopupWindowController::showCard(std::function<void()> onDismiss)
{
    log(QStringLiteral("showCard called"));
    auto session = std::make_shared<CardSession>();
    session->onDismiss = std::move(onDismiss);
    session_ = session;
    shown_.reset();
    auto self = shared_from_this();
    CardService::fetchTroubleCards(10, this, [self, session](Result<QList<TroubleCard>> result) {
        if (!result.ok()) {
            const Error& error = result.error();
            const APIError* api = asAPIError(error);
            self->fetchFailed(textForm(error), api && api->isRefusedLogin(), session);
            return;
        }
        // The service answers again: answers kept while it did not go first.
        if (AnswerOutbox* outbox = AnswerOutbox::current())
            outbox->flush();
        const QList<TroubleCard>& cards = result.value();
        log(QStringLiteral("fetched ") + QString::number(cards.size()) + QStringLiteral(" cards"));
        const auto plan = CardPick::plan(cards, Random::source());
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

void PopupWindowController::fetchFailed(const QString& text, bool refusedLogin, std::shared_ptr<CardSession> session)
{
    log(QStringLiteral("Error fetching cards: ") + text);
    if (refusedLogin && session->state.loginShown()) {
        // After signing in again the cycle waits for its next delay.
        showLogin([session] {
            if (session->state.finish())
                session->end();
        });
        return;
    }
    if (session->state.finish())
        session->end();
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
    presentPanel(view, kCardSize);
    startAutoDismissTimer(session);
}

void PopupWindowController::showTypingView(const TroubleCard& card, std::shared_ptr<CardSession> session)
{
    const CardPick::TypedQuestion typed = CardPick::buildTyped(card);
    auto onAnswer = answerCallback(card, session);
    auto* view = new TypingView(typed.prompt, typed.expectedAnswer, onAnswer);
    session->state.questionShown();
    shown_ = ShownQuestion {CardPick::QuestionKind::typedAnswer, card.id, typed.prompt, {}, typed.expectedAnswer};
    presentPanel(view, kCardSize);
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
        if (c->dismissTimer_)
            c->dismissTimer_->stop();
        c->handleAnswer(cardId, quality, s);
    };
    session->answer = cb;
    return cb;
}

void PopupWindowController::handleAnswer(std::int64_t cardId, int quality, std::shared_ptr<CardSession> session)
{
    auto self = shared_from_this();
    auto afterSend = [self, session](Result<void> result) {
        if (!result.ok())
            log(QStringLiteral("Error submitting review: ") + textForm(result.error()));
        QTimer::singleShot(Timing::interval(Timing::afterAnswer), self.get(), [self, session] {
            if (!session->state.finish())
                return;
            self->dismissPanel();
            session->end();
        });
    };
    if (AnswerOutbox* outbox = AnswerOutbox::current())
        outbox->submit(cardId, quality, this, std::move(afterSend));
    else
        CardService::submitReview(cardId, quality, this, std::move(afterSend));
}

void PopupWindowController::startAutoDismissTimer(std::shared_ptr<CardSession> session)
{
    // Owned by the session, not by this controller; the application is its
    // parent only so that a card still pending at quit is freed with it.
    auto* timer = new QTimer(qApp);
    timer->setSingleShot(true);
    timer->setInterval(Timing::interval(Timing::autoDismiss));
    std::weak_ptr<PopupWindowController> weak = weak_from_this();
    QObject::connect(timer, &QTimer::timeout, timer, [weak, session] { postTimeout(weak, session); });
    session->timer = timer;
    dismissTimer_ = timer;
    timer->start();
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

void PopupWindowController::presentPanel(QWidget* content, QSize size)
{
    dismissPanel();
    log(QStringLiteral("presentPanel called"));
    auto* p = new PopupPanel(content, size);
    StickyWindow::prepare(p);
    p->place();
    p->show();
    // Once shown the platform knows the frame (offscreen at once, X11 when the
    // window manager has framed it; the panel re-places itself then).
    p->place();
    StickyWindow::request(p);
    p->raise();
    p->activateWindow();
    panel_ = p;
    p->whenPlaced([](QRect f) {
        log(QStringLiteral("panel shown at (%1, %2, %3, %4)").arg(f.x()).arg(f.y()).arg(f.width()).arg(f.height()));
    });
}

void PopupWindowController::dismissPanel()
{
    if (dismissTimer_) {
        dismissTimer_->stop();
        dismissTimer_->deleteLater();
    }
    dismissTimer_ = nullptr;
    if (panel_) {
        panel_->close();
        panel_->deleteLater();
    }
    panel_ = nullptr;
}
