#include "KivComm.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <asm/ioctl.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace KivCommBits;

namespace {

QString systemMessage(int code) {
    return QString::fromLocal8Bit(strerror(code));
}

// The kernel's termios2 (arbitrary rates through BOTHER); glibc's <termios.h> cannot be mixed with
// <asm/termbits.h>, so the layout and the request numbers are spelled out here.
struct KernelTermios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
constexpr unsigned long kTCGETS2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kTCSETS2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kBOTHER = 0010000;

speed_t classicSpeed(unsigned rate) {
    switch (rate) {
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return 0; // 14400, 56000, 128000, 256000 have no Bxxxx constant
    }
}

constexpr unsigned kRates[] = {2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

int retryIoctl(int fd, unsigned long request, void* arg) {
    int r;
    do
        r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

std::int64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A dispatch handed to the GUI thread. The reader waits until it is done or cancelled; close and purge can
// cancel it, so the reader never waits on a GUI thread that is itself waiting for the reader.
struct DispatchTicket {
    enum State { Posted, Running, Done, Cancelled };
    std::mutex m;
    std::condition_variable cv;
    State state = Posted;

    void finish(State s) {
        std::lock_guard lock(m);
        if (state != Cancelled)
            state = s;
        cv.notify_all();
    }
    // Cancels a dispatch that may already be running (close); returns whether it had not begun.
    bool cancel(bool onlyIfPosted) {
        std::lock_guard lock(m);
        if (state == Done || (onlyIfPosted && state != Posted))
            return false;
        bool wasPosted = state == Posted;
        state = Cancelled;
        cv.notify_all();
        return wasPosted;
    }
};

// Carries one wake-up to the GUI thread.
class DispatchEvent : public QEvent {
public:
    DispatchEvent(std::shared_ptr<DispatchTicket> t, std::uint32_t m)
        : QEvent(type()), ticket(std::move(t)), mask(m) {}
    static QEvent::Type type() {
        static const int registered = QEvent::registerEventType();
        return QEvent::Type(registered);
    }
    std::shared_ptr<DispatchTicket> ticket;
    std::uint32_t mask;
};

} // namespace

// What the GUI thread and the receive thread share while a port is open; the input queue stands in for
// the driver's queue of the original design.
struct KivPortState {
    int fd = -1;
    int wakeFd = -1;
    char eventChar = '\r';
    bool discardNull = true;
    std::uint32_t eventMask = 7;
    std::size_t maxInQueue = 4096;

    std::mutex m; // guards everything below
    QByteArray queue;
    std::uint32_t pendingMask = 0; // EV_* bits seen since the last dispatch
    std::uint32_t errors = 0;      // CE_* bits since the last ClearCommError
    std::uint64_t overflowCount = 0;
    bool stop = false;
    std::shared_ptr<DispatchTicket> pending;

    void wake() {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
    }

    // Appends received bytes to the queue as the driver would: NULs dropped when asked, the event character
    // noted, bytes beyond MaxInQueue counted and reported instead of stored. Caller holds m.
    void accept(const char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            char c = data[i];
            if (c == 0 && discardNull)
                continue;
            if (std::size_t(queue.size()) >= maxInQueue) {
                ++overflowCount;
                errors |= CE_RXOVER;
                continue;
            }
            queue.append(c);
            pendingMask |= EV_RXCHAR;
            if (c == eventChar)
                pendingMask |= EV_RXFLAG;
        }
    }
};

// The receive thread of one open port: waits in poll() on the port and an eventfd, moves arriving bytes into
// the input queue and hands each wake-up to the GUI thread, waiting until the handlers have run.
class TReadThread {
public:
    TReadThread(TKivCustomComm* comm, std::shared_ptr<KivPortState> state, TThreadPriority priority)
        : FComm(comm), FState(std::move(state)), FPriority(priority) {}
    ~TReadThread() {
        if (FThread.joinable())
            FThread.join();
    }
    void Start() {
        FThread = std::thread([this] { Execute(); });
    }
    // Ends the thread: the caller has set stop, cancelled the hand-off and woken the poll.
    void Finish() {
        if (!FThread.joinable())
            return;
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach(); // closed from an OnMessage handler: the thread ends right after it
        else
            FThread.join();
    }

private:
    void Execute();
    void applyPriority();
    bool readPort(short revents, bool& lost, int& lostCode);
    bool handOff(std::uint32_t mask);

