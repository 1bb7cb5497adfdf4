#include "ExpertModeWindow.h"

#include "OrvaneApplication.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>

ExpertModeWindow::ExpertModeWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    // Closing the main window ends the program, also while a terminal is open.
    setAttribute(Qt::WA_QuitOnClose, false);
}

// ---- Design-time settings that the window description cannot express ----------------------------------
void ExpertModeWindow::setUpTerminal(QPoint Position) {
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    resize(600, 517);
    move(Position);
    QPlainTextEdit* memo = memoTerminal();
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    memo->setFont(font);
    QPalette colours = memo->palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    memo->setPalette(colours);
    memo->installEventFilter(this);
}
// ---- End of the design-time settings -----------------------------------------------------------------

bool ExpertModeWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == memoTerminal() && event->type() == QEvent::KeyPress)
        runGuarded([&] { memoTerminalKeyDown(static_cast<QKeyEvent*>(event)); });
    return QWidget::eventFilter(watched, event);
}

void ExpertModeWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void ExpertModeWindow::FormShow() {
    memoTerminal()->clear();
}

void ExpertModeWindow::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept(); // the window hides; the instance lives on
}

void ExpertModeWindow::FormClose() {
    if (QCheckBox* box = expertModeBox())
        box->setChecked(false);
}
