// The window's repaints are held to one per frame: changes inside a frame merge into one paint, and the
// last change of a burst is always painted.
#include "RepaintPacer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <QWidget>

namespace {
class CountingWidget : public QWidget {
public:
    int paints = 0;
    QColor colour = Qt::white;

protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        QPainter(this).fillRect(rect(), colour);
    }
};
} // namespace

TEST(RepaintPacer, ChangesWithinAFrameMergeAndTheLastOneIsPainted) {
    CountingWidget window;
    window.resize(120, 80);
    constexpr int frameMs = 400; // long, so that a slow sanitizer build stays inside one frame
    new RepaintPacer(&window, frameMs);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.paints > 0; }, 2000));

    // One paint just happened: twenty changes in the same frame must wait for its end.
    const int before = window.paints;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 20; ++i) {
        window.colour = QColor::fromHsv(i * 15, 200, 200);
        window.update();
        QCoreApplication::processEvents();
    }
    const bool insideFrame = clock.elapsed() < frameMs / 2;
    if (insideFrame) {
        EXPECT_EQ(window.paints, before);
    }

    // The held request is delivered: the last colour reaches the screen in one more paint.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.paints > before; }, 3 * frameMs));
    QTest::qWait(frameMs + 100);
    EXPECT_EQ(window.paints, before + 1);
    EXPECT_EQ(window.grab().toImage().pixelColor(60, 40).rgb(), window.colour.rgb());
}

TEST(RepaintPacer, AStreamOfChangesIsPaintedSlowerUntilTheUserActs) {
    CountingWidget window;
    window.resize(120, 80);
    constexpr int frameMs = 20, streamFrameMs = 250;
    auto* pacer = new RepaintPacer(&window, frameMs, streamFrameMs);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(pacer->currentFrameMs(), frameMs);

    // Changes every few milliseconds, as a fast controller's replies make them.
    auto stream = [&](int Ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < Ms) {
            window.colour = QColor::fromHsv(static_cast<int>(clock.elapsed() % 360), 200, 200);
            window.update();
            QTest::qWait(3);
        }
    };
    stream(600);
    EXPECT_EQ(pacer->currentFrameMs(), streamFrameMs);
    const int before = window.paints;
    stream(1000);
    // Four paints a second; at the display frame it would have been fifty.
    EXPECT_LE(window.paints - before, 8);
    EXPECT_GE(window.paints - before, 2);

    // A click brings the display frame back at once.
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(pacer->currentFrameMs(), frameMs);

    // After the stream, the last change is on screen and a later one is painted without delay.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.grab().toImage().pixelColor(5, 5).rgb() == window.colour.rgb(); }, 2000));
    QTest::qWait(3 * streamFrameMs);
    const int settled = window.paints;
    window.colour = Qt::darkBlue;
    window.update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.paints > settled; }, frameMs * 5));
    EXPECT_EQ(pacer->currentFrameMs(), frameMs);
}
