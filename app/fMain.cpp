#include "fMain.h"

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Orvane"));
    resize(735, 686);
}
