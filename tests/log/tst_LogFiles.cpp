// What lands in which file: names, line format, buffering, rollover across days, weeks, months and DST.
#include "LogTestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <map>
#include <vector>

namespace {

// Each line "yyyy-mm-dd\t..." must sit in the file whose name carries that day.
void expectLinesMatchFile(const QString& filePath, const QString& dateOfFile) {
    const QList<QByteArray> lines = readAll(filePath).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.isEmpty()) {
            EXPECT_TRUE(line.startsWith(dateOfFile.toLatin1()))
                << filePath.toStdString() << ": " << line.data();
        }
    }
}

} // namespace

TEST_F(LogTest, WritesTheMainWindowLineFormatIntoTheDatedFile) {
    useMainWindowSettings();
    log.SetActive(true);
    log.WriteLine(QByteArray("Moving To 532.5"));
    EXPECT_EQ(readAll(path("log_2026_12_05.txt")), QByteArray()); // buffered
    now += std::chrono::seconds(2);
    // The first line is more than a second old now: it goes out with this one.
    log.WriteLine(QString("Moving Ok"));
    log.WriteLine("bytes \xE9\x01 as they are");
    EXPECT_EQ(readAll(path("log_2026_12_05.txt")), QByteArray("2026-12-05\t13:04:05\tMoving To 532.5\r\n"
                                                              "2026-12-05\t13:04:07\tMoving Ok\r\n"));
    log.SetActive(false);
    EXPECT_EQ(readAll(path("log_2026_12_05.txt")),
              QByteArray("2026-12-05\t13:04:05\tMoving To 532.5\r\n"
                         "2026-12-05\t13:04:07\tMoving Ok\r\n"
                         "2026-12-05\t13:04:07\tbytes \xE9\x01 as they are\r\n"));
    EXPECT_EQ(log.FullPath(), path("log_2026_12_05.txt")); // kept after closing

    // Reactivating appends to the same file.
    log.SetActive(true);
    log.WriteLine("again");
    log.SetActive(false);
    EXPECT_TRUE(readAll(path("log_2026_12_05.txt"))
                    .endsWith("\tMoving Ok\r\n"
                              "2026-12-05\t13:04:07\tbytes \xE9\x01 as they are\r\n"
                              "2026-12-05\t13:04:07\tagain\r\n"));
}

TEST_F(LogTest, OptionsShapeTheLine) {
    log.SetLogPath(dir.path());
    log.SetFileName("plain.log");
    log.SetActive(true);
    log.SetOptions(loImmediateFlush);
    log.WriteLine("bare");
    log.SetOptions(loAppendTime | loImmediateFlush);
    log.WriteLine("time");
    log.SetOptions(loAppendDate | loAppendLineBreak);
    log.WriteLine("date");
    log.SetActive(false);
    EXPECT_EQ(readAll(path("plain.log")), QByteArray("bare13:04:05\ttime2026-12-05\tdate\r\n"));
}

