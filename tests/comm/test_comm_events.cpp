// The receive thread: framing on the event character, event order, purge, overflow, close, device loss.
#include "CommTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace KivCommBits;

namespace {

// A component on an open pseudo-terminal, its events logged from the open on.
class CommEvents : public ::testing::Test {
protected:
    void open(bool ReadInFlagHandler = true) {
        comm.SetPort(COM02);
        log.readInFlagHandler = ReadInFlagHandler;
        log.attach(comm);
        ASSERT_TRUE(comm.OpenComm());
        log.entries.clear();
    }
    PortDir dir;
    RawPty pty{dir.path(), 2};
    TKivComm comm;
    EventLog log; // detaches before the component goes
};

TEST_F(CommEvents, ReplyEndingInTheEventCharIsAnnouncedWithItsWholeLength) {
    comm.SetEventChar('*');
    open();

    const std::string reply = "ST=0/GR=2/MD=0/WL=532.5/BS=0/*";
    pty.send(reply);
    ASSERT_TRUE(waitUntil([&] { return log.count('R') >= 1; }));
    // One wake-up: the event-character handler first, with the reply's length, then OnReceived with what it
    // left (nothing), each followed by its OnCommEvents.
    ASSERT_EQ(log.kinds(), "FCRC");
    EXPECT_EQ(log.entries[0].value, long(reply.size()));
    EXPECT_EQ(log.entries[1].value, long(EV_RXFLAG));
    EXPECT_EQ(log.entries[2].value, 0);
    EXPECT_EQ(log.entries[3].value, long(EV_RXCHAR));
    for (const auto& e : log.entries)
        EXPECT_TRUE(e.onGuiThread);
    EXPECT_EQ(log.readByHandler.toStdString(), reply);
}

TEST_F(CommEvents, AWriteAnnouncesTheEmptyOutputQueueToOnCommEvents) {
    comm.SetCommEvents(TCommEvents{EVRXCHAR, EVRXFLAG, EVTXEMPTY});
    open();

    ASSERT_TRUE(comm.WriteData("IA\r"));
    ASSERT_TRUE(waitUntil([&] { return log.count('C') >= 1; }));
    EXPECT_EQ(log.entries.back().value, long(EV_TXEMPTY));
    EXPECT_TRUE(log.entries.back().onGuiThread);
    EXPECT_EQ(pty.receive(3), "IA\r");
}

TEST_F(CommEvents, BytesWithoutTheEventCharRaiseOnlyOnReceived) {
    comm.SetEventChar('*');
    open();

    pty.send("ST=0/GR");
    ASSERT_TRUE(waitUntil([&] { return log.count('R') >= 1; }));
    EXPECT_EQ(log.count('F'), 0);
    EXPECT_EQ(log.entries[0].value, 7);
    // The rest of the reply completes it: now the whole text is announced.
    pty.send("=1/*");
    ASSERT_TRUE(waitUntil([&] { return log.count('F') == 1; }));
    EXPECT_EQ(log.readByHandler, "ST=0/GR=1/*");
}

TEST_F(CommEvents, PurgeDiscardsWhatNobodyRead) {
    comm.SetEventChar('*');
    open(false);

    pty.send("old reply*");
    ASSERT_TRUE(waitUntil([&] { return log.count('F') == 1; }));
    EXPECT_EQ(comm.InQueueCount(), 10u);
    comm.Purge();
    EXPECT_EQ(comm.InQueueCount(), 0u);
    log.readInFlagHandler = true;
    pty.send("new*");
    ASSERT_TRUE(waitUntil([&] { return log.count('F') == 2; }));
    EXPECT_EQ(log.readByHandler, "new*");
}

TEST_F(CommEvents, InputQueueOverflowIsCountedAndReportedNeverWrittenPast) {
    comm.SetMaxInQueue(16);
    open(false);

    pty.send(std::string(40, 'x'));
    ASSERT_TRUE(waitUntil([&] { return !log.errors.empty(); }));
    EXPECT_EQ(log.errors[0].first, int(CE_RXOVER));
    EXPECT_TRUE(log.errors[0].second.startsWith("An input buffer overflow has occurred."));
    EXPECT_EQ(comm.RxOverflowCount(), 24u);
    EXPECT_EQ(comm.InQueueCount(), 16u);
    EXPECT_EQ(comm.ReadData(100), QByteArray(16, 'x'));
}

TEST(CommClose, DispatchQueuedBeforeCloseRaisesNothing) {
    PortDir dir;
    RawPty pty(dir.path(), 2);
    for (bool destroy : {false, true}) {
        auto* comm = new TKivComm;
        comm->SetPort(COM02);
        comm->SetEventChar('*');
        EventLog log;
        log.attach(*comm);
        ASSERT_TRUE(comm->OpenComm());
        log.entries.clear();
        pty.send("GU=OK/WL=500/*");
        // The GUI thread does not run its loop here, so the hand-off can only be posted, not run.
        for (int i = 0; i < 200 && comm->InQueueCount() < 14; ++i)
            usleep(1000);
        usleep(20000); // give the receive thread time to post its dispatch
        if (destroy)
            delete comm;
        else
            comm->CloseComm();
        drainEvents(50);
        EXPECT_EQ(log.count('F') + log.count('R') + log.count('C'), 0) << "destroy=" << destroy;
        if (!destroy)
            delete comm;
        log.attached = nullptr;
    }
}

TEST(CommClose, CloseOrDestroyFromInsideAHandlerIsSafe) {
    PortDir dir;
    RawPty pty(dir.path(), 2);
    {
        TKivComm comm;
        comm.SetPort(COM02);
        comm.SetEventChar('*');
        int received = 0, flagged = 0;
        comm.OnEventCharReceived = [&](QObject*, int) {
            ++flagged;
            comm.CloseComm();
        };
        comm.OnReceived = [&](QObject*, int) { ++received; };
        ASSERT_TRUE(comm.OpenComm());
        pty.send("a*");
        ASSERT_TRUE(waitUntil([&] { return flagged == 1; }));
        drainEvents(20);
        EXPECT_EQ(received, 0) << "nothing is raised after the close";
        EXPECT_FALSE(comm.PortOpened());
    }
    {
        auto* comm = new TKivComm;
        comm->SetPort(COM02);
        comm->SetEventChar('*');
        bool deleted = false;
        comm->OnEventCharReceived = [&](QObject*, int) {
            delete comm;
            deleted = true;
        };
        ASSERT_TRUE(comm->OpenComm());
        pty.send("b*");
        ASSERT_TRUE(waitUntil([&] { return deleted; }));
        drainEvents(20);
    }
}

TEST(CommClose, DeviceLossIsReportedOnceWithoutSpinning) {
    PortDir dir;
    RawPty pty(dir.path(), 2);
    TKivComm comm;
    comm.SetPort(COM02);
    std::atomic<int> messages{0};
    std::atomic<bool> onReaderThread{false};
    QString text;
    std::mutex textLock;
    comm.OnMessage = [&](QObject*, const QString& msg) {
        std::lock_guard lock(textLock);
        text = msg;
        onReaderThread = QThread::currentThread() != QCoreApplication::instance()->thread();
        ++messages;
    };
    int received = 0;
    comm.OnReceived = [&](QObject*, int) { ++received; };
    ASSERT_TRUE(comm.OpenComm());
    pty.send("partial");
    ASSERT_TRUE(waitUntil([&] { return received == 1; }));

    pty.hangup();
    ASSERT_TRUE(waitUntil([&] { return messages.load() == 1; }));
    EXPECT_TRUE(onReaderThread.load());
    {
        std::lock_guard lock(textLock);
        EXPECT_EQ(text, QString::fromLocal8Bit(strerror(EIO)));
    }
    // A dead descriptor polls ready for ever: the component must stop watching it.
    double cpuBefore = processCpuMs();
    drainEvents(300);
    double cpu = processCpuMs() - cpuBefore;
    EXPECT_LT(cpu, 100.0) << "the process burnt CPU after the hang-up";
    EXPECT_EQ(messages.load(), 1);
    EXPECT_EQ(received, 1);

    EventLog log;
    log.attach(comm);
    EXPECT_FALSE(comm.WriteData("IA\r"));
    ASSERT_FALSE(log.errors.empty());
    EXPECT_EQ(log.errors[0].first, int(CE_IOE));
    EXPECT_TRUE(comm.CloseComm());

    // Plugged in again (a new line under the same name): the port opens and works.
    RawPty again(dir.path(), 2);
    ASSERT_TRUE(comm.OpenComm());
    EXPECT_TRUE(comm.WriteData("IA\r"));
    EXPECT_EQ(again.receive(3), "IA\r");
}

// Destroying components at every point of their life while a controller floods them: no deadlock, no use of
// freed memory (run under ASan and TSan), nothing left behind.
TEST(CommShutdown, DestroyWhileWaitingOrMidHandOffUnderTraffic) {
    PortDir dir;
    RawPty pty(dir.path(), 2);
    {
        TKivComm warmUp; // the first open may start helper threads of the runtime (ThreadSanitizer's own)
        warmUp.SetPort(COM02);
        ASSERT_TRUE(warmUp.OpenComm());
    }
    int fdsBefore = openFdCount();
    int threadsBefore = threadCount();
    std::atomic<bool> flood{true};
    std::thread writer([&] {
        while (flood) {
            ssize_t n = ::write(pty.master, "xy*", 3);
            if (n <= 0)
                usleep(200);
        }
    });
    for (int i = 0; i < 300; ++i) {
        auto* comm = new TKivComm;
        comm->SetPort(COM02);
        comm->SetEventChar('*');
        int mode = i % 4;
        int seen = 0;
        comm->OnEventCharReceived = [&, comm](QObject*, int n) {
            ++seen;
            if (mode == 1)
                comm->ReadData(n);
            if (mode == 2 && seen > 2)
                comm->Purge();
        };
        ASSERT_TRUE(comm->OpenComm());
        if (mode != 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, i % 3);
        if (mode == 3)
            comm->CloseComm();
        delete comm; // waiting in poll, parked on its hand-off, or closed already
    }
    flood = false;
    writer.join();
    drainEvents(20);
    EXPECT_EQ(openFdCount(), fdsBefore + 0);
    EXPECT_EQ(threadCount(), threadsBefore);
}

} // namespace
