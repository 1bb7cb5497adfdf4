#pragma once
// What the console remembers between runs: the port folder and each panel's last port, in
// $XDG_CONFIG_HOME/Orvane/orvane.conf.

#include <QString>

namespace consolesettings {

// $XDG_CONFIG_HOME/Orvane/orvane.conf, ~/.config/Orvane/orvane.conf when the variable is not set.
QString defaultFilePath();

// The file read and written. Until the program entry names one (and when Path is empty) the values live
// in memory for the run only, so that windows made by tests never touch the user's settings.
void setFilePath(const QString& Path);
QString filePath();

// The COM number panel 1 or 2 last connected on; 0 when it has none.
int lastPort(int Panel);
// Remembers it at once; false when the file could not be written.
bool setLastPort(int Panel, int ComNumber);

// The remembered port folder; empty when none.
QString portDir();
bool setPortDir(const QString& Folder);

// A folder as the user typed it, made absolute: a leading "~/" is the home folder (desktop entries do not
// expand it), a relative one is taken from the current folder.
QString absoluteFolder(const QString& Typed);

enum class PortDirSource { None, Option, Environment, Setting };

struct PortDirChoice {
    QString folder; // where COMn is looked up; empty: the serial devices in their usual order
    PortDirSource source = PortDirSource::None;
    QString notice; // the one line the panes show at start, empty when all is well
};

// The command line's --port-dir wins over ORVANE_PORT_DIR, which wins over the remembered folder. A folder
// given now (option or environment) is used even when it does not exist yet, as a simulator may make it
// later; a remembered one that is gone gives way to the usual order.
PortDirChoice choosePortDir(const QString& Option, const QString& Environment, const QString& Setting);

// The program entry's part: chooses from Option, the environment and the file, remembers the option, and
// puts the choice in ORVANE_PORT_DIR, where the serial ports look for it. Call before any thread starts.
PortDirChoice applyPortDir(const QString& Option);

// The line about the port folder that the panes show at start (from applyPortDir), or empty.
QString startNotice();

} // namespace consolesettings
