#include "TangoServer.h"

#include "ConsoleRemote.h"
#include "OrvaneSpectrograph.h"
#include "RemoteBridge.h"

#include <eventsupplier.h> // the heartbeat's name
#include <omnithread.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/wait.h>
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

bool hasArgument(const std::vector<std::string>& Arguments, const std::string& Name) {
    return std::find(Arguments.begin(), Arguments.end(), Name) != Arguments.end();
}

// The database file of "-file=FILE", or empty.
std::string databaseFile(const std::vector<std::string>& Arguments) {
    for (const std::string& a : Arguments)
        if (a.starts_with("-file="))
            return a.substr(6);
    return {};
}

bool withoutDatabase(const TangoOptions& Options) {
    return (Options.port > 0 || hasArgument(Options.serverArgs, "-nodb")) &&
           databaseFile(Options.serverArgs).empty();
}

// The command that registers the instance with two devices named after it.
std::string registration(const std::string& Instance) {
    return "tango_admin --add-server orvane/" + Instance + " OrvaneSpectrograph " + Instance +
           "/spectrograph/1," + Instance + "/spectrograph/2";
}

// The checks of TangoServer::check, in the child process; the reason Tango would end the program, or empty.
std::string probe(const TangoOptions& Options) {
    const std::string server = "orvane/" + Options.instance;
    const std::string file = databaseFile(Options.serverArgs);
    try {
        if (!file.empty()) {
            if (::access(file.c_str(), R_OK) != 0)
                return "the Tango database file " + file + " cannot be read (" + std::strerror(errno) + ")";
            std::string name = server, className = "OrvaneSpectrograph";
            std::vector<std::string> devices;
            try {
                std::string path = file;
                Tango::Database database(path);
                database.get_device_name(name, className) >> devices;
            } catch (const Tango::DevFailed&) {
            }
            if (devices.empty())
                return "the Tango database file " + file + " has no OrvaneSpectrograph device for " + server +
                       "; add the line: " + server + "/DEVICE/OrvaneSpectrograph: " + Options.instance +
                       "/spectrograph/1, " + Options.instance + "/spectrograph/2";
            if (devices.size() > 2)
                return "the Tango database file " + file + " gives " + server + " " +
                       std::to_string(devices.size()) +
                       " OrvaneSpectrograph devices; the console has two spectrograph panels";
            return {};
        }

        std::string host;
        if (Tango::ApiUtil::get_env_var("TANGO_HOST", host) != 0 || host.empty())
            return "--tango needs a Tango database (set TANGO_HOST) or a fixed port (--tango-port N)";
        // Tango also takes TANGO_HOST from its settings files; say so, or the line names a host nobody set.
        const char* set = std::getenv("TANGO_HOST");
        const std::string from = set && *set ? "" : " (from ~/.tangorc or /etc/tangorc)";
        if (!reachable(host))
            return "the Tango database at TANGO_HOST=" + host + from + " cannot be reached";
        std::unique_ptr<Tango::Database> database;
        try {
            database = std::make_unique<Tango::Database>();
            database->get_info();
        } catch (const Tango::DevFailed&) {
            return "TANGO_HOST=" + host + from + " is not a Tango database (something else answers there)";
        } catch (const CORBA::Exception&) {
            return "TANGO_HOST=" + host + from + " is not a Tango database (something else answers there)";
        }
        std::string name = server;
        std::vector<std::string> classes; // device, class, device, class, ...
        database->get_device_class_list(name) >> classes;
        if (classes.empty())
            return "the server instance " + server + " is not registered in the Tango database at " + host +
                   "; register it with: " + registration(Options.instance);
        std::size_t devices = 0;
        for (std::size_t i = 1; i < classes.size(); i += 2)
            devices += classes[i] == "OrvaneSpectrograph";
        if (devices == 0)
            return "the server instance " + server +
                   " has no OrvaneSpectrograph device in the Tango database at " + host +
                   "; add two with: " + registration(Options.instance);
        if (devices > 2)
            return "the server instance " + server + " has " + std::to_string(devices) +
                   " OrvaneSpectrograph devices in the Tango database at " + host +
                   "; the console has two spectrograph panels";
        std::string admin = "dserver/" + server;
        const Tango::DbDevFullInfo info = database->get_device_info(admin);
        if (info.exported) {
            try {
                Tango::DeviceProxy running(admin);
                running.set_timeout_millis(1500);
                running.ping();
                return "the server instance " + server + " is already running on " + info.host;
            } catch (const Tango::DevFailed&) {
                // exported by a server that has gone: Tango takes the instance over
            }
        }
    } catch (const Tango::DevFailed& error) {
        return "the Tango database cannot be asked about " + server + ": " + describe(error);
    } catch (const CORBA::Exception& error) {
        return std::string("the Tango database cannot be asked about ") + server + ": " + error._name();
    }
    return {};
}

