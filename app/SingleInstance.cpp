#include "SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMap>
#include <QThread>
#include <QWidget>

#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#ifdef ORVANE_HAVE_XKB // the X libraries come with the keyboard's
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

namespace {

const QString objectPath = QStringLiteral("/org/orvane/orvane/Console");
const QString interfaceName = QStringLiteral("org.orvane.orvane.Console");
constexpr int answerMs = 10000; // a console busy drawing or under a debugger answers late, not never

QString hashed(const QString& Text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(Text.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

// The same folder however it was written: through links, with "..", with a trailing slash.
QString sameFolder(const QString& Folder) {
    if (Folder.isEmpty())
        return {};
    const QFileInfo info(Folder);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// The user's runtime folder: private, and emptied at logout, as locks and sockets should be.
QString lockFolder() {
    return qEnvironmentVariable("XDG_RUNTIME_DIR");
}

constexpr int lockHeld = -1;     // another process holds the lock
constexpr int lockUnusable = -2; // the lock file cannot be made or locked at all

// An exclusive lock on Path for as long as the descriptor stays open.
int lockFile(const QString& Path) {
    const int fd = ::open(QFile::encodeName(Path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return lockUnusable;
    int locked;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int code = errno;
        ::close(fd);
        return code == EWOULDBLOCK ? lockHeld : lockUnusable;
    }
    return fd;
}

struct LogNumbering {
    std::mutex lock;
    bool on = false;
    QMap<QString, QString> marks; // log folder -> mark; the locks stay held until the process ends
};

LogNumbering& logNumbering() {
    static LogNumbering n;
    return n;
}

#ifdef ORVANE_HAVE_XKB
xcb_atom_t internAtom(xcb_connection_t* Connection, const char* Name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        Connection, xcb_intern_atom(Connection, 0, static_cast<uint16_t>(std::strlen(Name)), Name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The toolkit activates a window with the time of the last event it saw, older than the click that gave
// another window the focus since, and the X server (or the window manager's focus-stealing guard) then
// ignores it. A request made for the user, as a pager makes it, with the current time, is obeyed.
bool activateOnX11(QWidget* Window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    const xcb_window_t window = static_cast<xcb_window_t>(Window->winId());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t activeWindow = internAtom(connection, "_NET_ACTIVE_WINDOW");
    bool managerActivates = false;
    if (xcb_get_property_reply_t* supported = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, root, internAtom(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 0,
                             4096),
            nullptr)) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(supported));
        const int count = xcb_get_property_value_length(supported) / int(sizeof(xcb_atom_t));
        for (int i = 0; i < count && !managerActivates; ++i)
            managerActivates = atoms[i] == activeWindow;
        std::free(supported);
    }
    if (managerActivates) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = activeWindow;
        message.data.data32[0] = 2; // source: a pager, that is the user
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
    } else {
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    }
    xcb_flush(connection);
    return true;
}
#endif

} // namespace

SingleInstance::SingleInstance(const QString& PortFolder, QObject* parent)
    : QObject(parent), FKey(hashed(sameFolder(PortFolder))) {}

SingleInstance::~SingleInstance() {
    if (FOnBus) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(busName());
        bus.unregisterObject(objectPath);
    }
    if (FLocalServer)
        FLocalServer->close();
    if (FLockFd >= 0)
        ::close(FLockFd);
}

QString SingleInstance::busName() const {
    return QStringLiteral("org.orvane.orvane.Console.p") + FKey;
}

bool SingleInstance::onDesktop() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
}

SingleInstance::Outcome SingleInstance::claim() {
    Outcome result = Claimed;
    if (claimOnBus(result) || claimLocally(result))
        return result;
    return Claimed; // nothing to agree with: every start is a console of its own
}

bool SingleInstance::claimOnBus(Outcome& Result) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (!daemon)
        return false;
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        return false;
    // The holder may be ending just as we ask it: then the name is free again on the next round.
    for (int round = 0; round < 3; ++round) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> registered =
            daemon->registerService(busName(), QDBusConnectionInterface::DontQueueService,
                                    QDBusConnectionInterface::DontAllowReplacement);
        if (!registered.isValid())
            break;
        if (registered.value() == QDBusConnectionInterface::ServiceRegistered) {
            FOnBus = true;
            Result = Claimed;
            return true;
        }
        const QDBusMessage answer = bus.call(
            QDBusMessage::createMethodCall(busName(), objectPath, interfaceName, QStringLiteral("Raise")),
            QDBus::Block, answerMs);
        if (answer.type() == QDBusMessage::ReplyMessage) {
            FOther = answer.arguments().value(0).toLongLong();
            bus.unregisterObject(objectPath);
            Result = Raised;
            return true;
        }
        if (answer.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") &&
            answer.errorName() != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
            bus.unregisterObject(objectPath);
            Result = Unanswered;
            return true;
        }
    }
    bus.unregisterObject(objectPath);
    return false;
}

