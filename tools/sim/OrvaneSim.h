#pragma once
// The controller simulator: grating-drive controllers on pseudo-terminals, linked as COMn into a port folder,
// so that the console (ORVANE_PORT_DIR=<folder>) and the tests talk to a real serial line without hardware.
//
// In-process use (tests, benchmarks):
//
//     orvanesim::Simulator sim;                         // a fresh temporary port folder, removed by stop()
//     sim.addController(orvanesim::ControllerConfig{}); // COM3, 9600-baud timing, two gratings
//     auto fast = orvanesim::ControllerConfig::instant(5); // COM5 with no delays at all
//     sim.addController(fast);
//     sim.start();                                      // its own thread; returns false (and error) on
//     failure setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);
//     ... open "COM3" with TKivComm, send "IA\r", get "ST=0/GR=1/MD=0/WL=500/BS=0/*" ...
//     sim.hangup(3);                                    // pull the cable of COM3
//     sim.stop();                                       // also done by the destructor
//
// As a process (end-to-end tests of the console):
//
//     orvanesim::SimProcess proc("/path/to/orvane-sim", {"--com1", "3", "--baud", "0"});
//     proc.portDir();  // the ORVANE_PORT_DIR the program printed; the destructor ends the program
//
// Protocol: commands end with CR ("IA", "IB", "GU<wavelength>", "GS<grating>", "GA", "GX"); replies are
// "/"-separated key=value fields ended by "*":
//   IA  ST=0/GR=<grating>/MD=0/WL=<wavelength>/BS=0/*                 (grating token 1, wavelength token 3)
//   IB  NM=<name>/TX=<text>/VR=100/NG=<count>/SN=1/<11 tokens per grating>*  (groove token 2, blaze token 3
//       of each block, the blaze written like 500nm)
//   GU  GU=OK/WL=<new wavelength>/*        after the move time
//   GS  GS=OK/GR=<grating>/*               after the grating-change time (GS=ERR for a grating not fitted)
//   GA  GA=OK/*                            after the initialise time; the drive is back at its start
//   wavelength GX  GX=OK/*
// Commands are served one after another, as a controller with one command outstanding would.
// The controller holds the far end of its line open, so the console may close and reopen the port at will.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvanesim {

struct Grating {
    int groove = 1200;      // lines per mm
    double blazeNm = 500.0; // blaze wavelength
};

struct ControllerConfig {
    int comNumber = 3; // linked as COM<comNumber> in the port folder
    std::string name = "ORVANE-SIM";
    std::vector<Grating> gratings{{1200, 500.0}, {600, 1000.0}}; // 1 to 3
    int startGrating = 1;
    double startWavelength = 500.0;
    double baud = 9600;            // line rate both ways (10 bits a byte); 0 = no line delay
    double nmPerSecond = 200.0;    // move speed; 0 = moves take no time
    double gratingChangeMs = 1500; // GS
    double initialiseMs = 2000;    // GA

    // Fault modes.
    bool silent = false;       // reads commands, never answers
    double slowMs = 0;         // extra delay before every reply
    int splitPieces = 1;       // every reply written in this many pieces ...
    double splitGapMs = 30;    // ... this far apart
    int garbageBytes = 0;      // random bytes (never "*" or CR) written before every reply
    bool noTerminator = false; // replies without the final "*"
    int hangupAfter = -1;      // hang up the line after this many commands (-1: never)

    // A controller that answers at once: no line, move, change or initialise delays.
    static ControllerConfig instant(int com) {
        ControllerConfig c;
        c.comNumber = com;
        c.baud = 0;
        c.nmPerSecond = 0;
        c.gratingChangeMs = 0;
        c.initialiseMs = 0;
        return c;
    }
};

class Simulator {
public:
    // portDir empty: a temporary folder is created by start() and removed by stop().
    explicit Simulator(std::string portDir = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    void addController(const ControllerConfig& config); // before start()
    bool start(std::string* error = nullptr);
    void stop();

    const std::string& portDir() const;
    std::string portPath(int com) const;   // <portDir>/COM<com>
    std::string devicePath(int com) const; // the pseudo-terminal the link points to

    // Closes the controller's end as a pulled USB cable would (the link is removed too).
    void hangup(int com);
    // Plugs a hung-up controller in again: a fresh line, linked as its port again. False when it was not
    // hung up or the line could not be made.
    bool revive(int com);
    // Changes a running controller's settings (its fault modes, say): replies from now on follow them.
    void setFaults(int com, const std::function<void(ControllerConfig&)>& Change);
    ControllerConfig faults(int com) const;
    // Writes bytes from the controller's end of the line, as line noise would.
    void inject(int com, const std::string& Bytes);
    // Where the drive is: its grating and wavelength.
    int grating(int com) const;
    double wavelength(int com) const;
    // Commands received so far by the controller on COM<com>.
    int commandCount(int com) const;
    // Every byte the controller on COM<com> has received so far, in order (CRs and all).
    std::string received(int com) const;
    // Called on the simulator's thread: each complete command, and just before a reply's final "*" is written
    // (with CLOCK_MONOTONIC nanoseconds). Set before start(); they must not call back into the simulator.
    std::function<void(int com, const std::string& command)> onCommand;
    std::function<void(int com, long long nanoseconds)> onReplyEnd;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

// The orvane-sim program run as a child process; the destructor ends it (SIGTERM) and waits for it.
class SimProcess {
public:
    SimProcess(const std::string& program, const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    bool running() const { return FPid > 0 && !FPortDir.empty(); }
    const std::string& portDir() const { return FPortDir; }
    pid_t pid() const { return FPid; }

private:
    pid_t FPid = -1;
    std::string FPortDir;
};

} // namespace orvanesim
