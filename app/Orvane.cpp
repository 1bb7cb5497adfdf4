// Program entry: the application and its title, the main window, the two expert terminals, the event loop.
#include "KivCommon.h"
#include "OrvaneApplication.h"
#include "SignalWatcher.h"
#include "fExpertMode1.h"
#include "fExpertMode2.h"
#include "fMain.h"

int main(int argc, char** argv) {
    OrvaneApplication app(argc, argv);
    OrvaneApplication::setApplicationName(QStringLiteral("Orvane"));
    OrvaneApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    SetKivErrorHandler(&OrvaneApplication::showError);

    TfrmMain mainWindow;
    frmMain = &mainWindow;
    TfrmExpertMode2 expertMode2;
    frmExpertMode2 = &expertMode2;
    TfrmExpertMode1 expertMode1;
    frmExpertMode1 = &expertMode1;
    // Logout, shutdown and Ctrl+C close the window as its Close button does: ports closed, log written.
    SignalWatcher signalWatcher([&mainWindow](int) { mainWindow.close(); });
    mainWindow.show();
    const int result = app.exec();
    frmMain = nullptr;
    return result;
}