    TKivCustomComm* FComm;
    std::shared_ptr<KivPortState> FState;
    TThreadPriority FPriority;
    std::thread FThread;
};

void TReadThread::applyPriority() {
    // Per-thread nice values; raising the priority needs privileges, and a refusal leaves the default.
    static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
    if (FPriority == tpNormal)
        return;
    [[maybe_unused]] int r = setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), kNice[FPriority]);
}

// Reads what the port holds into the queue. Returns whether anything was read; sets lost when the device
// has gone (hang-up: poll says HUP/ERR and read gives 0, or read fails with a device error).
bool TReadThread::readPort(short revents, bool& lost, int& lostCode) {
    KivPortState& s = *FState;
    char buf[4096];
    bool any = false;
    std::lock_guard lock(s.m);
    // A full queue that the last dispatch did not empty overflows, as the driver's would: read and count.
    bool dropWhenFull = std::size_t(s.queue.size()) >= s.maxInQueue;
    for (int rounds = 0; rounds < 64; ++rounds) {
        std::size_t room = s.maxInQueue > std::size_t(s.queue.size()) ? s.maxInQueue - s.queue.size() : 0;
        if (room == 0 && !dropWhenFull)
            break; // let the handlers take what is there first
        std::size_t want = dropWhenFull ? sizeof buf : std::min(room, sizeof buf);
        ssize_t n = ::read(s.fd, buf, want);
        if (n > 0) {
            s.accept(buf, std::size_t(n));
            any = true;
            continue;
        }
        if (n == 0) {
            if (!any && (revents & (POLLHUP | POLLERR))) {
                lost = true;
                lostCode = EIO;
            }
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            lost = true;
            lostCode = errno;
        }
        break;
    }
    return any;
}

bool TReadThread::handOff(std::uint32_t mask) {
    auto ticket = std::make_shared<DispatchTicket>();
    {
        std::lock_guard lock(FState->m);
        if (FState->stop)
            return false;
        FState->pending = ticket;
        // A posted event rather than a queued functor: once posted, this thread never touches it again, and
        // it dies with the component if the component goes first. Posted under our own lock, which the GUI
        // thread takes before reading it (Qt's internal lock is invisible to ThreadSanitizer).
        QCoreApplication::postEvent(FComm, new DispatchEvent(ticket, mask));
    }
    std::unique_lock lock(ticket->m);
    ticket->cv.wait(lock, [&] {
        return ticket->state == DispatchTicket::Done || ticket->state == DispatchTicket::Cancelled;
    });
    return true;
}

void TReadThread::Execute() {
    applyPriority();
    KivPortState& s = *FState;
    bool lost = false;
    int lostCode = 0;
    QString message;
    for (;;) {
        pollfd fds[2] = {{s.wakeFd, POLLIN, 0}, {s.fd, POLLIN, 0}};
        int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            message = systemMessage(errno); // cannot wait any more: say so and end, rather than spin
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(s.wakeFd, &count, sizeof count);
        }
        {
            std::lock_guard lock(s.m);
            if (s.stop)
                return;
        }
        if (fds[1].revents & POLLNVAL) {
            lost = true;
            lostCode = EBADF;
        } else if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            readPort(fds[1].revents, lost, lostCode);
        }
        std::uint32_t mask;
        {
            std::lock_guard lock(s.m);
            mask = s.pendingMask & s.eventMask;
            s.pendingMask = 0;
            if (s.errors & CE_RXOVER)
                mask |= 0x80000000u; // nothing to raise, but the overflow gets reported
        }
        if (mask != 0 && !handOff(mask))
            return;
        if (lost) {
            message = systemMessage(lostCode);
            break;
        }
    }
    {
        std::lock_guard lock(s.m);
        if (s.stop)
            return;
    }
    // Raised on this thread, as the design has it; the thread ends right after, touching nothing of the
    // component, so a handler may even close or destroy it.
    TNotifyMsg handler = FComm->OnMessage;
    if (handler)
        handler(FComm, message);
}

