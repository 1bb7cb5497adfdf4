#include "SignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int WatchedSignals[3] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the pipe, for the handler; -1 while no watcher is installed.
volatile std::sig_atomic_t signalPipe = -1;

// Async-signal-safe: one byte into a non-blocking pipe, errno left as it was. A full pipe already holds
// enough to wake the event loop, so a lost byte costs nothing.
extern "C" void onSignal(int Signal) {
    const int savedErrno = errno;
    const int fd = signalPipe;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(Signal);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> OnSignal, QObject* Parent)
    : QObject(Parent), FOnSignal(std::move(OnSignal)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FReadFd = fds[0];
    FWriteFd = fds[1];
    signalPipe = FWriteFd;
    FNotifier = new QSocketNotifier(FReadFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { readSignals(); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // A second signal of the same kind while the first is being handled ends the program the default way:
    // a console that hangs on its way out can still be stopped.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int i = 0; i < 3; ++i)
        ::sigaction(WatchedSignals[i], &action, &FSaved[i]);
    FInstalled = true;
}

SignalWatcher::~SignalWatcher() {
    if (FInstalled)
        for (int i = 0; i < 3; ++i)
            ::sigaction(WatchedSignals[i], &FSaved[i], nullptr);
    signalPipe = -1;
    delete FNotifier;
    if (FReadFd >= 0)
        ::close(FReadFd);
    if (FWriteFd >= 0)
        ::close(FWriteFd);
}

void SignalWatcher::readSignals() {
    unsigned char received[64];
    for (;;) {
        const ssize_t n = ::read(FReadFd, received, sizeof received);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i)
            if (FOnSignal)
                FOnSignal(received[i]);
    }
}
