#pragma once
// The dated log file component: time-stamped lines, buffered, into a file named after the day, week or month.

#include "znBase.h"
#include "znSyncObjs.h"

#include <QByteArray>
#include <QFlags>
#include <QObject>
#include <QString>

#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>

// The log library's enumerations: one byte each, values prefixed, readable unqualified.
namespace zn {
Q_NAMESPACE

enum TznLogBy : std::uint8_t { lbNone, lbDate, lbWeek, lbMonth };
Q_ENUM_NS(TznLogBy)

enum TznLogMode : std::uint8_t { lmAppend, lmOverwrite };
Q_ENUM_NS(TznLogMode)

// Bit i is element i of the set.
enum TznLogOption : std::uint8_t {
    loAppendDate = 1u << 0,
    loAppendLineBreak = 1u << 1,
    loAppendTime = 1u << 2,
    loImmediateFlush = 1u << 3,
};
Q_DECLARE_FLAGS(TznLogOptions, TznLogOption)
Q_FLAG_NS(TznLogOptions)

enum TznLogTimeType : std::uint8_t { lttTimeStamp, lttTimeDiff };
Q_ENUM_NS(TznLogTimeType)
} // namespace zn

Q_DECLARE_OPERATORS_FOR_FLAGS(zn::TznLogOptions)

using zn::TznLogBy;
using zn::TznLogMode;
using zn::TznLogOption;
using zn::TznLogOptions;
using zn::TznLogTimeType;
using enum zn::TznLogBy;
using enum zn::TznLogMode;
using enum zn::TznLogOption;
using enum zn::TznLogTimeType;

// The one lock shared by every TznLog of the process; recursive, usable from any thread.
extern TznOptex LogLock;

// Source of the current time; the tests replace it to cross midnight, weeks and DST days at will.
using TznClock = std::function<std::chrono::system_clock::time_point()>;

// Appends time-stamped lines to a log file whose name carries the date, week or month.
//
// WriteLine and Flush may be called from any thread; the property setters are for the owner's thread.
// Form streaming: a property equal to its declared default (the znLogDefault... constants, also listed in
// the class info "Default<Name>") is not stored; Active has no default and is always stored. The declared
// default of Options is [loAppendDate, loAppendTime], which differs from the constructed value.
class QTimer;

