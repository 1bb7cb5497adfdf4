// Remote control from the window's side: a client's command, given on a thread of its own as a control
// system's request thread would, runs the panel's own operation on the window thread, so that the window
// shows it, the log has it and the wire carries the bytes a click sends; a command the panel cannot take
// changes nothing and sends nothing.
#include "RemoteFixture.h"

using namespace consoletest;
using namespace std::chrono_literals;

namespace {

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
    EXPECT_EQ(connected.controllerName, window->panel(0).info().Name.toStdString());
    EXPECT_EQ(connected.port, "COM3");
    EXPECT_EQ(connected.grooves.size(), connected.blazes.size());
    EXPECT_TRUE(connected.enabled);

    const std::size_t from = mark(3);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.move(0, 532.5); }));
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
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.jog(0, -2.5); }));
    ASSERT_TRUE(waitForBytes(3, beforeJog, "GU530\r"));
    EXPECT_EQ(window->txtJogStep1->text(), QStringLiteral("2.5"));
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
    EXPECT_FALSE(window->panel(1).connectTimer()->isActive());

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
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.move(0, 600); }));
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
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.startScan(0, {500, 510, 5, 30, 2}); }));
    EXPECT_EQ(window->txtScanStart1->text(), QStringLiteral("500"));
    EXPECT_EQ(window->txtScanEnd1->text(), QStringLiteral("510"));
    EXPECT_EQ(window->txtScanPointRes1->text(), QStringLiteral("5"));
    EXPECT_EQ(window->txtScanPointCount1->text(), QStringLiteral("3"));
    EXPECT_EQ(window->txtScanPeriodCount1->text(), QStringLiteral("2"));
    ASSERT_TRUE(waitForMode(0, PanelMode::Running));
    EXPECT_EQ(bridge->snapshot(0).scanPoints, 3);
    EXPECT_TRUE(paneHas(0, QStringLiteral("Start Scaning...")));

    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.pauseScan(0); }));
    EXPECT_EQ(window->btnScan1->text(), QStringLiteral("CONTINUE"));
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(0).scanPaused; }));
    EXPECT_EQ(command([](ConsoleRemote& r) { return r.pauseScan(0); }).outcome,
              RemoteBridge::Outcome::Refused);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.continueScan(0); }));
    EXPECT_EQ(window->btnScan1->text(), QStringLiteral("PAUSE"));
    // Nothing else while the scan runs.
    EXPECT_EQ(command([](ConsoleRemote& r) { return r.move(0, 600); }).outcome,
              RemoteBridge::Outcome::Refused);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.stopScan(0); }));
    EXPECT_EQ(window->btnScan1->text(), QStringLiteral("SCAN"));
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(0).mode != PanelMode::Running; }));
}

// What a client asks for that already holds is done and sends nothing; a client's scan can be held and
// stopped whatever the selector says since it began; Stop ends a scan at once and says a move cannot be
// halted; a grating change keeps the drive's wavelength.
TEST_F(RemoteControl, RepeatedCommandsSendNothingAndAScanCanAlwaysBeStopped) {
    startRemote({slowController(3)});
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.disconnectPanel(0); }));
    EXPECT_FALSE(window->panel(0).connectTimer()->isActive());
    connectRemotely(0, 3);
    EXPECT_TRUE(bridge->snapshot(0).connected);
    EXPECT_FALSE(bridge->snapshot(0).driveMoving);
    std::size_t from = mark(3);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.connectPanel(0); }));
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.stop(0); }));
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.changeGrating(0, 1); }));
    EXPECT_EQ(receivedSince(3, from), "");

    // A grating change returns to where the drive stands.
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.move(0, 520); }));
    EXPECT_TRUE(bridge->snapshot(0).driveMoving);
    const auto refused = command([](ConsoleRemote& r) { return r.stop(0); });
    EXPECT_EQ(refused.outcome, RemoteBridge::Outcome::Refused);
    EXPECT_NE(refused.reason.find("no command to halt"), std::string::npos) << refused.reason;
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    from = mark(3);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.changeGrating(0, 2); }));
    ASSERT_TRUE(waitForBytes(3, from, "GS2\rGU520\r"));
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    EXPECT_EQ(bridge->snapshot(0).grating, 2);

    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.startScan(0, {500, 510, 5, 30, 1}); }));
    ASSERT_TRUE(waitForMode(0, PanelMode::Running));
    EXPECT_TRUE(bridge->snapshot(0).driveMoving);
    // Paused and stopped by its client at any time; Stop with nothing running is nothing to do.
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.pauseScan(0); }));
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(0).scanPaused; }));
    // Held between points, the drive stands.
    ASSERT_TRUE(waitFor([&] { return !bridge->snapshot(0).driveMoving; }));
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.stop(0); }));
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(0).mode != PanelMode::Running; }));
    EXPECT_EQ(window->btnScan1->text(), QStringLiteral("SCAN"));
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.stop(0); }));
}

