// A serial port that exists but refuses the user (not in "dialout") is named once per search, unlike a
// missing one, and the search's own lines stay as they were.
#include "ConsoleFixture.h"

#include "znLog.h"

#include <QDir>
#include <QFile>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace consoletest;

namespace {

// The permission checks of the window thread as an ordinary user meets them: root's capability to
// override file modes is taken out of this thread's effective set (and put back afterwards), so a
// device with mode 000 refuses it with EACCES as it refuses a user outside its group.
class AsOrdinaryUser {
public:
    AsOrdinaryUser() {
        if (::syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        const unsigned mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        reduced[0].effective &= ~mask;
        active = ::syscall(SYS_capset, &header, reduced) == 0;
    }
    ~AsOrdinaryUser() {
        if (active)
            ::syscall(SYS_capset, &header, saved);
    }
    bool active = false;

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
};

class PortPermission : public ConsoleFixture {
protected:
    // Controllers on COM2 (whose device then refuses everyone) and COM4, the console started on them.
    void startWithRefusedCom2() {
        startConsole({orvanesim::ControllerConfig::instant(2), orvanesim::ControllerConfig::instant(4)});
        device = sim.devicePath(2);
        struct stat st {};
        ASSERT_EQ(::stat(device.c_str(), &st), 0);
        oldMode = st.st_mode & 07777;
        ASSERT_EQ(::chmod(device.c_str(), 0), 0);
    }
    void TearDown() override {
        if (!device.empty())
            ::chmod(device.c_str(), oldMode);
        ConsoleFixture::TearDown();
    }
    static QString refusedLine(const std::string& device) {
        return QStringLiteral("Permission denied COM2 (%1): add the user to the dialout group")
            .arg(QString::fromStdString(device));
    }

    std::string device;
    mode_t oldMode = 0600;
};

} // namespace

TEST_F(PortPermission, ARefusedPortIsNamedOnceBetweenTheSearchsOwnLines) {
    startWithRefusedCom2();
    AsOrdinaryUser user;
    ASSERT_TRUE(user.active);

    connectPanel(0, 4);
    const QStringList expected{"Try to connect...",        "Try to connect COM1", "Try to connect COM2",
                               refusedLine(device),        "Try to connect COM3", "Try to connect COM4",
                               "Connection Successs. COM4"};
    EXPECT_EQ(paneLines(0).mid(0, 7), expected) << paneLines(0).join(u'|').toStdString();
    EXPECT_EQ(window->panel(0).comm()->PortName(), "COM4");
    EXPECT_EQ(window->panel(0).comm()->LastOpenError(), 0);
    EXPECT_EQ(sim.received(2), ""); // nothing reached the refused controller

    // The log file carries the same line.
    window->LogFile->SetActive(false);
    QDir logs(window->LogFolder());
    QString all;
    for (const QString& name : logs.entryList({QStringLiteral("log_*.txt")}, QDir::Files)) {
        QFile file(logs.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        all += QString::fromLatin1(file.readAll());
    }
    EXPECT_TRUE(all.contains(refusedLine(device) + QStringLiteral("\r\n")));
}

TEST_F(PortPermission, EachSearchNamesItOnceAndMissingOrHeldPortsAreNotBlamed) {
    startWithRefusedCom2();
    AsOrdinaryUser user;
    ASSERT_TRUE(user.active);

    // Panel 2 holds COM4, so panel 1's search finds every port but COM2 missing or busy, then fails.
    window->rgSelectionItems->button(2)->click();
    connectPanel(1, 4);
    const int before = paneCount(0, refusedLine(device));
    EXPECT_EQ(before, 0);
    click(btnComm(0));
    ASSERT_TRUE(waitForLog(0, QStringLiteral("Try to connect COM3")));
    click(btnComm(0)); // a new search starts over and may name the port again
    ASSERT_TRUE(waitForLog(0, QStringLiteral("Connection failure!!!"), 60000));
    EXPECT_EQ(paneCount(0, refusedLine(device)), 2) << paneLines(0).join(u'|').toStdString();
    EXPECT_EQ(paneCount(0, QStringLiteral("Try to connect COM22")), 1);
    for (const QString& line : paneLines(0))
        EXPECT_FALSE(line.startsWith(QStringLiteral("Permission denied COM")) && line != refusedLine(device))
            << line.toStdString();
    EXPECT_EQ(window->panel(0).comm()->LastOpenError(), ENOENT); // COM22: no such port
}