// Tango 9.3 names the heartbeat of a server without a database (or with a database file) after its admin
// device with "#dbase=no" added, and tells each subscribing client to listen for the admin device's name
// without it: the client never hears a heartbeat, declares the event channel dead after 10 to 20 s
// (API_EventTimeout) and stops receiving events. The console's heartbeat goes out under the name its
// clients listen for. The name is a private member of Tango's event supplier; an explicit instantiation
// may name it.
std::string Tango::ZmqEventSupplier::*heartbeatNameMember();
template <std::string Tango::ZmqEventSupplier::*Member> struct HeartbeatName {
    friend std::string Tango::ZmqEventSupplier::*heartbeatNameMember() { return Member; }
};
template struct HeartbeatName<&Tango::ZmqEventSupplier::heartbeat_event_name>;

void nameHeartbeatAsClientsListen() {
    if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
        return;
    Tango::ZmqEventSupplier* supplier = Tango::Util::instance()->get_zmq_event_supplier();
    if (!supplier)
        return;
    // Before the server runs: the heartbeat goes out only once a client has subscribed.
    std::string& name = supplier->*heartbeatNameMember();
    const std::string modifier = MODIFIER_DBASE_NO;
    if (const std::size_t at = name.find(modifier); at != std::string::npos)
        name.erase(at, modifier.size());
}

} // namespace

TangoServer::TangoServer(RemoteBridge& Bridge, ConsoleRemote& Remote) : FBridge(Bridge), FRemote(Remote) {}

TangoServer::~TangoServer() {
    stop();
}

std::vector<std::string> TangoServer::fixedDeviceNames() {
    return {"orvane/spectrograph/1", "orvane/spectrograph/2"};
}

std::vector<std::string> TangoServer::serverArguments(const TangoOptions& Options) {
    std::vector<std::string> args = {"orvane", Options.instance};
    const bool file = !databaseFile(Options.serverArgs).empty();
    const bool nodb = !file && (Options.port > 0 || hasArgument(Options.serverArgs, "-nodb"));
    if (nodb)
        args.push_back("-nodb"); // Tango takes -dlist only after it
    for (const std::string& a : Options.serverArgs)
        if (a != "-nodb")
            args.push_back(a);
    if (nodb && !hasArgument(Options.serverArgs, "-dlist")) {
        const std::vector<std::string> names = fixedDeviceNames();
        args.insert(args.end(), {"-dlist", names[0] + "," + names[1]});
    }
    if (!hasArgument(Options.serverArgs, "-ORBendPoint"))
        args.insert(args.end(), {"-ORBendPoint", "giop:tcp:" + Options.listen + ":" +
                                                     (Options.port > 0 ? std::to_string(Options.port) : "")});
    return args;
}

bool TangoServer::check(const TangoOptions& Options, std::string& Error) {
    if (withoutDatabase(Options))
        return true; // nothing to ask anyone; a port in use is told by start()
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        Error = std::string("cannot check the Tango database: ") + std::strerror(errno);
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        Error = std::string("cannot check the Tango database: ") + std::strerror(errno);
        ::close(channel[0]);
        ::close(channel[1]);
        return false;
    }
    if (child == 0) {
        // Tango's client has threads and exits of its own: it runs here, where neither touches the console.
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        std::string why = "=";
        why += probe(Options); // (GCC 12 at -O3 sees an overlap in "=" + probe(...) that is not there)
        std::size_t written = 0;
        while (written < why.size()) {
            const ssize_t n = ::write(channel[1], why.data() + written, why.size() - written);
            if (n <= 0)
                break;
            written += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{channel[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
            ::kill(child, SIGKILL);
            answer.clear();
            Error = "the Tango database did not answer within 20 s";
            break;
        }
        char buffer[512];
        const ssize_t n = ::read(channel[0], buffer, sizeof buffer);
        if (n > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!answer.empty()) {
        Error = answer.substr(1);
        return Error.empty();
    }
    if (Error.empty())
        Error = "the check of the Tango database ended without an answer";
    return false;
}

bool TangoServer::start(const TangoOptions& Options, std::string& Error) {
    std::vector<std::string> args = serverArguments(Options);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());

    OrvaneSpectrographClass::Bridge = &FBridge;
    OrvaneSpectrographClass::Remote = &FRemote;
    try {
        Tango::Util* tango = Tango::Util::init(argc, argv.data());
        nameHeartbeatAsClientsListen();
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
            try {
                Tango::AutoTangoMonitor monitor(device);
                device->pushChanges(change.state, change.fields);
            } catch (const Tango::DevFailed& error) {
                // The device's monitor not had in time: the attributes still read the published state.
                std::fprintf(stderr, "orvane: Tango events not sent: %s\n", describe(error).c_str());
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
