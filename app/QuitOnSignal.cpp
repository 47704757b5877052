#include "app/QuitOnSignal.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read on the main thread: only write(2) and
// sigaction(2) are safe inside a signal handler, so the handler just wakes the
// event loop and the loop does the quitting.
int wakeFds[2] = {-1, -1};

void onSignal(int signo)
{
    const int savedErrno = errno;
    // If the loop never gets to quit, the next signal must still end us.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(signo, &dfl, nullptr);
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[0], &byte, 1);
    errno = savedErrno;
}

bool openWakeChannel()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0) {
        log(QStringLiteral("Cannot watch for termination signals: ") + QString::fromLocal8Bit(std::strerror(errno)));
        wakeFds[0] = wakeFds[1] = -1;
        return false;
    }
    auto* notifier = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buf[16];
        while (::read(wakeFds[1], buf, sizeof buf) > 0) {
        }
        QCoreApplication::quit();
    });
    return true;
}

} // namespace

namespace QuitOnSignal {

bool install()
{
    if (wakeFds[0] < 0 && !openWakeChannel())
        return false;
    for (int signo : kSignals) {
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(signo, &sa, nullptr);
    }
    return true;
}

} // namespace QuitOnSignal