TEST_F(LogTest, FileNamesForEachWayOfDating) {
    struct Case {
        TznLogBy by;
        QString fileName;
        QString dateFormat;
        SysTime at;
        QString expected;
    };
    const std::vector<Case> cases = {
        {lbDate, "log.txt", "yyyy_mm_dd", localTime(2026, 12, 5), "log_2026_12_05.txt"},
        {lbDate, "log.txt", "", localTime(2026, 12, 5), "log_20261205.txt"},
        {lbDate, "a.b.txt", "yyyy_mm_dd", localTime(2026, 12, 5), "a_2026_12_05.txt"},
        {lbDate, "log", "yyyy_mm_dd", localTime(2026, 12, 5), "log_2026_12_05"},
        {lbDate, "sub/log.txt", "yyyy_mm_dd", localTime(2026, 12, 5), "log_2026_12_05.txt"},
        {lbDate, "log.txt", "yy-m-d hh.nn.ss", localTime(2027, 1, 2, 3, 4, 5), "log_27-1-2 03.04.05.txt"},
        {lbWeek, "log.txt", "", localTime(2026, 12, 5), "log_2026_49.txt"},
        {lbWeek, "log.txt", "", localTime(2027, 1, 1), "log_2027_53.txt"},
        {lbWeek, "log.txt", "", localTime(2024, 12, 31), "log_2024_1.txt"},
        {lbWeek, "log.txt", "", localTime(2024, 12, 29), "log_2024_52.txt"},
        {lbWeek, "log.txt", "", localTime(2027, 1, 4), "log_2027_1.txt"},
        {lbWeek, "log.txt", "", localTime(2020, 12, 31), "log_2020_53.txt"},
        {lbMonth, "log.txt", "", localTime(2026, 12, 5), "log_202612.txt"},
        {lbMonth, "log.txt", "", localTime(2027, 1, 5), "log_202701.txt"},
        {lbNone, "log.txt", "yyyy", localTime(2026, 12, 5), "log.txt"},
        {lbNone, "sub/log.txt", "", localTime(2026, 12, 5), "sub/log.txt"},
    };
    ASSERT_TRUE(QDir(dir.path()).mkpath("sub"));
    for (const Case& c : cases) {
        TznLog named;
        named.SetClock([&c] { return c.at; });
        named.SetLogBy(c.by);
        named.SetDateFormat(c.dateFormat);
        named.SetLogPath(dir.path() + "/"); // a trailing separator is not doubled
        named.SetFileName(c.fileName);
        named.SetActive(true);
        EXPECT_EQ(named.FullPath(), path(c.expected)) << c.fileName.toStdString();
        EXPECT_TRUE(QFileInfo::exists(path(c.expected))) << c.expected.toStdString();
        if (c.by == lbDate && c.dateFormat.isEmpty()) {
            EXPECT_EQ(named.DateFormat(), "yyyymmdd");
        }
    }
}

TEST_F(LogTest, EmptyLogPathUsesTheNameAlone) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    log.SetFileName("here.txt");
    log.SetActive(true);
    EXPECT_EQ(log.FullPath(), "here.txt");
    log.SetActive(false);
    QDir::setCurrent(previous);
    EXPECT_TRUE(QFileInfo::exists(path("here.txt")));
}

TEST_F(LogTest, BufferIsWrittenOnlyWhenItHoldsMoreThanBufferSize) {
    useMainWindowSettings();
    // Each line is 20 bytes of prefix + 8 of text + CR LF = 30 bytes.
    log.SetBufferSize(90);
    log.SetActive(true);
    const QString file = path("log_2026_12_05.txt");
    for (int i = 0; i < 3; ++i)
        log.WriteLine("line-00" + QByteArray::number(i));
    EXPECT_EQ(QFileInfo(file).size(), 0) << "exactly BufferSize bytes stay in memory";
    EXPECT_EQ(log.PendingBytes(), 90u);
    log.WriteLine("line-003");
    EXPECT_EQ(QFileInfo(file).size(), 120);
    EXPECT_EQ(log.PendingBytes(), 0u);

    log.SetBufferSize(0);
    log.WriteLine("line-004");
    EXPECT_EQ(QFileInfo(file).size(), 150);

    log.SetBufferSize(1000);
    log.SetOptions(log.Options() | loImmediateFlush);
    log.WriteLine("line-005");
    EXPECT_EQ(QFileInfo(file).size(), 180);

    // A line longer than the buffer arrives whole.
    log.SetOptions(loAppendLineBreak);
    const QByteArray big(200000, 'x');
    log.WriteLine(big);
    log.SetActive(false);
    EXPECT_TRUE(readAll(file).endsWith(big + "\r\n"));
}

TEST_F(LogTest, InactiveLogChangesNothing) {
    useMainWindowSettings();
    log.SetTimeType(lttTimeDiff);
    log.WriteLine("dropped while inactive");
    EXPECT_EQ(log.PendingBytes(), 0u);
    log.SetActive(true); // the last-write time starts here
    now += std::chrono::seconds(3);
    log.WriteLine("first");
    log.SetActive(false);
    now += std::chrono::hours(2);
    log.WriteLine("inactive again");
    log.SetActive(true); // not reset: it was already set
    now += std::chrono::seconds(1);
    log.WriteLine("second");
    log.SetActive(false);
    EXPECT_EQ(readAll(path("log_2026_12_05.txt")),
              QByteArray("2026-12-05\t00:00:03\tfirst\r\n2026-12-05\t02:00:01\tsecond\r\n"));
}

