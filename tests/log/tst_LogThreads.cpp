// The shared recursive lock and lines written from several threads at once.
#include "LogTestSupport.h"

#include <QDir>
#include <QRegularExpression>

#include <atomic>
#include <thread>
#include <vector>

TEST(LogLockTest, RecursiveEntryAndMutualExclusion) {
    TznOptex lock;
    lock.Enter();
    lock.Enter();
    EXPECT_TRUE(lock.HeldByCurrentThread());
    lock.Leave();
    EXPECT_TRUE(lock.HeldByCurrentThread());
    lock.Leave();
    EXPECT_FALSE(lock.HeldByCurrentThread());

    // A plain counter guarded only by the lock: ThreadSanitizer and the total catch any overlap,
    // including the hand-over from a leaving owner to a waiting thread.
    long counter = 0;
    constexpr int threads = 4, rounds = 20000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                lock.Enter();
                lock.Enter(); // nested, as a log reopening inside WriteLine would
                ++counter;
                lock.Leave();
                EXPECT_TRUE(lock.HeldByCurrentThread());
                lock.Leave();
            }
        });
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(counter, long{threads} * rounds);
}

TEST_F(LogTest, LoggingWhileHoldingTheSharedLockDoesNotDeadlock) {
    useMainWindowSettings();
    log.SetActive(true);
    LogLock.Enter();
    log.WriteLine("inside");
    log.Flush();
    LogLock.Leave();
    EXPECT_FALSE(LogLock.HeldByCurrentThread());
    log.SetActive(false);
    EXPECT_EQ(readAll(path("log_2026_12_05.txt")), QByteArray("2026-12-05\t13:04:05\tinside\r\n"));
}

TEST(LogThreads, LinesFromManyThreadsNeverInterleave) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    constexpr int threads = 4, lines = 3000;
    {
        // Two components share the one lock; both write at once.
        TznLog first, second;
        for (TznLog* log : {&first, &second}) {
            log->SetLogPath(dir.path());
            log->SetBufferSize(300); // many flushes while others append
            log->SetLogBy(lbDate);
            log->SetDateFormat("yyyy_mm_dd");
        }
        first.SetFileName("first.txt");
        second.SetFileName("second.txt");
        first.SetActive(true);
        second.SetActive(true);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                TznLog& log = t % 2 ? second : first;
                for (int i = 0; i < lines; ++i)
                    log.WriteLine(QByteArray("thread ") + QByteArray::number(t) + " line " +
                                  QByteArray::number(i) + " " + QByteArray(t * 7 + i % 13, char('a' + t)));
            });
        for (std::thread& w : workers)
            w.join();
    } // destruction writes out what is left
    const QRegularExpression shape(R"(^\d{4}-\d\d-\d\d\t\d\d:\d\d:\d\d\tthread (\d) line (\d+) ([a-z]*)\r$)");
    for (const char* stem : {"first", "second"}) {
        const QStringList files = QDir(dir.path()).entryList({QString(stem) + "_*.txt"}, QDir::Files);
        QByteArray all;
        for (const QString& file : files)
            all += readAll(dir.path() + "/" + file);
        std::vector<int> next(threads, 0);
        int count = 0;
        for (const QByteArray& line : all.split('\n')) {
            if (line.isEmpty())
                continue;
            const auto match = shape.match(QString::fromLatin1(line));
            ASSERT_TRUE(match.hasMatch()) << line.data();
            const int t = match.captured(1).toInt();
            const int i = match.captured(2).toInt();
            EXPECT_EQ(i, next[t]++) << "lines of one thread stay in order";
            EXPECT_EQ(match.captured(3), QString(t * 7 + i % 13, QChar('a' + t)));
            ++count;
        }
        EXPECT_EQ(count, threads / 2 * lines) << stem;
    }
}
