#pragma once
// The numeric readout: a value, formatted and followed by its unit, in a coloured viewport beside
// or above a caption, with an optional clear button, optionally bound to a data server's channel.
// TKivIndicator lays out and paints everything but the value; TKivOdoMeter draws the value.

#include "KivCommon.h"
#include "KivDataServer.h"
#include "KivGraphicControl.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

// Where the caption stands relative to the viewport; tlCenter puts it beside the viewport.
using TKivCaptionLayout = TTextLayout;

// The readout's value type: the widest real the machine has.
using Extended = long double;

using TKivOnDrawViewport = std::function<void(QObject* Sender, TKivCanvas& ACanvas, const TRect& ARect)>;
using TKivOnChangingValue = std::function<void(QObject* Sender, Extended& AValue)>;

// The value text for a printf-like format: "%" [index ":"] ["-"] [width] ["." precision] type,
// with d, u, x for an integer argument and e, f, g, n, m for a real one ("%f" has two decimals by
// default, "%e" and "%g" fifteen digits), "%%" for a percent sign, and the user's decimal
// separator. A format containing "%d" gets the value truncated toward zero as a 64-bit integer,
// any other the value itself. Nothing is passed to the C library's printf family as given: a
// format that does not fit its one argument (a wrong letter, a second value, a "*", an integer out
// of range) gives nullopt instead of undefined behaviour.
std::optional<QString> FormatValue(const QString& Format, Extended Value);

// What the viewport shows of a value text when it has Width pixels (Measure gives a text's width in
// the value font): the text itself when it fits; else, for a text that is one number, the same
// number written shorter (trailing decimal zeros dropped, then the exponent form of all its digits);
// else the overflow mark. A number is never cut: drawn right-aligned, a text too wide would lose its
// leading digits at the viewport's left edge and show a plausible but wrong value.
QString FitValueText(const QString& Text, int Width, const std::function<int(const QString&)>& Measure);
inline constexpr char16_t ValueOverflowMark[] = u"###";

