#pragma once
// One console per desktop session and port folder. The first console holds a name on the session bus
// (org.orvane.orvane.Console.p<hash of the port folder>); a second start asks it to come to the front and
// ends. Without a session bus, a lock and a local socket in $XDG_RUNTIME_DIR, per display, do the same.
// Also: consoles that share a log folder (started with --new-instance, or from other sessions) each write
// log files of their own.

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QLocalServer;
class QWidget;

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvane.orvane.Console")

public:
    enum Outcome {
        Claimed,   // this is the session's console for the port folder: start
        Raised,    // another one was brought to the front: end with status 0
        Unanswered // another one holds the name but did not answer: end, it may be hung
    };

    // PortFolder is the folder the console looks its ports up in; empty for the serial devices.
    explicit SingleInstance(const QString& PortFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome claim();
    // The process brought to the front by claim(), 0 when unknown.
    qint64 otherProcess() const { return FOther; }
    // The window that Raise brings up.
    void setWindow(QWidget* Window) { FWindow = Window; }

    // The name on the session bus for the port folder.
    QString busName() const;
    // Whether this process reached the session bus for its claim (false: the local socket was used).
    bool onBus() const { return FOnBus; }

    // Only windows on a desktop (X11, Wayland) count: a console drawn off screen, a Tango server on a
    // machine without a screen, is in nobody's session.
    static bool onDesktop();

    // Log files. Once the program entry turns numbering on, each console claims the lowest number free
    // for its log folder; console 1 writes log_yyyy_mm_dd.txt, console n log_yyyy_mm_dd-n.txt, and
    // logFileMark returns that "-n" (empty for console 1 and while numbering is off).
    static void numberLogFiles(bool On);
    static QString logFileMark(const QString& LogFolder);

public Q_SLOTS:
    // Called by a second start over the session bus; returns this process's id.
    Q_SCRIPTABLE qint64 Raise();

private:
    bool claimOnBus(Outcome& Result);
    bool claimLocally(Outcome& Result);
    void serveLocalClient();

    QString FKey;
    QPointer<QWidget> FWindow;
    qint64 FOther = 0;
    bool FOnBus = false;
    int FLockFd = -1;
    std::unique_ptr<QLocalServer> FLocalServer;
};
