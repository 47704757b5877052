#include "app/AppDelegate.h"

#include "api/APIClient.h"
#include "api/AnswerOutbox.h"
#include "api/KeychainService.h"
#include "app/PopupWindowController.h"
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


namespace {
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
    delete noticeBox_;
    delete statusItem_;
    delete menu_;
}

void AppDelegate::applicationDidFinishLaunching()
{
    setupStatusItem();
    accountLabelPending_ = true;
    log(QStringLiteral("App launched"));
    // Waiting answers go out without waiting for the first card; otherwise
    // the keyring stays unopened until a card needs it.
    if (!outbox_->entries().isEmpty())
        readAccountInBackground();
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
        if (accountLabelPending_)
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
    QAction* item = actionWithTag(kAccountTag);
    if (!item)
        return;
    accountLabelPending_ = false;
    const auto credentials = KeychainService::getCredentials();
    item->setText(credentials ? credentials->email : tr("Not logged in"));
    outbox_->setAccount(credentials ? credentials->email : QString());
    item->setEnabled(false);
}

void AppDelegate::readAccountInBackground()
{
    // The outbox must know whose answers it keeps before the first card, and
    // a keyring call on this thread could freeze the panel for seconds.
    QPointer<AppDelegate> weak(this);
    const std::uint64_t generation = KeychainService::generation();
    QThreadPool::globalInstance()->start([weak, generation] {
        const auto credentials = KeychainService::getCredentials();
        const QString email = credentials ? credentials->email : QString();
        QMetaObject::invokeMethod(qApp, [weak, generation, email] {
            // A switch of account meanwhile makes this answer stale.
            if (weak && KeychainService::generation() == generation)
                weak->outbox_->setAccount(email);
        });
    });
}

void AppDelegate::updateToolTip(int waitingAnswers)
{
    if (!statusItem_)
        return;
    statusItem_->setToolTip(waitingAnswers > 0 ? tr("TavloPopup: %n answer(s) waiting to be sent", nullptr, waitingAnswers)
                                               : QStringLiteral("TavloPopup"));
}

void AppDelegate::scheduleNextPopup()
{
    if (popupTimer_) {
        popupTimer_->stop();
        popupTimer_->deleteLater();
    }
    lastDelay_ = Random::drawDelay(minInterval_, maxInterval_, Random::source());
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::CoarseTimer);
    timer->setInterval(Timing::interval(lastDelay_));
    QPointer<AppDelegate> weak(this);
    connect(timer, &QTimer::timeout, this, [weak, timer] {
        timer->deleteLater();
        QMetaObject::invokeMethod(
            qApp,
            [weak] {
                if (weak)
                    weak->showPopup();
            },
            Qt::QueuedConnection);
    });
    popupTimer_ = timer;
    timer->start();
}

void AppDelegate::adopt(std::shared_ptr<PopupWindowController> controller)
{
    // Every successful sign-in shows who is signed in, whichever panel did it.
    QPointer<AppDelegate> weak(this);
    connect(controller.get(), &PopupWindowController::loginSucceeded, this, [weak] {
        if (weak) {
            weak->updateAccountMenu();
            weak->readAccountInBackground();
        }
    });
    popupController_ = std::move(controller);
}

void AppDelegate::showPopup()
{
    const bool hasToken = KeychainService::getAccessToken().has_value();
    log(QStringLiteral("showPopup called, token: ") + (hasToken ? QStringLiteral("exists") : QStringLiteral("nil")));
    if (!hasToken) {
        showLogin();
        return;
    }
    if (outbox_->account().isEmpty())
        readAccountInBackground();
    auto controller = PopupWindowController::create();
    adopt(controller);
    QPointer<AppDelegate> weak(this);
    const quint64 generation = cycleGeneration_;
    controller->showCard([weak, generation] {
        if (weak && !weak->isPaused_ && weak->cycleGeneration_ == generation)
            weak->scheduleNextPopup();
    });
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

void AppDelegate::showQuickNote()
{
    if (!KeychainService::getAccessToken()) {
        showLogin();
        return;
    }
    auto controller = PopupWindowController::create();
    adopt(controller);
    controller->showQuickNote([] {});
}

void AppDelegate::showJournalList()
{
    if (!KeychainService::getAccessToken()) {
        showLogin();
        return;
    }
    auto controller = PopupWindowController::create();
    adopt(controller);
    controller->showJournalList([] {});
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
    if (!isPaused_) {
        scheduleNextPopup();
    } else if (popupTimer_) {
        popupTimer_->stop();
        popupTimer_->deleteLater();
        popupTimer_ = nullptr;
    }
}

void AppDelegate::showSettings()
{
    auto controller = PopupWindowController::create();
    QPointer<AppDelegate> weak(this);
    controller->showSettings(minInterval_, maxInterval_, [weak](double newMin, double newMax) {
        if (!weak)
            return;
        weak->minInterval_ = newMin;
        weak->maxInterval_ = newMax;
        if (!weak->isPaused_)
            weak->scheduleNextPopup();
    });
    adopt(controller);
}

void AppDelegate::switchAccount()
{
    ++cycleGeneration_;
    // The previous account's waiting answers stay; they go out when it signs in again.
    outbox_->setAccount({});
    KeychainService::clearAll();
    if (popupController_)
        popupController_->dismissPanel();
    if (popupTimer_) {
        popupTimer_->stop();
        popupTimer_->deleteLater();
        popupTimer_ = nullptr;
    }
    updateAccountMenu();
    showLogin();
}

void AppDelegate::quitApp()
{
    QApplication::quit();
}
