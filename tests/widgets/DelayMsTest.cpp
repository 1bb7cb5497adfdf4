// The wait inside the protocol code: it must keep the window alive and must not burn a core.
#include "KivCommon.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <ctime>

namespace {
double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
} // namespace

TEST(DelayMs, WaitsAtLeastTheTimeAndSleepsMeanwhile) {
    QElapsedTimer wall;
    const double cpuBefore = processCpuMs();
    wall.start();
    DelayMs(300);
    const qint64 waited = wall.elapsed();
    const double cpu = processCpuMs() - cpuBefore;
    EXPECT_GE(waited, 300);
    EXPECT_LT(waited, 2000);
    // A spinning wait would use about 300 ms of CPU; a sleeping one a few.
    EXPECT_LT(cpu, 60) << "DelayMs used " << cpu << " ms of CPU in " << waited << " ms";
}

TEST(DelayMs, DispatchesEventsWhileWaitingAndAtLeastOnceForZero) {
    int posted = 0;
    QMetaObject::invokeMethod(
        qApp, [&] { ++posted; }, Qt::QueuedConnection);
    DelayMs(0);
    EXPECT_EQ(posted, 1);

    // Timers fire inside the wait, as the connection timer and the other panel's events do.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    DelayMs(250);
    timer.stop();
    EXPECT_GE(ticks, 5);

    QMetaObject::invokeMethod(
        qApp, [&] { ++posted; }, Qt::QueuedConnection);
    DelayMs(-5);
    EXPECT_EQ(posted, 2);
}

TEST(DelayMs, NestedWaitsReturnInOrder) {
    // A handler that waits inside a wait (the other spectrograph's reply during a 300 ms pause).
    QElapsedTimer wall;
    wall.start();
    qint64 innerDone = -1;
    QTimer::singleShot(10, [&] {
        DelayMs(100);
        innerDone = wall.elapsed();
    });
    DelayMs(50);
    EXPECT_GE(innerDone, 100);
    EXPECT_GE(wall.elapsed(), 100);
}
