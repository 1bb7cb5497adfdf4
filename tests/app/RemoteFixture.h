#pragma once
// The console with remote control set up as the program does (bridge and window side), over the
// controller simulator: clients' commands are given from a thread of their own, as a control system's
// request threads give them, while the test's thread runs the window's event loop.

#include "ConsoleFixture.h"
#include "ConsoleRemote.h"
#include "RemoteBridge.h"

#include <future>

namespace consoletest {

using namespace std::chrono_literals;

class RemoteControl : public ConsoleFixture {
protected:
    void startRemote(const std::vector<orvanesim::ControllerConfig>& Controllers) {
        startConsole(Controllers);
        bridge = std::make_unique<RemoteBridge>();
        remote = std::make_unique<ConsoleRemote>(*window, *bridge);
    }
    void TearDown() override {
        if (bridge)
            bridge->shutdown("test over");
        remote.reset();
        bridge.reset();
        ConsoleFixture::TearDown();
    }

    // Gives Operation as a client would: from another thread, through the bridge, while this thread runs
    // the window's event loop.
    RemoteBridge::Answer command(std::function<std::string(ConsoleRemote&)> Operation,
                                 std::chrono::milliseconds Timeout = 5s) {
        ConsoleRemote* r = remote.get();
        auto answer = std::async(std::launch::async, [this, r, Operation, Timeout] {
            return bridge->call([r, Operation] { return Operation(*r); }, Timeout);
        });
        EXPECT_TRUE(waitFor([&] { return answer.wait_for(0s) == std::future_status::ready; }));
        return answer.get();
    }
    // Whether Operation, given as a client gives it, was done; else what came back instead.
    ::testing::AssertionResult done(std::function<std::string(ConsoleRemote&)> Operation) {
        const RemoteBridge::Answer answer = command(std::move(Operation));
        if (answer.outcome == RemoteBridge::Outcome::Done)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "outcome " << int(answer.outcome) << ": " << answer.reason;
    }
    bool waitForMode(int Index, PanelMode Mode) {
        return waitFor([&] { return bridge->snapshot(Index).mode == Mode; });
    }
    void connectRemotely(int Index, int Com) {
        ASSERT_TRUE(done([Index](ConsoleRemote& r) { return r.connectPanel(Index); }));
        ASSERT_TRUE(waitForMode(Index, PanelMode::On)) << paneLines(Index).join(u'|').toStdString();
        ASSERT_TRUE(waitForLog(Index, QStringLiteral("Connection Successs. COM%1").arg(Com)));
    }

    std::unique_ptr<RemoteBridge> bridge;
    std::unique_ptr<ConsoleRemote> remote;
};

} // namespace consoletest