// ---------------------------------------------------------------------------------------------------------

TKivCustomComm::TKivCustomComm(QObject* AOwner) : QObject(AOwner) {
    FMonitorTimer.setSingleShot(false);
    connect(&FMonitorTimer, &QTimer::timeout, this, [this] {
        if (FMonitor && FMonitorRunning)
            MonitorTick();
    });
}

TKivCustomComm::~TKivCustomComm() {
    CloseComm();
    FMonitorTimer.stop();
}

std::string TKivCustomComm::DeviceForPort(const QString& PortName) {
    static const QRegularExpression comRe(QStringLiteral("^COM([0-9]+)$"));
    auto match = comRe.match(PortName);
    if (!match.hasMatch())
        return {};
    int number = match.captured(1).toInt();
    if (number < 1)
        return {};
    QByteArray dir = qgetenv("ORVANE_PORT_DIR");
    if (!dir.isEmpty())
        return (QString::fromLocal8Bit(dir) + QStringLiteral("/COM%1").arg(number)).toStdString();

    // The n-th serial device: USB adapters first, then CDC-ACM, then the built-in UARTs.
    QStringList devices;
    QDir dev(QStringLiteral("/dev"));
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        QRegularExpression re(QStringLiteral("^%1([0-9]+)$").arg(QLatin1String(prefix)));
        QList<std::pair<int, QString>> found;
        for (const QString& name : dev.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            auto m = re.match(name);
            if (m.hasMatch())
                found.append({m.captured(1).toInt(), name});
        }
        std::sort(found.begin(), found.end());
        for (const auto& f : found)
            devices.append(QStringLiteral("/dev/") + f.second);
    }
    if (number > devices.size())
        return {};
    return devices.at(number - 1).toStdString();
}

void TKivCustomComm::RaiseCommError(int Code, const QString& Desc) {
    if (TNotifyError handler = OnCommError)
        handler(this, Code, Desc);
}

bool TKivCustomComm::OpenComm() {
    if (FPortOpened)
        return false;
    FLastOpenError = 0;
    std::string path = DeviceForPort(FPortName);
    if (path.empty()) {
        FLastOpenError = ENOENT;
        RaiseCommError(ENOENT, systemMessage(ENOENT));
        return false;
    }
    int fd;
    do
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        FLastOpenError = errno;
        RaiseCommError(FLastOpenError, systemMessage(FLastOpenError));
        return false;
    }
    // No sharing: flock works between descriptors even for root, TIOCEXCL keeps other programs out.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int code = errno == EWOULDBLOCK ? EBUSY : errno;
        FLastOpenError = code;
        ::close(fd);
        RaiseCommError(code, systemMessage(code));
        return false;
    }
    [[maybe_unused]] int excl = retryIoctl(fd, TIOCEXCL, nullptr);
    FHandle = fd;

    auto state = std::make_shared<KivPortState>();
    state->fd = fd;
    state->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->wakeFd < 0) {
        int code = errno;
        FLastOpenError = code;
        ::close(fd);
        FHandle = -1;
        RaiseCommError(code, systemMessage(code));
        return false;
    }
    state->maxInQueue = FMaxInQueue;
    FState = state;
    Purge();

    auto fail = [&] {
        FLastOpenError = EIO; // the line settings were refused; OnCommError told which
        ::close(FState->wakeFd);
        ::close(FHandle);
        FState.reset();
        FHandle = -1;
        return false;
    };
    if (!ApplyTimeouts())
        return fail();
    if (!ApplyCommState())
        return fail();
    Purge(); // whatever arrived while the line was being set up

    state->eventChar = FEventChar;
    state->discardNull = FDiscardNull;
    state->eventMask = FEventMask;
    FPortOpened = true;
    FReadThread = std::make_unique<TReadThread>(this, state, FPriority);
    FReadThread->Start();
    SetDTR(true); // refused by pseudo-terminals; the port stays usable
    if (OnOpenStatus)
        OnOpenStatus(this, true);
    return true;
}

