// The console under a long run, for tools/soak.sh: the program entry's windows, driven as a user would
// (Dual, COMM. on both panels, then SCAN on both at the fastest period, restarted whenever one ends),
// against controllers the script started. Prints "measure start" once both scans run and "measure end"
// after MINUTES, each followed by a pause in which the script reads this process's figures; then stops
// both scans, waits for the last replies and closes the window, which writes out the log file.
//
//   orvane-soak MINUTES      (ORVANE_PORT_DIR set to the simulator's port folder)

#include "CommandLine.h"
#include "ConsoleWindows.h"
#include "KivButton.h"
#include "KivCommon.h"
#include "KivLED.h"
#include "KivLEDBtn.h"
#include "OrvaneApplication.h"
#include "fMain.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace {

bool waitFor(const std::function<bool()>& done, int ms) {
    return QTest::qWaitFor(done, ms);
}

void say(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

void setScan(TfrmMain& w, int Index) {
    QLineEdit* fields[2][6] = {{w.txtScanStart1, w.txtScanEnd1, w.txtScanPointRes1, w.txtScanPointCount1,
                                w.txtScanTime1, w.txtScanPeriodCount1},
                               {w.txtScanStart2, w.txtScanEnd2, w.txtScanPointRes2, w.txtScanPointCount2,
                                w.txtScanTime2, w.txtScanPeriodCount2}};
    // 101 points in no time at all: every point gets the shortest period, 10 ms (20 ms on panel 2).
    const char* texts[6] = {"400", "500", "1", "101", "0", "100000"};
    for (int k = 0; k < 6; ++k)
        fields[Index][k]->setText(QString::fromLatin1(texts[k]));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::atof(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: orvane-soak MINUTES\n");
        return 2;
    }
    const qint64 runMs = static_cast<qint64>(std::atof(argv[1]) * 60000);
    commandline::ensureRuntimeDir(); // as the console does: no toolkit warning about a missing one
    OrvaneApplication app(argc, argv);
    OrvaneApplication::setApplicationName(QStringLiteral("Orvane"));
    OrvaneApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    int errors = 0;
    OrvaneApplication::setErrorHook([&errors](const QString& message) {
        ++errors;
        std::fprintf(stderr, "error: %s\n", message.toUtf8().constData());
    });
    SetKivErrorHandler(&OrvaneApplication::showError);

    ConsoleWindows windows;
    TfrmMain& w = windows.main;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;

    QTest::mouseClick(w.rgSelectionItems->button(2), Qt::LeftButton, {}, QPoint(6, 8)); // Dual
    if (!w.gbSpectroGraph2->isEnabled()) {
        say("Dual did not enable panel 2");
        return 1;
    }
    QTest::mouseClick(w.btnComm1, Qt::LeftButton);
    QTest::mouseClick(w.btnComm2, Qt::LeftButton);
    const auto connected = [&w] {
        return w.btnComm1->LED()->Value() && w.btnComm2->LED()->Value() &&
               !w.panel(0).info().Name.isEmpty() && !w.panel(1).info().Name.isEmpty();
    };
    if (!waitFor(connected, 60000)) {
        say("the controllers were not found");
        return 1;
    }
    TKivBitBtn* scan[2] = {w.btnScan1, w.btnScan2};
    int restarts = 0;
    const auto startScans = [&] {
        for (int i = 0; i < 2; ++i) {
            const int state = i == 0 ? w.panel(0).scanState() : w.panel(1).scanState();
            const bool busy = i == 0 ? w.panel(0).busy() : w.panel(1).busy();
            if (state == 0 && !busy) {
                setScan(w, i);
                QTest::mouseClick(scan[i], Qt::LeftButton);
                ++restarts;
            }
        }
    };
    startScans();
    if (!waitFor([&w] { return w.panel(0).scanState() == 1 && w.panel(1).scanState() == 1; }, 10000)) {
        say("the scans did not start");
        return 1;
    }
    say("measure start");
    QTest::qWait(3000);

    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < runMs) {
        QTest::qWait(500);
        startScans();
    }
    say("measure end");
    QTest::qWait(3000);

    QTest::mouseClick(w.btnScanStop1, Qt::LeftButton);
    QTest::mouseClick(w.btnScanStop2, Qt::LeftButton);
    waitFor([&w] { return !w.panel(0).busy() && !w.panel(1).busy(); }, 10000);
    std::printf("scan starts %d, errors %d\n", restarts, errors);
    w.close();
    frmMain = nullptr;
    return errors == 0 ? 0 : 1;
}
