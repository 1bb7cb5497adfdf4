#include "fExpertMode2.h"

#include "ui_fExpertMode2.h"

#include "KivComm.h"
#include "VirtualKeys.h"
#include "fMain.h"

TfrmExpertMode2* frmExpertMode2 = nullptr;

TfrmExpertMode2::TfrmExpertMode2(QWidget* parent)
    : ExpertModeWindow(parent), ui(std::make_unique<Ui::TfrmExpertMode2>()) {
    ui->setupUi(this);
    setUpTerminal(QPoint(579, 257));
}

TfrmExpertMode2::~TfrmExpertMode2() {
    if (frmExpertMode2 == this)
        frmExpertMode2 = nullptr;
}

QPlainTextEdit* TfrmExpertMode2::memoTerminal() const {
    return ui->memoTerminal;
}
TKivComm* TfrmExpertMode2::comm() const {
    return frmMain ? frmMain->panel(1).comm() : nullptr;
}
QCheckBox* TfrmExpertMode2::expertModeBox() const {
    return frmMain ? frmMain->cbExpertMode2 : nullptr;
}

void TfrmExpertMode2::memoTerminalKeyDown(QKeyEvent* Key) {
    const QList<int> codes = windowsVirtualKeys(*Key, activeKeyboardLayout());
    if (codes.isEmpty())
        return; // a key with no code of its own has no byte to send
    QByteArray bytes;
    for (int code : codes)
        bytes += static_cast<char>(code & 0xFF);
    if (TKivComm* port = comm())
        port->WriteData(bytes);
}