TEST_F(LogTest, TimeDiffShowsTheTimeOfDayPartOfTheElapsedTime) {
    useMainWindowSettings();
    log.SetTimeType(lttTimeDiff);
    log.SetLogBy(lbNone);
    log.SetActive(true);
    now += std::chrono::seconds(90);
    log.WriteLine("after activation");
    now += std::chrono::hours(25);
    log.WriteLine("a day and an hour later");
    now -= std::chrono::minutes(10);
    log.WriteLine("clock set back");
    now += std::chrono::milliseconds(1500);
    log.WriteLine("one and a half seconds");
    log.SetActive(false);
    EXPECT_EQ(readAll(path("log.txt")), QByteArray("2026-12-05\t00:01:30\tafter activation\r\n"
                                                   "2026-12-06\t01:00:00\ta day and an hour later\r\n"
                                                   "2026-12-06\t00:00:00\tclock set back\r\n"
                                                   "2026-12-06\t00:00:01\tone and a half seconds\r\n"));
}

TEST_F(LogTest, BufferedLinesBeforeMidnightLandInYesterdaysFile) {
    useMainWindowSettings();
    now = localTime(2026, 12, 5, 23, 59, 59) + std::chrono::milliseconds(100);
    log.SetActive(true);
    log.WriteLine("late");
    now = localTime(2026, 12, 5, 23, 59, 59) + std::chrono::milliseconds(900);
    log.WriteLine("last second");
    EXPECT_EQ(readAll(path("log_2026_12_05.txt")), QByteArray()); // still buffered
    now = localTime(2026, 12, 6, 0, 0, 0);
    log.WriteLine("midnight");
    EXPECT_EQ(readAll(path("log_2026_12_05.txt")),
              QByteArray("2026-12-05\t23:59:59\tlate\r\n2026-12-05\t23:59:59\tlast second\r\n"));
    EXPECT_EQ(log.FullPath(), path("log_2026_12_06.txt"));

    // A clock stepped back across midnight returns to the older day's file, and forward again.
    now = localTime(2026, 12, 5, 23, 59, 59);
    log.WriteLine("stepped back");
    now = localTime(2026, 12, 6, 0, 0, 1);
    log.WriteLine("forward again");
    log.SetActive(false);
    EXPECT_EQ(readAll(path("log_2026_12_06.txt")),
              QByteArray("2026-12-06\t00:00:00\tmidnight\r\n2026-12-06\t00:00:01\tforward again\r\n"));
    expectLinesMatchFile(path("log_2026_12_05.txt"), "2026-12-05");
    EXPECT_TRUE(readAll(path("log_2026_12_05.txt")).endsWith("\tstepped back\r\n"));
}

TEST_F(LogTest, RolloverFollowsTheNameOfEachLinesPeriod) {
    struct Step {
        SysTime at;
        QString file;
    };
    struct Table {
        TznLogBy by;
        std::vector<Step> steps;
    };
    const std::vector<Table> tables = {
        {lbWeek,
         {{localTime(2024, 12, 29), "log_2024_52.txt"},
          {localTime(2024, 12, 30), "log_2024_1.txt"},
          {localTime(2025, 1, 5), "log_2025_1.txt"},
          {localTime(2026, 12, 31), "log_2026_53.txt"},
          {localTime(2027, 1, 1), "log_2027_53.txt"},
          {localTime(2027, 1, 3, 23, 59, 59), "log_2027_53.txt"},
          {localTime(2027, 1, 4, 0, 0, 0), "log_2027_1.txt"}}},
        {lbMonth,
         {{localTime(2027, 1, 31, 23, 59, 59), "log_202701.txt"},
          {localTime(2027, 2, 1, 0, 0, 0), "log_202702.txt"},
          {localTime(2027, 12, 31, 23, 59, 59), "log_202712.txt"},
          {localTime(2028, 1, 1), "log_202801.txt"},
          // Twelve months without a line still start the new year's file.
          {localTime(2029, 1, 15), "log_202901.txt"}}},
    };
    for (const Table& table : tables) {
        TznLog dated;
        SysTime at = table.steps.front().at;
        dated.SetClock([&at] { return at; });
        dated.SetLogBy(table.by);
        dated.SetLogPath(dir.path());
        dated.SetFileName("log.txt");
        dated.SetActive(true);
        std::map<QString, QByteArray> expected;
        for (const Step& step : table.steps) {
            at = step.at;
            const std::time_t t = std::chrono::system_clock::to_time_t(at);
            const QByteArray text = QByteArray("line at ") + std::ctime(&t);
            dated.WriteLine(text.trimmed());
            EXPECT_EQ(dated.FullPath(), path(step.file)) << text.data();
            expected[step.file] += text.trimmed() + "\r\n";
        }
        dated.SetActive(false);
        for (const auto& [file, lines] : expected) {
            const QByteArray content = readAll(path(file));
            for (const QByteArray& line : lines.split('\n')) {
                if (!line.isEmpty()) {
                    EXPECT_TRUE(content.contains(line)) << file.toStdString() << " lacks " << line.data();
                }
            }
            EXPECT_EQ(content.count('\n'), lines.count('\n')) << file.toStdString();
        }
    }
}

