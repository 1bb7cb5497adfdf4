#include "RepaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <algorithm>

RepaintPacer::RepaintPacer(QWidget* Window, int FrameMs, int StreamFrameMs)
    : QObject(Window), FWindow(Window), FFrameMs(FrameMs), FStreamFrameMs(std::max(FrameMs, StreamFrameMs)) {
    FHeld.setSingleShot(true);
    FHeld.setTimerType(Qt::PreciseTimer);
    connect(&FHeld, &QTimer::timeout, this, [this] { releaseHeldUpdate(); });
    Window->installEventFilter(this);
}

int RepaintPacer::currentFrameMs() const {
    return FHeldInARow >= StreamAfterFrames ? FStreamFrameMs : FFrameMs;
}

bool RepaintPacer::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == FWindow) {
        switch (Event->type()) {
        case QEvent::UpdateRequest:
            return updateRequest();
        case QEvent::Show:
        case QEvent::WinIdChange:
            // Input reaches the window's platform window before any child widget sees it.
            if (QWindow* handle = FWindow->windowHandle(); handle && handle != FWatchedWindow) {
                if (FWatchedWindow)
                    FWatchedWindow->removeEventFilter(this);
                FWatchedWindow = handle;
                handle->installEventFilter(this);
            }
            break;
        default:
            break;
        }
        return false;
    }
    if (Watched == FWatchedWindow) {
        switch (Event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
            userInput();
            break;
        default:
            break;
        }
    }
    return false;
}

// True when the request is held back.
bool RepaintPacer::updateRequest() {
    if (FSinceLastPaint.isValid() && !FReleasing) {
        const qint64 elapsed = FSinceLastPaint.elapsed();
        const int frame = currentFrameMs();
        if (elapsed < frame) {
            // Qt keeps collecting the dirty regions and posts no further request until this one is
            // delivered, so holding it back merges every change of the frame into one paint.
            if (!FHeld.isActive())
                FHeld.start(static_cast<int>(frame - elapsed));
            return true;
        }
        if (elapsed >= 2 * frame)
            FHeldInARow = 0; // a quiet spell: the stream is over
    }
    FHeld.stop();
    FSinceLastPaint.start();
    return false;
}

// The user's click or key is answered within a display frame, stream or not.
void RepaintPacer::userInput() {
    FHeldInARow = 0;
    if (FHeld.isActive()) {
        const qint64 rest = std::max<qint64>(0, FFrameMs - FSinceLastPaint.elapsed());
        if (rest < FHeld.remainingTime())
            FHeld.start(static_cast<int>(rest));
    }
}

void RepaintPacer::releaseHeldUpdate() {
    ++FHeldInARow;
    FReleasing = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(FWindow, &request);
    FReleasing = false;
    FSinceLastPaint.start();
}
