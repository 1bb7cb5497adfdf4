// The scan run over the simulator: the moves a controller receives, the pacing by ticks and replies,
// pause, continue, stop, and the starts that must not happen.
#include "ConsoleFixture.h"

#include "KivButton.h"
#include "KivStrUtils.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRadioButton>

namespace {

class ScanRun : public consoletest::ScanConsole {
protected:
    // What each real tick of spectrograph 1 did, told from the scan state after it: 'S' sent a point,
    // 'P' finished a pass, 'E' ended the scan, 'W' waited (a reply outstanding or paused).
    void recordTicks() {
        QObject::connect(window->panel(0).scanTimer(), &PreciseTimer::timeout, window.get(), [this] {
            const qint64 tick = window->panel(0).lastScanTickNs();
            if (tick == lastTick)
                return; // a held-back delivery, no tick
            if (lastTick != 0)
                intervalsNs.push_back(tick - lastTick);
            lastTick = tick;
            char action = 'W';
            if (window->panel(0).scanState() == 0)
                action = 'E';
            else if (window->panel(0).scanPeriodIndex() != periodIndex)
                action = 'P';
            else if (window->panel(0).scanPointIndex() != pointIndex)
                action = 'S';
            actions += action;
            periodIndex = window->panel(0).scanPeriodIndex();
            pointIndex = window->panel(0).scanPointIndex();
        });
    }
    QString sentAndPasses() const {
        QString result;
        for (QChar c : actions)
            if (c != QLatin1Char('W'))
                result += c;
        return result;
    }

