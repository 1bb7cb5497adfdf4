#pragma once
// Holds a window's repaints to the rate a reader can follow. A controller that answers in microseconds
// would otherwise have the panel, its readout and its log pane repainted for every reply, far more often
// than any screen can show, and the painting would slow the replies themselves. A change after a quiet
// spell is painted within one display frame; while changes keep coming frame after frame, the window is
// painted ten times a second; the user's own input brings the display frame back at once.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;
class QWindow;

class RepaintPacer : public QObject {
public:
    // Paces Window (a top-level widget); the pacer is a child of it.
    explicit RepaintPacer(QWidget* Window, int FrameMs = 16, int StreamFrameMs = 100);

    // The spacing of paints now: the display frame, or the longer one while a stream of changes lasts.
    int currentFrameMs() const;
    // Frames held back one after another before the longer spacing applies.
    static constexpr int StreamAfterFrames = 6;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    bool updateRequest();
    void userInput();
    void releaseHeldUpdate();

    QWidget* FWindow;
    QPointer<QWindow> FWatchedWindow;
    int FFrameMs;
    int FStreamFrameMs;
    int FHeldInARow = 0;
    QElapsedTimer FSinceLastPaint;
    QTimer FHeld;
    bool FReleasing = false;
};
