#include "SpectrographPanel.h"

#include "KivComm.h"
#include "KivStrUtils.h"
#include "OrvaneApplication.h"
#include "OrvaneErrors.h"
#include "PreciseTimer.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The value of a reply field "key=value": the text between the first and a second "=". A field without
// "=" has no value.
bool fieldValue(const QString& Token, QString& Value) {
    QStringList parts;
    SplitTokens(Token, u"=", parts);
    if (parts.size() < 2)
        return false;
    Value = parts[1];
    return true;
}

// A controller's firmware knows nothing of the user's settings: the numbers of its commands and replies
// always carry a full stop.
constexpr QStringView WireSeparator = u".";

QString wireNumber(double Value) {
    return formatGeneral(Value, WireSeparator);
}

// A field's value as a whole number or a finite real; false when the field has no value or the value is
// no such number, and then Field is left alone.
bool readInt(const QString& Token, int& Field) {
    QString value;
    if (!fieldValue(Token, value))
        return false;
    const int a = parseIntDefault(value, 0);
    if (a != parseIntDefault(value, 1))
        return false;
    Field = a;
    return true;
}

bool readReal(const QString& Token, double& Field) {
    QString value;
    if (!fieldValue(Token, value))
        return false;
    const double number = StrToFloatDefault(value, std::numeric_limits<double>::quiet_NaN(), WireSeparator);
    if (!std::isfinite(number))
        return false;
    Field = number;
    return true;
}

// The blaze comes with its unit ("500nm"): the number is the value without its last two characters.
bool readBlaze(const QString& Token, double& Field) {
    QString value;
    if (!fieldValue(Token, value) || value.size() < 2)
        return false;
    const double number = StrToFloatDefault(QStringView(value).chopped(2),
                                            std::numeric_limits<double>::quiet_NaN(), WireSeparator);
    if (!std::isfinite(number))
        return false;
    Field = number;
    return true;
}

// What a log line shows of bytes from the line: printable ASCII, the rest as "?", cut short.
QString printable(QStringView Text) {
    constexpr int Most = 48;
    QString out;
    for (QChar c : Text.left(Most))
        out += c.unicode() >= 0x20 && c.unicode() < 0x7F ? c : QLatin1Char('?');
    if (Text.size() > Most)
        out += QStringLiteral("...");
    return out;
}

// The division of the recompute, failing as the floating-point unit would: x / 0 is a division by zero,
// 0 / 0 an invalid operation.
long double checkedDivide(long double Dividend, long double Divisor) {
    if (Divisor == 0) {
        if (Dividend == 0 || std::isnan(Dividend))
            throw DivisionByZeroError("Invalid floating point operation");
        throw DivisionByZeroError("Floating point division by zero");
    }
    return Dividend / Divisor;
}

// Rounds to the nearest integer, ties to even, whatever rounding mode is set; a count beyond the 32-bit
// range is held at its nearest end rather than cut to its low bits, so a huge count stays huge and keeps
// its sign.
int roundCount(long double Value) {
    if (std::isnan(Value))
        throw DivisionByZeroError("Invalid floating point operation");
    constexpr long double highest = std::numeric_limits<int>::max();
    constexpr long double lowest = std::numeric_limits<int>::min();
    if (Value >= highest)
        return std::numeric_limits<int>::max();
    if (Value <= lowest)
        return std::numeric_limits<int>::min();
    const long double below = std::floor(Value);
    const long double fraction = Value - below;
    long double rounded = below;
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(below, 2.0L) != 0))
        rounded = below + 1;
    return static_cast<int>(rounded);
}