TEST_F(RemoteControl, ALostPortIsAFaultUntilTheUserSearchesAgain) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    connectRemotely(0, 3);
    sim.hangup(3);
    ASSERT_TRUE(waitForMode(0, PanelMode::Fault));
    EXPECT_EQ(bridge->snapshot(0).status.rfind("Connection lost. COM3", 0), 0u) << bridge->snapshot(0).status;
    // The search that follows finds nothing: the panel is then merely off.
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.connectPanel(0); }));
    ASSERT_TRUE(waitForLog(0, QStringLiteral("Connection failure!!!")));
    ASSERT_TRUE(waitForMode(0, PanelMode::Off));
}

TEST_F(RemoteControl, AClosingWindowAnswersClientsAndTakesNoMoreWork) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    window->close();
    const auto answer = command([](ConsoleRemote& r) { return r.connectPanel(0); });
    EXPECT_EQ(answer.outcome, RemoteBridge::Outcome::ShutDown);
    EXPECT_EQ(answer.reason, "the console is closing");
    EXPECT_FALSE(window->panel(0).connectTimer()->isActive());
}

// ---- The panel's one state, whoever drives it ----

// A client's Move goes on the drive's grating, whatever radio the user last clicked; MoveWithGrating is how
// a client changes it (selecting the radio), and the change is sent exactly when the drive is on another
// grating, before the move.
TEST_F(RemoteControl, TheGratingIsTheDrivesNotTheRadiosTheUserLastClicked) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    connectRemotely(0, 3);
    click(window->rbGrating12); // chosen, not moved
    const std::size_t from = mark(3);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.move(0, 600); }));
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    EXPECT_EQ(receivedSince(3, from), "GU600\r");
    EXPECT_TRUE(window->rbGrating11->isChecked()) << "after the answer the radio shows the drive's grating";

    const std::size_t change = mark(3);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.moveWithGrating(0, 2, 610); }));
    EXPECT_TRUE(window->rbGrating12->isChecked()) << "the radio shows the change at once";
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    EXPECT_EQ(bridge->snapshot(0).grating, 2);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.moveWithGrating(0, 2, 620); }));
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.moveWithGrating(0, 1, 630); }));
    ASSERT_TRUE(waitForMode(0, PanelMode::On));
    EXPECT_EQ(receivedSince(3, change), "GS2\rGU610\rGU620\rGS1\rGU630\r");
    EXPECT_EQ(sim.grating(3), 1);
    EXPECT_EQ(bridge->snapshot(0).grating, 1);
    EXPECT_TRUE(window->rbGrating11->isChecked());
}

// The pauses of a disconnect and of a grating change are steps of the panel: nothing runs inside them,
// and a command that comes meanwhile is refused and sends nothing.
TEST_F(RemoteControl, NoCommandRunsInsideTheDisconnectOrTheGratingPause) {
    orvanesim::ControllerConfig controller = orvanesim::ControllerConfig::instant(3);
    controller.gratingChangeMs = 400;
    startRemote({controller});
    connectRemotely(0, 3);

    const std::size_t before = mark(3);
    click(window->btnComm1); // the user disconnects: the port closes 300 ms later
    for (auto during : std::vector<std::function<std::string(ConsoleRemote&)>>{
             [](ConsoleRemote& r) {
                 return r.startScan(0, {500, 510, 5, 1, 1});
             },
             [](ConsoleRemote& r) { return r.move(0, 600); },
             [](ConsoleRemote& r) { return r.initialize(0); }}) {
        const auto answer = command(during);
        EXPECT_EQ(answer.outcome, RemoteBridge::Outcome::Refused);
        EXPECT_EQ(answer.reason, "Spectrograph 1 is disconnecting");
    }
    ASSERT_TRUE(waitForLog(0, "Disconnect comm."));
    ASSERT_TRUE(waitForMode(0, PanelMode::Off));
    EXPECT_EQ(receivedSince(3, before), "");
    EXPECT_EQ(window->panel(0).scanState(), 0);

    // A client's Disconnect during a grating change: the move that would follow never goes out.
    connectRemotely(0, 3);
    const std::size_t change = mark(3);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.moveWithGrating(0, 2, 560); }));
    EXPECT_EQ(window->btnMove1->text(), "MOVING");
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.disconnectPanel(0); }));
    ASSERT_TRUE(waitForLog(0, "Disconnect comm."));
    QTest::qWait(600);
    EXPECT_EQ(receivedSince(3, change), "GS2\r");
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    EXPECT_EQ(bridge->snapshot(0).status, "Disconnect comm.");
    EXPECT_EQ(bridge->snapshot(0).mode, PanelMode::Off);
    // Asking for what already holds succeeds and sends nothing.
    EXPECT_TRUE(done([](ConsoleRemote& r) { return r.disconnectPanel(0); }));
}

