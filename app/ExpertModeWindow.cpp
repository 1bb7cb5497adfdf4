#include "ExpertModeWindow.h"

#include "LightTheme.h"
#include "OrvaneApplication.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

ExpertModeWindow::ExpertModeWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    // Closing the main window ends the program, also while a terminal is open.
    setAttribute(Qt::WA_QuitOnClose, false);
}

// ---- Design-time settings that the window description cannot express ----------------------------------
void ExpertModeWindow::setUpTerminal(QPoint Position) {
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    resize(600, 517);
    move(Position);
    setPalette(LightPalette()); // the scroll bar stays light under a dark desktop theme too
    QPlainTextEdit* memo = memoTerminal();
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    memo->setFont(font);
    QPalette colours = memo->palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    memo->setPalette(colours);
    // A terminal records a conversation: an undo history would keep a copy of everything ever received.
    memo->setUndoRedoEnabled(false);
    memo->setMaximumBlockCount(TerminalLineLimit);
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

void ExpertModeWindow::AppendReceived(const QString& Text) {
    QPlainTextEdit* memo = memoTerminal();
    QScrollBar* bar = memo->verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    QTextCursor end(memo->document());
    end.movePosition(QTextCursor::End);
    end.insertText(Text);
    // Lines too long for the line limit to bound them: the oldest text goes, a quarter of the room at a
    // time, so that a flood does not cut the front at every piece.
    QTextDocument* text = memo->document();
    if (text->characterCount() > TerminalCharLimit) {
        QTextCursor front(text);
        front.setPosition(text->characterCount() - TerminalCharLimit * 3 / 4, QTextCursor::KeepAnchor);
        front.removeSelectedText();
    }
    if (atBottom)
        bar->setValue(bar->maximum());
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