class TznLog : public TznComponent {
    Q_OBJECT
    Q_CLASSINFO("DefaultBufferSize", "65536")
    Q_CLASSINFO("DefaultLogBy", "lbNone")
    Q_CLASSINFO("DefaultLogMode", "lmAppend")
    Q_CLASSINFO("DefaultOptions", "loAppendDate|loAppendTime")
    Q_CLASSINFO("DefaultTimeType", "lttTimeStamp")
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(quint32 BufferSize READ BufferSize WRITE SetBufferSize)
    Q_PROPERTY(QString DateFormat READ DateFormat WRITE SetDateFormat)
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)
    Q_PROPERTY(zn::TznLogBy LogBy READ LogBy WRITE SetLogBy)
    Q_PROPERTY(zn::TznLogMode LogMode READ LogMode WRITE SetLogMode)
    Q_PROPERTY(QString LogPath READ LogPath WRITE SetLogPath)
    Q_PROPERTY(zn::TznLogOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(zn::TznLogTimeType TimeType READ TimeType WRITE SetTimeType)

public:
    // Declared streaming defaults.
    static constexpr std::uint32_t znLogDefaultBufferSize = 65536;
    static constexpr TznLogBy znLogDefaultLogBy = lbNone;
    static constexpr TznLogMode znLogDefaultLogMode = lmAppend;
    static constexpr TznLogOptions::Int znLogDefaultOptions = loAppendDate | loAppendTime;
    static constexpr TznLogTimeType znLogDefaultTimeType = lttTimeStamp;
    // Constructed value of Options.
    static constexpr TznLogOptions::Int znLogInitialOptions = loAppendDate | loAppendLineBreak | loAppendTime;
    // Most bytes kept in memory while the file cannot be written; further lines are counted and dropped.
    static constexpr std::uint64_t znLogDefaultMaxPending = 16u << 20;
    // A buffered line reaches the file at the latest this long after it was written, so that a crash or a
    // kill costs about a second of lines, not up to a whole buffer.
    static constexpr int znLogMaxLineAgeMs = 1000;

    explicit TznLog(QObject* owner = nullptr);
    ~TznLog() override;

    bool Active() const { return FActive; }
    void SetActive(bool value);
    std::uint32_t BufferSize() const { return FBufferSize; }
    void SetBufferSize(std::uint32_t value);
    QString DateFormat() const { return FDateFormat; }
    void SetDateFormat(const QString& value);
    QString FileName() const { return FFileName; }
    void SetFileName(const QString& value);
    TznLogBy LogBy() const { return FLogBy; }
    void SetLogBy(TznLogBy value);
    TznLogMode LogMode() const { return FLogMode; }
    void SetLogMode(TznLogMode value);
    QString LogPath() const { return FLogPath; }
    void SetLogPath(const QString& value);
    TznLogOptions Options() const { return FOptions; }
    void SetOptions(TznLogOptions value);
    TznLogTimeType TimeType() const { return FTimeType; }
    void SetTimeType(TznLogTimeType value);

    // Appends one line; does nothing while inactive. Text is bytes, written as they are.
    void WriteLine(const char* text, std::size_t length);
    void WriteLine(const char* text);
    void WriteLine(const QByteArray& text);
    // Converts to the local 8-bit encoding first.
    void WriteLine(const QString& text);

    // Writes the buffer to the open file now.
    void Flush();

    // Full path of the file last opened or tried (kept after it is closed).
    QString FullPath() const;
    // Bytes waiting in memory for the file.
    std::size_t PendingBytes() const;
    // Lines dropped since the last notice because the memory bound was reached.
    std::uint64_t DroppedLines() const;

    // The file could not be opened or written at the last try; its lines wait in memory (HeldLines) and go
    // to the file, in order, once it takes them again.
    bool Faulted() const;
    // The system's reason for the last failed open or write ("No space left on device").
    QString FaultReason() const;
    // Lines waiting in memory for the file.
    std::uint64_t HeldLines() const;

    std::uint64_t MaxPendingBytes() const;
    void SetMaxPendingBytes(std::uint64_t value);

    // An empty clock means the system clock.
    void SetClock(TznClock clock);

private:
    // The local calendar fields of one second, with the line prefix texts formatted once for it.
    struct Stamp {
        std::int64_t Second = INT64_MIN;
        int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, SecondOfMinute = 0;
        int IsoWeek = 0;
        char DateText[11] = {}; // "yyyy-mm-dd\t"
        char TimeText[9] = {};  // "hh:nn:ss\t"
    };

    std::int64_t nowMicroseconds() const;
    const Stamp& stampFor(std::int64_t microseconds);
    std::int64_t periodKey(const Stamp& stamp) const;
    QString fileNameFor(const Stamp& stamp);
    QString fullPathFor(const Stamp& stamp);
    void openLogFile(std::int64_t microseconds);
    void closeLogFile();
    void flushLocked(std::int64_t microseconds);
    void appendLine(const Stamp& stamp, std::int64_t microseconds, const char* text, std::size_t length);
    void appendDropNoticeIfDue(std::int64_t microseconds);
    void reopenFromSetter();
    bool fileReplaced();
    void reopenReplacedFile(std::int64_t microseconds);
    void armAgeFlush();
    void ageFlushDue();

    bool FActive = false;
    std::uint32_t FBufferSize = znLogDefaultBufferSize;
    QString FDateFormat;
    QString FFileName;
    TznLogBy FLogBy = lbNone;
    TznLogMode FLogMode = lmAppend;
    QString FLogPath;
    TznLogOptions FOptions = TznLogOptions(znLogInitialOptions);
    TznLogTimeType FTimeType = lttTimeStamp;

    QString FFullPath;
    std::string FBuffer;
    int FFile = -1;
    // Microseconds since the Unix epoch of the last written line (or of activation); 0 until first set.
    std::int64_t FLastWrite = 0;
    // Period (day, week or month) the open file, or the file that failed to open, belongs to.
    std::int64_t FFileKey = INT64_MIN;
    // Second of the last failed open; a retry waits for the next second.
    std::int64_t FFailedOpenSecond = INT64_MIN;
    bool FOpenFailed = false;
    // The last write to the open file failed; its bytes wait in the buffer.
    bool FWriteFailed = false;
    std::uint64_t FDropped = 0;
    int FFaultErrno = 0;
    std::uint64_t FPendingLines = 0;
    // Log time of the oldest line in the buffer that has not reached the file.
    std::int64_t FOldestPending = 0;
    // Second in which the open file was last checked against its path (deleted or moved away).
    std::int64_t FIdentitySecond = INT64_MIN;
    // The age flush timer lives on the owner's thread; a line from another thread asks for it by an event.
    QTimer* FAgeTimer = nullptr;
    bool FAgeArmed = false;
    std::uint64_t FMaxPending = znLogDefaultMaxPending;
    Stamp FStamp;
    TznClock FClock;
};
