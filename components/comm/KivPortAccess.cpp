#include "KivPortAccess.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr mode_t ReadWrite = S_IROTH | S_IWOTH; // of the class whose bits are shifted to the lowest three

bool grants(mode_t Mode, int Shift) {
    return ((Mode >> Shift) & ReadWrite) == ReadWrite;
}

QString userName(uid_t Uid) {
    std::vector<char> buffer(16384);
    passwd entry{}, *found = nullptr;
    if (::getpwuid_r(Uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(Uid);
}

QString groupName(gid_t Gid) {
    std::vector<char> buffer(16384);
    group entry{}, *found = nullptr;
    if (::getgrgid_r(Gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(Gid);
}

bool processInGroup(gid_t Gid) {
    if (::getegid() == Gid)
        return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return count > 0 && std::find(groups.begin(), groups.begin() + count, Gid) != groups.begin() + count;
}

// The groups a new login of the account gets: its primary group and those the group database lists it in.
// getgrouplist asks the same sources as the login does, directory services included.
bool accountInGroup(uid_t Uid, gid_t Gid) {
    std::vector<char> buffer(16384);
    passwd entry{}, *found = nullptr;
    if (::getpwuid_r(Uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (found->pw_gid == Gid)
        return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        if (count <= static_cast<int>(groups.size())) // no growth asked for: give up rather than spin
            return false;
        groups.resize(static_cast<std::size_t>(count));
    }
    return std::find(groups.begin(), groups.begin() + count, Gid) != groups.begin() + count;
}

QString realPath(const std::string& Device) {
    char resolved[PATH_MAX];
    if (::realpath(Device.c_str(), resolved))
        return QString::fromLocal8Bit(resolved);
    return QString::fromLocal8Bit(Device.c_str());
}

bool missing(int OpenError) {
    return OpenError == ENOENT || OpenError == ENODEV || OpenError == ENXIO || OpenError == ENOTDIR;
}

bool refused(int OpenError) {
    return OpenError == EACCES || OpenError == EPERM;
}

} // namespace

QString modeText(mode_t Mode) {
    QString text;
    switch (Mode & S_IFMT) {
    case S_IFCHR:
        text += u'c';
        break;
    case S_IFBLK:
        text += u'b';
        break;
    case S_IFDIR:
        text += u'd';
        break;
    case S_IFLNK:
        text += u'l';
        break;
    case S_IFIFO:
        text += u'p';
        break;
    case S_IFSOCK:
        text += u's';
        break;
    default:
        text += u'-';
        break;
    }
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (Mode & (0400 >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    return text;
}

PortAccess portAccessOf(const std::string& Device) {
    PortAccess access;
    access.device = Device;
    access.user = ::geteuid();
    struct stat st {};
    if (::stat(Device.c_str(), &st) != 0)
        return access;
    access.known = true;
    access.owner = st.st_uid;
    access.group = st.st_gid;
    access.mode = st.st_mode;
    access.ownerName = userName(st.st_uid);
    access.groupName = groupName(st.st_gid);
    access.inGroupNow = processInGroup(st.st_gid);
    access.inGroupByAccount = access.inGroupNow || accountInGroup(access.user, st.st_gid);
    return access;
}

// The kernel looks at one class of the mode only: the owner's if we own it, else the group's if we are in
// it, else everyone else's. Capabilities aside, that decides unless an ACL or a security module steps in.
PortRefusal refusalOf(const PortAccess& Access) {
    if (!Access.known)
        return PortRefusal::Unknown;
    const bool groupMay = grants(Access.mode, 3), othersMay = grants(Access.mode, 0);
    if (Access.user == Access.owner)
        return PortRefusal::Other;
    if (Access.inGroupNow)
        return groupMay ? PortRefusal::Other : PortRefusal::GroupHasNoAccess;
    if (othersMay)
        return PortRefusal::Other;
    if (!groupMay)
        return PortRefusal::GroupHasNoAccess;
    if (Access.group == 0)
        return PortRefusal::Other; // no one should join root's group for a serial line
    return Access.inGroupByAccount ? PortRefusal::LogInAgain : PortRefusal::NotInGroup;
}

QString refusalReason(const PortAccess& Access) {
    const QString owned =
        QStringLiteral("%1 %2:%3").arg(modeText(Access.mode), Access.ownerName, Access.groupName);
    switch (refusalOf(Access)) {
    case PortRefusal::NotInGroup:
        return QStringLiteral("not in group %1. Run: sudo usermod -aG %1 $USER, then log in again")
            .arg(Access.groupName);
    case PortRefusal::LogInAgain:
        return QStringLiteral("joined group %1 after this login: log in again").arg(Access.groupName);
    case PortRefusal::GroupHasNoAccess:
        return QStringLiteral("%1 gives group %2 no read/write").arg(owned, Access.groupName);
    case PortRefusal::Other:
        return QStringLiteral("%1 refuses this user").arg(owned);
    case PortRefusal::Unknown:
        break;
    }
    return QStringLiteral("it or a folder on its path refuses this user");
}

QString refusedPortLine(const QString& PortName, const std::string& Device) {
    const PortAccess access = portAccessOf(Device);
    return QStringLiteral("Permission denied %1 (%2): %3")
        .arg(PortName, realPath(Device), refusalReason(access));
}

void PortRefusals::reset() {
    FFirstLine.clear();
    FOtherFailure = false;
}

QString PortRefusals::note(const QString& PortName, const std::string& Device, int OpenError) {
    if (!refused(OpenError)) {
        if (!missing(OpenError))
            FOtherFailure = true;
        return {};
    }
    if (!FFirstLine.isEmpty())
        return {};
    FFirstLine = refusedPortLine(PortName, Device);
    return FFirstLine;
}

QString PortRefusals::finalLine() const {
    return FOtherFailure ? QString() : FFirstLine;
}