// No command a client can give opens a message box; while one is open, no client's command runs.
TEST_F(RemoteControl, NoClientCommandOpensAMessageAndNoneRunsWhileOneIsOpen) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    connectRemotely(0, 3);
    const QString end = window->txtScanEnd1->text();
    const auto half = command([](ConsoleRemote& r) { return r.startScan(0, {500, 499.5, 1, 1, 1}); });
    EXPECT_EQ(half.outcome, RemoteBridge::Outcome::Refused);
    EXPECT_EQ(half.reason.rfind("the scan would have 0 points", 0), 0u) << half.reason;
    EXPECT_EQ(window->txtScanEnd1->text(), end);
    EXPECT_TRUE(errors.isEmpty());

    QMessageBox box(QMessageBox::Warning, "Orvane", "a question for the user", QMessageBox::Ok, window.get());
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    ASSERT_TRUE(waitFor([] { return QApplication::activeModalWidget() != nullptr; }));
    const std::size_t before = mark(3);
    EXPECT_EQ(command([](ConsoleRemote& r) { return r.move(0, 600); }, 500ms).outcome,
              RemoteBridge::Outcome::TimedOut);
    QTest::qWait(200);
    EXPECT_EQ(receivedSince(3, before), "");
    box.close();
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.move(0, 600); }));
    ASSERT_TRUE(waitForBytes(3, before, "GU600\r"));
}

// A scan whose panel the selector disables ends as STOP ends it, with a line; its client is not left with
// a scan it cannot stop.
TEST_F(RemoteControl, TheSelectorEndsTheScanOfThePanelItDisables) {
    startRemote({orvanesim::ControllerConfig::instant(3), orvanesim::ControllerConfig::instant(5)});
    dual();
    connectRemotely(1, 3);
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.startScan(1, {500, 600, 1, 30, 1}); }));
    ASSERT_TRUE(waitForMode(1, PanelMode::Running));
    window->rgSelectionItems->button(0)->click();
    ASSERT_TRUE(waitForLog(1, "Scan stopped: Spectrograph 2 disabled by the selector"));
    EXPECT_EQ(window->btnScan2->text(), "SCAN");
    ASSERT_TRUE(waitFor([&] { return bridge->snapshot(1).mode != PanelMode::Running; }));
    const int sent = sim.commandCount(3);
    QTest::qWait(300);
    EXPECT_LE(sim.commandCount(3), sent + 1) << "at most the move under way is answered";
}

// Bytes that nobody asked for are no answer; a reply that is not a finite position is a bad reply. Neither
// writes a record of a move, and the readout keeps the last good value.
TEST_F(RemoteControl, LineNoiseAndBadRepliesWriteNoFalseRecords) {
    startRemote({orvanesim::ControllerConfig::instant(3)});
    connectRemotely(0, 3);
    const QString name = window->lblName1->text();
    const double shown = window->meterCurrWavelength1->Value();
    std::string noise;
    for (int i = 0; i < 20000; ++i)
        noise += char(i * 7919 % 251 + 1);
    sim.inject(3, noise);
    ASSERT_TRUE(waitFor([&] { return paneCountStarting(0, "Unexpected reply. COM3 (") > 0; }));
    QTest::qWait(300);
    EXPECT_EQ(paneCountStarting(0, "Unexpected reply. COM3 ("), 1) << "said once until the next command";
    EXPECT_FALSE(paneHas(0, "Moving Ok"));
    EXPECT_EQ(window->lblName1->text(), name);
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), shown);
    EXPECT_EQ(bridge->snapshot(0).mode, PanelMode::On);

    sim.setFaults(3, [](orvanesim::ControllerConfig& c) { c.silent = true; });
    for (const char* reply : {"GU=OK/WL=1e400/*", "GU=OK/WL=NaN/*", "GU=OK/WL=-inf/*"}) {
        ASSERT_TRUE(done([](ConsoleRemote& r) { return r.move(0, 600); }));
        ASSERT_TRUE(waitForBytes(3, mark(3) - 6, "GU600\r"));
        sim.inject(3, reply);
        ASSERT_TRUE(waitForMode(0, PanelMode::On));
        EXPECT_EQ(bridge->snapshot(0).status, "Bad reply. COM3 (not a position: " + std::string(reply) + ")");
        EXPECT_DOUBLE_EQ(bridge->snapshot(0).wavelength, shown);
        EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), shown);
    }
    EXPECT_FALSE(paneHas(0, "Moving Ok"));

    // A late reply read together with the awaited one: the awaited one, the last, is the answer.
    ASSERT_TRUE(done([](ConsoleRemote& r) { return r.move(0, 600); }));
    sim.inject(3, "GA=OK/*GU=OK/WL=600/*");
    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 600);
}
