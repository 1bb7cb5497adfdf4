#include "TangoServer.h"

#include "ConsoleRemote.h"
#include "OrvaneSpectrograph.h"
#include "RemoteBridge.h"

#include <omnithread.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

// The device classes of this server: Tango asks the program for them by this name.
void Tango::DServer::class_factory() {
    add_class(OrvaneSpectrographClass::init("OrvaneSpectrograph"));
}

namespace {

std::string describe(const Tango::DevFailed& Error) {
    std::string text;
    for (CORBA::ULong i = 0; i < Error.errors.length(); ++i) {
        if (!text.empty())
            text += "; ";
        text += Error.errors[i].desc.in();
    }
    return text.empty() ? std::string("unknown Tango error") : text;
}

// Whether one of the databases in TangoHost ("host:port", several separated by commas) takes a
// connection within a second.
bool reachable(const std::string& TangoHost) {
    std::size_t from = 0;
    while (from <= TangoHost.size()) {
        const std::size_t comma = std::min(TangoHost.find(',', from), TangoHost.size());
        const std::string entry = TangoHost.substr(from, comma - from);
        from = comma + 1;
        const std::size_t colon = entry.rfind(':');
        if (colon == std::string::npos)
            continue;
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(entry.substr(0, colon).c_str(), entry.substr(colon + 1).c_str(), &hints, &found) != 0)
            continue;
        bool connected = false;
        for (addrinfo* a = found; a && !connected; a = a->ai_next) {
            const int fd =
                ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0)
                continue;
            if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
                connected = true;
            } else if (errno == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                int error = 0;
                socklen_t length = sizeof error;
                connected = ::poll(&p, 1, 1000) == 1 &&
                            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
            }
            ::close(fd);
        }
        freeaddrinfo(found);
        if (connected)
            return true;
    }
    return false;
}

} // namespace

TangoServer::TangoServer(RemoteBridge& Bridge, ConsoleRemote& Remote) : FBridge(Bridge), FRemote(Remote) {}

TangoServer::~TangoServer() {
    stop();
}

std::vector<std::string> TangoServer::fixedDeviceNames() {
    return {"orvane/spectrograph/1", "orvane/spectrograph/2"};
}

bool TangoServer::start(const TangoOptions& Options, std::string& Error) {
    std::vector<std::string> args = {"orvane", Options.instance};
    if (Options.port > 0) {
        const std::vector<std::string> names = fixedDeviceNames();
        args.insert(args.end(), {"-nodb", "-dlist", names[0] + "," + names[1], "-ORBendPoint",
                                 "giop:tcp:" + Options.listen + ":" + std::to_string(Options.port)});
    } else {
        const char* host = std::getenv("TANGO_HOST");
        if (!host || !*host) {
            Error = "--tango needs a Tango database (set TANGO_HOST) or a fixed port (--tango-port N)";
            return false;
        }
        // Tango ends the program itself when its database does not answer; say why in our own words.
        if (!reachable(host)) {
            Error = std::string("the Tango database at TANGO_HOST=") + host + " cannot be reached";
            return false;
        }
        args.insert(args.end(), {"-ORBendPoint", "giop:tcp:" + Options.listen + ":"});
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());

    OrvaneSpectrographClass::Bridge = &FBridge;
    OrvaneSpectrographClass::Remote = &FRemote;
    try {
        Tango::Util* tango = Tango::Util::init(argc, argv.data());
        tango->server_init(false);
    } catch (const Tango::DevFailed& error) {
        Error = "the Tango server cannot start: " + describe(error);
        return false;
    } catch (const CORBA::INITIALIZE&) {
        Error = "the Tango server cannot listen on " + Options.listen +
                (Options.port > 0 ? ":" + std::to_string(Options.port) + " (is the port in use?)" : "");
        return false;
    } catch (const CORBA::Exception& error) {
        Error = std::string("the Tango server cannot start: ") + error._name();
        return false;
    }
    // Tango blocks the ending signals for a thread of its own that would end the program at once; the
    // window closes on them instead, with its ports closed and its log written.
    sigset_t endings;
    sigemptyset(&endings);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&endings, signal);
    pthread_sigmask(SIG_UNBLOCK, &endings, nullptr);

    FStarted = true;
    FPusher = std::thread([this] { pushEvents(); });
    return true;
}

// Pushes what the window publishes, under each device's monitor so that a push never meets a read of
// the same attribute.
void TangoServer::pushEvents() {
    omni_thread::ensure_self self; // Tango's monitors know their owners by omniORB thread
    std::vector<RemoteBridge::Change> changes;
    while (FBridge.waitForChanges(changes)) {
        for (RemoteBridge::Change& change : changes) {
            OrvaneSpectrographClass* deviceClass = OrvaneSpectrographClass::instance();
            OrvaneSpectrograph* device = deviceClass ? deviceClass->device(change.panel) : nullptr;
            if (!device)
                continue;
            const PanelState& s = change.state;
            try {
                Tango::AutoTangoMonitor monitor(device);
                // State and Status are pushed without a value: Tango reads them through dev_state and
                // dev_status, which give the state being pushed. (Pushed with a value, Tango keeps a copy
                // of each that it never frees.)
                struct Pushing {
                    OrvaneSpectrograph* device;
                    ~Pushing() { device->setPushing(nullptr); }
                } pushing{device};
                device->setPushing(&s);
                device->set_state(tangoState(s.mode));
                device->set_status(s.status);
                if (change.fields & fieldMode)
                    device->push_change_event("State");
                if (change.fields & fieldStatus)
                    device->push_change_event("Status");
                if (change.fields & fieldWavelength) {
                    Tango::DevDouble wavelength = s.wavelength;
                    device->push_change_event("Wavelength", &wavelength);
                }
                if (change.fields & fieldControllerName) {
                    Tango::DevString name = const_cast<char*>(s.controllerName.c_str());
                    device->push_change_event("ControllerName", &name);
                }
                if (change.fields & fieldScanPoint) {
                    Tango::DevLong point = s.scanPoint;
                    device->push_change_event("ScanPoint", &point);
                }
            } catch (const Tango::DevFailed& error) {
                // A push that fails (no subscriber's channel yet, a monitor timeout) is dropped: the
                // attributes still read the published state.
                std::fprintf(stderr, "orvane: Tango event not sent: %s\n", describe(error).c_str());
            }
        }
    }
}

void TangoServer::stop() {
    if (!FStarted)
        return;
    FStarted = false;
    // Calls waiting for the window are answered now and no new one reaches it.
    FBridge.shutdown("the console is closing");
    if (FPusher.joinable())
        FPusher.join();
    try {
        // As a server's own Kill does: devices deleted and the ORB shut down; then the ORB destroyed.
        Tango::Util* tango = Tango::Util::instance();
        tango->shutdown_ds();
        tango->server_cleanup();
    } catch (const Tango::DevFailed& error) {
        std::fprintf(stderr, "orvane: Tango server cleanup: %s\n", describe(error).c_str());
    } catch (const CORBA::Exception&) {
    }
}
