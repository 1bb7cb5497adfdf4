#pragma once
// Shared pieces of the serial tests: waiting on the event loop with a bound, raw pseudo-terminals linked as
// COMn, a port folder in ORVANE_PORT_DIR, and counts of open descriptors and threads.

#include "KivComm.h"
#include "OrvaneSim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <time.h>
#include <unistd.h>

// Runs the GUI thread's event loop until pred() holds or ms pass; a short timer wakes the loop so that
// conditions set by other threads are seen too.
template <class Pred> bool waitUntil(Pred pred, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(2);
    while (!pred()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Lets already posted events run (used to show that something does NOT happen).
inline void drainEvents(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        usleep(2000);
    }
}

inline int countEntries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}
inline int openFdCount() {
    return countEntries("/proc/self/fd") - 1;
} // minus the one opendir holds
inline int threadCount() {
    return countEntries("/proc/self/task");
}

inline double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// A port folder of its own for one test, published as ORVANE_PORT_DIR.
class PortDir {
public:
    PortDir() {
        char tmpl[] = "/tmp/orvane-comm-test-XXXXXX";
        FPath = mkdtemp(tmpl);
        setenv("ORVANE_PORT_DIR", FPath.c_str(), 1);
    }
    ~PortDir() {
        unsetenv("ORVANE_PORT_DIR");
        if (DIR* d = opendir(FPath.c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.')
                    unlink((FPath + "/" + e->d_name).c_str());
            closedir(d);
        }
        rmdir(FPath.c_str());
    }
    const std::string& path() const { return FPath; }

private:
    std::string FPath;
};

// A bare pseudo-terminal linked as COMn: the test plays the controller on the master end.
class RawPty {
public:
    RawPty(const std::string& dir, int com) {
        termios raw{};
        cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        char name[128] = {};
        openpty(&master, &FSlaveHold, name, &raw, nullptr);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        fcntl(FSlaveHold, F_SETFD, FD_CLOEXEC);
        FLink = dir + "/COM" + std::to_string(com);
        unlink(FLink.c_str()); // a line plugged in again under the same name
        symlink(name, FLink.c_str());
    }
    ~RawPty() {
        hangup();
        unlink(FLink.c_str());
    }
    void send(const std::string& bytes) const {
        std::size_t off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::write(master, bytes.data() + off, bytes.size() - off);
            if (n > 0)
                off += std::size_t(n);
            else {
                pollfd p{master, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
    }
    // Reads what the component wrote, waiting up to ms for at least `want` bytes.
    std::string receive(std::size_t want, int ms = 3000) const {
        std::string out;
        QElapsedTimer clock;
        clock.start();
        while (out.size() < want && clock.elapsed() < ms) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                char buf[4096];
                ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    out.append(buf, std::size_t(n));
            }
        }
        return out;
    }
    // Closes the controller's end: the line hangs up.
    void hangup() {
        if (master >= 0)
            close(master);
        if (FSlaveHold >= 0)
            close(FSlaveHold);
        master = FSlaveHold = -1;
    }
    int master = -1;

private:
    int FSlaveHold = -1;
    std::string FLink;
};

// Everything a component raised, in order, with the thread it ran on.
struct EventLog {
    struct Entry {
        char kind; // 'F' OnEventCharReceived, 'R' OnReceived, 'C' OnCommEvents, 'T' OnTXStatus, 'O'
                   // OnOpenStatus
        long value;
        bool onGuiThread;
    };
    std::vector<Entry> entries;
    std::vector<std::pair<int, QString>> errors;
    QByteArray readByHandler;
    bool readInFlagHandler = true;

    TKivCustomComm* attached = nullptr;
    ~EventLog() {
        if (attached) // the component may outlive the log: it raises OnOpenStatus when destroyed
            attached->OnEventCharReceived = attached->OnReceived = nullptr, attached->OnCommEvents = nullptr,
            attached->OnTXStatus = attached->OnOpenStatus = nullptr, attached->OnCommError = nullptr;
    }
    void attach(TKivCustomComm& c) {
        attached = &c;
        auto gui = [] { return QThread::currentThread() == QCoreApplication::instance()->thread(); };
        c.OnEventCharReceived = [this, gui, &c](QObject*, int n) {
            entries.push_back({'F', n, gui()});
            if (readInFlagHandler)
                readByHandler += c.ReadData(n);
        };
        c.OnReceived = [this, gui](QObject*, int n) { entries.push_back({'R', n, gui()}); };
        c.OnCommEvents = [this, gui](QObject*, std::uint32_t e) { entries.push_back({'C', long(e), gui()}); };
        c.OnTXStatus = [this, gui](QObject*, bool s) { entries.push_back({'T', s, gui()}); };
        c.OnOpenStatus = [this, gui](QObject*, bool s) { entries.push_back({'O', s, gui()}); };
        c.OnCommError = [this](QObject*, int code, const QString& text) { errors.push_back({code, text}); };
    }
    int count(char kind) const {
        int n = 0;
        for (const auto& e : entries)
            n += e.kind == kind;
        return n;
    }
    std::string kinds() const {
        std::string s;
        for (const auto& e : entries)
            s += e.kind;
        return s;
    }
};
