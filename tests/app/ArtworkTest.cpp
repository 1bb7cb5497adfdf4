// The window's artwork as the buttons and the skinner expect it.
#include <gtest/gtest.h>

#include <QImage>

TEST(Artwork, SkinBitmapsAreRoundedPaletteFacesWithFourKeyCorners) {
    const QRgb fuchsia = qRgb(255, 0, 255);
    for (const char* state : {"normal", "down", "enter", "disabled", "focused"}) {
        const QString path = QStringLiteral(":/orvane/skin/%1.bmp").arg(QLatin1String(state));
        const QImage skin(path);
        ASSERT_FALSE(skin.isNull()) << state;
        EXPECT_EQ(skin.size(), QSize(32, 21)) << state;
        EXPECT_EQ(skin.format(), QImage::Format_Indexed8) << state;
        int keyPixels = 0;
        for (int y = 0; y < skin.height(); ++y)
            for (int x = 0; x < skin.width(); ++x)
                if ((skin.pixel(x, y) & 0xffffff) == (fuchsia & 0xffffff))
                    ++keyPixels;
        EXPECT_EQ(keyPixels, 4) << state;
        for (QPoint corner : {QPoint(0, 0), QPoint(31, 0), QPoint(0, 20), QPoint(31, 20)})
            EXPECT_EQ(skin.pixel(corner) & 0xffffff, fuchsia & 0xffffff) << state;
    }
}

TEST(Artwork, ImagesHaveTheSizesTheWindowUses) {
    EXPECT_EQ(QImage(":/orvane/logo.png").size(), QSize(182, 41));
    for (int index : {11, 12, 13, 61, 73, 74}) {
        const QImage glyph(QStringLiteral(":/orvane/iml16/%1.png").arg(index));
        EXPECT_EQ(glyph.size(), QSize(16, 16)) << index;
        EXPECT_TRUE(glyph.hasAlphaChannel()) << index;
    }
    EXPECT_EQ(QImage(":/orvane/iml24/0.png").size(), QSize(24, 24));
}
