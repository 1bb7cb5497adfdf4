#include "PreciseTimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

PreciseTimer::PreciseTimer(QObject* Parent) : QObject(Parent) {
    FFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (FFd >= 0) {
        FNotifier = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, [this] { expired(); });
    } else {
        FFallback = new QTimer(this);
        FFallback->setSingleShot(true);
        FFallback->setTimerType(Qt::PreciseTimer);
        connect(FFallback, &QTimer::timeout, this, [this] { expired(); });
    }
}

PreciseTimer::~PreciseTimer() {
    delete FNotifier; // before the descriptor it watches goes
    if (FFd >= 0)
        ::close(FFd);
}

// steady_clock is CLOCK_MONOTONIC on Linux, the clock the timerfd runs on.
qint64 PreciseTimer::nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PreciseTimer::start() {
    startAt(nowNs() + static_cast<qint64>(FIntervalMs) * 1000000);
}

void PreciseTimer::startAt(qint64 DeadlineNs) {
    FActive = true;
    FDeadlineNs = DeadlineNs;
    if (FFd < 0) {
        const qint64 restNs = std::max<qint64>(0, DeadlineNs - nowNs());
        FFallback->start(static_cast<int>(std::min<qint64>((restNs + 999999) / 1000000, INT_MAX)));
        return;
    }
    // A zero it_value would disarm the timer: a deadline at or before the epoch is due at once anyway.
    const qint64 deadline = std::max<qint64>(DeadlineNs, 1);
    itimerspec setting{};
    setting.it_value.tv_sec = static_cast<time_t>(deadline / 1000000000);
    setting.it_value.tv_nsec = static_cast<long>(deadline % 1000000000);
    ::timerfd_settime(FFd, TFD_TIMER_ABSTIME, &setting, nullptr);
}

void PreciseTimer::stop() {
    FActive = false;
    if (FFd < 0) {
        FFallback->stop();
        return;
    }
    const itimerspec off{};
    ::timerfd_settime(FFd, 0, &off, nullptr);
}

void PreciseTimer::expired() {
    if (FFd >= 0) {
        std::uint64_t expirations = 0;
        // Empties the descriptor; a read that finds it empty means the timer was re-armed or stopped since
        // the wake-up was queued, which is no expiry.
        if (::read(FFd, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations))
            return;
    }
    if (!FActive)
        return;
    if (nowNs() < FDeadlineNs) {
        startAt(FDeadlineNs); // cannot come early: wait for the rest
        return;
    }
    FActive = false;
    emit timeout();
}
