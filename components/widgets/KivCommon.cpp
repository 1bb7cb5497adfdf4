#include "KivCommon.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <thread>

void DelayMs(int Milliseconds) {
    QDeadlineTimer deadline(qMax(Milliseconds, 0), Qt::PreciseTimer);
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
    if (!QCoreApplication::instance() || !dispatcher) {
        // No event loop to keep alive in this thread: a plain sleep is the whole job.
        std::this_thread::sleep_for(std::chrono::nanoseconds(deadline.remainingTimeNSecs()));
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // A single-shot timer guarantees a wake-up at the deadline; until then the dispatcher sleeps
    // until some event arrives, handles it and comes back here.
    QTimer wakeUp;
    wakeUp.setSingleShot(true);
    wakeUp.setTimerType(Qt::PreciseTimer);
    while (!deadline.hasExpired()) {
        const qint64 ns = deadline.remainingTimeNSecs();
        const int ms = static_cast<int>((ns + 999'999) / 1'000'000);
        if (!wakeUp.isActive() || wakeUp.remainingTime() > ms)
            wakeUp.start(ms);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

namespace {
TKivErrorHandler& errorHandler() {
    static TKivErrorHandler handler;
    return handler;
}
} // namespace

void SetKivErrorHandler(TKivErrorHandler Handler) {
    errorHandler() = std::move(Handler);
}

void KivReportError(const QString& Message) {
    if (errorHandler())
        errorHandler()(Message);
    else
        qWarning("%s", qUtf8Printable(Message));
}
