// The expert terminals: what typing sends, where the controller's replies go, and how the windows open
// and close with the panels' check boxes.
#include "ConsoleFixture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTextDocument>

#include <algorithm>
#include <iostream>

using namespace consoletest;

using ExpertMode = ConsoleFixture;

namespace {
orvanesim::ControllerConfig silentController(int com) {
    orvanesim::ControllerConfig c = orvanesim::ControllerConfig::instant(com);
    c.silent = true;
    return c;
}
} // namespace

TEST_F(ExpertMode, TheTerminalHasThePortButNeverStrandsAMove) {
    // A drive that takes its time: 100 nm take half a second.
    startConnected([](orvanesim::ControllerConfig& c) { c.nmPerSecond = 200; });

    // Ticked during a move: the move's reply still reaches the panel, which is released as usual.
    const std::size_t before = mark(3);
    type(window->txtMoveWavelength1, "600");
    click(window->btnMove1);
    click(window->cbExpertMode1);
    ASSERT_TRUE(window->cbExpertMode1->isChecked());
    ASSERT_TRUE(expert1->isVisible());
    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 600);
    EXPECT_EQ(window->panel(0).mode(), pmExpert);
    EXPECT_TRUE(expert1->memoTerminal()->toPlainText().isEmpty());

    // While the terminal has the port, the panel's commands are refused and send nothing; what the
    // controller says goes to the terminal, exactly as received, and is not parsed.
    click(window->btnMove1);
    EXPECT_EQ(paneLines(0).last(), "Spectrograph 1's expert terminal has the port (clear Expert Mode first)");
    QTest::keyClicks(expert1->memoTerminal(), "GU700");
    QTest::keyClick(expert1->memoTerminal(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return expert1->memoTerminal()->toPlainText().contains(u'*'); }));
    EXPECT_EQ(expert1->memoTerminal()->toPlainText(), "GU700\nGU=OK/WL=700/*");
    EXPECT_EQ(receivedSince(3, before), "GU600\rGU700\r");
    EXPECT_EQ(paneCount(0, "Moving Ok"), 1);
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 600);

    // Expert mode off again: the next reply is the protocol's once more.
    click(window->cbExpertMode1);
    ASSERT_FALSE(window->cbExpertMode1->isChecked());
    click(window->bntInitialize1);
    ASSERT_TRUE(waitFor([&] { return !window->panel(0).busy() && paneHas(0, "Initialization Ok"); }));
}

TEST_F(ExpertMode, LineTerminalSendsTheLastLineWithACarriageReturn) {
    startConsole({silentController(3)});
    openTerminal(0, COM03);
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

TEST_F(ExpertMode, LineTerminalShowsAReplyInPiecesRightAfterTheCommand) {
    orvanesim::ControllerConfig pieces = orvanesim::ControllerConfig::instant(3);
    pieces.splitPieces = 4;
    pieces.splitGapMs = 20;
    startConsole({pieces});
    openTerminal(0, COM03);
    QPlainTextEdit* memo = expert1->memoTerminal();

    QTest::keyClicks(memo, "IA");
    QTest::keyClick(memo, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return memo->toPlainText().endsWith(u'*'); }));
    // No line of the terminal's own between the command and its reply, nor between the pieces.
    EXPECT_EQ(memo->toPlainText(), "IA\nST=0/GR=1/MD=0/WL=500/BS=0/*");

    // The received text is a line like any other: Enter right after it sends it.
    const std::size_t before = mark(3);
    QTest::keyClick(memo, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(memo, Qt::Key_Return);
    ASSERT_TRUE(waitForBytes(3, before, "ST=0/GR=1/MD=0/WL=500/BS=0/*\r"));
}

TEST_F(ExpertMode, TerminalKeepsOnlyTheNewestLines) {
    startConsole({silentController(3)});
    QPlainTextEdit* memo = expert1->memoTerminal();
    QString lines;
    for (int i = 0; i < 25000; ++i)
        lines += QStringLiteral("line %1\n").arg(i);
    expert1->AppendReceived(lines.left(lines.size() / 2));
    expert1->AppendReceived(lines.mid(lines.size() / 2));
    // The line being received counts: here the empty one after the last line break.
    EXPECT_EQ(memo->blockCount(), ExpertModeWindow::TerminalLineLimit);
    EXPECT_TRUE(memo->toPlainText().endsWith(u"line 24999\n"));
    EXPECT_TRUE(memo->toPlainText().startsWith(u"line 15001\n"));
    EXPECT_FALSE(memo->isUndoRedoEnabled());
}

