#pragma once
// KivComm: the serial port component (one port, its line settings, writing, reading, purging) and the
// receive thread that turns line activity into the component's events on the GUI thread.
//
// Port names "COM1" ... "COM32" are resolved to devices by DeviceForPort: with ORVANE_PORT_DIR set, "COMn" is
// the file $ORVANE_PORT_DIR/COMn (a link to a device or a pseudo-terminal); otherwise it is the n-th serial
// device of the machine: /dev/ttyUSB*, then /dev/ttyACM*, then /dev/ttyS*, each in numeric order.

#include <QFlags>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace KivCommTypes {
Q_NAMESPACE

enum TPort : std::uint8_t {
    COM01,
    COM02,
    COM03,
    COM04,
    COM05,
    COM06,
    COM07,
    COM08,
    COM09,
    COM10,
    COM11,
    COM12,
    COM13,
    COM14,
    COM15,
    COM16,
    COM17,
    COM18,
    COM19,
    COM20,
    COM21,
    COM22,
    COM23,
    COM24,
    COM25,
    COM26,
    COM27,
    COM28,
    COM29,
    COM30,
    COM31,
    COM32
};
Q_ENUM_NS(TPort)

enum TBaudRate : std::uint8_t {
    ___2400,
    ___4800,
    ___9600,
    __14400,
    __19200,
    __38400,
    __56000,
    __57600,
    _115200,
    _128000,
    _256000
};
Q_ENUM_NS(TBaudRate)

enum TParity : std::uint8_t { NONE, ODD, EVEN, MARK, SPACE };
Q_ENUM_NS(TParity)

enum TStopBits : std::uint8_t { _1, _1_5, _2 };
Q_ENUM_NS(TStopBits)

enum TByteSize : std::uint8_t { _7, _8 };
Q_ENUM_NS(TByteSize)

enum TFlowControl : std::uint8_t { FC_NONE, FC_XONXOFF, FC_RTSCTS, FC_DTRDSR };
Q_ENUM_NS(TFlowControl)

enum TCommEvent : std::uint8_t {
    EVRXCHAR,
    EVRXFLAG,
    EVTXEMPTY,
    EVCTS,
    EVDSR,
    EVRLSD,
    EVBREAK,
    EVERR,
    EVRING
};
Q_ENUM_NS(TCommEvent)

enum TThreadPriority : std::uint8_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};
Q_ENUM_NS(TThreadPriority)
} // namespace KivCommTypes

using namespace KivCommTypes;

// Bit i is TCommEvent i, which are exactly the EV_* wait-mask values.
class TCommEvents {
public:
    constexpr TCommEvents() = default;
    constexpr TCommEvents(std::initializer_list<TCommEvent> events) {
        for (TCommEvent e : events)
            FBits |= 1u << e;
    }
    constexpr bool testFlag(TCommEvent e) const { return (FBits >> e) & 1u; }
    constexpr std::uint32_t toInt() const { return FBits; }
    static constexpr TCommEvents fromInt(std::uint32_t bits) {
        TCommEvents s;
        s.FBits = bits & 0x1FFu;
        return s;
    }
    constexpr bool operator==(const TCommEvents&) const = default;

private:
    std::uint32_t FBits = 0;
};

// Wait-mask bits (EV_*), line-error bits (CE_*) and their texts.
namespace KivCommBits {
constexpr std::uint32_t EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002, EV_TXEMPTY = 0x0004, EV_CTS = 0x0008,
                        EV_DSR = 0x0010, EV_RLSD = 0x0020, EV_BREAK = 0x0040, EV_ERR = 0x0080,
                        EV_RING = 0x0100;
constexpr std::uint32_t CE_RXOVER = 0x0001, CE_OVERRUN = 0x0002, CE_RXPARITY = 0x0004, CE_FRAME = 0x0008,
                        CE_BREAK = 0x0010, CE_TXFULL = 0x0100, CE_PTO = 0x0200, CE_IOE = 0x0400,
                        CE_DNS = 0x0800, CE_OOP = 0x1000, CE_MODE = 0x8000;
} // namespace KivCommBits

