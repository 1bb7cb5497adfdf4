#pragma once
// The console as a user meets it: the main window and both terminals, set up as the program entry does,
// with the controller simulator on pseudo-terminals in the same process. Tests click and type on the real
// controls and read what the controllers received.

#include "ConsoleSettings.h"
#include "KivComm.h"
#include "KivIndicator.h"
#include "KivLED.h"
#include "KivLEDBtn.h"
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
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
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

namespace consoletest {

// One command as the controller saw it, with the time its CR arrived.
struct SeenCommand {
    int com;
    std::string text;
    std::chrono::steady_clock::time_point at;
};

class ConsoleFixture : public ::testing::Test {
protected:
    // Generous: the tests also run under AddressSanitizer on a shared two-core machine.
    static constexpr int kWaitMs = 15000;
    // A tick short enough to keep a search over a few ports quick, long enough for an answer to arrive.
    static constexpr int kConnectTickMs = 200;

    void SetUp() override {
        OrvaneApplication::setErrorHook([this](const QString& message) { errors.append(message); });
        // No port remembered from an earlier test: each search starts at COM1.
        consolesettings::setLastPort(1, 0);
        consolesettings::setLastPort(2, 0);
    }

    void TearDown() override {
        expert1.reset();
        expert2.reset();
        window.reset();
        frmExpertMode1 = nullptr;
        frmExpertMode2 = nullptr;
        sim.stop();
        OrvaneApplication::setErrorHook({});
        EXPECT_TRUE(errors.isEmpty()) << errors.join(u'\n').toStdString();
    }

    // Starts the given controllers and the console on their port folder, as the program entry would.
    void startConsole(const std::vector<orvanesim::ControllerConfig>& controllers) {
        for (const auto& c : controllers)
            sim.addController(c);
        sim.onCommand = [this](int com, const std::string& text) {
            std::lock_guard lock(seenMutex);
            seen.push_back({com, text, std::chrono::steady_clock::now()});
        };
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        ::setenv("ORVANE_PORT_DIR", sim.portDir().c_str(), 1);
        remakeWindows();
    }

    void startConsole(int com = 3) { startConsole({orvanesim::ControllerConfig::instant(com)}); }
    // One controller on COM3, as Adjust makes it, and panel 1 connected to it.
    void startConnected(const std::function<void(orvanesim::ControllerConfig&)>& Adjust = {}) {
        orvanesim::ControllerConfig controller = orvanesim::ControllerConfig::instant(3);
        if (Adjust)
            Adjust(controller);
        startConsole({controller});
        connectPanel(0, 3);
    }

    // New windows, made as the program makes them at its start (under the palettes in force now).
    void remakeWindows() {
        expert1.reset();
        expert2.reset();
        window.reset();
        window = std::make_unique<TfrmMain>();
        frmMain = window.get();
        expert2 = std::make_unique<TfrmExpertMode2>();
        frmExpertMode2 = expert2.get();
        expert1 = std::make_unique<TfrmExpertMode1>();
        frmExpertMode1 = expert1.get();
        window->panel(0).connectTimer()->setInterval(kConnectTickMs);
        window->panel(1).connectTimer()->setInterval(kConnectTickMs);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    static orvanesim::ControllerConfig controllerNamed(int com, const char* Name) {
        orvanesim::ControllerConfig c = orvanesim::ControllerConfig::instant(com);
        c.name = Name;
        return c;
    }
    // "Dual": both panels take input.
    void dual() const { window->rgSelectionItems->button(2)->click(); }

    template <typename Predicate> static bool waitFor(Predicate predicate, int ms = kWaitMs) {
        return QTest::qWaitFor(predicate, ms);
    }
    // For the scan's timing: wakes at every event (a short timer makes sure of one) instead of sleeping
    // between looks, so that the test reacts within the scan's ticks.
    static bool waitAwake(const std::function<bool()>& Done, int BoundMs = 10000) {
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

    // Panel Index's controls and log.
    TKivLEDBtn* btnComm(int Index) const { return Index == 0 ? window->btnComm1 : window->btnComm2; }
    LogMemo* memoLog(int Index) const { return Index == 0 ? window->memoLog1 : window->memoLog2; }
    // The pane's lines once it has taken the lines queued for it (within a frame).
    QStringList paneLines(int Index) const {
        LogMemo* pane = memoLog(Index);
        EXPECT_TRUE(waitFor([pane] { return pane->PendingCount() == 0; })) << "lines left queued";
        const QString text = pane->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(u'\n');
    }
    bool paneHas(int Index, const QString& Line) const { return paneLines(Index).contains(Line); }
    bool waitForLog(int Index, const QString& Line, int ms = kWaitMs) const {
        return waitFor([&] { return paneHas(Index, Line); }, ms);
    }
    int paneCount(int Index, const QString& Line) const { return int(paneLines(Index).count(Line)); }
    int paneCountStarting(int Index, const QString& Start) const {
        const QStringList lines = paneLines(Index);
        return int(
            std::count_if(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(Start); }));
    }
    bool lampOn(int Index) const { return btnComm(Index)->LED()->Value(); }

    // The bytes a controller received since Mark (a position from mark()).
    std::size_t mark(int com) const { return sim.received(com).size(); }
    std::string receivedSince(int com, std::size_t Mark) const {
        const std::string all = sim.received(com);
        return Mark < all.size() ? all.substr(Mark) : std::string();
    }
    bool waitForBytes(int com, std::size_t Mark, const std::string& bytes, int ms = kWaitMs) const {
        return waitFor([&] { return receivedSince(com, Mark) == bytes; }, ms);
    }
    std::vector<SeenCommand> commands() {
        std::lock_guard lock(seenMutex);
        return seen;
    }
    std::vector<std::string> commandsAt(int com) {
        std::vector<std::string> result;
        for (const SeenCommand& c : commands())
            if (c.com == com)
                result.push_back(c.text);
        return result;
    }

    // On the indicator of a radio button or check box (its middle may lie beyond the caption), else in the
    // middle.
    static void click(QAbstractButton* button) {
        QPoint at = button->rect().center();
        if (qobject_cast<QRadioButton*>(button) || qobject_cast<QCheckBox*>(button))
            at.setX(6);
        QTest::mouseClick(button, Qt::LeftButton, {}, at);
    }
    static void type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    // Enter on Edit, as a user commits a value (with Text, typed first).
    static void pressEnter(QLineEdit* Edit) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(Edit, &press);
    }
    static void commit(QLineEdit* Edit, const QString& Text) {
        Edit->setText(Text);
        pressEnter(Edit);
    }
    void setScan(int Index, const QString& Start, const QString& End, const QString& Res, const QString& Time,
                 const QString& Passes = QStringLiteral("1")) const {
        const bool first = Index == 0;
        (first ? window->txtScanStart1 : window->txtScanStart2)->setText(Start);
        (first ? window->txtScanEnd1 : window->txtScanEnd2)->setText(End);
        (first ? window->txtScanPointRes1 : window->txtScanPointRes2)->setText(Res);
        (first ? window->txtScanTime1 : window->txtScanTime2)->setText(Time);
        (first ? window->txtScanPeriodCount1 : window->txtScanPeriodCount2)->setText(Passes);
    }

