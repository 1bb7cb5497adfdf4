// A serial port that exists but refuses the user is named once per search, unlike a missing one, with the
// cause told from the device's owner, group and mode; the search's own lines stay as they were, and the
// pane wraps the line so that its end, the cure, can be read.
#include "ConsoleFixture.h"

#include "znLog.h"

#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <grp.h>
#include <pwd.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace consoletest;

namespace {

// The permission checks of the window thread as an ordinary user meets them: root's capability to
// override file modes is taken out of this thread's effective set (and put back afterwards), so a
// device whose owner, group and mode shut it out refuses it with EACCES as it refuses an ordinary user.
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
    // Controllers on COM2, whose device then gets Owner, Group and Mode, and COM4; the console started
    // on them. The test thread is the window's: as an ordinary user it is not the device's owner and its
    // only group is root's.
    void startWithRefusedCom2(uid_t Owner, gid_t Group, mode_t Mode) {
        startConsole({orvanesim::ControllerConfig::instant(2), orvanesim::ControllerConfig::instant(4)});
        device = sim.devicePath(2);
        ASSERT_EQ(::stat(device.c_str(), &old), 0);
        ASSERT_EQ(::chown(device.c_str(), Owner, Group), 0);
        ASSERT_EQ(::chmod(device.c_str(), Mode), 0);
    }
    void TearDown() override {
        if (!device.empty()) {
            ::chown(device.c_str(), old.st_uid, old.st_gid);
            ::chmod(device.c_str(), old.st_mode & 07777);
        }
        ConsoleFixture::TearDown();
    }
    QString refusedLine(const QString& Reason) const {
        return QStringLiteral("Permission denied COM2 (%1): %2").arg(QString::fromStdString(device), Reason);
    }

    std::string device;
    struct stat old {};
    const uid_t nobody = ::getpwnam("nobody")->pw_uid;
    const gid_t dialout = ::getgrnam("dialout")->gr_gid;
};

} // namespace

TEST_F(PortPermission, ARefusedPortIsNamedOnceBetweenTheSearchsOwnLinesWithItsCure) {
    startWithRefusedCom2(nobody, dialout, 0660);
    AsOrdinaryUser user;
    ASSERT_TRUE(user.active);

    connectPanel(0, 4);
    const QString refused = refusedLine(
        QStringLiteral("not in group dialout. Run: sudo usermod -aG dialout $USER, then log in again"));
    const QStringList expected{
        "Try to connect...",   "Try to connect COM1", "Try to connect COM2",      refused,
        "Try to connect COM3", "Try to connect COM4", "Connection Successs. COM4"};
    EXPECT_EQ(paneLines(0).mid(0, 7), expected) << paneLines(0).join(u'|').toStdString();
    EXPECT_EQ(window->panel(0).comm()->PortName(), "COM4");
    EXPECT_EQ(window->panel(0).comm()->LastOpenError(), 0);
    EXPECT_EQ(sim.received(2), ""); // nothing reached the refused controller

    // The pane wraps the line within its width: nothing of it lies beyond the edge.
    LogMemo* pane = memoLog(0);
    const QTextBlock block = pane->document()->findBlockByNumber(3);
    ASSERT_EQ(block.text(), refused);
    ASSERT_TRUE(block.layout());
    EXPECT_GE(block.layout()->lineCount(), 2);
    for (int i = 0; i < block.layout()->lineCount(); ++i)
        EXPECT_LE(block.layout()->lineAt(i).naturalTextWidth(), pane->viewport()->width());
    EXPECT_EQ(pane->horizontalScrollBar()->maximum(), 0);

    // The log file carries the same line.
    window->LogFile->SetActive(false);
    QDir logs(window->LogFolder());
    QString all;
    for (const QString& name : logs.entryList({QStringLiteral("log_*.txt")}, QDir::Files)) {
        QFile file(logs.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        all += QString::fromLatin1(file.readAll());
    }
    EXPECT_TRUE(all.contains(refused + QStringLiteral("\r\n")));
}

TEST_F(PortPermission, EachSearchNamesItOnceAndMissingOrHeldPortsAreNotBlamed) {
    // In the device's group, which its mode leaves out.
    startWithRefusedCom2(nobody, 0, 0600);
    AsOrdinaryUser user;
    ASSERT_TRUE(user.active);
    const QString refused =
        refusedLine(QStringLiteral("crw------- nobody:root gives group root no read/write"));

    // Panel 2 holds COM4, so panel 1's search finds every port but COM2 missing or busy, then fails.
    dual();
    connectPanel(1, 4);
    EXPECT_EQ(paneCount(0, refused), 0);
    click(btnComm(0));
    ASSERT_TRUE(waitForLog(0, QStringLiteral("Try to connect COM3")));
    click(btnComm(0)); // a new search starts over and may name the port again
    ASSERT_TRUE(waitForLog(0, QStringLiteral("Connection failure!!!"), 60000));
    EXPECT_EQ(paneCount(0, refused), 2) << paneLines(0).join(u'|').toStdString();
    EXPECT_EQ(paneCount(0, QStringLiteral("Try to connect COM22")), 1);
    for (const QString& line : paneLines(0))
        EXPECT_FALSE(line.startsWith(QStringLiteral("Permission denied COM")) && line != refused)
            << line.toStdString();
    EXPECT_EQ(window->panel(0).comm()->LastOpenError(), ENOENT); // COM22: no such port
}

// Wrapping changes nothing for the pane's ordinary lines: drawn as they were without it.
TEST_F(PortPermission, ShortLinesLookAsWithoutWrapping) {
    startConnected();
    LogMemo* pane = memoLog(0);
    EXPECT_EQ(pane->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    pane->verticalScrollBar()->setValue(0);
    const QImage wrapped = pane->grab().toImage();
    pane->setLineWrapMode(QPlainTextEdit::NoWrap);
    pane->verticalScrollBar()->setValue(0);
    EXPECT_EQ(pane->grab().toImage(), wrapped);
}
