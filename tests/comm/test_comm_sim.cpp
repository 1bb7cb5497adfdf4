// The component against the controller simulator: the protocol's replies, fault modes, many open/close
// cycles, and the simulator program itself.
#include "CommTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct SimFixture : testing::Test {
    orvanesim::Simulator sim;
    void startWith(std::vector<orvanesim::ControllerConfig> configs) {
        for (const auto& c : configs)
            sim.addController(c);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ORVANE_PORT_DIR");
        sim.stop();
    }
};

// One command and its reply, as the console's reply dispatcher reads it.
struct Exchange {
    TKivComm comm;
    std::vector<QByteArray> replies;
    int received = 0;
    std::atomic<int> messages{0};
    explicit Exchange(TPort port) {
        comm.SetPort(port);
        comm.SetEventChar('*');
        comm.OnEventCharReceived = [this](QObject*, int n) { replies.push_back(comm.ReadData(n)); };
        comm.OnReceived = [this](QObject*, int) { ++received; };
        comm.OnMessage = [this](QObject*, const QString&) { ++messages; };
    }
    QByteArray ask(const QByteArray& command, int ms = 5000) {
        std::size_t before = replies.size();
        comm.Purge();
        comm.WriteData(command + '\r');
        if (!waitUntil([&] { return replies.size() > before; }, ms))
            return {};
        return replies.back();
    }
};

TEST_F(SimFixture, ControllerAnswersTheConsolesCommands) {
    auto c = orvanesim::ControllerConfig::instant(3);
    c.name = "SPECTRO-A";
    c.gratings = {{1200, 500}, {600, 1000}, {300, 2000}};
    startWith({c});
    Exchange x(COM03);
    ASSERT_TRUE(x.comm.OpenComm());
    EXPECT_EQ(x.ask("IA"), "ST=0/GR=1/MD=0/WL=500/BS=0/*");
    QByteArray info = x.ask("IB");
    QList<QByteArray> tokens = info.split('/');
    ASSERT_EQ(tokens.size(), 5 + 3 * 11 + 1);
    EXPECT_EQ(tokens[0], "NM=SPECTRO-A");
    EXPECT_EQ(tokens[3], "NG=3");
    EXPECT_EQ(tokens[5 + 11 * 2 + 2], "G3G=300");
    EXPECT_EQ(tokens[5 + 11 * 1 + 3], "G2Z=1000nm");
    EXPECT_EQ(tokens.last(), "*");
    EXPECT_EQ(x.ask("GU532.5"), "GU=OK/WL=532.5/*");
    EXPECT_EQ(x.ask("GS3"), "GS=OK/GR=3/*");
    EXPECT_EQ(x.ask("IA"), "ST=0/GR=3/MD=0/WL=532.5/BS=0/*");
    EXPECT_EQ(x.ask("GA"), "GA=OK/*");
    EXPECT_EQ(x.ask("IA"), "ST=0/GR=3/MD=0/WL=500/BS=0/*");
    EXPECT_EQ(x.ask("GX"), "GX=OK/*");
    EXPECT_EQ(sim.commandCount(3), 8);

    // The controller keeps its line while the console closes and reopens the port.
    x.comm.CloseComm();
    ASSERT_TRUE(x.comm.OpenComm());
    EXPECT_EQ(x.ask("GU600"), "GU=OK/WL=600/*");
}

TEST_F(SimFixture, LineRateAndMoveTimeDelayTheReply) {
    orvanesim::ControllerConfig c; // 9600 baud
    c.comNumber = 5;
    c.nmPerSecond = 1000;
    startWith({c});
    Exchange x(COM05);
    ASSERT_TRUE(x.comm.OpenComm());
    QElapsedTimer clock;
    clock.start();
    QByteArray reply = x.ask("GU600"); // 100 nm at 1000 nm/s, plus 6 bytes in and 16 out at ~1.04 ms
    qint64 elapsed = clock.elapsed();
    EXPECT_EQ(reply, "GU=OK/WL=600/*");
    EXPECT_GE(elapsed, 100 + 20) << "replies cannot come faster than the line and the drive";
}

