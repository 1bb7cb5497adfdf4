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
#include "fExpertMode1.h"
#include "fExpertMode2.h"
#include "fMain.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

    void startConsole(int com = 3) { startConsole({orvanesim::ControllerConfig::instant(com)}); }

    template <typename Predicate> static bool waitFor(Predicate predicate, int ms = kWaitMs) {
        return QTest::qWaitFor(predicate, ms);
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

    orvanesim::Simulator sim;
    std::unique_ptr<TfrmMain> window;
    std::unique_ptr<TfrmExpertMode2> expert2;
    std::unique_ptr<TfrmExpertMode1> expert1;
    QStringList errors;
    std::mutex seenMutex;
    std::vector<SeenCommand> seen;
};

} // namespace consoletest