TEST_F(ExpertMode, AFloodKeepsTheTerminalCappedAndTheWindowAnswering) {
    // Each reply comes after a megabyte of noise without "*" or CR, in pieces as fast as the line takes
    // them; the noise also holds lines far longer than a line limit alone would bound.
    constexpr int replies = 3, noise = 1 << 20;
    orvanesim::ControllerConfig flood = orvanesim::ControllerConfig::instant(3);
    flood.garbageBytes = noise;
    flood.splitPieces = 256;
    flood.splitGapMs = 0;
    startConsole({flood});
    openTerminal(0, COM03);
    QPlainTextEdit* memo = expert1->memoTerminal();

    // The longest the window's event loop went without serving a timer during the flood.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longestStall = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestStall = std::max(longestStall, now - last);
        last = now;
    });
    probe.start(10);
    int longestText = 0, mostLines = 0;
    for (int i = 0; i < replies; ++i) {
        window->panel(0).comm()->WriteData("IA\r");
        ASSERT_TRUE(waitFor([&] {
            longestText = std::max(longestText, memo->document()->characterCount());
            mostLines = std::max(mostLines, memo->blockCount());
            return memo->toPlainText().endsWith(u"BS=0/*");
        })) << "reply "
            << i;
    }
    probe.stop();
    EXPECT_LE(longestText, ExpertModeWindow::TerminalCharLimit + noise / 256 + 64);
    EXPECT_LE(mostLines, ExpertModeWindow::TerminalLineLimit);
    EXPECT_GT(memo->document()->characterCount(), ExpertModeWindow::TerminalCharLimit / 2);
    // Generous for sanitizer builds on a shared machine; an unbounded pane took several times as long.
    EXPECT_LT(longestStall, 1000);
    std::cout << "[ flood    ] " << replies * noise / 1024 << " KiB, longest stall " << longestStall
              << " ms, most text " << longestText << " characters" << std::endl;
}

TEST_F(ExpertMode, KeyTerminalSendsTheCodeOfThePhysicalKeyOncePerPress) {
    startConsole({silentController(5)});
    openTerminal(1, COM05);
    ASSERT_TRUE(expert2->isVisible());
    QPlainTextEdit* memo = expert2->memoTerminal();
    QTest::keyClick(memo, 'i');
    ASSERT_TRUE(waitForBytes(5, 0, "\x49"));
    QTest::keyClick(memo, 'a');
    QTest::keyClick(memo, Qt::Key_Return);
    ASSERT_TRUE(waitForBytes(5, 0, "\x49\x41\x0D"));
    EXPECT_EQ(memo->toPlainText(), "ia\n");
    // The full stop sends its key code, not the character.
    QTest::keyClick(memo, '.');
    ASSERT_TRUE(waitForBytes(5, 0, "\x49\x41\x0D\xBE"));

    // Without a display to ask, the layout is taken as US: the key that types an a-umlaut on a German
    // keyboard is the apostrophe key of a US one, and sends that key's code.
    auto press = [&](int key, quint32 keyCode, quint32 keySym, const QString& text) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, keyCode, keySym, 0, text);
        QCoreApplication::sendEvent(memo, &event);
    };
    const std::size_t before = mark(5);
    memo->clear();
    press(Qt::Key_Adiaeresis, 48, 0xE4, QStringLiteral("\u00e4"));
    ASSERT_TRUE(waitForBytes(5, before, "\xDE"));
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("\u00e4"));
    press(Qt::Key_AltGr, 108, 0xFE03, QString());
    ASSERT_TRUE(waitForBytes(5, before, "\xDE\x11\x12"));
    press(Qt::Key_unknown, 200, 0, QString());
    press(Qt::Key_Return, 36, 0xFF0D, QStringLiteral("\r"));
    ASSERT_TRUE(waitForBytes(5, before, "\xDE\x11\x12\x0D"));
}

TEST_F(ExpertMode, ClosingATerminalEndsOnlyItsOwnExpertMode) {
    startConsole();
    dual();
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
