#pragma once
// The window's side of remote control: each panel's state as a client sees it, published to the bridge
// whenever the panel changes, and the commands a client may give, converted to the panel's own
// operations, which check them as they check a click. Everything here runs on the window thread.

#include "RemoteBridge.h"

#include <QObject>

#include <string>

class TfrmMain;
class QString;

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
    // The panel's answer for the client, with the state published first: a client that asks for the
    // state right after its Move must see MOVING, not the state before it.
    std::string answer(const QString& Why);

    TfrmMain& FWindow;
    RemoteBridge& FBridge;
    bool FRefreshQueued = false;
};
