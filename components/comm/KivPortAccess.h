#pragma once
// Why a serial device refuses this user, told from the device's owner, group and mode and the user's
// groups, in a line short enough for a log pane and naming what cures it.

#include <QString>

#include <cstdint>
#include <string>
#include <sys/types.h>

enum class PortRefusal : std::uint8_t {
    NotInGroup,       // the device's group may read and write it; the account is not in that group
    LogInAgain,       // the account is in the group, but this session began before it was added
    GroupHasNoAccess, // the mode gives the device's group no read and write
    Other,            // the mode would let us in (an ACL, a security module) or shuts out the owner itself
    Unknown,          // the device could not be looked at: a folder on its path refuses us, or it is gone
};

// What decides whether this process may open a device for reading and writing.
struct PortAccess {
    std::string device; // links followed
    bool known = false; // the device could be looked at (stat)
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
    QString ownerName, groupName;
    uid_t user = 0;                // effective user of this process
    bool inGroupNow = false;       // the group is this process's group or one of its supplementary groups
    bool inGroupByAccount = false; // the user's account is in the group (passwd and group database)
};

// The facts for Device as this process sees them.
PortAccess portAccessOf(const std::string& Device);
PortRefusal refusalOf(const PortAccess& Access);
// The cause and its cure, without the port: "not in group dialout. Run: sudo usermod -aG dialout $USER,
// then log in again".
QString refusalReason(const PortAccess& Access);
// The pane's line for a port whose device refused to open: "Permission denied COM3 (/dev/ttyUSB0): ...".
QString refusedPortLine(const QString& PortName, const std::string& Device);
// "crw-rw----", as ls shows the mode of a device file.
QString modeText(mode_t Mode);

// One search over the ports as far as refusals go: the first refused port is named once, and when every
// port that exists refused, the search's failure is followed by the same line.
class PortRefusals {
public:
    // A new search begins.
    void reset();
    // The open of PortName (device Device) ended with OpenError (0: it opened). Returns the line to log
    // now: the reason, for the search's first refused port; otherwise empty.
    QString note(const QString& PortName, const std::string& Device, int OpenError);
    // After a search that found nothing: the refused port's line again when every port that exists
    // refused, else empty.
    QString finalLine() const;

private:
    QString FFirstLine;
    bool FOtherFailure = false; // a port that exists opened, was busy or failed otherwise
};
