#include "ConsoleSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>

#include <mutex>

namespace consolesettings {

namespace {

constexpr int highestPort = 32; // the serial component names COM1 ... COM32

const QString folderKey = QStringLiteral("Ports/Folder");

QString panelKey(int Panel) {
    return QStringLiteral("Panel%1/LastPort").arg(Panel);
}

// Without a file the values stay here; with one, every read goes to the file, so that a second console's
// changes are seen.
struct Store {
    std::mutex lock;
    QString path;
    QMap<QString, QString> memory;
    QString notice;
};

Store& store() {
    static Store s;
    return s;
}

QString readValue(const QString& Key) {
    Store& s = store();
    const std::lock_guard<std::mutex> guard(s.lock);
    if (s.path.isEmpty())
        return s.memory.value(Key);
    return QSettings(s.path, QSettings::IniFormat).value(Key).toString();
}

bool writeValue(const QString& Key, const QString& Value) {
    Store& s = store();
    const std::lock_guard<std::mutex> guard(s.lock);
    if (s.path.isEmpty()) {
        s.memory.insert(Key, Value);
        return true;
    }
    QSettings settings(s.path, QSettings::IniFormat);
    if (settings.value(Key).toString() == Value)
        return settings.status() == QSettings::NoError;
    settings.setValue(Key, Value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace

QString defaultFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Orvane/orvane.conf");
}

void setFilePath(const QString& Path) {
    Store& s = store();
    const std::lock_guard<std::mutex> guard(s.lock);
    s.path = Path;
}

QString filePath() {
    Store& s = store();
    const std::lock_guard<std::mutex> guard(s.lock);
    return s.path;
}

int lastPort(int Panel) {
    bool ok = false;
    const int number = readValue(panelKey(Panel)).toInt(&ok);
    return ok && number >= 1 && number <= highestPort ? number : 0;
}

bool setLastPort(int Panel, int ComNumber) {
    if (Panel < 1 || Panel > 2 || ComNumber < 1 || ComNumber > highestPort)
        return false;
    return writeValue(panelKey(Panel), QString::number(ComNumber));
}

QString portDir() {
    return readValue(folderKey);
}

bool setPortDir(const QString& Folder) {
    return writeValue(folderKey, Folder);
}

QString absoluteFolder(const QString& Typed) {
    if (Typed.isEmpty())
        return {};
    QString path = Typed;
    if (path == QLatin1String("~"))
        path = QDir::homePath();
    else if (path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

PortDirChoice choosePortDir(const QString& Option, const QString& Environment, const QString& Setting) {
    PortDirChoice choice;
    if (!Option.isEmpty()) {
        choice = {Option, PortDirSource::Option, {}};
        if (!QFileInfo(Option).isDir())
            choice.notice = QStringLiteral("--port-dir folder not found: %1").arg(Option);
    } else if (!Environment.isEmpty()) {
        choice = {Environment, PortDirSource::Environment, {}};
        if (!QFileInfo(Environment).isDir())
            choice.notice = QStringLiteral("ORVANE_PORT_DIR folder not found: %1").arg(Environment);
    } else if (!Setting.isEmpty()) {
        if (QFileInfo(Setting).isDir())
            choice = {Setting, PortDirSource::Setting, {}};
        else
            choice.notice =
                QStringLiteral("Remembered port folder not found, usual port order: %1").arg(Setting);
    }
    return choice;
}

PortDirChoice applyPortDir(const QString& Option) {
    const QString option = absoluteFolder(Option);
    if (!option.isEmpty())
        setPortDir(option);
    const PortDirChoice choice = choosePortDir(option, qEnvironmentVariable("ORVANE_PORT_DIR"), portDir());
    if (choice.folder.isEmpty())
        qunsetenv("ORVANE_PORT_DIR");
    else
        qputenv("ORVANE_PORT_DIR", QFile::encodeName(choice.folder));
    Store& s = store();
    const std::lock_guard<std::mutex> guard(s.lock);
    s.notice = choice.notice;
    return choice;
}

QString startNotice() {
    Store& s = store();
    const std::lock_guard<std::mutex> guard(s.lock);
    return s.notice;
}

} // namespace consolesettings
