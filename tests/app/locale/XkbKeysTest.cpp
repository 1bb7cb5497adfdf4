// The key-mode terminal on a real X display whose keyboard layout is German: keys typed through the X
// server reach the terminal with their key codes, and the controller receives the Windows codes of a
// German keyboard. Run by xkb_keys.sh, which starts the display and sets its layout.
#include "ConsoleFixture.h"

#include "VirtualKeys.h"

#include <QProcess>

using namespace consoletest;

namespace {

class XkbKeys : public ConsoleFixture {
protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display; run through xkb_keys.sh";
    }
    // Types keysyms through the X server's test extension, as a keyboard would.
    static bool xdotool(const QStringList& Keys) {
        QProcess process;
        process.start(QStringLiteral("xdotool"), QStringList{QStringLiteral("key")} + Keys);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
};

} // namespace

TEST_F(XkbKeys, TheTerminalSendsTheCodesOfTheDisplaysGermanLayout) {
    EXPECT_EQ(activeKeyboardLayout(), KeyboardLayout::German);

    orvanesim::ControllerConfig silent = orvanesim::ControllerConfig::instant(5);
    silent.silent = true;
    startConsole({silent});
    window->rgSelectionItems->button(2)->click();
    window->panel(1).comm()->SetPort(COM05);
    ASSERT_TRUE(window->panel(1).comm()->OpenComm());
    click(window->cbExpertMode2);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(expert2.get()));
    expert2->activateWindow();
    expert2->memoTerminal()->setFocus();
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == expert2->memoTerminal(); }));

    // z and y swap places on a German keyboard; the a-umlaut and sharp s have keys of their own; the
    // at sign is AltGr with Q.
    ASSERT_TRUE(xdotool({"z", "y", "adiaeresis", "ssharp", "at"}));
    ASSERT_TRUE(waitForBytes(5, 0, "\x5A\x59\xDE\xDB\x11\x12\x51"))
        << QByteArray::fromStdString(receivedSince(5, 0)).toHex(' ').toStdString();
    EXPECT_EQ(expert2->memoTerminal()->toPlainText(), QStringLiteral("zy\u00e4\u00df@"));
}
