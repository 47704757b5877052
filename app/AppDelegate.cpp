#include "app/AppDelegate.h"

#include "api/APIClient.h"
#include "api/AnswerOutbox.h"
#include "api/KeychainService.h"
#include "app/LoginView.h"
#include "app/PopupPanel.h"
#include "app/PopupWindowController.h"
#include "app/PresenceMonitor.h"
#include "app/RandomSource.h"
#include "app/TrayIcon.h"
#include "core/Log.h"
#include "ui/AppIcon.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QThreadPool>

#include <functional>
#include <utility>


namespace {
// Seconds a card session may run past its limit before the cycle counts as
// stopped: what a busy event loop can add to the session's timers.
constexpr double kLateTimerAllowance = 5;
constexpr int kPauseTag = 100;
constexpr int kAccountTag = 200;
constexpr int kSwitchAccountTag = 201;
} // namespace

AppDelegate::AppDelegate(QObject* parent) : QObject(parent), outbox_(new AnswerOutbox({}, this))
{
    connect(outbox_, &AnswerOutbox::pendingChanged, this, &AppDelegate::updateToolTip);
}

AppDelegate::~AppDelegate()
{
    // Released while every member is still there: its panel closing calls back.
    cancelDeferral();
    popupController_.reset();
    delete noticeBox_;
    delete statusItem_;
    delete menu_;
}

void AppDelegate::applicationDidFinishLaunching()
{
    setupStatusItem();
    presence_ = new PresenceMonitor(this);
    connect(presence_, &PresenceMonitor::changed, this, &AppDelegate::recheckDeferred);
    log(QStringLiteral("App launched"));
    // Who is signed in is known before anyone asks: the menu's label, the
    // outbox's account, and whether the first popup is a card or a login.
    updateAccountMenu();
    const QString problem = APIClient::baseURLProblem();
    if (!problem.isEmpty()) {
        // The agent keeps running; every backend call will fail until the
        // address is fixed, so say so once, plainly.
        startupNotice_ = tr("The study service address cannot be used: %1").arg(problem);
        log(startupNotice_);
        if (!statusItem_->showWarning(QStringLiteral("TavloPopup"), startupNotice_, 15000)) {
            auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("TavloPopup"), startupNotice_,
                                        QMessageBox::Ok);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->show();
            noticeBox_ = box;
        }
    }
    scheduleNextPopup();
}

