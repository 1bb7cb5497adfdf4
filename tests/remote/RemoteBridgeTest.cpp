// The hand-off between client threads and the window thread: jobs run on the window thread only, a job
// withdrawn at its timeout never runs, a shutdown answers everyone, and published states reach the
// event pusher once per change. This thread runs the event loop, as the window thread does.
#include "RemoteBridge.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

bool spinUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

PanelState stateAt(double Wavelength, PanelMode Mode = PanelMode::On) {
    PanelState s;
    s.mode = Mode;
    s.wavelength = Wavelength;
    return s;
}

} // namespace

TEST(RemoteBridge, JobsRunOnTheWindowThreadAndTheirAnswersReachTheCaller) {
    RemoteBridge bridge;
    QThread* window = QThread::currentThread();
    std::atomic<bool> onWindowThread{false};
    auto done = std::async(std::launch::async, [&] {
        return bridge.call(
            [&] {
                onWindowThread = QThread::currentThread() == window;
                return std::string();
            },
            5s);
    });
    auto refused =
        std::async(std::launch::async, [&] { return bridge.call([] { return std::string("busy"); }, 5s); });
    ASSERT_TRUE(spinUntil([&] { return done.wait_for(0s) == std::future_status::ready; }));
    ASSERT_TRUE(spinUntil([&] { return refused.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(done.get().outcome, RemoteBridge::Outcome::Done);
    EXPECT_TRUE(onWindowThread);
    const RemoteBridge::Answer answer = refused.get();
    EXPECT_EQ(answer.outcome, RemoteBridge::Outcome::Refused);
    EXPECT_EQ(answer.reason, "busy");
}

TEST(RemoteBridge, AnErrorInAJobIsTheCallersRefusalNotTheWindowsEnd) {
    RemoteBridge bridge;
    auto answer = std::async(std::launch::async, [&] {
        return bridge.call([]() -> std::string { throw std::runtime_error("division by zero"); }, 5s);
    });
    ASSERT_TRUE(spinUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    const RemoteBridge::Answer a = answer.get();
    EXPECT_EQ(a.outcome, RemoteBridge::Outcome::Refused);
    EXPECT_EQ(a.reason, "division by zero");
}

// The window thread is held up (a modal message, a long handler): the caller gives up at its timeout, and
// the job it gave up on must not run behind its back when the window thread comes back.
TEST(RemoteBridge, AJobNotTakenBeforeItsTimeoutNeverRuns) {
    RemoteBridge bridge;
    std::atomic<bool> ran{false};
    const RemoteBridge::Answer answer = std::async(std::launch::async, [&] {
                                            return bridge.call(
                                                [&] {
                                                    ran = true;
                                                    return std::string();
                                                },
                                                100ms);
                                        }).get(); // this thread does not run its loop meanwhile
    EXPECT_EQ(answer.outcome, RemoteBridge::Outcome::TimedOut);
    spinUntil([] { return false; }, 200ms);
    EXPECT_FALSE(ran);
}

TEST(RemoteBridge, AShutdownAnswersWaitingCallersRefusesLaterOnesAndEndsThePusher) {
    RemoteBridge bridge;
    std::atomic<bool> ran{false};
    auto waiting = std::async(std::launch::async, [&] {
        return bridge.call(
            [&] {
                ran = true;
                return std::string();
            },
            10s);
    });
    auto pusher = std::async(std::launch::async, [&] {
        std::vector<RemoteBridge::Change> changes;
        return bridge.waitForChanges(changes);
    });
    std::this_thread::sleep_for(50ms); // both are waiting now
    bridge.shutdown("the console is closing");
    ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
    const RemoteBridge::Answer answer = waiting.get();
    EXPECT_EQ(answer.outcome, RemoteBridge::Outcome::ShutDown);
    EXPECT_EQ(answer.reason, "the console is closing");
    ASSERT_EQ(pusher.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(pusher.get());

    EXPECT_EQ(bridge.call([] { return std::string(); }, 1s).outcome, RemoteBridge::Outcome::ShutDown);
    spinUntil([] { return false; }, 100ms);
    EXPECT_FALSE(ran);
}

TEST(RemoteBridge, ThePusherGetsEachChangeWithItsFieldsAndNothingForAnUnchangedState) {
    RemoteBridge bridge;
    std::vector<RemoteBridge::Change> changes;
    bridge.publish(0, stateAt(500, PanelMode::Off));
    bridge.publish(0, stateAt(500, PanelMode::Off)); // the same again: no change
    bridge.publish(0, stateAt(510, PanelMode::Off)); // merges with the first: the mode is the same
    PanelState init = stateAt(510, PanelMode::Init);
    bridge.publish(0, init); // a mode of its own, however briefly it lasted
    PanelState moving = stateAt(532.5, PanelMode::Moving);
    moving.status = "Moving To 532.5";
    bridge.publish(0, moving);
    PanelState point;
    point.scanPoint = 1;
    bridge.publish(1, point);
    ASSERT_TRUE(bridge.waitForChanges(changes));
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].panel, 0);
    EXPECT_EQ(changes[0].state, stateAt(510, PanelMode::Off));
    EXPECT_EQ(changes[0].fields, unsigned(fieldWavelength));
    EXPECT_EQ(changes[1].state, init);
    EXPECT_EQ(changes[1].fields, unsigned(fieldMode));
    EXPECT_EQ(changes[2].state, moving);
    EXPECT_EQ(changes[2].fields, unsigned(fieldMode | fieldStatus | fieldWavelength));
    EXPECT_EQ(changes[3].panel, 1);
    EXPECT_EQ(changes[3].fields, unsigned(fieldScanPoint));
    EXPECT_EQ(bridge.snapshot(0), moving);

    // Each attribute of a client's is told of its own change, and a quality's inputs of theirs.
    PanelState grating = moving;
    grating.grating = 2;
    grating.blazes = {500};
    grating.driveMoving = true;
    bridge.publish(0, grating);
    ASSERT_TRUE(bridge.waitForChanges(changes));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].fields, unsigned(fieldGrating | fieldGratingTable | fieldDriveMoving));
    PanelState lost = grating;
    lost.connected = true;
    lost.enabled = true;
    lost.scanPass = 1;
    bridge.publish(0, lost);
    ASSERT_TRUE(bridge.waitForChanges(changes));
    EXPECT_EQ(changes[0].fields, unsigned(fieldConnected | fieldEnabled | fieldScanPass));

    // A pusher far behind a panel that flips its mode gets a bounded list, ending on the latest state.
    for (int i = 0; i < 10000; ++i)
        bridge.publish(0, stateAt(500 + i, i % 2 ? PanelMode::Moving : PanelMode::On));
    ASSERT_TRUE(bridge.waitForChanges(changes));
    EXPECT_LE(changes.size(), 256u);
    EXPECT_EQ(changes.back().state, stateAt(500 + 9999, PanelMode::Moving));
}

// Many clients at once, reading, commanding and being pushed to, while the window thread publishes: what
// ThreadSanitizer checks.
TEST(RemoteBridge, ManyClientsCommandAndReadWhileTheWindowPublishes) {
    RemoteBridge bridge;
    constexpr int clients = 6;
    constexpr int callsEach = 40;
    int counter = 0; // only ever touched on the window thread
    std::atomic<int> finished{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            for (int i = 0; i < callsEach; ++i) {
                const PanelState s = bridge.snapshot(c % 2);
                (void)s;
                if (bridge.call([&] { return ++counter, std::string(); }, 5s).outcome ==
                    RemoteBridge::Outcome::Done)
                    ++done;
            }
            ++finished;
        });
    std::atomic<int> pushed{0};
    std::thread pusher([&] {
        std::vector<RemoteBridge::Change> changes;
        while (bridge.waitForChanges(changes))
            pushed += static_cast<int>(changes.size());
    });
    int published = 0;
    ASSERT_TRUE(spinUntil([&] {
        ++published;
        bridge.publish(published % 2, stateAt(published));
        return finished == clients;
    }));
    for (std::thread& t : threads)
        t.join();
    bridge.shutdown("done");
    pusher.join();
    EXPECT_EQ(done, clients * callsEach);
    EXPECT_EQ(counter, clients * callsEach);
    EXPECT_GT(pushed, 0);
}
