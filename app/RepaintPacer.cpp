#include "RepaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

RepaintPacer::RepaintPacer(QWidget* Window, int FrameMs)
    : QObject(Window), FWindow(Window), FFrameMs(FrameMs) {
    FHeld.setSingleShot(true);
    FHeld.setTimerType(Qt::PreciseTimer);
    connect(&FHeld, &QTimer::timeout, this, [this] { releaseHeldUpdate(); });
    Window->installEventFilter(this);
}

bool RepaintPacer::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched != FWindow || Event->type() != QEvent::UpdateRequest)
        return false;
    if (FSinceLastPaint.isValid() && !FReleasing) {
        const qint64 elapsed = FSinceLastPaint.elapsed();
        if (elapsed < FFrameMs) {
            // Qt keeps collecting the dirty regions and posts no further request until this one is
            // delivered, so holding it back merges every change of the frame into one paint.
            if (!FHeld.isActive())
                FHeld.start(int(FFrameMs - elapsed));
            return true;
        }
    }
    FHeld.stop();
    FSinceLastPaint.start();
    return false;
}

void RepaintPacer::releaseHeldUpdate() {
    FReleasing = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(FWindow, &request);
    FReleasing = false;
}
