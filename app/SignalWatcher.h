#pragma once
// Turns SIGTERM, SIGINT and SIGHUP (logout, shutdown, Ctrl+C) into an orderly close on the window thread,
// so that the ports are closed and the log file written as when the user closes the window.

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    // OnSignal runs on the thread that creates the watcher, from its event loop, once per signal received.
    // One watcher at a time; the previous handlers come back when it is destroyed.
    explicit SignalWatcher(std::function<void(int Signal)> OnSignal, QObject* Parent = nullptr);
    ~SignalWatcher() override;

    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // Whether the handlers are in place (false if the pipe could not be made).
    bool Installed() const { return FInstalled; }

private:
    void readSignals();

    std::function<void(int)> FOnSignal;
    QSocketNotifier* FNotifier = nullptr;
    int FReadFd = -1;
    int FWriteFd = -1;
    bool FInstalled = false;
    struct sigaction FSaved[3] = {};
};