bool SingleInstance::claimLocally(Outcome& Result) {
    const QString folder = lockFolder();
    if (folder.isEmpty())
        return false;
    // Without a session bus the display stands for the session.
    const QString key = hashed(FKey + QLatin1Char('\n') + qEnvironmentVariable("DISPLAY") +
                               QLatin1Char('\n') + qEnvironmentVariable("WAYLAND_DISPLAY"));
    const QString base = QDir(folder).filePath(QStringLiteral("orvane-console-") + key);
    const QString socketPath = base + QStringLiteral(".socket");
    const QString lockPath = base + QStringLiteral(".lock");
    QElapsedTimer clock;
    clock.start();
    QLocalSocket socket;
    // Whoever holds the lock serves the socket; it may have taken the lock a moment ago and not be
    // listening yet, or be ending, which frees the lock for us.
    while ((FLockFd = lockFile(lockPath)) < 0) {
        if (FLockFd == lockUnusable)
            return false;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(1000)) {
            socket.write("raise\n");
            socket.flush();
            while (!socket.canReadLine() && socket.waitForReadyRead(answerMs)) {
            }
            if (socket.canReadLine()) {
                FOther = socket.readLine().trimmed().toLongLong();
                Result = Raised;
                return true;
            }
            socket.abort();
        }
        if (clock.elapsed() > answerMs) {
            Result = Unanswered;
            return true;
        }
        QThread::msleep(50);
    }
    // A socket left by a console that crashed is ours to replace.
    QLocalServer::removeServer(socketPath);
    FLocalServer = std::make_unique<QLocalServer>();
    FLocalServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!FLocalServer->listen(socketPath)) {
        FLocalServer.reset();
        ::close(FLockFd);
        FLockFd = -1;
        return false;
    }
    connect(FLocalServer.get(), &QLocalServer::newConnection, this, &SingleInstance::serveLocalClient);
    Result = Claimed;
    return true;
}

void SingleInstance::serveLocalClient() {
    while (QLocalSocket* client = FLocalServer->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine())
                return;
            if (client->readLine().trimmed() == "raise") {
                const qint64 self = Raise();
                client->write(QByteArray::number(self) + '\n');
                client->flush();
            }
            client->disconnectFromServer();
        });
    }
}

qint64 SingleInstance::Raise() {
    if (QWidget* window = FWindow.data()) {
        if (window->isMinimized())
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
#ifdef ORVANE_HAVE_XKB
        if (!activateOnX11(window))
#endif
            window->activateWindow();
    }
    return QCoreApplication::applicationPid();
}

void SingleInstance::numberLogFiles(bool On) {
    LogNumbering& n = logNumbering();
    const std::lock_guard<std::mutex> guard(n.lock);
    n.on = On;
}

QString SingleInstance::logFileMark(const QString& LogFolder) {
    LogNumbering& n = logNumbering();
    const std::lock_guard<std::mutex> guard(n.lock);
    if (!n.on)
        return {};
    const QString folder = sameFolder(LogFolder);
    if (auto known = n.marks.constFind(folder); known != n.marks.constEnd())
        return *known;
    QString mark;
    const QString locks = lockFolder();
    int number = 0;
    if (!locks.isEmpty()) {
        const QString base = QDir(locks).filePath(QStringLiteral("orvane-log-%1-").arg(hashed(folder)));
        for (int candidate = 1; candidate <= 99 && number == 0; ++candidate) {
            const int fd = lockFile(base + QString::number(candidate) + QStringLiteral(".lock"));
            if (fd == lockUnusable)
                break;
            if (fd >= 0)
                number = candidate; // held open, and so locked, until the process ends
        }
    }
    if (number == 0)
        mark = QStringLiteral("-p%1").arg(QCoreApplication::applicationPid()); // no locks: never share
    else if (number > 1)
        mark = QStringLiteral("-%1").arg(number);
    n.marks.insert(folder, mark);
    return mark;
}
