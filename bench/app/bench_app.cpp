// The console's costs against the bare serial component in the same run: MOVE round trips through the
// whole window path, the idle CPU of a connected console, and the CPU of the 300 ms grating-change pause.
// The controller simulator answers at once and writes its replies unpaced.
#include "KivComm.h"
#include "KivLED.h"
#include "KivLEDBtn.h"
#include "OrvaneApplication.h"
#include "OrvaneSim.h"
#include "fExpertMode1.h"
#include "fExpertMode2.h"
#include "fMain.h"

#include <benchmark/benchmark.h>

#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <time.h>
#include <vector>

namespace {

constexpr int kRoundTrips = 8000; // each way
constexpr int kRounds = 20;
constexpr int kIdleMs = 10000;

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs the event loop until Done or the bound; false when the bound was hit. The loop sleeps between
// events (a periodic timer only bounds the sleep), so the waiting itself costs no CPU.
bool runUntil(const std::function<bool()>& Done, int BoundMs = 30000) {
    const double end = wallSeconds() + BoundMs / 1000.0;
    QTimer bound;
    bound.start(100);
    while (!Done()) {
        if (wallSeconds() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void idleFor(int Ms) {
    QEventLoop loop;
    QTimer::singleShot(Ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The console as the program entry builds it, on a simulator of its own.
struct Console {
    orvanesim::Simulator sim;
    std::unique_ptr<TfrmMain> main;
    std::unique_ptr<TfrmExpertMode2> expert2;
    std::unique_ptr<TfrmExpertMode1> expert1;

    bool start() {
        sim.addController(orvanesim::ControllerConfig::instant(3));
        if (!sim.start())
            return false;
        ::setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);
        main = std::make_unique<TfrmMain>();
        frmMain = main.get();
        expert2 = std::make_unique<TfrmExpertMode2>();
        frmExpertMode2 = expert2.get();
        expert1 = std::make_unique<TfrmExpertMode1>();
        frmExpertMode1 = expert1.get();
        main->show();
        // The search itself is not measured: a short tick finds COM3 in about two seconds.
        main->panel(0).connectTimer()->setInterval(200);
        main->btnComm1->click();
        return runUntil(
            [&] { return main->btnComm1->LED()->Value() && main->panel(0).info().GratingCount > 0; });
    }
    ~Console() {
        expert1.reset();
        expert2.reset();
        main.reset();
        sim.stop();
    }
};

struct Results {
    double bareTripsPerSecond = 0, windowTripsPerSecond = 0;
    double medianRoundRatio = 0, lowRoundRatio = 0, highRoundRatio = 0;
    double idleBareMs = 0, idleConsoleMs = 0;
    double pauseBaselineMs = 0, pauseConsoleMs = 0, pauseWallMs = 0;
} results;

// MOVE round trips, the bare serial component against the whole window path, in interleaved rounds on
// two controllers of one simulator, so that a drift of the machine's speed falls on both alike.
// Bare: write the move, wait for its reply on the window thread, read it. Window: a click on MOVE, the
// command builder, the log, the reply dispatcher, the position parser, the readout and "Moving Ok".
void BM_MoveRoundTrips(benchmark::State& state) {
    for (auto _ : state) {
        Console console;
        console.sim.addController(orvanesim::ControllerConfig::instant(5));
        if (!console.start()) {
            state.SkipWithError("no connection");
            return;
        }
        TfrmMain& w = *console.main;
        w.txtMoveWavelength1->setText(QStringLiteral("532.5"));

        TKivComm comm;
        comm.SetPort(COM05);
        comm.SetEventChar('*');
        comm.SetCommEvents(TCommEvents{EVRXCHAR, EVRXFLAG, EVTXEMPTY}); // the window's settings
        bool replied = false;
        comm.OnEventCharReceived = [&](QObject*, int n) {
            comm.ReadData(n);
            replied = true;
        };
        if (!comm.OpenComm()) {
            state.SkipWithError("cannot open COM5");
            return;
        }

        double bareSeconds = 0, windowSeconds = 0;
        std::vector<double> roundRatios; // window time over bare time, round by round
        int bareTrips = 0, windowTrips = 0;
        for (int round = 0; round < kRounds; ++round) {
            double start = wallSeconds();
            for (int i = 0; i < kRoundTrips / kRounds; ++i, ++bareTrips) {
                replied = false;
                comm.Purge();
                comm.WriteData("GU532.5\r");
                if (!runUntil([&] { return replied; }))
                    break;
            }
            const double bareRound = wallSeconds() - start;
            bareSeconds += bareRound;
            start = wallSeconds();
            for (int i = 0; i < kRoundTrips / kRounds; ++i, ++windowTrips) {
                w.btnMove1->click();
                if (!runUntil([&] { return !w.panel(0).busy(); }))
                    break;
            }
            const double windowRound = wallSeconds() - start;
            windowSeconds += windowRound;
            roundRatios.push_back(windowRound / bareRound);
        }
        comm.CloseComm();
        std::sort(roundRatios.begin(), roundRatios.end());
        results.medianRoundRatio = roundRatios[roundRatios.size() / 2];
        results.lowRoundRatio = roundRatios.front();
        results.highRoundRatio = roundRatios.back();
        results.bareTripsPerSecond = bareTrips / bareSeconds;
        results.windowTripsPerSecond = windowTrips / windowSeconds;
        state.counters["bare_trips_per_s"] = results.bareTripsPerSecond;
        state.counters["window_trips_per_s"] = results.windowTripsPerSecond;
    }
}

// CPU of the whole process over 10 s: an open, silent serial component, then the connected console.
void BM_IdleCpu(benchmark::State& state) {
    const bool console = state.range(0) == 1;
    for (auto _ : state) {
        if (!console) {
            orvanesim::Simulator sim;
            sim.addController(orvanesim::ControllerConfig::instant(3));
            sim.start();
            ::setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);
            TKivComm comm;
            comm.SetPort(COM03);
            comm.SetEventChar('*');
            comm.SetCommEvents(TCommEvents{EVRXCHAR, EVRXFLAG, EVTXEMPTY});
            comm.SetMonitorInterval(1000);
            comm.OpenComm();
            const double before = cpuMs();
            idleFor(kIdleMs);
            results.idleBareMs = cpuMs() - before;
            comm.CloseComm();
            state.counters["cpu_ms"] = results.idleBareMs;
        } else {
            Console c;
            if (!c.start()) {
                state.SkipWithError("no connection");
                return;
            }
            idleFor(200); // let the greeting's last events settle
            const double before = cpuMs();
            idleFor(kIdleMs);
            results.idleConsoleMs = cpuMs() - before;
            state.counters["cpu_ms"] = results.idleConsoleMs;
        }
    }
}

// CPU of a MOVE that changes the grating, from the click to "Moving Ok" (mostly the 300 ms pause),
// against a plain 300 ms wait of the event loop.
void BM_GratingChangePauseCpu(benchmark::State& state) {
    for (auto _ : state) {
        double before = cpuMs();
        idleFor(300);
        results.pauseBaselineMs = cpuMs() - before;

        Console c;
        if (!c.start()) {
            state.SkipWithError("no connection");
            return;
        }
        TfrmMain& w = *c.main;
        idleFor(200);
        w.rbGrating12->setChecked(true);
        w.txtMoveWavelength1->setText(QStringLiteral("800"));
        const double wallStart = wallSeconds();
        before = cpuMs();
        w.btnMove1->click();
        runUntil([&] { return !w.panel(0).busy(); });
        results.pauseConsoleMs = cpuMs() - before;
        results.pauseWallMs = (wallSeconds() - wallStart) * 1000;
        state.counters["cpu_ms"] = results.pauseConsoleMs;
    }
}

} // namespace

BENCHMARK(BM_MoveRoundTrips)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GratingChangePauseCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    OrvaneApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const Results& r = results;
    std::printf(
        "\nMOVE round trips with a controller that answers at once (%d each, in %d interleaved rounds):\n",
        kRoundTrips, kRounds);
    std::printf("  bare serial component: %9.0f /s\n", r.bareTripsPerSecond);
    std::printf("  whole window path:     %9.0f /s\n", r.windowTripsPerSecond);
    // The median of the rounds' ratios: a hiccup of the machine in one round moves the total, not it.
    std::printf("  window path cost per trip: %.2fx the bare component's, median of %d rounds (goal < 1.10x);"
                " rounds %.2fx to %.2fx, all trips %.2fx\n",
                r.medianRoundRatio, kRounds, r.lowRoundRatio, r.highRoundRatio,
                r.windowTripsPerSecond > 0 ? r.bareTripsPerSecond / r.windowTripsPerSecond : 0.0);
    std::printf(
        "Idle CPU over %d s: open serial component %.2f ms, connected console %.2f ms (goal < 20 ms), "
        "ratio %.2fx\n",
        kIdleMs / 1000, r.idleBareMs, r.idleConsoleMs,
        r.idleBareMs > 0 ? r.idleConsoleMs / r.idleBareMs : 0.0);
    std::printf(
        "Grating-change MOVE (%.0f ms wall): CPU %.2f ms (goal < 10 ms); a plain 300 ms wait %.2f ms, "
        "ratio %.2fx\n",
        r.pauseWallMs, r.pauseConsoleMs, r.pauseBaselineMs,
        r.pauseBaselineMs > 0 ? r.pauseConsoleMs / r.pauseBaselineMs : 0.0);
    return 0;
}
