// Program entry: the application, its title, the main window, then the event loop.
#include "OrvaneApplication.h"
#include "fMain.h"

int main(int argc, char** argv) {
    OrvaneApplication app(argc, argv);
    OrvaneApplication::setApplicationName(QStringLiteral("Orvane"));
    OrvaneApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    TfrmMain frmMain;
    frmMain.show();
    return app.exec();
}