    QString actions;
    std::vector<qint64> intervalsNs;
    qint64 lastTick = 0;
    int periodIndex = 0;
    int pointIndex = 0;
};

TEST_F(ScanRun, ThreePassesSendEveryPointOnceWithOneIdleTickBetweenPasses) {
    openPort(0, FastCom);
    recordTicks();
    // A start of its own, so that this run's lines can be told apart in the shared daily log file.
    const double start = 100 + (QDateTime::currentMSecsSinceEpoch() % 100000) / 1000.0;
    setScan(0, QString::number(start, 'f', 3), QString::number(start + 2, 'f', 3), "1", "0.03", "3");
    window->btnScan1->click();
    EXPECT_EQ(window->btnScan1->text(), "PAUSE");
    EXPECT_EQ(window->panel(0).scanTimer()->interval(), 10);
    EXPECT_EQ(window->panel(0).scanState(), 1);
    ASSERT_TRUE(waitAwake([&] { return window->panel(0).scanState() == 0; }));
    EXPECT_EQ(window->btnScan1->text(), "SCAN");
    EXPECT_FALSE(window->panel(0).scanTimer()->isActive());

    const QString a = formatGeneral(start), b = formatGeneral(start + 1), c = formatGeneral(start + 2);
    std::vector<std::string> expected;
    for (int pass = 0; pass < 3; ++pass)
        for (const QString& point : {a, b, c})
            expected.push_back("GU" + point.toStdString());
    EXPECT_EQ(commandsAt(FastCom), expected);
    EXPECT_EQ(window->txtMoveWavelength1->text(), c);
    EXPECT_EQ(sentAndPasses(), "SSSPSSSPSSSE");
    // The tick after a finished pass sends the next pass's first point: one idle tick between passes.
    for (int i = 0; i + 1 < actions.size(); ++i)
        if (actions[i] == QLatin1Char('P')) {
            EXPECT_EQ(actions[i + 1], QLatin1Char('S')) << actions.toStdString();
        }
    for (qint64 interval : intervalsNs)
        EXPECT_GE(interval, 10'000'000) << "a tick came early";

    const QStringList pane = paneLines(0);
    ASSERT_FALSE(pane.isEmpty());
    EXPECT_EQ(pane.first(), "Start Scaning...");
    EXPECT_EQ(pane.count("Moving To " + a), 3);
    EXPECT_EQ(pane.count("Moving Ok"), 9);
    EXPECT_EQ(pane.last(), "End Scaning...");

    // The log file records the run point by point.
    const QString folder = window->LogFolder();
    window->close(); // writes out the log
    QString log;
    for (const QString& name : QDir(folder).entryList({"log_*.txt"}, QDir::Files, QDir::Time)) {
        QFile file(QDir(folder).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        log = QString::fromLatin1(file.readAll());
        if (log.contains("\tMoving To " + a + "\r\n"))
            break;
    }
    const qsizetype first = log.indexOf("\tMoving To " + a + "\r\n");
    ASSERT_GE(first, 0);
    EXPECT_GE(log.lastIndexOf("\tStart Scaning...\r\n", first), 0);
    const qsizetype last = log.indexOf("\tMoving To " + c + "\r\n", first);
    EXPECT_GT(log.indexOf("\tEnd Scaning...\r\n", last), last);
}

TEST_F(ScanRun, PauseHoldsThePointsAndContinueResumesWithoutLosingOne) {
    openPort(0, FastCom);
    recordTicks();
    setScan(0, "10", "14", "1", "0.1", "1");
    window->btnScan1->click();
    // Pause after the second point went out; a busy machine may let the scan run a point further before
    // the click, so the pause holds wherever it came.
    ASSERT_TRUE(waitAwake([&] { return window->panel(0).scanPointIndex() >= 2; }));
    window->btnScan1->click();
    EXPECT_EQ(window->btnScan1->text(), "CONTINUE");
    EXPECT_EQ(window->panel(0).scanState(), 2);
    const int pausedAt = window->panel(0).scanPointIndex();
    ASSERT_LT(pausedAt, 5) << "the scan ended before the pause";
    ASSERT_TRUE(
        waitAwake([&] { return window->panel(0).scanStep() == 1; })); // the point in flight is answered
    const qsizetype ticksAtPause = actions.size();
    ASSERT_TRUE(waitAwake([&] { return actions.size() >= ticksAtPause + 3; })); // the timer keeps running
    EXPECT_EQ(window->panel(0).scanPointIndex(), pausedAt);
    EXPECT_EQ(commandsAt(FastCom).size(), static_cast<std::size_t>(pausedAt));

    window->btnScan1->click();
    EXPECT_EQ(window->btnScan1->text(), "PAUSE");
    ASSERT_TRUE(waitAwake([&] { return window->panel(0).scanState() == 0; }));
    EXPECT_EQ(commandsAt(FastCom), (std::vector<std::string>{"GU10", "GU11", "GU12", "GU13", "GU14"}));
    EXPECT_EQ(paneLines(0).count("End Scaning..."), 1);
}

TEST_F(ScanRun, StopDuringAMoveLetsTheMoveFinishAndStaysIdle) {
    openPort(0, SlowCom); // 500 nm to 400 nm takes 100 ms
    setScan(0, "400", "402", "1", "0.03", "1");
    window->btnScan1->click();
    ASSERT_TRUE(waitAwake([&] { return window->panel(0).scanStep() == 2; }));
    window->btnScanStop1->click();
    EXPECT_EQ(window->panel(0).scanState(), 0);
    EXPECT_EQ(window->panel(0).scanStep(), 0);
    EXPECT_EQ(window->btnScan1->text(), "SCAN");
    EXPECT_FALSE(window->panel(0).scanTimer()->isActive());
    EXPECT_TRUE(window->panel(0).busy());
    ASSERT_TRUE(waitAwake([&] { return !window->panel(0).busy(); }));
    EXPECT_EQ(paneLines(0).last(), "Moving Ok");
    EXPECT_EQ(window->panel(0).scanStep(), 0);
    EXPECT_EQ(window->panel(0).scanState(), 0);
    EXPECT_EQ(commandsAt(SlowCom), std::vector<std::string>{"GU400"});
    EXPECT_EQ(paneLines(0).count("End Scaning..."), 0);
}

TEST_F(ScanRun, ScanIsRefusedWhileAMoveIsOutstandingAndWorksAfterIt) {
    openPort(0, SlowCom);
    window->rbGrating11->setChecked(true);
    window->txtMoveWavelength1->setText("450");
    window->btnMove1->click();
    ASSERT_TRUE(window->panel(0).busy());
    setScan(0, "450", "451", "1", "0.02", "1");
    window->btnScan1->click();
    EXPECT_EQ(window->panel(0).scanState(), 0);
    EXPECT_EQ(window->btnScan1->text(), "SCAN");
    EXPECT_FALSE(window->panel(0).scanTimer()->isActive());
    EXPECT_EQ(paneLines(0).count("Start Scaning..."), 0);
    EXPECT_TRUE(paneLines(0).contains("Spectrograph 1 is busy: its last command has not been answered yet"));

    ASSERT_TRUE(waitAwake([&] { return !window->panel(0).busy(); }));
    window->btnScan1->click();
    EXPECT_EQ(window->btnScan1->text(), "PAUSE");
    ASSERT_TRUE(waitAwake([&] { return window->panel(0).scanState() == 0; }));
    EXPECT_EQ(commandsAt(SlowCom), (std::vector<std::string>{"GU450", "GU450", "GU451"}));
}

// A scan that would move nowhere, or divide by zero, is refused from the click as from a client: a line in
// the pane, no message box, nothing sent, and the box keeps what was typed.
TEST_F(ScanRun, AScanWithoutAPointIsRefusedWithALineAndNoMessage) {
    openPort(0, FastCom);
    struct Case {
        const char *start, *end, *res, *why;
    };
    for (const Case& c : {Case{"500", "0", "0.1", "the scan would have -4999 points"},
                          Case{"500", "499.5", "1", "the scan would have 0 points"},
                          Case{"0", "10", "0", "the scan's resolution must not be 0"}}) {
        setScan(0, c.start, c.end, c.res, "1", "1");
        window->btnScan1->click();
        const QString last = paneLines(0).last();
        EXPECT_TRUE(last.startsWith(c.why)) << last.toStdString();
        EXPECT_EQ(window->panel(0).scanState(), 0);
        EXPECT_EQ(window->btnScan1->text(), "SCAN");
        EXPECT_EQ(window->txtScanEnd1->text(), c.end) << "the box keeps the typed values";
    }
    EXPECT_EQ(paneLines(0).count("Start Scaning..."), 0);
    EXPECT_TRUE(commandsAt(FastCom).empty());
}

// Both spectrographs' points last the time the box shows.
TEST_F(ScanRun, TheTimerPeriodIsSetAtEachStartAsTheBoxShowsIt) {
    openPort(0, SlowCom);
    openPort(1, FastCom);
    setScan(0, "400", "500", "1", "10", "1");
    setScan(1, "400", "500", "1", "10", "1");
    window->btnScan1->click();
    window->btnScan2->click();
    EXPECT_EQ(window->panel(0).scanTimer()->interval(), 99);
    EXPECT_EQ(window->panel(1).scanTimer()->interval(), 99);
    EXPECT_EQ(window->txtScanPointTime2->text(), "0.099");
    window->btnScanStop1->click();
    window->btnScanStop2->click();

    // The next start re-reads the corrected time: 3 points in 1 s, then 0.999 s.
    setScan(0, "0", "2", "1", "1", "1");
    ASSERT_TRUE(waitAwake([&] { return !window->panel(0).busy(); }));
    window->btnScan1->click();
    EXPECT_EQ(window->panel(0).scanTimer()->interval(), 333);
    window->btnScanStop1->click();
    ASSERT_TRUE(waitAwake([&] { return !window->panel(0).busy(); }));
    window->btnScan1->click();
    EXPECT_EQ(window->panel(0).scanTimer()->interval(), 332);
    window->btnScanStop1->click();
    EXPECT_FALSE(window->panel(0).scanTimer()->isActive());
}

} // namespace
