// Why a device refuses the user, told as a user meets it: a real pseudo-terminal, reached through a link
// as in a port folder, given each case's owner, group and mode, and opened by a child process running
// as an ordinary account with chosen groups (the tests run as root, whom no mode stops).
#include "KivPortAccess.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

gid_t groupId(const char* Name) {
    const group* found = ::getgrnam(Name);
    return found ? found->gr_gid : gid_t(-1);
}

struct Met {
    int openError = -1;
    PortRefusal kind = PortRefusal::Unknown;
    QString line;
};

// Opens Device for reading and writing as the account User with process group Group and supplementary
// Groups, in a child process, and says what it met. A fork keeps the test's own credentials untouched.
Met openAs(const std::string& Device, uid_t User, gid_t Group, const std::vector<gid_t>& Groups) {
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::setgroups(Groups.size(), Groups.data()) != 0 || ::setresgid(Group, Group, Group) != 0 ||
            ::setresuid(User, User, User) != 0)
            ::_exit(2);
        const int fd = ::open(Device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const int error = fd < 0 ? errno : 0;
        const QByteArray report = QStringLiteral("%1\n%2\n%3")
                                      .arg(error)
                                      .arg(int(refusalOf(portAccessOf(Device))))
                                      .arg(refusedPortLine(QStringLiteral("COM3"), Device))
                                      .toUtf8();
        const bool written = ::write(channel[1], report.data(), report.size()) == report.size();
        ::_exit(written ? 0 : 3);
    }
    ::close(channel[1]);
    QByteArray report;
    char buffer[512];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) != 0;)
        if (n > 0)
            report.append(buffer, n);
        else if (errno != EINTR)
            break;
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    const QStringList parts = QString::fromUtf8(report).split(u'\n');
    if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || parts.size() != 3)
        return {};
    return {parts[0].toInt(), PortRefusal(parts[1].toInt()), parts[2]};
}

class PortAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::geteuid(), 0u) << "the cases are set up by root";
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        ASSERT_TRUE(folder.isValid());
        ASSERT_EQ(::chmod(folder.path().toLocal8Bit().constData(), 0755), 0);
        link = folder.filePath(QStringLiteral("COM3")).toStdString();
        ASSERT_EQ(::symlink(name, link.c_str()), 0);
        ASSERT_NE(dialout, gid_t(-1));
        ASSERT_NE(nogroup, gid_t(-1));
        ASSERT_NE(nobody, uid_t(-1));
    }
    void TearDown() override {
        ::close(slave);
        ::close(master);
    }
    void give(uid_t Owner, gid_t Group, mode_t Mode) {
        ASSERT_EQ(::chown(name, Owner, Group), 0);
        ASSERT_EQ(::chmod(name, Mode), 0);
    }
    QString prefix() const {
        return QStringLiteral("Permission denied COM3 (%1): ").arg(QString::fromLatin1(name));
    }

    int master = -1, slave = -1;
    char name[PATH_MAX] = {};
    QTemporaryDir folder;
    std::string link;
    const uid_t nobody = ::getpwnam("nobody") ? ::getpwnam("nobody")->pw_uid : uid_t(-1);
    const gid_t dialout = groupId("dialout"), nogroup = groupId("nogroup");
};

} // namespace

TEST_F(PortAccessTest, EachCauseIsToldWithItsCure) {
    ASSERT_EQ(::getpwuid(nobody)->pw_gid, nogroup); // the account's own group, for the new-login case

    // The device's owner, group and mode; the process group and groups of the user; what is told.
    auto expectTold = [&](const char* what, uid_t owner, gid_t group, mode_t mode, gid_t processGroup,
                          const std::vector<gid_t>& groups, PortRefusal kind, const QString& reason) {
        give(owner, group, mode);
        const Met met = openAs(link, nobody, processGroup, groups);
        EXPECT_EQ(met.openError, EACCES) << what;
        EXPECT_EQ(met.kind, kind) << what;
        EXPECT_EQ(met.line, prefix() + reason) << what;
    };
    expectTold("outside the device's group", 0, dialout, 0660, nogroup, {}, PortRefusal::NotInGroup,
               "not in group dialout. Run: sudo usermod -aG dialout $USER, then log in again");
    expectTold("in the group, which the mode leaves out", 0, dialout, 0600, nogroup, {dialout},
               PortRefusal::GroupHasNoAccess, "crw------- root:dialout gives group dialout no read/write");
    expectTold("in dialout, the device root's alone", 0, 0, 0600, nogroup, {dialout},
               PortRefusal::GroupHasNoAccess, "crw------- root:root gives group root no read/write");
    expectTold("in the group by the account, not yet by this login", 0, nogroup, 0660, dialout, {},
               PortRefusal::LogInAgain, "joined group nogroup after this login: log in again");
    expectTold("the owner, whose bits say no", nobody, dialout, 0060, nogroup, {dialout}, PortRefusal::Other,
               "c---rw---- nobody:dialout refuses this user");

    // The same user in the group of a device that grants it opens it: the cases above are real refusals.
    give(0, dialout, 0660);
    EXPECT_EQ(openAs(link, nobody, nogroup, {dialout}).openError, 0);

    // A port folder the user may not enter hides the device itself.
    ASSERT_EQ(::chmod(folder.path().toLocal8Bit().constData(), 0700), 0);
    const Met hidden = openAs(link, nobody, nogroup, {dialout});
    EXPECT_EQ(hidden.openError, EACCES);
    EXPECT_EQ(hidden.kind, PortRefusal::Unknown);
    EXPECT_TRUE(hidden.line.endsWith(QStringLiteral("): it or a folder on its path refuses this user")))
        << hidden.line.toStdString();
}

// A search names its first refused port once, and repeats it after its failure only when every port
// that exists refused: a missing port is no failure, a busy or silent one is another reason.
TEST_F(PortAccessTest, ASearchRepeatsTheReasonOnlyWhenEveryPortRefused) {
    const QString line = refusedPortLine(QStringLiteral("COM3"), link);
    EXPECT_TRUE(line.startsWith(prefix())) << line.toStdString();

    PortRefusals search;
    EXPECT_EQ(search.note(QStringLiteral("COM1"), "/nonexistent", ENOENT), QString());
    EXPECT_EQ(search.note(QStringLiteral("COM3"), link, EACCES), line);
    EXPECT_EQ(search.note(QStringLiteral("COM3"), link, EPERM), QString()); // said once per search
    EXPECT_EQ(search.note(QStringLiteral("COM4"), "/nonexistent", ENXIO), QString());
    EXPECT_EQ(search.finalLine(), line);

    for (int other : {EBUSY, 0}) {
        search.reset();
        EXPECT_EQ(search.finalLine(), QString());
        EXPECT_EQ(search.note(QStringLiteral("COM3"), link, EACCES), line); // a new search names it again
        search.note(QStringLiteral("COM5"), "/dev/null", other);
        EXPECT_EQ(search.finalLine(), QString()) << other;
    }
}
