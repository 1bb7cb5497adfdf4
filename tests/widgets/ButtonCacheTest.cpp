// Kept button faces and kept text layouts: a face shown again must be pixel for pixel what a fresh
// paint draws, after any change to the button, its skin, its images, its font, the palette, its
// size, its state or its parent; and a layout kept for one text must never serve another.
#include "ImageList.h"
#include "KivButton.h"
#include "WidgetImages.h"

#include <QEnterEvent>
#include <QMenu>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr QRgb PARENT = 0xFF10A010;

// The button under test, with the paint's bookkeeping in reach.
class KeptBitBtn : public TKivBitBtn {
public:
    using TKivBitBtn::TKivBitBtn;
    using TKivCustomBtn::LastPaintUsedKeptFace;
};

// Its twin that composes every paint afresh: the reference for every pixel.
class FreshBitBtn : public TKivBitBtn {
public:
    using TKivBitBtn::TKivBitBtn;
    using TKivCustomBtn::LastPaintUsedKeptFace;

protected:
    bool ContentCacheable() const override { return false; }
};

// The main window's look: the shared skinner with its five bitmaps, a 16-pixel image, Arial.
struct Scene {
    QWidget parent;
    TKivBtnSkinner skinner;
    TImageList images{16, 16};
    KeptBitBtn* kept;
    FreshBitBtn* fresh;
    QMenu menu;

    Scene() {
        parent.resize(300, 100);
        paintBackground(parent, QColor::fromRgb(PARENT));
        skinner.SetFixedWidth(4);
        skinner.SetFixedHeight(4);
        skinner.SetTransparentColor(clFuchsia);
        skinner.SetBitmapNormal(QImage(":/orvane/skin/normal.bmp"));
        skinner.SetBitmapDown(QImage(":/orvane/skin/down.bmp"));
        skinner.SetBitmapEnter(QImage(":/orvane/skin/enter.bmp"));
        skinner.SetBitmapDisabled(QImage(":/orvane/skin/disabled.bmp"));
        skinner.SetBitmapFocused(QImage(":/orvane/skin/focused.bmp"));
        images.SetImage(74, QImage(":/orvane/iml16/74.png"));
        images.SetImage(73, QImage(":/orvane/iml16/73.png"));
        kept = new KeptBitBtn(&parent);
        fresh = new FreshBitBtn(&parent);
        kept->setGeometry(10, 10, 120, 34);
        fresh->setGeometry(10, 50, 120, 34);
        both([&](TKivBitBtn& b) {
            QFont arial("Arial");
            arial.setPixelSize(13);
            b.setFont(arial);
            b.setText("MOVE");
            b.SetSkinner(&skinner);
            b.SetImages(&images);
            b.SetImageIndex(74);
        });
    }

    void both(const std::function<void(TKivBitBtn&)>& change) {
        change(*kept);
        change(*fresh);
    }
};

class ButtonFaces : public ClassicPalette {
protected:
    void TearDown() override { QApplication::setPalette(WindowsClassicPalette()); }

    // The kept button's picture, shown twice so the second comes from what it kept, against its
    // twin's fresh paint.
    static void expectSameAsFresh(Scene& s, const std::string& what) {
        const QImage first = renderWidget(*s.kept);
        const QImage again = renderWidget(*s.kept);
        EXPECT_TRUE(s.kept->LastPaintUsedKeptFace()) << what;
        const QImage reference = renderWidget(*s.fresh);
        EXPECT_FALSE(s.fresh->LastPaintUsedKeptFace()) << what;
        EXPECT_TRUE(first == reference) << what;
        EXPECT_TRUE(again == reference) << what;
        EXPECT_EQ(s.kept->GlyphRect(), s.fresh->GlyphRect()) << what;
        EXPECT_EQ(s.kept->TextRect(), s.fresh->TextRect()) << what;
    }
};

