// Drills: the disk fills up during a scan, the controller is unplugged mid-scan, a reply does not fit the
// input queue. Each ends with the console responsive and every line logged before the fault in the file.
#include "ConsoleFixture.h"

#include "znLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>

#include <unistd.h>

using namespace consoletest;

namespace {

const QString overflowText =
    "An input buffer overflow has occurred. There is either no room in the input buffer, "
    "or a character was received after the end-of-file (EOF) character.";

// The texts of a log file's lines, without their date and time columns.
QStringList loggedTexts(const QString& Path) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList texts;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> columns = line.chopped(line.endsWith('\r') ? 1 : 0).split('\t');
        texts.append(QString::fromLocal8Bit(columns.size() >= 3 ? columns.mid(2).join('\t') : line));
    }
    return texts;
}

class FaultDrill : public ConsoleFixture {
protected:
    // The log goes to a folder of this test's own, not the one beside the test program.
    void keepLogHere() {
        ASSERT_TRUE(logDir.isValid());
        window->LogFile->SetLogPath(logDir.path());
    }
    QString logPath() const { return window->LogFile->FullPath(); }
    // Writes out the log and returns what the file holds (before an optional earlier file's lines).
    QStringList fileTexts(const QString& Earlier = {}) {
        window->LogFile->SetActive(false);
        return (Earlier.isEmpty() ? QStringList() : loggedTexts(Earlier)) + loggedTexts(logPath());
    }
    int moveCommands(int com) {
        int count = 0;
        for (const SeenCommand& c : commands())
            count += c.com == com && c.text.rfind("GU", 0) == 0;
        return count;
    }

    QTemporaryDir logDir;
};

} // namespace

// ---- Full disk ----

