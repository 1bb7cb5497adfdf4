// Signals at exit: SIGTERM, SIGINT and SIGHUP close the console the normal way, so the port is closed and
// every buffered log line written. The drill runs the console in a child process, as a logout would find it.
#include "ConsoleWindows.h"
#include "KivCommon.h"
#include "KivLED.h"
#include "KivLEDBtn.h"
#include "OrvaneApplication.h"
#include "OrvaneSim.h"
#include "SignalWatcher.h"
#include "fMain.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// The child's side of the drill: the program entry's windows and signal handling, then what a user does
// (connect, five moves), then the event loop until a signal ends it. Called by the test program's main.
int runConsoleDrillChild(int argc, char** argv) {
    OrvaneApplication app(argc, argv);
    OrvaneApplication::setApplicationName(QStringLiteral("Orvane"));
    OrvaneApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    SetKivErrorHandler(&OrvaneApplication::showError);
    OrvaneApplication::setErrorHook([](const QString& message) {
        std::fprintf(stdout, "ERROR %s\n", message.toLocal8Bit().constData());
        std::fflush(stdout);
    });
    ConsoleWindows windows;
    TfrmMain& mainWindow = windows.main;
    SignalWatcher signalWatcher([&mainWindow](int) { mainWindow.close(); });
    mainWindow.panel(0).connectTimer()->setInterval(200);
    mainWindow.show();
    QTimer::singleShot(0, &mainWindow, [&mainWindow] {
        auto fail = [](const char* what) {
            std::fprintf(stdout, "FAILED %s\n", what);
            std::fflush(stdout);
            std::_Exit(2);
        };
        mainWindow.btnComm1->click();
        if (!QTest::qWaitFor([&] { return mainWindow.panel(0).mode() == pmReady; }, 30000))
            fail("connect");
        for (int i = 0; i < 5; ++i) {
            mainWindow.txtMoveWavelength1->setText(QString::number(510 + i));
            mainWindow.btnMove1->click();
            if (!QTest::qWaitFor(
                    [&] { return !mainWindow.panel(0).busy() && mainWindow.btnMove1->text() == "MOVE"; },
                    30000))
                fail("move");
        }
        std::fprintf(stdout, "READY\n");
        std::fflush(stdout);
    });
    const int result = app.exec();
    frmMain = nullptr;
    frmExpertMode1 = nullptr;
    frmExpertMode2 = nullptr;
    return result;
}

namespace {

// A child process with its standard output on a pipe; killed and reaped by the destructor if still there.
class Child {
public:
    Child(const std::string& Program, const std::vector<std::string>& Args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        FOut = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<char*> argv{const_cast<char*>(Program.c_str())};
        for (const std::string& a : Args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&FPid, Program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
    }
    ~Child() {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        if (FOut >= 0)
            ::close(FOut);
    }
    pid_t pid() const { return FPid; }

    // Reads the child's output until it holds Text or BoundMs passes.
    bool waitForOutput(const std::string& Text, int BoundMs) {
        QElapsedTimer clock;
        clock.start();
        while (FOutput.find(Text) == std::string::npos) {
            const qint64 left = BoundMs - clock.elapsed();
            if (left <= 0)
                return false;
            pollfd p{FOut, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            char buf[512];
            const ssize_t n = ::read(FOut, buf, sizeof buf);
            if (n <= 0)
                return false; // the child ended
            FOutput.append(buf, std::size_t(n));
        }
        return true;
    }
    // Waits for the child to end; its wait status, or -1 when it did not end within BoundMs.
    int waitForExit(int BoundMs) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < BoundMs) {
            int status = 0;
            if (::waitpid(FPid, &status, WNOHANG) == FPid) {
                FPid = -1;
                return status;
            }
            QThread::msleep(10);
        }
        return -1;
    }
    const std::string& output() const { return FOutput; }

private:
    pid_t FPid = -1;
    int FOut = -1;
    std::string FOutput;
};

// Whether process Pid has a handler of its own for Signal (its SigCgt mask in /proc).
bool catches(pid_t Pid, int Signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(Pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (Signal - 1)) & 1;
    return false;
}

constexpr int kBoundMs = 30000; // a console under AddressSanitizer on a shared machine starts slowly

} // namespace

