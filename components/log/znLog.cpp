#include "znLog.h"

#include "OrvaneErrors.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <exception>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TznOptex LogLock;

namespace {

constexpr std::int64_t microsPerSecond = 1'000'000;
constexpr std::int64_t secondsPerDay = 86'400;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

void put2(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

void put4(char* out, int value) {
    put2(out, value / 100);
    put2(out + 2, value % 100);
}

// "hh:nn:ss\t" for a count of seconds within one day.
void formatClockText(char* out, std::int64_t seconds) {
    put2(out, static_cast<int>(seconds / 3600));
    out[2] = ':';
    put2(out + 3, static_cast<int>(seconds / 60 % 60));
    out[5] = ':';
    put2(out + 6, static_cast<int>(seconds % 60));
    out[8] = '\t';
}

int isoWeeksInYear(int year) {
    const auto jan1Weekday = [](int y) { return (y + y / 4 - y / 100 + y / 400) % 7; };
    return (jan1Weekday(year) == 4 || jan1Weekday(year - 1) == 3) ? 53 : 52;
}

// ISO 8601 week (1 to 53) of a day given by its year, 0-based day of the year and weekday (0 = Sunday).
int isoWeek(int year, int yearDay, int weekday) {
    const int mondayBased = (weekday + 6) % 7;
    const int week = (yearDay - mondayBased + 10) / 7;
    if (week < 1)
        return isoWeeksInYear(year - 1);
    if (week > isoWeeksInYear(year))
        return 1;
    return week;
}

// The date pattern language: yyyy/yy year, mm/m month, dd/d day, hh/h hour, nn/n minute, ss/s second,
// ':' the time separator; everything else is copied.
template <class StampT> QString formatDatePattern(const QString& pattern, const StampT& stamp) {
    QString out;
    const auto number = [&out](int value, int width) {
        out += QString::number(value).rightJustified(width, QLatin1Char('0'));
    };
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i).toLower();
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern.at(i + run).toLower() == c)
            ++run;
        qsizetype used = std::min<qsizetype>(run, 2);
        switch (c.unicode()) {
        case 'y':
            if (run >= 4) {
                used = 4;
                number(stamp.Year, 4);
            } else {
                number(stamp.Year % 100, 2);
            }
            break;
        case 'm':
            number(stamp.Month, static_cast<int>(used));
            break;
        case 'd':
            number(stamp.Day, static_cast<int>(used));
            break;
        case 'h':
            number(stamp.Hour, static_cast<int>(used));
            break;
        case 'n':
            number(stamp.Minute, static_cast<int>(used));
            break;
        case 's':
            number(stamp.SecondOfMinute, static_cast<int>(used));
            break;
        case ':':
            used = 1;
            out += QLatin1Char(':');
            break;
        default:
            used = 1;
            out += pattern.at(i);
            break;
        }
        i += used;
    }
    return out;
}

} // namespace

TznLog::TznLog(QObject* owner) : TznComponent(owner), FAgeTimer(new QTimer(this)) {
    FAgeTimer->setSingleShot(true);
    FAgeTimer->setInterval(znLogMaxLineAgeMs);
    connect(FAgeTimer, &QTimer::timeout, this, [this] { ageFlushDue(); });
}

TznLog::~TznLog() {
    try {
        SetActive(false);
    } catch (const std::exception& error) {
        // Nobody is left to catch it; the buffer cannot be saved anywhere else.
        qWarning("TznLog: %s", error.what());
    }
}

void TznLog::SetActive(bool value) {
    if (FActive == value)
        return;
    TznOptexGuard guard(LogLock);
    FActive = value;
    const std::int64_t now = nowMicroseconds();
    if (value && FLastWrite == 0)
        FLastWrite = now;
    openLogFile(now);
}

void TznLog::SetBufferSize(std::uint32_t value) {
    if (FBufferSize == value)
        return;
    TznOptexGuard guard(LogLock);
    FBufferSize = value; // takes effect at the next line
}

