// The console under the user's language settings. This program runs once per locale (see its
// CMakeLists.txt), started through the console's own application object, which takes the number format
// from the environment. Whatever the separator the user reads and types, the controller receives and
// sends numbers with a full stop.
#include "ConsoleFixture.h"

#include <QLocale>

#include <clocale>

using namespace consoletest;

namespace {

// The decimal separator this run was started to be under ("," for German and French, "." for C).
QString expectedSeparator() {
    return qEnvironmentVariable("ORVANE_TEST_DECIMAL_POINT", QStringLiteral("."));
}

// A number as the user reads it: "532.5" with the separator of this run.
QString shown(const char* Number) {
    return QString::fromLatin1(Number).replace(u'.', expectedSeparator());
}

class LocaleConsole : public ConsoleFixture {
protected:
    void startAt(double Wavelength) {
        orvanesim::ControllerConfig c = orvanesim::ControllerConfig::instant(3);
        c.startWavelength = Wavelength;
        c.gratings = {{1200, 532.5}, {600, 1000}};
        startConsole({c});
    }
};

} // namespace

TEST_F(LocaleConsole, RunsUnderTheLocaleItWasStartedIn) {
    // Both Qt and the C library took the environment's settings at start-up: otherwise this run tests
    // nothing of the user's locale.
    ASSERT_EQ(QLocale().decimalPoint(), expectedSeparator());
    ASSERT_EQ(QString::fromLocal8Bit(std::localeconv()->decimal_point), expectedSeparator());
}

TEST_F(LocaleConsole, StartsWithoutAnErrorAndShowsTheScanFieldsInTheUsersFormat) {
    startAt(500);
    // The recompute at start-up read the form's defaults (an error would fail the test at its end).
    EXPECT_EQ(window->txtScanStart1->text(), "0");
    EXPECT_EQ(window->txtScanEnd1->text(), "500");
    EXPECT_EQ(window->txtScanPointRes1->text(), shown("0.1"));
    EXPECT_EQ(window->txtScanPointCount1->text(), "5001");
    EXPECT_EQ(window->txtScanTime1->text(), shown("50.01"));
    EXPECT_EQ(window->txtScanPointTime1->text(), shown("0.01"));
    EXPECT_EQ(window->panel(0).scan().PointTime, 10);
    // Spectrograph 2's defaults are read as they stand at its first recompute.
    window->rgSelectionItems->button(2)->click();
    commit(window->txtScanTime2, "20");
    EXPECT_EQ(window->panel(1).scan().PointCount, 5001);
    EXPECT_DOUBLE_EQ(window->panel(1).scan().Resolution, 0.1);
    EXPECT_EQ(window->txtScanPointRes2->text(), shown("0.1"));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(u'\n').toStdString();
}

TEST_F(LocaleConsole, ARepliedWavelengthIsShownInTheUsersFormat) {
    startAt(532.5);
    connectPanel(0, 3);
    // The status reply carried WL=532.5; the info reply a blaze of 532.5nm.
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 532.5);
    EXPECT_EQ(window->meterCurrWavelength1->DisplayText(), shown("532.500 nm"));
    EXPECT_EQ(window->txtMoveWavelength1->text(), shown("532.5"));
    ASSERT_TRUE(waitFor([&] { return window->txtGroove11->text() == "1200"; }));
    EXPECT_EQ(window->txtBlaze11->text(), shown("532.5"));
    EXPECT_EQ(window->txtBlaze12->text(), "1000");

    // A controller writes a full stop whatever the user's settings: a comma in a reply is no number,
    // under a comma locale as under any other, and the readout keeps what it showed.
    EXPECT_FALSE(window->panel(0).parsePositionReply(QStringLiteral("GU=OK/WL=540,25/")).isEmpty());
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 532.5);
    window->panel(0).parsePositionReply(QStringLiteral("GU=OK/WL=540.25/"));
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 540.25);
}

TEST_F(LocaleConsole, MoveAndJogSendAFullStopWhicheverSeparatorWasTyped) {
    startAt(500);
    connectPanel(0, 3);

    const std::size_t typedLocal = mark(3);
    type(window->txtMoveWavelength1, shown("532.5"));
    click(window->btnMove1);
    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    EXPECT_EQ(receivedSince(3, typedLocal), "GU532.5\r");
    EXPECT_TRUE(paneHas(0, "Moving To 532.5")); // the log shows the number as it went out
    EXPECT_EQ(window->meterCurrWavelength1->DisplayText(), shown("532.500 nm"));

    const std::size_t typedStop = mark(3);
    type(window->txtMoveWavelength1, "540.25");
    click(window->btnMove1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 2; }));
    EXPECT_EQ(receivedSince(3, typedStop), "GU540.25\r");
    EXPECT_DOUBLE_EQ(window->meterCurrWavelength1->Value(), 540.25);

    // A jog writes the new target in the user's format and sends it with a full stop.
    const std::size_t jog = mark(3);
    type(window->txtJogStep1, shown("0.5"));
    click(window->btnJogPlus1);
    EXPECT_EQ(window->txtMoveWavelength1->text(), shown("540.75"));
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") == 3; }));
    EXPECT_EQ(receivedSince(3, jog), "GU540.75\r");
    EXPECT_TRUE(paneHas(0, "Moving To 540.75"));

    // Text that is no number in the user's format moves nothing.
    const std::size_t garbage = mark(3);
    type(window->txtMoveWavelength1, "5x");
    click(window->btnMove1);
    EXPECT_EQ(paneLines(0).last(), "the wavelength is not a number");
    QTest::qWait(100);
    EXPECT_EQ(receivedSince(3, garbage), "");
}

TEST_F(LocaleConsole, AScanOverTypedFractionsSendsEveryPointWithAFullStop) {
    startAt(500);
    connectPanel(0, 3);
    window->txtScanTime1->setText(shown("0.75"));
    window->txtScanPointRes1->setText("1");
    window->txtScanEnd1->setText(shown("402.5"));
    commit(window->txtScanStart1, shown("400.5"));
    EXPECT_EQ(window->panel(0).scan().PointCount, 3);
    EXPECT_EQ(window->txtScanStart1->text(), shown("400.5"));
    EXPECT_EQ(window->txtScanEnd1->text(), shown("402.5"));
    EXPECT_EQ(window->txtScanPointTime1->text(), shown("0.25"));

    const std::size_t before = mark(3);
    click(window->btnScan1);
    ASSERT_TRUE(waitForLog(0, "End Scaning..."));
    EXPECT_EQ(receivedSince(3, before), "GU400.5\rGU401.5\rGU402.5\r");
    EXPECT_TRUE(paneHas(0, "Moving To 401.5"));
    EXPECT_EQ(window->txtMoveWavelength1->text(), shown("402.5"));
    EXPECT_EQ(window->meterCurrWavelength1->DisplayText(), shown("402.500 nm"));
}
