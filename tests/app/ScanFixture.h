#pragma once
// The console's main window over the controller simulator, for the scan tests: controllers on pseudo-
// terminals, the window with its terminals, the ports opened directly and the error messages recorded.

#include "ConsoleSettings.h"
#include "KivComm.h"
#include "LogMemo.h"
#include "OrvaneApplication.h"
#include "OrvaneSim.h"
#include "PreciseTimer.h"
#include "fExpertMode1.h"
#include "fExpertMode2.h"
#include "fMain.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace scantest {

// Processes events until Done holds or BoundMs passes; a short periodic timer makes sure the loop wakes to
// look again even when nothing else happens.
inline bool waitFor(const std::function<bool()>& Done, int BoundMs = 10000) {
    QTimer wake;
    wake.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!Done()) {
        if (clock.elapsed() > BoundMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Types Text into Edit and presses Enter, as a user commits a value.
inline void commit(QLineEdit* Edit, const QString& Text) {
    Edit->setText(Text);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(Edit, &press);
}

// Enter on an edit whose text did not change.
inline void pressEnter(QLineEdit* Edit) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(Edit, &press);
}

// The pane's lines once it has taken the lines queued for it (within a frame).
inline QStringList paneLines(LogMemo* Pane) {
    EXPECT_TRUE(QTest::qWaitFor([Pane] { return Pane->PendingCount() == 0; }, 5000)) << "lines left queued";
    return Pane->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class ScanFixture : public ::testing::Test {
protected:
    // COM3: spectrograph 1's controller answering at once; COM4: one that takes 1 ms per nm to move.
    static constexpr int FastCom = 3;
    static constexpr int SlowCom = 4;

    void SetUp() override {
        OrvaneApplication::setErrorHook([this](const QString& message) { errors.append(message); });
        // No port remembered from an earlier test: each search starts at COM1.
        consolesettings::setLastPort(1, 0);
        consolesettings::setLastPort(2, 0);
        sim.addController(orvanesim::ControllerConfig::instant(FastCom));
        auto slow = orvanesim::ControllerConfig::instant(SlowCom);
        slow.nmPerSecond = 1000;
        slow.startWavelength = 500;
        sim.addController(slow);
        sim.onCommand = [this](int com, const std::string& command) {
            std::lock_guard<std::mutex> lock(commandsLock);
            commands.push_back({com, command});
        };
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);

        frm = std::make_unique<TfrmMain>();
        frmMain = frm.get();
        expert2 = std::make_unique<TfrmExpertMode2>();
        frmExpertMode2 = expert2.get();
        expert1 = std::make_unique<TfrmExpertMode1>();
        frmExpertMode1 = expert1.get();
        frm->show();
        frm->rgSelectionItems->button(2)->click(); // "Dual": both panels take input
    }

    void TearDown() override {
        if (frm)
            frm->close();
        expert1.reset();
        expert2.reset();
        frm.reset();
        frmExpertMode1 = nullptr;
        frmExpertMode2 = nullptr;
        sim.stop();
        unsetenv("ORVANE_PORT_DIR");
        OrvaneApplication::setErrorHook({});
    }

    // Connects spectrograph Index + 1 to the controller at COM<Com> (that port tried first, quick ticks) and
    // forgets the commands of the search, so that a test sees only its own.
    void openPort(int Index, int Com) {
        SpectrographPanel& p = frm->panel(Index);
        p.setPreferredPort(Com - 1);
        p.connectTimer()->setInterval(50);
        ASSERT_EQ(p.commClick(), QString());
        ASSERT_TRUE(waitFor([&] { return p.mode() == pmReady; })) << SpectrographPanel::modeName(p.mode());
        std::lock_guard<std::mutex> lock(commandsLock);
        commands.clear();
        LogMemo* pane = Index == 0 ? frm->memoLog1 : frm->memoLog2;
        paneLines(pane);
        pane->clear();
    }

    std::vector<std::string> commandsAt(int Com) {
        std::lock_guard<std::mutex> lock(commandsLock);
        std::vector<std::string> result;
        for (const auto& [com, text] : commands)
            if (com == Com)
                result.push_back(text);
        return result;
    }

    void setScan(int Index, const QString& Start, const QString& End, const QString& Res, const QString& Time,
                 const QString& Passes) {
        const bool first = Index == 0;
        (first ? frm->txtScanStart1 : frm->txtScanStart2)->setText(Start);
        (first ? frm->txtScanEnd1 : frm->txtScanEnd2)->setText(End);
        (first ? frm->txtScanPointRes1 : frm->txtScanPointRes2)->setText(Res);
        (first ? frm->txtScanTime1 : frm->txtScanTime2)->setText(Time);
        (first ? frm->txtScanPeriodCount1 : frm->txtScanPeriodCount2)->setText(Passes);
    }

    orvanesim::Simulator sim;
    std::mutex commandsLock;
    std::vector<std::pair<int, std::string>> commands;
    QStringList errors;
    std::unique_ptr<TfrmMain> frm;
    std::unique_ptr<TfrmExpertMode2> expert2;
    std::unique_ptr<TfrmExpertMode1> expert1;
};

} // namespace scantest
