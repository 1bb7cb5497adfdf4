// The command line and start-up without a screen: what the console answers before it opens a window, both
// as parsed and as the installed program does it in a process of its own.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using commandline::Decision;
using commandline::Environment;

namespace {

Decision parse(const std::vector<std::string>& args) {
    return commandline::parse("orvane", args);
}

int lineCount(const QString& text) {
    return int(text.trimmed().split(u'\n').size());
}

} // namespace

TEST(CommandLineAnswers, HelpAndVersionAnswerWithoutStartingAndEvenAfterToolkitOptions) {
    for (const char* help : {"--help", "-h"}) {
        const Decision d = parse({"-platform", "xcb", help, "--bogus"});
        EXPECT_FALSE(d.run) << help;
        EXPECT_EQ(d.exitCode, 0);
        EXPECT_NE(d.out.find("Usage: orvane"), std::string::npos);
        EXPECT_NE(d.out.find("dialout"), std::string::npos);
        EXPECT_TRUE(d.err.empty());
    }
    const Decision v = parse({"--version"});
    EXPECT_FALSE(v.run);
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_EQ(v.out, "orvane " ORVANE_VERSION "\n");
}

TEST(CommandLineAnswers, StrayArgumentsAreRefusedInOneLineFollowedByTheUsage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--frobnicate"},
                                                 {"lab1", "COM3"},
                                                 {"-"},
                                                 {"-platform"},
                                                 {"--style=fusion", "-x"}}) {
        const Decision d = parse(args);
        EXPECT_FALSE(d.run) << args.back();
        EXPECT_EQ(d.exitCode, 2);
        EXPECT_TRUE(d.out.empty());
        const std::string first = d.err.substr(0, d.err.find('\n'));
        EXPECT_TRUE(first.starts_with("orvane: ")) << first;
        EXPECT_NE(d.err.find("Usage: orvane", first.size()), std::string::npos) << d.err;
    }
}

TEST(CommandLineAnswers, ToolkitOptionsStartTheConsoleAndAreKeptForTheToolkit) {
    const Decision d = parse(
        {"-platform", "offscreen", "--style=fusion", "-reverse", "-display", ":3", "-qwindowtitle", "x"});
    EXPECT_TRUE(d.run);
    EXPECT_EQ(d.platform, "offscreen");
    EXPECT_TRUE(d.display);
    EXPECT_TRUE(parse({}).run);
    EXPECT_EQ(parse({"-platform=vnc"}).platform, "vnc");
}

TEST(CommandLineAnswers, TangoOptionsEachStartTheServerAndABadPortIsRefused) {
    EXPECT_FALSE(parse({}).tango);
    const Decision plain = parse({"--tango"});
    EXPECT_TRUE(plain.run);
    EXPECT_TRUE(plain.tango);
    EXPECT_EQ(plain.tangoPort, 0);
    EXPECT_EQ(plain.tangoListen, "127.0.0.1");
    EXPECT_EQ(plain.tangoInstance, "1");
    const Decision fixed =
        parse({"--tango-port", "10000", "--tango-listen=0.0.0.0", "--tango-instance", "lab2"});
    EXPECT_TRUE(fixed.run);
    EXPECT_TRUE(fixed.tango);
    EXPECT_EQ(fixed.tangoPort, 10000);
    EXPECT_EQ(fixed.tangoListen, "0.0.0.0");
    EXPECT_EQ(fixed.tangoInstance, "lab2");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--tango-port", "0"},
                                                 {"--tango-port", "65536"},
                                                 {"--tango-port", "10000x"},
                                                 {"--tango-port"},
                                                 {"--tango-listen="},
                                                 {"--tango=1"}}) {
        const Decision d = parse(args);
        EXPECT_FALSE(d.run) << args.front();
        EXPECT_EQ(d.exitCode, 2);
    }
    EXPECT_NE(parse({"--help"}).out.find("--tango-port N"), std::string::npos);
}

TEST(CommandLineAnswers, PortFolderAndNewInstanceAreTakenInEitherSpellingAndAnEmptyFolderIsRefused) {
    const Decision plain = parse({});
    EXPECT_TRUE(plain.portDir.empty());
    EXPECT_FALSE(plain.newInstance);
    const Decision d = parse({"--port-dir", "/srv/ports", "--new-instance", "-platform", "xcb"});
    EXPECT_TRUE(d.run);
    EXPECT_EQ(d.portDir, "/srv/ports");
    EXPECT_TRUE(d.newInstance);
    EXPECT_EQ(d.platform, "xcb");
    EXPECT_EQ(parse({"--port-dir=~/ports"}).portDir, "~/ports");
    EXPECT_EQ(parse({"-port-dir", "a b"}).portDir, "a b");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--port-dir"},
                                                 {"--port-dir="},
                                                 {"--port-dir", ""},
                                                 {"--new-instance=yes"}}) {
        const Decision refused = parse(args);
        EXPECT_FALSE(refused.run) << args.front();
        EXPECT_EQ(refused.exitCode, 2) << args.front();
    }
    const std::string help = parse({"--help"}).out;
    EXPECT_NE(help.find("--port-dir DIR"), std::string::npos);
    EXPECT_NE(help.find("--new-instance"), std::string::npos);
    EXPECT_NE(help.find("$XDG_CONFIG_HOME/Orvane/orvane.conf"), std::string::npos);
}

