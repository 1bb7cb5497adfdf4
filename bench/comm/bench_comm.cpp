// The serial component against a bare pseudo-terminal read loop in the same run: reply latency, idle cost of
// an open port, and a 1 MB stream. Prints the figures and their ratios.
#include "KivComm.h"
#include "OrvaneSim.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExchanges = 10000;

long long nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Stats {
    double medianUs = 0, p99Us = 0;
};
Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return {};
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

struct Results {
    Stats bare, comm;
    double idleBaselineMs = 0, idleOpenMs = 0;
    double bareMBs = 0, commMBs = 0;
    bool streamIntact = false;
    std::uint64_t overflow = 0;
} results;

// Latency from the simulator writing the final "*" to the reader seeing it: a bare poll/read loop on the
// pseudo-terminal, then the component's GUI-thread OnEventCharReceived handler.
void BM_ReplyLatency(benchmark::State& state) {
    bool useComm = state.range(0) == 1;
    for (auto _ : state) {
        orvanesim::Simulator sim;
        sim.addController(orvanesim::ControllerConfig::instant(3));
        std::atomic<long long> replyEnd{0};
        sim.onReplyEnd = [&](int, long long ns) { replyEnd = ns; };
        sim.start();
        std::vector<double> lat;
        lat.reserve(kExchanges);
        if (!useComm) {
            int fd = ::open(sim.portPath(3).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            char buf[256];
            for (int i = 0; i < kExchanges; ++i) {
                ssize_t w = ::write(fd, "IA\r", 3);
                (void)w;
                for (;;) {
                    pollfd p{fd, POLLIN, 0};
                    ::poll(&p, 1, -1);
                    ssize_t n = ::read(fd, buf, sizeof buf);
                    if (n > 0 && buf[n - 1] == '*')
                        break;
                }
                lat.push_back((nowNs() - replyEnd.load()) / 1e3);
            }
            ::close(fd);
            results.bare = stats(lat);
        } else {
            setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);
            TKivComm comm;
            comm.SetPort(COM03);
            comm.SetEventChar('*');
            comm.SetCommEvents(
                {EVRXCHAR, EVRXFLAG}); // the write-complete event would add a hand-off per command
            comm.OnEventCharReceived = [&](QObject*, int n) {
                lat.push_back((nowNs() - replyEnd.load()) / 1e3);
                comm.ReadData(n);
                if (int(lat.size()) < kExchanges)
                    comm.WriteData("IA\r");
            };
            comm.OpenComm();
            comm.WriteData("IA\r");
            while (int(lat.size()) < kExchanges)
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            comm.CloseComm();
            results.comm = stats(lat);
        }
        Stats s = stats(lat);
        state.counters["median_us"] = s.medianUs;
        state.counters["p99_us"] = s.p99Us;
    }
}

// CPU time of the whole process over 10 s with the GUI loop waiting: no port, then one open, silent port.
void BM_IdleCost(benchmark::State& state) {
    bool open = state.range(0) == 1;
    for (auto _ : state) {
        int master = -1, slave = -1;
        char name[128] = {};
        ::openpty(&master, &slave, name, nullptr, nullptr);
        char dir[] = "/tmp/orvane-bench-XXXXXX";
        ::mkdtemp(dir);
        std::string link = std::string(dir) + "/COM1";
        ::symlink(name, link.c_str());
        setenv("ORVANE_PORT_DIR", dir, 1);
        TKivComm comm;
        if (open)
            comm.OpenComm();
        double before = cpuMs();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        double used = cpuMs() - before;
        comm.CloseComm();
        ::unlink(link.c_str());
        ::rmdir(dir);
        ::close(master);
        ::close(slave);
        (open ? results.idleOpenMs : results.idleBaselineMs) = used;
        state.counters["cpu_ms"] = used;
    }
}

