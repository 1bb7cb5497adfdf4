// How much a channel write costs on its way to a bound control, and how the name index compares with a
// plain QHash lookup; each against a baseline measured in the same run, printed as ratios at the end.
#include "KivDataServer.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QHash>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr int channelCount = 10000;

// A bound control that only counts the value messages it receives.
class CountingClient : public QObject {
public:
    long long received = 0;

protected:
    bool event(QEvent* e) override {
        if (e->type() == CM_CHANNELVALUE) {
            ++received;
            return true;
        }
        return QObject::event(e);
    }
};

void BM_ChannelWriteToClient(benchmark::State& state) {
    TKivCustomDataServer server;
    TKivChannel* channel = server.Channels()->Add();
    CountingClient client;
    channel->AddClient(&client);
    qint32 value = 0;
    for (auto _ : state)
        channel->SetAsInteger(++value);
    benchmark::DoNotOptimize(client.received);
    if (client.received != state.iterations() + 1)
        state.SkipWithError("the client missed notifications");
}
BENCHMARK(BM_ChannelWriteToClient);

// The least any notification costs: the one synchronous message to the control.
void BM_SendEventBaseline(benchmark::State& state) {
    TKivCustomDataServer server;
    TKivChannel* channel = server.Channels()->Add();
    CountingClient client;
    for (auto _ : state) {
        ChannelMessage message(CM_CHANNELVALUE, &server, channel);
        QCoreApplication::sendEvent(&client, &message);
    }
    benchmark::DoNotOptimize(client.received);
}
BENCHMARK(BM_SendEventBaseline);

// The keys a lookup is asked for are copies, as a widget's channel name would be: sharing the stored
// strings would let the baseline compare a string with itself.
QList<QString> deepCopies(const QList<QString>& Names) {
    QList<QString> copies;
    for (const QString& name : Names)
        copies.append(QString(name.constData(), name.size()));
    return copies;
}

QList<QString> channelNames() {
    QList<QString> names;
    names.reserve(channelCount);
    for (int i = 0; i < channelCount; ++i)
        names.append(QStringLiteral("Spectrograph%1.Channel%2").arg(i % 2 + 1).arg(i));
    return names;
}

void BM_NameIndexLookup(benchmark::State& state) {
    const QList<QString> names = channelNames();
    TKivCustomDataServer server;
    for (const QString& name : names)
        server.Channels()->Add()->SetName(name);
    server.Loaded();
    const QList<QString> keys = deepCopies(names);
    qsizetype i = 0;
    long long found = 0;
    for (auto _ : state) {
        found += server.Channels()->IndexOf(keys[i]) >= 0;
        i = (i + 7919) % channelCount; // a prime stride, so the keys do not come in bucket order
    }
    benchmark::DoNotOptimize(found);
    if (found != state.iterations())
        state.SkipWithError("a channel was not found");
}
BENCHMARK(BM_NameIndexLookup);

void BM_QHashLookup(benchmark::State& state) {
    const QList<QString> names = channelNames();
    TKivCustomDataServer server;
    QHash<QString, TKivChannel*> hash;
    for (const QString& name : names) {
        TKivChannel* channel = server.Channels()->Add();
        channel->SetName(name);
        hash.insert(name, channel);
    }
    const QList<QString> keys = deepCopies(names);
    qsizetype i = 0;
    long long found = 0;
    for (auto _ : state) {
        found += hash.value(keys[i]) != nullptr;
        i = (i + 7919) % channelCount;
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_QHashLookup);

// Keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> nanoseconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                nanoseconds[run.benchmark_name()] = run.GetAdjustedRealTime() *
                                                    benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                                                    benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
};

void printRatio(const RatioReporter& r, const char* measured, const char* baseline, const char* goal) {
    const auto m = r.nanoseconds.find(measured);
    const auto b = r.nanoseconds.find(baseline);
    if (m == r.nanoseconds.end() || b == r.nanoseconds.end() || b->second <= 0)
        return;
    std::printf("%-26s / %-22s = %6.2f  (%s)\n", measured, baseline, m->second / b->second, goal);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // sendEvent delivers nothing without an application object
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    printRatio(reporter, "BM_NameIndexLookup", "BM_QHashLookup", "goal: within 2");
    printRatio(reporter, "BM_ChannelWriteToClient", "BM_SendEventBaseline", "for information");
    benchmark::Shutdown();
    return 0;
}
