#include "ConsoleRemote.h"

#include "KivComm.h"
#include "KivStrUtils.h"
#include "SpectrographPanel.h"
#include "fMain.h"

#include <QApplication>
#include <QEvent>

#include <algorithm>
#include <cmath>

namespace {

PanelMode clientMode(TPanelMode Mode) {
    switch (Mode) {
    case pmOff:
        return PanelMode::Off;
    case pmSearching:
    case pmInitialising:
    case pmDisconnecting:
        return PanelMode::Init;
    case pmReady:
    case pmExpert:
        return PanelMode::On;
    case pmMoving:
    case pmChangingGrating:
        return PanelMode::Moving;
    case pmScanning:
    case pmPaused:
        return PanelMode::Running;
    case pmFault:
        return PanelMode::Fault;
    }
    return PanelMode::Off;
}

// A whole number from a client's double: false when it is none or beyond an int.
bool wholeNumber(double Value, int& Out) {
    if (!(Value == std::floor(Value)) || !(std::fabs(Value) <= 2147483647.0))
        return false;
    Out = static_cast<int>(Value);
    return true;
}

} // namespace

ConsoleRemote::ConsoleRemote(TfrmMain& Window, RemoteBridge& Bridge) : FWindow(Window), FBridge(Bridge) {
    connect(&Window, &TfrmMain::panelChanged, this, &ConsoleRemote::changed);
    Window.installEventFilter(this);
    // No command runs while a message box waits for its answer: the client hears of the wait instead.
    Bridge.setHold([] { return QApplication::activeModalWidget() != nullptr; });
    publishNow();
}

bool ConsoleRemote::eventFilter(QObject* Watched, QEvent* Event) {
    // From the close on, clients are told the console is going; the window's own close then runs as ever.
    if (Watched == &FWindow && Event->type() == QEvent::Close)
        FBridge.shutdown("the console is closing");
    return QObject::eventFilter(Watched, Event);
}

// A handler may change a panel several times; the state is read once it is done.
void ConsoleRemote::changed(int) {
    if (FRefreshQueued)
        return;
    FRefreshQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FRefreshQueued = false;
            publishNow();
        },
        Qt::QueuedConnection);
}

void ConsoleRemote::publishNow() {
    for (int i = 0; i < RemoteBridge::PanelCount; ++i)
        FBridge.publish(i, stateOf(i));
}

PanelState ConsoleRemote::stateOf(int Index) {
    const SpectrographPanel& p = FWindow.panel(Index);
    const TSpectrographInfo& info = p.info();
    PanelState state;
    state.mode = clientMode(p.mode());
    state.status = p.lastLogLine().toStdString();
    state.wavelength = info.CurrentWavelength;
    state.controllerName = info.Name.toStdString();
    if (p.connected() || p.searching())
        state.port = p.comm()->PortName().toStdString();
    state.grating = info.CurrentGrating;
    const int gratings = std::clamp(info.GratingCount, 0, 3);
    for (int g = 0; g < gratings; ++g) {
        state.grooves.push_back(info.Gratings[g].Groove);
        state.blazes.push_back(info.Gratings[g].Blaze);
    }
    state.scanPoint = p.scanPointIndex();
    state.scanPoints = p.scan().PointCount;
    state.scanPass = p.scanState() != 0 ? std::min(p.scanPeriodIndex() + 1, p.scan().PeriodCount) : 0;
    state.scanPaused = p.scanState() == 2;
    state.enabled = p.enabled();
    state.connected = p.connected();
    state.driveMoving = p.connected() && (p.busy() || p.scanState() == 1);
    return state;
}

std::string ConsoleRemote::answer(const QString& Why) {
    publishNow();
    return Why.toStdString();
}

std::string ConsoleRemote::connectPanel(int Index) {
    return answer(FWindow.panel(Index).connectController());
}

std::string ConsoleRemote::disconnectPanel(int Index) {
    return answer(FWindow.panel(Index).disconnectController());
}

std::string ConsoleRemote::initialize(int Index) {
    return answer(FWindow.panel(Index).initialize());
}

std::string ConsoleRemote::move(int Index, double Nm) {
    const QString why = FWindow.panel(Index).move(Nm);
    if (why.isEmpty())
        FWindow.showTarget(Index, Nm);
    return answer(why);
}

std::string ConsoleRemote::moveWithGrating(int Index, double Grating, double Nm) {
    int grating = 0;
    if (!wholeNumber(Grating, grating))
        return "grating " + formatGeneral(Grating, u".").toStdString() + " is not a grating number";
    const QString why = FWindow.panel(Index).moveWithGrating(grating, Nm);
    if (why.isEmpty()) {
        FWindow.showGratingChoice(Index, grating);
        FWindow.showTarget(Index, Nm);
    }
    return answer(why);
}

std::string ConsoleRemote::jog(int Index, double Step) {
    SpectrographPanel& p = FWindow.panel(Index);
    const QString why = p.jog(p.targetWavelength(), Step);
    if (why.isEmpty())
        FWindow.showJogStep(Index, std::fabs(Step));
    return answer(why);
}

std::string ConsoleRemote::startScan(int Index, const ScanRequest& Scan) {
    int passes = 0;
    if (!wholeNumber(Scan.passes, passes) || passes < 1)
        return "the number of scans must be a whole number from 1 to " +
               std::to_string(SpectrographPanel::MaxPasses);
    const TScanInput input{Scan.start, Scan.end, Scan.resolution, Scan.timeSeconds, passes};
    return answer(FWindow.panel(Index).startScan(input));
}

std::string ConsoleRemote::pauseScan(int Index) {
    return answer(FWindow.panel(Index).pauseScan());
}

std::string ConsoleRemote::continueScan(int Index) {
    return answer(FWindow.panel(Index).resumeScan());
}

std::string ConsoleRemote::stopScan(int Index) {
    return answer(FWindow.panel(Index).stopScan());
}

std::string ConsoleRemote::changeGrating(int Index, double Grating) {
    int grating = 0;
    if (!wholeNumber(Grating, grating))
        return "grating " + formatGeneral(Grating, u".").toStdString() + " is not a grating number";
    const QString why = FWindow.panel(Index).changeGrating(grating);
    if (why.isEmpty())
        FWindow.showGratingChoice(Index, grating);
    return answer(why);
}

std::string ConsoleRemote::stop(int Index) {
    return answer(FWindow.panel(Index).stop());
}
