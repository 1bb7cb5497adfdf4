#pragma once
// Shared helpers of the log tests: a settable clock, local times in a chosen time zone, file reading.

#include "znLog.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

using SysTime = std::chrono::system_clock::time_point;

// Switches the process's local time zone (tests run one at a time in this program).
inline void useTimeZone(const char* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
}

// A local wall-clock time in the current zone (mktime decides DST itself).
inline SysTime localTime(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A log in a fresh temporary folder whose clock the test sets.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        useTimeZone("UTC");
        ASSERT_TRUE(dir.isValid());
        now = localTime(2026, 12, 5, 13, 4, 5);
        log.SetClock([this] { return now; });
    }
    void TearDown() override { useTimeZone("UTC"); }

    QString path(const QString& name) const { return dir.path() + "/" + name; }

    // The main window's settings: dated files, yyyy_mm_dd, date, time and line break.
    void useMainWindowSettings() {
        log.SetDateFormat("yyyy_mm_dd");
        log.SetLogBy(lbDate);
        log.SetOptions(loAppendDate | loAppendLineBreak | loAppendTime);
        log.SetLogPath(dir.path());
        log.SetFileName("log.txt");
    }

    QTemporaryDir dir;
    SysTime now;
    TznLog log;
};
