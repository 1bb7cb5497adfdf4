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
    // Tango's own server arguments after the instance name (-vN, -nodb, -dlist NAMES, -file=FILE,
    // -ORBendPoint ...), as a device server started by Starter takes them.
    std::vector<std::string> serverArgs;
};

class TangoServer {
public:
    // Bridge and Remote outlive the server.
    TangoServer(RemoteBridge& Bridge, ConsoleRemote& Remote);
    ~TangoServer();
    TangoServer(const TangoServer&) = delete;
    TangoServer& operator=(const TangoServer&) = delete;

    // What Tango would end the program for, asked before anything else starts: the database that does not
    // answer or is none, the instance it does not know (the line then gives the command that registers
    // it), the instance already running, a database file without the console's devices. False with the
    // reason, one line, in Error. Runs its Tango client in a child process: call it while the program has
    // no other thread.
    static bool check(const TangoOptions& Options, std::string& Error);

    // Exports the devices; false with the reason in Error when the server cannot start (a port in use, ...).
    bool start(const TangoOptions& Options, std::string& Error);
    // No call reaches the window after this returns.
    void stop();

    // The names served without a database, panel 1 first.
    static std::vector<std::string> fixedDeviceNames();

    // The arguments Tango's server start is given for Options, program name and instance first.
    static std::vector<std::string> serverArguments(const TangoOptions& Options);

private:
    void pushEvents();

    RemoteBridge& FBridge;
    ConsoleRemote& FRemote;
    bool FStarted = false;
    std::thread FPusher;
};