// The timer period in whole milliseconds; a period past an int's range is held there.
int timerPeriodMs(double PointTime) {
    if (!(PointTime < std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return std::max(0, static_cast<int>(PointTime));
}

// The scan timer counts milliseconds; its floor is a hundredth of a second.
constexpr long double ScanTimeFactor = 1000;

constexpr int GratingPauseMs = 300;    // after a grating change, before the move
constexpr int DisconnectPauseMs = 300; // after the purge, before the port closes
constexpr int ReopenPauseMs = 100;     // between closing one port and opening the next

} // namespace

// ---- Search queue ---------------------------------------------------------------------------------------

bool PortSearchQueue::request(const void* Owner, std::function<void()> Start) {
    if (!FRunning || FRunning == Owner) {
        FRunning = Owner;
        return true;
    }
    std::erase_if(FWaiting, [Owner](const auto& w) { return w.first == Owner; });
    FWaiting.emplace_back(Owner, std::move(Start));
    return false;
}

void PortSearchQueue::finished(const void* Owner) {
    std::erase_if(FWaiting, [Owner](const auto& w) { return w.first == Owner; });
    if (FRunning != Owner)
        return;
    FRunning = nullptr;
    if (FWaiting.empty())
        return;
    auto next = std::move(FWaiting.front());
    FWaiting.pop_front();
    FRunning = next.first;
    next.second();
}

// ---- The panel ------------------------------------------------------------------------------------------

SpectrographPanel::SpectrographPanel(int Index, PortSearchQueue& Searches, QObject* Parent)
    : QObject(Parent), FIndex(Index), FSearches(Searches) {
    setObjectName(QStringLiteral("Spectrograph%1").arg(Index + 1));
    FComm = new TKivComm(this);
    FComm->setObjectName(QStringLiteral("Comm%1").arg(Index + 1));
    FComm->SetEventChar('*');
    FComm->SetBinaryMode(true);
    FComm->SetCheckParity(false);
    FComm->SetDiscardNull(true);
    FComm->SetCommEvents(TCommEvents{EVRXCHAR, EVRXFLAG, EVTXEMPTY});
    FComm->SetPriority(tpNormal);
    FComm->SetMonitorInterval(1000);
    if (Index == 0)
        FComm->SetPort(COM04); // as on the form; every search sets the port before it opens

    FConnectTimer = new QTimer(this);
    FConnectTimer->setObjectName(QStringLiteral("tmrConnect%1").arg(Index + 1));
    FConnectTimer->setInterval(1000);
    FScanTimer = new PreciseTimer(this);
    FScanTimer->setObjectName(QStringLiteral("tmrScanTime%1").arg(Index + 1));
    FScanTimer->setInterval(10);
    FStepTimer = new QTimer(this);
    FStepTimer->setSingleShot(true);
    FStepTimer->setTimerType(Qt::PreciseTimer); // a coarse timer may end a pause up to 5% early

    connect(FConnectTimer, &QTimer::timeout, this, guarded([this] { connectTick(); }));
    connect(FScanTimer, &PreciseTimer::timeout, this, guarded([this] { scanTick(); }));
    connect(FStepTimer, &QTimer::timeout, this, guarded([this] { stepDone(); }));

    // The serial component raises its events on this thread; a handler's error goes to the general error
    // handler like that of any other handler.
    FComm->OnEventCharReceived = guarded([this](QObject*, int n) { eventCharReceived(n); });
    FComm->OnReceived = guarded([this](QObject*, int n) { received(n); });
    FComm->OnCommError = guarded([this](QObject*, int code, const QString& desc) { commError(code, desc); });
    // Raised on the receive thread: nothing here but handing the message to this thread.
    FComm->OnMessage = [this](QObject*, const QString& msg) {
        handlePortFaultLater([this, msg] { connectionLost(msg); });
    };
    FComm->OnOpenStatus = [this](QObject*, bool open) {
        if (!open) {
            ++FOpenGeneration;
            FOverflowQueued = false; // what was queued for this port is dropped
        }
    };
}

SpectrographPanel::~SpectrographPanel() {
    FSearches.finished(this);
    // The port closes while the panel's fields still exist: its last events must not reach them.
    FComm->OnEventCharReceived = nullptr;
    FComm->OnReceived = nullptr;
    FComm->OnCommError = nullptr;
    FComm->OnMessage = nullptr;
    FComm->OnOpenStatus = nullptr;
    delete FComm;
}

QString SpectrographPanel::name() const {
    return QStringLiteral("Spectrograph %1").arg(FIndex + 1);
}

TPanelMode SpectrographPanel::mode() const {
    if (FStep == Step::ClosePort)
        return pmDisconnecting;
    if (!FConnected) {
        if (searching())
            return pmSearching;
        return FFault ? pmFault : pmOff;
    }
    if (FScanState == 1)
        return pmScanning;
    if (FScanState == 2)
        return pmPaused;
    if (FAwaiting && (FCommand == ckInfo || FCommand == ckInitialize || FCommand == ckStatus))
        return pmInitialising;
    if (FStep == Step::MoveAfterGrating || (FAwaiting && FCommand == ckSelectGrating))
        return pmChangingGrating;
    if (FAwaiting && FCommand == ckMove)
        return pmMoving;
    if (FExpert)
        return pmExpert;
    return pmReady;
}

const char* SpectrographPanel::modeName(TPanelMode Mode) {
    static constexpr const char* names[] = {"Off",    "Searching",       "Initialising", "Ready",
                                            "Moving", "ChangingGrating", "Scanning",     "Paused",
                                            "Expert", "Disconnecting",   "Fault"};
    return Mode < std::size(names) ? names[Mode] : "?";
}

void SpectrographPanel::log(const QString& Text) {
    FLastLogLine = Text;
    if (OnLog)
        OnLog(Text);
    emit changed();
}

// ---- Checks -----------------------------------------------------------------------------------------

// Why the panel cannot take a command now: the console closing, the selector, the connection; and when
// NeedsIdle, anything outstanding, a scan or the expert terminal.
QString SpectrographPanel::whyNot(bool NeedsIdle) const {
    if (FShutDown)
        return QStringLiteral("the console is closing");
    if (!FEnabled)
        return name() +
               QStringLiteral(" is disabled by the selector (choose its number or Dual in the window)");
    switch (mode()) {
    case pmSearching:
        return name() + QStringLiteral(" is searching for its controller");
    case pmOff:
    case pmFault:
        return name() + QStringLiteral(" is not connected (connect it first)");
    case pmDisconnecting:
        return name() + QStringLiteral(" is disconnecting");
    default:
        break;
    }
    if (!NeedsIdle)
        return {};
    switch (mode()) {
    case pmExpert:
        return name() + QStringLiteral("'s expert terminal has the port (clear Expert Mode first)");
    case pmScanning:
    case pmPaused:
        return name() + QStringLiteral(" is scanning (stop the scan first)");
    case pmInitialising:
        if (FCommand == ckInfo)
            return name() + QStringLiteral(" is still reading its controller's name and gratings");
        [[fallthrough]];
    case pmMoving:
    case pmChangingGrating:
        return name() + QStringLiteral(" is busy: its last command has not been answered yet");
    default:
        return {};
    }
}

QString SpectrographPanel::checkWavelength(double Nm) const {
    if (std::isnan(Nm))
        return QStringLiteral("the wavelength is not a number");
    if (!std::isfinite(Nm) || Nm < MinWavelength || Nm > MaxWavelength)
        return QStringLiteral("wavelength %1 nm is out of range (%2 to %3 nm)")
            .arg(formatGeneral(Nm), formatGeneral(MinWavelength), formatGeneral(MaxWavelength));
    return {};
}

// ---- Connection -------------------------------------------------------------------------------------

QString SpectrographPanel::commClick() {
    if (FShutDown)
        return QStringLiteral("the console is closing");
    if (FStep == Step::ClosePort)
        return name() + QStringLiteral(" is disconnecting");
    if (FConnected)
        return disconnectController();
    // A click while a search runs starts it again at its first port.
    FFault = false;
    FRefusals.reset();
    log(QStringLiteral("Try to connect..."));
    if (FSearches.request(this, [this] {
            FSearchQueued = false;
            beginSearch();
        }))
        beginSearch();
    else
        FSearchQueued = true;
    emit changed();
    return {};
}

QString SpectrographPanel::connectController() {
    if (FShutDown)
        return QStringLiteral("the console is closing");
    if (!FEnabled)
        return whyNot(false);
    if (FStep == Step::ClosePort)
        return name() + QStringLiteral(" is disconnecting; connect it again once it is off");
    if (FConnected || searching())
        return {}; // already what was asked for
    return commClick();
}

QString SpectrographPanel::disconnectController() {
    if (FShutDown)
        return QStringLiteral("the console is closing");
    if (!FEnabled)
        return whyNot(false);
    if (FStep == Step::ClosePort)
        return {};
    if (searching()) {
        FComm->CloseComm();
        FAwaiting = false;
        FBusy = false;
        endSearch();
        log(QStringLiteral("Disconnect comm."));
        return {};
    }
    if (!FConnected)
        return {};
    if (FScanState != 0)
        stopScan(); // no scan goes on without its port
    giveUpReply();
    FComm->Purge();
    startStep(Step::ClosePort, DisconnectPauseMs);
    return {};
}

void SpectrographPanel::finishDisconnect() {
    FComm->CloseComm();
    FConnected = false;
    FAwaiting = false;
    emit nameShown(QStringLiteral("Disconnected"));
    log(QStringLiteral("Disconnect comm."));
}

void SpectrographPanel::beginSearch() {
    if (FStep == Step::OpenPort) {
        FStepTimer->stop();
        FStep = Step::None;
    }
    FSearchOrder.clear();
    if (FPreferredPort >= 0 && FPreferredPort < PortCount)
        FSearchOrder.push_back(FPreferredPort);
    for (int port = 0; port < PortCount; ++port)
        if (port != FPreferredPort)
            FSearchOrder.push_back(port);
    FSearchPosition = 0;
    FPortIndex = FSearchOrder.front();
    FConnectStep = 1;
    if (!FConnectTimer->isActive())
        FConnectTimer->start();
    emit changed();
}

// The search is over (found, failed or called off): the other panel's may start.
void SpectrographPanel::endSearch() {
    FConnectTimer->stop();
    if (FStep == Step::OpenPort) {
        FStepTimer->stop();
        FStep = Step::None;
    }
    FConnectStep = 0;
    FSearchQueued = false;
    FSearches.finished(this);
    emit changed();
}

void SpectrographPanel::connectTick() {
    emit changed();
    if (FStep == Step::OpenPort)
        return; // the port of this step is still being opened
    switch (FConnectStep) {
    case 1:
        FComm->Purge();
        FComm->CloseComm();
        startStep(Step::OpenPort, ReopenPauseMs);
        break;
    case 2:
        if (!FReply.isEmpty()) {
            FConnectStep = 3;
        } else if (++FSearchPosition < int(FSearchOrder.size())) {
            FPortIndex = FSearchOrder[FSearchPosition];
            FConnectStep = 1;
        } else {
            FConnectStep = 4;
        }
        break;
    case 3:
        log(QStringLiteral("Connection Successs. COM%1").arg(FPortIndex + 1));
        FConnected = true;
        FFault = false;
        sendCommand(ckInfo);
        endSearch();
        FTargetWavelength = FInfo.CurrentWavelength;
        emit targetShown(FInfo.CurrentWavelength);
        emit connectedOn(FPortIndex);
        break;
    case 4:
        log(QStringLiteral("Connection failure!!!"));
        if (const QString reason = FRefusals.finalLine(); !reason.isEmpty())
            log(reason); // every port there was refused the user: that is the reason to fix
        FComm->CloseComm();
        FAwaiting = false;
        FBusy = false;
        endSearch();
        break;
    default:
        break;
    }
}

void SpectrographPanel::startStep(Step Kind, int Ms) {
    FStep = Kind;
    FStepTimer->start(Ms);
    emit changed();
}

void SpectrographPanel::stepDone() {
    const Step kind = FStep;
    FStep = Step::None;
    switch (kind) {
    case Step::OpenPort: {
        FComm->SetPort(static_cast<TPort>(FPortIndex));
        FComm->OpenComm();
        const int openError = FComm->LastOpenError();
        FComm->Purge();
        sendCommand(ckStatus);
        log(QStringLiteral("Try to connect COM%1").arg(FPortIndex + 1));
        reportRefusedPort(openError);
        FConnectStep = 2;
        // The port gets a whole tick to answer, counted from its query.
        if (FConnectTimer->isActive())
            FConnectTimer->start();
        break;
    }
    case Step::MoveAfterGrating:
        sendCommand(ckMove);
        break;
    case Step::ClosePort:
        finishDisconnect();
        break;
    case Step::None:
        break;
    }
    emit changed();
}

// ---- Operations -------------------------------------------------------------------------------------

QString SpectrographPanel::initialize() {
    QString why = whyNot(false);
    if (why.isEmpty())
        switch (mode()) {
        case pmExpert:
        case pmScanning:
        case pmPaused:
            why = whyNot(true);
            break;
        case pmInitialising:
            if (FCommand == ckInfo)
                why = whyNot(true);
            break;
        default:
            break;
        }
    if (!why.isEmpty())
        return why;
    // Initialising is always taken, busy or not: it is the way out of a move that was never answered.
    if (FStep == Step::MoveAfterGrating) {
        FStepTimer->stop();
        FStep = Step::None;
    }
    FBusy = false;
    FMoveCaption = false; // the move it replaces is over
    sendCommand(ckInitialize);
    return {};
}

QString SpectrographPanel::move(double Nm) {
    if (QString why = whyNot(true); !why.isEmpty())
        return why;
    const int current = FInfo.CurrentGrating;
    if (current < 1 || current > 3)
        return name() + QStringLiteral("'s controller has not reported its grating (initialise it first)");
    return moveWithGrating(current, Nm);
}

QString SpectrographPanel::moveWithGrating(int Grating, double Nm) {
    if (QString why = whyNot(true); !why.isEmpty())
        return why;
    if (QString why = checkWavelength(Nm); !why.isEmpty())
        return why;
    const int current = FInfo.CurrentGrating;
    if (current < 1 || current > 3)
        return name() + QStringLiteral("'s controller has not reported its grating (initialise it first)");
    const int fitted = FInfo.GratingCount >= 1 && FInfo.GratingCount <= 3 ? FInfo.GratingCount : 3;
    if (Grating < 1 || Grating > fitted)
        return QStringLiteral("grating %1 is not fitted (1 to %2)").arg(Grating).arg(fitted);
    FTargetWavelength = Nm;
    FMoveCaption = true;
    if (Grating == current) {
        sendCommand(ckMove);
    } else {
        FGratingAsked = Grating;
        sendCommand(ckSelectGrating);
    }
    return {};
}

QString SpectrographPanel::jog(double From, double Step) {
    if (QString why = whyNot(true); !why.isEmpty())
        return why;
    if (!std::isfinite(From) || !std::isfinite(Step))
        return QStringLiteral("the jog's wavelength and step must be numbers");
    const double target = From + Step;
    if (QString why = checkWavelength(target); !why.isEmpty())
        return QStringLiteral("the jog would leave the range: ") + why;
    FTargetWavelength = target;
    emit targetShown(target);
    sendCommand(ckMove);
    return {};
}

QString SpectrographPanel::changeGrating(int Grating) {
    if (QString why = whyNot(true); !why.isEmpty())
        return why;
    if (Grating == FInfo.CurrentGrating)
        return {}; // in place already: nothing sent
    return moveWithGrating(Grating, FInfo.CurrentWavelength);
}

QString SpectrographPanel::stop() {
    if (FScanState != 0)
        return stopScan();
    if (FConnected && (mode() == pmMoving || mode() == pmChangingGrating))
        return name() +
               QStringLiteral(" cannot stop the move under way: its controller has no command to halt "
                              "a move; it stands again when the move ends");
    return {};
}

TScanParameters SpectrographPanel::calcScanParams(const TScanInput& Input) {
    TScanParameters p;
    p.Start = Input.Start;
    p.End = Input.End;
    p.Resolution = Input.Resolution;
    p.Time = Input.Time;
    p.PeriodCount = Input.PeriodCount;
    // Extended precision throughout, stored as 64-bit reals.
    const long double F = ScanTimeFactor;
    const long double span = static_cast<long double>(p.End) - p.Start;
    p.PointCount = roundCount(checkedDivide(span, p.Resolution) + 1);
    const long double period = std::trunc(checkedDivide(p.Time, p.PointCount) * F);
    p.PointTime = static_cast<double>(period);
    if (!(p.PointTime >= F / 100)) // NaN too: a scan time that is no number gets the floor
        p.PointTime = static_cast<double>(F / 100);
    p.Time = static_cast<double>(static_cast<long double>(p.PointCount) * p.PointTime / F);
    FScan = p;
    emit scanShown();
    return p;
}

QString SpectrographPanel::startScan(const TScanInput& Scan) {
    if (QString why = whyNot(true); !why.isEmpty())
        return why;
    for (double v : {Scan.Start, Scan.End, Scan.Resolution, Scan.Time})
        if (!std::isfinite(v))
            return QStringLiteral("the scan's values must be numbers");
    if (QString why = checkWavelength(Scan.Start); !why.isEmpty())
        return QStringLiteral("scan start: ") + why;
    if (QString why = checkWavelength(Scan.End); !why.isEmpty())
        return QStringLiteral("scan end: ") + why;
    if (Scan.Resolution == 0)
        return QStringLiteral("the scan's resolution must not be 0");
    if (Scan.PeriodCount > MaxPasses)
        return QStringLiteral("the number of scans must be at most %1").arg(MaxPasses);
    const int points = roundCount((static_cast<long double>(Scan.End) - Scan.Start) / Scan.Resolution + 1);
    if (points < 1 || points > MaxPoints)
        return QStringLiteral("the scan would have %1 points (1 to %2; a resolution against the range's "
                              "direction gives none)")
            .arg(points)
            .arg(MaxPoints);
    calcScanParams(Scan);
    FPeriodMs = timerPeriodMs(FScan.PointTime);
    FScanTimer->setInterval(FPeriodMs);
    FScanStep = 1;
    FScanPointIndex = 0;
    FScanPeriodIndex = 0;
    FScanState = 1;
    enableScanTimer(true);
    log(QStringLiteral("Start Scaning..."));
    return {};
}

// Pausing and stopping a scan that runs is never refused: not by the selector, not by a lost port.
QString SpectrographPanel::pauseScan() {
    if (FShutDown)
        return QStringLiteral("the console is closing");
    if (FScanState == 0)
        return name() + QStringLiteral(" is not scanning");
    if (FScanState == 2)
        return name() + QStringLiteral("'s scan is already paused");
    FScanState = 2;
    emit changed();
    return {};
}

QString SpectrographPanel::resumeScan() {
    if (QString why = whyNot(false); !why.isEmpty())
        return why;
    if (FScanState == 0)
        return name() + QStringLiteral(" is not scanning");
    if (FScanState == 1)
        return name() + QStringLiteral("'s scan is not paused");
    FScanState = 1;
    emit changed();
    return {};
}

QString SpectrographPanel::stopScan() {
    if (FScanState == 0)
        return name() + QStringLiteral(" is not scanning");
    endScan();
    return {};
}

// As STOP ends a scan: no command is sent and nothing is logged; a move under way is finished by the
// controller and its reply handled as usual.
void SpectrographPanel::endScan() {
    FScanStep = 0;
    enableScanTimer(false);
    FScanState = 0;
    emit changed();
}

// ---- Selector, expert terminal, closing ---------------------------------------------------------------

void SpectrographPanel::setEnabled(bool Enabled) {
    if (FEnabled == Enabled)
        return;
    FEnabled = Enabled;
    // A scan whose controls are all disabled could not be paused or stopped any more.
    if (!Enabled && FScanState != 0) {
        endScan();
        log(QStringLiteral("Scan stopped: %1 disabled by the selector").arg(name()));
    }
    emit changed();
}

void SpectrographPanel::setExpert(bool On) {
    if (FExpert == On)
        return;
    FExpert = On;
    emit changed();
}

void SpectrographPanel::shutDown() {
    FShutDown = true;
    enableScanTimer(false);
    FConnectTimer->stop();
    FStepTimer->stop();
    FStep = Step::None;
    FSearches.finished(this);
}

// ---- Protocol ---------------------------------------------------------------------------------------

void SpectrographPanel::sendCommand(TCommandKind Kind) {
    if (Kind == ckMove || Kind == ckStop || Kind == ckSelectGrating || Kind == ckInitialize)
        FBusy = true;
    FReply.clear();
    FComm->Purge();
    FOverflowTold = false;
    FStrayTold = false;
    QByteArray command;
    QString target; // the move's wavelength as sent and as logged
    switch (Kind) {
    case ckStatus:
        command = "IA";
        break;
    case ckInfo:
        command = "IB";
        break;
    case ckMove:
        target = wireNumber(FTargetWavelength);
        command = "GU" + target.toLatin1();
        break;
    case ckStop:
        command = "GX";
        break;
    case ckSelectGrating:
        command = "GS" + QByteArray::number(FGratingAsked >= 1 && FGratingAsked <= 3 ? FGratingAsked : 1);
        break;
    case ckInitialize:
        command = "GA";
        break;
    }
    command += '\r';
    // Recorded before the write: a write that fails is handled once this handler is done, and the reply
    // is read as the answer to this command.
    FCommand = Kind;
    FAwaiting = Kind != ckStop;
    FSentInExpert = FExpert;
    ++FCommandsSent;
    FComm->WriteData(command);
    if (Kind == ckMove)
        log(QStringLiteral("Moving To ") + target);
    else if (Kind == ckInitialize)
        log(QStringLiteral("Initialization ...."));
    emit changed();
}

void SpectrographPanel::eventCharReceived(int ACount) {
    if (FStep == Step::ClosePort) {
        FComm->ReadData(ACount); // the port is going: nothing more is awaited from it
        return;
    }
    if (!protocolOwnsReply()) {
        if (FExpert)
            return; // the terminal reads the port
        // Nothing was asked for: line noise or a late reply is no answer, and it is said once until the
        // next command.
        const QByteArray bytes = FComm->ReadData(ACount);
        if (!FStrayTold) {
            FStrayTold = true;
            log(QStringLiteral("Unexpected reply. %1 (%2)")
                    .arg(FComm->PortName(), printable(QString::fromLatin1(bytes))));
        }
        return;
    }
    FReply = FComm->ReadData(ACount);
    // A late reply to an earlier command may wait in the queue ahead of this one: the answer is the last
    // reply that ends in the event character, not the two read as one.
    QString text = QString::fromLatin1(FReply);
    if (const qsizetype last = text.lastIndexOf(u'*'); last > 0)
        if (const qsizetype before = text.lastIndexOf(u'*', last - 1); before >= 0)
            text.remove(0, before + 1);
    FAwaiting = false;
    switch (FCommand) {
    case ckStatus: {
        const QString why = parseStatusReply(text);
        if (!why.isEmpty()) {
            badReply(why);
            FReply.clear(); // a search takes only a controller's answer
        }
        FBusy = false;
        FMoveCaption = false;
        break;
    }
    case ckInfo:
        if (const QString why = parseInfoReply(text); !why.isEmpty())
            badReply(why);
        break;
    case ckMove:
        if (const QString why = parsePositionReply(text); !why.isEmpty())
            badReply(why);
        else
            log(QStringLiteral("Moving Ok"));
        releaseMove();
        break;
    case ckStop:
        break;
    case ckSelectGrating: {
        QStringList tokens;
        SplitTokens(text, u"/", tokens);
        QString status;
        int reported = 0;
        const bool refused = !tokens.isEmpty() && fieldValue(tokens[0], status) && status == u"ERR";
        const bool hasGrating = tokens.size() >= 2 && readInt(tokens[1], reported);
        if (refused || (hasGrating && reported != FGratingAsked)) {
            badReply(QStringLiteral("grating %1 not taken: %2").arg(FGratingAsked).arg(printable(text)));
            // The drive is on the grating it reports, or on one nobody knows.
            FInfo.CurrentGrating = hasGrating && reported >= 1 && reported <= 3 ? reported : 0;
            FBusy = false;
            FMoveCaption = false;
            break;
        }
        // A controller that says no more than "done" has taken the grating asked for.
        FInfo.CurrentGrating = FGratingAsked;
        startStep(Step::MoveAfterGrating, GratingPauseMs);
        break;
    }
    case ckInitialize:
        log(QStringLiteral("Initialization Ok"));
        sendCommand(ckStatus);
        break;
    }
    showAnswer();
    emit changed();
}

void SpectrographPanel::badReply(const QString& Why) {
    log(QStringLiteral("Bad reply. %1 (%2)").arg(FComm->PortName(), Why));
}

// After every answer the radio shows the drive's grating.
void SpectrographPanel::showAnswer() {
    if (FInfo.CurrentGrating >= 1 && FInfo.CurrentGrating <= 3)
        emit gratingShown(FInfo.CurrentGrating);
}

QString SpectrographPanel::parseStatusReply(const QString& Text) {
    QStringList tokens;
    SplitTokens(Text, u"/", tokens);
    TSpectrographInfo s = FInfo;
    if (tokens.size() <= 5 || !readInt(tokens[0], s.StatusValue0) || !readInt(tokens[1], s.CurrentGrating) ||
        !readInt(tokens[2], s.StatusValue2) || !readReal(tokens[3], s.CurrentWavelength) ||
        !readInt(tokens[4], s.StatusValue4))
        return QStringLiteral("not a status: ") + printable(Text);
    FInfo = s;
    emit nameShown(FInfo.Name);
    emit wavelengthShown(FInfo.CurrentWavelength);
    return {};
}

QString SpectrographPanel::parsePositionReply(const QString& Text) {
    QStringList tokens;
    SplitTokens(Text, u"/", tokens);
    double wavelength = 0;
    if (tokens.size() < 2 || !readReal(tokens[1], wavelength))
        return QStringLiteral("not a position: ") + printable(Text);
    FInfo.CurrentWavelength = wavelength;
    emit wavelengthShown(wavelength);
    return {};
}

QString SpectrographPanel::parseInfoReply(const QString& Text) {
    QStringList tokens;
    SplitTokens(Text, u"/", tokens);
    TSpectrographInfo s = FInfo;
    const QString bad = QStringLiteral("not a name and grating table: ") + printable(Text);
    QString name;
    if (tokens.size() <= 4 || !fieldValue(tokens[0], name) || !readInt(tokens[3], s.GratingCount) ||
        s.GratingCount < 1 || s.GratingCount > int(s.Gratings.size()))
        return bad;
    // A name of line noise is no name.
    if (name.isEmpty() || std::any_of(name.begin(), name.end(),
                                      [](QChar c) { return c.unicode() < 0x20 || c.unicode() >= 0x7F; }))
        return bad;
    s.Name = name;
    fieldValue(tokens[1], s.InfoText1);
    readInt(tokens[2], s.InfoValue2);
    readInt(tokens[4], s.InfoValue4);
    // Only whole grating blocks are read, and all of them must be there.
    constexpr int blockSize = 11;
    for (int g = 0; g < s.GratingCount; ++g) {
        const int first = 5 + blockSize * g;
        if (first + 9 >= tokens.size())
            return bad;
        TGratingInfo& info = s.Gratings[g];
        if (!readInt(tokens[first + 2], info.Groove) || !readBlaze(tokens[first + 3], info.Blaze))
            return bad;
        readInt(tokens[first + 0], info.Value0);
        readInt(tokens[first + 1], info.Value1);
        readInt(tokens[first + 4], info.Value4);
        readInt(tokens[first + 5], info.Value5);
        readReal(tokens[first + 6], info.Value6);
        readInt(tokens[first + 7], info.Value7);
        readReal(tokens[first + 8], info.Value8);
        readInt(tokens[first + 9], info.Value9);
    }
    FInfo = s;
    emit nameShown(FInfo.Name);
    if (FInfo.GratingCount >= 1 && FInfo.GratingCount <= 3)
        emit gratingRowsShown(FInfo.GratingCount);
    emit gratingTableShown();
    return {};
}

// The panel stops waiting for a move: MOVE is free again, and a scan waiting for its point goes on.
void SpectrographPanel::releaseMove() {
    FBusy = false;
    FMoveCaption = false;
    if (FScanStep == 2)
        FScanStep = 1;
    emit changed();
}

// Nothing more will answer what was sent: a step that follows it is dropped and the panel released. A
// grating change given up leaves the drive's grating unknown until the next status reply.
void SpectrographPanel::giveUpReply() {
    if (FAwaiting && FCommand == ckSelectGrating)
        FInfo.CurrentGrating = 0;
    FAwaiting = false;
    if (FStep == Step::MoveAfterGrating) {
        FStepTimer->stop();
        FStep = Step::None;
    }
    releaseMove();
}

void SpectrographPanel::received(int ACount) {
    if (!FExpert || protocolOwnsReply())
        return; // the bytes wait for the reply dispatcher
    emit terminalReceived(FComm->ReadData(ACount));
}

// A command sent before the terminal took the port is still answered to the panel, so that ticking Expert
// Mode never strands a move; what is sent while the terminal has the port is answered to the terminal.
bool SpectrographPanel::protocolOwnsReply() const {
    return FAwaiting && !FSentInExpert;
}

// ---- Scans ------------------------------------------------------------------------------------------

void SpectrographPanel::enableScanTimer(bool Enabled) {
    FScanTimerOn = Enabled;
    if (!Enabled) {
        FScanTimer->stop();
        return;
    }
    // The first tick comes one period after the start, as from a tick at the start.
    FLastTickNs = PreciseTimer::nowNs();
    armScanTimer(FLastTickNs);
}

// Arms the timer for the end of the period that began at FromNs: the tick's own work does not delay the
// next tick, and the timer never fires before its deadline, so ticks come no sooner than one period apart.
void SpectrographPanel::armScanTimer(qint64 FromNs) {
    FScanTimer->startAt(FromNs + static_cast<qint64>(FPeriodMs) * 1000000);
}

void SpectrographPanel::scanTick() {
    if (!FScanTimerOn)
        return;
    const qint64 now = PreciseTimer::nowNs();
    if (now - FLastTickNs < static_cast<qint64>(FPeriodMs) * 1000000) {
        ++FHeldBack; // too early: no tick; wait for the rest of the period
        armScanTimer(FLastTickNs);
        return;
    }
    FLastTickNs = now;
    // Whatever happens inside the tick, the next one is armed: one failing tick must not end the scan.
    struct Rearm {
        SpectrographPanel* panel;
        ~Rearm() {
            if (panel->FScanTimerOn && !panel->FScanTimer->isActive())
                panel->armScanTimer(panel->FLastTickNs);
        }
    } rearm{this};

    // A point waits while the terminal has the port, and while a command of the panel is outstanding.
    if (FScanStep != 1 || FScanState != 1 || FBusy || FExpert || !FConnected)
        return;
    if (FScanPointIndex < FScan.PointCount) {
        FTargetWavelength =
            static_cast<double>(static_cast<long double>(FScanPointIndex) * FScan.Resolution + FScan.Start);
        emit targetShown(FTargetWavelength);
        sendCommand(ckMove);
        ++FScanPointIndex;
        FScanStep = 2;
    } else {
        ++FScanPeriodIndex;
        if (FScanPeriodIndex >= FScan.PeriodCount) {
            endScan();
            log(QStringLiteral("End Scaning..."));
        } else {
            FScanPointIndex = 0;
        }
    }
    emit changed();
}

// ---- Port faults ------------------------------------------------------------------------------------

void SpectrographPanel::commError(int ErrCode, const QString& ErrDesc) {
    if (!FComm->PortOpened())
        return; // a port that would not open: the search goes on with the next one
    if (ErrCode == int(KivCommBits::CE_IOE)) {
        handlePortFaultLater([this, ErrDesc] { connectionLost(ErrDesc); });
    } else if (ErrCode == int(KivCommBits::CE_RXOVER) && !FOverflowQueued) {
        FOverflowQueued = true; // cleared when it is handled or the port closes
        handlePortFaultLater([this, ErrDesc] {
            FOverflowQueued = false;
            inputOverflow(ErrDesc);
        });
    }
}

// Handled on this thread once the current handler is done: a write fails inside sendCommand, whose caller
// (a click, a scan tick) would otherwise undo the release when it goes on. A fault reported for a port
// that has since been closed is not applied to the next one.
void SpectrographPanel::handlePortFaultLater(std::function<void()> Handler) {
    const int generation = FOpenGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation, Handler = std::move(Handler)] {
            if (generation == FOpenGeneration)
                runGuarded(Handler);
        },
        Qt::QueuedConnection);
}

