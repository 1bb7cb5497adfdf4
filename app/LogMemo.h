#pragma once
// The panels' log pane: a read-only memo that takes its lines in batches. A controller answering in
// microseconds logs thousands of lines a second; putting each into the pane on its own costs a layout,
// a scroll and a scroll-bar update per line, and would slow the replies themselves. Lines that come after a
// quiet spell appear at the next pass of the event loop; faster ones are gathered for a tenth of a second,
// as often as anyone can read a scrolling record. Long lines wrap at the pane's width: a line cut off
// behind its edge would hide the part that says what to do (a refused port's cure).
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

class LogMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogMemo(QWidget* Parent = nullptr);

    // Queues Line; it reaches the pane within a tenth of a second.
    void AppendLine(const QString& Line);
    // Puts every queued line into the pane now.
    void Flush();
    // Lines queued and not yet in the pane.
    int PendingCount() const { return static_cast<int>(FPending.size()); }

    // The line count past which the owner empties the pane (0: none). A batch is cut after the line that
    // passes it, so the owner's change handler sees the pane exactly as line-by-line appends would leave it.
    int LineLimit() const { return FLineLimit; }
    void SetLineLimit(int Value) { FLineLimit = Value; }

protected:
    bool event(QEvent* Event) override;

private:
    int linesInPane() const;

    QStringList FPending;
    QTimer FFlushTimer;
    QElapsedTimer FSinceFlush;
    int FLineLimit = 0;
    static constexpr int StreamBatchMs = 100; // the spacing of batches under a stream of lines
};
