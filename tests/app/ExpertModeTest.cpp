// The expert terminals: what typing sends, where the controller's replies go, and how the windows open
// and close with the panels' check boxes.
#include "ConsoleFixture.h"

#include <QCheckBox>

using namespace consoletest;

using ExpertMode = ConsoleFixture;

namespace {
orvanesim::ControllerConfig silentController(int com) {
    orvanesim::ControllerConfig c = orvanesim::ControllerConfig::instant(com);
    c.silent = true;
    return c;
}
} // namespace

TEST_F(ExpertMode, AReplyGoesToTheTerminalAndIsNotParsed) {
    startConsole();
    connectPanel(0, 3);
    ASSERT_TRUE(waitFor([&] { return window->txtGroove11->text() == "1200"; }));
    click(window->cbExpertMode1);
    ASSERT_TRUE(window->cbExpertMode1->isChecked());
    ASSERT_TRUE(expert1->isVisible());
    EXPECT_TRUE(expert1->memoTerminal()->toPlainText().isEmpty());

    const std::size_t before = mark(3);
    type(window->txtMoveWavelength1, "600");
    click(window->btnMove1);
    ASSERT_TRUE(waitForBytes(3, before, "GU600\r"));
    ASSERT_TRUE(waitFor([&] { return expert1->memoTerminal()->toPlainText().contains(u'*'); }));
    // Shown exactly as received (in pieces, one line each), and not read as the move's reply.
    EXPECT_EQ(expert1->memoTerminal()->toPlainText().remove(u'\n'), "GU=OK/WL=600/*");
    QTest::qWait(100);
    EXPECT_FALSE(paneHas(0, "Moving Ok"));
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 500);
    EXPECT_EQ(window->btnMove1->text(), "MOVING");
    EXPECT_TRUE(window->FBusy1);

    // Expert mode off again: the next reply is the protocol's once more.
    click(window->cbExpertMode1);
    ASSERT_FALSE(window->cbExpertMode1->isChecked());
    click(window->bntInitialize1);
    ASSERT_TRUE(waitFor([&] { return !window->FBusy1 && paneHas(0, "Initialization Ok"); }));
}

TEST_F(ExpertMode, LineTerminalSendsTheLastLineWithACarriageReturn) {
    startConsole({silentController(3)});
    window->Comm1->SetPort(COM03);
    ASSERT_TRUE(window->Comm1->OpenComm());
    click(window->cbExpertMode1);
    QPlainTextEdit* memo = expert1->memoTerminal();

    QTest::keyClicks(memo, "IA");
    ASSERT_EQ(receivedSince(3, 0), ""); // nothing before the Enter
    QTest::keyClick(memo, Qt::Key_Return);
    ASSERT_TRUE(waitForBytes(3, 0, "IA\r"));
    EXPECT_EQ(memo->toPlainText(), "IA\n");

    // Enter on the empty line after it sends the line above again.
    QTest::keyClick(memo, Qt::Key_Return);
    ASSERT_TRUE(waitForBytes(3, 0, "IA\rIA\r"));

    QTest::keyClicks(memo, "GU532.5");
    QTest::keyClick(memo, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(waitForBytes(3, 0, "IA\rIA\rGU532.5\r"));
}

TEST_F(ExpertMode, KeyTerminalSendsOneKeyCodePerKeyPress) {
    startConsole({silentController(5)});
    window->rgSelectionItems->button(2)->click();
    window->Comm2->SetPort(COM05);
    ASSERT_TRUE(window->Comm2->OpenComm());
    click(window->cbExpertMode2);
    ASSERT_TRUE(expert2->isVisible());
    QPlainTextEdit* memo = expert2->memoTerminal();

    QTest::keyClick(memo, 'i');
    ASSERT_TRUE(waitForBytes(5, 0, "\x49"));
    QTest::keyClick(memo, 'a');
    QTest::keyClick(memo, Qt::Key_Return);
    ASSERT_TRUE(waitForBytes(5, 0, "\x49\x41\x0D"));
    EXPECT_EQ(memo->toPlainText(), "ia\n");

    // The full stop sends its key code, not the character.
    const std::size_t before = mark(5);
    QTest::keyClick(memo, '.');
    ASSERT_TRUE(waitForBytes(5, before, "\xBE"));
}

TEST_F(ExpertMode, ClosingATerminalEndsOnlyItsOwnExpertMode) {
    startConsole();
    window->rgSelectionItems->button(2)->click();
    click(window->cbExpertMode1);
    click(window->cbExpertMode2);
    ASSERT_TRUE(window->cbExpertMode1->isChecked());
    ASSERT_TRUE(window->cbExpertMode2->isChecked());
    ASSERT_TRUE(expert2->isVisible());
    expert2->memoTerminal()->setPlainText("left over");

    expert2->close();
    EXPECT_FALSE(expert2->isVisible());
    EXPECT_FALSE(window->cbExpertMode2->isChecked());
    EXPECT_TRUE(window->cbExpertMode1->isChecked());
    EXPECT_TRUE(expert1->isVisible());

    // Clearing the box with a click shows the window again, emptied.
    click(window->cbExpertMode1);
    EXPECT_FALSE(window->cbExpertMode1->isChecked());
    EXPECT_TRUE(expert1->isVisible());
    click(window->cbExpertMode2);
    EXPECT_TRUE(expert2->isVisible());
    EXPECT_TRUE(expert2->memoTerminal()->toPlainText().isEmpty());
    EXPECT_TRUE(expert2->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(expert1->windowTitle(), "Expert Mode 1");
    EXPECT_EQ(expert2->windowTitle(), "Expert Mode 2");
}
