#pragma once
#include "core/Timing.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class AnswerOutbox;
class PopupWindowController;
class PresenceMonitor;
class QAction;
class QMenu;
class QWidget;
class TrayIcon;

// The one long-lived object of the agent: the tray icon and its menu, the
// popup cycle (one pending random delay at most, pause; a timed popup held
// back while the learner works in a form) and the newest panel.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    double minInterval() const { return minInterval_; }
    void setMinInterval(double seconds) { minInterval_ = seconds; }
    double maxInterval() const { return maxInterval_; }
    void setMaxInterval(double seconds) { maxInterval_ = seconds; }

    void applicationDidFinishLaunching();
    void setupStatusItem();
    void showCardNow();
    void showQuickNote();
    void showJournalList();
    // A second launch of the agent reached this one.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void togglePause();
    void showSettings();
    void switchAccount();
    void quitApp();
    // Reads who is signed in (off this thread); the menu's label and the
    // outbox's account follow the answer.
    void updateAccountMenu();
    void scheduleNextPopup();
    // Shows a card now (the login form without a token); the card's end
    // draws the next delay.
    void showPopup();

    // Empty while the cycle goes on by itself; otherwise what is wrong. While
    // signed in and not paused, at least one holds: a popup timer is pending;
    // a card session runs within Timing::cardSessionLimit(); a deferred popup
    // waits for a named form or condition; a login form is on screen.
    QString cycleProblem() const;

    // For tests and the benchmark: what the cycle and the tray look like now.
    bool isPaused() const { return isPaused_; }
    QMenu* menu() const { return menu_; }
    TrayIcon* statusItem() const { return statusItem_; }
    AnswerOutbox* outbox() const { return outbox_; }
    QTimer* popupTimer() const { return popupTimer_; }
    double lastDelay() const { return lastDelay_; }
    PopupWindowController* popupController() const { return popupController_.get(); }
    QString startupNotice() const { return startupNotice_; }
    // Whether a keyring read for the signed-in state is still out.
    bool readingSignedInState() const { return readsInFlight_ > 0; }
    // The form or condition a due popup waits for; empty when none is deferred.
    QString deferredFor() const { return deferredFor_; }

private:
    void popupDue();
    // Defers a due popup for a form being worked in or for nobody seeing the
    // screen; false when it may come now.
    bool holdPopupBack();
    void deferPopup(const QString& waitFor, double secondsLeft, const QString& line);
    void recheckDeferred();
    void cancelDeferral();
    void stopPopupTimer();
    void startPopupTimer(double seconds);
    void cardSessionEnded(quint64 session, quint64 generation);
    void showLogin();
    // Opens a menu's panel once the signed-in state is known, or the login form.
    void openSignedIn(const char* viewClass, void (PopupWindowController::*show)(std::function<void()>));
    bool raiseIfShown(const char* viewClass);
    void adopt(std::shared_ptr<PopupWindowController> controller);
    QAction* actionWithTag(int tag) const;
    // The token's presence and the account, read on a worker thread and kept.
    void readSignedInState(std::function<void(bool hasToken)> then);
    void whenSignedInState(std::function<void(bool hasToken)> then);
    void showAccount();
    void showPopupSignedIn(bool hasToken, bool activate = true);
    void updateToolTip(int waitingAnswers);

    TrayIcon* statusItem_ = nullptr;
    AnswerOutbox* outbox_ = nullptr;
    std::shared_ptr<PopupWindowController> popupController_;
    QPointer<QTimer> popupTimer_;
    // A due popup held back for the form named here until the timer says the
    // form was left alone long enough (or it closes first).
    QString deferredFor_;
    bool deferredForPresence_ = false;
    PresenceMonitor* presence_ = nullptr;
    QPointer<QTimer> deferralCheck_;
    // Card sessions of this account whose onDismiss has not run, by number,
    // with the time each has run.
    std::map<quint64, QElapsedTimer> sessions_;
    quint64 lastSession_ = 0;
    bool isPaused_ = false;
    double minInterval_ = Timing::popupInterval;
    double maxInterval_ = Timing::popupInterval;

    QMenu* menu_ = nullptr;
    double lastDelay_ = 0;
    QString startupNotice_;
    // Shown where no tray balloon can say it; closed with the delegate.
    QPointer<QWidget> noticeBox_;
    // Bumped by switchAccount: a card session of the previous account that
    // ends later must not restart the cycle under the login form.
    quint64 cycleGeneration_ = 0;
    QString account_;
    bool accountKnown_ = false;
    int readsInFlight_ = 0;
    quint64 lastRead_ = 0;
    quint64 shownRead_ = 0;
};