// 1 MB written into the line as fast as a pseudo-terminal takes it; the reader must get every byte in order.
void BM_Stream(benchmark::State& state) {
    bool useComm = state.range(0) == 1;
    constexpr std::size_t kSize = 1 << 20;
    std::string data(kSize, '\0');
    for (std::size_t i = 0; i < kSize; ++i)
        data[i] = char('A' + (i * 7 + i / 251) % 26);
    for (auto _ : state) {
        int master = -1, slave = -1;
        char name[128] = {};
        termios raw{};
        cfmakeraw(&raw);
        ::openpty(&master, &slave, name, &raw, nullptr);
        std::string got;
        got.reserve(kSize);
        long long start = 0, end = 0;
        if (!useComm) {
            int fd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
            start = nowNs();
            std::thread writer([&] {
                for (std::size_t off = 0; off < kSize;) {
                    ssize_t n = ::write(master, data.data() + off, kSize - off);
                    if (n > 0)
                        off += std::size_t(n);
                }
            });
            char buf[65536];
            while (got.size() < kSize) {
                ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, std::size_t(n));
            }
            end = nowNs();
            writer.join();
            ::close(fd);
        } else {
            char dir[] = "/tmp/orvane-bench-XXXXXX";
            ::mkdtemp(dir);
            std::string link = std::string(dir) + "/COM1";
            ::symlink(name, link.c_str());
            setenv("ORVANE_PORT_DIR", dir, 1);
            TKivComm comm;
            comm.SetEventChar('*');
            auto take = [&](QObject*, int n) { got += comm.ReadData(n).toStdString(); };
            comm.OnReceived = take;
            comm.OnEventCharReceived = take;
            comm.OpenComm();
            start = nowNs();
            std::thread writer([&] {
                for (std::size_t off = 0; off < kSize;) {
                    ssize_t n = ::write(master, data.data() + off, kSize - off);
                    if (n > 0)
                        off += std::size_t(n);
                }
            });
            while (got.size() < kSize && nowNs() - start < 60'000'000'000LL)
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            end = nowNs();
            writer.join();
            results.overflow = comm.RxOverflowCount();
            comm.CloseComm();
            ::unlink(link.c_str());
            ::rmdir(dir);
            results.streamIntact = got == data;
        }
        double mbs = kSize / 1048576.0 / ((end - start) / 1e9);
        (useComm ? results.commMBs : results.bareMBs) = mbs;
        state.counters["MB_per_s"] = mbs;
        ::close(master);
        ::close(slave);
    }
}

} // namespace

BENCHMARK(BM_ReplyLatency)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCost)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stream)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto& r = results;
    std::printf("\nReply latency over %d exchanges (simulator writes \"*\" -> reader sees it):\n",
                kExchanges);
    std::printf("  bare pty read loop:         median %8.1f us   p99 %8.1f us\n", r.bare.medianUs,
                r.bare.p99Us);
    std::printf("  TKivComm GUI-thread handler: median %8.1f us   p99 %8.1f us\n", r.comm.medianUs,
                r.comm.p99Us);
    std::printf(
        "  added by the component:      median %8.1f us   p99 %8.1f us (goal < 500 us)   ratio p99 %.2fx\n",
        r.comm.medianUs - r.bare.medianUs, r.comm.p99Us - r.bare.p99Us,
        r.bare.p99Us > 0 ? r.comm.p99Us / r.bare.p99Us : 0.0);
    std::printf(
        "Idle CPU over 10 s: no port %.2f ms, open silent port %.2f ms (goal < 10 ms), added %.2f ms\n",
        r.idleBaselineMs, r.idleOpenMs, r.idleOpenMs - r.idleBaselineMs);
    std::printf(
        "1 MB stream: bare %.1f MB/s, TKivComm %.1f MB/s (ratio %.2f), intact %s, overflow %llu bytes\n",
        r.bareMBs, r.commMBs, r.bareMBs > 0 ? r.commMBs / r.bareMBs : 0.0, r.streamIntact ? "yes" : "NO",
        (unsigned long long)r.overflow);
    return 0;
}