TEST_F(ButtonFaces, KeptFaceEqualsAFreshPaintInEveryState) {
    Scene s;
    expectSameAsFresh(s, "normal");
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    s.both([&](TKivBitBtn& b) { QCoreApplication::sendEvent(&b, &enter); });
    expectSameAsFresh(s, "hot");
    s.both([](TKivBitBtn& b) { b.setDown(true); });
    expectSameAsFresh(s, "pressed");
    s.both([](TKivBitBtn& b) { b.setDown(false); });
    QEvent leave(QEvent::Leave);
    s.both([&](TKivBitBtn& b) { QCoreApplication::sendEvent(&b, &leave); });
    s.both([](TKivBitBtn& b) { b.setDefault(true); });
    expectSameAsFresh(s, "default");
    s.both([](TKivBitBtn& b) { b.setEnabled(false); });
    expectSameAsFresh(s, "disabled");
    // Back to a state seen before: one of the faces kept for it.
    s.both([](TKivBitBtn& b) {
        b.setEnabled(true);
        b.setDefault(false);
    });
    expectSameAsFresh(s, "normal again");
}

TEST_F(ButtonFaces, EveryChangeShowsAtOnceAsAFreshPaintWouldShowIt) {
    Scene s;
    QImage other = solid(32, 21, 0xFF3060C0);
    other.setPixel(0, 0, 0xFFFF00FF);
    const std::vector<std::pair<std::string, std::function<void(Scene&)>>> changes = {
        {"caption", [](Scene& s) { s.both([](TKivBitBtn& b) { b.setText("STOP"); }); }},
        {"spacing", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetSpacing(12); }); }},
        {"application palette",
         [](Scene&) {
             QPalette p = WindowsClassicPalette();
             p.setColor(QPalette::WindowText, QColor(0, 0, 200));
             QApplication::setPalette(p);
         }},
        {"font",
         [](Scene& s) {
             s.both([](TKivBitBtn& b) {
                 QFont f = b.font();
                 f.setPixelSize(16);
                 f.setBold(true);
                 b.setFont(f);
             });
         }},
        {"font colour", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetFontColor(clRed); }); }},
        {"alignment", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetAlignment(taLeftJustify); }); }},
        {"layout", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetLayout(tlTop); }); }},
        {"glyph side", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetGlyphLayout(blGlyphRight); }); }},
        {"margin", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetMargin(9); }); }},
        {"image index", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetImageIndex(73); }); }},
        {"image replaced", [](Scene& s) { s.images.SetImage(73, solid(16, 16, 0xFF00FF00)); }},
        {"caption style",
         [](Scene& s) { s.both([](TKivBitBtn& b) { b.CaptionStyle()->SetTextStyle(atsRaised); }); }},
        {"angle", [](Scene& s) { s.both([](TKivBitBtn& b) { b.CaptionStyle()->SetAngle(90); }); }},
        {"skin bands", [](Scene& s) { s.skinner.SetFixedHeight(8); }},
        {"skin bitmap", [other](Scene& s) { s.skinner.SetBitmapNormal(other); }},
        {"skin corners opaque", [](Scene& s) { s.skinner.SetTransparent(false); }},
        {"skin corners keyed again", [](Scene& s) { s.skinner.SetTransparent(true); }},
        {"parent background", [](Scene& s) { paintBackground(s.parent, QColor(200, 30, 30)); }},
        {"size", [](Scene& s) { s.both([](TKivBitBtn& b) { b.resize(90, 40); }); }},
        {"drop-down arrow",
         [](Scene& s) {
             s.both([&](TKivBitBtn& b) {
                 b.SetShowDropDownArrow(true);
                 b.SetDropDownMenu(&s.menu);
             });
         }},
        {"no skin", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetSkinner(nullptr); }); }},
        {"plain colour", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetColor(clYellow); }); }},
        {"own glyph",
         [](Scene& s) {
             s.both([](TKivBitBtn& b) {
                 b.SetImages(nullptr);
                 QImage glyph = solid(16, 16, 0xFF800080);
                 glyph.setPixel(0, 15, 0xFFFFFFFF); // the key colour: the rest shows
                 b.SetGlyph(glyph);
             });
         }},
        {"transparent", [](Scene& s) { s.both([](TKivBitBtn& b) { b.SetTransparent(true); }); }},
    };
    for (const auto& [what, change] : changes) {
        const QImage before = renderWidget(*s.kept);
        renderWidget(*s.kept); // from what it kept
        change(s);
        EXPECT_TRUE(renderWidget(*s.kept) != before) << what << " shows no change at all";
        expectSameAsFresh(s, what);
    }
}

