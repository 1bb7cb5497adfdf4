// orvane-sim: spectrograph controllers on pseudo-terminals, for running the console without hardware.
#include "OrvaneSim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>

namespace {

void usage() {
    std::printf(
        "usage: orvane-sim [options]\n"
        "  --port-dir DIR        folder for the COMn links (default: a new temporary folder)\n"
        "  --com1 N              COM number of spectrograph 1's controller (default 3; 0 = none)\n"
        "  --com2 N              COM number of spectrograph 2's controller (default 5; 0 = none)\n"
        "  --name TEXT           controller name (default ORVANE-SIM-1 / ORVANE-SIM-2)\n"
        "  --gratings G:B,...    1 to 3 gratings as grooves:blaze-nm (default 1200:500,600:1000)\n"
        "  --start-wl NM         start wavelength (default 500)\n"
        "  --baud RATE           line rate both ways, 0 = no line delay (default 9600)\n"
        "  --speed NM_PER_S      move speed, 0 = instant (default 200)\n"
        "  --grating-ms MS       grating change time (default 1500)\n"
        "  --init-ms MS          initialise time (default 2000)\n"
        "  --silent | --slow MS | --split N | --garbage N | --no-star | --hangup-after N   fault modes\n"
        "  --command-log FILE    write each command received as \"<monotonic ns> COM<n> <command>\"\n"
        "SIGUSR1 hangs up every line, as pulled cables would.\n");
}

std::vector<orvanesim::Grating> parseGratings(const char* text) {
    std::vector<orvanesim::Grating> list;
    std::string s = text;
    std::size_t pos = 0;
    while (pos < s.size() && list.size() < 3) {
        std::size_t end = s.find(',', pos);
        std::string item = s.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        orvanesim::Grating g;
        g.groove = std::atoi(item.c_str());
        auto colon = item.find(':');
        if (colon != std::string::npos)
            g.blazeNm = std::atof(item.c_str() + colon + 1);
        list.push_back(g);
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return list;
}

} // namespace

int main(int argc, char** argv) {
    std::string portDir, name, commandLog;
    int com1 = 3, com2 = 5;
    orvanesim::ControllerConfig base;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "orvane-sim: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--port-dir")
            portDir = value();
        else if (a == "--com1")
            com1 = std::atoi(value());
        else if (a == "--com2")
            com2 = std::atoi(value());
        else if (a == "--name")
            name = value();
        else if (a == "--gratings")
            base.gratings = parseGratings(value());
        else if (a == "--start-wl")
            base.startWavelength = std::atof(value());
        else if (a == "--baud")
            base.baud = std::atof(value());
        else if (a == "--speed")
            base.nmPerSecond = std::atof(value());
        else if (a == "--grating-ms")
            base.gratingChangeMs = std::atof(value());
        else if (a == "--init-ms")
            base.initialiseMs = std::atof(value());
        else if (a == "--silent")
            base.silent = true;
        else if (a == "--slow")
            base.slowMs = std::atof(value());
        else if (a == "--split")
            base.splitPieces = std::atoi(value());
        else if (a == "--garbage")
            base.garbageBytes = std::atoi(value());
        else if (a == "--no-star")
            base.noTerminator = true;
        else if (a == "--command-log")
            commandLog = value();
        else if (a == "--hangup-after")
            base.hangupAfter = std::atoi(value());
        else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else {
            std::fprintf(stderr, "orvane-sim: unknown option %s\n", a.c_str());
            usage();
            return 2;
        }
    }
    if (base.gratings.empty() || base.gratings.size() > 3) {
        std::fprintf(stderr, "orvane-sim: give 1 to 3 gratings\n");
        return 2;
    }

    // Block the ending signals before the simulator's thread starts, so that only sigwait sees them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    orvanesim::Simulator sim(portDir);
    int index = 1;
    for (int com : {com1, com2}) {
        if (com > 0) {
            orvanesim::ControllerConfig c = base;
            c.comNumber = com;
            c.name = name.empty() ? "ORVANE-SIM-" + std::to_string(index) : name;
            sim.addController(c);
        }
        ++index;
    }
    // What a test reads to see the bytes on the wire and when they came.
    std::FILE* log = nullptr;
    if (!commandLog.empty()) {
        log = std::fopen(commandLog.c_str(), "a");
        if (!log) {
            std::fprintf(stderr, "orvane-sim: cannot write %s: %s\n", commandLog.c_str(),
                         std::strerror(errno));
            return 1;
        }
        sim.onCommand = [log](int com, const std::string& command) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::fprintf(log, "%lld COM%d %s\n",
                         static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, com,
                         command.c_str());
            std::fflush(log);
        };
    }
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "orvane-sim: %s\n", error.c_str());
        return 1;
    }
    for (int com : {com1, com2})
        if (com > 0)
            std::printf("COM%d -> %s\n", com, sim.devicePath(com).c_str());
    std::printf("Start the console with this in its environment (Ctrl+C ends the simulator):\n");
    std::printf("ORVANE_PORT_DIR=%s\n", sim.portDir().c_str());
    std::fflush(stdout);

    int sig = 0;
    while (sigwait(&set, &sig) == 0 && sig == SIGUSR1)
        for (int com : {com1, com2})
            if (com > 0)
                sim.hangup(com);
    sim.stop();
    if (log)
        std::fclose(log);
    return 0;
}
