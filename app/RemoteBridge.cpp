#include "RemoteBridge.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Wakes the window thread; it carries nothing, the queue is read under the bridge's own lock (Qt's
// internal lock is invisible to ThreadSanitizer).
const QEvent::Type WakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

std::uint32_t changedFields(const PanelState& Before, const PanelState& After) {
    std::uint32_t fields = 0;
    if (Before.mode != After.mode)
        fields |= fieldMode;
    if (Before.status != After.status)
        fields |= fieldStatus;
    // Bit for bit, so that a NaN shown twice is not a change and -0 after +0 is.
    if (std::memcmp(&Before.wavelength, &After.wavelength, sizeof(double)) != 0)
        fields |= fieldWavelength;
    if (Before.controllerName != After.controllerName)
        fields |= fieldControllerName;
    if (Before.scanPoint != After.scanPoint)
        fields |= fieldScanPoint;
    const std::pair<bool, PanelField> others[] = {
        {Before.port != After.port, fieldPort},
        {Before.grating != After.grating, fieldGrating},
        {Before.grooves != After.grooves || Before.blazes != After.blazes, fieldGratingTable},
        {Before.scanPoints != After.scanPoints, fieldScanPoints},
        {Before.scanPass != After.scanPass, fieldScanPass},
        {Before.scanPaused != After.scanPaused, fieldScanPaused},
        {Before.enabled != After.enabled, fieldEnabled},
        {Before.connected != After.connected, fieldConnected},
        {Before.driveMoving != After.driveMoving, fieldDriveMoving},
    };
    for (const auto& [changed, field] : others)
        if (changed)
            fields |= field;
    return fields;
}

RemoteBridge::RemoteBridge(QObject* parent) : QObject(parent) {}

RemoteBridge::~RemoteBridge() {
    shutdown("the console has closed");
}

RemoteBridge::Answer RemoteBridge::call(std::function<std::string()> Job, std::chrono::milliseconds Timeout) {
    auto ticket = std::make_shared<Ticket>();
    ticket->job = std::move(Job);
    std::unique_lock lock(FMutex);
    if (FShutDown)
        return {Outcome::ShutDown, FShutDownReason};
    FQueue.push_back(ticket);
    if (!FWakePosted) {
        FWakePosted = true;
        // Posted under our lock, which the window thread takes before it reads the queue.
        QCoreApplication::postEvent(this, new QEvent(WakeEvent));
    }
    const bool answered = FAnswered.wait_for(
        lock, Timeout, [&] { return ticket->state == Ticket::Done || ticket->state == Ticket::Cancelled; });
    if (answered) {
        if (ticket->state == Ticket::Cancelled)
            return {Outcome::ShutDown, FShutDownReason};
        return {ticket->reason.empty() ? Outcome::Done : Outcome::Refused, ticket->reason};
    }
    if (ticket->state == Ticket::Queued)
        ticket->state = Ticket::Withdrawn; // never runs now
    return {Outcome::TimedOut, {}};
}

bool RemoteBridge::event(QEvent* Event) {
    {
        std::lock_guard lock(FMutex); // pairs with the post in call(): the event was made on its thread
    }
    if (Event->type() != WakeEvent)
        return QObject::event(Event);
    runQueued();
    return true;
}

// One ticket at a time, taken off the queue before it runs.
void RemoteBridge::runQueued() {
    for (;;) {
        if (FHold && FHold()) {
            // Looked at again shortly: the hold ends without any event of ours.
            if (!FRetryArmed) {
                FRetryArmed = true;
                QTimer::singleShot(20, this, [this] {
                    FRetryArmed = false;
                    runQueued();
                });
            }
            std::lock_guard lock(FMutex);
            FWakePosted = false;
            return;
        }
        std::shared_ptr<Ticket> ticket;
        {
            std::lock_guard lock(FMutex);
            FWakePosted = false;
            while (!FQueue.empty() && !ticket) {
                ticket = std::move(FQueue.front());
                FQueue.pop_front();
                if (ticket->state != Ticket::Queued)
                    ticket.reset(); // withdrawn by its caller
            }
            if (!ticket)
                return;
            ticket->state = Ticket::Running;
        }
        std::string reason;
        try {
            reason = ticket->job();
        } catch (const std::exception& error) {
            reason = error.what();
        } catch (...) {
            reason = "the console failed to carry out the command";
        }
        {
            std::lock_guard lock(FMutex);
            ticket->reason = std::move(reason);
            ticket->state = Ticket::Done;
            ticket->job = nullptr; // what it captured goes with the window thread's work
        }
        FAnswered.notify_all();
    }
}

PanelState RemoteBridge::snapshot(int Index) const {
    std::lock_guard lock(FMutex);
    return FPublished[Index];
}

void RemoteBridge::publish(int Index, const PanelState& State) {
    {
        std::lock_guard lock(FMutex);
        const std::uint32_t fields = changedFields(FPublished[Index], State);
        if (!fields)
            return;
        FPublished[Index] = State;
        // The last unsent change of this panel takes this one in, unless the mode changed since it.
        auto last =
            std::find_if(FUnsent.rbegin(), FUnsent.rend(), [&](const Change& c) { return c.panel == Index; });
        const bool merge = last != FUnsent.rend() && (!(fields & fieldMode) || FUnsent.size() >= MaxUnsent);
        if (merge) {
            last->state = State;
            last->fields |= fields;
        } else {
            FUnsent.push_back({Index, State, fields});
        }
    }
    FChanged.notify_all();
}

bool RemoteBridge::waitForChanges(std::vector<Change>& Changes) {
    Changes.clear();
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [&] { return FShutDown || !FUnsent.empty(); });
    if (FShutDown)
        return false;
    Changes.assign(FUnsent.begin(), FUnsent.end());
    FUnsent.clear();
    return true;
}

void RemoteBridge::shutdown(const std::string& Reason) {
    {
        std::lock_guard lock(FMutex);
        if (FShutDown)
            return;
        FShutDown = true;
        FShutDownReason = Reason;
        for (const auto& ticket : FQueue)
            if (ticket->state == Ticket::Queued)
                ticket->state = Ticket::Cancelled;
        FQueue.clear();
    }
    FAnswered.notify_all();
    FChanged.notify_all();
}

bool RemoteBridge::isShutDown() const {
    std::lock_guard lock(FMutex);
    return FShutDown;
}
