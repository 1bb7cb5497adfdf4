// Skinned buttons, the skinner and the image list: geometry and pixels rendered into QImages with
// render() (1:1 whatever the screen's pixel ratio), and the references between buttons, skinner
// and image list when either side goes away.
#include "ImageList.h"
#include "KivButton.h"
#include "WidgetImages.h"

#include <QAccessible>
#include <QMenu>

#include <memory>

namespace {

constexpr QRgb PARENT = 0xFF10A010; // the parent's background, shown through transparent corners
constexpr QRgb CORNER = 0xFF202080, TOP1 = 0xFFA00000, TOP2 = 0xFFA0A000, MID1 = 0xFF00A0A0,
               MID2 = 0xFF0000A0, LEFT = 0xFF606060, FUCHSIA = 0xFFFF00FF;

// A 32 x 21 skin whose pieces can be told apart: 4 x 4 corners with fuchsia outermost pixels, a
// top band in two halves (source columns 4..15 and 16..27), a centre in two halves (rows 4..9 and
// 10..16) and left/right/bottom bands in one colour.
QImage testSkin() {
    QImage s = solid(32, 21, LEFT);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool cx = x < 4 || x >= 28, cy = y < 4 || y >= 17;
            if (cx && cy)
                s.setPixel(x, y, CORNER);
            else if (y < 4)
                s.setPixel(x, y, x < 16 ? TOP1 : TOP2);
            else if (!cx && !cy)
                s.setPixel(x, y, y < 10 ? MID1 : MID2);
        }
    for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 20}, {31, 20}})
        s.setPixel(x, y, FUCHSIA);
    return s;
}

class Buttons : public ClassicPalette {
protected:
    // A parent with a plain background for the skinned buttons to show through their corners.
    std::unique_ptr<QWidget> makeParent() {
        auto p = std::make_unique<QWidget>();
        p->resize(300, 100);
        paintBackground(*p, QColor::fromRgb(PARENT));
        return p;
    }
};

TEST_F(Buttons, ArialResolvesToLiberationSans) {
    // Caption metrics in these tests and the gallery assume Arial's metric twin.
    EXPECT_EQ(QFontInfo(QFont("Arial")).family(), QLatin1String("Liberation Sans"));
}

TEST_F(Buttons, NinePieceSkinStretchesEdgesAndLeavesOutFuchsiaCorners) {
    auto parent = makeParent();
    TKivBtnSkinner skinner;
    skinner.SetFixedWidth(4);
    skinner.SetFixedHeight(4);
    skinner.SetTransparentColor(clFuchsia);
    skinner.SetBitmapNormal(testSkin());
    TKivButton btn(parent.get());
    btn.setGeometry(10, 10, 120, 34);
    btn.SetSkinner(&skinner);
    const QImage img = renderWidget(btn);

    // Corners copied 4 x 4 unscaled, their outermost pixel the parent's background.
    for (auto [x, y] : {std::pair{0, 0}, {119, 0}, {0, 33}, {119, 33}})
        EXPECT_EQ(px(img, x, y), PARENT) << x << "," << y;
    for (auto [x, y] : {std::pair{1, 0}, {3, 3}, {116, 0}, {116, 3}, {0, 30}, {3, 32}, {118, 33}, {116, 30}})
        EXPECT_EQ(px(img, x, y), CORNER) << x << "," << y;
    // Top band: 24 source columns onto 112, the halves meeting near x = 60; 4 rows high.
    EXPECT_EQ(px(img, 4, 0), TOP1);
    EXPECT_EQ(px(img, 57, 3), TOP1);
    EXPECT_EQ(px(img, 63, 3), TOP2);
    EXPECT_EQ(px(img, 115, 0), TOP2);
    EXPECT_NE(px(img, 60, 4), TOP2);
    // Centre: 24 x 13 onto 112 x 26, the halves meeting near y = 16.
    EXPECT_EQ(px(img, 4, 4), MID1);
    EXPECT_EQ(px(img, 115, 14), MID1);
    EXPECT_EQ(px(img, 60, 18), MID2);
    EXPECT_EQ(px(img, 115, 29), MID2);
    // Left, right and bottom bands.
    for (auto [x, y] : {std::pair{0, 4}, {3, 29}, {116, 17}, {119, 29}, {4, 30}, {115, 33}})
        EXPECT_EQ(px(img, x, y), LEFT) << x << "," << y;
}

