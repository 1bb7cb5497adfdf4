#pragma once
// The window's side of remote control: each panel's state as a client sees it, published to the bridge
// whenever the panel changes, and the commands a client may give, each checked and then carried out by
// the same operation as the user's click. Everything here runs on the window thread.

#include "RemoteBridge.h"

#include <QObject>

#include <array>
#include <string>

class TfrmMain;

// A scan as a client asks for it: the fields of the panel's scan box.
struct ScanRequest {
    double start = 0;
    double end = 0;
    double resolution = 0;
    double timeSeconds = 0;
    double passes = 0;
};

class ConsoleRemote : public QObject {
    Q_OBJECT
public:
    // Publishes both panels at once and from then on after every change. Window and Bridge outlive this.
    ConsoleRemote(TfrmMain& Window, RemoteBridge& Bridge);

    // Wavelengths a client may ask for, in nm.
    static constexpr double MinWavelength = 0;
    static constexpr double MaxWavelength = 100000;
    // The most passes and points a client's scan may have.
    static constexpr double MaxPasses = 1000000;
    static constexpr double MaxPoints = 10000000;

    // The panel's state as it is now.
    PanelState stateOf(int Index);

    // The commands. Each returns an empty text when it was carried out, otherwise why the panel cannot
    // take it now; a refused command changes nothing and sends nothing.
    std::string connectPanel(int Index);
    std::string disconnectPanel(int Index);
    std::string initialize(int Index);
    std::string move(int Index, double Nm);
    std::string moveWithGrating(int Index, double Grating, double Nm);
    std::string jog(int Index, double Step);
    std::string startScan(int Index, const ScanRequest& Scan);
    std::string pauseScan(int Index);
    std::string continueScan(int Index);
    std::string stopScan(int Index);
    // A grating change on the drive's current wavelength; the grating already in place sends nothing.
    std::string changeGrating(int Index, double Grating);
    // Stops a scan at once; nothing running is nothing to stop. A move cannot be halted: the controller
    // has no command for it, and the client is told so.
    std::string stop(int Index);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void changed(int Index);
    void publishNow();
    std::string name(int Index) const;
    // Why the panel cannot take a command now (empty when it can): closing, disabled by the selector,
    // searching, not connected, its terminal reading the port; and when Idle, busy or scanning.
    std::string whyNot(int Index, bool Idle);
    std::string checkWavelength(double Nm) const;
    // Runs a panel operation as a click would: an error goes to the general error handler, and to the
    // client.
    std::string asClick(const std::function<void()>& Operation);

    TfrmMain& FWindow;
    RemoteBridge& FBridge;
    bool FRefreshQueued = false;
    std::array<bool, 2> FSearchedSinceLoss{};
    // The grating of a change sent and not yet answered, and the last one answered; the controller's
    // status reply, which the window reads, comes only at the search and after an initialisation.
    std::array<int, 2> FGratingSent{};
    std::array<int, 2> FGratingChanged{};
};