class TKivIndicator : public TKivGraphicControl {
    Q_OBJECT
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(int Margin READ Margin WRITE SetMargin)
    Q_PROPERTY(QString ValueFormat READ ValueFormat WRITE SetValueFormat)
    Q_PROPERTY(TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(TKivCaptionLayout Layout READ Layout WRITE SetLayout)
    Q_PROPERTY(QString Channel READ Channel WRITE SetChannel)
    Q_PROPERTY(TKivCustomDataServer* DataServer READ DataServer WRITE SetDataServer)
    Q_PROPERTY(QString ValueUnit READ ValueUnit WRITE SetValueUnit)
    Q_PROPERTY(bool ShowClearButton READ ShowClearButton WRITE SetShowClearButton)
    Q_PROPERTY(double Value READ ValueAsDouble WRITE SetValueAsDouble)
    Q_PROPERTY(double ValueMax READ ValueMaxAsDouble WRITE SetValueMaxAsDouble)
    Q_PROPERTY(double ValueMin READ ValueMinAsDouble WRITE SetValueMinAsDouble)
    Q_PROPERTY(int CaptionWidth READ CaptionWidth WRITE SetCaptionWidth)

public:
    explicit TKivIndicator(QWidget* parent = nullptr);
    ~TKivIndicator() override;

    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    int Margin() const { return FMargin; }
    void SetMargin(int Value);
    QString ValueFormat() const { return FValueFormat; }
    void SetValueFormat(const QString& Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    TKivCaptionLayout Layout() const { return FLayout; }
    void SetLayout(TKivCaptionLayout Value);
    QString Channel() const { return FChannel; }
    void SetChannel(const QString& Value);
    TKivCustomDataServer* DataServer() const { return FDataServer; }
    void SetDataServer(TKivCustomDataServer* Value);
    QString ValueUnit() const { return FValueUnit; }
    void SetValueUnit(const QString& Value);
    TKivFont ValueUnitFont() const { return FValueUnitFont; }
    void SetValueUnitFont(const TKivFont& Value);
    bool ShowClearButton() const { return FShowClearButton; }
    void SetShowClearButton(bool Value);
    Extended Value() const { return FValue; }
    void SetValue(Extended AValue);
    Extended ValueMax() const { return FValueMax; }
    void SetValueMax(Extended AValue);
    Extended ValueMin() const { return FValueMin; }
    void SetValueMin(Extended AValue);
    int CaptionWidth() const { return FCaptionWidth; }
    void SetCaptionWidth(int Value);

    // Index of the bound channel in the server's list, -1 for none; taken from the channel itself,
    // so it follows renumbering and turns -1 when the channel is deleted.
    int ChannelIndex() const;
    bool ClearButtonDown() const { return FClearButtonDown; }
    // Results of the last paint: the clear button and the viewport inside frame and margin.
    TRect ClearButtonRect() const { return FClearButtonRect; }
    TRect ViewportRect() const { return FViewportRect; }

    // The value as shown: formatted by ValueFormat, empty when the format does not fit the value.
    // The first misfit of a format is reported once to the general error handler.
    QString ValueText() const;
    // What the readout shows, value and unit ("532.500 nm"); read by screen readers.
    QString DisplayText() const;

    TKivOnDrawViewport OnDrawViewport;
    std::function<void(QObject* Sender)> OnClear;
    TKivOnChangingValue OnChangingValue;

protected:
    // Lays out within the content rectangle L: viewport, clear button and caption rectangle.
    void CalcLayout(TKivCanvas& Canvas, const TRect& L, TRect& Viewport, TRect& CaptionRect);
    void Paint(TKivCanvas& Canvas) override;
    void PictureChanged() override { FBackgroundValid = false; }
    // Everything the value does not change: frames, caption, clear button; sets ViewportRect.
    // Paints starting from a copy of it leave this out.
    virtual void PaintBackground(TKivCanvas& Canvas);
    // Draws what the viewport shows; here only OnDrawViewport.
    virtual void DrawViewport(TKivCanvas& ACanvas, const TRect& ARect);

    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool FWordWrap = false;
    int FMargin = 0;
    QString FValueFormat = QStringLiteral("%f");
    TAlignment FAlignment = taCenter;
    TKivCaptionLayout FLayout = tlBottom;
    QString FChannel;
    QPointer<TKivCustomDataServer> FDataServer;
    QString FValueUnit;
    TKivFont FValueUnitFont;
    bool FShowClearButton = true;
    Extended FValue = 0;
    Extended FValueMax = 0;
    Extended FValueMin = 0;
    bool FClearButtonDown = false;
    TRect FClearButtonRect;
    TRect FViewportRect;
    int FCaptionWidth = 100;

    // The channel we are a client of; guarded, so a channel deleted under us is simply gone.
    QPointer<TKivChannel> FBoundChannel;
    // The value text for the current value and format, formatted once per change.
    mutable std::optional<QString> FValueText;
    mutable bool FValueTextValid = false;
    mutable bool FFormatErrorReported = false;
    // The last picture before DrawViewport. The value and its format change often and leave it as
    // it is, so such a paint starts from a copy of it.
    QImage FBackground;
    bool FBackgroundValid = false;

    double ValueAsDouble() const { return static_cast<double>(FValue); }
    void SetValueAsDouble(double AValue) { SetValue(AValue); }
    double ValueMaxAsDouble() const { return static_cast<double>(FValueMax); }
    void SetValueMaxAsDouble(double AValue) { SetValueMax(AValue); }
    double ValueMinAsDouble() const { return static_cast<double>(FValueMin); }
    void SetValueMinAsDouble(double AValue) { SetValueMin(AValue); }

    void valueTextChanged();
    // Repaint later for a change that only the viewport's drawing sees.
    void invalidateViewport();
    // Looks Channel up on the server and becomes a client of what it finds (or of nothing).
    void bindChannel();
    void unbindChannel();
    void serverGoing(TKivCustomDataServer* Server);
    void channelValue(TKivChannel* Channel);
    void clearChannel();
};

class TKivOdoMeter : public TKivIndicator {
    Q_OBJECT
public:
    explicit TKivOdoMeter(QWidget* parent = nullptr);

    TKivFont ValueFont() const { return FValueFont; }
    void SetValueFont(const TKivFont& Value);

protected:
    // The unit does not change with the value, so it is drawn with the background.
    void PaintBackground(TKivCanvas& Canvas) override;
    void DrawViewport(TKivCanvas& ACanvas, const TRect& ARect) override;

private:
    TKivFont FValueFont;
    int FUnitWidth = 0; // of the unit drawn with the background
};