TEST_F(Buttons, WholeBitmapStretchLeavesOutItsTopLeftColourNotTransparentColor) {
    TKivBtnSkinner skinner;
    skinner.SetFixedWidth(0);
    skinner.SetFixedHeight(0);
    skinner.SetTransparentColor(clBlue); // would remove the whole face if it were used
    QImage bmp = solid(8, 8, 0xFF0000FF);
    bmp.setPixel(0, 0, 0xFFFFFF00);
    bmp.setPixel(7, 7, 0xFFFFFF00);
    skinner.SetBitmapNormal(bmp);
    QImage img = painted(16, 16, 0xFFFFFFFF,
                         [&](TKivCanvas& c) { skinner.DrawSkin(c, TRect(0, 0, 16, 16), ssNormal); });
    EXPECT_EQ(px(img, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(px(img, 1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(px(img, 15, 15), 0xFFFFFFFFu);
    EXPECT_EQ(px(img, 8, 8), 0xFF0000FFu);

    // Not transparent: a plain stretch.
    skinner.SetTransparent(false);
    paintOn(img, [&](TKivCanvas& c) { skinner.DrawSkin(c, TRect(0, 0, 16, 16), ssNormal); });
    EXPECT_EQ(px(img, 0, 0), 0xFFFFFF00u);
}

TEST_F(Buttons, SkinStatesFallBackToBitmapNormal) {
    TKivBtnSkinner skinner;
    skinner.SetFixedWidth(2);
    skinner.SetFixedHeight(2);
    skinner.SetBitmapNormal(solid(10, 10, 0xFF111111));
    auto stateColour = [&](int state) {
        return px(painted(20, 20, 0xFFFFFFFF,
                          [&](TKivCanvas& c) { skinner.DrawSkin(c, TRect(0, 0, 20, 20), state); }),
                  10, 10);
    };
    for (int s = ssNormal; s <= ssFocused; ++s)
        EXPECT_EQ(stateColour(s), 0xFF111111u) << s;
    EXPECT_EQ(stateColour(5), 0xFFFFFFFFu); // an unknown state draws nothing

    skinner.SetBitmapDown(solid(10, 10, 0xFF222222));
    skinner.SetBitmapEnter(solid(10, 10, 0xFF333333));
    skinner.SetBitmapDisabled(solid(10, 10, 0xFF444444));
    skinner.SetBitmapFocused(solid(10, 10, 0xFF555555));
    EXPECT_EQ(stateColour(ssDown), 0xFF222222u);
    EXPECT_EQ(stateColour(ssEnter), 0xFF333333u);
    EXPECT_EQ(stateColour(ssDisabled), 0xFF444444u);
    EXPECT_EQ(stateColour(ssFocused), 0xFF555555u);

    // An empty picture assigned later falls back again.
    skinner.SetBitmapDisabled(QImage());
    EXPECT_EQ(stateColour(ssDisabled), 0xFF111111u);
}

TEST_F(Buttons, ButtonPicksSkinStateFromItsOwnState) {
    auto parent = makeParent();
    TKivBtnSkinner skinner;
    skinner.SetBitmapNormal(solid(10, 10, 0xFF111111));
    skinner.SetBitmapDown(solid(10, 10, 0xFF222222));
    skinner.SetBitmapEnter(solid(10, 10, 0xFF333333));
    skinner.SetBitmapFocused(solid(10, 10, 0xFF555555));
    TKivButton btn(parent.get());
    btn.setGeometry(0, 0, 60, 30);
    btn.SetSkinner(&skinner);
    auto face = [&] { return px(renderWidget(btn), 30, 15); };

    EXPECT_EQ(face(), 0xFF111111u);
    btn.setEnabled(false); // no disabled bitmap: the normal one
    EXPECT_EQ(face(), 0xFF111111u);
    skinner.SetBitmapDisabled(solid(10, 10, 0xFF444444));
    EXPECT_EQ(face(), 0xFF444444u);
    btn.setEnabled(true);

    btn.setDefault(true); // the Default button while no push button has the focus
    EXPECT_EQ(face(), 0xFF555555u);
    EXPECT_TRUE(btn.IsDefault());

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&btn, &enter);
    EXPECT_TRUE(btn.MouseInControl());
    EXPECT_EQ(face(), 0xFF333333u);

    btn.setDown(true);
    EXPECT_EQ(face(), 0xFF222222u);
    btn.setDown(false);

    // Disabled while the mouse is over it: stays "in control" until enabled and left.
    btn.setEnabled(false);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&btn, &leave);
    EXPECT_TRUE(btn.MouseInControl());
    btn.setEnabled(true);
    QCoreApplication::sendEvent(&btn, &leave);
    EXPECT_FALSE(btn.MouseInControl());
}

TEST_F(Buttons, FocusRectangleOnlyOnDefaultFocusedButtonsAbove14Pixels) {
    TKivBtnSkinner skinner;
    skinner.SetBitmapNormal(solid(10, 10, 0xFF808080));
    auto drawn = [&](int h, unsigned state) {
        TKivButton btn;
        btn.resize(40, h);
        btn.SetSkinner(&skinner);
        btn.SetButtonStyle(true);
        QImage img = solid(40, h, 0xFFFFFFFF);
        TKivCanvas c(&img);
        btn.DrawFace(c, TDrawItem{state, TRect(0, 0, 40, h)});
        return img;
    };
    EXPECT_NE(drawn(34, ODS_FOCUS), drawn(34, 0));
    EXPECT_EQ(drawn(14, ODS_FOCUS), drawn(14, 0));
}

TEST_F(Buttons, SkinnerAndButtonsForgetEachOtherWhicheverGoesFirst) {
    auto parent = makeParent();
    auto skinner = std::make_unique<TKivBtnSkinner>();
    skinner->SetBitmapNormal(testSkin());
    auto a = std::make_unique<TKivButton>(parent.get());
    auto b = std::make_unique<TKivButton>(parent.get());
    a->resize(50, 30);
    a->SetSkinner(skinner.get());
    b->SetSkinner(skinner.get());
    b->SetSkinner(skinner.get()); // listed once
    EXPECT_EQ(skinner->Clients().size(), 2);

    // Every client hears of a change, synchronously; an unchanged setting sends nothing.
    struct Counter : QObject {
        int n = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            n += e->type() == CM_SKINCHANGED;
            return false;
        }
    } counter;
    a->installEventFilter(&counter);
    b->installEventFilter(&counter);
    skinner->SetFixedWidth(5);
    EXPECT_EQ(counter.n, 2);
    skinner->SetFixedWidth(5);
    EXPECT_EQ(counter.n, 2);

    b.reset();
    EXPECT_EQ(skinner->Clients().size(), 1);
    skinner.reset();
    EXPECT_EQ(a->Skinner(), nullptr);
    // Draws the plain face now, without touching the skinner that is gone.
    const QImage img = renderWidget(*a);
    EXPECT_EQ(px(img, 25, 15), ColorToRgb(clBtnFace));
}

TEST_F(Buttons, ImageListAndBitButtonForgetEachOtherWhicheverGoesFirst) {
    auto list = std::make_unique<TImageList>(16, 16);
    list->SetImage(13, solid(16, 16, 0xFF0000FF));
    auto showingImage13 = [&] {
        auto btn = std::make_unique<TKivBitBtn>();
        btn->resize(56, 34);
        btn->SetImages(list.get());
        btn->SetImageIndex(13);
        return btn;
    };
    auto btn = showingImage13();
    EXPECT_EQ(list->LinkCount(), 1);
    btn.reset();
    EXPECT_EQ(list->LinkCount(), 0);

    btn = showingImage13();
    list.reset();
    EXPECT_EQ(btn->Images(), nullptr);
    btn->CalcLayout(btn->ClientRect());
    EXPECT_TRUE(btn->GlyphRect().IsEmpty());
    renderWidget(*btn); // must not reach the destroyed list
}

TEST_F(Buttons, PlusButtonPutsItsImageRightOfTheCaption) {
    TImageList iml(16, 16);
    const QImage plus(":/orvane/iml16/13.png");
    ASSERT_FALSE(plus.isNull());
    iml.SetImage(13, plus);
    TKivBitBtn btn;
    btn.setText("+");
    btn.resize(56, 34);
    btn.SetImages(&iml);
    btn.SetImageIndex(13);
    btn.SetGlyphLayout(blGlyphRight);
    btn.CalcLayout(btn.ClientRect());
    EXPECT_EQ(btn.GlyphRect(), TRect(34, 9, 50, 25));
    EXPECT_EQ(btn.TextRect(), TRect(4, 4, 30, 30));

    // The image is drawn at the glyph rectangle, one pixel further while pressed.
    TImageList blue(16, 16);
    blue.SetImage(13, solid(16, 16, 0xFF0000FF));
    btn.SetImages(&blue);
    QImage img = renderWidget(btn);
    EXPECT_EQ(px(img, 34, 9), 0xFF0000FFu);
    EXPECT_EQ(px(img, 49, 24), 0xFF0000FFu);
    EXPECT_NE(px(img, 50, 25), 0xFF0000FFu);
    btn.setDown(true);
    img = renderWidget(btn);
    EXPECT_EQ(btn.GlyphRect(), TRect(35, 10, 51, 26));
    EXPECT_NE(px(img, 34, 9), 0xFF0000FFu);
    EXPECT_EQ(px(img, 50, 25), 0xFF0000FFu);
    btn.setDown(false);

    // Disabled: an embossed silhouette, none of the image's own colour.
    btn.setEnabled(false);
    img = renderWidget(btn);
    EXPECT_EQ(px(img, 40, 15), ColorToRgb(clBtnShadow));
    for (int y = 9; y < 25; ++y)
        for (int x = 34; x < 50; ++x)
            ASSERT_NE(px(img, x, y), 0xFF0000FFu);
}

TEST_F(Buttons, GlyphCellsAndMargins) {
    TKivBitBtn btn;
    btn.SetNumGlyphs(2);
    btn.SetGlyph(solid(40, 16, 0xFF00FF00)); // not a whole multiple: unchanged
    EXPECT_EQ(btn.NumGlyphs(), 2);
    btn.SetGlyph(solid(64, 16, 0xFF00FF00));
    EXPECT_EQ(btn.NumGlyphs(), 4);
    btn.SetGlyph(solid(80, 16, 0xFF00FF00)); // five cells is more than a glyph holds
    EXPECT_EQ(btn.NumGlyphs(), 1);
    btn.SetNumGlyphs(0);
    EXPECT_EQ(btn.NumGlyphs(), 1);

    btn.SetMargin(-2);
    EXPECT_EQ(btn.Margin(), 2);
    btn.SetMargin(-1);
    EXPECT_EQ(btn.Margin(), -1);

    // Own glyph, two cells: the second shows while disabled; the bottom-left colour is transparent.
    QImage glyph = solid(32, 16, 0xFFFF0000);
    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 32; ++x)
            glyph.setPixel(x, y, 0xFF00FF00);
    for (auto [x, y] : {std::pair{0, 15}, {0, 0}, {16, 15}})
        glyph.setPixel(x, y, 0xFF123456);
    btn.SetGlyph(glyph);
    EXPECT_EQ(btn.NumGlyphs(), 2);
    btn.SetMargin(2);
    btn.resize(80, 34);
    QImage img = renderWidget(btn);
    EXPECT_EQ(btn.GlyphRect(), TRect(6, 9, 22, 25));
    EXPECT_EQ(px(img, 10, 15), 0xFFFF0000u);
    EXPECT_NE(px(img, 6, 9), 0xFF123456u);
    btn.setEnabled(false);
    img = renderWidget(btn);
    EXPECT_EQ(px(img, 10, 15), 0xFF00FF00u);
}

