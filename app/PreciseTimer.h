#pragma once
// A single-shot timer with a deadline in nanoseconds on the steady clock. Qt's timers count in whole
// milliseconds and may come up to a millisecond late; a scan re-armed at every tick would lose that at
// every point. This one waits on a timerfd, so it fires within the scheduler's wake-up time of its
// deadline and never before it.
#include <QObject>

#include <memory>

class QSocketNotifier;
class QTimer;

class PreciseTimer : public QObject {
    Q_OBJECT
public:
    explicit PreciseTimer(QObject* Parent = nullptr);
    ~PreciseTimer() override;

    // The period the owner arms it with; start() waits this long.
    int interval() const { return FIntervalMs; }
    void setInterval(int Ms) { FIntervalMs = Ms; }

    bool isActive() const { return FActive; }
    // Fires once, one interval from now.
    void start();
    // Fires once at DeadlineNs (steady clock, as std::chrono::steady_clock counts), at once if it has passed.
    void startAt(qint64 DeadlineNs);
    void stop();

    static qint64 nowNs();

signals:
    void timeout();

private:
    void expired();

    int FIntervalMs = 0;
    bool FActive = false;
    qint64 FDeadlineNs = 0;
    int FFd = -1;
    QSocketNotifier* FNotifier = nullptr;
    QTimer* FFallback = nullptr; // only where the kernel offers no timerfd
};
