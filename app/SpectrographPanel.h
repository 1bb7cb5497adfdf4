#pragma once
// One spectrograph: its serial port, the controller protocol, the connection search, moves, grating
// changes and scans, as one state machine. The window is its view; the window and remote clients drive it
// through the same operations, on the window thread, and each operation has one check that says why the
// panel cannot take it now.

#include "KivPortAccess.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class PreciseTimer;
class QTimer;
class TKivComm;

// The controller commands; the console knows which reply it waits for only by the last one sent.
enum TCommandKind : std::uint8_t { ckStatus, ckInfo, ckMove, ckStop, ckSelectGrating, ckInitialize };

struct TGratingInfo {
    int Value0 = 0;
    int Value1 = 0;
    int Groove = 0;
    double Blaze = 0;
    int Value4 = 0;
    int Value5 = 0;
    double Value6 = 0;
    int Value7 = 0;
    double Value8 = 0;
    int Value9 = 0;
};

// What a controller reports about itself.
struct TSpectrographInfo {
    QString Name;
    QString InfoText1;
    int InfoValue2 = 0;
    int GratingCount = 0;
    int InfoValue4 = 0;
    std::array<TGratingInfo, 11> Gratings{};
    int StatusValue0 = 0;
    int CurrentGrating = 0;
    int StatusValue2 = 0;
    double CurrentWavelength = 0;
    int StatusValue4 = 0;
};

// What a panel is doing; every other part reads it rather than the fields beneath.
enum TPanelMode : std::uint8_t {
    pmOff,             // no port open
    pmSearching,       // trying the ports, or waiting for the other panel's search to end
    pmInitialising,    // reading the controller's name and gratings, or initialising the drive
    pmReady,           // connected, nothing outstanding
    pmMoving,          // a move or jog waits for its reply
    pmChangingGrating, // a grating change, up to the move that follows it
    pmScanning,        // a scan runs
    pmPaused,          // a scan is paused
    pmExpert,          // the expert terminal has the port
    pmDisconnecting,   // the port closes after its pause
    pmFault,           // the port was lost and has not been searched again
};

// The scan box as numbers: what the user typed or a client asked for.
struct TScanInput {
    double Start = 0;
    double End = 0;
    double Resolution = 0;
    double Time = 0; // seconds
    int PeriodCount = 0;
};

// The scan's parameters once recomputed: the point count follows from the range and the resolution, the
// time per point from the scan time, held at the timer's floor, and the scan time from both.
struct TScanParameters {
    double Start = 0;
    double End = 0;
    double Resolution = 0;
    int PointCount = 0;
    double Time = 0;      // seconds
    double PointTime = 0; // milliseconds: the scan timer's period
    int PeriodCount = 0;
};

// Searches of the two panels run one after the other, in the order they were started: two at once would
// race for the same ports and could each end on the other's controller.
class PortSearchQueue {
public:
    // True when the caller may search now; otherwise it is queued and Start runs when its turn comes.
    bool request(const void* Owner, std::function<void()> Start);
    void finished(const void* Owner);

private:
    const void* FRunning = nullptr;
    std::deque<std::pair<const void*, std::function<void()>>> FWaiting;
};

class SpectrographPanel : public QObject {
    Q_OBJECT
public:
    SpectrographPanel(int Index, PortSearchQueue& Searches, QObject* Parent = nullptr);
    ~SpectrographPanel() override;

    // Wavelengths the drive may be sent to, in nm, and the largest scans.
    static constexpr double MinWavelength = 0;
    static constexpr double MaxWavelength = 100000;
    static constexpr int MaxPoints = 10000000;
    static constexpr int MaxPasses = 1000000;
    static constexpr int PortCount = 22; // "COM1" to "COM22"

    int index() const { return FIndex; }
    QString name() const; // "Spectrograph 1"
    TPanelMode mode() const;
    static const char* modeName(TPanelMode Mode);

    // ---- Operations ----
    // Each returns an empty text when it was carried out, or why the panel cannot take it now; a refused
    // operation sends nothing and changes nothing.
    QString commClick();            // COMM.: disconnects a connected panel, else (re)starts the search
    QString connectController();    // searches unless connected or searching already
    QString disconnectController(); // closes the port, ends a search; nothing to do when off
    QString initialize();
    QString move(double Nm);                         // on the drive's grating
    QString moveWithGrating(int Grating, double Nm); // a grating change first when the drive is on another
    QString jog(double From, double Step);
    // The grating alone: a change on the drive's wavelength; nothing to send when it is in place already.
    QString changeGrating(int Grating);
    // Stops what can be stopped: a scan at once. The controller has no command that halts a move.
    QString stop();
    QString startScan(const TScanInput& Scan);
    QString pauseScan();
    QString resumeScan();
    QString stopScan();

    // The scan box recomputed from Input, as the box shows it: throws DivisionByZeroError when the
    // resolution or the point count is 0, as the floating-point unit would. Stored as the panel's scan
    // parameters unless a scan runs on them.
    TScanParameters calcScanParams(const TScanInput& Input);

    // ---- The selector and the expert terminal ----
    void setEnabled(bool Enabled);
    bool enabled() const { return FEnabled; }
    void setExpert(bool On);
    bool expert() const { return FExpert; }
    // The window is closing: timers stop and no operation is taken from now on.
    void shutDown();
    // The port tried first by the next search (0 for COM1; -1: the usual order only).
    void setPreferredPort(int PortIndex) { FPreferredPort = PortIndex; }