    // Presses COMM. on panel Index and waits for the search to end on COM<com> with the info reply read.
    void connectPanel(int Index, int com) {
        click(btnComm(Index));
        const QString success = QStringLiteral("Connection Successs. COM%1").arg(com);
        ASSERT_TRUE(waitForLog(Index, success)) << paneLines(Index).join(u'|').toStdString();
        ASSERT_TRUE(waitFor([&] { return window->panel(Index).mode() == pmReady; }));
        ASSERT_TRUE(lampOn(Index));
    }

    // Connects panel Index to the controller on COM<com> at once: that port is tried first, with quick
    // search ticks; returns when the name and grating table are read.
    void connectAt(int Index, int com) {
        SpectrographPanel& p = window->panel(Index);
        p.setPreferredPort(com - 1);
        p.connectTimer()->setInterval(50);
        ASSERT_EQ(p.commClick(), QString());
        ASSERT_TRUE(waitFor([&] { return p.mode() == pmReady; }))
            << SpectrographPanel::modeName(p.mode()) << " " << paneLines(Index).join(u'|').toStdString();
        p.connectTimer()->setInterval(kConnectTickMs);
    }
    // connectAt, then forgets the commands and lines of the search, so that a test sees only its own.
    void openPort(int Index, int com) {
        connectAt(Index, com);
        paneLines(Index);
        memoLog(Index)->clear();
        std::lock_guard lock(seenMutex);
        seen.clear();
    }
    // Opens panel Index's port on Port directly and ticks its Expert Mode box.
    void openTerminal(int Index, TPort Port) {
        if (Index == 1)
            dual();
        window->panel(Index).comm()->SetPort(Port);
        ASSERT_TRUE(window->panel(Index).comm()->OpenComm());
        click(Index == 0 ? window->cbExpertMode1 : window->cbExpertMode2);
    }

    orvanesim::Simulator sim;
    std::unique_ptr<TfrmMain> window;
    std::unique_ptr<TfrmExpertMode2> expert2;
    std::unique_ptr<TfrmExpertMode1> expert1;
    QStringList errors;
    std::mutex seenMutex;
    std::vector<SeenCommand> seen;
};

// The console with the scan tests' controllers: COM3 answering at once, COM4 taking 1 ms per nm to move from
// 500 nm; both panels take input.
class ScanConsole : public ConsoleFixture {
protected:
    static constexpr int FastCom = 3;
    static constexpr int SlowCom = 4;

    void SetUp() override {
        ConsoleFixture::SetUp();
        auto slow = orvanesim::ControllerConfig::instant(SlowCom);
        slow.nmPerSecond = 1000;
        slow.startWavelength = 500;
        startConsole({orvanesim::ControllerConfig::instant(FastCom), slow});
        dual();
    }
    void TearDown() override {
        if (window)
            window->close();
        ConsoleFixture::TearDown();
        ::unsetenv("ORVANE_PORT_DIR");
    }
};

} // namespace consoletest
