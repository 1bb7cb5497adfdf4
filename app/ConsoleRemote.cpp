#include "ConsoleRemote.h"

#include "KivComm.h"
#include "KivIndicator.h"
#include "KivStrUtils.h"
#include "OrvaneApplication.h"
#include "fMain.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <cmath>

ConsoleRemote::ConsoleRemote(TfrmMain& Window, RemoteBridge& Bridge) : FWindow(Window), FBridge(Bridge) {
    connect(&Window, &TfrmMain::panelChanged, this, &ConsoleRemote::changed);
    Window.installEventFilter(this);
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
    TfrmMain::Panel& p = FWindow.panel(Index);
    TfrmMain::Fields f = FWindow.fields(Index);
    TfrmMain::ScanFields s = FWindow.scanFields(Index);
    const TSpectrographInfo& info = FWindow.FSpectrograph[Index];
    const bool searching = p.tmrConnect->isActive();
    const bool connected = FWindow.lampOn(Index);

    // A lost port is a fault until the user searches again, whatever that search finds.
    if (!FWindow.portLost(Index))
        FSearchedSinceLoss[Index] = false;
    else if (searching)
        FSearchedSinceLoss[Index] = true;

    PanelState state;
    if (searching)
        state.mode = PanelMode::Init;
    else if (!connected)
        state.mode =
            FWindow.portLost(Index) && !FSearchedSinceLoss[Index] ? PanelMode::Fault : PanelMode::Off;
    else if (f.FScanState != 0)
        state.mode = PanelMode::Running;
    else if (f.FBusy && (f.FCommand == ckInitialize || f.FCommand == ckStatus))
        state.mode = PanelMode::Init; // the initialisation and the status request that ends it
    else if (f.FCommand == ckInfo && f.FReply.isEmpty())
        state.mode = PanelMode::Init; // the name and grating table not read yet
    else if (f.FBusy)
        state.mode = PanelMode::Moving;
    else
        state.mode = PanelMode::On;

    state.status = FWindow.lastLogLine(Index).toStdString();
    state.wavelength = static_cast<double>(p.meterCurrWavelength->Value());
    state.controllerName = info.Name.toStdString();
    if (connected || searching)
        state.port = p.Comm->PortName().toStdString();
    // A grating change is answered when the window sends the move that follows it; a status reply read
    // since gives the controller's own word again.
    if (f.FCommand == ckSelectGrating) {
        for (int g = 0; g < 3; ++g)
            if (p.rbGrating[g]->isChecked())
                FGratingSent[Index] = g + 1;
    } else if (f.FCommand == ckMove && FGratingSent[Index]) {
        FGratingChanged[Index] = FGratingSent[Index];
        FGratingSent[Index] = 0;
    } else if (f.FCommand == ckStatus && !f.FBusy) {
        FGratingChanged[Index] = 0;
        FGratingSent[Index] = 0;
    }
    state.grating = FGratingChanged[Index] ? FGratingChanged[Index] : info.CurrentGrating;
    const int gratings = std::clamp(info.GratingCount, 0, 3);
    for (int g = 0; g < gratings; ++g) {
        state.grooves.push_back(info.Gratings[g].Groove);
        state.blazes.push_back(info.Gratings[g].Blaze);
    }
    state.scanPoint = s.FScanPointIndex;
    state.scanPoints = s.FScanPointCount;
    state.scanPass = f.FScanState != 0 ? std::min(s.FScanPeriodIndex + 1, s.FScanPeriodCount) : 0;
    state.scanPaused = f.FScanState == 2;
    state.enabled = p.gbSpectroGraph->isEnabled();
    state.connected = connected;
    state.driveMoving =
        connected &&
        ((f.FBusy && (f.FCommand == ckMove || f.FCommand == ckSelectGrating || f.FCommand == ckInitialize)) ||
         f.FScanState == 1);
    return state;
}

std::string ConsoleRemote::name(int Index) const {
    return "Spectrograph " + std::to_string(Index + 1);
}

std::string ConsoleRemote::whyNot(int Index, bool Idle) {
    TfrmMain::Panel& p = FWindow.panel(Index);
    TfrmMain::Fields f = FWindow.fields(Index);
    if (FBridge.isShutDown())
        return "the console is closing";
    if (!p.gbSpectroGraph->isEnabled())
        return name(Index) + " is disabled by the selector (choose its number or Dual in the window)";
    if (p.tmrConnect->isActive())
        return name(Index) + " is searching for its controller";
    if (!FWindow.lampOn(Index))
        return name(Index) + " is not connected (give Connect first)";
    if (!Idle)
        return {};
    if (p.cbExpertMode->isChecked())
        return name(Index) + "'s expert terminal has the port (clear Expert Mode first)";
    if (f.FScanState != 0)
        return name(Index) + " is scanning (stop the scan first)";
    if (f.FBusy)
        return name(Index) + " is busy: its last command has not been answered yet";
    if (f.FCommand == ckInfo && f.FReply.isEmpty())
        return name(Index) + " is still reading its controller's name and gratings";
    return {};
}