TEST_F(FaultDrill, FullDiskDuringAScanTellsOnceWhileTheScanRunsOnAndLosesNoLine) {
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    startConsole(3);
    keepLogHere();
    connectPanel(0, 3);
    setScan(0, "0", "599", "1", "6"); // 600 points, 10 ms each
    click(window->btnScan1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") >= 30; }));

    // The disk fills up: the file's path now leads to a device that takes no byte.
    const QString path = logPath();
    const QString earlier = logDir.filePath("before-the-fault.txt");
    ASSERT_TRUE(QFile::rename(path, earlier));
    ASSERT_EQ(::symlink("/dev/full", QFile::encodeName(path).constData()), 0);
    ASSERT_TRUE(waitFor([&] { return window->logFaultMessage() && window->logFaultMessage()->isVisible(); }));
    const QString message = window->logFaultMessage()->text();
    EXPECT_TRUE(message.contains(path)) << message.toStdString();
    EXPECT_TRUE(message.contains("No space left on device")) << message.toStdString();
    EXPECT_TRUE(message.contains(QRegularExpression("\\b[1-9][0-9]* lines are held")))
        << message.toStdString();
    EXPECT_FALSE(window->logFaultMessage()->isModal());

    // The scan does not wait for anyone to read the message.
    const int okAtFault = paneCount(0, "Moving Ok");
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") >= okAtFault + 40; })) << "the scan stalled";
    EXPECT_EQ(window->findChildren<QMessageBox*>().size(), 1) << "one message for the whole fault";

    // Space comes back: the held lines go to the file in order and the scan ends as usual.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(waitForLog(0, "End Scaning..."));
    ASSERT_TRUE(waitFor([&] { return !window->LogFile->Faulted(); }));
    EXPECT_EQ(paneCount(0, "Moving Ok"), 600);
    EXPECT_EQ(fileTexts(earlier), paneLines(0));
}

TEST_F(FaultDrill, AFaultMetByTheLogsOwnTimedFlushIsToldAtTheNextLine) {
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    startConsole(3);
    keepLogHere();
    // The log looks at what its path names once a second. Nothing of the start is left waiting, and the
    // second of the last look is over, so the line's own timed flush is the one that looks and meets the
    // full disk. (A timer of the start that came within that second would write to the moved file.)
    window->LogFile->Flush();
    QTest::qWait(1100);
    const QString path = logPath();
    ASSERT_TRUE(QFile::rename(path, logDir.filePath("before-the-fault.txt")));
    ASSERT_EQ(::symlink("/dev/full", QFile::encodeName(path).constData()), 0);
    window->AddLog1("waiting in the buffer");
    // No line comes while the timed flush meets the full disk; the next one brings the message.
    ASSERT_TRUE(waitFor([&] { return window->LogFile->Faulted(); }));
    EXPECT_FALSE(window->logFaultMessage());
    window->AddLog1("after the fault");
    ASSERT_TRUE(window->logFaultMessage());
    EXPECT_TRUE(window->logFaultMessage()->text().contains("2 lines are held"))
        << window->logFaultMessage()->text().toStdString();
    ASSERT_TRUE(QFile::remove(path));
}

// ---- Unplugged controller ----

TEST_F(FaultDrill, UnplugMidScanShowsTheLossEndsTheScanAndTheSearchFindsAnotherController) {
    auto first = orvanesim::ControllerConfig::instant(3);
    first.nmPerSecond = 5000;
    startConsole({first, orvanesim::ControllerConfig::instant(5)});
    keepLogHere();
    connectPanel(0, 3);
    setScan(0, "500", "900", "4", "10"); // 101 points, 100 ms each
    click(window->btnScan1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") >= 3; }));

    sim.hangup(3);
    ASSERT_TRUE(waitFor([&] { return paneCountStarting(0, "Connection lost. COM3 (") > 0; }))
        << paneLines(0).join('|').toStdString();
    // The receive thread sees the hang-up first; a write into the dead line says so in its own words.
    EXPECT_TRUE(window->panel(0).lastFault() == "Input/output error" ||
                window->panel(0).lastFault() ==
                    "An I/O error occurred during communications with the device.")
        << window->panel(0).lastFault().toStdString();
    EXPECT_TRUE(paneHas(0, "Connection lost. COM3 (" + window->panel(0).lastFault() + ")"));
    EXPECT_TRUE(window->panel(0).portLost());
    EXPECT_FALSE(window->panel(0).comm()->PortOpened());
    EXPECT_FALSE(lampOn(0));
    EXPECT_EQ(window->lblName1->text(), "Disconnected");
    EXPECT_EQ(window->panel(0).scanState(), 0) << "the scan ended as STOP ends it";
    EXPECT_EQ(window->btnScan1->text(), "SCAN");
    EXPECT_FALSE(window->panel(0).busy());
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    EXPECT_FALSE(window->panel(1).portLost());

    // COMM. searches again and finds the other controller; a new scan runs there.
    connectPanel(0, 5);
    EXPECT_FALSE(window->panel(0).portLost());
    EXPECT_EQ(window->panel(0).lastFault().isEmpty(), false) << "the last fault's reason stays readable";
    setScan(0, "500", "520", "10", "0.3");
    click(window->btnScan1);
    ASSERT_TRUE(waitForLog(0, "End Scaning..."));
    EXPECT_EQ(moveCommands(5), 3);
    EXPECT_EQ(fileTexts(), paneLines(0));
}

TEST_F(FaultDrill, DisconnectingDuringAScanEndsTheScan) {
    startConnected();
    setScan(0, "500", "900", "4", "10");
    click(window->btnScan1);
    ASSERT_TRUE(waitFor([&] { return paneCount(0, "Moving Ok") >= 2; }));
    click(btnComm(0));
    ASSERT_TRUE(waitForLog(0, "Disconnect comm."));
    EXPECT_EQ(window->panel(0).scanState(), 0);
    EXPECT_EQ(window->btnScan1->text(), "SCAN");
    EXPECT_FALSE(window->panel(0).portLost()) << "a disconnect asked for is no fault";
    const int sent = moveCommands(3);
    QTest::qWait(300);
    EXPECT_EQ(moveCommands(3), sent) << "the scan went on without its port";
}

// ---- Input queue overflow ----

TEST_F(FaultDrill, AReplyLongerThanTheInputQueueIsLoggedAsLostAndThePanelReleased) {
    startConsole(3);
    keepLogHere();
    connectPanel(0, 3);
    // From now on, before every reply: the reply's "*" never finds room.
    sim.setFaults(3, [](orvanesim::ControllerConfig& c) { c.garbageBytes = 5000; });

    type(window->txtMoveWavelength1, "532.5");
    click(window->btnMove1);
    const QString lost = "Reply lost. COM3 (" + overflowText + ")";
    ASSERT_TRUE(waitForLog(0, lost)) << paneLines(0).join('|').toStdString();
    EXPECT_FALSE(window->panel(0).busy());
    EXPECT_EQ(window->btnMove1->text(), "MOVE");
    EXPECT_TRUE(window->panel(0).comm()->PortOpened()) << "an overflow is no reason to drop the line";
    EXPECT_FALSE(window->panel(0).portLost());

    // A scan is not held up by replies that can never end: each point is given up and the next one sent.
    setScan(0, "500", "502", "1", "0.3");
    click(window->btnScan1);
    ASSERT_TRUE(waitForLog(0, "End Scaning..."));
    EXPECT_EQ(paneCount(0, lost), 4);
    EXPECT_EQ(paneCount(0, "Moving Ok"), 0);
    EXPECT_EQ(moveCommands(3), 4);

    // Nothing awaited: a flood of noise is told once, not for every chunk of it.
    sim.inject(3, std::string(20000, 'x'));
    const QString overflow = "Input overflow. COM3 (" + overflowText + ")";
    ASSERT_TRUE(waitForLog(0, overflow));
    QTest::qWait(300);
    EXPECT_EQ(paneCount(0, overflow), 1);
    EXPECT_EQ(fileTexts(), paneLines(0));
}
