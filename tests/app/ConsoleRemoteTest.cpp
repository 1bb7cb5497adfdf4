// Remote control from the window's side: a client's command, given on a thread of its own as a control
// system's request thread would, runs the panel's own operation on the window thread, so that the window
// shows it, the log has it and the wire carries the bytes a click sends; a command the panel cannot take
// changes nothing and sends nothing.
#include "ConsoleRemote.h"
#include "ConsoleFixture.h"
#include "RemoteBridge.h"

#include <future>

using namespace consoletest;
using namespace std::chrono_literals;

namespace {

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
    RemoteBridge::Answer command(std::function<std::string(ConsoleRemote&)> Operation) {
        ConsoleRemote* r = remote.get();
        auto answer = std::async(std::launch::async, [this, r, Operation] {
            return bridge->call([r, Operation] { return Operation(*r); }, 5s);
        });
        EXPECT_TRUE(waitFor([&] { return answer.wait_for(0s) == std::future_status::ready; }));
        return answer.get();
    }
    bool waitForMode(int Index, PanelMode Mode) {
        return waitFor([&] { return bridge->snapshot(Index).mode == Mode; });
    }
    void connectRemotely(int Index, int Com) {
        ASSERT_EQ(command([Index](ConsoleRemote& r) { return r.connectPanel(Index); }).outcome,
                  RemoteBridge::Outcome::Done);
        ASSERT_TRUE(waitForMode(Index, PanelMode::On)) << paneLines(Index).join(u'|').toStdString();
        ASSERT_TRUE(waitForLog(Index, QStringLiteral("Connection Successs. COM%1").arg(Com)));
    }

    std::unique_ptr<RemoteBridge> bridge;
    std::unique_ptr<ConsoleRemote> remote;
};

orvanesim::ControllerConfig slowController(int Com) {
    orvanesim::ControllerConfig c = orvanesim::ControllerConfig::instant(Com);
    c.nmPerSecond = 100; // a 100 nm move takes a second
    return c;
}

} // namespace

TEST_F(RemoteControl, AClientsMoveIsTheClicksMoveOnTheWireInTheWindowAndInTheLog) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    connectRemotely(0, 3);
    const PanelState connected = bridge->snapshot(0);
    EXPECT_EQ(connected.controllerName, window->FSpectrograph[0].Name.toStdString());
    EXPECT_EQ(connected.port, "COM3");
    EXPECT_EQ(connected.grooves.size(), connected.blazes.size());
    EXPECT_TRUE(connected.enabled);

    const std::size_t from = mark(3);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.move(0, 532.5); }).outcome,
              RemoteBridge::Outcome::Done);
    ASSERT_TRUE(waitForBytes(3, from, "GU532.5\r"));
    ASSERT_TRUE(waitForLog(0, QStringLiteral("Moving Ok")));
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    EXPECT_EQ(window->txtMoveWavelength1->text(), QStringLiteral("532.5"));
    EXPECT_DOUBLE_EQ(static_cast<double>(window->meterCurrWavelength1->Value()), 532.5);
    EXPECT_TRUE(paneHas(0, QStringLiteral("Moving To 532.5")));
    const PanelState moved = bridge->snapshot(0);
    EXPECT_DOUBLE_EQ(moved.wavelength, 532.5);
    EXPECT_EQ(moved.status, "Moving Ok");

    // A jog down by 2.5 from the move field, as the minus button would.
    const std::size_t beforeJog = mark(3);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.jog(0, -2.5); }).outcome, RemoteBridge::Outcome::Done);
    ASSERT_TRUE(waitForBytes(3, beforeJog, "GU530\r"));
    EXPECT_EQ(window->txtJogStep1->text(), QStringLiteral("2.5"));
}

TEST_F(RemoteControl, AGratingChangeSelectsTheRadioAndTheWindowChangesItBeforeTheMove) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    connectRemotely(0, 3);
    const std::size_t from = mark(3);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.moveWithGrating(0, 2, 600); }).outcome,
              RemoteBridge::Outcome::Done);
    EXPECT_TRUE(window->rbGrating12->isChecked());
    ASSERT_TRUE(waitForBytes(3, from, "GS2\rGU600\r"));
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    EXPECT_EQ(bridge->snapshot(0).grating, 2);
}

