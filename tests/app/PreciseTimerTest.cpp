// The scan's tick timer: it never fires before its deadline, a re-arm replaces the deadline, and a stopped
// timer stays silent even when its deadline had already passed.
#include "PreciseTimer.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <functional>

#include <algorithm>
#include <vector>

namespace {
constexpr qint64 Ms = 1000000;

// Runs the event loop, sleeping in it between events, until Done or the bound. (QTest::qWaitFor sleeps
// in 10 ms steps between its looks at the queue, which would be the lateness measured here.)
bool runUntil(const std::function<bool()>& Done, int BoundMs) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (Done())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(BoundMs, &loop, &QEventLoop::quit);
    if (!Done())
        loop.exec();
    return Done();
}
} // namespace

TEST(PreciseTimer, ReArmedFromEachFiringItNeverFiresEarlyAndKeepsClose) {
    PreciseTimer timer;
    timer.setInterval(5);
    std::vector<qint64> lateness;
    qint64 deadline = PreciseTimer::nowNs() + 5 * Ms;
    QObject::connect(&timer, &PreciseTimer::timeout, [&] {
        const qint64 now = PreciseTimer::nowNs();
        lateness.push_back(now - deadline);
        if (lateness.size() < 60) {
            deadline = now + 5 * Ms;
            timer.startAt(deadline);
        }
    });
    timer.startAt(deadline);
    EXPECT_TRUE(timer.isActive());
    ASSERT_TRUE(runUntil([&] { return lateness.size() == 60; }, 10000));
    EXPECT_FALSE(timer.isActive());
    EXPECT_GE(*std::min_element(lateness.begin(), lateness.end()), 0);
    std::nth_element(lateness.begin(), lateness.begin() + 30, lateness.end());
    EXPECT_LT(lateness[30], 2 * Ms) << "median lateness " << lateness[30] << " ns";
}

TEST(PreciseTimer, ReArmReplacesTheDeadlineAndStopSilencesAnExpiredOne) {
    PreciseTimer timer;
    int fired = 0;
    QObject::connect(&timer, &PreciseTimer::timeout, [&] { ++fired; });

    timer.startAt(PreciseTimer::nowNs() + 300 * Ms);
    timer.startAt(PreciseTimer::nowNs() + 10 * Ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired == 1; }, 2000));
    QTest::qWait(400);
    EXPECT_EQ(fired, 1);

    // Due at once, stopped before the event loop could deliver it.
    timer.startAt(PreciseTimer::nowNs() - 5 * Ms);
    timer.stop();
    EXPECT_FALSE(timer.isActive());
    QTest::qWait(50);
    EXPECT_EQ(fired, 1);

    timer.setInterval(20);
    const qint64 armed = PreciseTimer::nowNs();
    qint64 firedAt = 0;
    QObject::connect(&timer, &PreciseTimer::timeout, [&] { firedAt = PreciseTimer::nowNs(); });
    timer.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired == 2; }, 2000));
    EXPECT_GE(firedAt - armed, 20 * Ms);
    EXPECT_EQ(timer.interval(), 20);
}
