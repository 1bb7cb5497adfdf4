#pragma once
// What the two expert-mode terminals share: a raw text pane that is emptied at every showing, and a
// close that only hides the window and ends the panel's expert mode.

#include <QWidget>

class QCheckBox;
class QKeyEvent;
class QPlainTextEdit;
class TKivComm;

class ExpertModeWindow : public QWidget {
    Q_OBJECT
public:
    explicit ExpertModeWindow(QWidget* parent = nullptr);

    virtual QPlainTextEdit* memoTerminal() const = 0;

    // Puts received text at the end of the terminal as it is, adding no line break of its own. The
    // terminal keeps only the newest TerminalLineLimit lines and TerminalCharLimit characters, so a
    // controller that floods the line cannot make it grow without end.
    void AppendReceived(const QString& Text);
    static constexpr int TerminalLineLimit = 10000; // as many as a panel's log pane holds
    static constexpr int TerminalCharLimit = 1 << 20;

    void FormShow();
    void FormClose();

protected:
    // Sets the window's look and hooks the text pane's key presses; called by the windows once their
    // description has made the pane.
    void setUpTerminal(QPoint Position);
    // The key is then handled by the text pane as usual.
    virtual void memoTerminalKeyDown(QKeyEvent* Key) = 0;
    // The serial port and the check box of this terminal's spectrograph on the main window.
    virtual TKivComm* comm() const = 0;
    virtual QCheckBox* expertModeBox() const = 0;

    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};
