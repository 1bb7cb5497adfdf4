#pragma once
// Holds a window's repaints to at most one per display frame. A controller that answers in microseconds
// would otherwise have the panel, its readout and its log pane repainted for every reply, far more often
// than any screen can show, and the painting would slow the replies themselves.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class RepaintPacer : public QObject {
public:
    // Paces Window (a top-level widget); the pacer is a child of it.
    explicit RepaintPacer(QWidget* Window, int FrameMs = 16);

    int frameMs() const { return FFrameMs; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void releaseHeldUpdate();

    QWidget* FWindow;
    int FFrameMs;
    QElapsedTimer FSinceLastPaint;
    QTimer FHeld;
    bool FReleasing = false;
};
