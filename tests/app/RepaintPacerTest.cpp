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