void TznLog::SetDateFormat(const QString& value) {
    if (FDateFormat == value)
        return;
    TznOptexGuard guard(LogLock);
    FDateFormat = value;
    reopenFromSetter();
}

void TznLog::SetFileName(const QString& value) {
    if (FFileName == value)
        return;
    TznOptexGuard guard(LogLock);
    FFileName = value;
    reopenFromSetter();
}

void TznLog::SetLogBy(TznLogBy value) {
    if (FLogBy == value)
        return;
    TznOptexGuard guard(LogLock);
    FLogBy = value;
    reopenFromSetter();
}

void TznLog::SetLogMode(TznLogMode value) {
    if (FLogMode == value)
        return;
    TznOptexGuard guard(LogLock);
    FLogMode = value;
    reopenFromSetter();
}

void TznLog::SetLogPath(const QString& value) {
    if (FLogPath == value)
        return;
    TznOptexGuard guard(LogLock);
    FLogPath = value;
    reopenFromSetter();
}

void TznLog::SetOptions(TznLogOptions value) {
    if (FOptions == value)
        return;
    TznOptexGuard guard(LogLock);
    FOptions = value;
    reopenFromSetter();
}

void TznLog::SetTimeType(TznLogTimeType value) {
    if (FTimeType == value)
        return;
    TznOptexGuard guard(LogLock);
    FTimeType = value;
    reopenFromSetter();
}

QString TznLog::FullPath() const {
    TznOptexGuard guard(LogLock);
    return FFullPath;
}

std::size_t TznLog::PendingBytes() const {
    TznOptexGuard guard(LogLock);
    return FBuffer.size();
}

std::uint64_t TznLog::DroppedLines() const {
    TznOptexGuard guard(LogLock);
    return FDropped;
}

bool TznLog::Faulted() const {
    TznOptexGuard guard(LogLock);
    return FWriteFailed || (FOpenFailed && FFile < 0);
}

QString TznLog::FaultReason() const {
    TznOptexGuard guard(LogLock);
    return FFaultErrno == 0 ? QString()
                            : QString::fromStdString(std::generic_category().message(FFaultErrno));
}

std::uint64_t TznLog::HeldLines() const {
    TznOptexGuard guard(LogLock);
    return FPendingLines;
}

std::uint64_t TznLog::MaxPendingBytes() const {
    TznOptexGuard guard(LogLock);
    return FMaxPending;
}

void TznLog::SetMaxPendingBytes(std::uint64_t value) {
    TznOptexGuard guard(LogLock);
    FMaxPending = value;
}

void TznLog::SetClock(TznClock clock) {
    TznOptexGuard guard(LogLock);
    FClock = std::move(clock);
    FStamp = Stamp{};
}

std::int64_t TznLog::nowMicroseconds() const {
    const auto now = FClock ? FClock() : std::chrono::system_clock::now();
    return std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
}

const TznLog::Stamp& TznLog::stampFor(std::int64_t microseconds) {
    const std::int64_t second = floorDiv(microseconds, microsPerSecond);
    if (second == FStamp.Second)
        return FStamp;
    // One localtime_r per second of log time; every line of that second reuses the texts.
    const std::time_t t = static_cast<std::time_t>(second);
    std::tm local{};
    localtime_r(&t, &local);
    Stamp& s = FStamp;
    s.Second = second;
    s.Year = local.tm_year + 1900;
    s.Month = local.tm_mon + 1;
    s.Day = local.tm_mday;
    s.Hour = local.tm_hour;
    s.Minute = local.tm_min;
    s.SecondOfMinute = local.tm_sec;
    s.IsoWeek = isoWeek(s.Year, local.tm_yday, local.tm_wday);
    put4(s.DateText, s.Year);
    s.DateText[4] = '-';
    put2(s.DateText + 5, s.Month);
    s.DateText[7] = '-';
    put2(s.DateText + 8, s.Day);
    s.DateText[10] = '\t';
    formatClockText(s.TimeText, s.Hour * 3600 + s.Minute * 60 + s.SecondOfMinute);
    return s;
}