TEST_F(SimFixture, FaultModesReachTheComponentAsTheyWould) {
    auto split = orvanesim::ControllerConfig::instant(1);
    split.splitPieces = 3;
    split.splitGapMs = 20;
    auto garbage = orvanesim::ControllerConfig::instant(2);
    garbage.garbageBytes = 5;
    auto noStar = orvanesim::ControllerConfig::instant(3);
    noStar.noTerminator = true;
    auto silent = orvanesim::ControllerConfig::instant(4);
    silent.silent = true;
    auto hangup = orvanesim::ControllerConfig::instant(5);
    hangup.hangupAfter = 2;
    startWith({split, garbage, noStar, silent, hangup});

    Exchange a(COM01), b(COM02), c(COM03), d(COM04), e(COM05);
    for (Exchange* x : {&a, &b, &c, &d, &e})
        ASSERT_TRUE(x->comm.OpenComm());

    // Pieces are gathered until the "*": one reply event, the whole text.
    EXPECT_EQ(a.ask("IA"), "ST=0/GR=1/MD=0/WL=500/BS=0/*");
    EXPECT_EQ(a.replies.size(), 1u);
    EXPECT_GE(a.received, 2);

    QByteArray noisy = b.ask("IA");
    EXPECT_EQ(noisy.size(), 5 + 28);
    EXPECT_TRUE(noisy.endsWith("ST=0/GR=1/MD=0/WL=500/BS=0/*"));

    // Without the "*" the bytes arrive but no reply is announced.
    c.comm.WriteData("IA\r");
    ASSERT_TRUE(waitUntil([&] { return c.comm.InQueueCount() == 27; }));
    EXPECT_TRUE(c.replies.empty());

    d.comm.WriteData("IA\r");
    ASSERT_TRUE(waitUntil([&] { return sim.commandCount(4) == 1; }));
    drainEvents(50);
    EXPECT_EQ(d.received, 0);

    EXPECT_EQ(e.ask("IA"), "ST=0/GR=1/MD=0/WL=500/BS=0/*");
    e.comm.WriteData("IA\r");
    ASSERT_TRUE(waitUntil([&] { return e.messages.load() == 1; }));
    EXPECT_TRUE(e.comm.CloseComm());
    EXPECT_FALSE(e.comm.OpenComm()) << "the hung-up line is gone";
}

TEST_F(SimFixture, ThousandOpenCloseCyclesWithTrafficLeaveNothingBehind) {
    startWith({orvanesim::ControllerConfig::instant(3)});
    int fdsBefore = openFdCount();
    int threadsBefore = threadCount();
    Exchange x(COM03);
    int answered = 0;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(x.comm.OpenComm()) << i;
        if (x.ask("IA") == "ST=0/GR=1/MD=0/WL=500/BS=0/*")
            ++answered;
        ASSERT_TRUE(x.comm.CloseComm());
    }
    EXPECT_EQ(answered, 1000);
    EXPECT_EQ(openFdCount(), fdsBefore);
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(SimProgram, RunsAsAProcessAndPrintsItsPortFolder) {
    orvanesim::SimProcess proc(ORVANE_SIM_PROGRAM, {"--baud", "0", "--speed", "0", "--name", "PROC"});
    ASSERT_TRUE(proc.running());
    setenv("ORVANE_PORT_DIR", proc.portDir().c_str(), 1);
    Exchange spectrograph2(COM05);
    ASSERT_TRUE(spectrograph2.comm.OpenComm());
    EXPECT_TRUE(spectrograph2.ask("IB").startsWith("NM=PROC/"));
    Exchange spectrograph1(COM03);
    ASSERT_TRUE(spectrograph1.comm.OpenComm());
    EXPECT_EQ(spectrograph1.ask("GU510"), "GU=OK/WL=510/*");
    unsetenv("ORVANE_PORT_DIR");
}

} // namespace