TEST_F(LogTest, DaylightSavingDaysRollOverExactlyOnce) {
    struct Day {
        const char* zone;
        int year, month, day;
    };
    // Spring forward and fall back in Berlin; Sao Paulo 2018 skipped the hour after midnight itself.
    for (const Day& d : {Day{"Europe/Berlin", 2026, 3, 29}, Day{"Europe/Berlin", 2026, 10, 25},
                         Day{"America/Sao_Paulo", 2018, 11, 4}}) {
        useTimeZone(d.zone);
        QTemporaryDir zoneDir;
        ASSERT_TRUE(zoneDir.isValid());
        TznLog dated;
        int opens = 0;
        SysTime at = localTime(d.year, d.month, d.day - 1, 22, 0, 0);
        dated.SetClock([&at] { return at; });
        dated.SetLogBy(lbDate);
        dated.SetDateFormat("yyyy_mm_dd");
        dated.SetLogPath(zoneDir.path());
        dated.SetFileName("log.txt");
        dated.SetActive(true);
        // Every 10 minutes through the evening before, the DST day and into the day after.
        QString lastPath = dated.FullPath();
        const SysTime end = localTime(d.year, d.month, d.day + 1, 2, 0, 0);
        for (; at < end; at += std::chrono::minutes(10)) {
            dated.WriteLine("tick");
            if (dated.FullPath() != lastPath) {
                ++opens;
                lastPath = dated.FullPath();
            }
        }
        dated.SetActive(false);
        EXPECT_EQ(opens, 2) << d.zone << ": one rollover into the DST day and one out of it";
        const QStringList files = QDir(zoneDir.path()).entryList(QDir::Files, QDir::Name);
        ASSERT_EQ(files.size(), 3) << d.zone;
        for (const QString& file : files)
            expectLinesMatchFile(zoneDir.path() + "/" + file, file.mid(4, 10).replace('_', '-'));
    }
}

TEST_F(LogTest, OverwriteDeletesOnlyOnARealChange) {
    log.SetLogPath(dir.path());
    log.SetLogMode(lmOverwrite);
    log.SetFileName("over.txt");
    {
        QFile old(path("over.txt"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old content\n");
    }
    log.SetActive(true);
    EXPECT_EQ(readAll(path("over.txt")), QByteArray());
    log.WriteLine("kept");
    log.Flush();
    // Same values again: no reopen, nothing deleted.
    log.SetActive(true);
    log.SetFileName("over.txt");
    log.SetLogMode(lmOverwrite);
    log.SetLogPath(dir.path());
    log.SetOptions(log.Options());
    EXPECT_EQ(readAll(path("over.txt")), QByteArray("2026-12-05\t13:04:05\tkept\r\n"));
    // A real change reopens, and overwrite deletes.
    log.SetTimeType(lttTimeDiff);
    EXPECT_EQ(readAll(path("over.txt")), QByteArray());
    // A date format that does not name the day reuses the file at midnight instead of deleting it.
    log.SetDateFormat("yyyy_mm");
    log.SetLogBy(lbDate);
    log.WriteLine("december");
    now += std::chrono::hours(24);
    log.WriteLine("next day");
    log.SetActive(false);
    EXPECT_EQ(readAll(path("over_2026_12.txt")).count('\n'), 2);
}
