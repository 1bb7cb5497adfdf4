// Program entry: the command line, the application and its title, the main window, the two expert
// terminals, the event loop.
#include "CommandLine.h"
#include "ConsoleRemote.h"
#include "ConsoleSettings.h"
#include "ConsoleWindows.h"
#include "KivCommon.h"
#include "OrvaneApplication.h"
#include "RemoteBridge.h"
#include "SignalWatcher.h"
#include "SingleInstance.h"
#include "TangoServer.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// While the application object looks for a screen, the platform's messages are held back: a failure is
// told in one line of ours instead of the toolkit's abort, a success lets them through.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
QtMessageHandler previousHandler = nullptr;
bool holding = false;
QList<HeldMessage> held;
std::string programName = "orvane";

void startupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (holding && type == QtFatalMsg) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr, "%s: cannot start: no display could be opened%s%s\n", programName.c_str(),
                     display && *display ? " at " : "", display && *display ? display : "");
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (holding && context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) {
        held.append({type, QByteArray(context.category), text});
        return;
    }
    previousHandler(type, context, text);
}

void releaseHeldMessages() {
    holding = false;
    for (const HeldMessage& m : held) {
        QMessageLogContext context(nullptr, 0, nullptr, m.category.constData());
        previousHandler(m.type, context, m.text);
    }
    held.clear();
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 0 && argv[0] && *argv[0]) {
        programName = argv[0];
        if (auto slash = programName.rfind('/'); slash != std::string::npos)
            programName.erase(0, slash + 1);
    }
    const commandline::Decision decision =
        commandline::parse(programName, std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    if (!decision.run) {
        std::fputs(decision.out.c_str(), stdout);
        std::fputs(decision.err.c_str(), stderr);
        return decision.exitCode;
    }
    const std::string noDisplay = commandline::missingDisplay(decision, commandline::Environment::current());
    if (!noDisplay.empty()) {
        std::fprintf(stderr, "%s: %s\n", programName.c_str(), noDisplay.c_str());
        return 1;
    }
    // Tango ends the program itself, in its own words, when its database or instance is wrong: asked
    // first, while no thread runs yet, and said in one line of ours.
    const TangoOptions tangoOptions{decision.tangoPort, decision.tangoListen, decision.tangoInstance,
                                    decision.tangoServerArgs};
    if (std::string error; decision.tango && !TangoServer::check(tangoOptions, error)) {
        std::fprintf(stderr, "%s: %s\n", programName.c_str(), error.c_str());
        return 1;
    }
    commandline::ensureRuntimeDir();
    // The port folder reaches the serial ports through the environment, set before any thread starts.
    consolesettings::setFilePath(consolesettings::defaultFilePath());
    const consolesettings::PortDirChoice ports =
        consolesettings::applyPortDir(QString::fromStdString(decision.portDir));

    previousHandler = qInstallMessageHandler(startupMessage);
    holding = true;
    OrvaneApplication app(argc, argv);
    releaseHeldMessages();
    OrvaneApplication::setApplicationName(QStringLiteral("Orvane"));
    OrvaneApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    OrvaneApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    OrvaneApplication::setDesktopFileName(QStringLiteral("org.orvane.orvane"));
    SetKivErrorHandler(&OrvaneApplication::showError);

    // Decided before any port opens and before Tango starts: the console already running in this session
    // for the same ports is the one to use.
    std::unique_ptr<SingleInstance> instance;
    if (!decision.newInstance && SingleInstance::onDesktop()) {
        instance = std::make_unique<SingleInstance>(ports.folder);
        switch (instance->claim()) {
        case SingleInstance::Claimed:
            break;
        case SingleInstance::Raised:
            std::fprintf(stderr,
                         "%s: a console is already running in this session (process %lld); brought it to the "
                         "front (--new-instance starts another)\n",
                         programName.c_str(), static_cast<long long>(instance->otherProcess()));
            return 0;
        case SingleInstance::Unanswered:
            std::fprintf(stderr,
                         "%s: a console is already running in this session but does not answer; "
                         "--new-instance starts another\n",
                         programName.c_str());
            return 1;
        }
    }
    SingleInstance::numberLogFiles(true);

    ConsoleWindows windows;
    TfrmMain& mainWindow = windows.main;
    if (instance)
        instance->setWindow(&mainWindow);
    // Remote control: nothing of it exists without --tango. The server goes before the bridge, the
    // bridge before the windows.
    std::unique_ptr<RemoteBridge> bridge;
    std::unique_ptr<ConsoleRemote> remote;
    std::unique_ptr<TangoServer> tango;
    if (decision.tango) {
        bridge = std::make_unique<RemoteBridge>();
        remote = std::make_unique<ConsoleRemote>(mainWindow, *bridge);
        tango = std::make_unique<TangoServer>(*bridge, *remote);
        std::string error;
        if (!tango->start(tangoOptions, error)) {
            std::fprintf(stderr, "%s: %s\n", programName.c_str(), error.c_str());
            return 1;
        }
    }
    // Logout, shutdown and Ctrl+C close the window as its Close button does: ports closed, log written.
    SignalWatcher signalWatcher([&mainWindow](int) { mainWindow.close(); });
    mainWindow.show();
    const int result = app.exec();
    if (tango)
        tango->stop(); // before the window goes: no client's call can reach it after this
    frmMain = nullptr;
    return result;
}
