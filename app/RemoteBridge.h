#pragma once
// The meeting point of the window thread and the threads of a remote client (a control system's request
// threads and its event pusher). Clients hand work to the window thread and wait a bounded time for its
// answer; the window thread publishes each panel's state, which clients read without waiting for it.
// The window thread never waits for a client thread.

#include <QObject>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What a client sees of a spectrograph panel.
enum class PanelMode : std::uint8_t { Off, Init, On, Moving, Running, Fault };

struct PanelState {
    PanelMode mode = PanelMode::Off;
    std::string status; // the panel's last log line
    double wavelength = 0;
    std::string controllerName;
    std::string port;
    int grating = 0;
    std::vector<int> grooves;
    std::vector<double> blazes;
    int scanPoint = 0;
    int scanPoints = 0;
    int scanPass = 0;
    bool scanPaused = false;
    bool enabled = false;
    bool connected = false;   // the COMM. lamp is on: the controller answers on its port
    bool driveMoving = false; // a move, jog, grating change or initialisation is under way, or a scan runs

    bool operator==(const PanelState&) const = default;
};

// The parts of a panel's state that clients are told of when they change.
enum PanelField : std::uint32_t {
    fieldMode = 1u << 0,
    fieldStatus = 1u << 1,
    fieldWavelength = 1u << 2,
    fieldControllerName = 1u << 3,
    fieldScanPoint = 1u << 4,
    fieldPort = 1u << 5,
    fieldGrating = 1u << 6,
    fieldGratingTable = 1u << 7, // grooves and blazes
    fieldScanPoints = 1u << 8,
    fieldScanPass = 1u << 9,
    fieldScanPaused = 1u << 10,
    fieldEnabled = 1u << 11,
    fieldConnected = 1u << 12,
    fieldDriveMoving = 1u << 13,
};

class RemoteBridge : public QObject {
    Q_OBJECT
public:
    static constexpr int PanelCount = 2;

    // Lives on the thread that creates it: the window thread.
    explicit RemoteBridge(QObject* parent = nullptr);
    ~RemoteBridge() override;

    // ---- Client threads ----
    // Runs Job on the window thread; Job returns an empty text when it did its work, otherwise why it
    // would not. A job not started within Timeout is withdrawn and never runs; one already running is
    // left to finish, and the caller is told it timed out.
    enum class Outcome : std::uint8_t { Done, Refused, TimedOut, ShutDown };
    struct Answer {
        Outcome outcome;
        std::string reason;
    };
    Answer call(std::function<std::string()> Job, std::chrono::milliseconds Timeout);

    // The state last published for panel Index.
    PanelState snapshot(int Index) const;

    // Waits until published states differ from those last taken here, then hands them over with the fields
    // that changed, oldest first. Every change of mode is handed over on its own, so a client sees each
    // state a panel passed through however briefly; other changes merge into the one before them.
    // Returns false once the bridge is shut down.
    struct Change {
        int panel;
        PanelState state;
        std::uint32_t fields;
    };
    bool waitForChanges(std::vector<Change>& Changes);

    // ---- Window thread ----
    void publish(int Index, const PanelState& State);
    // While Hold says so (a message box waits for the user, say), no job runs: they wait in the queue, and
    // their callers time out as they would for a busy window.
    void setHold(std::function<bool()> Hold) { FHold = std::move(Hold); }

    // Any thread: no job runs from now on; waiting callers are answered ShutDown and waitForChanges returns
    // false. Reason is what later callers are told.
    void shutdown(const std::string& Reason);
    bool isShutDown() const;

protected:
    bool event(QEvent* Event) override;

private:
    struct Ticket {
        std::function<std::string()> job;
        enum State : std::uint8_t { Queued, Running, Done, Withdrawn, Cancelled } state = Queued;
        std::string reason;
    };
    void runQueued();

    std::function<bool()> FHold;
    bool FRetryArmed = false;

    mutable std::mutex FMutex;
    std::condition_variable FAnswered; // a ticket has left Queued or Running
    std::condition_variable FChanged;  // a publish or the shutdown
    std::deque<std::shared_ptr<Ticket>> FQueue;
    bool FWakePosted = false;
    bool FShutDown = false;
    std::string FShutDownReason;
    std::array<PanelState, PanelCount> FPublished{};
    std::deque<Change> FUnsent; // oldest first
    // A pusher that falls this far behind gets the rest merged: it is told the latest state, not each one.
    static constexpr std::size_t MaxUnsent = 256;
};

// Which fields differ between two states of a panel.
std::uint32_t changedFields(const PanelState& Before, const PanelState& After);