class TKivCustomComm;
class TReadThread;
struct KivPortState; // what the GUI thread and the receive thread share while a port is open

using TNotifyError = std::function<void(QObject* Sender, int ErrCode, const QString& ErrDesc)>;
using TNotifyStatusChange = std::function<void(QObject* Sender, bool State)>;
using TNotifyMsg = std::function<void(QObject* Sender, const QString& Msg)>;
using TNotifyReceiveEvent = std::function<void(QObject* Sender, int ACount)>;
using TNotifyCommEvents = std::function<void(QObject* Sender, std::uint32_t dwCommEvent)>;

// One serial port: settings, open/close, write, read, purge; its events come from the receive thread.
class TKivCustomComm : public QObject {
    Q_OBJECT
public:
    explicit TKivCustomComm(QObject* AOwner = nullptr);
    ~TKivCustomComm() override;

    // The device a port name stands for ("COM3" -> $ORVANE_PORT_DIR/COM3 or the third serial device);
    // empty when there is none.
    static std::string DeviceForPort(const QString& PortName);

    bool OpenComm();
    bool CloseComm();
    bool WriteData(const QByteArray& S);
    QByteArray ReadData(int ACount);
    void Purge();
    std::uint32_t InQueueCount();
    bool SetDTR(bool Value);

    // The monitor timer's hook; nothing here.
    virtual void MonitorTick() {}

    TPort Port() const { return FPort; }
    void SetPort(TPort Value);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate Value);
    TParity Parity() const { return FParity; }
    void SetParity(TParity Value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value);
    TByteSize ByteSize() const { return FByteSize; }
    void SetByteSize(TByteSize Value);
    char EventChar() const { return FEventChar; }
    void SetEventChar(char Value) { FEventChar = Value; }
    TFlowControl FlowControl() const { return FFlowControl; }
    void SetFlowControl(TFlowControl Value);
    bool BinaryMode() const { return FBinaryMode; }
    void SetBinaryMode(bool Value) { FBinaryMode = Value; }
    bool CheckParity() const { return FCheckParity; }
    void SetCheckParity(bool Value) { FCheckParity = Value; }
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool Value) { FDiscardNull = Value; }
    TCommEvents CommEvents() const { return FCommEvents; }
    void SetCommEvents(TCommEvents Value);
    std::uint32_t MaxInQueue() const { return FMaxInQueue; }
    void SetMaxInQueue(std::uint32_t Value) { FMaxInQueue = Value; }
    std::uint32_t MaxOutQueue() const { return FMaxOutQueue; }
    void SetMaxOutQueue(std::uint32_t Value) { FMaxOutQueue = Value; }
    std::uint32_t Timeout() const { return FTimeout; }
    void SetTimeout(std::uint32_t Value) { FTimeout = Value; }
    bool PortOpened() const { return FPortOpened; }
    TThreadPriority Priority() const { return FPriority; }
    void SetPriority(TThreadPriority Value) { FPriority = Value; }
    bool Monitor() const { return FMonitor; }
    void SetMonitor(bool Value);
    std::uint32_t MonitorInterval() const { return FMonitorInterval; }
    void SetMonitorInterval(std::uint32_t Value);

    // Not published: the name the port resolves from, the wait mask, and how many received bytes the input
    // queue had no room for since the port was opened.
    QString PortName() const { return FPortName; }
    std::uint32_t EventMask() const { return FEventMask; }
    std::uint64_t RxOverflowCount() const;
    // The errno of the last OpenComm: 0 when it opened the port, EACCES when the device refused us
    // (usually: not in the dialout group), ENOENT when there is no such port, EBUSY when it is held.
    int LastOpenError() const { return FLastOpenError; }

    TNotifyError OnCommError;
    TNotifyStatusChange OnTXStatus;
    TNotifyStatusChange OnOpenStatus;
    TNotifyMsg OnMessage;
    TNotifyReceiveEvent OnReceived;
    TNotifyReceiveEvent OnEventCharReceived;
    TNotifyCommEvents OnCommEvents;

