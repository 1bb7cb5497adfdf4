// The panels' group boxes keep their painted frame: it must look like a plain group box, and be drawn
// again whenever anything it shows changes.
#include "CachedGroupBox.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstdlib>

namespace {
QImage picture(QWidget& w) {
    QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    w.render(&image);
    return image;
}

// The kept frame is composed over its background once more than a direct paint, so the edges of its
// antialiased strokes may round one step apart; anything more is a different picture.
int worstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 255;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

void setUp(QGroupBox& box) {
    box.resize(345, 212);
    QFont bold(QStringLiteral("Arial"));
    bold.setPixelSize(13);
    bold.setBold(true);
    box.setFont(bold);
}
} // namespace

TEST(CachedGroupBox, LooksLikeAPlainGroupBoxThroughEveryChange) {
    QGroupBox plain(QStringLiteral("Operation"));
    CachedGroupBox cached(QStringLiteral("Operation"));
    setUp(plain);
    setUp(cached);
    ASSERT_LE(worstDifference(picture(cached), picture(plain)), 1);
    const int draws = cached.FrameDraws();
    picture(cached);
    EXPECT_EQ(cached.FrameDraws(), draws) << "an unchanged box is drawn again";

    auto both = [&](const char* what, auto change) {
        change(plain);
        change(cached);
        const int before = cached.FrameDraws();
        EXPECT_LE(worstDifference(picture(cached), picture(plain)), 1) << what;
        EXPECT_GT(cached.FrameDraws(), before) << what;
    };
    both("title", [](QGroupBox& b) { b.setTitle(QStringLiteral("Wavelength Scan")); });
    both("disabled", [](QGroupBox& b) { b.setEnabled(false); });
    both("size", [](QGroupBox& b) { b.resize(300, 181); });
    both("palette", [](QGroupBox& b) {
        QPalette p = b.palette();
        p.setColor(QPalette::WindowText, Qt::red);
        b.setPalette(p);
    });
    both("font", [](QGroupBox& b) {
        QFont f = b.font();
        f.setPixelSize(16);
        b.setFont(f);
    });
    both("flat", [](QGroupBox& b) { b.setFlat(true); });
}