std::string ConsoleRemote::checkWavelength(double Nm) const {
    if (!std::isfinite(Nm) || Nm < MinWavelength || Nm > MaxWavelength)
        return "wavelength " + formatGeneral(Nm, u".").toStdString() + " nm is out of range (" +
               formatGeneral(MinWavelength, u".").toStdString() + " to " +
               formatGeneral(MaxWavelength, u".").toStdString() + " nm)";
    return {};
}

std::string ConsoleRemote::asClick(const std::function<void()>& Operation) {
    QString message;
    const bool done = runGuarded(Operation, &message);
    // Published before the client hears back: a client that asks for the state right after its Move
    // must see MOVING, not the state before it.
    publishNow();
    if (!done)
        return message.isEmpty() ? std::string("the command failed") : message.toStdString();
    return {};
}

std::string ConsoleRemote::connectPanel(int Index) {
    TfrmMain::Panel& p = FWindow.panel(Index);
    if (FBridge.isShutDown())
        return "the console is closing";
    // Asked for what already holds: done, nothing sent.
    if (FWindow.lampOn(Index) || p.tmrConnect->isActive())
        return {};
    if (!p.gbSpectroGraph->isEnabled())
        return whyNot(Index, false);
    return asClick([&] { FWindow.btnCommClick(Index); });
}

std::string ConsoleRemote::disconnectPanel(int Index) {
    if (!FBridge.isShutDown() && !FWindow.lampOn(Index) && !FWindow.panel(Index).tmrConnect->isActive())
        return {}; // already disconnected: nothing sent
    if (std::string why = whyNot(Index, false); !why.empty())
        return why;
    return asClick([&] { FWindow.btnCommClick(Index); });
}

std::string ConsoleRemote::initialize(int Index) {
    if (std::string why = whyNot(Index, true); !why.empty())
        return why;
    return asClick([&] { FWindow.bntInitializeClick(Index); });
}

std::string ConsoleRemote::move(int Index, double Nm) {
    if (std::string why = whyNot(Index, true); !why.empty())
        return why;
    if (std::string why = checkWavelength(Nm); !why.empty())
        return why;
    const int current = FWindow.FSpectrograph[Index].CurrentGrating;
    if (current < 1 || current > 3)
        return name(Index) + "'s controller has not reported a grating (give Initialize first)";
    return asClick([&] {
        FWindow.panel(Index).txtMoveWavelength->setText(formatGeneral(Nm));
        FWindow.btnMoveClick(Index);
    });
}

std::string ConsoleRemote::moveWithGrating(int Index, double Grating, double Nm) {
    if (std::string why = whyNot(Index, true); !why.empty())
        return why;
    TfrmMain::Panel& p = FWindow.panel(Index);
    const TSpectrographInfo& info = FWindow.FSpectrograph[Index];
    const int fitted = info.GratingCount >= 1 && info.GratingCount <= 3 ? info.GratingCount : 3;
    if (!(Grating >= 1 && Grating <= fitted && Grating == std::floor(Grating)))
        return "grating " + formatGeneral(Grating, u".").toStdString() + " is out of range (1 to " +
               std::to_string(fitted) + ")";
    const int grating = static_cast<int>(Grating);
    if (!p.rbGrating[grating - 1]->isEnabled())
        return name(Index) + " has no grating " + std::to_string(grating);
    if (std::string why = checkWavelength(Nm); !why.empty())
        return why;
    const int current = info.CurrentGrating;
    if (current < 1 || current > 3)
        return name(Index) + "'s controller has not reported a grating (give Initialize first)";
    return asClick([&] {
        p.rbGrating[grating - 1]->setChecked(true);
        p.txtMoveWavelength->setText(formatGeneral(Nm));
        FWindow.btnMoveClick(Index);
    });
}