TEST_F(RemoteControl, ACommandThePanelCannotTakeNowChangesNothingAndSendsNothing) {
    startRemote({slowController(3), orvanesim::ControllerConfig::instant(5)});
    // Not connected yet.
    auto refused = command([](ConsoleRemote& r) { return r.move(0, 600); });
    EXPECT_EQ(refused.outcome, RemoteBridge::Outcome::Refused);
    EXPECT_NE(refused.reason.find("not connected"), std::string::npos) << refused.reason;
    // Panel 2 is disabled by the selector at start.
    refused = command([](ConsoleRemote& r) { return r.connectPanel(1); });
    EXPECT_NE(refused.reason.find("disabled by the selector"), std::string::npos) << refused.reason;
    EXPECT_FALSE(window->tmrConnect2->isActive());

    connectRemotely(0, 3);
    const QString field = window->txtMoveWavelength1->text();
    const QString resolution = window->txtScanPointRes1->text();
    const std::size_t idle = mark(3);
    for (auto bad : std::vector<std::function<std::string(ConsoleRemote&)>>{
             [](ConsoleRemote& r) { return r.move(0, std::nan("")); },
             [](ConsoleRemote& r) { return r.move(0, -1); },
             [](ConsoleRemote& r) { return r.moveWithGrating(0, 4, 600); },
             [](ConsoleRemote& r) { return r.moveWithGrating(0, 1.5, 600); },
             [](ConsoleRemote& r) {
                 return r.startScan(0, {500, 510, 0, 1, 1});
             },
             [](ConsoleRemote& r) {
                 return r.startScan(0, {510, 500, 5, 1, 1});
             },
             [](ConsoleRemote& r) {
                 return r.startScan(0, {500, 510, 5, 1, 0.5});
             },
             [](ConsoleRemote& r) { return r.pauseScan(0); },
         })
        EXPECT_EQ(command(bad).outcome, RemoteBridge::Outcome::Refused);
    EXPECT_EQ(window->txtMoveWavelength1->text(), field);
    EXPECT_EQ(window->txtScanPointRes1->text(), resolution);

    // Busy: a move of 100 nm takes a second; a second move meanwhile is refused and sends nothing.
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.move(0, 600); }).outcome, RemoteBridge::Outcome::Done);
    EXPECT_EQ(bridge->snapshot(0).mode, PanelMode::Moving); // as soon as the client hears back
    ASSERT_TRUE(waitForBytes(3, idle, "GU600\r"));
    refused = command([](ConsoleRemote& r) { return r.move(0, 700); });
    EXPECT_EQ(refused.outcome, RemoteBridge::Outcome::Refused);
    EXPECT_NE(refused.reason.find("busy"), std::string::npos) << refused.reason;
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    EXPECT_EQ(receivedSince(3, idle), "GU600\r");
    EXPECT_EQ(window->txtMoveWavelength1->text(), QStringLiteral("600"));

    // Dual enables panel 2 for clients too.
    click(qobject_cast<QAbstractButton*>(window->rgSelectionItems->button(2)));
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(1).enabled; }));
    connectRemotely(1, 5);
}

TEST_F(RemoteControl, AClientsScanFillsTheScanBoxAndPausesContinuesAndStopsAsTheButtonsDo) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    connectRemotely(0, 3);
    ASSERT_EQ(command([](ConsoleRemote& r) {
                  return r.startScan(0, {500, 510, 5, 30, 2});
              }).outcome,
              RemoteBridge::Outcome::Done);
    EXPECT_EQ(window->txtScanStart1->text(), QStringLiteral("500"));
    EXPECT_EQ(window->txtScanEnd1->text(), QStringLiteral("510"));
    EXPECT_EQ(window->txtScanPointRes1->text(), QStringLiteral("5"));
    EXPECT_EQ(window->txtScanPointCount1->text(), QStringLiteral("3"));
    EXPECT_EQ(window->txtScanPeriodCount1->text(), QStringLiteral("2"));
    ASSERT_TRUE(waitForMode(0, PanelMode::Running));
    EXPECT_EQ(bridge->snapshot(0).scanPoints, 3);
    EXPECT_TRUE(paneHas(0, QStringLiteral("Start Scaning...")));

    ASSERT_EQ(command([](ConsoleRemote& r) { return r.pauseScan(0); }).outcome, RemoteBridge::Outcome::Done);
    EXPECT_EQ(window->btnScan1->text(), QStringLiteral("CONTINUE"));
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(0).scanPaused; }));
    EXPECT_EQ(command([](ConsoleRemote& r) { return r.pauseScan(0); }).outcome,
              RemoteBridge::Outcome::Refused);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.continueScan(0); }).outcome,
              RemoteBridge::Outcome::Done);
    EXPECT_EQ(window->btnScan1->text(), QStringLiteral("PAUSE"));
    // Nothing else while the scan runs.
    EXPECT_EQ(command([](ConsoleRemote& r) { return r.move(0, 600); }).outcome,
              RemoteBridge::Outcome::Refused);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.stopScan(0); }).outcome, RemoteBridge::Outcome::Done);
    EXPECT_EQ(window->btnScan1->text(), QStringLiteral("SCAN"));
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(0).mode != PanelMode::Running; }));
}