bool TKivCustomComm::CloseComm() {
    if (!FPortOpened)
        return true;
    if (FState) {
        std::lock_guard lock(FState->m);
        FState->stop = true;
        if (FState->pending)
            FState->pending->cancel(false);
        FState->wake();
    }
    if (FReadThread) {
        FReadThread->Finish();
        ThreadTerminated();
    }
    SetDTR(false);
    Purge();
    [[maybe_unused]] int nxcl = retryIoctl(FHandle, TIOCNXCL, nullptr);
    int closeError = ::close(FHandle) == 0 ? 0 : errno;
    ::close(FState->wakeFd);
    FState.reset();
    // Linux releases the descriptor even when close() reports an error, so the port is closed either way.
    FHandle = -1;
    if (closeError != 0 && closeError != EINTR)
        RaiseCommError(closeError, systemMessage(closeError));
    if (OnOpenStatus)
        OnOpenStatus(this, false);
    FPortOpened = false;
    return closeError == 0 || closeError == EINTR;
}

void TKivCustomComm::ThreadTerminated() {
    FReadThread.reset();
}

bool TKivCustomComm::ApplyTimeouts() {
    // Timeout is read when ReadData waits; the write limit is 2 ms per byte. Nothing to hand the kernel.
    return FHandle >= 0;
}