std::string ConsoleRemote::jog(int Index, double Step) {
    if (std::string why = whyNot(Index, true); !why.empty())
        return why;
    TfrmMain::Panel& p = FWindow.panel(Index);
    if (!std::isfinite(Step))
        return "the jog step is not a number";
    const double from = StrToFloatDefault(p.txtMoveWavelength->text(), 0);
    if (std::string why = checkWavelength(from + Step); !why.empty())
        return "the jog would leave the range: " + why;
    return asClick([&] {
        p.txtJogStep->setText(formatGeneral(std::fabs(Step)));
        FWindow.btnJogClick(Index, std::signbit(Step) ? -1 : +1);
    });
}

std::string ConsoleRemote::startScan(int Index, const ScanRequest& Scan) {
    if (std::string why = whyNot(Index, true); !why.empty())
        return why;
    for (double v : {Scan.start, Scan.end, Scan.resolution, Scan.timeSeconds, Scan.passes})
        if (!std::isfinite(v))
            return "the scan's values must be numbers";
    if (std::string why = checkWavelength(Scan.start); !why.empty())
        return "scan start: " + why;
    if (std::string why = checkWavelength(Scan.end); !why.empty())
        return "scan end: " + why;
    if (Scan.resolution == 0)
        return "the scan's resolution must not be 0";
    const double points = (Scan.end - Scan.start) / Scan.resolution + 1;
    if (!(points >= 0.5 && points <= MaxPoints))
        return "the scan would have " + formatGeneral(std::round(points), u".").toStdString() +
               " points (1 to " + formatGeneral(MaxPoints, u".").toStdString() +
               "; a resolution against the range's direction gives none)";
    if (!(Scan.timeSeconds > 0))
        return "the scan time must be above 0 s";
    if (!(Scan.passes >= 1 && Scan.passes <= MaxPasses && Scan.passes == std::floor(Scan.passes)))
        return "the number of scans must be a whole number from 1 to " +
               formatGeneral(MaxPasses, u".").toStdString();
    TfrmMain::ScanFields s = FWindow.scanFields(Index);
    return asClick([&] {
        // The end last: one panel recomputes its box as soon as the end's text changes, and then sees
        // all of the client's values.
        s.txtScanStart->setText(formatGeneral(Scan.start));
        s.txtScanPointRes->setText(formatGeneral(Scan.resolution));
        s.txtScanTime->setText(formatGeneral(Scan.timeSeconds));
        s.txtScanPeriodCount->setText(formatInt(static_cast<qint64>(Scan.passes)));
        s.txtScanEnd->setText(formatGeneral(Scan.end));
        FWindow.btnScanClick(Index);
    });
}

std::string ConsoleRemote::pauseScan(int Index) {
    // A running scan can always be held, whatever the selector says since it began.
    const int state = FWindow.fields(Index).FScanState;
    if (state == 0 || FBridge.isShutDown())
        if (std::string why = whyNot(Index, false); !why.empty())
            return why;
    if (state == 0)
        return name(Index) + " is not scanning";
    if (state == 2)
        return name(Index) + "'s scan is already paused";
    return asClick([&] { FWindow.btnScanClick(Index); });
}

std::string ConsoleRemote::continueScan(int Index) {
    if (std::string why = whyNot(Index, false); !why.empty())
        return why;
    const int state = FWindow.fields(Index).FScanState;
    if (state == 0)
        return name(Index) + " is not scanning";
    if (state == 1)
        return name(Index) + "'s scan is not paused";
    return asClick([&] { FWindow.btnScanClick(Index); });
}

std::string ConsoleRemote::stopScan(int Index) {
    // A running scan can always be stopped, whatever the selector says since it began.
    if (FWindow.fields(Index).FScanState == 0 || FBridge.isShutDown())
        if (std::string why = whyNot(Index, false); !why.empty())
            return why;
    if (FWindow.fields(Index).FScanState == 0)
        return name(Index) + " is not scanning";
    return asClick([&] { FWindow.btnScanStopClick(Index); });
}

std::string ConsoleRemote::changeGrating(int Index, double Grating) {
    if (std::string why = whyNot(Index, true); !why.empty())
        return why;
    if (Grating == stateOf(Index).grating)
        return {}; // already in place: nothing sent
    return moveWithGrating(Index, Grating,
                           static_cast<double>(FWindow.panel(Index).meterCurrWavelength->Value()));
}

std::string ConsoleRemote::stop(int Index) {
    if (FBridge.isShutDown())
        return "the console is closing";
    if (FWindow.fields(Index).FScanState != 0)
        return stopScan(Index);
    if (FWindow.lampOn(Index) && FWindow.fields(Index).FBusy)
        return name(Index) + " cannot stop the move under way: its controller has no command to halt a "
                             "move; it stands again when the move ends";
    return {};
}