// Tango's standard server start: the instance first, Tango's own options for Tango, the rest as ever.
TEST(CommandLineAnswers, AnInstanceFirstIsTangosStandardStart) {
    const Decision plain = parse({"lab1"});
    EXPECT_TRUE(plain.run);
    EXPECT_TRUE(plain.tango);
    EXPECT_EQ(plain.tangoInstance, "lab1");
    EXPECT_TRUE(plain.tangoServerArgs.empty());

    const Decision nodb = parse({"lab1", "-v", "-nodb", "-platform", "offscreen", "-dlist",
                                 "OrvaneSpectrograph::a/b/c,a/b/d", "-ORBendPoint", "giop:tcp::10000"});
    EXPECT_TRUE(nodb.run) << nodb.err;
    EXPECT_EQ(nodb.platform, "offscreen");
    EXPECT_EQ(nodb.tangoServerArgs,
              (std::vector<std::string>{"-v", "-nodb", "-dlist", "OrvaneSpectrograph::a/b/c,a/b/d",
                                        "-ORBendPoint", "giop:tcp::10000"}));
    // -v is Tango's trace level here, not the version.
    const Decision file = parse({"lab1", "-v4", "-file=/etc/orvane.db", "--tango-port", "10000"});
    EXPECT_TRUE(file.run) << file.err;
    EXPECT_TRUE(file.out.empty());
    EXPECT_EQ(file.tangoPort, 10000);
    EXPECT_EQ(file.tangoServerArgs, (std::vector<std::string>{"-v4", "-file=/etc/orvane.db"}));
    EXPECT_NE(parse({"--help"}).out.find("INSTANCE [-vN]"), std::string::npos);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"lab1", "-nodb"},                   // no port for the clients
          {"lab1", "-file=/tmp/x.db"},                                 // likewise
          {"lab1", "-dlist", "a/b/c", "--tango-port", "10000"},        // a device list without -nodb
          {"lab1", "-nodb", "-dlist", "a/b", "--tango-port", "10000"}, // not domain/family/member
          {"lab1", "-nodb", "-dlist", "a/b/c,a/b/d,a/b/e", "--tango-port", "10000"}, // three panels
          {"lab1", "-nodb", "-file=/tmp/x.db", "--tango-port", "10000"},
          {"lab1", "-v9"},
          {"lab1", "-ORBendPoint"},
          {"lab1", "-nodb", "-ORBendPoint", "giop:tcp::1", "--tango-port", "2"},
          {"lab1", "--tango-instance", "lab2"}}) {
        const Decision d = parse(args);
        EXPECT_FALSE(d.run) << args.back();
        EXPECT_EQ(d.exitCode, 2) << args.back();
        EXPECT_TRUE(d.err.starts_with("orvane: ")) << d.err;
    }
}

TEST(CommandLineDisplay, ADesktopPlatformWithoutItsDisplayIsToldInOneLine) {
    const Decision plain = parse({});
    EXPECT_FALSE(commandline::missingDisplay(plain, Environment{}).empty());
    EXPECT_FALSE(commandline::missingDisplay(plain, Environment{"xcb", "", "wayland-0"}).empty());
    EXPECT_FALSE(commandline::missingDisplay(plain, Environment{"wayland", ":0", ""}).empty());
    EXPECT_EQ(commandline::missingDisplay(plain, Environment{}).find('\n'), std::string::npos);

    EXPECT_TRUE(commandline::missingDisplay(plain, Environment{"", ":0", ""}).empty());
    EXPECT_TRUE(commandline::missingDisplay(plain, Environment{"", "", "wayland-0"}).empty());
    EXPECT_TRUE(commandline::missingDisplay(plain, Environment{"xcb", ":1", ""}).empty());
    EXPECT_TRUE(commandline::missingDisplay(plain, Environment{"offscreen", "", ""}).empty());
    EXPECT_TRUE(commandline::missingDisplay(parse({"-display", ":7"}), Environment{}).empty());
    EXPECT_TRUE(
        commandline::missingDisplay(parse({"-platform", "offscreen"}), Environment{"xcb", "", ""}).empty());
    EXPECT_FALSE(
        commandline::missingDisplay(parse({"-platform", "xcb"}), Environment{"offscreen", "", ""}).empty());
}

// The built program itself, started as a user would, with the display variables removed.
class ConsoleProcess : public ::testing::Test {
protected:
    struct Result {
        int code = -1;
        QString out, err;
        bool finished = false;
    };

    Result run(const QStringList& args, const QProcessEnvironment& env) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(ORVANE_CONSOLE_PATH), args);
        Result r;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished(5000);
            return r;
        }
        r.finished = process.exitStatus() == QProcess::NormalExit;
        r.code = process.exitCode();
        r.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(process.readAllStandardError());
        return r;
    }

    static QProcessEnvironment headless() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        return env;
    }
};

