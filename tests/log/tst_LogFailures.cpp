// Files that cannot be opened or written: the error reaches the caller, the lock is left, no line is lost.
#include "LogTestSupport.h"

#include "OrvaneErrors.h"

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <thread>

#include <sys/resource.h>

namespace {

// The lock is free for other threads again.
void expectLockFree() {
    EXPECT_FALSE(LogLock.HeldByCurrentThread());
    bool entered = false;
    std::thread other([&entered] {
        LogLock.Enter();
        entered = true;
        LogLock.Leave();
    });
    other.join();
    EXPECT_TRUE(entered);
}

// Limits the size of files this process may write, with SIGXFSZ ignored so write(2) fails with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &FSaved);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = FSaved;
        limited.rlim_cur = bytes;
        FOk = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { lift(); }
    void lift() {
        if (FOk) {
            ::setrlimit(RLIMIT_FSIZE, &FSaved);
            std::signal(SIGXFSZ, FOldHandler);
            FOk = false;
        }
    }
    bool ok() const { return FOk; }

private:
    rlimit FSaved{};
    void (*FOldHandler)(int) = nullptr;
    bool FOk = false;
};

} // namespace

TEST_F(LogTest, UnopenableFolderThrowsThenRecoversWithEveryLine) {
    const QString missing = path("missing");
    log.SetLogPath(missing);
    log.SetFileName("log.txt");
    log.SetLogBy(lbDate);
    log.SetDateFormat("yyyy_mm_dd");
    try {
        log.SetActive(true);
        FAIL() << "no error for a missing folder";
    } catch (const FileOpenError& error) {
        EXPECT_STREQ(error.what(),
                     ("Cannot open file \"" + missing + "/log_2026_12_05.txt\". No such file or directory")
                         .toStdString()
                         .c_str());
    }
    EXPECT_TRUE(log.Active()) << "Active keeps the value that was set";
    expectLockFree();

    log.WriteLine("while missing 1");
    log.WriteLine("while missing 2");
    EXPECT_GT(log.PendingBytes(), 0u);
    ASSERT_TRUE(QDir().mkpath(missing));
    log.WriteLine("same second: no retry yet");
    EXPECT_FALSE(QFileInfo::exists(missing + "/log_2026_12_05.txt"));
    now += std::chrono::seconds(1);
    log.WriteLine("recovered");
    log.SetActive(false);
    EXPECT_EQ(readAll(missing + "/log_2026_12_05.txt"),
              QByteArray("2026-12-05\t13:04:05\twhile missing 1\r\n"
                         "2026-12-05\t13:04:05\twhile missing 2\r\n"
                         "2026-12-05\t13:04:05\tsame second: no retry yet\r\n"
                         "2026-12-05\t13:04:06\trecovered\r\n"));
}

TEST_F(LogTest, RolloverIntoAnUnopenableFileReportsButKeepsTheLine) {
    useMainWindowSettings();
    log.SetActive(true);
    log.WriteLine("today");
    // Tomorrow's name is taken by a folder, so it cannot be opened as a file.
    ASSERT_TRUE(QDir(dir.path()).mkdir("log_2026_12_06.txt"));
    now += std::chrono::hours(24);
    EXPECT_THROW(log.WriteLine("tomorrow"), FileOpenError);
    expectLockFree();
    EXPECT_EQ(readAll(path("log_2026_12_05.txt")), QByteArray("2026-12-05\t13:04:05\ttoday\r\n"));
    // The day after, the line waiting in memory goes into that day's file with the new one.
    now += std::chrono::hours(24);
    log.WriteLine("day after");
    log.SetActive(false);
    EXPECT_EQ(readAll(path("log_2026_12_07.txt")),
              QByteArray("2026-12-06\t13:04:05\ttomorrow\r\n2026-12-07\t13:04:05\tday after\r\n"));
}

TEST_F(LogTest, BoundedBufferCountsDroppedLinesAndSaysSoInTheNextFile) {
    const QString missing = path("later");
    log.SetOptions(loAppendLineBreak);
    log.SetMaxPendingBytes(30);
    log.SetBufferSize(10);
    log.SetLogPath(missing);
    log.SetFileName("log.txt");
    EXPECT_THROW(log.SetActive(true), FileOpenError);
    log.WriteLine("kept-1"); // 8 bytes each with CR LF
    log.WriteLine("kept-2");
    log.WriteLine("kept-3");
    log.WriteLine("lost-1"); // 32 > 30
    log.WriteLine("lost-2");
    EXPECT_EQ(log.DroppedLines(), 2u);
    EXPECT_EQ(log.PendingBytes(), 24u);
    ASSERT_TRUE(QDir().mkpath(missing));
    now += std::chrono::seconds(1);
    log.WriteLine("after");
    log.SetActive(false);
    EXPECT_EQ(readAll(missing + "/log.txt"),
              QByteArray("kept-1\r\nkept-2\r\nkept-3\r\n"
                         "2 log lines dropped: the log file could not be written\r\n"
                         "after\r\n"));
    EXPECT_EQ(log.DroppedLines(), 0u);
}

TEST_F(LogTest, WriteErrorKeepsTheUnwrittenBytesForTheNextFlush) {
    log.SetOptions(loAppendLineBreak);
    log.SetLogPath(dir.path());
    log.SetFileName("limited.txt");
    log.SetActive(true);
    QByteArray expected;
    for (int i = 0; i < 20; ++i) {
        const QByteArray line = "line number " + QByteArray::number(i);
        log.WriteLine(line);
        expected += line + "\r\n";
    }
    {
        FileSizeLimit limit(100);
        ASSERT_TRUE(limit.ok());
        try {
            log.Flush();
            FAIL() << "no error past the file size limit";
        } catch (const StreamWriteError& error) {
            EXPECT_STREQ(error.what(), "Stream write error");
        }
        expectLockFree();
        EXPECT_EQ(QFileInfo(path("limited.txt")).size(), 100);
        EXPECT_EQ(log.PendingBytes(), static_cast<std::size_t>(expected.size() - 100));
        // A line whose flush fails still reports it, and stays queued.
        log.SetBufferSize(0); // does not reopen, so the next line flushes
        EXPECT_THROW(log.WriteLine("during"), StreamWriteError);
        expected += "during\r\n";
    }
    log.WriteLine("resumed");
    expected += "resumed\r\n";
    EXPECT_EQ(log.PendingBytes(), 0u);
    log.SetActive(false);
    EXPECT_EQ(readAll(path("limited.txt")), expected);
}

TEST_F(LogTest, DeactivatingWithAWriteErrorStillClosesAndKeepsTheLines) {
    log.SetOptions(loAppendLineBreak);
    log.SetLogPath(dir.path());
    log.SetFileName("first.txt");
    log.SetActive(true);
    log.WriteLine(QByteArray(200, 'a'));
    {
        FileSizeLimit limit(50);
        ASSERT_TRUE(limit.ok());
        EXPECT_THROW(log.SetFileName("second.txt"), StreamWriteError);
    }
    EXPECT_EQ(log.FullPath(), path("second.txt")) << "the new file is open despite the old one's error";
    log.SetActive(false);
    EXPECT_EQ(readAll(path("first.txt")) + readAll(path("second.txt")), QByteArray(200, 'a') + "\r\n");
}