protected:
    bool event(QEvent* e) override;

private:
    friend class TReadThread;

    bool ApplyTimeouts();
    bool ApplyCommState();
    void ReportLineErrors(std::uint32_t Errors);
    std::uint32_t ClearCommError();
    void RestartMonitorTimer();
    void Reopen();
    void ThreadTerminated();
    void DispatchEvents(std::uint32_t Mask);
    void RaiseCommError(int Code, const QString& Desc);

    int FHandle = -1;
    QString FPortName = QStringLiteral("COM1");
    TPort FPort = COM01;
    TBaudRate FBaudRate = ___9600;
    TParity FParity = NONE;
    TStopBits FStopBits = _1;
    TByteSize FByteSize = _8;
    char FEventChar = '\r';
    TFlowControl FFlowControl = FC_NONE;
    bool FBinaryMode = true;
    bool FCheckParity = false;
    bool FDiscardNull = true;
    TCommEvents FCommEvents{EVRXCHAR, EVRXFLAG, EVTXEMPTY};
    std::uint32_t FEventMask = 7;
    std::uint32_t FMaxInQueue = 4096;
    std::uint32_t FMaxOutQueue = 2048;
    std::uint32_t FTimeout = 300;
    bool FPortOpened = false;
    int FLastOpenError = 0;
    TThreadPriority FPriority = tpNormal;
    bool FMonitor = false;
    std::uint32_t FMonitorInterval = 1000;
    bool FDTRState = false;
    QTimer FMonitorTimer;
    bool FMonitorRunning = false;
    std::shared_ptr<KivPortState> FState;
    std::unique_ptr<TReadThread> FReadThread;
};

// The published form of the component.
class TKivComm : public TKivCustomComm {
    Q_OBJECT
    Q_PROPERTY(KivCommTypes::TPort Port READ Port WRITE SetPort)
    Q_PROPERTY(KivCommTypes::TBaudRate BaudRate READ BaudRate WRITE SetBaudRate)
    Q_PROPERTY(KivCommTypes::TParity Parity READ Parity WRITE SetParity)
    Q_PROPERTY(KivCommTypes::TStopBits StopBits READ StopBits WRITE SetStopBits)
    Q_PROPERTY(KivCommTypes::TByteSize ByteSize READ ByteSize WRITE SetByteSize)
    Q_PROPERTY(char EventChar READ EventChar WRITE SetEventChar)
    Q_PROPERTY(KivCommTypes::TFlowControl FlowControl READ FlowControl WRITE SetFlowControl)
    Q_PROPERTY(bool BinaryMode READ BinaryMode WRITE SetBinaryMode)
    Q_PROPERTY(bool CheckParity READ CheckParity WRITE SetCheckParity)
    Q_PROPERTY(bool DiscardNull READ DiscardNull WRITE SetDiscardNull)
    Q_PROPERTY(std::uint32_t MaxInQueue READ MaxInQueue WRITE SetMaxInQueue)
    Q_PROPERTY(std::uint32_t MaxOutQueue READ MaxOutQueue WRITE SetMaxOutQueue)
    Q_PROPERTY(std::uint32_t Timeout READ Timeout WRITE SetTimeout)
    Q_PROPERTY(bool PortOpened READ PortOpened)
    Q_PROPERTY(KivCommTypes::TThreadPriority Priority READ Priority WRITE SetPriority)
    Q_PROPERTY(bool Monitor READ Monitor WRITE SetMonitor)
    Q_PROPERTY(std::uint32_t MonitorInterval READ MonitorInterval WRITE SetMonitorInterval)
public:
    using TKivCustomComm::TKivCustomComm;
};
