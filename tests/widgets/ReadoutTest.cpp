// The numeric readout: the main window's readout in pixels, value formatting, limits, the clear
// button, channel binding, the report of a misfitting format, repaints and what a screen reader hears.
#include "KivCommon.h"
#include "KivDataServer.h"
#include "KivIndicator.h"
#include "WidgetImages.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QLocale>

#include <clocale>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace {

constexpr QRgb White = 0xFFFFFFFF, Navy = 0xFF000080, Fuchsia = 0xFFFF00FF, Maroon = 0xFF800000;

// The readout as the main window sets it up, both spectrographs alike.
void setUpAsMainWindow(TKivOdoMeter& m) {
    m.BeginLoading();
    m.setGeometry(9, 53, 344, 37);
    m.SetColor(clNavy);
    m.SetFont(arialFont(13, clWindowText, true));
    m.SetTransparentColor(clWhite);
    m.SetAlignment(taLeftJustify);
    m.SetCaption("Current Wavelength");
    m.SetCaptionWidth(140);
    m.SetFrameColor(clWhite);
    for (TKivFrame* frame : {m.FrameInner(), m.FrameOuter()}) {
        frame->SetVisible(false);
        frame->SetEnabled(false);
    }
    m.SetMargin(0);
    m.SetLayout(tlCenter);
    m.SetShowClearButton(false);
    m.SetValueFormat("%.3f");
    m.SetValueUnit("nm");
    m.SetValueUnitFont(arialFont(11, clWhite, false));
    m.SetValueFont(arialFont(24, clFuchsia, true));
    m.Loaded();
}

// Without the window background, so that what a transparent readout leaves out shows.
QImage renderOf(QWidget& w, QRgb background = 0xFF123456) {
    return renderWidget(w, background, QWidget::DrawChildren);
}

class Readout : public ClassicPalette {};

// ---------------------------------------------------------------------------------------------------
// The main window's readout

