#pragma once
#include "api/CardRecords.h"
#include "app/CardPick.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "app/PopupPanel.h"
class QWidget;
struct CardSession;

// The controller of one floating panel: a card session, the login form, the
// settings form, the quick note editor or the journal browser. Made through
// create(), and only its owner holds it: everything in flight holds it weakly.
// Once released it closes its panel and never shows another; its card
// session ends there (once), and an answer already given still goes out.
class PopupWindowController : public QObject, public std::enable_shared_from_this<PopupWindowController> {
    Q_OBJECT
public:
    static std::shared_ptr<PopupWindowController> create();
    ~PopupWindowController() override;

    // A timed card (`activate` false) appears without taking the keyboard from
    // the window the learner types in; a click on it gives it the focus.
    void showCard(std::function<void()> onDismiss, bool activate = true);
    void showLogin(std::function<void()> onDismiss);
    void showSettings(double minInterval, double maxInterval, std::function<void(double, double)> onSave);
    void showQuickNote(std::function<void()> onDismiss);
    void showJournalList(std::function<void()> onDismiss);
    // Takes ownership of content. A positive `inputGuard` (seconds) makes the
    // panel ignore the learner's keys and clicks that long after it appears.
    void presentPanel(QWidget* content, QSize size, double inputGuard = 0, bool activate = true);
    // Closes the panel; a question still being asked ends unanswered.
    void dismissPanel();

    // The form the learner is working in, which a timed popup must not
    // replace: one changed within Timing::formLeftAlone (the quick note, a
    // journal entry being edited, the login or settings form).
    struct Work {
        QString panel;       // its name, for the log
        double secondsLeft;  // until it counts as left alone (unscaled, as in core/Timing.h)
    };
    std::optional<Work> workInProgress() const;

    PopupPanel* panel() const { return panel_; }
    QTimer* dismissTimer() const { return dismissTimer_; }

    // What the current card session asks (nothing before a question is shown).
    struct ShownQuestion {
        CardPick::QuestionKind kind = CardPick::QuestionKind::typedAnswer;
        std::int64_t cardId = 0;
        QString text;           // question (multiple choice) or prompt (typed)
        QStringList options;    // multiple choice only
        QString correctAnswer;  // the correct option, or the expected typed answer
    };
    std::optional<ShownQuestion> shownQuestion() const { return shown_; }
    // Does what the auto-dismiss timer does when it fires, at once: posts the
    // time-out to the event queue.
    void fireAutoDismissNow();
    // Reports a quality the way the shown view would.
    void answerShownCard(int quality);

signals:
    // Any successful sign-in through a panel of this controller.
    void loginSucceeded();
    // Its panel was closed or hidden.
    void panelClosed();

private:
    PopupWindowController();
    void release();
    void closePanel();
    std::function<void()> closePanelThen(std::function<void()> onDismiss);
    void showQuizView(const TroubleCard& card, QList<TroubleCard> otherCards, std::shared_ptr<CardSession> session);
    void showTypingView(const TroubleCard& card, std::shared_ptr<CardSession> session);
    std::function<void(int)> answerCallback(const TroubleCard& card, std::shared_ptr<CardSession> session);
    void handleAnswer(std::int64_t cardId, int quality, std::shared_ptr<CardSession> session);
    void startAutoDismissTimer(std::shared_ptr<CardSession> session);
    void showLoginFor(std::shared_ptr<CardSession> session);

    QPointer<PopupPanel> panel_;
    QPointer<QTimer> dismissTimer_;
    std::weak_ptr<CardSession> session_;
    std::optional<ShownQuestion> shown_;
    bool activateCard_ = true;
};
