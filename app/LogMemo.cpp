#include "LogMemo.h"

#include <QEvent>
#include <QTextDocument>

LogMemo::LogMemo(QWidget* Parent) : QPlainTextEdit(Parent) {
    // A record, not a text being edited: an undo history would keep a copy of every line ever shown.
    setUndoRedoEnabled(false);
    FFlushTimer.setSingleShot(true);
    connect(&FFlushTimer, &QTimer::timeout, this, [this] { Flush(); });
}

void LogMemo::AppendLine(const QString& Line) {
    FPending.append(Line);
    if (FFlushTimer.isActive())
        return;
    const qint64 since = FSinceFlush.isValid() ? FSinceFlush.elapsed() : StreamBatchMs;
    FFlushTimer.start(static_cast<int>(std::max<qint64>(0, StreamBatchMs - since)));
}

void LogMemo::Flush() {
    FFlushTimer.stop();
    FSinceFlush.start();
    if (FPending.isEmpty())
        return;
    // Taken first: the owner's change handler may log again while a chunk goes in.
    const QStringList batch = std::exchange(FPending, {});
    int lines = linesInPane();
    QStringList chunk;
    for (const QString& line : batch) {
        chunk.append(line);
        lines += 1 + static_cast<int>(line.count(QLatin1Char('\n')));
        if (FLineLimit > 0 && lines > FLineLimit) {
            appendPlainText(chunk.join(QLatin1Char('\n')));
            chunk.clear();
            lines = linesInPane();
        }
    }
    if (!chunk.isEmpty())
        appendPlainText(chunk.join(QLatin1Char('\n')));
}

bool LogMemo::event(QEvent* Event) {
    // Once, before it is first shown: the window's description sets the panes to run on past the edge.
    if (Event->type() == QEvent::Polish)
        setLineWrapMode(WidgetWidth);
    return QPlainTextEdit::event(Event);
}

// An emptied pane holds one empty block, which the next append fills instead of adding a block.
int LogMemo::linesInPane() const {
    return document()->isEmpty() ? 0 : blockCount();
}