bool TKivCustomComm::ApplyCommState() {
    if (FHandle < 0) {
        RaiseCommError(EBADF, QStringLiteral("OpenComm First"));
        return false;
    }
    termios t{};
    if (::tcgetattr(FHandle, &t) != 0) {
        RaiseCommError(errno, QStringLiteral("GetCommState Fail"));
        return false;
    }
    auto setFail = [&](int code) {
        RaiseCommError(code, QStringLiteral("SetCommState Fail"));
        return false;
    };
    if (FStopBits == _1_5 || FFlowControl == FC_DTRDSR)
        return setFail(EINVAL); // no such line setting in termios

    ::cfmakeraw(&t);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | (FByteSize == _7 ? CS7 : CS8);
    switch (FParity) {
    case NONE:
        break;
    case ODD:
        t.c_cflag |= PARENB | PARODD;
        break;
    case EVEN:
        t.c_cflag |= PARENB;
        break;
    case MARK:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case SPACE:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (FStopBits == _2)
        t.c_cflag |= CSTOPB;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    if (FCheckParity)
        t.c_iflag |= INPCK;
    if (FFlowControl == FC_XONXOFF)
        t.c_iflag |= IXON | IXOFF;
    if (FFlowControl == FC_RTSCTS)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    unsigned rate = kRates[FBaudRate];
    speed_t classic = classicSpeed(rate);
    if (classic != 0) {
        ::cfsetispeed(&t, classic);
        ::cfsetospeed(&t, classic);
    }
    // The result of tcsetattr says little (it succeeds when any change applied, and some C libraries fail it
    // when the kernel adjusts a flag); the read-back below decides.
    [[maybe_unused]] int r = ::tcsetattr(FHandle, TCSANOW, &t);
    int setErrno = errno;
    if (classic == 0) {
        KernelTermios2 t2{};
        if (retryIoctl(FHandle, kTCGETS2, &t2) != 0)
            return setFail(errno);
        t2.c_cflag = (t2.c_cflag & ~tcflag_t(CBAUD)) | kBOTHER;
        t2.c_ispeed = rate;
        t2.c_ospeed = rate;
        if (retryIoctl(FHandle, kTCSETS2, &t2) != 0)
            return setFail(errno);
    }

    termios back{};
    if (::tcgetattr(FHandle, &back) != 0)
        return setFail(errno);
    const tcflag_t cflagMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    const tcflag_t iflagMask = IXON | IXOFF | INPCK;
    bool same = (back.c_cflag & cflagMask) == (t.c_cflag & cflagMask) &&
                (back.c_iflag & iflagMask) == (t.c_iflag & iflagMask) && (back.c_lflag & ICANON) == 0;
    if (classic != 0) {
        same = same && ::cfgetospeed(&back) == classic;
    } else {
        KernelTermios2 t2{};
        same = same && retryIoctl(FHandle, kTCGETS2, &t2) == 0 && t2.c_ospeed == rate;
    }
    if (!same)
        return setFail(setErrno != 0 ? setErrno : EINVAL);
    return true;
}

bool TKivCustomComm::WriteData(const QByteArray& S) {
    if (!FPortOpened || FHandle < 0)
        return false;
    // Everything up to the first zero byte, whatever the length.
    qsizetype length = S.indexOf('\0');
    if (length < 0)
        length = S.size();
    if (OnTXStatus)
        OnTXStatus(this, true);
    const char* p = S.constData();
    qsizetype left = length;
    // The write time-out of the original: 2 ms per byte.
    std::int64_t deadline = monotonicMs() + 2 * std::int64_t(length);
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(FHandle, p, std::size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            std::int64_t wait = deadline - monotonicMs();
            if (wait <= 0) {
                ok = false; // timed out: like the original, no line error
                break;
            }
            pollfd pfd{FHandle, POLLOUT, 0};
            int r = ::poll(&pfd, 1, int(std::min<std::int64_t>(wait, 1000)));
            if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(pfd.revents & POLLOUT)) {
                std::lock_guard lock(FState->m);
                FState->errors |= CE_IOE;
                ok = false;
                break;
            }
            continue;
        }
        {
            std::lock_guard lock(FState->m);
            FState->errors |= CE_IOE;
        }
        ok = false;
        break;
    }
    if (!ok)
        ReportLineErrors(ClearCommError());
    if (OnTXStatus)
        OnTXStatus(this, false);
    // Only OnCommEvents hears of an empty output queue: with no one listening, waking the receive thread
    // would cost the window a dispatch for every command.
    if (ok && (FEventMask & EV_TXEMPTY) && OnCommEvents) {
        std::lock_guard lock(FState->m);
        FState->pendingMask |= EV_TXEMPTY;
        FState->wake();
    }
    return ok;
}