TEST_F(Buttons, PlainFaceFollowsFlatAndColours) {
    TKivButton btn;
    btn.resize(60, 30);
    btn.SetColor(clAqua);
    btn.SetFlat(true);
    QImage img = renderWidget(btn);
    // Flat, neither pressed nor hot: no edge at all.
    EXPECT_EQ(px(img, 0, 0), ColorToRgb(clAqua));
    EXPECT_EQ(px(img, 59, 29), ColorToRgb(clAqua));
    btn.SetFlat(false);
    img = renderWidget(btn);
    EXPECT_EQ(px(img, 0, 0), ColorToRgb(cl3DLight));
    EXPECT_EQ(px(img, 59, 29), ColorToRgb(cl3DDkShadow));
    EXPECT_EQ(px(img, 30, 3), ColorToRgb(clAqua));
    btn.SetColorDisabled(clRed);
    btn.setEnabled(false);
    img = renderWidget(btn);
    EXPECT_EQ(px(img, 30, 3), ColorToRgb(clRed));
}

// A button whose menu "shows" without blocking, so the press/click order can be checked.
class MenuButton : public TKivButton {
public:
    int dropDowns = 0;

protected:
    void DropDown() override { ++dropDowns; }
};

TEST_F(Buttons, DropDownMenuSwallowsTheClickAndTheClosingPress) {
    MenuButton btn;
    btn.resize(60, 30);
    int clicks = 0;
    QObject::connect(&btn, &QPushButton::clicked, [&] { ++clicks; });
    mouse(btn, QEvent::MouseButtonPress);
    mouse(btn, QEvent::MouseButtonRelease);
    EXPECT_EQ(clicks, 1); // no menu: an ordinary click

    QMenu menu;
    btn.SetDropDownMenu(&menu);
    mouse(btn, QEvent::MouseButtonPress);
    mouse(btn, QEvent::MouseButtonRelease);
    EXPECT_EQ(btn.dropDowns, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(btn.isDown());
    // The press that closed the menu, within 100 ms: no reopening, no click.
    mouse(btn, QEvent::MouseButtonPress);
    mouse(btn, QEvent::MouseButtonRelease);
    EXPECT_EQ(btn.dropDowns, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(btn.LastDropDownTick(), 0);
    // The next press opens it again.
    mouse(btn, QEvent::MouseButtonPress);
    EXPECT_EQ(btn.dropDowns, 2);

    // A destroyed menu reads as none.
    {
        QMenu gone;
        btn.SetDropDownMenu(&gone);
    }
    EXPECT_EQ(btn.DropDownMenu(), nullptr);
}

TEST_F(Buttons, ScreenReadersSeeAPushButtonByItsCaption) {
    TKivBitBtn btn;
    btn.setText("MOVE");
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&btn);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::Button);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("MOVE"));
}

TEST(ImageList, SparseIndicesChangeNotificationAndDisabledDrawing) {
    TImageList iml(16, 16);
    iml.SetImage(61, solid(8, 8, 0xFF0000FF)); // scaled to the list's size
    EXPECT_TRUE(iml.HasImage(61));
    EXPECT_FALSE(iml.HasImage(60));
    EXPECT_EQ(iml.Count(), 62);
    EXPECT_EQ(iml.Image(61).size(), QSize(16, 16));

    int changes = 0;
    TChangeLink link;
    link.OnChange = [&](TImageList*) { ++changes; };
    iml.RegisterChanges(&link);
    iml.SetImage(11, solid(16, 16, 0xFF00FF00));
    iml.Delete(11);
    iml.Delete(11); // not there: no change
    EXPECT_EQ(changes, 2);

    QImage img = painted(20, 20, 0xFFC0C0C0, [&](TKivCanvas& c) {
        iml.Draw(c, 2, 2, 61, true);
        iml.Draw(c, 0, 0, 5, true); // missing index: nothing
    });
    EXPECT_EQ(px(img, 2, 2), 0xFF0000FFu);
    EXPECT_EQ(px(img, 0, 0), 0xFFC0C0C0u);
}

} // namespace
