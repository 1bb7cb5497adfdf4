// What a crash or a kill can cost, and files that go away or refuse writes while open: lines reach the file
// within about a second, a deleted or moved file is replaced, and a failing file holds its lines and says
// why.
#include "LogTestSupport.h"

#include "OrvaneErrors.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <functional>
#include <thread>

#include <unistd.h>

namespace {

// Runs the event loop until Done holds or BoundMs passes.
bool spinUntil(const std::function<bool()>& Done, int BoundMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!Done()) {
        if (clock.elapsed() > BoundMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ::usleep(2000);
    }
    return true;
}

class LogAgeTest : public LogTest {
protected:
    void start(const QString& name = "log.txt") {
        log.SetOptions(loAppendLineBreak);
        log.SetLogPath(dir.path());
        log.SetFileName(name);
        log.SetActive(true);
    }
    QByteArray file(const QString& name = "log.txt") const { return readAll(path(name)); }
    void writeThenFillTheDisk();
};

} // namespace

// ---- A line waits at most about a second in memory ----

TEST_F(LogAgeTest, AQuietLineReachesTheFileWithinASecondWithoutAnotherLine) {
    start();
    QElapsedTimer clock;
    clock.start();
    log.WriteLine("only line");
    EXPECT_EQ(file(), QByteArray()) << "buffered, not written per line";
    ASSERT_TRUE(spinUntil([&] { return file() == "only line\r\n"; }, 5000));
    EXPECT_GE(clock.elapsed(), 900) << "the age flush came before the line was a second old";
    EXPECT_EQ(log.PendingBytes(), 0u);
}

TEST_F(LogAgeTest, ALineWrittenASecondAfterTheOldestWaitingOneWritesBoth) {
    start();
    log.WriteLine("first");
    now += std::chrono::milliseconds(999);
    log.WriteLine("second");
    EXPECT_EQ(file(), QByteArray()) << "nothing is a second old yet";
    now += std::chrono::milliseconds(1);
    log.WriteLine("third");
    EXPECT_EQ(file(), "first\r\nsecond\r\nthird\r\n");
}

TEST_F(LogAgeTest, AClockSetBackDoesNotHoldLinesBack) {
    start();
    log.WriteLine("before");
    now -= std::chrono::hours(1);
    log.WriteLine("after the clock went back");
    EXPECT_EQ(file(), "before\r\nafter the clock went back\r\n");
}

TEST_F(LogAgeTest, ALineFromAnotherThreadIsWrittenByTheOwnersTimer) {
    start();
    std::thread([this] { log.WriteLine("from a worker"); }).join();
    ASSERT_TRUE(spinUntil([&] { return file() == "from a worker\r\n"; }, 5000));
}

// ---- The file is replaced under the console ----

TEST_F(LogAgeTest, ADeletedFileIsNoticedAtTheNextFlushAndReplaced) {
    start();
    log.WriteLine("into the first file");
    log.Flush();
    ASSERT_TRUE(QFile::remove(path("log.txt")));
    now += std::chrono::seconds(1);
    log.WriteLine("after the delete");
    log.Flush();
    EXPECT_EQ(file(), "The log file was deleted while open; the lines written to it are lost\r\n"
                      "after the delete\r\n");
}

TEST_F(LogAgeTest, AMovedFileKeepsItsLinesAndANewOneTakesTheRest) {
    start();
    log.WriteLine("before the move");
    log.Flush();
    ASSERT_TRUE(QFile::rename(path("log.txt"), path("rotated.txt")));
    now += std::chrono::seconds(1);
    log.WriteLine("after the move");
    log.Flush();
    EXPECT_EQ(file("rotated.txt"), "before the move\r\n");
    EXPECT_EQ(file(), "after the move\r\n");
}

// ---- A file that refuses writes ----

// One line reaches the file; then the path leads to a device that is always full, a second later.
void LogAgeTest::writeThenFillTheDisk() {
    start();
    log.WriteLine("before");
    log.Flush();
    ASSERT_TRUE(QFile::rename(path("log.txt"), path("before.txt")));
    ASSERT_EQ(::symlink("/dev/full", path("log.txt").toLocal8Bit().constData()), 0);
    now += std::chrono::seconds(1);
}

TEST_F(LogAgeTest, AFullDiskHoldsTheLinesSaysWhyAndWritesThemInOrderWhenSpaceComesBack) {
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    ASSERT_NO_FATAL_FAILURE(writeThenFillTheDisk());
    log.WriteLine("held 1");
    EXPECT_THROW(log.Flush(), StreamWriteError);
    EXPECT_TRUE(log.Faulted());
    EXPECT_EQ(log.FaultReason(), "No space left on device");
    log.WriteLine("held 2");
    EXPECT_EQ(log.HeldLines(), 2u);

    // Space again: the next try, a second later, finds the path free and writes everything in order.
    ASSERT_TRUE(QFile::remove(path("log.txt")));
    now += std::chrono::seconds(1);
    log.WriteLine("after");
    EXPECT_FALSE(log.Faulted());
    EXPECT_EQ(log.HeldLines(), 0u);
    EXPECT_EQ(file("before.txt"), "before\r\n");
    EXPECT_EQ(file(), "held 1\r\nheld 2\r\nafter\r\n");
}

TEST_F(LogAgeTest, AFailingFileIsRetriedByTheTimerEvenWhenNoLineFollows) {
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    ASSERT_NO_FATAL_FAILURE(writeThenFillTheDisk());
    log.WriteLine("waiting");
    ASSERT_TRUE(spinUntil([&] { return log.Faulted(); }, 5000)) << "the timer's flush did not try";
    ASSERT_TRUE(QFile::remove(path("log.txt")));
    // The clock the log reads moves on; the timer keeps trying once a second.
    now += std::chrono::seconds(1);
    ASSERT_TRUE(spinUntil([&] { return file() == "waiting\r\n"; }, 5000));
    EXPECT_FALSE(log.Faulted());
}