// The panel goes to its disconnected state, as after COMM.: port closed, "Disconnected"; a running scan
// ends as STOP ends it, a pending move is given up. COMM. searches again.
void SpectrographPanel::connectionLost(const QString& Reason) {
    if (!FComm->PortOpened())
        return;
    const QString port = FComm->PortName();
    FComm->CloseComm();
    if (FScanState != 0)
        endScan();
    giveUpReply();
    if (FStep == Step::ClosePort) {
        FStepTimer->stop();
        FStep = Step::None;
    }
    if (!searching()) {
        FFault = true;
        FFaultReason = Reason;
        FConnected = false;
        emit nameShown(QStringLiteral("Disconnected"));
    } // else the search goes on with the next port
    log(QStringLiteral("Connection lost. %1 (%2)").arg(port, Reason));
}

// The input queue had no room for what the controller sent: a reply that did not fit can never end, so
// the panel stops waiting for it. The bytes stay until the next command's purge, as in the driver's queue.
void SpectrographPanel::inputOverflow(const QString& Reason) {
    const QString port = FComm->PortName();
    if (FAwaiting || FBusy) {
        giveUpReply();
        log(QStringLiteral("Reply lost. %1 (%2)").arg(port, Reason));
        return;
    }
    // A flood while nothing is awaited: said once, until the next command empties the queue.
    if (FOverflowTold)
        return;
    FOverflowTold = true;
    log(QStringLiteral("Input overflow. %1 (%2)").arg(port, Reason));
}

// A port that exists but refuses us looks like an empty one to the search; say why, once per search.
void SpectrographPanel::reportRefusedPort(int OpenError) {
    const QString line =
        FRefusals.note(FComm->PortName(), TKivComm::DeviceForPort(FComm->PortName()), OpenError);
    if (!line.isEmpty())
        log(line);
}
