// Pixel checks of the drawing kit: system edges, frames, caption styles, rotation, transparent
// copies and the disabled glyph, all rendered into QImages with the classic Windows colours.
#include "KivCaptionStyle.h"
#include "KivFrame.h"
#include "OrvaneErrors.h"
#include "WidgetImages.h"

#include <QPainter>
#include <qdrawutil.h>

namespace {

constexpr QRgb HI = 0xFFFFFFFF, LT = 0xFFDFDFDF, SH = 0xFF808080, DK = 0xFF000000, FACE = 0xFFC0C0C0;
constexpr QRgb BG = 0xFF123456; // a background no drawing colour uses

class DrawingKit : public ClassicPalette {};

class TextPixels : public DrawingKit {
protected:
    void SetUp() override { SKIP_UNLESS_ARIAL_IS_LIBERATION(); }
};

// ---------------------------------------------------------------------------------------------
// Colour

TEST_F(DrawingKit, ColoursKeepRedInTheLowByteAndFollowThePalette) {
    for (auto [color, rgb] : {std::pair{clRed, qRgb(255, 0, 0)},
                              {clNavy, qRgb(0, 0, 128)},
                              {clMaroon, qRgb(128, 0, 0)},
                              {clAqua, qRgb(0, 255, 255)},
                              {clFuchsia, qRgb(255, 0, 255)},
                              {clLime, qRgb(0, 255, 0)}})
        EXPECT_EQ(ColorToQColor(color), QColor(rgb)) << std::hex << rgb;
    EXPECT_EQ(TColor::FromRGB(1, 2, 3).Value, 0x030201u);
    EXPECT_FALSE(ColorToQColor(clNone).isValid());

    // System colours are looked up when drawn, so a palette change shows at once.
    EXPECT_EQ(ColorToRgb(clBtnFace), FACE);
    QPalette p = QApplication::palette();
    p.setColor(QPalette::Button, QColor(1, 2, 3));
    QApplication::setPalette(p);
    EXPECT_EQ(ColorToQColor(clBtnFace), QColor(1, 2, 3));
    QApplication::setPalette(WindowsClassicPalette());
}

// ---------------------------------------------------------------------------------------------
// System edges

TEST_F(DrawingKit, SunkenEdgeMatchesQtsWindowsPanel) {
    const QImage ours = painted(12, 10, BG, [](TKivCanvas& c) {
        TRect r(0, 0, 12, 10);
        c.DrawEdge(r, EDGE_SUNKEN, BF_RECT);
    });
    QImage oracle = solid(12, 10, BG);
    {
        QPainter p(&oracle);
        qDrawWinPanel(&p, 0, 0, 12, 10, QApplication::palette(), true);
    }
    EXPECT_EQ(ours, oracle);
}

struct EdgeCase {
    const char* Name;
    unsigned Edge, Flags;
    // outer top, outer bottom, inner top, inner bottom (0: that ring is not drawn)
    QRgb OuterTL, OuterBR, InnerTL, InnerBR;
};

TEST_F(DrawingKit, EdgeKindsPaintTheirTwoRingsInTheSystemColours) {
    const QRgb WF = DK, WIN = HI;
    const EdgeCase cases[] = {
        {"raised", EDGE_RAISED, 0, LT, DK, HI, SH},
        {"sunken", EDGE_SUNKEN, 0, SH, HI, DK, LT},
        {"etched", EDGE_ETCHED, 0, SH, HI, HI, SH},
        {"bump", EDGE_BUMP, 0, LT, DK, DK, LT},
        {"raised outer", BDR_RAISEDOUTER, 0, LT, DK, 0, 0},
        {"sunken outer", BDR_SUNKENOUTER, 0, SH, HI, 0, 0},
        {"raised inner alone", BDR_RAISEDINNER, 0, HI, SH, 0, 0},
        {"sunken inner alone", BDR_SUNKENINNER, 0, DK, LT, 0, 0},
        {"raised soft", EDGE_RAISED, BF_SOFT, HI, DK, LT, SH},
        {"sunken soft", EDGE_SUNKEN, BF_SOFT, DK, HI, SH, LT},
        {"raised flat", EDGE_RAISED, BF_FLAT, SH, SH, FACE, FACE},
        {"raised outer flat", BDR_RAISEDOUTER, BF_FLAT, SH, SH, 0, 0},
        {"sunken mono", EDGE_SUNKEN, BF_MONO, WF, WF, WIN, WIN},
    };
    for (const EdgeCase& e : cases) {
        SCOPED_TRACE(e.Name);
        const QImage img = painted(12, 10, BG, [&](TKivCanvas& c) {
            TRect r(0, 0, 12, 10);
            c.DrawEdge(r, e.Edge, e.Flags | BF_RECT);
        });
        auto expectAt = [&](std::initializer_list<std::pair<int, int>> points, QRgb color) {
            for (auto [x, y] : points)
                EXPECT_EQ(px(img, x, y), color ? color : BG) << x << "," << y;
        };
        // The bottom-right colour goes last and owns the top-right and bottom-left corners.
        expectAt({{5, 0}, {0, 5}, {0, 0}}, e.OuterTL);
        expectAt({{5, 9}, {11, 5}, {11, 0}, {0, 9}}, e.OuterBR);
        expectAt({{5, 1}, {1, 5}}, e.InnerTL);
        expectAt({{5, 8}, {10, 5}, {10, 1}}, e.InnerBR);
        EXPECT_EQ(px(img, 5, 5), BG) << "the middle stays untouched without BF_MIDDLE";
    }
}

TEST_F(DrawingKit, EdgeAdjustShrinksOnlyTheFlaggedSides) {
    QImage img = solid(12, 10, BG);
    TKivCanvas c(&img);
    TRect r(0, 0, 12, 10);
    c.DrawEdge(r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    EXPECT_EQ(r, TRect(2, 2, 10, 8));
    r = TRect(0, 0, 12, 10);
    c.DrawEdge(r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
    EXPECT_EQ(r, TRect(1, 1, 11, 9));

    QImage part = solid(12, 10, BG);
    TKivCanvas pc(&part);
    r = TRect(0, 0, 12, 10);
    pc.DrawEdge(r, EDGE_RAISED, BF_LEFT | BF_TOP | BF_ADJUST | BF_MIDDLE);
    EXPECT_EQ(r, TRect(2, 2, 12, 10));
    EXPECT_EQ(px(part, 11, 0), LT) << "no right side: the top line runs to the end";
    EXPECT_EQ(px(part, 11, 5), FACE) << "the middle reaches the undrawn right side";
    EXPECT_EQ(px(part, 5, 9), FACE);
}

// ---------------------------------------------------------------------------------------------
// Frames

TEST_F(DrawingKit, FlatFrameDrawsTheOuterLineAndTakesTwoPixelsAndAnInvisibleOneNothing) {
    QImage img = solid(10, 10, BG);
    TKivCanvas c(&img);
    TKivFrame frame;
    frame.SetFlatColor(clRed);
    TRect r(0, 0, 10, 10);
    frame.Draw(c, r);
    EXPECT_EQ(r, TRect(2, 2, 8, 8));
    const QRgb red = 0xFFFF0000;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(px(img, 0, i), red);
        EXPECT_EQ(px(img, i, 0), red);
        EXPECT_EQ(px(img, 9, i), red);
        EXPECT_EQ(px(img, i, 9), red);
    }
    EXPECT_EQ(countOf(img, red), 36);

    // Two sides only: the others keep their pixels and their extent.
    QImage two = solid(10, 10, BG);
    TKivCanvas c2(&two);
    frame.SetEdges(aeLeft | aeBottom);
    r = TRect(0, 0, 10, 10);
    frame.Draw(c2, r);
    EXPECT_EQ(r, TRect(2, 0, 10, 8));
    EXPECT_EQ(countOf(two, red), 19);
    EXPECT_EQ(px(two, 9, 0), BG);

    // An invisible frame, of any style, draws nothing and takes no room.
    TKivFrame hidden;
    hidden.SetStyle(afsSunkenHeavy);
    hidden.SetVisible(false);
    r = TRect(0, 0, 10, 10);
    EXPECT_EQ(countOf(painted(10, 10, BG, [&](TKivCanvas& c) { hidden.Draw(c, r); }), BG), 100);
    EXPECT_EQ(r, TRect(0, 0, 10, 10));
}

TEST_F(DrawingKit, FrameStylesDrawTheirEdgeKind) {
    struct Case {
        TKivFrameStyle Style;
        int Width;
        QRgb OuterLeft, InnerLeft, OuterRight, InnerRight;
    };
    const Case cases[] = {
        {afsRaised, 1, HI, BG, SH, BG},      {afsSunken, 1, SH, BG, HI, BG},
        {afsBump, 2, LT, DK, DK, LT},        {afsEtched, 2, SH, HI, HI, SH},
        {afsRaisedHeavy, 2, LT, HI, DK, SH}, {afsSunkenHeavy, 2, SH, DK, HI, LT},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(int(k.Style));
        TKivFrame frame;
        frame.SetStyle(k.Style);
        TRect r(0, 0, 20, 12);
        const QImage img = painted(20, 12, BG, [&](TKivCanvas& c) { frame.Draw(c, r); });
        EXPECT_EQ(r, TRect(k.Width, k.Width, 20 - k.Width, 12 - k.Width));
        EXPECT_EQ(px(img, 0, 6), k.OuterLeft);
        EXPECT_EQ(px(img, 1, 6), k.InnerLeft);
        EXPECT_EQ(px(img, 19, 6), k.OuterRight);
        EXPECT_EQ(px(img, 18, 6), k.InnerRight);
    }
}

TEST_F(DrawingKit, FrameAnnouncesEveryRealChangeAndAssignCopies) {
    TKivFrame frame;
    QObject* sender = nullptr;
    int changes = 0;
    frame.OnChange = [&](QObject* s) {
        sender = s;
        ++changes;
    };
    frame.SetStyle(afsFlat); // the default: no change
    frame.SetVisible(true);
    EXPECT_EQ(changes, 0);
    frame.SetEnabled(false);
    frame.SetEdges(aeTop);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(sender, &frame);

    TKivFrame other;
    other.SetStyle(afsEtched);
    other.SetFlatColor(clRed);
    frame.Assign(&other);
    EXPECT_EQ(frame.Style(), afsEtched);
    EXPECT_EQ(frame.FlatColor(), clRed);
    EXPECT_EQ(frame.Edges(), TKivFrame::AllEdges);
    EXPECT_TRUE(frame.Enabled());
    TKivCaptionStyle notAFrame;
    EXPECT_THROW(frame.Assign(&notAFrame), ConversionError);
}

// ---------------------------------------------------------------------------------------------
// Caption style settings

TEST_F(DrawingKit, AngleIsClampedSnappedOrRefusedButAlwaysAnnounced) {
    TKivCaptionStyle s;
    int changes = 0;
    s.OnChanged = [&](QObject*) { ++changes; };
    s.SetAngle(400);
    EXPECT_EQ(s.Angle(), 0);
    s.SetAngle(100);
    EXPECT_EQ(s.Angle(), 100);
    s.SetSnapToRightAngles(true);
    EXPECT_EQ(s.Angle(), 90);
    for (auto [in, out] : {std::pair{45, 0}, {46, 90}, {135, 90}, {136, 180}, {226, 270}, {316, 0}}) {
        s.SetAngle(in);
        EXPECT_EQ(s.Angle(), out) << in;
    }
    s.SetAngle(180);
    changes = 0;
    s.SetAllowRotation(false); // resets the angle
    EXPECT_EQ(s.Angle(), 0);
    EXPECT_EQ(changes, 1);
    s.SetAngle(100); // refused, still announced
    EXPECT_EQ(s.Angle(), 0);
    EXPECT_EQ(changes, 2);
    s.SetAngle(-5);
    EXPECT_EQ(changes, 3);
}

TEST_F(DrawingKit, ShadowAndOutlineSettingsAnnounceOnlyWhenTheyShow) {
    TKivCaptionStyle s;
    int changes = 0;
    s.OnChanged = [&](QObject*) { ++changes; };
    s.SetShadowDepth(4);
    s.SetShadowColor(clRed);
    s.SetOutlineWidth(3);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(s.ShadowDepth(), 4);
    s.SetTextStyle(atsShadow);
    s.SetShadowDirection(asdTopLeft);
    s.SetShadowDirection(asdTopLeft);
    s.SetOutlineFillColor(clRed);
    EXPECT_EQ(changes, 2);
    s.SetTextStyle(atsOutline);
    s.SetOutlineWidth(2);
    EXPECT_EQ(changes, 4);

    TKivCaptionStyle copy;
    copy.SetAllowRotation(false);
    copy.Assign(&s);
    EXPECT_EQ(copy.TextStyle(), atsOutline);
    EXPECT_EQ(copy.ShadowDirection(), asdTopLeft);
    EXPECT_EQ(copy.ShadowColor(), clRed);
    EXPECT_TRUE(copy.AllowRotation());
    EXPECT_EQ(copy.OutlineWidth(), 1) << "outline settings are not copied";
    EXPECT_EQ(copy.OutlineFillColor(), clWindow);
    TKivFrame notAStyle;
    EXPECT_THROW(copy.Assign(&notAStyle), ConversionError);
}

// ---------------------------------------------------------------------------------------------
// Caption drawing

struct StyleCase {
    TKivTextStyle Style;
    // where each extra colour sits relative to the text (dx, dy), or absent
    std::optional<QPoint> Highlight, Shadow;
    int Growth;
};

TEST_F(TextPixels, EachTextStyleDrawsItsCopiesAtTheirOffsets) {
    const QRgb red = 0xFFFF0000, maroon = 0xFF800000;
    const StyleCase cases[] = {
        {atsNormal, {}, {}, 0},
        {atsRaised, QPoint(-1, -1), {}, 1},
        {atsRaisedHeavy, QPoint(-1, -1), QPoint(1, 1), 2},
        {atsSunken, QPoint(1, 1), {}, 1},
        {atsSunkenHeavy, QPoint(1, 1), QPoint(-1, -1), 2},
        {atsShadow, {}, QPoint(3, 3), 3},
    };
    const TKivFont font = arialFont(24, clRed);
    QSize normalSize;
    for (const StyleCase& k : cases) {
        SCOPED_TRACE(int(k.Style));
        QImage img = solid(120, 50, BG);
        TKivCanvas c(&img);
        TKivCaptionStyle s;
        s.SetTextStyle(k.Style);
        s.SetShadowColor(clMaroon);
        s.SetShadowDepth(3);
        const QSize size = s.DrawText(c, "HI", font, TRect(10, 10, 110, 45), taLeftJustify, tlTop, 0, false);
        if (k.Style == atsNormal)
            normalSize = size;
        EXPECT_EQ(size, normalSize + QSize(k.Growth, k.Growth));
        EXPECT_EQ(s.TextExtent(c, "HI", TRect(0, 0, 100, 40), font), size);

        const QRect text = inkBox(img, red);
        ASSERT_FALSE(text.isEmpty());
        EXPECT_GE(text.left(), 10);
        auto expectCopy = [&](std::optional<QPoint> off, QRgb color) {
            const QRect box = inkBox(img, color);
            if (!off) {
                EXPECT_TRUE(box.isEmpty());
                return;
            }
            // The copy is mostly hidden under the text; its outermost corner shows the offset.
            if (off->x() < 0) {
                EXPECT_EQ(box.topLeft(), text.topLeft() + *off);
            } else {
                EXPECT_EQ(box.bottomRight(), text.bottomRight() + *off);
            }
        };
        expectCopy(k.Highlight, HI);
        expectCopy(k.Shadow, maroon);
    }
}

TEST_F(TextPixels, ShadowFollowsItsDirection) {
    const TKivFont font = arialFont(24, clRed);
    for (auto [dir, off] : {std::pair{asdTopLeft, QPoint(-2, -2)},
                            {asdTopRight, QPoint(2, -2)},
                            {asdBottomLeft, QPoint(-2, 2)},
                            {asdBottomRight, QPoint(2, 2)}}) {
        QImage img = solid(100, 50, BG);
        TKivCanvas c(&img);
        TKivCaptionStyle s;
        s.SetTextStyle(atsShadow);
        s.SetShadowColor(clNavy);
        s.SetShadowDirection(dir);
        s.DrawText(c, "I", font, TRect(10, 10, 90, 45), taLeftJustify, tlTop, 0, false);
        const QRect text = inkBox(img, 0xFFFF0000), shadow = inkBox(img, 0xFF000080);
        // "I" is a bar: the shadow's box is the text's box moved whole.
        EXPECT_EQ(shadow.translated(-off), text) << int(dir);
    }
}

TEST_F(TextPixels, DisabledAndOutlinedCaptions) {
    const TKivFont font = arialFont(24, clRed);
    QImage img = painted(100, 50, BG, [&](TKivCanvas& c) {
        TKivCaptionStyle s;
        s.SetTextStyle(atsRaisedHeavy); // ignored when disabled
        s.DrawText(c, "I", font, TRect(10, 10, 90, 45), taLeftJustify, tlTop, 0, true);
    });
    const QRect shadow = inkBox(img, SH), highlight = inkBox(img, HI);
    EXPECT_EQ(countOf(img, 0xFFFF0000), 0);
    EXPECT_EQ(highlight, shadow.translated(1, 1));

    QImage out = painted(100, 50, BG, [&](TKivCanvas& c) {
        TKivCaptionStyle s;
        s.SetTextStyle(atsOutline);
        s.SetOutlineFillColor(clLime);
        s.DrawText(c, "O", arialFont(30, clRed), TRect(10, 5, 90, 45), taLeftJustify, tlTop, 0, false);
    });
    const QRect stroke = inkBox(out, 0xFFFF0000), fill = inkBox(out, 0xFF00FF00);
    ASSERT_FALSE(fill.isEmpty());
    EXPECT_TRUE(stroke.contains(fill));
    EXPECT_NE(stroke, fill);
}

TEST_F(TextPixels, LayoutAndAlignmentPlaceTheText) {
    const TKivFont font = arialFont(13, clRed, false);
    const TRect rect(0, 0, 200, 60);
    QRect boxes[3][3];
    for (int a = 0; a < 3; ++a)
        for (int l = 0; l < 3; ++l) {
            QImage img = solid(200, 60, BG);
            TKivCanvas c(&img);
            TKivCaptionStyle s;
            s.DrawText(c, "Wavelength", font, rect, TAlignment(a), TTextLayout(l), 0, false);
            boxes[a][l] = inkBox(img, 0xFFFF0000);
        }
    const QRect left = boxes[taLeftJustify][tlTop], right = boxes[taRightJustify][tlTop],
                centre = boxes[taCenter][tlCenter], bottom = boxes[taLeftJustify][tlBottom];
    EXPECT_LE(left.left(), 1);
    EXPECT_GE(right.right(), 197);
    EXPECT_NEAR(centre.center().x(), 100, 2);
    EXPECT_NEAR(centre.center().y(), 30, 3);
    EXPECT_GE(bottom.bottom(), 52);
    EXPECT_EQ(bottom.height(), left.height());
}

TEST_F(TextPixels, WordBreakAndTabsFollowTheFlags) {
    const TKivFont font = arialFont(13, clRed, false);
    QImage img = solid(100, 100, BG);
    TKivCanvas c(&img);
    c.Font = font;
    const int lineH = c.TextHeight("X");
    TRect r(0, 0, 60, 0);
    c.DrawText("Pressure sensor channel 1", r, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_EQ(r.Height(), 3 * lineH);
    EXPECT_LE(r.Width(), 60);
    TRect one(0, 0, 60, 0);
    c.DrawText("Pressure sensor channel 1", one, DT_CALCRECT);
    EXPECT_EQ(one.Height(), lineH);
    EXPECT_GT(one.Width(), 60);

    TRect empty(5, 5, 60, 60);
    c.DrawText("", empty, DT_CALCRECT);
    EXPECT_EQ(empty, TRect(5, 5, 5, 5)) << "an empty caption needs no room";

    TRect tab(0, 0, 300, 0), plain(0, 0, 300, 0);
    c.DrawText("a\tb", tab, DT_EXPANDTABS | DT_CALCRECT);
    c.DrawText("ab", plain, DT_CALCRECT);
    EXPECT_GT(tab.Width(), plain.Width() + 20) << "the b moves to the first tab stop";
}

TEST_F(TextPixels, RotatedTextStaysInsideItsRotatedExtentAndStartsInItsCorner) {
    const TKivFont font = arialFont(20, clRed);
    for (int angle : {45, 90, 180, 270, 300}) {
        SCOPED_TRACE(angle);
        QImage img = solid(240, 240, BG);
        TKivCanvas c(&img);
        TKivCaptionStyle s;
        s.SetAngle(angle);
        const QSize flat = [&] {
            TKivCaptionStyle plain;
            return plain.TextExtent(c, "Scan", TRect(0, 0, 200, 200), font);
        }();
        const QSize extent = s.TextExtent(c, "Scan", TRect(0, 0, 200, 200), font);
        const TRect rotated = RotateRect(TRect(0, 0, flat.width(), flat.height()), angle);
        EXPECT_EQ(extent, QSize(rotated.Right - rotated.Left + 1, rotated.Bottom - rotated.Top + 1));

        s.DrawText(c, "Scan", font, TRect(20, 20, 220, 220), taCenter, tlCenter, 0, false);
        const QRect ink = inkBox(img, 0xFFFF0000);
        ASSERT_FALSE(ink.isEmpty());
        EXPECT_LE(ink.width(), extent.width() + 1);
        EXPECT_LE(ink.height(), extent.height() + 1);
        // Centred on the rectangle's middle (120, 120).
        EXPECT_NEAR(ink.center().x(), 120, 4);
        EXPECT_NEAR(ink.center().y(), 120, 4);
        if (angle == 90 || angle == 270) {
            EXPECT_GT(ink.height(), ink.width());
        }
        if (angle % 90 != 0)
            continue;
        // Top-left: the cell starts in the corner; the ink lies a few pixels of leading or descent inside it.
        const QRect corner = inkBox(painted(200, 200, BG,
                                            [&](TKivCanvas& c) {
                                                s.DrawText(c, "Scan", font, TRect(50, 50, 200, 200),
                                                           taLeftJustify, tlTop, 0, false);
                                            }),
                                    0xFFFF0000);
        EXPECT_GE(corner.left(), 50);
        EXPECT_LE(corner.left(), 56);
        EXPECT_GE(corner.top(), 50);
        EXPECT_LE(corner.top(), 56);
    }
}

// ---------------------------------------------------------------------------------------------
// Rotation arithmetic

TEST(Rotation, PointsAndRectanglesTurnAboutTheMiddle) {
    EXPECT_EQ(RotatePoint(QPoint(10, 0), 90), QPoint(0, 10));
    EXPECT_EQ(RotatePoint(QPoint(10, 5), 180), QPoint(-10, -5));
    EXPECT_EQ(RotateRect(TRect(0, 0, 100, 20), 90), TRect(40, -40, 60, 60));
    EXPECT_EQ(RotateRect(TRect(0, 0, 100, 20), 180), TRect(0, 0, 100, 20));
    const TRect r45 = RotateRect(TRect(0, 0, 10, 10), 45);
    EXPECT_EQ(r45.Right - r45.Left, 14);
    QPoint pts[3] = {{0, 0}, {1, 1}, {2, 2}};
    OffsetPoints(pts, 1, 5, -5);
    EXPECT_EQ(pts[1], QPoint(6, -4));
    EXPECT_EQ(pts[2], QPoint(2, 2)) << "only up to the highest index";
}

// ---------------------------------------------------------------------------------------------
// Transparent copies and the disabled glyph

QImage keyedSource() {
    QImage src(4, 4, QImage::Format_RGB32);
    src.fill(qRgb(10, 200, 30));
    for (auto [x, y] : {std::pair{0, 0}, {3, 0}, {0, 3}, {3, 3}})
        src.setPixel(x, y, qRgb(255, 0, 255));
    src.setPixel(1, 1, qRgb(250, 250, 5));
    return src;
}

TEST_F(DrawingKit, TransparentBlitLeavesTheKeyColourOut) {
    const QImage src = keyedSource();
    const QImage before = src;
    for (auto format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
        QImage dest = solid(10, 10, BG, format);
        paintOn(dest, [&](TKivCanvas& c) { TransparentBlit(c, 3, 2, 4, 4, src, 0, 0, clFuchsia, false); });
        EXPECT_EQ(px(dest, 3, 2), BG);
        EXPECT_EQ(px(dest, 6, 5), BG);
        EXPECT_EQ(px(dest, 4, 2), qRgb(10, 200, 30));
        EXPECT_EQ(px(dest, 4, 3), qRgb(250, 250, 5));
        EXPECT_EQ(px(dest, 2, 2), BG);
        EXPECT_EQ(countOf(dest, qRgb(10, 200, 30)) + countOf(dest, qRgb(250, 250, 5)), 12);
    }
    EXPECT_EQ(src, before);

    // The corner pixel as key, and a piece taken from inside the bitmap.
    QImage dest =
        painted(10, 10, BG, [&](TKivCanvas& c) { TransparentBlit(c, 0, 0, 2, 2, src, 1, 1, clNone, true); });
    EXPECT_EQ(px(dest, 0, 0), qRgb(250, 250, 5));
    EXPECT_EQ(px(dest, 1, 1), qRgb(10, 200, 30));
}

TEST_F(DrawingKit, TransparentStretchKeysBeforeStretching) {
    const QImage src = keyedSource();
    QImage dest = painted(12, 12, BG, [&](TKivCanvas& c) {
        TransparentStretch(c, 0, 0, 12, 12, src, 0, 0, 4, 4, clNone, true);
    });
    // Each source pixel becomes a 3 x 3 block; the key corners show the background.
    EXPECT_EQ(countOf(dest, BG), 4 * 9);
    EXPECT_EQ(px(dest, 2, 2), BG);
    EXPECT_EQ(px(dest, 3, 3), qRgb(250, 250, 5));
    EXPECT_EQ(px(dest, 11, 0), BG);
    EXPECT_EQ(countOf(dest, qRgb(255, 0, 255)), 0);
}

TEST_F(DrawingKit, DisabledGlyphDarkensTheBackgroundByTheGlyphsBrightness) {
    QImage glyph(3, 1, QImage::Format_ARGB32);
    glyph.setPixel(0, 0, qRgba(255, 255, 255, 255)); // gray 254
    glyph.setPixel(1, 0, qRgba(0, 0, 0, 255));       // gray 0
    glyph.setPixel(2, 0, qRgba(0, 0, 0, 0));         // transparent: background stays
    const QRgb back = qRgb(200, 100, 40);
    const int divisor[3] = {3, 8, 20}, offset[3] = {170, 224, 243};
    for (int mode = 0; mode < 3; ++mode) {
        QImage img =
            painted(6, 4, back, [&](TKivCanvas& c) { DrawDisabledGlyph(c, TRect(1, 1, 6, 4), glyph, mode); });
        const int white = 254 / divisor[mode] + offset[mode], black = offset[mode];
        auto scaled = [&](int f) { return qRgb(200 * f / 256, 100 * f / 256, 40 * f / 256); };
        EXPECT_EQ(px(img, 1, 1), scaled(white)) << mode;
        EXPECT_EQ(px(img, 2, 1), scaled(black)) << mode;
        EXPECT_EQ(px(img, 3, 1), back) << mode;
        EXPECT_EQ(px(img, 1, 2), back) << mode;
    }
    // A rectangle smaller than the glyph limits the change.
    QImage small =
        painted(6, 4, back, [&](TKivCanvas& c) { DrawDisabledGlyph(c, TRect(0, 0, 1, 1), glyph, 0); });
    EXPECT_EQ(px(small, 1, 0), back);
    EXPECT_NE(px(small, 0, 0), back);

    QImage img = solid(4, 4, BG);
    TKivCanvas c(&img);
    try {
        DrawDisabledGlyph(c, TRect(0, 0, 3, 1), glyph, 3);
        FAIL() << "mode 3 was accepted";
    } catch (const AssertionError& e) {
        EXPECT_STREQ(e.what(), "Assertion failure");
    }
}

// ---------------------------------------------------------------------------------------------
// Drawing layer primitives

TEST_F(DrawingKit, ShapesLeaveOutTheRightAndBottomEdge) {
    QImage img = painted(20, 20, BG, [&](TKivCanvas& c) {
        c.Pen.Color = clRed;
        c.Brush.Color = clLime;
        c.Rectangle(TRect(2, 2, 8, 6));
        c.MoveTo(2, 10);
        c.LineTo(8, 10);
        c.MoveTo(10, 2);
        c.LineTo(15, 7);
        c.Ellipse(TRect(10, 10, 20, 16));
    });
    const QImage rect = img.copy(0, 0, 9, 9);
    EXPECT_EQ(inkBox(rect, 0xFFFF0000), QRect(2, 2, 6, 4));
    EXPECT_EQ(inkBox(rect, 0xFF00FF00), QRect(3, 3, 4, 2));
    EXPECT_EQ(px(img, 7, 10), 0xFFFF0000u);
    EXPECT_EQ(px(img, 8, 10), BG) << "LineTo leaves out its end point";
    EXPECT_EQ(px(img, 14, 6), 0xFFFF0000u);
    EXPECT_EQ(px(img, 15, 7), BG);
    const QImage ellipse = img.copy(10, 10, 10, 10);
    EXPECT_EQ(inkBox(ellipse, 0xFFFF0000) | inkBox(ellipse, 0xFF00FF00), QRect(0, 0, 10, 6));
}

TEST_F(DrawingKit, FloodFillIsFourConnected) {
    QImage img = painted(10, 10, qRgb(255, 255, 255), [&](TKivCanvas& c) {
        // A diagonal wall: 4-connected fill must not slip through its corners.
        for (int i = 0; i < 10; ++i)
            c.SetPixel(i, 9 - i, clBlack);
        c.Brush.Color = clRed;
        c.FloodFill(0, 0, clWhite, fsSurface);
    });
    EXPECT_EQ(countOf(img, 0xFFFF0000), 45);
    EXPECT_EQ(px(img, 9, 9), 0xFFFFFFFFu);

    QImage ring = painted(10, 10, qRgb(255, 255, 255), [&](TKivCanvas& c) {
        c.Pen.Color = clBlack;
        c.Brush.Style = bsClear;
        c.Rectangle(TRect(2, 2, 8, 8));
        c.SetPixel(4, 4, clBlue);
        c.Brush = TKivBrush{clRed, bsSolid};
        c.FloodFill(5, 5, clBlack, fsBorder);
    });
    EXPECT_EQ(countOf(ring, 0xFFFF0000), 16) << "up to the border, over other colours";
}

TEST_F(DrawingKit, DiagonalEdgesCloseADiamondThatAFillStaysIn) {
    QImage img = painted(30, 30, FACE, [&](TKivCanvas& c) {
        const struct {
            TRect Quarter;
            unsigned Flags;
        } quarters[] = {{TRect(0, 0, 15, 15), BF_DIAGONAL_ENDTOPRIGHT},
                        {TRect(15, 0, 30, 15), BF_DIAGONAL_ENDTOPLEFT},
                        {TRect(0, 15, 15, 30), BF_DIAGONAL_ENDBOTTOMRIGHT},
                        {TRect(15, 15, 30, 30), BF_DIAGONAL_ENDBOTTOMLEFT}};
        for (auto q : quarters)
            c.DrawEdge(q.Quarter, EDGE_RAISED, q.Flags);
        c.Brush.Color = clYellow;
        c.FloodFill(15, 15, clBtnFace, fsSurface);
    });
    EXPECT_EQ(px(img, 0, 14), LT) << "upper sides in the top-left colour";
    EXPECT_EQ(px(img, 14, 0), LT);
    EXPECT_EQ(px(img, 29, 15), DK) << "lower sides in the bottom-right colour";
    EXPECT_EQ(px(img, 15, 29), DK);
    EXPECT_GT(countOf(img, 0xFFFFFF00), 300);
    for (auto [x, y] : {std::pair{0, 0}, {29, 0}, {0, 29}, {29, 29}, {5, 5}, {24, 24}})
        EXPECT_EQ(px(img, x, y), FACE) << x << "," << y;
}

TEST_F(DrawingKit, ArcRunsBetweenRaysCounterClockwise) {
    QImage img = painted(41, 21, BG, [&](TKivCanvas& c) {
        c.Pen.Color = clRed;
        // Upper-left half of a 2:1 ellipse: from the ray to the top-right to the ray to the bottom-left.
        c.Arc(TRect(0, 0, 41, 21), QPoint(41, 0), QPoint(0, 21));
    });
    const QRect ink = inkBox(img, 0xFFFF0000);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_EQ(ink.left(), 0);
    EXPECT_EQ(ink.top(), 0);
    EXPECT_EQ(px(img, 20, 0), 0xFFFF0000u);
    // The rays through the corners meet the ellipse at 45 degrees of the circle, not of the box.
    EXPECT_EQ(countOf(img.copy(25, 0, 16, 21), 0xFFFF0000) > 0, true);
    EXPECT_EQ(countOf(img.copy(32, 10, 9, 11), 0xFFFF0000), 0);
    EXPECT_EQ(countOf(img.copy(0, 0, 8, 10), 0xFFFF0000) > 0, true);
}

TEST_F(DrawingKit, TwoHalfArcsCoverTheEllipsesOutline) {
    // A lamp's rim: the two arcs must lie on the ellipse, or its fill shows outside the rim.
    const TRect r(1, 1, 16, 16);
    const QImage ellipse = painted(18, 18, BG, [&](TKivCanvas& c) {
        c.Pen.Color = clRed;
        c.Brush.Style = bsClear;
        c.Ellipse(r);
    });
    const QImage rim = painted(18, 18, BG, [&](TKivCanvas& c) {
        c.Pen.Color = clRed;
        c.Arc(r, QPoint(r.Right, r.Top), QPoint(r.Left, r.Bottom));
        c.Pen.Color = clBlue;
        c.Arc(r, QPoint(r.Left, r.Bottom), QPoint(r.Right, r.Top));
    });
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 18; ++x)
            EXPECT_EQ(px(ellipse, x, y) == 0xFFFF0000u, px(rim, x, y) != BG) << x << "," << y;
    EXPECT_EQ(px(rim, 1, 8), 0xFFFF0000u) << "the left end belongs to the upper-left arc";
    EXPECT_EQ(px(rim, 15, 8), 0xFF0000FFu);
}

TEST_F(DrawingKit, FocusRectangleDrawnTwiceVanishes) {
    QImage img = solid(12, 8, BG);
    TKivCanvas c(&img);
    c.DrawFocusRect(TRect(1, 1, 11, 7));
    const QImage once = img.copy();
    EXPECT_NE(px(once, 1, 1), BG);
    EXPECT_EQ(px(once, 2, 1), BG);
    c.DrawFocusRect(TRect(1, 1, 11, 7));
    EXPECT_EQ(countOf(img, BG), 96);
}

TEST_F(DrawingKit, ParentBackgroundShowsBehindTheControl) {
    QWidget parent;
    parent.resize(60, 40);
    paintBackground(parent, QColor(1, 2, 3));
    QWidget child(&parent);
    child.setGeometry(10, 10, 20, 10);
    QImage img = painted(20, 10, BG, [&](TKivCanvas& c) { DrawParentBackground(&child, c); });
    EXPECT_EQ(countOf(img, qRgb(1, 2, 3)), 200);
    QWidget orphan;
    QImage none = solid(5, 5, BG);
    TKivCanvas c(&none);
    DrawParentBackground(&orphan, c);
    EXPECT_EQ(countOf(none, BG), 25);
}

} // namespace
