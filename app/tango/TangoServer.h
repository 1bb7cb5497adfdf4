#pragma once
// The console's embedded Tango device server: one OrvaneSpectrograph device per panel, served from the
// ORB's own threads while the window keeps its event loop, with a thread of its own that pushes the
// change events the window publishes. Started once per process; stopped before the window goes.

#include <string>
#include <thread>
#include <vector>

class ConsoleRemote;
class RemoteBridge;

struct TangoOptions {
    int port = 0;                     // without a database: the fixed port; 0 = use the database
    std::string listen = "127.0.0.1"; // the address the server listens on
    std::string instance = "1";       // the server instance registered in the database
};

class TangoServer {
public:
    // Bridge and Remote outlive the server.
    TangoServer(RemoteBridge& Bridge, ConsoleRemote& Remote);
    ~TangoServer();
    TangoServer(const TangoServer&) = delete;
    TangoServer& operator=(const TangoServer&) = delete;

    // Exports the devices; false with the reason in Error when the server cannot start (no database, a
    // port in use, ...).
    bool start(const TangoOptions& Options, std::string& Error);
    // No call reaches the window after this returns.
    void stop();

    // The names served without a database, panel 1 first.
    static std::vector<std::string> fixedDeviceNames();

private:
    void pushEvents();

    RemoteBridge& FBridge;
    ConsoleRemote& FRemote;
    bool FStarted = false;
    std::thread FPusher;
};
