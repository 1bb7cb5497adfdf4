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
    startConnected([](orvanesim::ControllerConfig& c) { c.nmPerSecond = 20; });
    const std::size_t before = mark(3);

    type(window->txtMoveWavelength1, "532.5");
    click(window->btnMove1);
    EXPECT_EQ(window->btnMove1->text(), "MOVING");
    EXPECT_TRUE(window->panel(0).busy());
    EXPECT_EQ(paneLines(0).last(), "Moving To 532.5");
    // A second MOVE while the first is under way is refused with a line.
    click(window->btnMove1);
    EXPECT_EQ(paneLines(0).last(), "Spectrograph 1 is busy: its last command has not been answered yet");

    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    EXPECT_EQ(receivedSince(3, before), "GU532.5\r");
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    EXPECT_FALSE(window->panel(0).busy());
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 532.5);
    EXPECT_EQ(accessibleValue(window->meterCurrWavelength1), "532.500 nm");
    EXPECT_EQ(paneCount(0, "Moving To 532.5"), 1);

    sim.setFaults(3, [](orvanesim::ControllerConfig& c) { c.nmPerSecond = 0; });
    // A typo never moves the drive: an empty, a wrong or a negative target is refused with a line.
    const std::size_t second = mark(3);
    for (const char* typo : {"", "abc", "5OO", "-20", "100001"}) {
        type(window->txtMoveWavelength1, typo);
        if (!*typo)
            window->txtMoveWavelength1->clear();
        click(window->btnMove1);
        EXPECT_EQ(window->btnMove1->text(), "MOVE") << typo;
        EXPECT_NE(paneLines(0).last().indexOf(*typo == '-' || *typo == '1' ? "out of range" : "not a number"),
                  -1)
            << paneLines(0).last().toStdString();
    }
    // A whole number goes out without a decimal point.
    type(window->txtMoveWavelength1, "0");
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 2; }));
    EXPECT_EQ(receivedSince(3, second), "GU0\r");
    EXPECT_EQ(accessibleValue(window->meterCurrWavelength1), "0.000 nm");
    EXPECT_EQ(paneCount(0, "Moving To 0"), 1);
}

TEST_F(Motion, MoveToAnotherGratingChangesItFirstAndInitializationReadsTheDriveAgain) {
    startConnected();
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

    // The grating in use follows the controller's answer: the next MOVE on grating 2 goes straight there,
    // and back on grating 1 the change comes first again.
    EXPECT_EQ(window->panel(0).info().CurrentGrating, 2);
    const std::size_t again = mark(3);
    type(window->txtMoveWavelength1, "810");
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 2; }));
    EXPECT_EQ(receivedSince(3, again), "GU810\r");
    const std::size_t back = mark(3);
    click(window->rbGrating11);
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 3; }));
    EXPECT_EQ(receivedSince(3, back), "GS1\rGU810\r");
    EXPECT_TRUE(window->rbGrating11->isChecked());
    EXPECT_EQ(sim.grating(3), 1);
    click(window->rbGrating12);
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 4; }));

    // INITIALIZATION chains the status query, which reads the drive again: grating 2 in use, back at the
    // start wavelength.
    const std::size_t init = mark(3);
    const int lines = int(paneLines(0).size());
    click(window->bntInitialize1);
    EXPECT_TRUE(window->panel(0).busy());
    ASSERT_TRUE(waitForBytes(3, init, "GA\rIA\r"));
    ASSERT_TRUE(waitFor([&] { return !window->panel(0).busy(); }));
    EXPECT_EQ(paneLines(0).mid(lines), (QStringList{"Initialization ....", "Initialization Ok"}));
    EXPECT_EQ(window->panel(0).info().CurrentGrating, 2);
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 500);
    EXPECT_EQ(window->lblName1->text(), "ORVANE-SIM");
    const std::size_t direct = mark(3);
    type(window->txtMoveWavelength1, "820");
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 5; }));
    EXPECT_EQ(receivedSince(3, direct), "GU820\r");
}

TEST_F(Motion, JogMovesByTheStepFromTheTypedTarget) {
    startConnected();
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
    click(window->btnJogMinus1); // below 0 nm: refused, nothing sent
    EXPECT_EQ(window->txtMoveWavelength1->text(), "3");
    EXPECT_TRUE(paneLines(0).last().startsWith("the jog would leave the range"))
        << paneLines(0).last().toStdString();
    type(window->txtMoveWavelength1, "13");
    click(window->btnJogMinus1);
    EXPECT_EQ(window->txtMoveWavelength1->text(), "8");
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 2; }));
    EXPECT_EQ(receivedSince(3, down), "GU8\r");

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

TEST_F(Motion, InitializationIsSentEvenWhileAMoveIsOutstanding) {
    // 10 nm take 2 s: the move stays outstanding.
    startConnected([](orvanesim::ControllerConfig& c) { c.nmPerSecond = 5; });
    const std::size_t before = mark(3);

    type(window->txtMoveWavelength1, "510");
    click(window->btnMove1);
    ASSERT_TRUE(waitForBytes(3, before, "GU510\r"));
    click(window->btnMove1);       // refused: busy
    click(window->btnJogPlus1);    // refused: busy
    click(window->bntInitialize1); // never refused for a move under way: the way out of one
    ASSERT_TRUE(waitForBytes(3, before, "GU510\rGA\r"));
    // The replies that follow release the panel, whichever command they are taken for.
    ASSERT_TRUE(waitFor([&] { return window->panel(0).mode() == pmReady; }, 30000));
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
}
