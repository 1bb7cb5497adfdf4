// What the console remembers between runs: the file in the user's configuration folder, the port folder's
// precedence (command line, environment, remembered), and a remembered folder that has gone.
#include "ConsoleSettings.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace cs = consolesettings;

namespace {

// A scratch configuration folder and no port folder in the environment; everything put back afterwards.
class ConsoleSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        for (const char* name : {"XDG_CONFIG_HOME", "ORVANE_PORT_DIR"}) {
            saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qunsetenv(name);
        }
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp.filePath(QStringLiteral("config"))));
        savedCurrent = QDir::currentPath();
    }
    void TearDown() override {
        cs::setFilePath(QString());
        for (const Saved& s : saved)
            s.set ? qputenv(s.name, s.value) : qunsetenv(s.name);
        QDir::setCurrent(savedCurrent);
    }
    QString folder(const QString& Name) {
        const QString path = temp.filePath(Name);
        QDir().mkpath(path);
        return path;
    }
    QString fileText() {
        QFile file(cs::filePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    struct Saved {
        const char* name;
        QByteArray value;
        bool set;
    };
    QTemporaryDir temp;
    QList<Saved> saved;
    QString savedCurrent;
};

} // namespace

TEST_F(ConsoleSettings, TheFileIsInTheUsersConfigurationFolderAndHoldsWhatWasSetForTheNextRun) {
    EXPECT_EQ(cs::defaultFilePath(), temp.filePath(QStringLiteral("config/Orvane/orvane.conf")));
    cs::setFilePath(cs::defaultFilePath());
    EXPECT_EQ(cs::lastPort(1), 0);
    EXPECT_TRUE(cs::portDir().isEmpty());
    EXPECT_FALSE(QFile::exists(cs::filePath())) << "reading made the file";

    ASSERT_TRUE(cs::setLastPort(1, 3));
    ASSERT_TRUE(cs::setLastPort(2, 5));
    ASSERT_TRUE(cs::setPortDir(QStringLiteral("/home/lab/orvane ports")));
    const QString text = fileText();
    EXPECT_TRUE(text.contains(QStringLiteral("[Panel1]\nLastPort=3"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("[Panel2]\nLastPort=5"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("[Ports]\nFolder=/home/lab/orvane ports")))
        << text.toStdString();

    // Every read goes to the file: what another console wrote meanwhile is what this one sees.
    QSettings(cs::filePath(), QSettings::IniFormat).setValue(QStringLiteral("Panel1/LastPort"), 7);
    EXPECT_EQ(cs::lastPort(1), 7);
    EXPECT_EQ(cs::lastPort(2), 5);
    EXPECT_EQ(cs::portDir(), QStringLiteral("/home/lab/orvane ports"));
}

TEST_F(ConsoleSettings, PortsOutsideCom1ToCom32AndUnknownPanelsAreNeitherStoredNorBelieved) {
    cs::setFilePath(cs::defaultFilePath());
    ASSERT_TRUE(cs::setLastPort(1, 32));
    for (const auto& [panel, port] : {std::pair{1, 0}, {1, 33}, {0, 3}, {3, 3}, {2, -1}})
        EXPECT_FALSE(cs::setLastPort(panel, port)) << panel << " " << port;
    EXPECT_EQ(cs::lastPort(1), 32);
    EXPECT_EQ(cs::lastPort(2), 0);
    // A file edited by hand.
    QSettings edited(cs::filePath(), QSettings::IniFormat);
    edited.setValue(QStringLiteral("Panel1/LastPort"), QStringLiteral("COM3"));
    edited.setValue(QStringLiteral("Panel2/LastPort"), 40);
    edited.sync();
    EXPECT_EQ(cs::lastPort(1), 0);
    EXPECT_EQ(cs::lastPort(2), 0);
}

TEST_F(ConsoleSettings, AFileThatCannotBeWrittenSaysSoAndWithoutAFileNothingTouchesTheDisk) {
    // Where the folder should be, a file: even root cannot write below it.
    QFile blocker(temp.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    cs::setFilePath(cs::defaultFilePath());
    EXPECT_FALSE(cs::setLastPort(1, 3));
    EXPECT_FALSE(cs::setPortDir(QStringLiteral("/tmp")));

    // The windows that tests make keep their values in memory.
    cs::setFilePath(QString());
    ASSERT_TRUE(cs::setLastPort(2, 4));
    EXPECT_EQ(cs::lastPort(2), 4);
    EXPECT_TRUE(QFileInfo(temp.filePath(QStringLiteral("config"))).isFile());
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"config"});
}

TEST_F(ConsoleSettings, TheCommandLineWinsOverTheEnvironmentWhichWinsOverTheRememberedFolder) {
    const QString option = folder(QStringLiteral("option")), environment = folder(QStringLiteral("env")),
                  setting = folder(QStringLiteral("setting"));
    const cs::PortDirChoice all = cs::choosePortDir(option, environment, setting);
    EXPECT_EQ(all.folder, option);
    EXPECT_EQ(all.source, cs::PortDirSource::Option);
    EXPECT_TRUE(all.notice.isEmpty());
    EXPECT_EQ(cs::choosePortDir({}, environment, setting).folder, environment);
    EXPECT_EQ(cs::choosePortDir({}, environment, setting).source, cs::PortDirSource::Environment);
    EXPECT_EQ(cs::choosePortDir({}, {}, setting).folder, setting);
    EXPECT_EQ(cs::choosePortDir({}, {}, setting).source, cs::PortDirSource::Setting);
    const cs::PortDirChoice none = cs::choosePortDir({}, {}, {});
    EXPECT_TRUE(none.folder.isEmpty());
    EXPECT_EQ(none.source, cs::PortDirSource::None);
    EXPECT_TRUE(none.notice.isEmpty());
}

TEST_F(ConsoleSettings, AMissingFolderIsToldInOneLineAndARememberedOneGivesWayToTheUsualOrder) {
    const QString gone = temp.filePath(QStringLiteral("unplugged"));
    const cs::PortDirChoice remembered = cs::choosePortDir({}, {}, gone);
    EXPECT_TRUE(remembered.folder.isEmpty());
    EXPECT_EQ(remembered.source, cs::PortDirSource::None);
    EXPECT_EQ(remembered.notice,
              QStringLiteral("Remembered port folder not found, usual port order: ") + gone);
    // Given for this start, it is used: a simulator may make it a moment later.
    const cs::PortDirChoice given = cs::choosePortDir(gone, {}, folder(QStringLiteral("setting")));
    EXPECT_EQ(given.folder, gone);
    EXPECT_EQ(given.notice, QStringLiteral("--port-dir folder not found: ") + gone);
    const cs::PortDirChoice environment = cs::choosePortDir({}, gone, {});
    EXPECT_EQ(environment.folder, gone);
    EXPECT_EQ(environment.notice, QStringLiteral("ORVANE_PORT_DIR folder not found: ") + gone);
    for (const cs::PortDirChoice& c : {remembered, given, environment})
        EXPECT_FALSE(c.notice.contains(u'\n'));
}

TEST_F(ConsoleSettings, TheProgramsStartRemembersTheOptionAndHandsTheChoiceToTheSerialPorts) {
    cs::setFilePath(cs::defaultFilePath());
    const QString ports = folder(QStringLiteral("lab/ports"));
    QDir::setCurrent(temp.filePath(QStringLiteral("lab")));

    // A folder typed relative to where the console was started is remembered as a full path.
    cs::PortDirChoice choice = cs::applyPortDir(QStringLiteral("ports/"));
    EXPECT_EQ(choice.folder, ports);
    EXPECT_EQ(qEnvironmentVariable("ORVANE_PORT_DIR"), ports);
    EXPECT_EQ(cs::portDir(), ports);
    EXPECT_TRUE(cs::startNotice().isEmpty());

    // Next start, from the menu: nothing but the file.
    qunsetenv("ORVANE_PORT_DIR");
    choice = cs::applyPortDir({});
    EXPECT_EQ(choice.source, cs::PortDirSource::Setting);
    EXPECT_EQ(qEnvironmentVariable("ORVANE_PORT_DIR"), ports);

    // The environment wins for this start and is not remembered.
    const QString other = folder(QStringLiteral("other"));
    qputenv("ORVANE_PORT_DIR", QFile::encodeName(other));
    EXPECT_EQ(cs::applyPortDir({}).source, cs::PortDirSource::Environment);
    EXPECT_EQ(qEnvironmentVariable("ORVANE_PORT_DIR"), other);
    EXPECT_EQ(cs::portDir(), ports);

    // The remembered folder is gone: the serial devices in their usual order, and the line that says so.
    qunsetenv("ORVANE_PORT_DIR");
    ASSERT_TRUE(QDir(ports).removeRecursively());
    choice = cs::applyPortDir({});
    EXPECT_TRUE(choice.folder.isEmpty());
    EXPECT_FALSE(qEnvironmentVariableIsSet("ORVANE_PORT_DIR"));
    EXPECT_EQ(cs::startNotice(),
              QStringLiteral("Remembered port folder not found, usual port order: ") + ports);
    EXPECT_EQ(cs::portDir(), ports) << "a folder that may come back is not forgotten";
}

TEST_F(ConsoleSettings, AFolderTypedWithTheHomeSignIsTheHomeFolders) {
    EXPECT_EQ(cs::absoluteFolder(QStringLiteral("~/orvane-ports")), QDir::homePath() + "/orvane-ports");
    EXPECT_EQ(cs::absoluteFolder(QStringLiteral("~")), QDir::cleanPath(QDir::homePath()));
    EXPECT_EQ(cs::absoluteFolder(QStringLiteral("/dev/serial/../serial/by-id/")),
              QStringLiteral("/dev/serial/by-id"));
    EXPECT_TRUE(cs::absoluteFolder({}).isEmpty());
}
