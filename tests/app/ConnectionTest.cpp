// Finding a controller, greeting it and letting it go, through the COMM. buttons of the real window.
#include "ConsoleFixture.h"

#include <QLabel>
#include <QTemporaryDir>

using namespace consoletest;

using Connection = ConsoleFixture;

// The greeting: the status reply, then the name and the grating table, whose rows are filled by count.
TEST_F(Connection, FindsTheControllerOnCom3AfterTryingCom1AndCom2AndFillsThePanel) {
    orvanesim::ControllerConfig controller = controllerNamed(3, "TWIN-GRATING");
    controller.startWavelength = 432.25;
    controller.gratings = {{1200, 500.0}, {600, 1250.5}};
    startConsole({controller});
    ASSERT_FALSE(lampOn(0));
    window->txtGroove13->setText("77"); // a row that is not fitted keeps what it showed

    connectPanel(0, 3);
    const QStringList expected{"Try to connect...", "Try to connect COM1", "Try to connect COM2",
                               "Try to connect COM3", "Connection Successs. COM3"};
    EXPECT_EQ(paneLines(0).mid(0, 5), expected);
    // The status query that found the port, then the info query of the greeting.
    EXPECT_TRUE(waitForBytes(3, 0, "IA\rIB\r")) << sim.received(3);
    EXPECT_FALSE(window->panel(0).connectTimer()->isActive());
    EXPECT_EQ(window->panel(0).connectStep(), 0);
    EXPECT_FALSE(window->panel(0).busy());
    // The status reply filled the readout before success, so the target starts at the drive's position.
    EXPECT_EQ(window->txtMoveWavelength1->text(), "432.25");
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 432.25);
    EXPECT_TRUE(paneLines(1).isEmpty()); // the other panel heard nothing

    ASSERT_TRUE(waitFor([&] { return window->txtGroove12->text() == "600"; }));
    EXPECT_EQ(window->lblName1->text(), "TWIN-GRATING");
    EXPECT_EQ(window->panel(0).info().GratingCount, 2);
    EXPECT_EQ(window->txtGroove11->text(), "1200");
    EXPECT_EQ(window->txtBlaze11->text(), "500");
    EXPECT_EQ(window->txtBlaze12->text(), "1250.5");
    EXPECT_EQ(window->txtGroove13->text(), "0"); // entry 2 of the table is shown whatever the count
    EXPECT_EQ(window->txtBlaze13->text(), "0");
    for (QWidget* fitted :
         std::initializer_list<QWidget*>{window->rbGrating11, window->txtGroove11, window->txtBlaze11,
                                         window->rbGrating12, window->txtGroove12, window->txtBlaze12})
        EXPECT_TRUE(fitted->isEnabled()) << fitted->objectName().toStdString();
    for (QWidget* missing :
         std::initializer_list<QWidget*>{window->rbGrating13, window->txtGroove13, window->txtBlaze13})
        EXPECT_FALSE(missing->isEnabled()) << missing->objectName().toStdString();
}

TEST_F(Connection, DisconnectWritesNothingAndClosesThePort) {
    startConnected();
    ASSERT_TRUE(waitForBytes(3, 0, "IA\rIB\r"));
    ASSERT_TRUE(waitFor([&] { return window->txtGroove11->text() == "1200"; }));
    const std::size_t before = mark(3);

    click(window->btnComm1);
    // The port closes after its pause; clicks and clients meanwhile are told the panel is disconnecting.
    EXPECT_EQ(window->panel(0).mode(), pmDisconnecting);
    EXPECT_EQ(window->panel(0).move(510), "Spectrograph 1 is disconnecting");
    ASSERT_TRUE(waitForLog(0, "Disconnect comm."));
    EXPECT_EQ(paneLines(0).last(), "Disconnect comm.");
    EXPECT_EQ(window->lblName1->text(), "Disconnected");
    EXPECT_FALSE(lampOn(0));
    EXPECT_FALSE(window->panel(0).comm()->PortOpened());
    QTest::qWait(100);
    EXPECT_EQ(receivedSince(3, before), "");

    // A closed port takes no commands: a jog now is refused with a line, and nothing claims a move.
    type(window->txtMoveWavelength1, "510");
    click(window->btnJogPlus1);
    click(window->btnMove1);
    EXPECT_EQ(paneLines(0).last(), "Spectrograph 1 is not connected (connect it first)");
    EXPECT_EQ(paneCount(0, "Moving To 515"), 0);
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    EXPECT_EQ(window->txtMoveWavelength1->text(), "510");
    QTest::qWait(100);
    EXPECT_EQ(receivedSince(3, before), "");

    // A further click searches again and finds the same controller.
    click(window->btnComm1);
    EXPECT_TRUE(waitFor([&] { return paneCount(0, "Connection Successs. COM3") == 2; }));
    EXPECT_TRUE(lampOn(0));
}

TEST_F(Connection, NoAnswerWhileExpertModeIsOnSoTheSearchGoesOnPastTheController) {
    startConsole();
    dual();
    click(window->cbExpertMode1);
    ASSERT_TRUE(window->cbExpertMode1->isChecked());
    click(window->btnComm1);
    // The controller answers, but the reply goes to the terminal and the search moves on to COM4.
    ASSERT_TRUE(waitForLog(0, "Try to connect COM4"));
    EXPECT_FALSE(paneHas(0, "Connection Successs. COM3"));
    EXPECT_TRUE(waitFor([&] { return expert1->memoTerminal()->toPlainText().contains(u'*'); }));
    EXPECT_TRUE(expert1->memoTerminal()->toPlainText().remove(u'\n').startsWith("ST=0/GR=1/"));
    EXPECT_FALSE(lampOn(0));
    // Clicking COMM. during a search starts it over at COM1.
    click(window->btnComm1);
    EXPECT_EQ(window->panel(0).portIndex(), 0);
    EXPECT_EQ(paneCount(0, "Try to connect..."), 2);
    EXPECT_TRUE(waitFor([&] { return paneCount(0, "Try to connect COM1") == 2; }));
    window->panel(0).connectTimer()->stop();
}