    // ---- State ----
    TKivComm* comm() const { return FComm; }
    QTimer* connectTimer() const { return FConnectTimer; }
    PreciseTimer* scanTimer() const { return FScanTimer; }
    const TSpectrographInfo& info() const { return FInfo; }
    bool connected() const { return FConnected; }
    bool searching() const { return FConnectStep != 0 || FSearchQueued; }
    bool busy() const { return FBusy; }
    bool awaitingReply() const { return FAwaiting; }
    TCommandKind lastCommand() const { return FCommand; }
    QByteArray lastReply() const { return FReply; }
    int commandsSent() const { return FCommandsSent; } // since the panel was made
    double targetWavelength() const { return FTargetWavelength; }
    int connectStep() const { return FConnectStep; }
    int portIndex() const { return FPortIndex; }
    bool moveCaption() const { return FMoveCaption; } // MOVE shows "MOVING"
    int scanState() const { return FScanState; }      // 0 idle, 1 running, 2 paused
    int scanStep() const { return FScanStep; }        // 0 off, 1 next point due, 2 its reply awaited
    const TScanParameters& scan() const { return FScan; }
    int scanPointIndex() const { return FScanPointIndex; }
    int scanPeriodIndex() const { return FScanPeriodIndex; }
    QString lastLogLine() const { return FLastLogLine; }
    // Whether the port was lost or failed and has not been searched again since; and the system's text
    // of the last such fault (kept after a reconnect).
    bool portLost() const { return FFault; }
    QString lastFault() const { return FFaultReason; }
    // When the last scan tick ran (steady clock, ns; 0 before the first), and how many timer deliveries
    // were held back for coming before the period was over.
    qint64 lastScanTickNs() const { return FLastTickNs; }
    int heldBackScanTicks() const { return FHeldBack; }

    // ---- Protocol, as the port's events and the timers drive it ----
    void sendCommand(TCommandKind Kind);
    void eventCharReceived(int ACount);
    void received(int ACount);
    void connectTick();
    void scanTick();
    // The reply parsers; each returns why a reply is bad (empty when it was taken), and a bad reply
    // changes nothing.
    QString parseStatusReply(const QString& Text);
    QString parsePositionReply(const QString& Text);
    QString parseInfoReply(const QString& Text);

    // Writes a line to the panel's log (pane and file, through OnLog).
    void log(const QString& Text);
    std::function<void(const QString&)> OnLog;

signals:
    // Anything of the panel may have changed; raised on this thread, often several times in a handler.
    void changed();
    // What the view shows of the controller's answers and of the operations.
    void nameShown(const QString& Text);
    void wavelengthShown(double Nm);
    void gratingShown(int Grating);          // the drive's grating, after every answer
    void gratingRowsShown(int GratingCount); // rows enabled by the info reply
    void gratingTableShown();
    void targetShown(double Nm); // the move field
    void scanShown();            // the scan box, from scan()
    void terminalReceived(const QByteArray& Bytes);
    // A search found the controller on port PortIndex (0 for COM1).
    void connectedOn(int PortIndex);

private:
    enum class Step : std::uint8_t { None, OpenPort, MoveAfterGrating, ClosePort };

    QString whyNot(bool NeedsIdle) const;
    QString checkWavelength(double Nm) const;
    void beginSearch();
    void endSearch();
    void startStep(Step Kind, int Ms);
    void stepDone();
    void finishDisconnect();
    void releaseMove();
    void giveUpReply();
    void badReply(const QString& Why);
    void showAnswer();
    void sendMove(double Nm);
    void enableScanTimer(bool Enabled);
    void armScanTimer(qint64 FromNs);
    void endScan();
    void commError(int ErrCode, const QString& ErrDesc);
    void handlePortFaultLater(std::function<void()> Handler);
    void connectionLost(const QString& Reason);
    void inputOverflow(const QString& Reason);
    void reportRefusedPort(int OpenError);
    bool protocolOwnsReply() const;

    const int FIndex;
    PortSearchQueue& FSearches;
    TKivComm* FComm = nullptr;
    QTimer* FConnectTimer = nullptr;
    PreciseTimer* FScanTimer = nullptr;
    QTimer* FStepTimer = nullptr;
    Step FStep = Step::None;

    // Connection.
    bool FConnected = false;
    bool FSearchQueued = false;
    int FConnectStep = 0; // 0 idle, 1 open the next port and query it, 2 judge, 3 success, 4 failure
    int FPortIndex = 0;
    std::vector<int> FSearchOrder;
    int FSearchPosition = 0;
    int FPreferredPort = -1;
    PortRefusals FRefusals; // ports that refused the user during this search
    bool FEnabled = true;
    bool FExpert = false;
    bool FShutDown = false;

    // Protocol.
    QByteArray FReply;
    TCommandKind FCommand = ckStatus;
    int FCommandsSent = 0;
    bool FAwaiting = false;
    bool FSentInExpert = false;
    bool FBusy = false;
    bool FMoveCaption = false;
    double FTargetWavelength = 0;
    int FGratingAsked = 0;
    bool FReadingInfo = false;
    bool FStrayTold = false;
    TSpectrographInfo FInfo;
    QString FLastLogLine;

    // Port faults: the open generation counts closes, so a fault reported for a port since closed is not
    // applied to the next one.
    bool FFault = false;
    QString FFaultReason;
    bool FOverflowQueued = false;
    bool FOverflowTold = false;
    std::atomic<int> FOpenGeneration{0};

    // Scan.
    TScanParameters FScan;
    int FScanState = 0;
    int FScanStep = 0;
    int FScanPointIndex = 0;
    int FScanPeriodIndex = 0;
    int FPeriodMs = 10;
    bool FScanTimerOn = false;
    qint64 FLastTickNs = 0;
    int FHeldBack = 0;
};