// What a client asks for that already holds is done and sends nothing; a client's scan can be held and
// stopped whatever the selector says since it began; Stop ends a scan at once and says a move cannot be
// halted; a grating change keeps the drive's wavelength.
TEST_F(RemoteControl, RepeatedCommandsSendNothingAndAScanStopsWhateverTheSelector) {
    startRemote({slowController(3)});
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.disconnectPanel(0); }).outcome,
              RemoteBridge::Outcome::Done);
    EXPECT_FALSE(window->tmrConnect1->isActive());
    connectRemotely(0, 3);
    EXPECT_TRUE(bridge->snapshot(0).connected);
    EXPECT_FALSE(bridge->snapshot(0).driveMoving);
    std::size_t from = mark(3);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.connectPanel(0); }).outcome,
              RemoteBridge::Outcome::Done);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.stop(0); }).outcome, RemoteBridge::Outcome::Done);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.changeGrating(0, 1); }).outcome,
              RemoteBridge::Outcome::Done);
    EXPECT_EQ(receivedSince(3, from), "");

    // A grating change returns to where the drive stands.
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.move(0, 520); }).outcome, RemoteBridge::Outcome::Done);
    EXPECT_TRUE(bridge->snapshot(0).driveMoving);
    const auto refused = command([](ConsoleRemote& r) { return r.stop(0); });
    EXPECT_EQ(refused.outcome, RemoteBridge::Outcome::Refused);
    EXPECT_NE(refused.reason.find("no command to halt"), std::string::npos) << refused.reason;
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    from = mark(3);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.changeGrating(0, 2); }).outcome,
              RemoteBridge::Outcome::Done);
    ASSERT_TRUE(waitForBytes(3, from, "GS2\rGU520\r"));
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    EXPECT_EQ(bridge->snapshot(0).grating, 2);

    ASSERT_EQ(command([](ConsoleRemote& r) {
                  return r.startScan(0, {500, 510, 5, 30, 1});
              }).outcome,
              RemoteBridge::Outcome::Done);
    ASSERT_TRUE(waitForMode(0, PanelMode::Running));
    EXPECT_TRUE(bridge->snapshot(0).driveMoving);
    // The user chooses spectrograph 2 meanwhile: panel 1 is disabled, its scan still held and stopped.
    click(qobject_cast<QAbstractButton*>(window->rgSelectionItems->button(1)));
    ASSERT_TRUE(waitFor([&] { return !bridge->snapshot(0).enabled; }));
    EXPECT_NE(
        command([](ConsoleRemote& r) { return r.move(0, 600); }).reason.find("disabled by the selector"),
        std::string::npos);
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.pauseScan(0); }).outcome, RemoteBridge::Outcome::Done);
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(0).scanPaused; }));
    // Held between points, the drive stands.
    ASSERT_TRUE(waitFor([&] { return !bridge->snapshot(0).driveMoving; }));
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.stop(0); }).outcome, RemoteBridge::Outcome::Done);
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(0).mode != PanelMode::Running; }));
    EXPECT_EQ(window->btnScan1->text(), QStringLiteral("SCAN"));
}

TEST_F(RemoteControl, ALostPortIsAFaultUntilTheUserSearchesAgain) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    connectRemotely(0, 3);
    sim.hangup(3);
    ASSERT_TRUE(waitForMode(0, PanelMode::Fault));
    EXPECT_EQ(bridge->snapshot(0).status.rfind("Connection lost. COM3", 0), 0u) << bridge->snapshot(0).status;
    // The search that follows finds nothing: the panel is then merely off.
    ASSERT_EQ(command([](ConsoleRemote& r) { return r.connectPanel(0); }).outcome,
              RemoteBridge::Outcome::Done);
    ASSERT_TRUE(waitForLog(0, QStringLiteral("Connection failure!!!")));
    ASSERT_TRUE(waitForMode(0, PanelMode::Off));
}

TEST_F(RemoteControl, AClosingWindowAnswersClientsAndTakesNoMoreWork) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    window->close();
    const auto answer = command([](ConsoleRemote& r) { return r.connectPanel(0); });
    EXPECT_EQ(answer.outcome, RemoteBridge::Outcome::ShutDown);
    EXPECT_EQ(answer.reason, "the console is closing");
    EXPECT_FALSE(window->tmrConnect1->isActive());
}