QByteArray TKivCustomComm::ReadData(int ACount) {
    QByteArray result;
    if (ACount <= 0 || !FState)
        return result;
    KivPortState& s = *FState;
    std::int64_t deadline = monotonicMs() + FTimeout;
    bool failed = false;
    for (;;) {
        {
            std::lock_guard lock(s.m);
            qsizetype take = std::min<qsizetype>(ACount - result.size(), s.queue.size());
            result.append(s.queue.constData(), take);
            s.queue.remove(0, take);
            // The receive thread may be parked in its hand-off: take the rest from the kernel directly.
            // These bytes are consumed here, so they raise no later event.
            while (result.size() < ACount) {
                char buf[4096];
                std::size_t want = std::min<std::size_t>(sizeof buf, std::size_t(ACount - result.size()));
                ssize_t n = ::read(s.fd, buf, want);
                if (n > 0) {
                    for (ssize_t i = 0; i < n; ++i)
                        if (buf[i] != 0 || !s.discardNull)
                            result.append(buf[i]);
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && errno != EAGAIN) {
                    s.errors |= CE_IOE;
                    failed = true;
                }
                break;
            }
        }
        if (failed || result.size() >= ACount)
            break;
        std::int64_t wait = deadline - monotonicMs();
        if (wait <= 0)
            break;
        // The receive thread may take the bytes into the queue instead, so look again in short slices.
        pollfd pfd{s.fd, POLLIN, 0};
        int r = ::poll(&pfd, 1, int(std::min<std::int64_t>(wait, 5)));
        if (r > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            break;
    }
    if (failed) {
        ReportLineErrors(ClearCommError());
        return {};
    }
    return result;
}

void TKivCustomComm::Purge() {
    if (!FState || FHandle < 0)
        return;
    std::lock_guard lock(FState->m);
    ::tcflush(FHandle, TCIOFLUSH);
    FState->queue.clear();
    FState->pendingMask = 0;
    // A dispatch that has not run yet announces bytes that are gone now.
    if (FState->pending)
        FState->pending->cancel(true);
}

std::uint32_t TKivCustomComm::InQueueCount() {
    if (!FPortOpened || FHandle < 0 || !FState)
        return 0;
    std::lock_guard lock(FState->m);
    int kernel = 0;
    if (::ioctl(FHandle, FIONREAD, &kernel) != 0 || kernel < 0)
        kernel = 0;
    return std::uint32_t(FState->queue.size()) + std::uint32_t(kernel);
}

std::uint64_t TKivCustomComm::RxOverflowCount() const {
    if (!FState)
        return 0;
    std::lock_guard lock(FState->m);
    return FState->overflowCount;
}

std::uint32_t TKivCustomComm::ClearCommError() {
    if (!FState)
        return 0;
    std::lock_guard lock(FState->m);
    std::uint32_t errors = FState->errors;
    FState->errors = 0;
    return errors;
}

bool TKivCustomComm::SetDTR(bool Value) {
    if (!FPortOpened || FHandle < 0)
        return false;
    int bits = TIOCM_DTR;
    if (retryIoctl(FHandle, Value ? TIOCMBIS : TIOCMBIC, &bits) != 0)
        return false;
    FDTRState = Value;
    return true;
}

void TKivCustomComm::ReportLineErrors(std::uint32_t Errors) {
    if (Errors == 0)
        return;
    static const struct {
        std::uint32_t bit;
        const char* text;
    } table[] = {
        {CE_BREAK, "The hardware detected a break condition."},
        {CE_DNS, "A parallel device is not selected."},
        {CE_FRAME, "The hardware detected a framing error."},
        {CE_IOE, "An I/O error occurred during communications with the device."},
        {CE_MODE, "The requested mode is not supported, or the hFile parameter is invalid. If this value is "
                  "specified, it is the only valid error."},
        {CE_OOP, "A parallel device signaled that it is out of paper."},
        {CE_OVERRUN, "A character-buffer overrun has occurred. The next character is lost."},
        {CE_PTO, "A time-out occurred on a parallel device."},
        {CE_RXOVER,
         "An input buffer overflow has occurred. There is either no room in the input buffer, or a "
         "character was received after the end-of-file (EOF) character."},
        {CE_RXPARITY, "The hardware detected a parity error."},
        {CE_TXFULL, "The application tried to transmit a character, but the output buffer was full."},
    };
    for (const auto& entry : table) {
        if (Errors & entry.bit) {
            RaiseCommError(int(entry.bit), QString::fromLatin1(entry.text));
            return;
        }
    }
}

bool TKivCustomComm::event(QEvent* e) {
    if (FState) {
        std::lock_guard lock(FState->m); // pairs with the post in TReadThread::handOff
    }
    if (e->type() != DispatchEvent::type())
        return QObject::event(e);
    auto* dispatch = static_cast<DispatchEvent*>(e);
    std::shared_ptr<DispatchTicket> ticket = dispatch->ticket;
    {
        std::lock_guard lock(ticket->m);
        if (ticket->state != DispatchTicket::Posted)
            return true; // cancelled by a close or a purge
        ticket->state = DispatchTicket::Running;
    }
    DispatchEvents(dispatch->mask); // may close or even destroy this component
    ticket->finish(DispatchTicket::Done);
    return true;
}

void TKivCustomComm::DispatchEvents(std::uint32_t Mask) {
    QPointer<TKivCustomComm> self(this);
    auto alive = [&] { return self && FPortOpened && FHandle >= 0; };
    if (!alive())
        return;
    // Received bytes that found no room: the one line error this stand-in queue produces.
    {
        std::uint32_t overflow;
        {
            std::lock_guard lock(FState->m);
            overflow = FState->errors & CE_RXOVER;
            FState->errors &= ~CE_RXOVER;
        }
        if (overflow) {
            ReportLineErrors(overflow);
            if (!alive())
                return;
        }
    }
    // Handlers are told what the receive thread has queued. Bytes still in the kernel come with the
    // dispatch that queues them; asking the kernel for each handler would cost a system call apiece.
    auto queued = [&] {
        std::lock_guard lock(FState->m);
        return int(FState->queue.size());
    };
    auto raiseBit = [&](std::uint32_t bit) {
        if (!(Mask & bit) || !alive())
            return;
        // Handlers run from copies, so that one may destroy the component (and with it the original).
        if (bit == EV_RXFLAG && OnEventCharReceived) {
            TNotifyReceiveEvent handler = OnEventCharReceived;
            handler(this, queued());
            if (!alive())
                return;
        }
        if (bit == EV_RXCHAR && OnReceived) {
            TNotifyReceiveEvent handler = OnReceived;
            handler(this, queued());
            if (!alive())
                return;
        }
        if (OnCommEvents) {
            TNotifyCommEvents handler = OnCommEvents;
            handler(this, bit);
        }
    };
    for (std::uint32_t bit :
         {EV_RXFLAG, EV_RXCHAR, EV_BREAK, EV_CTS, EV_DSR, EV_ERR, EV_RING, EV_RLSD, EV_TXEMPTY})
        raiseBit(bit);
}

void TKivCustomComm::Reopen() {
    if (FPortOpened) {
        CloseComm();
        OpenComm();
    }
}

void TKivCustomComm::SetPort(TPort Value) {
    if (Value == FPort)
        return;
    FPort = Value;
    FPortName = QStringLiteral("COM%1").arg(int(Value) + 1);
    Reopen();
}

void TKivCustomComm::SetBaudRate(TBaudRate Value) {
    if (Value == FBaudRate)
        return;
    FBaudRate = Value;
    Reopen();
}

void TKivCustomComm::SetParity(TParity Value) {
    if (Value == FParity)
        return;
    FParity = Value;
    Reopen();
}

void TKivCustomComm::SetStopBits(TStopBits Value) {
    if (Value == FStopBits)
        return;
    FStopBits = Value;
    Reopen();
}

void TKivCustomComm::SetByteSize(TByteSize Value) {
    if (Value == FByteSize)
        return;
    FByteSize = Value;
    Reopen();
}

void TKivCustomComm::SetFlowControl(TFlowControl Value) {
    if (Value == FFlowControl)
        return;
    FFlowControl = Value;
    Reopen();
}

void TKivCustomComm::SetCommEvents(TCommEvents Value) {
    if (Value == FCommEvents)
        return;
    FCommEvents = Value;
    FEventMask = Value.toInt();
}

void TKivCustomComm::SetMonitor(bool Value) {
    if (!FPortOpened || Value == FMonitor)
        return;
    FMonitor = Value;
    RestartMonitorTimer();
}

void TKivCustomComm::SetMonitorInterval(std::uint32_t Value) {
    if (Value == FMonitorInterval)
        return;
    FMonitorInterval = Value;
    RestartMonitorTimer();
}

void TKivCustomComm::RestartMonitorTimer() {
    if (FMonitorRunning) {
        FMonitorTimer.stop();
        FMonitorRunning = false;
    }
    if (FMonitor && FMonitorInterval != 0) {
        FMonitorTimer.start(int(std::min<std::uint32_t>(FMonitorInterval, INT32_MAX)));
        FMonitorRunning = FMonitorTimer.isActive();
    }
}
