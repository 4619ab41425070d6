#include "platform/termination.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

int g_pipe[2] = {-1, -1};
QPointer<QSocketNotifier> g_notifier;
std::function<void()> g_beforeQuitting;

extern "C" void OnSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(g_pipe[0], &byte, 1);
}

}  // namespace

void QuitOnTerminationSignals(std::function<void()> beforeQuitting) {
    if (!QCoreApplication::instance())
        return;
    if (g_pipe[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
            return;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int sig : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(sig, &action, nullptr);
    }
    g_beforeQuitting = std::move(beforeQuitting);
    if (g_notifier)
        return;
    g_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(g_notifier, &QSocketNotifier::activated, g_notifier, [] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_pipe[1], &byte, 1);
        if (g_beforeQuitting)
            g_beforeQuitting();
        QCoreApplication::quit();
    });
}

}  // namespace platform