TEST_F(Connection, TwoSpectrographsAtOnceEachOnItsOwnPanel) {
    orvanesim::ControllerConfig second = controllerNamed(5, "BETA");
    second.gratings = {{2400, 250.0}, {1200, 500.0}, {300, 1000.0}};
    second.startWavelength = 700;
    startConsole({controllerNamed(3, "ALPHA"), second});
    dual();
    ASSERT_TRUE(window->gbSpectroGraph2->isEnabled());

    connectPanel(0, 3);
    // COM3 is held by panel 1, so panel 2's search cannot open it and goes on to COM5.
    connectPanel(1, 5);
    EXPECT_TRUE(paneHas(1, "Try to connect COM3"));
    EXPECT_TRUE(paneHas(1, "Try to connect COM4"));
    ASSERT_TRUE(waitFor([&] { return window->txtGroove23->text() == "300"; }));
    ASSERT_TRUE(waitFor([&] { return window->txtGroove11->text() == "1200"; }));
    EXPECT_EQ(window->lblName1->text(), "ALPHA");
    EXPECT_EQ(window->lblName2->text(), "BETA");
    EXPECT_FALSE(window->rbGrating13->isEnabled());
    EXPECT_TRUE(window->rbGrating23->isEnabled());
    EXPECT_EQ(window->txtMoveWavelength2->text(), "700");

    // Both move at once; each controller gets only its own command and each readout its own position.
    const std::size_t mark3 = mark(3), mark5 = mark(5);
    type(window->txtMoveWavelength1, "532.5");
    type(window->txtMoveWavelength2, "640");
    click(window->btnMove1);
    click(window->btnMove2);
    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    ASSERT_TRUE(waitForLog(1, "Moving Ok"));
    EXPECT_EQ(receivedSince(3, mark3), "GU532.5\r");
    EXPECT_EQ(receivedSince(5, mark5), "GU640\r");
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 532.5);
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength2->Value(), 640);
    EXPECT_FALSE(paneHas(0, "Moving To 640"));
    EXPECT_FALSE(paneHas(1, "Moving To 532.5"));

    // Choosing "1" disables panel 2 but leaves its connection alone.
    window->rgSelectionItems->button(0)->click();
    EXPECT_FALSE(window->gbSpectroGraph2->isEnabled());
    EXPECT_TRUE(lampOn(1));
    EXPECT_TRUE(window->panel(1).comm()->PortOpened());
}

// Searches started together run one after the other, in the order they were started: each panel ends on
// the controller the other does not hold, never swapped.
TEST_F(Connection, SearchesStartedBackToBackNeverSwapTheControllers) {
    startConsole({controllerNamed(3, "ALPHA"), controllerNamed(5, "BETA")});
    dual();
    click(window->btnComm1);
    click(window->btnComm2);
    EXPECT_EQ(window->panel(1).mode(), pmSearching);
    ASSERT_TRUE(waitFor(
        [&] { return window->panel(0).mode() == pmReady && window->panel(1).mode() == pmReady; }, 30000));
    EXPECT_EQ(window->lblName1->text(), "ALPHA");
    EXPECT_EQ(window->lblName2->text(), "BETA");
    EXPECT_EQ(window->panel(0).comm()->PortName(), "COM3");
    EXPECT_EQ(window->panel(1).comm()->PortName(), "COM5");
    // Panel 2 began once panel 1 had found its controller.
    EXPECT_LT(commands().front().com, 4);
}

// The settings remember where each panel found its controller; after a restart each panel tries that
// port first, so the panel started first does not take the other's controller.
TEST_F(Connection, AfterARestartEachPanelTriesItsOwnLastPortFirst) {
    QTemporaryDir settings;
    ASSERT_TRUE(settings.isValid());
    consolesettings::setFilePath(settings.filePath("orvane.conf"));
    struct Forget {
        ~Forget() { consolesettings::setFilePath({}); }
    } forget;
    startConsole({controllerNamed(3, "ALPHA"), controllerNamed(5, "BETA")});
    dual();
    connectPanel(0, 3);
    connectPanel(1, 5);
    EXPECT_EQ(consolesettings::lastPort(1), 3);
    EXPECT_EQ(consolesettings::lastPort(2), 5);

    // A new console; this time panel 2 searches first.
    remakeWindows();
    dual();
    click(window->btnComm2);
    ASSERT_TRUE(waitFor([&] { return window->panel(1).mode() == pmReady; }));
    click(window->btnComm1);
    ASSERT_TRUE(waitFor([&] { return window->panel(0).mode() == pmReady; }));
    EXPECT_EQ(window->lblName1->text(), "ALPHA");
    EXPECT_EQ(window->lblName2->text(), "BETA");
    EXPECT_EQ(paneLines(1).mid(0, 3),
              (QStringList{"Try to connect...", "Try to connect COM5", "Connection Successs. COM5"}));
}
