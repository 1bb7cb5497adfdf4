// What remote control through Tango costs, against the window's own path measured in the same run:
//  - a Move until the panel stands again (State ON): a Tango client against the console program, and the
//    same operation run on the window thread of a console in this process;
//  - a 10 ms-per-point scan with 20 clients reading Wavelength at 100 Hz each, against the same scan
//    with no client;
//  - reads of Wavelength from the console program, against reads of the double attribute of Tango's
//    reference device server (TangoTest, Debian's tango-test) started without a database, side by side;
//  - the idle CPU of the console program with --tango, against the console without it.
// Controllers answer at once (the simulator with no line delay and instant moves).
#include "ConsoleRemote.h"
#include "ConsoleWindows.h"
#include "KivLED.h"
#include "KivLEDBtn.h"
#include "OrvaneApplication.h"
#include "OrvaneSim.h"
#include "RemoteBridge.h"

#include <tango.h>

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kMoves = 300; // each way, in rounds that alternate the two paths
constexpr int kRounds = 10;
constexpr int kReaders = 20;      // clients reading Wavelength
constexpr int kReadPeriodMs = 10; // 100 Hz each
constexpr int kScanPoints = 501;  // 500 to 1000 nm by 1 nm, 10 ms a point
constexpr int kIdleMs = 10000;
constexpr int kReads = 2000; // each way, in rounds that alternate the two servers
constexpr const char* kReferenceServer = "/usr/lib/tango/TangoTest";

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool runUntil(const std::function<bool()>& Done, int BoundMs = 30000) {
    const auto end = Clock::now() + std::chrono::milliseconds(BoundMs);
    QTimer bound;
    bound.start(50);
    while (!Done()) {
        if (Clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

// CPU time of a process so far, all its threads, in ms: the scheduler's nanosecond count (the tick
// count of /proc/PID/stat is too coarse for an idle program).
double processCpuMs(qint64 Pid) {
    double ns = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(Pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream stat(tasks.filePath(task).toStdString() + "/schedstat");
        double onCpu = 0;
        if (stat >> onCpu)
            ns += onCpu;
    }
    return ns / 1e6;
}

// The console program with its simulator, each a process of its own.
struct ConsoleProgram {
    QTemporaryDir dir;
    QProcess sim, console;
    int port = 0;

    bool start(bool Tango) {
        const QString ports = dir.filePath(QStringLiteral("ports"));
        sim.start(QStringLiteral(ORVANE_SIM_PATH),
                  {QStringLiteral("--port-dir"), ports, QStringLiteral("--baud"), QStringLiteral("0"),
                   QStringLiteral("--speed"), QStringLiteral("0"), QStringLiteral("--init-ms"),
                   QStringLiteral("0"), QStringLiteral("--grating-ms"), QStringLiteral("0")});
        if (!runUntil([&] { return QFile::exists(ports + QStringLiteral("/COM5")); }, 10000))
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVANE_PORT_DIR"), ports);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("TANGO_HOST"));
        console.setProcessEnvironment(env);
        console.setWorkingDirectory(dir.path());
        console.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args;
        if (Tango) {
            port = freePort();
            args = {QStringLiteral("--tango-port"), QString::number(port)};
        }
        console.start(QStringLiteral(ORVANE_CONSOLE_PATH), args);
        return console.waitForStarted(10000);
    }
    std::string deviceName() const {
        return "tango://127.0.0.1:" + std::to_string(port) + "/orvane/spectrograph/1#dbase=no";
    }
    ~ConsoleProgram() {
        console.terminate();
        if (!console.waitForFinished(10000))
            console.kill();
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

// State change events of one device, for waiting on a state without polling.
class StateWatch : public Tango::CallBack {
public:
    void push_event(Tango::EventData* Event) override {
        if (Event->err || !Event->attr_value)
            return;
        Tango::DevState state;
        *Event->attr_value >> state;
        {
            std::lock_guard lock(FMutex);
            FStates.push_back(state);
        }
        FChanged.notify_all();
    }
    std::size_t count() {
        std::lock_guard lock(FMutex);
        return FStates.size();
    }
    // Waits for State after the first From events.
    bool waitFor(Tango::DevState State, std::size_t From,
                 std::chrono::milliseconds Bound = std::chrono::seconds(10)) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, Bound, [&] {
            return std::find(FStates.begin() + std::min(From, FStates.size()), FStates.end(), State) !=
                   FStates.end();
        });
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<Tango::DevState> FStates;
};

bool waitForDevice(Tango::DeviceProxy& Device) {
    for (int i = 0; i < 300; ++i) {
        try {
            Device.ping();
            return true;
        } catch (const Tango::DevFailed&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    return false;
}

bool waitForState(Tango::DeviceProxy& Device, Tango::DevState State, int BoundMs = 30000) {
    const auto end = Clock::now() + std::chrono::milliseconds(BoundMs);
    while (Clock::now() < end) {
        if (Device.state() == State)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Starts the console program and connects its panel 1 through Tango; null when either fails.
std::unique_ptr<Tango::DeviceProxy> connectedPanel(ConsoleProgram& Program) {
    if (!Program.start(true))
        return nullptr;
    std::string name = Program.deviceName();
    auto device = std::make_unique<Tango::DeviceProxy>(name);
    if (!waitForDevice(*device))
        return nullptr;
    device->command_inout("Connect");
    if (!waitForState(*device, Tango::ON))
        return nullptr;
    return device;
}

// Time of each Move until State ON through Tango, and of the same operation on this process's window
// thread until the published state is On, in alternating rounds.
struct MoveTimes {
    std::vector<double> tango, window;
};

bool measureMoves(MoveTimes& Times) {
    // The window path: the console in this process, the operation a client's Move runs.
    orvanesim::Simulator sim;
    sim.addController(orvanesim::ControllerConfig::instant(3));
    if (!sim.start())
        return false;
    ::setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);
    auto windows = std::make_unique<ConsoleWindows>();
    TfrmMain& w = windows->main;
    w.show();
    RemoteBridge bridge;
    ConsoleRemote remote(w, bridge);
    w.panel(0).connectTimer()->setInterval(200);
    w.btnComm1->click();
    if (!runUntil([&] { return bridge.snapshot(0).mode == PanelMode::On; }))
        return false;

    // The Tango path: the console program and a client here.
    ConsoleProgram program;
    std::unique_ptr<Tango::DeviceProxy> proxy = connectedPanel(program);
    if (!proxy)
        return false;
    Tango::DeviceProxy& device = *proxy;
    StateWatch watch;
    const int id = device.subscribe_event("State", Tango::CHANGE_EVENT, &watch);

    double nm = 500;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kMoves / kRounds; ++i) {
            nm = nm == 500 ? 501 : 500;
            const std::size_t from = watch.count();
            const auto start = Clock::now();
            Tango::DeviceData argument;
            argument << nm;
            device.command_inout("Move", argument);
            if (!watch.waitFor(Tango::ON, from))
                return false;
            Times.tango.push_back(seconds(Clock::now() - start) * 1000);
        }
        for (int i = 0; i < kMoves / kRounds; ++i) {
            nm = nm == 500 ? 501 : 500;
            const auto start = Clock::now();
            if (!remote.move(0, nm).empty())
                return false;
            if (!runUntil([&] { return bridge.snapshot(0).mode == PanelMode::On; }))
                return false;
            Times.window.push_back(seconds(Clock::now() - start) * 1000);
        }
    }
    device.unsubscribe_event(id);
    bridge.shutdown("done");
    windows.reset();
    sim.stop();
    return true;
}

// Points per second of a scan of kScanPoints at 10 ms a point, with Readers clients reading Wavelength
// at 100 Hz each meanwhile; Reads counts their reads.
bool measureScan(int Readers, double& PointsPerSecond, long& Reads) {
    ConsoleProgram program;
    std::unique_ptr<Tango::DeviceProxy> proxy = connectedPanel(program);
    if (!proxy)
        return false;
    Tango::DeviceProxy& device = *proxy;

    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < Readers; ++c)
        clients.emplace_back([&] {
            std::string readerName = program.deviceName();
            Tango::DeviceProxy reader(readerName);
            auto next = Clock::now();
            while (!stop) {
                try {
                    Tango::DeviceAttribute a = reader.read_attribute("Wavelength");
                    double value = 0;
                    a >> value;
                    ++reads;
                } catch (const Tango::DevFailed&) {
                }
                next += std::chrono::milliseconds(kReadPeriodMs);
                std::this_thread::sleep_until(next);
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // all readers connected and reading

    // Point time = trunc(scan time / points * 1000) ms: 5.01 s over 501 points gives 10 ms.
    Tango::DevVarDoubleArray scan;
    scan.length(5);
    scan[0] = 500;
    scan[1] = 500 + kScanPoints - 1;
    scan[2] = 1;
    scan[3] = kScanPoints * 0.01;
    scan[4] = 1;
    Tango::DeviceData argument;
    argument << scan;
    StateWatch watch;
    const int id = device.subscribe_event("State", Tango::CHANGE_EVENT, &watch);
    const std::size_t from = watch.count();
    const auto start = Clock::now();
    device.command_inout("StartScan", argument);
    const bool running = watch.waitFor(Tango::RUNNING, from);
    const bool ended = running && watch.waitFor(Tango::ON, from + 1, std::chrono::seconds(60));
    if (!ended)
        std::fprintf(stderr, "bench_tango: the scan %s\n", running ? "did not end" : "did not start");
    const double elapsed = seconds(Clock::now() - start);
    stop = true;
    for (std::thread& t : clients)
        t.join();
    device.unsubscribe_event(id);
    PointsPerSecond = kScanPoints / elapsed;
    Reads = reads;
    return ended;
}

// CPU of the console program over kIdleMs, once settled: without --tango, with it and no client, and with
// it, its panel connected by a client that stays subscribed to the change events as a monitor would.
enum class Idle { Plain, Tango, TangoWatched };

bool measureIdle(Idle Mode, double& CpuMs) {
    ConsoleProgram program;
    if (!program.start(Mode != Idle::Plain))
        return false;
    // The monitoring client is a PyTango script of its own, as a lab's would be.
    QProcess client;
    if (Mode == Idle::TangoWatched) {
        const QString script =
            QStringLiteral("import sys, time, tango\n"
                           "d = tango.DeviceProxy(sys.argv[1])\n"
                           "for _ in range(300):\n"
                           "    try:\n"
                           "        d.ping(); break\n"
                           "    except tango.DevFailed: time.sleep(0.1)\n"
                           "d.Connect()\n"
                           "while d.state() != tango.DevState.ON: time.sleep(0.05)\n"
                           "for a in ('State', 'Status', 'Wavelength', 'ControllerName', 'ScanPoint'):\n"
                           "    d.subscribe_event(a, tango.EventType.CHANGE_EVENT, lambda e: None)\n"
                           "print('ready', flush=True)\n"
                           "time.sleep(3600)\n");
        client.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"), script, QString::fromStdString(program.deviceName())});
        if (!client.waitForReadyRead(60000) || !client.readLine().startsWith("ready"))
            return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(3)); // start-up done
    const double before = processCpuMs(program.console.processId());
    std::this_thread::sleep_for(std::chrono::milliseconds(kIdleMs));
    CpuMs = processCpuMs(program.console.processId()) - before;
    client.kill();
    client.waitForFinished(5000);
    return program.console.state() == QProcess::Running;
}

// Time of one read of Wavelength from the console (its panel connected) and of double_scalar from Tango's
// reference server, each a client in this process over the loopback, in alternating rounds.
struct ReadTimes {
    std::vector<double> console, reference;
};

bool measureReads(ReadTimes& Times) {
    if (::access(kReferenceServer, X_OK) != 0) {
        std::fprintf(stderr, "bench_tango: %s is missing (Debian's tango-test)\n", kReferenceServer);
        return false;
    }
    ConsoleProgram program;
    std::unique_ptr<Tango::DeviceProxy> console = connectedPanel(program);
    if (!console)
        return false;
    QProcess reference;
    const int port = freePort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("TANGO_HOST"));
    reference.setProcessEnvironment(env);
    reference.start(QString::fromLatin1(kReferenceServer),
                    {QStringLiteral("bench"), QStringLiteral("-nodb"), QStringLiteral("-dlist"),
                     QStringLiteral("sys/tg_test/1"), QStringLiteral("-ORBendPoint"),
                     QStringLiteral("giop:tcp:127.0.0.1:%1").arg(port)});
    if (!reference.waitForStarted(10000))
        return false;
    std::string name = "tango://127.0.0.1:" + std::to_string(port) + "/sys/tg_test/1#dbase=no";
    Tango::DeviceProxy tangoTest(name);
    if (!waitForDevice(tangoTest))
        return false;
    auto timeReads = [](Tango::DeviceProxy& Device, const char* Attribute, std::vector<double>& Out) {
        std::string attribute = Attribute; // Tango takes it by reference
        for (int i = 0; i < kReads / kRounds; ++i) {
            const auto start = Clock::now();
            Tango::DeviceAttribute a = Device.read_attribute(attribute);
            double value = 0;
            a >> value;
            Out.push_back(seconds(Clock::now() - start) * 1e6);
        }
    };
    // Connections made and both servers warm before the clock runs.
    std::vector<double> warm;
    timeReads(*console, "Wavelength", warm);
    timeReads(tangoTest, "double_scalar", warm);
    for (int round = 0; round < kRounds; ++round) {
        timeReads(*console, "Wavelength", Times.console);
        timeReads(tangoTest, "double_scalar", Times.reference);
    }
    reference.terminate();
    if (!reference.waitForFinished(10000))
        reference.kill();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    OrvaneApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each result as it comes, also into a pipe
    std::signal(SIGPIPE, SIG_IGN);            // a console that ends under a subscribed client

    MoveTimes moves;
    if (!measureMoves(moves)) {
        std::fprintf(stderr, "bench_tango: the Move round trips failed\n");
        return 1;
    }
    const double tangoMedian = median(moves.tango), windowMedian = median(moves.window);
    std::printf("Move until the panel stands again (%d each, %d alternating rounds), median:\n", kMoves,
                kRounds);
    std::printf("  window path (the same operation on the window thread): %.3f ms\n", windowMedian);
    std::printf("  through Tango (client in another process, State ON event): %.3f ms\n", tangoMedian);
    std::printf("  Tango adds %.3f ms (goal < 1 ms), ratio %.2fx\n", tangoMedian - windowMedian,
                windowMedian > 0 ? tangoMedian / windowMedian : 0.0);

    double quietRate = 0, busyRate = 0;
    long quietReads = 0, busyReads = 0;
    if (!measureScan(0, quietRate, quietReads) || !measureScan(kReaders, busyRate, busyReads)) {
        std::fprintf(stderr, "bench_tango: the scans failed\n");
        return 1;
    }
    const double ideal = 1000.0 / kReadPeriodMs;
    std::printf("Scan of %d points at 10 ms a point (ideal %.0f points/s):\n", kScanPoints, ideal);
    std::printf("  no client:                         %.1f points/s, %.1f%% of ideal\n", quietRate,
                100 * quietRate / ideal);
    std::printf("  %d clients reading at 100 Hz each: %.1f points/s, %.1f%% of ideal (goal >= 95%%), "
                "%.2fx the scan with no client; %ld reads\n",
                kReaders, busyRate, 100 * busyRate / ideal, quietRate > 0 ? busyRate / quietRate : 0.0,
                busyReads);

    ReadTimes reads;
    if (!measureReads(reads)) {
        std::fprintf(stderr, "bench_tango: the reads failed\n");
        return 1;
    }
    const double consoleRead = median(reads.console), referenceRead = median(reads.reference);
    std::printf("Reads of a double attribute (%d each, %d alternating rounds), median:\n", kReads, kRounds);
    std::printf("  Tango's reference server (TangoTest -nodb, double_scalar): %.1f us\n", referenceRead);
    std::printf("  the console (Wavelength, panel connected):                 %.1f us\n", consoleRead);
    std::printf("  ratio %.2fx (goal <= 1.2x)\n", referenceRead > 0 ? consoleRead / referenceRead : 0.0);

    double idlePlain = 0, idleTango = 0, idleWatched = 0;
    if (!measureIdle(Idle::Plain, idlePlain) || !measureIdle(Idle::Tango, idleTango) ||
        !measureIdle(Idle::TangoWatched, idleWatched)) {
        std::fprintf(stderr, "bench_tango: the idle console ended\n");
        return 1;
    }
    std::printf("Idle CPU over %d s (goal < 20 ms with --tango):\n", kIdleMs / 1000);
    std::printf("  console without --tango:                                      %.3f ms\n", idlePlain);
    std::printf("  console with --tango, no client:                              %.3f ms\n", idleTango);
    std::printf("  console with --tango, panel connected, a client subscribed:   %.3f ms\n", idleWatched);
    return 0;
}