TEST_F(Readout, MainWindowReadoutHasWhiteSurroundAndNavyViewportAndItsTransparentCopyNoSurround) {
    TKivOdoMeter m;
    setUpAsMainWindow(m);
    m.SetValue(532.5);
    const QImage img = renderOf(m);
    ASSERT_EQ(img.size(), QSize(344, 37));

    EXPECT_EQ(m.ViewportRect(), TRect(150, 6, 338, 31));
    EXPECT_TRUE(m.ClearButtonRect().IsEmpty());
    // Navy exactly on x 148..339, y 4..32; white all round it.
    for (int y : {4, 18, 32}) {
        EXPECT_EQ(px(img, 148, y), Navy) << y;
        EXPECT_EQ(px(img, 339, y), Navy) << y;
        EXPECT_EQ(px(img, 147, y), White) << y;
        EXPECT_EQ(px(img, 340, y), White) << y;
    }
    for (int x : {148, 250, 339}) {
        EXPECT_EQ(px(img, x, 3), White) << x;
        EXPECT_EQ(px(img, x, 33), White) << x;
    }
    EXPECT_EQ(px(img, 0, 0), White);
    EXPECT_EQ(px(img, 343, 36), White);
    EXPECT_EQ(m.DisplayText(), "532.500 nm");

    // A transparent copy leaves the white surround out, so what lies behind shows; the viewport is copied.
    m.SetTransparent(true);
    const QImage see = renderOf(m, 0xFFFF0000);
    EXPECT_EQ(px(see, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(px(see, 200, 10), Navy);
    EXPECT_EQ(px(see, 147, 20), 0xFFFF0000u);
}

TEST_F(Readout, MainWindowReadoutPlacesNumberFourPixelsLeftOfTheUnit) {
    SKIP_UNLESS_ARIAL_IS_LIBERATION();
    TKivOdoMeter m;
    setUpAsMainWindow(m);
    m.SetValue(532.5);
    const QImage img = renderOf(m);
    const QRect viewport(148, 4, 192, 29);

    const QFontMetrics unitMetrics(GdiFont(arialFont(11, clWhite, false).Font));
    const int unitLeft = 338 - unitMetrics.horizontalAdvance("nm");
    const QRect unit = inkBox(img, White, viewport);
    const QRect number = inkBox(img, Fuchsia, viewport);
    ASSERT_FALSE(unit.isEmpty());
    ASSERT_FALSE(number.isEmpty());

    // "nm" flush right in the value area; the number's advance ends 4 pixels left of the unit,
    // its ink a pixel or two inside that.
    EXPECT_GE(unit.left(), unitLeft);
    EXPECT_LE(unit.right(), 337);
    EXPECT_GE(unit.right(), 335);
    EXPECT_LE(number.right(), unitLeft - 4 - 1);
    EXPECT_GE(number.right(), unitLeft - 4 - 3);
    // Both vertically centred in y 6..30.
    EXPECT_NEAR((number.top() + number.bottom()) / 2.0, 18, 2.5);
    EXPECT_GE(number.top(), 6);
    EXPECT_LE(number.bottom(), 30);
    EXPECT_GT(number.width(), 60); // "532.500" at 24 px bold, not a stray pixel

    // The caption, centred in x 4..139 in the window-text colour.
    const QRect caption = inkBox(img, 0xFF000000, QRect(0, 0, 148, 37));
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_GE(caption.left(), 4);
    EXPECT_LE(caption.right(), 139);
    EXPECT_NEAR((caption.left() + caption.right()) / 2.0, (4 + 139) / 2.0, 2);
    EXPECT_NEAR((caption.top() + caption.bottom()) / 2.0, 18, 2.5);

    // Without a unit the number still ends four pixels inside.
    TKivOdoMeter bare;
    setUpAsMainWindow(bare);
    bare.SetValueUnit("");
    bare.SetValue(532.5);
    const QRect alone = inkBox(renderOf(bare), Fuchsia, viewport);
    ASSERT_FALSE(alone.isEmpty());
    EXPECT_LE(alone.right(), 338 - 4 - 1);
    EXPECT_GE(alone.right(), 338 - 4 - 3);
}

TEST_F(Readout, ValueChangePaintedOverTheKeptPictureMatchesAFreshPaint) {
    auto freshPaint = [](Extended value, const QString& format, const QString& unit) {
        TKivOdoMeter m;
        setUpAsMainWindow(m);
        m.SetShowClearButton(true);
        m.SetValue(value);
        m.SetValueFormat(format);
        m.SetValueUnit(unit);
        return renderOf(m);
    };
    TKivOdoMeter changed;
    setUpAsMainWindow(changed);
    changed.SetShowClearButton(true);
    changed.SetValue(532.5);
    renderOf(changed);
    changed.SetValue(-17.25); // a shorter number: the longer one must not shine through
    changed.SetValueFormat("%.1f");
    EXPECT_EQ(renderOf(changed), freshPaint(-17.25, "%.1f", "nm"));
    changed.SetValueUnit("pm"); // the unit is part of the kept picture: it must be redrawn
    EXPECT_EQ(renderOf(changed), freshPaint(-17.25, "%.1f", "pm"));
}

// ---------------------------------------------------------------------------------------------------
// Layout of the constructed readout (140 x 100, heavy frames of two pixels, frame width 4)

// The size, alignment, layout and clear button of a new readout show in the layouts below.
TEST_F(Readout, ConstructedDefaults) {
    TKivOdoMeter m;
    EXPECT_EQ(m.ValueFormat(), "%f");
    EXPECT_EQ(m.CaptionWidth(), 100);
    EXPECT_EQ(m.Margin(), 0);
    EXPECT_EQ(m.FrameWidth(), 4);
    EXPECT_EQ(m.FrameColor(), clBtnFace);
    EXPECT_EQ(m.Color(), clBlack);
    EXPECT_FALSE(m.ParentColor());
    EXPECT_EQ(m.FrameInner()->Style(), afsSunkenHeavy);
    EXPECT_EQ(m.FrameOuter()->Style(), afsRaisedHeavy);
    EXPECT_TRUE(m.CaptionStyle()->SnapToRightAngles());
    EXPECT_EQ(m.ValueFont().Color, clLime);
    EXPECT_EQ(m.ValueFont().Font.pointSize(), 14);
    EXPECT_EQ(m.ValueUnitFont().Color, clWindow);
    EXPECT_EQ(m.ChannelIndex(), -1);
    EXPECT_EQ(m.DisplayText(), "0.00");
    m.SetValue(532.5);
    EXPECT_EQ(m.DisplayText(), "532.50");
}

TEST_F(Readout, CaptionBesideTheViewportAndClearButtonPlacement) {
    struct Case {
        const char* Name;
        TAlignment Alignment;
        TRect Viewport, Button;
    };
    // Content L = (6, 6, 134, 94); the viewport loses the inner frame (2) and the margin (2).
    const Case cases[] = {
        {"centred: no caption, button at the right", taCenter, TRect(10, 10, 114, 90),
         TRect(120, 43, 134, 57)},
        {"caption left, button at the right", taLeftJustify, TRect(74, 10, 114, 90), TRect(120, 43, 134, 57)},
        {"caption right, button at the left", taRightJustify, TRect(26, 10, 70, 90), TRect(6, 43, 20, 57)},
    };
    for (const Case& c : cases) {
        TKivOdoMeter m;
        m.SetCaption("Pressure");
        m.SetLayout(tlCenter);
        m.SetAlignment(c.Alignment);
        m.SetCaptionWidth(60);
        const QImage img = renderOf(m);
        EXPECT_EQ(m.ViewportRect(), c.Viewport) << c.Name;
        EXPECT_EQ(m.ClearButtonRect(), c.Button) << c.Name;
        const QRect b = c.Button.ToQRect();
        EXPECT_EQ(px(img, b.center().x(), b.center().y()), Maroon) << c.Name;
    }

    // Centred: the caption is not drawn anywhere.
    TKivOdoMeter centred;
    centred.SetCaption("Pressure");
    centred.SetFont(arialFont(13, clRed, true));
    centred.SetLayout(tlCenter);
    centred.SetShowClearButton(false);
    EXPECT_TRUE(inkBox(renderOf(centred), 0xFFFF0000, QRect(0, 0, 140, 100)).isEmpty());
    EXPECT_EQ(centred.ViewportRect(), TRect(10, 10, 130, 90));
}

TEST_F(Readout, CaptionBelowTakesItsHeightAndTheButtonItsRightEnd) {
    TKivOdoMeter m;
    m.SetCaption("Pressure");
    renderOf(m);
    const QFontMetrics fm(GdiFont(m.Font().Font));
    const int band = fm.ascent() + fm.descent() + 4;
    // Viewport bottom = 94 - band, less inner frame and margin.
    EXPECT_EQ(m.ViewportRect().Bottom, 94 - band - 4);
    const int captionTop = 94 - band + 1;
    EXPECT_EQ(m.ClearButtonRect().Right, 134);
    EXPECT_EQ(m.ClearButtonRect().Left, 120);
    EXPECT_EQ(m.ClearButtonRect().Top, captionTop + (94 - captionTop - 14) / 2);
    EXPECT_EQ(m.ClearButtonRect().Height(), 14);
}

// ---------------------------------------------------------------------------------------------------
// Formatting

TEST(ReadoutFormat, FormatsLikeTheRuntimeFormatRoutine) {
    struct Case {
        const char* Format;
        Extended Value;
        const char* Expected;
    };
    const Case cases[] = {
        {"%.3f", 532.5, "532.500"},
        {"%f", 532.5, "532.50"}, // two decimals without a precision
        {"%d", 2.9, "2"},        // truncated toward zero
        {"%d", -2.9, "-2"},
        {"%d, %0:.3d", 7, "7, 007"},
        {"%d %%", 42, "42 %"},
        {"%5.1f", 2.94, "  2.9"},
        {"%-6.1f|", 2.94, "2.9   |"},
        {"Value: %.2f nm", 1.005, "Value: 1.00 nm"},
        {"%0:.1f / %0:.2f", 1.25, "1.2 / 1.25"},
        {"%e", 1234.5, "1.23450000000000E+003"},
        {"%.3e", -0.000123456, "-1.23E-004"},
        {"%g", 1234.5, "1234.5"},
        {"%g", 0.000001, "1E-6"},
        {"%.3g", 123456, "1.23E5"},
        {"%n", 1234567.891, "1,234,567.89"},
        {"%.0n", -1234, "-1,234"},
        {"%f", std::numeric_limits<Extended>::quiet_NaN(), "NAN"},
        {"%f", -std::numeric_limits<Extended>::infinity(), "-INF"},
        {"no value", 1, "no value"},
        // Never more than eighteen significant digits.
        {"%.3f", 123456789012345.5L, "123456789012345.500"},  // 18 digits: as before
        {"%.3f", 1234567890123456.5L, "1234567890123456.50"}, // the decimals give way
        {"%.3f", 999999999999999999.75L, "1E18"},             // rounding carries into a 19th digit
        {"%.3f", 1e300L, "1E300"},
        {"%.0n", 1e25L, "1E25"},
        {"%d", 9223372036854775807.0L, "9.22337203685477581E18"},
        {"%d", 123456789012345678.0L, "123456789012345678"},
        {"%.18f", 0.5L, "0.500000000000000000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatValue(c.Format, c.Value), std::optional<QString>(c.Expected)) << c.Format;
}

TEST(ReadoutFormat, FormatsThatDoNotFitGiveNothing) {
    struct Case {
        const char* Format;
        Extended Value;
    };
    const Case cases[] = {
        {"%s", 1},    // a text for a number
        {"%.3d", 1},  // likewise a precision
        {"%5d", 1},   // width between % and d: not an integer format, so a real meets 'd'
        {"%f %f", 1}, // a second value that is not there
        {"%d %x", 1}, // likewise for integers
        {"%1:f", 1},  // an index past the one value
        {"%*f", 1},   // the width would take the value
        {"%.*f", 1},
        {"abc%", 1},  // a percent sign with no type
        {"%d %f", 1}, // an integer meets 'f'
        {"%d", 1e30}, // beyond a 64-bit integer
        {"%d", std::numeric_limits<Extended>::quiet_NaN()},
        {"%99999f", 1}, // a width nobody means
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatValue(c.Format, c.Value), std::nullopt) << c.Format;
}

TEST(ReadoutFormat, UsesTheUsersDecimalSeparator) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatValue("%.3f", 532.5), std::optional<QString>("532,500"));
    EXPECT_EQ(FormatValue("%n", 1234.5), std::optional<QString>("1.234,50"));
    EXPECT_EQ(FormatValue("%g", 0.25), std::optional<QString>("0,25"));
    // The shorter forms of a value too wide for the viewport likewise.
    const auto chars = [](const QString& t) { return int(t.size()); };
    EXPECT_EQ(FitValueText("1234567890,000", 12, chars), "1234567890");
    EXPECT_EQ(FitValueText("0,000000012", 6, chars), "1,2E-8");
    QLocale::setDefault(saved);
}

TEST(ReadoutFormat, FollowsTheUsersSeparatorWhateverTheCLibraryUses) {
    // An application sets the C library's locale from the environment; the readout must not show the
    // C library's separator where the user's differs, nor lose the user's where they agree.
    const std::string savedNumeric = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "tools/setup.sh generates this locale";
    const QLocale saved;
    QLocale::setDefault(QLocale::c());
    const auto underC = FormatValue("%.3f", 532.5);
    const auto exponentUnderC = FormatValue("%e", 1.5);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto underGerman = FormatValue("%.3f", 532.5);
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    const auto underFrench = FormatValue("%.2f", -0.75);
    QLocale::setDefault(saved);
    std::setlocale(LC_NUMERIC, savedNumeric.c_str());
    EXPECT_EQ(underC, std::optional<QString>("532.500"));
    EXPECT_EQ(exponentUnderC, std::optional<QString>("1.50000000000000E+000"));
    EXPECT_EQ(underGerman, std::optional<QString>("532,500"));
    EXPECT_EQ(underFrench, std::optional<QString>("-0,75"));
}

// ---------------------------------------------------------------------------------------------------
// Limits

TEST(ReadoutLimits, LimitOnlyWhenMinAndMaxDiffer) {
    TKivOdoMeter m;
    m.SetValue(-1e9);
    EXPECT_EQ(m.Value(), -1e9); // equal limits: anything goes

    m.SetValueMin(0);
    m.SetValueMax(10);
    m.SetValue(12);
    EXPECT_EQ(m.Value(), 10);
    m.SetValueMax(20); // a limit does not re-limit the value
    EXPECT_EQ(m.Value(), 10);
    m.SetValue(-5);
    EXPECT_EQ(m.Value(), 0);

    m.SetValueMin(30); // above the maximum: the maximum follows
    EXPECT_EQ(m.ValueMax(), 30);
    m.SetValueMax(-4); // below the minimum: the minimum follows
    EXPECT_EQ(m.ValueMin(), -4);
    EXPECT_EQ(m.Value(), 0);
}

// ---------------------------------------------------------------------------------------------------
// Repaints

class ReadoutPaints : public Readout {
protected:
    void SetUp() override {
        m = std::make_unique<TKivOdoMeter>();
        setUpAsMainWindow(*m);
        m->show();
        settle();
    }
    void settle() { QApplication::processEvents(); }
    std::unique_ptr<TKivOdoMeter> m;
};

TEST_F(ReadoutPaints, UnchangedValueCausesNoRepaint) {
    m->SetValue(532.5);
    settle();
    const int before = m->PaintCount();
    ASSERT_GT(before, 0);
    m->SetValue(532.5);
    settle();
    EXPECT_EQ(m->PaintCount(), before);

    // Limited to the value already shown: still nothing.
    m->SetValueMin(0);
    m->SetValueMax(532.5);
    settle();
    const int limited = m->PaintCount();
    m->SetValue(900);
    settle();
    EXPECT_EQ(m->PaintCount(), limited);
}

TEST_F(ReadoutPaints, ABatchOfChangesGivesOnePaint) {
    const int before = m->PaintCount();
    m->SetValue(600.125);
    m->SetValueFormat("%.2f");
    m->SetValueUnit("pm");
    m->SetCaption("Wavelength");
    m->SetMargin(1);
    settle();
    EXPECT_EQ(m->PaintCount(), before + 1);
}

TEST_F(ReadoutPaints, NothingRepaintsWhileLoading) {
    const int before = m->PaintCount();
    m->BeginLoading();
    m->FrameOuter()->SetStyle(afsBump); // style changes repaint at once, except while loading
    m->CaptionStyle()->SetTextStyle(atsRaised);
    m->SetValue(1);
    settle();
    EXPECT_EQ(m->PaintCount(), before);
    m->Loaded();
    settle();
    EXPECT_EQ(m->PaintCount(), before + 1);
}

// ---------------------------------------------------------------------------------------------------
// Clear button and channel binding

TEST(ReadoutBinding, BoundReadoutFollowsItsChannelAndAnUntypedOneGivesTheMinimum) {
    TKivCustomDataServer server;
    TKivChannel* other = addChannel(server, "Other", acvtInteger);
    TKivChannel* wl = addChannel(server, "Wavelength", acvtDouble);
    wl->SetAsDouble(532.5);
    addChannel(server, "Flag", acvtBoolean)->SetAsBoolean(true);
    server.Loaded();

    TKivOdoMeter m;
    m.SetChannel("WAVELENGTH"); // no server yet: nothing bound
    EXPECT_EQ(m.ChannelIndex(), -1);
    m.SetDataServer(&server);
    EXPECT_EQ(m.Value(), 532.5); // told the current value at once
    EXPECT_EQ(m.ChannelIndex(), wl->Index());
    wl->SetAsDouble(600.25);
    EXPECT_EQ(m.Value(), 600.25);

    // OnChangingValue may change a channel's value on its way in; the program's own assignment
    // does not pass through it.
    m.OnChangingValue = [](QObject*, Extended& v) { v *= 2; };
    wl->SetAsDouble(10);
    EXPECT_EQ(m.Value(), 20);
    m.SetValue(7);
    EXPECT_EQ(m.Value(), 7);
    m.OnChangingValue = nullptr;

    // Another channel: the old one no longer reaches us.
    other->SetAsInteger(3);
    m.SetChannel("Other");
    EXPECT_EQ(m.Value(), 3);
    EXPECT_FALSE(wl->Clients().contains(&m));
    wl->SetAsDouble(1);
    EXPECT_EQ(m.Value(), 3);

    // A channel without a number gives the minimum.
    m.SetValueMin(-3);
    m.SetValueMax(3);
    m.SetChannel("Flag");
    EXPECT_EQ(m.Value(), -3);
}

TEST(ReadoutBinding, ReloadedNamesRebindToTheChannelNowCalledSo) {
    TKivCustomDataServer server;
    TKivChannel* a = addChannel(server, "A", acvtInteger);
    TKivChannel* c = addChannel(server, "C", acvtInteger);
    c->SetAsInteger(5);
    server.Loaded();
    TKivOdoMeter m;
    m.SetDataServer(&server);
    m.SetChannel("A");
    ASSERT_TRUE(a->Clients().contains(&m));

    a->SetName("Old");
    c->SetName("A");
    server.Loaded(); // tells every client that the channel list changed
    EXPECT_FALSE(a->Clients().contains(&m)) << "still listening to the channel that lost the name";
    EXPECT_TRUE(c->Clients().contains(&m));
    EXPECT_EQ(m.Value(), 5);
    EXPECT_EQ(m.ChannelIndex(), c->Index());
}

TEST(ReadoutBinding, NoDanglingReferenceWhenChannelOrServerGoes) {
    auto server = std::make_unique<TKivCustomDataServer>();
    addChannel(*server, "First");
    addChannel(*server, "Wavelength", acvtDouble);
    server->Loaded();
    TKivOdoMeter m;
    m.SetDataServer(server.get());
    m.SetChannel("Wavelength");
    ASSERT_EQ(m.ChannelIndex(), 1);

    server->Channels()->Delete(0); // renumbering: the index follows the channel
    EXPECT_EQ(m.ChannelIndex(), 0);
    server->Channels()->Delete(0); // our channel is gone
    EXPECT_EQ(m.ChannelIndex(), -1);
    renderOf(m);
    mouse(m, QEvent::MouseButtonPress, QPoint(m.ClearButtonRect().Left + 7, m.ClearButtonRect().Top + 7));
    mouse(m, QEvent::MouseButtonRelease, QPoint(1, 1)); // clearing a channel that is gone: nothing

    server.reset();
    EXPECT_EQ(m.DataServer(), nullptr);
    m.SetChannel("Other"); // works on without a server

    // The other way round: a destroyed readout leaves no client behind.
    TKivCustomDataServer s2;
    TKivChannel* ch = addChannel(s2, "X");
    s2.Loaded();
    {
        TKivOdoMeter gone;
        gone.SetDataServer(&s2);
        gone.SetChannel("X");
        ASSERT_TRUE(ch->Clients().contains(&gone));
    }
    EXPECT_TRUE(ch->Clients().isEmpty());
    EXPECT_TRUE(s2.Clients().isEmpty());
    ch->SetAsInteger(9); // would reach a dead readout otherwise
}

TEST_F(Readout, ClearButtonClearsTheChannelOnReleaseAnywhere) {
    TKivCustomDataServer server;
    TKivChannel* wl = addChannel(server, "Wavelength", acvtDouble);
    wl->SetAsDouble(532.5);
    server.Loaded();
    TKivOdoMeter m;
    m.SetCaption("Wavelength");
    m.SetDataServer(&server);
    m.SetChannel("Wavelength");
    int cleared = 0;
    m.OnClear = [&](QObject* sender) {
        EXPECT_EQ(sender, &m);
        ++cleared;
    };
    renderOf(m);
    const TRect button = m.ClearButtonRect();
    ASSERT_EQ(button.Width(), 14);

    // A press outside the button raises nothing at release.
    mouse(m, QEvent::MouseButtonPress, QPoint(30, 30));
    EXPECT_FALSE(m.ClearButtonDown());
    mouse(m, QEvent::MouseButtonRelease, QPoint(button.Left + 3, button.Top + 3));
    EXPECT_EQ(cleared, 0);
    EXPECT_EQ(wl->AsDouble(), 532.5);

    // Pressed on it, the button draws pushed (its dot one pixel further down and right).
    mouse(m, QEvent::MouseButtonPress, QPoint(button.Left + 7, button.Top + 7));
    EXPECT_TRUE(m.ClearButtonDown());
    const QImage down = renderOf(m);
    EXPECT_EQ(px(down, button.Right - 4, button.Top + 8), Maroon);
    mouse(m, QEvent::MouseButtonRelease, QPoint(-50, 300));
    EXPECT_FALSE(m.ClearButtonDown());
    EXPECT_EQ(cleared, 1);
    EXPECT_EQ(wl->AsDouble(), 0);
    EXPECT_EQ(m.Value(), 0);
    const QImage up = renderOf(m);
    EXPECT_NE(px(up, button.Right - 4, button.Top + 8), Maroon);
    EXPECT_EQ(px(up, button.Right - 5, button.Top + 7), Maroon);
}

// ---------------------------------------------------------------------------------------------------
// A value too wide for the viewport is never shown cut

// The readout showing `value`, drawn next to one whose format writes `expected` (by default what the
// shown one's format writes) as it is.
std::pair<QImage, QImage> drawnAndExpected(Extended value, QString expected) {
    TKivOdoMeter shown;
    setUpAsMainWindow(shown);
    shown.SetValue(value);
    if (expected.isEmpty())
        expected = shown.ValueText();
    TKivOdoMeter reference;
    setUpAsMainWindow(reference);
    reference.SetValueFormat(expected.replace(u'%', QStringLiteral("%%")));
    return {renderOf(shown), renderOf(reference)};
}

TEST_F(Readout, TooWideValuesDropTheTrailingZerosOrShowTheMarkNeverTheirLeadingDigitsCut) {
    const QString mark = QString::fromUtf16(ValueOverflowMark);
    // Values that fit as their format writes them; a reply of WL=1234567890: "1234567890.000" is wider
    // than the value room, "1234567890" is not; a reply's 1e300 in "%.3f" keeps 18 digits in exponent
    // form, still too wide: no digit of it is drawn.
    const std::pair<Extended, QString> cases[] = {{532.5L, {}},
                                                  {-17.25L, {}},
                                                  {0.0L, {}},
                                                  {12345.5L, {}},
                                                  {1234567890.0L, "1234567890"},
                                                  {Extended(1e300), mark},
                                                  {-123456789012.25L, mark}};
    for (const auto& [value, text] : cases) {
        const auto [drawn, expected] = drawnAndExpected(value, text);
        EXPECT_EQ(drawn, expected) << double(value);
        if (text == "1234567890") {
            EXPECT_GE(inkBox(drawn, Fuchsia, QRect(148, 4, 192, 29)).left(), 150)
                << "the number runs past the viewport's left edge";
        }
    }
}

TEST(ReadoutFit, ShorterFormsAreExactAndTheMarkTakesTheRest) {
    const auto chars = [](const QString& t) { return int(t.size()); };
    struct Case {
        const char* Text;
        int Width;
        const char* Shown;
    };
    const Case cases[] = {
        {"532.500", 7, "532.500"},            // fits: as it is
        {"1234567890.000", 13, "1234567890"}, // trailing decimal zeros go first
        {"-0.000123000", 9, "-0.000123"},
        {"1200000000000000.000", 10, "1.2E15"}, // then the exponent form of the digits
        {"0.000000012", 6, "1.2E-8"},
        {"1.23450000000000E+003", 8, "1.2345E3"},
        {"1234567890123.5", 12, "###"},       // no exact form fits: the mark
        {"Value: 1234567890.000", 12, "###"}, // not a lone number: nothing is shortened
        {"1E999999", 4, "###"},
        {"   12.500", 4, "12.5"}, // padding is not part of the number
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitValueText(c.Text, c.Width, chars), c.Shown) << c.Text;
}

// ---------------------------------------------------------------------------------------------------
// A format that does not fit

TEST_F(Readout, MisfittingFormatIsReportedOnceAndShowsNoValue) {
    QStringList reports;
    SetKivErrorHandler([&](const QString& message) { reports << message; });
    TKivOdoMeter m;
    setUpAsMainWindow(m);
    m.SetValueFormat("%s");
    m.SetValue(532.5);
    QImage img = renderOf(m);
    m.SetValue(600);
    img = renderOf(m);
    renderOf(m);
    EXPECT_TRUE(reports.isEmpty()) << "reported inside the paint";
    QApplication::processEvents();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains("%s"));
    EXPECT_TRUE(inkBox(img, Fuchsia, QRect(0, 0, 344, 37)).isEmpty());
    EXPECT_EQ(m.DisplayText(), "nm");

    // A new format that does not fit either is worth one more report; a fitting one shows again.
    m.SetValueFormat("%f %f");
    renderOf(m);
    renderOf(m);
    QApplication::processEvents();
    EXPECT_EQ(reports.size(), 2);
    m.SetValueFormat("%.1f");
    EXPECT_EQ(m.DisplayText(), "600.0 nm");
    SetKivErrorHandler(nullptr);
}

// ---------------------------------------------------------------------------------------------------
// Accessibility

TEST_F(Readout, ScreenReaderHearsCaptionAndShownText) {
    TKivOdoMeter m;
    setUpAsMainWindow(m);
    m.SetValue(532.5);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&m);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::StaticText);
    EXPECT_EQ(a->text(QAccessible::Name), "Current Wavelength");
    EXPECT_EQ(a->text(QAccessible::Value), "532.500 nm");
    ASSERT_NE(a->valueInterface(), nullptr);
    EXPECT_EQ(a->valueInterface()->currentValue().toDouble(), 532.5);

    m.SetValue(600.25);
    m.SetCaption("Wavelength 2");
    EXPECT_EQ(a->text(QAccessible::Value), "600.250 nm");
    EXPECT_EQ(a->text(QAccessible::Description), "600.250 nm");
    EXPECT_EQ(a->text(QAccessible::Name), "Wavelength 2");

    // The whole value, even when the viewport cannot show it.
    m.SetValue(1234567890.0L);
    renderOf(m);
    EXPECT_EQ(a->text(QAccessible::Value), "1234567890.000 nm");
    EXPECT_EQ(a->text(QAccessible::Description), "1234567890.000 nm");
    m.SetValue(-1e300L);
    EXPECT_EQ(a->text(QAccessible::Description), "-1E300 nm");
}

} // namespace
