// The lamp and the lamp button: layout, lamp pixels per shape, the group rule among siblings, the
// value's repaint rule, the channel binding and the state screen readers see.
#include "KivDataServer.h"
#include "KivLED.h"
#include "KivLEDBtn.h"
#include "OrvaneErrors.h"
#include "WidgetImages.h"

#include <QAccessible>

#include <memory>

namespace {

// The main window's COMM. button: 80 x 34, lamp 15 x 15 round, red when off, no margin or spacing.
void makeComm(TKivLEDBtn& b) {
    b.setText("COMM.");
    b.resize(80, 34);
    b.LED()->SetWidth(15);
    b.LED()->SetHeight(15);
    b.LED()->SetOffColor(clRed);
    b.LED()->SetShape(alsCircle);
    b.SetMargin(0);
    b.SetSpacing(0);
}

// Counts its paints, to tell a repaint from none.
class CountingLEDBtn : public TKivLEDBtn {
public:
    using TKivLEDBtn::TKivLEDBtn;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override {
        ++paints;
        TKivLEDBtn::paintEvent(e);
    }
};

class Lamps : public ClassicPalette {};

TEST_F(Lamps, CommButtonLayoutAndPressedOffset) {
    TKivLEDBtn b;
    makeComm(b);
    b.CalcLayout(b.ClientRect());
    EXPECT_EQ(b.LEDRect(), TRect(4, 9, 19, 24));
    EXPECT_EQ(b.TextRect(), TRect(19, 4, 76, 30));

    QImage img = renderWidget(b);
    EXPECT_EQ(px(img, 11, 16), ColorToRgb(clRed));
    b.LED()->SetValue(true);
    img = renderWidget(b);
    EXPECT_EQ(px(img, 11, 16), ColorToRgb(clLime));

    b.setDown(true);
    renderWidget(b);
    EXPECT_EQ(b.LEDRect(), TRect(5, 10, 20, 25));
    EXPECT_EQ(b.TextRect(), TRect(20, 5, 77, 31));
}

TEST_F(Lamps, LayoutSidesMarginAndOddRemainders) {
    TKivLEDBtn b;
    b.LED()->SetWidth(15);
    b.LED()->SetHeight(15);
    const TRect cr(0, 0, 80, 34); // inset (4, 4, 76, 30): 26 - 15 = 11 rounds down to 5
    // A new button: lamp at the left, margin 2, spacing 4.
    b.CalcLayout(cr);
    EXPECT_EQ(b.LEDRect(), TRect(6, 9, 21, 24));
    EXPECT_EQ(b.TextRect(), TRect(25, 4, 76, 30));
    struct Case {
        TKivLEDLayout Layout;
        TRect Led, Text;
    };
    for (const Case& c : {Case{allRight, TRect(59, 9, 74, 24), TRect(4, 4, 55, 30)},
                          Case{allTop, TRect(32, 6, 47, 21), TRect(4, 25, 76, 30)},
                          Case{allBottom, TRect(32, 13, 47, 28), TRect(4, 4, 76, 9)},
                          Case{allCenter, TRect(32, 9, 47, 24), TRect(4, 4, 76, 30)}}) {
        b.SetLEDLayout(c.Layout);
        b.CalcLayout(cr);
        EXPECT_EQ(b.LEDRect(), c.Led) << int(c.Layout);
        EXPECT_EQ(b.TextRect(), c.Text) << int(c.Layout);
    }
    b.SetLEDLayout(allLeft);
    b.SetMargin(-2);
    EXPECT_EQ(b.Margin(), 2);
    b.SetMargin(-1);
    b.CalcLayout(cr);
    EXPECT_EQ(b.LEDRect().Left, 3);

    // No lamp: the caption takes the whole inset rectangle.
    b.SetShowLED(false);
    b.CalcLayout(cr);
    EXPECT_EQ(b.TextRect(), TRect(4, 4, 76, 30));
}

TEST_F(Lamps, ShapesAndRims) {
    TKivLEDAttributes led;
    led.SetOffColor(clRed);
    auto draw = [&](int w, int h) {
        QImage img = solid(w, h, ColorToRgb(clBtnFace));
        TKivCanvas c(&img);
        led.Draw(c, TRect(0, 0, w, h));
        return img;
    };
    // Square, sunken: one-pixel shadow top-left, highlight bottom-right, lamp colour inside.
    QImage img = draw(12, 12);
    EXPECT_EQ(px(img, 0, 0), ColorToRgb(clBtnShadow));
    EXPECT_EQ(px(img, 11, 11), ColorToRgb(clBtnHighlight));
    EXPECT_EQ(px(img, 1, 1), ColorToRgb(clRed));
    led.SetStyle(alsSunkenHeavy);
    img = draw(12, 12);
    EXPECT_EQ(px(img, 1, 1), ColorToRgb(cl3DDkShadow));
    EXPECT_EQ(px(img, 2, 2), ColorToRgb(clRed));

    // Round, sunken: shadow on the upper-left rim, highlight on the lower-right, corners untouched.
    led.SetStyle(alsSunken);
    led.SetShape(alsCircle);
    img = draw(15, 15);
    EXPECT_EQ(px(img, 0, 0), ColorToRgb(clBtnFace));
    EXPECT_EQ(px(img, 7, 7), ColorToRgb(clRed));
    EXPECT_EQ(px(img, 0, 7), ColorToRgb(clBtnShadow));
    EXPECT_EQ(px(img, 14, 7), ColorToRgb(clBtnHighlight));

    // Diamond: filled from the point the lamp's own Width and Height give, not the middle.
    led.SetShape(alsDiamond);
    led.SetStyle(alsRaised);
    led.SetWidth(30);
    led.SetHeight(30);
    img = draw(30, 30);
    EXPECT_EQ(px(img, 15, 15), ColorToRgb(clRed));
    EXPECT_EQ(px(img, 2, 2), ColorToRgb(clBtnFace));
    led.SetWidth(10);
    led.SetHeight(10);
    img = draw(30, 30);
    EXPECT_EQ(px(img, 2, 2), ColorToRgb(clRed));
    EXPECT_EQ(px(img, 15, 15), ColorToRgb(clBtnFace));
}

TEST_F(Lamps, EventsAssignAndTheUnchangedValue) {
    TKivLEDAttributes led;
    int changed = 0, valueChanged = 0;
    led.OnChanged = [&](QObject*) { ++changed; };
    led.OnValueChanged = [&](QObject*) { ++valueChanged; };
    led.SetValue(false);
    led.SetWidth(12);
    EXPECT_EQ(changed + valueChanged, 0);
    led.SetValue(true);
    EXPECT_EQ(valueChanged, 1);
    EXPECT_EQ(changed, 0);

    TKivLEDAttributes other;
    other.SetWidth(20);
    other.SetShape(alsDiamond);
    other.SetOnColor(clAqua);
    led.Assign(&other);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(led.Width(), 20);
    EXPECT_EQ(led.Shape(), alsDiamond);
    EXPECT_EQ(led.OnColor(), clAqua);
    EXPECT_TRUE(led.Value()); // the value is not appearance
    QObject notALamp;
    EXPECT_THROW(led.Assign(&notALamp), ConversionError);
}

TEST_F(Lamps, ValueChangeRepaintsOnceAndAnUnchangedValueNotAtAll) {
    CountingLEDBtn b;
    makeComm(b);
    b.show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    b.paints = 0;
    int notified = 0;
    b.OnLEDChange = [&](QObject* sender) {
        EXPECT_EQ(sender, &b);
        ++notified;
    };
    b.LED()->SetValue(false);
    QApplication::processEvents();
    EXPECT_EQ(b.paints, 0);
    EXPECT_EQ(notified, 0);
    // A batch of changes paints once.
    b.LED()->SetValue(true);
    b.LED()->SetOnColor(clAqua);
    b.SetSpacing(3);
    QApplication::processEvents();
    EXPECT_EQ(b.paints, 1);
    EXPECT_EQ(notified, 1);
    // Without a lamp shown, a value change does not repaint but is still announced.
    b.SetShowLED(false);
    QApplication::processEvents();
    b.paints = 0;
    b.LED()->SetValue(false);
    QApplication::processEvents();
    EXPECT_EQ(b.paints, 0);
    EXPECT_EQ(notified, 2);
}

TEST_F(Lamps, GroupRuleAmongSiblings) {
    QWidget panel, other;
    auto* a = new TKivLEDBtn(&panel);
    auto* b = new TKivLEDBtn(&panel);
    auto* c = new TKivLEDBtn(&panel);
    auto* d = new TKivLEDBtn(&other);
    a->SetGroupIndex(1);
    b->SetGroupIndex(1);
    c->SetGroupIndex(2);
    d->SetGroupIndex(1);
    for (auto* x : {a, c, d})
        x->LED()->SetValue(true);
    b->LED()->SetValue(true);
    EXPECT_FALSE(a->LED()->Value());
    EXPECT_TRUE(b->LED()->Value());
    EXPECT_TRUE(c->LED()->Value());
    EXPECT_TRUE(d->LED()->Value());
    // Joining a group whose member is on switches that member off (the newcomer is on).
    c->SetGroupIndex(1);
    EXPECT_FALSE(b->LED()->Value());
    EXPECT_TRUE(c->LED()->Value());
    // A lamp that goes off tells nobody.
    c->LED()->SetValue(false);
    EXPECT_FALSE(a->LED()->Value());
}

TEST_F(Lamps, ChannelBindingFollowsAndLetsGo) {
    auto server = std::make_unique<TKivCustomDataServer>();
    TKivChannel* conn = addChannel(*server, "Conn", acvtBoolean);
    conn->SetAsBoolean(true);
    addChannel(*server, "Temp", acvtDouble);
    server->Loaded();
    int errors = 0;
    server->OnError = [&](QObject*, int code, const QString&, TKivChannel*) { errors += code == 2; };

    auto b = std::make_unique<TKivLEDBtn>();
    b->SetChannel("Conn"); // no server yet
    EXPECT_EQ(b->ChannelIndex(), -1);
    b->SetDataServer(server.get());
    EXPECT_EQ(b->ChannelIndex(), server->Channels()->IndexOf(QStringLiteral("Conn")));
    EXPECT_TRUE(b->LED()->Value()); // told the current value when bound
    conn->SetAsBoolean(false);
    EXPECT_FALSE(b->LED()->Value());
    conn->SetAsBoolean(true);
    EXPECT_TRUE(b->LED()->Value());

    // A channel of another type reports its error and reads as off.
    b->SetChannel("Temp");
    EXPECT_FALSE(b->LED()->Value());
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(conn->Clients().contains(b.get()));
    b->SetChannel("Conn");

    // The button goes first: no channel keeps it.
    b.reset();
    EXPECT_TRUE(conn->Clients().isEmpty());
    EXPECT_FALSE(server->Clients().contains(nullptr));

    // The server goes first: the button unbinds.
    b = std::make_unique<TKivLEDBtn>();
    b->SetChannel("Conn");
    b->SetDataServer(server.get());
    server.reset();
    EXPECT_EQ(b->DataServer(), nullptr);
    EXPECT_EQ(b->ChannelIndex(), -1);
    b->LED()->SetValue(false);
}

TEST_F(Lamps, ScreenReadersHearTheLampState) {
    TKivLEDBtn b;
    makeComm(b);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&b);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::Button);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("COMM."));
    EXPECT_EQ(a->text(QAccessible::Description), QStringLiteral("off"));
    b.LED()->SetValue(true);
    EXPECT_EQ(a->text(QAccessible::Description), QStringLiteral("on"));
}

} // namespace
