#pragma once
#include "core/Timing.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class AnswerOutbox;
class PopupWindowController;
class QAction;
class QMenu;
class QWidget;
class TrayIcon;

// The one long-lived object of the agent: the tray icon and its menu, the
// popup cycle (one pending random delay at most, pause) and the newest panel.
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
    void updateAccountMenu();
    void scheduleNextPopup();
    void showPopup();

    // For tests and the benchmark: what the cycle and the tray look like now.
    bool isPaused() const { return isPaused_; }
    QMenu* menu() const { return menu_; }
    TrayIcon* statusItem() const { return statusItem_; }
    AnswerOutbox* outbox() const { return outbox_; }
    QTimer* popupTimer() const { return popupTimer_; }
    double lastDelay() const { return lastDelay_; }
    PopupWindowController* popupController() const { return popupController_.get(); }
    QString startupNotice() const { return startupNotice_; }

private:
    void showLogin();
    void adopt(std::shared_ptr<PopupWindowController> controller);
    QAction* actionWithTag(int tag) const;
    void readAccountInBackground();
    void updateToolTip(int waitingAnswers);

    TrayIcon* statusItem_ = nullptr;
    AnswerOutbox* outbox_ = nullptr;
    std::shared_ptr<PopupWindowController> popupController_;
    QPointer<QTimer> popupTimer_;
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
    // The label is first read when the menu opens, not at launch: the keyring
    // library then stays unloaded until it is needed.
    bool accountLabelPending_ = false;
};