void AppDelegate::setupStatusItem()
{
    menu_ = new QMenu;
    menu_->setAccessibleName(QStringLiteral("TavloPopup"));
    auto add = [this](const QString& title, const char* key, void (AppDelegate::*slot)()) {
        QAction* a = menu_->addAction(title);
        if (key)
            a->setShortcut(QKeySequence(QStringLiteral("Ctrl+") + QLatin1String(key)));
        if (slot)
            connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add(tr("Show Card Now"), "S", &AppDelegate::showCardNow);
    add(tr("Quick Note"), "N", &AppDelegate::showQuickNote);
    add(tr("My Journals"), "J", &AppDelegate::showJournalList);
    menu_->addSeparator();
    add(tr("Pause"), "P", &AppDelegate::togglePause)->setData(kPauseTag);
    add(tr("Settings..."), ",", &AppDelegate::showSettings);
    menu_->addSeparator();
    QAction* account = add(tr("Not logged in"), nullptr, nullptr);
    account->setData(kAccountTag);
    account->setEnabled(false);
    add(tr("Switch Account..."), nullptr, &AppDelegate::switchAccount)->setData(kSwitchAccountTag);
    menu_->addSeparator();
    add(tr("Quit"), "Q", &AppDelegate::quitApp);
    // Whichever kind of tray there is, now or later; both clicks show this menu.
    statusItem_ = new TrayIcon(menu_, tavloIcon(), this);
    updateToolTip(outbox_->pending());
    connect(menu_, &QMenu::aboutToShow, this, [this] {
        if (!accountKnown_)
            updateAccountMenu();
    });
}

QAction* AppDelegate::actionWithTag(int tag) const
{
    if (!menu_)
        return nullptr;
    for (QAction* a : menu_->actions())
        if (!a->isSeparator() && a->data().isValid() && a->data().toInt() == tag)
            return a;
    return nullptr;
}

void AppDelegate::updateAccountMenu()
{
    readSignedInState([](bool) {});
}

void AppDelegate::showAccount()
{
    if (QAction* item = actionWithTag(kAccountTag)) {
        item->setText(account_.isEmpty() ? tr("Not logged in") : account_);
        item->setEnabled(false);
    }
    outbox_->setAccount(account_);
}

void AppDelegate::readSignedInState(std::function<void(bool hasToken)> then)
{
    // A keyring call can take seconds (or wait on an unlock prompt): never
    // on this thread. Each request reads afresh (one made after a sign-in
    // must see it); an answer older than one already shown is not shown.
    ++readsInFlight_;
    const quint64 read = ++lastRead_;
    QPointer<AppDelegate> weak(this);
    const std::uint64_t generation = KeychainService::generation();
    QThreadPool::globalInstance()->start([weak, generation, read, then = std::move(then)]() mutable {
        const bool hasToken = KeychainService::getAccessToken().has_value();
        const auto credentials = KeychainService::getCredentials();
        const QString email = credentials ? credentials->email : QString();
        QMetaObject::invokeMethod(qApp, [weak, generation, read, hasToken, email, then = std::move(then)] {
            if (!weak)
                return;
            --weak->readsInFlight_;
            // A switch of account meanwhile makes this answer stale.
            const bool current = KeychainService::generation() == generation;
            if (current && read > weak->shownRead_) {
                weak->shownRead_ = read;
                weak->account_ = email;
                weak->accountKnown_ = true;
                weak->showAccount();
            }
            then(current ? hasToken : KeychainService::knownTokenPresence().value_or(false));
        });
    });
}

void AppDelegate::whenSignedInState(std::function<void(bool hasToken)> then)
{
    if (const auto known = KeychainService::knownTokenPresence())
        then(*known);
    else
        readSignedInState(std::move(then));
}

void AppDelegate::updateToolTip(int waitingAnswers)
{
    if (!statusItem_)
        return;
    statusItem_->setToolTip(waitingAnswers > 0 ? tr("TavloPopup: %n answer(s) waiting to be sent", nullptr, waitingAnswers)
                                               : QStringLiteral("TavloPopup"));
}

void AppDelegate::stopPopupTimer()
{
    if (popupTimer_) {
        popupTimer_->stop();
        popupTimer_->deleteLater();
    }
    popupTimer_ = nullptr;
}

void AppDelegate::startPopupTimer(double seconds)
{
    stopPopupTimer();
    popupTimer_ = Timing::startOneShot(seconds, this, [this] { popupDue(); });
}

void AppDelegate::scheduleNextPopup()
{
    cancelDeferral();
    lastDelay_ = Random::drawDelay(minInterval_, maxInterval_, Random::source());
    startPopupTimer(lastDelay_);
}

void AppDelegate::popupDue()
{
    log(QStringLiteral("Popup due"));
    if (isPaused_)
        return;
    // Whether the learner works in a form is asked once the keyring has
    // answered: they may have opened one while it was being read.
    QPointer<AppDelegate> weak(this);
    whenSignedInState([weak, generation = cycleGeneration_](bool hasToken) {
        if (!weak || weak->isPaused_ || weak->cycleGeneration_ != generation)
            return;
        if (weak->holdPopupBack())
            return;
        weak->showPopupSignedIn(hasToken, false);
    });
}

bool AppDelegate::holdPopupBack()
{
    if (auto work = popupController_ ? popupController_->workInProgress() : std::nullopt) {
        deferPopup(work->panel, work->secondsLeft, QStringLiteral("Popup deferred: the learner is working in the %1").arg(work->panel));
        deferredForPresence_ = false;
        return true;
    }
    if (const QString reason = presence_ ? presence_->reasonToWait() : QString(); !reason.isEmpty()) {
        deferPopup(reason, Timing::presenceRecheck, QStringLiteral("Popup deferred: %1").arg(reason));
        deferredForPresence_ = true;
        return true;
    }
    return false;
}

void AppDelegate::deferPopup(const QString& waitFor, double secondsLeft, const QString& line)
{
    if (deferredFor_ != waitFor)
        log(line);
    deferredFor_ = waitFor;
    if (deferralCheck_)
        deferralCheck_->deleteLater();
    QPointer<PresenceMonitor> presence = presence_;
    deferralCheck_ = Timing::startOneShot(secondsLeft, this, [this, presence] {
        // A change the desktop did not signal is still seen at the next check.
        if (presence && deferredForPresence_)
            presence->refresh();
        recheckDeferred();
    });
}

void AppDelegate::recheckDeferred()
{
    if (deferredFor_.isEmpty() || holdPopupBack())
        return;
    const double after = deferredForPresence_ ? Timing::afterPresence : Timing::afterDeferral;
    log(deferredForPresence_ ? QStringLiteral("No longer so: %1; the deferred popup follows in %2 s").arg(deferredFor_).arg(after)
                             : QStringLiteral("The %1 was left; the deferred popup follows in %2 s").arg(deferredFor_).arg(after));
    cancelDeferral();
    startPopupTimer(after);
}

void AppDelegate::cancelDeferral()
{
    deferredFor_.clear();
    if (deferralCheck_) {
        deferralCheck_->stop();
        deferralCheck_->deleteLater();
    }
    deferralCheck_ = nullptr;
}

void AppDelegate::adopt(std::shared_ptr<PopupWindowController> controller)
{
    // Every successful sign-in shows who is signed in, whichever panel did it.
    connect(controller.get(), &PopupWindowController::loginSucceeded, this, &AppDelegate::updateAccountMenu);
    connect(controller.get(), &PopupWindowController::panelClosed, this, &AppDelegate::recheckDeferred);
    popupController_ = std::move(controller);
}

void AppDelegate::showPopup()
{
    QPointer<AppDelegate> weak(this);
    whenSignedInState([weak](bool hasToken) {
        if (weak)
            weak->showPopupSignedIn(hasToken);
    });
}

void AppDelegate::showPopupSignedIn(bool hasToken, bool activate)
{
    log(QStringLiteral("showPopup called, token: ") + (hasToken ? QStringLiteral("exists") : QStringLiteral("nil")));
    if (!hasToken) {
        showLogin();
        return;
    }
    auto controller = PopupWindowController::create();
    adopt(controller);
    // The card takes the place of a pending or deferred popup; its end draws
    // the next delay.
    stopPopupTimer();
    cancelDeferral();
    const quint64 session = ++lastSession_;
    sessions_[session].start();
    log(QStringLiteral("Card session %1 started").arg(session));
    QPointer<AppDelegate> weak(this);
    controller->showCard(
        [weak, session, generation = cycleGeneration_] {
        log(QStringLiteral("Card session %1 ended").arg(session));
        if (weak)
            weak->cardSessionEnded(session, generation);
        },
        activate);
}

void AppDelegate::cardSessionEnded(quint64 session, quint64 generation)
{
    // A session of the previous account must not restart the cycle under the
    // login form; one replaced by a newer card leaves the next delay to it.
    if (generation != cycleGeneration_ || !sessions_.erase(session))
        return;
    if (!isPaused_ && sessions_.empty())
        scheduleNextPopup();
}

QString AppDelegate::cycleProblem() const
{
    // While an account switch clears the keyring, the login form is on its way.
    // While the signed-in state is read, the due popup waits for it.
    if (isPaused_ || readingSignedInState()
        || !KeychainService::knownTokenPresence().value_or(false))
        return {};
    if (popupTimer_ && popupTimer_->isActive())
        return {};
    QStringList problems {QStringLiteral("signed in and not paused, but no popup timer, running card session, "
                                         "deferred popup or login form")};
    // Timers run late on a loaded machine, never early: allow for that delay.
    const double limitMs = (Timing::cardSessionLimit() + kLateTimerAllowance) * 1000.0;
    for (const auto& [session, running] : sessions_) {
        if (double(running.elapsed()) <= limitMs)
            return {};
        problems << QStringLiteral("card session %1 has run %2 s").arg(session).arg(double(running.elapsed()) / 1000.0);
    }
    if (!deferredFor_.isEmpty() && deferralCheck_ && deferralCheck_->isActive())
        return {};
    const PopupPanel* panel = popupController_ ? popupController_->panel() : nullptr;
    if (panel && panel->isVisible() && qobject_cast<LoginView*>(panel->content()))
        return {};
    return problems.join(QStringLiteral("; "));
}

void AppDelegate::showLogin()
{
    log(QStringLiteral("showLogin called"));
    auto controller = PopupWindowController::create();
    adopt(controller);
    QPointer<AppDelegate> weak(this);
    controller->showLogin([weak] {
        if (!weak)
            return;
        weak->updateAccountMenu();
        weak->showPopup();
    });
}

void AppDelegate::showCardNow() { showPopup(); }

bool AppDelegate::raiseIfShown(const char* viewClass)
{
    // Opening it again must not replace it (and drop what was typed there).
    PopupPanel* panel = popupController_ ? popupController_->panel() : nullptr;
    if (!panel || !panel->isVisible() || !panel->content()->inherits(viewClass))
        return false;
    panel->raise();
    panel->activateWindow();
    return true;
}

void AppDelegate::showQuickNote()
{
    openSignedIn("QuickNoteView", &PopupWindowController::showQuickNote);
}

void AppDelegate::showJournalList()
{
    openSignedIn("JournalListView", &PopupWindowController::showJournalList);
}

void AppDelegate::openSignedIn(const char* viewClass, void (PopupWindowController::*show)(std::function<void()>))
{
    // A keyring that could not tell leaves the learner to sign in.
    whenSignedInState([this, viewClass, show](bool hasToken) {
        if (!hasToken)
            return showLogin();
        if (raiseIfShown(viewClass))
            return;
        auto controller = PopupWindowController::create();
        adopt(controller);
        ((*controller).*show)([] {});
    });
}

bool AppDelegate::applicationShouldHandleReopen(bool)
{
    if (statusItem_ && statusItem_->kind() == TrayIcon::Kind::None)
        log(QStringLiteral("Second launch: opening the quick note, as no tray icon is shown"));
    showQuickNote();
    return true;
}

void AppDelegate::togglePause()
{
    isPaused_ = !isPaused_;
    if (QAction* item = actionWithTag(kPauseTag))
        item->setText(isPaused_ ? tr("Resume") : tr("Pause"));
    if (isPaused_) {
        stopPopupTimer();
        cancelDeferral();
    } else if (sessions_.empty()) {
        // Otherwise the running card draws the next delay when it ends.
        scheduleNextPopup();
    }
}

void AppDelegate::showSettings()
{
    auto controller = PopupWindowController::create();
    adopt(controller);
    QPointer<AppDelegate> weak(this);
    controller->showSettings(minInterval_, maxInterval_, [weak](double newMin, double newMax) {
        if (!weak)
            return;
        weak->minInterval_ = newMin;
        weak->maxInterval_ = newMax;
        // A popup deferred for this form comes once it closes.
        if (!weak->isPaused_ && weak->deferredFor_.isEmpty())
            weak->scheduleNextPopup();
    });
}

void AppDelegate::switchAccount()
{
    ++cycleGeneration_;
    // The previous account's waiting answers stay; they go out when it signs in again.
    outbox_->setAccount({});
    sessions_.clear();
    cancelDeferral();
    account_.clear();
    showAccount();
    if (popupController_)
        popupController_->dismissPanel();
    stopPopupTimer();
    KeychainService::clearAllInBackground();
    showLogin();
}

void AppDelegate::quitApp()
{
    QApplication::quit();
}