TEST(SignalDrill, SigtermAfterConnectingAndFiveMovesLeavesEveryLineInTheFile) {
    orvanesim::Simulator sim;
    sim.addController(orvanesim::ControllerConfig::instant(1));
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    ::setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);

    // The console keeps its log beside the program: a folder of the drill's own, on the same file system.
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + "/signal-drill-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("console");
    if (::link(QFile::encodeName(QCoreApplication::applicationFilePath()).constData(),
               QFile::encodeName(program).constData()) != 0) {
        ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), program));
    }

    Child child(program.toStdString(), {"--console-drill-child"});
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(child.waitForOutput("READY\n", kBoundMs)) << child.output();
    ASSERT_EQ(::kill(child.pid(), SIGTERM), 0);
    const int status = child.waitForExit(kBoundMs);
    ASSERT_NE(status, -1) << "the console did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    EXPECT_EQ(child.output(), "READY\n") << "no error reached the general error handler";

    const QStringList files = QDir(dir.filePath("Logs")).entryList({"log_*.txt"}, QDir::Files);
    ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
    QFile file(dir.filePath("Logs/" + files.first()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList texts;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            texts.append(QString::fromLatin1(line.split('\t').mid(2).join('\t').chopped(1)));
    QStringList expected{"Try to connect...", "Try to connect COM1", "Connection Successs. COM1"};
    for (int i = 0; i < 5; ++i)
        expected << QStringLiteral("Moving To %1").arg(510 + i) << "Moving Ok";
    EXPECT_EQ(texts, expected);
    ::unsetenv("ORVANE_PORT_DIR");
}

TEST(SignalDrill, TheConsoleProgramEndsCleanlyOnSigterm) {
    Child console(ORVANE_CONSOLE_PATH, {});
    ASSERT_GT(console.pid(), 0);
    QElapsedTimer clock;
    clock.start();
    while (!catches(console.pid(), SIGTERM)) {
        ASSERT_LT(clock.elapsed(), kBoundMs) << "the console never took SIGTERM over";
        QThread::msleep(20);
    }
    EXPECT_TRUE(catches(console.pid(), SIGINT));
    EXPECT_TRUE(catches(console.pid(), SIGHUP));
    ASSERT_EQ(::kill(console.pid(), SIGTERM), 0);
    const int status = console.waitForExit(kBoundMs);
    ASSERT_NE(status, -1) << "the console did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

TEST(SignalWatcherTest, SignalsReachTheEventLoopAndThePreviousHandlersComeBack) {
    struct sigaction previous = {};
    previous.sa_handler = SIG_IGN;
    struct sigaction saved[2] = {};
    ::sigaction(SIGINT, &previous, &saved[0]);
    ::sigaction(SIGHUP, &previous, &saved[1]);
    {
        std::vector<int> seen;
        Qt::HANDLE seenOn = nullptr;
        SignalWatcher watcher([&](int Signal) {
            seen.push_back(Signal);
            seenOn = QThread::currentThreadId();
        });
        ASSERT_TRUE(watcher.Installed());
        ASSERT_EQ(::raise(SIGINT), 0);
        ASSERT_EQ(::raise(SIGHUP), 0);
        EXPECT_TRUE(seen.empty()) << "handled inside the signal handler rather than by the event loop";
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 5000));
        EXPECT_EQ(seen, (std::vector<int>{SIGINT, SIGHUP}));
        EXPECT_EQ(seenOn, QThread::currentThreadId());
    }
    struct sigaction now = {};
    ::sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ::sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ::sigaction(SIGINT, &saved[0], nullptr);
    ::sigaction(SIGHUP, &saved[1], nullptr);
}