TEST_F(ConsoleProcess, HelpAndVersionPrintAndExitWithoutADisplay) {
    const Result help = run({QStringLiteral("--help")}, headless());
    ASSERT_TRUE(help.finished) << help.err.toStdString();
    EXPECT_EQ(help.code, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: orvane"))) << help.out.toStdString();
    EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();

    const Result version = run({QStringLiteral("--version")}, headless());
    ASSERT_TRUE(version.finished);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, QStringLiteral("orvane " ORVANE_VERSION "\n"));
}

// No display at all, a display nobody serves, a Tango server without a database or a port: each ends the
// console at once, before any window shows, in one line with the reason, instead of an abort.
TEST_F(ConsoleProcess, AStartThatCannotGoOnEndsInOneLineAndAFailureStatus) {
    struct Case {
        const char *argument, *display, *platform, *reason;
    };
    for (const Case& c :
         {Case{nullptr, nullptr, nullptr, "no display"}, Case{nullptr, ":243", nullptr, ":243"},
          Case{"--tango", nullptr, "offscreen", "TANGO_HOST"}}) {
        QProcessEnvironment env = headless();
        if (c.display)
            env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(c.display));
        if (c.platform)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(c.platform));
        env.remove(QStringLiteral("TANGO_HOST"));
        const Result r = run(c.argument ? QStringList{QString::fromLatin1(c.argument)} : QStringList{}, env);
        ASSERT_TRUE(r.finished) << "crashed or hung: " << r.err.toStdString();
        EXPECT_EQ(r.code, 1) << c.reason;
        EXPECT_EQ(lineCount(r.err), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.reason))) << r.err.toStdString();
    }
}

TEST_F(ConsoleProcess, ATangoPortInUseEndsWithTheReason) {
    // A port some other program listens on.
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(taken, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);
    QProcessEnvironment env = headless();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Result r = run({QStringLiteral("--tango-port"), QString::number(ntohs(address.sin_port))}, env);
    ::close(taken);
    ASSERT_TRUE(r.finished) << "crashed or hung: " << r.err.toStdString();
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("orvane: the Tango server cannot listen on 127.0.0.1:%1 (is the port in use?)")
            .arg(ntohs(address.sin_port))))
        << r.err.toStdString();
}

TEST_F(ConsoleProcess, AnUnknownArgumentIsRefusedWithTheUsage) {
    const Result r = run({QStringLiteral("--port=COM3")}, headless());
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("orvane: unknown option '--port=COM3'\n")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Usage: orvane")));
    EXPECT_TRUE(r.out.isEmpty());
}

// The toolkit warns on every start when XDG_RUNTIME_DIR is missing; the console gives it a private one.
class RuntimeDir : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        saved = qgetenv("XDG_RUNTIME_DIR");
        hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        savedTmp = qgetenv("TMPDIR");
        hadTmp = qEnvironmentVariableIsSet("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
    }
    void TearDown() override {
        hadRuntime ? qputenv("XDG_RUNTIME_DIR", saved) : qunsetenv("XDG_RUNTIME_DIR");
        hadTmp ? qputenv("TMPDIR", savedTmp) : qunsetenv("TMPDIR");
    }
    static QFileDevice::Permissions othersAndGroup() {
        return QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
               QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    }
    QTemporaryDir temp;
    QByteArray saved, savedTmp;
    bool hadRuntime = false, hadTmp = false;
};

TEST_F(RuntimeDir, AMissingOneBecomesAFolderOnlyTheUserCanEnter) {
    const std::string dir = commandline::ensureRuntimeDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(QString::fromStdString(dir).startsWith(temp.path() + QStringLiteral("/runtime-")));
    EXPECT_EQ(qgetenv("XDG_RUNTIME_DIR").toStdString(), dir);
    const QFileInfo info(QString::fromStdString(dir));
    EXPECT_TRUE(info.isDir());
    EXPECT_EQ(info.permissions() & othersAndGroup(), QFileDevice::Permissions());
}

TEST_F(RuntimeDir, AnOpenFolderOfOursIsClosedAndASetVariableIsLeftAlone) {
    const std::string first = commandline::ensureRuntimeDir();
    ASSERT_FALSE(first.empty());
    QFile::setPermissions(QString::fromStdString(first), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                             QFileDevice::ExeOther);
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(commandline::ensureRuntimeDir(), first);
    EXPECT_EQ(QFileInfo(QString::fromStdString(first)).permissions() & othersAndGroup(),
              QFileDevice::Permissions());

    qputenv("XDG_RUNTIME_DIR", "/run/user/4242");
    EXPECT_TRUE(commandline::ensureRuntimeDir().empty());
    EXPECT_EQ(qgetenv("XDG_RUNTIME_DIR"), "/run/user/4242");
}

TEST_F(RuntimeDir, AFolderOfThatNameThatIsNotAFolderIsNotUsed) {
    // A file where the folder should be (or a link planted by someone else) is never taken.
    const std::string made = commandline::ensureRuntimeDir();
    ASSERT_FALSE(made.empty());
    QDir(QString::fromStdString(made)).removeRecursively();
    QFile file(QString::fromStdString(made));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_TRUE(commandline::ensureRuntimeDir().empty());
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"));
}