TEST_F(ButtonFaces, FaceThatDependsOnItsBackgroundIsComposedEachTime) {
    Scene s;
    // A half-transparent skin lets the parent show through everywhere, not just at the corners.
    s.skinner.SetBitmapNormal(solid(32, 21, 0x80402000, QImage::Format_ARGB32_Premultiplied));
    const QImage first = renderWidget(*s.kept);
    EXPECT_FALSE(s.kept->LastPaintUsedKeptFace());
    EXPECT_TRUE(first == renderWidget(*s.fresh));
    paintBackground(s.parent, QColor(20, 20, 200));
    const QImage second = renderWidget(*s.kept);
    EXPECT_TRUE(second != first);
    EXPECT_TRUE(second == renderWidget(*s.fresh));
}

TEST_F(ButtonFaces, ParentShowsFreshThroughTheCornersOfAKeptFace) {
    Scene s;
    const QImage before = renderWidget(*s.kept);
    EXPECT_EQ(before.pixel(0, 0), PARENT);
    // Nothing tells the button: its parent simply paints something else now.
    paintBackground(s.parent, QColor(0, 0, 0xFF));
    const QImage after = renderWidget(*s.kept);
    EXPECT_TRUE(s.kept->LastPaintUsedKeptFace());
    EXPECT_EQ(after.pixel(0, 0), 0xFF0000FFu);
    EXPECT_TRUE(after == renderWidget(*s.fresh));
}

TEST(TextLayouts, KeptLayoutServesOnlyTheSameTextFontFlagsAndWidth) {
    QImage img(300, 100, QImage::Format_ARGB32_Premultiplied);
    TKivCanvas canvas(&img);
    QFont arial("Arial");
    arial.setPixelSize(13);
    canvas.Font.Font = arial;
    auto measure = [&](const QString& text, int width, unsigned flags) {
        TRect r(0, 0, width, 100);
        canvas.DrawText(text, r, flags | DT_CALCRECT);
        return QSize(r.Width(), r.Height());
    };
    const QString words = QStringLiteral("alpha beta gamma");
    const QSize wide = measure(words, 300, DT_WORDBREAK);
    const QSize narrow = measure(words, 50, DT_WORDBREAK);
    EXPECT_EQ(narrow.height(), 3 * wide.height()); // one word a line
    EXPECT_LT(narrow.width(), wide.width());
    // Without word breaks the width does not matter.
    EXPECT_EQ(measure(words, 50, 0), wide);
    EXPECT_EQ(measure(words, 300, DT_WORDBREAK), wide);

    QFont big = arial;
    big.setPixelSize(26);
    canvas.Font.Font = big;
    const QSize bigWide = measure(words, 300, DT_WORDBREAK);
    EXPECT_GT(bigWide.width(), wide.width());
    EXPECT_GT(bigWide.height(), wide.height());
    canvas.Font.Font = arial;
    EXPECT_EQ(measure(words, 300, DT_WORDBREAK), wide);

    // The prefix flag changes the text that is measured.
    EXPECT_GT(measure(QStringLiteral("a&&b"), 300, DT_NOPREFIX).width(),
              measure(QStringLiteral("a&&b"), 300, 0).width());
    EXPECT_NE(measure(QStringLiteral("MOVE"), 300, 0), measure(QStringLiteral("STOP!"), 300, 0));

    // A drawing after measurements draws the text it is given, in the font it is given.
    auto drawn = [&](const QString& text, const QFont& font) {
        QImage out(120, 40, QImage::Format_RGB32);
        out.fill(Qt::white);
        TKivCanvas c(&out);
        c.Font.Font = font;
        c.Font.Color = clBlack;
        TRect r(0, 0, 120, 40);
        c.DrawText(text, r, DT_LEFT);
        return out;
    };
    const QImage move = drawn(QStringLiteral("MOVE"), arial);
    EXPECT_TRUE(move == drawn(QStringLiteral("MOVE"), arial));
    EXPECT_TRUE(move != drawn(QStringLiteral("MOVE"), big));
    EXPECT_TRUE(move != drawn(QStringLiteral("STOP"), arial));
}

} // namespace
