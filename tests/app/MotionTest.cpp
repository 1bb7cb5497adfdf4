// MOVE, the automatic grating change, jog and INITIALIZATION: the bytes the controller gets, the log,
// the readout and the MOVE caption, through clicks on the real window.
#include "ConsoleFixture.h"

#include <QAccessible>

using namespace consoletest;

using Motion = ConsoleFixture;

namespace {
QString accessibleValue(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Value) : QString();
}
} // namespace

TEST_F(Motion, MoveWritesTheTargetAndEndsWithMovingOkAndTheReadout) {
    // A drive that takes its time, so the MOVING caption can be seen while it moves.
    orvanesim::ControllerConfig controller = orvanesim::ControllerConfig::instant(3);
    controller.nmPerSecond = 200;
    startConsole({controller});
    connectPanel(0, 3);
    const std::size_t before = mark(3);

    type(window->txtMoveWavelength1, "532.5");
    click(window->btnMove1);
    EXPECT_EQ(window->btnMove1->text(), "MOVING");
    EXPECT_TRUE(window->FBusy1);
    EXPECT_EQ(paneLines(0).last(), "Moving To 532.5");
    // A second MOVE while the first is under way does nothing.
    click(window->btnMove1);

    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    EXPECT_EQ(receivedSince(3, before), "GU532.5\r");
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    EXPECT_FALSE(window->FBusy1);
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 532.5);
    EXPECT_EQ(accessibleValue(window->meterCurrWavelength1), "532.500 nm");
    EXPECT_EQ(paneCount(0, "Moving To 532.5"), 1);

    // An empty target counts as 0; a whole number goes out without a decimal point.
    const std::size_t second = mark(3);
    window->txtMoveWavelength1->clear();
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 2; }));
    EXPECT_EQ(receivedSince(3, second), "GU0\r");
    EXPECT_EQ(accessibleValue(window->meterCurrWavelength1), "0.000 nm");
}

TEST_F(Motion, MoveToAnotherGratingSelectsItAndMovesAfterThePause) {
    startConsole();
    connectPanel(0, 3);
    ASSERT_TRUE(window->rbGrating11->isChecked());
    ASSERT_TRUE(waitFor([&] { return window->rbGrating12->isEnabled(); }));
    const std::size_t before = mark(3);

    click(window->rbGrating12);
    ASSERT_TRUE(window->rbGrating12->isChecked());
    type(window->txtMoveWavelength1, "800");
    click(window->btnMove1);
    EXPECT_EQ(window->btnMove1->text(), "MOVING");

    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    EXPECT_EQ(receivedSince(3, before), "GS2\rGU800\r");
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 800);
    // The move follows the grating reply after the 300 ms pause.
    const auto seenCommands = commands();
    ASSERT_GE(seenCommands.size(), 2u);
    const SeenCommand& select = seenCommands[seenCommands.size() - 2];
    const SeenCommand& move = seenCommands.back();
    EXPECT_EQ(select.text, "GS2");
    EXPECT_EQ(move.text, "GU800");
    const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(move.at - select.at).count();
    EXPECT_GE(pause, 295);
    EXPECT_LT(pause, 5000);

    // The grating in use changes only with a status reply, so the next MOVE selects it again.
    const std::size_t again = mark(3);
    type(window->txtMoveWavelength1, "810");
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 2; }));
    EXPECT_EQ(receivedSince(3, again), "GS2\rGU810\r");

    // INITIALIZATION reads the status again: grating 2 in use, back at the start wavelength.
    click(window->bntInitialize1);
    ASSERT_TRUE(waitFor([&] { return !window->FBusy1 && paneHas(0, "Initialization Ok"); }));
    EXPECT_EQ(window->FSpectrograph[0].CurrentGrating, 2);
    const std::size_t direct = mark(3);
    type(window->txtMoveWavelength1, "820");
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 3; }));
    EXPECT_EQ(receivedSince(3, direct), "GU820\r");
}

TEST_F(Motion, JogMovesByTheStepFromTheTypedTarget) {
    startConsole();
    connectPanel(0, 3);
    const std::size_t up = mark(3);
    type(window->txtMoveWavelength1, "500");
    type(window->txtJogStep1, "5");
    click(window->btnJogPlus1);
    EXPECT_EQ(window->txtMoveWavelength1->text(), "505");
    // A jog does not touch the MOVE caption.
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    EXPECT_EQ(receivedSince(3, up), "GU505\r");
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 505);

    const std::size_t down = mark(3);
    type(window->txtMoveWavelength1, "3");
    click(window->btnJogMinus1);
    EXPECT_EQ(window->txtMoveWavelength1->text(), "-2");
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 2; }));
    EXPECT_EQ(receivedSince(3, down), "GU-2\r");

    // Binary fractions are written as the user would read them.
    const std::size_t fraction = mark(3);
    type(window->txtMoveWavelength1, "0.1");
    type(window->txtJogStep1, "0.2");
    click(window->btnJogPlus1);
    EXPECT_EQ(window->txtMoveWavelength1->text(), "0.3");
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 3; }));
    EXPECT_EQ(receivedSince(3, fraction), "GU0.3\r");

    // STOP beside MOVE sends nothing.
    const std::size_t stop = mark(3);
    click(window->btnMoveStop1);
    QTest::qWait(100);
    EXPECT_EQ(receivedSince(3, stop), "");
}

TEST_F(Motion, InitializationChainsTheStatusQuery) {
    startConsole();
    connectPanel(0, 3);
    type(window->txtMoveWavelength1, "600");
    click(window->btnMove1);
    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    const std::size_t before = mark(3);
    const int lines = int(paneLines(0).size());

    click(window->bntInitialize1);
    EXPECT_TRUE(window->FBusy1);
    ASSERT_TRUE(waitForBytes(3, before, "GA\rIA\r"));
    ASSERT_TRUE(waitFor([&] { return !window->FBusy1; }));
    EXPECT_EQ(paneLines(0).mid(lines), (QStringList{"Initialization ....", "Initialization Ok"}));
    // The status reply puts the drive back at its start wavelength on the readout.
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 500);
    EXPECT_EQ(window->lblName1->text(), "ORVANE-SIM");
}

TEST_F(Motion, InitializationIsSentEvenWhileAMoveIsOutstanding) {
    orvanesim::ControllerConfig controller = orvanesim::ControllerConfig::instant(3);
    controller.silent = true; // answers nothing: every command stays outstanding
    startConsole({controller});
    window->Comm1->SetPort(COM03);
    ASSERT_TRUE(window->Comm1->OpenComm());
    window->FSpectrograph[0].CurrentGrating = 1;

    type(window->txtMoveWavelength1, "510");
    click(window->btnMove1);
    ASSERT_TRUE(waitForBytes(3, 0, "GU510\r"));
    click(window->btnMove1);       // blocked
    click(window->btnJogPlus1);    // blocked
    click(window->bntInitialize1); // never blocked
    ASSERT_TRUE(waitForBytes(3, 0, "GU510\rGA\r"));
    EXPECT_EQ(window->btnMove1->text(), "MOVING");
}