std::int64_t TznLog::periodKey(const Stamp& stamp) const {
    // The key carries the same fields as the file name, so a line always goes to the file its own date names.
    switch (FLogBy) {
    case lbDate:
        return (stamp.Year * 100 + stamp.Month) * 100 + stamp.Day;
    case lbWeek:
        return stamp.Year * 100 + stamp.IsoWeek;
    case lbMonth:
        return stamp.Year * 100 + stamp.Month;
    case lbNone:
        break;
    }
    return 0;
}

QString TznLog::fileNameFor(const Stamp& stamp) {
    if (FLogBy == lbNone)
        return FFileName;
    // The dated names keep only the file part of FileName: base up to its first dot, ext from its last dot.
    // ':' is an ordinary file name character here, so only '/' separates folders.
    const QString namePart = FFileName.mid(FFileName.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype firstDot = namePart.indexOf(QLatin1Char('.'));
    const qsizetype lastDot = namePart.lastIndexOf(QLatin1Char('.'));
    const QString base = firstDot < 0 ? namePart : namePart.left(firstDot);
    const QString ext = lastDot < 0 ? QString() : namePart.mid(lastDot);
    switch (FLogBy) {
    case lbDate:
        if (FDateFormat.isEmpty())
            FDateFormat = QStringLiteral("yyyymmdd");
        return base + QLatin1Char('_') + formatDatePattern(FDateFormat, stamp) + ext;
    case lbWeek:
        return QStringLiteral("%1_%2_%3%4").arg(base).arg(stamp.Year).arg(stamp.IsoWeek).arg(ext);
    case lbMonth:
        return QStringLiteral("%1_%2%3%4")
            .arg(base)
            .arg(stamp.Year)
            .arg(stamp.Month, 2, 10, QLatin1Char('0'))
            .arg(ext);
    case lbNone:
        break;
    }
    return FFileName;
}

QString TznLog::fullPathFor(const Stamp& stamp) {
    QString path = FLogPath;
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + fileNameFor(stamp);
}

void TznLog::reopenFromSetter() {
    openLogFile(nowMicroseconds());
}

void TznLog::closeLogFile() {
    if (FFile >= 0) {
        ::close(FFile);
        FFile = -1;
    }
}

void TznLog::openLogFile(std::int64_t microseconds) {
    // The old file gets the buffered lines first; if that write fails they stay buffered for the next file.
    std::exception_ptr writeError;
    if (FFile >= 0) {
        try {
            flushLocked(microseconds);
        } catch (const OrvaneError&) {
            writeError = std::current_exception();
        }
        closeLogFile();
    }
    FOpenFailed = false;
    const Stamp& stamp = stampFor(microseconds);
    FFileKey = periodKey(stamp);
    if (FActive && !FFileName.isEmpty()) {
        FFullPath = fullPathFor(stamp);
        const QByteArray nativePath = QFile::encodeName(FFullPath);
        if (FLogMode == lmOverwrite)
            ::unlink(nativePath.constData()); // a missing file is fine
        // O_APPEND keeps whole buffered writes together even with a second writer on the same file.
        const int file = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (file < 0) {
            const int error = errno;
            FFaultErrno = error;
            FOpenFailed = true;
            FFailedOpenSecond = stamp.Second;
            throw FileOpenError("Cannot open file \"" + FFullPath.toStdString() + "\". " +
                                std::generic_category().message(error));
        }
        FFile = file;
        FWriteFailed = false;
        FIdentitySecond = stamp.Second;
        appendDropNoticeIfDue(microseconds);
    }
    if (writeError)
        std::rethrow_exception(writeError);
}

// Whether the open file is no longer the one its path names: deleted (its lines would go nowhere) or moved
// away. Two system calls, so asked at most once a second of log time, and only when writing.
bool TznLog::fileReplaced() {
    struct stat open {};
    if (::fstat(FFile, &open) != 0)
        return false;
    if (open.st_nlink == 0)
        return true;
    struct stat named {};
    if (::stat(QFile::encodeName(FFullPath).constData(), &named) != 0)
        return errno == ENOENT;
    return named.st_dev != open.st_dev || named.st_ino != open.st_ino;
}

void TznLog::reopenReplacedFile(std::int64_t microseconds) {
    struct stat open {};
    const bool deleted = ::fstat(FFile, &open) == 0 && open.st_nlink == 0;
    closeLogFile();
    const int file =
        ::open(QFile::encodeName(FFullPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0) {
        const int error = errno;
        FFaultErrno = error;
        FOpenFailed = true;
        FFailedOpenSecond = floorDiv(microseconds, microsPerSecond);
        throw FileOpenError("Cannot open file \"" + FFullPath.toStdString() + "\". " +
                            std::generic_category().message(error));
    }
    FFile = file;
    if (deleted) {
        // Whatever went into the deleted file is gone; say so where those lines are missing.
        static constexpr char notice[] =
            "The log file was deleted while open; the lines written to it are lost";
        std::string held;
        held.swap(FBuffer);
        appendLine(stampFor(microseconds), microseconds, notice, sizeof notice - 1);
        FBuffer += held;
    }
}

void TznLog::flushLocked(std::int64_t microseconds) {
    if (FFile < 0 || FBuffer.empty())
        return;
    const std::int64_t second = floorDiv(microseconds, microsPerSecond);
    if (second != FIdentitySecond) {
        FIdentitySecond = second;
        if (fileReplaced())
            reopenReplacedFile(microseconds);
    }
    std::size_t written = 0;
    while (written < FBuffer.size()) {
        const ssize_t n = ::write(FFile, FBuffer.data() + written, FBuffer.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        FFaultErrno = n < 0 ? errno : ENOSPC;
        // Keep exactly what did not reach the file, so the next flush neither loses nor repeats bytes.
        const auto linesWritten =
            static_cast<std::uint64_t>(std::count(FBuffer.data(), FBuffer.data() + written, '\n'));
        FPendingLines -= std::min(FPendingLines, linesWritten);
        FBuffer.erase(0, written);
        FOldestPending = microseconds; // the age counts again from this try, so a retry comes a second later
        FWriteFailed = true;
        throw StreamWriteError("Stream write error");
    }
    FBuffer.clear();
    FPendingLines = 0;
    FWriteFailed = false;
    // After a long outage the buffer may have grown large; give that memory back.
    if (FBuffer.capacity() > 4 * static_cast<std::uint64_t>(FBufferSize) + 65536)
        std::string().swap(FBuffer);
    appendDropNoticeIfDue(microseconds);
}

void TznLog::appendDropNoticeIfDue(std::int64_t microseconds) {
    if (FDropped == 0 || FFile < 0 || FWriteFailed)
        return;
    const std::string text =
        std::to_string(FDropped) + " log lines dropped: the log file could not be written";
    FDropped = 0;
    appendLine(stampFor(microseconds), microseconds, text.data(), text.size());
}

void TznLog::appendLine(const Stamp& stamp, std::int64_t microseconds, const char* text, std::size_t length) {
    const bool withDate = FOptions.testFlag(loAppendDate);
    const bool withTime = FOptions.testFlag(loAppendTime);
    const bool withBreak = FOptions.testFlag(loAppendLineBreak);
    const std::size_t lineLength = (withDate ? 11 : 0) + (withTime ? 9 : 0) + length + (withBreak ? 2 : 0);
    // Bounded while the file cannot take the lines (a writable file gets the buffer right after this line);
    // once dropping starts it goes on until the notice is queued, so the notice stands where lines are
    // missing.
    const std::uint64_t limit = std::max<std::uint64_t>(FMaxPending, std::uint64_t{FBufferSize} + lineLength);
    const bool writable = FFile >= 0 && !FWriteFailed;
    if (!writable && (FDropped > 0 || FBuffer.size() + lineLength > limit)) {
        ++FDropped;
        return;
    }
    if (FBuffer.empty()) {
        FOldestPending = microseconds;
        armAgeFlush();
    }
    ++FPendingLines;
    if (withDate)
        FBuffer.append(stamp.DateText, sizeof stamp.DateText);
    if (withTime) {
        if (FTimeType == lttTimeStamp) {
            FBuffer.append(stamp.TimeText, sizeof stamp.TimeText);
        } else {
            // Only the time of day of the elapsed time shows; a clock set back shows zero.
            const std::int64_t elapsed = std::max<std::int64_t>(0, floorDiv(microseconds, microsPerSecond) -
                                                                       floorDiv(FLastWrite, microsPerSecond));
            char diff[9];
            formatClockText(diff, elapsed % secondsPerDay);
            FBuffer.append(diff, sizeof diff);
        }
    }
    FBuffer.append(text, length);
    if (withBreak)
        FBuffer.append("\r\n", 2);
}

void TznLog::WriteLine(const char* text, std::size_t length) {
    TznOptexGuard guard(LogLock);
    if (!FActive)
        return;
    // One clock reading per line, under the lock: the stamp, the file's period and the last-write time agree.
    const std::int64_t now = nowMicroseconds();
    const Stamp& stamp = stampFor(now);
    std::exception_ptr failure;
    if (FLogBy != lbNone) {
        const std::int64_t key = periodKey(stamp);
        if (key != FFileKey) {
            if (FFile >= 0 && fullPathFor(stamp) == FFullPath) {
                FFileKey = key; // a DateFormat without the day names the same file again
            } else {
                try {
                    openLogFile(now);
                } catch (const OrvaneError&) {
                    failure = std::current_exception();
                }
            }
        }
    }
    if (!failure && FFile < 0 && FOpenFailed && stamp.Second != FFailedOpenSecond) {
        // Retry a failed open at most once a second; this failure was already reported when it first
        // happened.
        try {
            openLogFile(now);
        } catch (const FileOpenError&) {
        }
    }
    appendLine(stamp, now, text, length);
    constexpr std::int64_t maxAge = std::int64_t{znLogMaxLineAgeMs} * 1000;
    if (FOptions.testFlag(loImmediateFlush) || FBuffer.size() > std::uint64_t{FBufferSize} ||
        (!FBuffer.empty() && (now - FOldestPending >= maxAge || now < FOldestPending))) {
        try {
            flushLocked(now);
        } catch (const OrvaneError&) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    FLastWrite = now;
    if (failure)
        std::rethrow_exception(failure);
}

void TznLog::WriteLine(const char* text) {
    WriteLine(text, std::char_traits<char>::length(text));
}

void TznLog::WriteLine(const QByteArray& text) {
    WriteLine(text.constData(), static_cast<std::size_t>(text.size()));
}

void TznLog::WriteLine(const QString& text) {
    WriteLine(text.toLocal8Bit());
}

void TznLog::Flush() {
    TznOptexGuard guard(LogLock);
    flushLocked(nowMicroseconds());
}

// Asks the owner's thread for a flush once the line just buffered is a second old. Caller holds LogLock.
void TznLog::armAgeFlush() {
    if (FAgeArmed || !QCoreApplication::instance())
        return; // armed already, or no event loop to run a timer (the lines still go at 64 KiB and at close)
    FAgeArmed = true;
    if (QThread::currentThread() == thread())
        FAgeTimer->start();
    else
        QMetaObject::invokeMethod(
            FAgeTimer, [timer = FAgeTimer] { timer->start(); }, Qt::QueuedConnection);
}

// The age flush: writes what waits, retries a file that could not be opened or written, and keeps retrying
// each second while that fails, so held lines reach the file once it takes them even if no line follows.
void TznLog::ageFlushDue() {
    TznOptexGuard guard(LogLock);
    FAgeArmed = false;
    if (!FActive)
        return;
    const std::int64_t now = nowMicroseconds();
    try {
        if (FFile < 0 && FOpenFailed)
            openLogFile(now);
        flushLocked(now);
    } catch (const OrvaneError&) {
        // Kept in Faulted() and FaultReason(); the next line's writer hears of it.
    }
    if (!FBuffer.empty() && (FWriteFailed || FOpenFailed))
        armAgeFlush();
}
