#include "fExpertMode1.h"

#include "ui_fExpertMode1.h"

#include "KivComm.h"
#include "fMain.h"

#include <QKeyEvent>

TfrmExpertMode1* frmExpertMode1 = nullptr;

TfrmExpertMode1::TfrmExpertMode1(QWidget* parent)
    : ExpertModeWindow(parent), ui(std::make_unique<Ui::TfrmExpertMode1>()) {
    ui->setupUi(this);
    setUpTerminal(QPoint(570, 266));
}

TfrmExpertMode1::~TfrmExpertMode1() {
    if (frmExpertMode1 == this)
        frmExpertMode1 = nullptr;
}

QPlainTextEdit* TfrmExpertMode1::memoTerminal() const {
    return ui->memoTerminal;
}
TKivComm* TfrmExpertMode1::comm() const {
    return frmMain ? frmMain->panel(0).comm() : nullptr;
}
QCheckBox* TfrmExpertMode1::expertModeBox() const {
    return frmMain ? frmMain->cbExpertMode1 : nullptr;
}

void TfrmExpertMode1::memoTerminalKeyDown(QKeyEvent* Key) {
    if (Key->key() != Qt::Key_Return && Key->key() != Qt::Key_Enter)
        return;
    // The last line as it stands before the Enter; a trailing line break leaves an empty last line that
    // does not count, so the line before it is sent (again).
    QString text = memoTerminal()->toPlainText();
    if (text.endsWith(u'\n'))
        text.chop(1);
    const QString line = text.mid(text.lastIndexOf(u'\n') + 1);
    if (TKivComm* port = comm())
        port->WriteData(line.toLatin1() + '\r');
}
