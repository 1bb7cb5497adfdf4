// Opening, closing, line settings, exclusive access, writing and reading exact bytes.
#include "CommTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

TEST(CommPort, NamesResolveThroughThePortFolderOrTheMachinesSerialDevices) {
    TKivComm comm;
    EXPECT_EQ(comm.PortName(), "COM1");
    comm.SetPort(COM10);
    EXPECT_EQ(comm.PortName(), "COM10");
    {
        PortDir dir;
        EXPECT_EQ(TKivCustomComm::DeviceForPort("COM7"), dir.path() + "/COM7");
    }
    EXPECT_EQ(TKivCustomComm::DeviceForPort("LPT1"), "");
    std::string first = TKivCustomComm::DeviceForPort("COM1");
    EXPECT_TRUE(first.empty() || first.rfind("/dev/tty", 0) == 0) << first;
    EXPECT_EQ(TKivCustomComm::DeviceForPort("COM32"), TKivCustomComm::DeviceForPort("COM32"));
}

TEST(CommPort, OpenCloseReopenRaiseStatusAndRefuseTwice) {
    PortDir dir;
    RawPty pty(dir.path(), 4);
    TKivComm comm;
    EventLog log;
    log.attach(comm);
    comm.SetPort(COM04);

    EXPECT_TRUE(comm.CloseComm()) << "closing a closed port succeeds";
    ASSERT_TRUE(comm.OpenComm());
    EXPECT_TRUE(comm.PortOpened());
    EXPECT_FALSE(comm.OpenComm()) << "a second open changes nothing";
    EXPECT_TRUE(comm.PortOpened());
    EXPECT_FALSE(comm.SetDTR(true)) << "a pseudo-terminal has no modem lines";
    EXPECT_TRUE(comm.PortOpened());
    EXPECT_TRUE(comm.CloseComm());
    EXPECT_FALSE(comm.PortOpened());
    EXPECT_TRUE(comm.CloseComm());
    ASSERT_TRUE(comm.OpenComm()) << "reopen";
    EXPECT_TRUE(comm.CloseComm());
    EXPECT_EQ(log.kinds(), "OOOO");
    EXPECT_EQ(log.entries[0].value, 1);
    EXPECT_EQ(log.entries[1].value, 0);
    EXPECT_TRUE(log.errors.empty());

    // A missing port reports the system's text and stays closed.
    comm.SetPort(COM09);
    EXPECT_FALSE(comm.OpenComm());
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.errors[0].first, ENOENT);
    EXPECT_EQ(log.errors[0].second, QString::fromLocal8Bit(strerror(ENOENT)));
    EXPECT_FALSE(comm.PortOpened());

    // Something that is not a terminal at all.
    std::string plain = dir.path() + "/COM8";
    close(open(plain.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    comm.SetPort(COM08);
    int fds = openFdCount();
    EXPECT_FALSE(comm.OpenComm());
    EXPECT_EQ(log.errors.back().second, "GetCommState Fail");
    EXPECT_EQ(log.errors.back().first, ENOTTY);
    EXPECT_EQ(openFdCount(), fds) << "the failed open closed what it had opened";
    EXPECT_FALSE(comm.PortOpened());
}

TEST(CommPort, SecondComponentCannotOpenAHeldPort) {
    PortDir dir;
    RawPty pty(dir.path(), 3);
    TKivComm first, second;
    EventLog log1, log2;
    log1.attach(first);
    log2.attach(second);
    first.SetPort(COM03);
    second.SetPort(COM03);
    ASSERT_TRUE(first.OpenComm());
    EXPECT_FALSE(second.OpenComm());
    ASSERT_EQ(log2.errors.size(), 1u);
    EXPECT_EQ(log2.errors[0].first, EBUSY);
    EXPECT_EQ(log2.errors[0].second, QString::fromLocal8Bit(strerror(EBUSY)));
    EXPECT_FALSE(second.PortOpened());
    first.CloseComm();
    EXPECT_TRUE(second.OpenComm()) << "free again once the holder closed it";
}

TEST(CommPort, LineSettingsAreCheckedByReadingThemBack) {
    PortDir dir;
    RawPty pty(dir.path(), 1);
    TKivComm comm;
    EventLog log;
    log.attach(comm);
    // Rates without a classic constant go through the arbitrary-rate interface.
    for (TBaudRate rate : {__14400, __56000, _128000, _256000, _115200}) {
        comm.SetBaudRate(rate);
        EXPECT_TRUE(comm.OpenComm()) << int(rate);
        comm.CloseComm();
    }
    EXPECT_TRUE(log.errors.empty());

    // Changing a line setting while open reopens the port.
    ASSERT_TRUE(comm.OpenComm());
    log.entries.clear();
    comm.SetBaudRate(___9600);
    EXPECT_EQ(log.kinds(), "OO");
    EXPECT_TRUE(comm.PortOpened());
    comm.CloseComm();

    // A pseudo-terminal refuses parity; nobody can do 1.5 stop bits here.
    comm.SetParity(EVEN);
    EXPECT_FALSE(comm.OpenComm());
    ASSERT_FALSE(log.errors.empty());
    EXPECT_EQ(log.errors.back().second, "SetCommState Fail");
    EXPECT_FALSE(comm.PortOpened());
    comm.SetParity(NONE);
    comm.SetStopBits(_1_5);
    EXPECT_FALSE(comm.OpenComm());
    EXPECT_EQ(log.errors.back().second, "SetCommState Fail");
    comm.SetStopBits(_2);
    EXPECT_TRUE(comm.OpenComm()) << "the failed opens left the component usable";
}

TEST(CommPort, WriteSendsUpToTheFirstZeroByteWhateverTheLength) {
    PortDir dir;
    RawPty pty(dir.path(), 1);
    TKivComm comm;
    EventLog log;
    log.attach(comm);
    EXPECT_FALSE(comm.WriteData("IA\r")) << "nothing is sent before open";
    EXPECT_TRUE(log.entries.empty());
    ASSERT_TRUE(comm.OpenComm());
    log.entries.clear();

    EXPECT_TRUE(comm.WriteData(QByteArray("GU5\0GX\r", 7)));
    EXPECT_EQ(log.kinds().substr(0, 2), "TT");
    EXPECT_TRUE(comm.WriteData(QByteArray()));
    EXPECT_TRUE(comm.WriteData("|"));
    EXPECT_EQ(pty.receive(4), "GU5|");

    // Far beyond the original 1024-byte buffer, and every byte value but zero.
    QByteArray big;
    for (int i = 0; i < 6000; ++i)
        big.append(char(1 + i % 255));
    EXPECT_TRUE(comm.WriteData(big));
    std::string got = pty.receive(std::size_t(big.size()));
    EXPECT_EQ(got, big.toStdString());

    // Each finished write also announces an empty transmit queue.
    EXPECT_TRUE(waitUntil([&] { return log.count('C') >= 1; }));
    for (const auto& e : log.entries) {
        if (e.kind == 'C') {
            EXPECT_EQ(e.value, 4);
        }
    }
}

TEST(CommPort, ReadReturnsExactBytesWithoutAFixedLimit) {
    PortDir dir;
    RawPty pty(dir.path(), 1);
    TKivComm comm;
    comm.SetDiscardNull(false);
    comm.SetMaxInQueue(8192);
    ASSERT_TRUE(comm.OpenComm());
    EXPECT_EQ(comm.ReadData(0), QByteArray());

    std::string all;
    for (int i = 0; i < 3000; ++i)
        all += char(i % 256);
    pty.send(all);
    ASSERT_TRUE(waitUntil([&] { return comm.InQueueCount() >= all.size(); }));
    QByteArray got = comm.ReadData(3000);
    EXPECT_EQ(got.size(), 3000);
    EXPECT_EQ(got.toStdString(), all);
    EXPECT_EQ(comm.InQueueCount(), 0u);
}

TEST(CommPort, NullBytesAreDroppedWhenAsked) {
    PortDir dir;
    RawPty pty(dir.path(), 1);
    TKivComm comm;
    ASSERT_TRUE(comm.DiscardNull());
    ASSERT_TRUE(comm.OpenComm());
    QByteArray got;
    comm.OnReceived = [&](QObject*, int n) { got += comm.ReadData(n); };
    pty.send(std::string("a\0b\0\0c", 6));
    ASSERT_TRUE(waitUntil([&] { return got.size() >= 3; }));
    EXPECT_EQ(got, "abc");
}

TEST(CommPort, MonitorTimerRunsOnlyWhenSwitchedOnWhileOpen) {
    struct Counting : TKivComm {
        int ticks = 0;
        void MonitorTick() override { ++ticks; }
    };
    PortDir dir;
    RawPty pty(dir.path(), 1);
    Counting comm;
    comm.SetMonitor(true);
    EXPECT_FALSE(comm.Monitor()) << "ignored while closed";
    ASSERT_TRUE(comm.OpenComm());
    EXPECT_FALSE(comm.Monitor());
    comm.SetMonitorInterval(5);
    comm.SetMonitor(true);
    EXPECT_TRUE(waitUntil([&] { return comm.ticks >= 3; }));
}

} // namespace
