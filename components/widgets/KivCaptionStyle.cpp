#include "KivCaptionStyle.h"

#include "OrvaneErrors.h"

#include <cmath>
#include <numbers>

TKivCaptionStyle::TKivCaptionStyle(QObject* parent) : QObject(parent) {}

void TKivCaptionStyle::Changed() {
    if (OnChanged)
        OnChanged(this);
}

void TKivCaptionStyle::SetAngle(int Value) {
    // Runs on every assignment: snapping depends on the switches, and owners repaint on it.
    if (Value < 0 || Value > 359 || Value == 0) {
        FAngle = 0;
    } else if (FAllowRotation) {
        if (!FSnapToRightAngles)
            FAngle = Value;
        else if (Value <= 45)
            FAngle = 0;
        else if (Value <= 135)
            FAngle = 90;
        else if (Value <= 225)
            FAngle = 180;
        else if (Value <= 315)
            FAngle = 270;
        else
            FAngle = 0;
    }
    Changed();
}

void TKivCaptionStyle::SetTextStyle(TKivTextStyle Value) {
    if (Value == FTextStyle)
        return;
    FTextStyle = Value;
    Changed();
}

void TKivCaptionStyle::SetShadowColor(TColor Value) {
    if (Value == FShadowColor)
        return;
    FShadowColor = Value;
    if (FTextStyle == atsShadow)
        Changed();
}

void TKivCaptionStyle::SetShadowDepth(int Value) {
    if (Value == FShadowDepth)
        return;
    FShadowDepth = Value;
    if (FTextStyle == atsShadow)
        Changed();
}

void TKivCaptionStyle::SetShadowDirection(TKivShadowDirection Value) {
    if (Value == FShadowDirection)
        return;
    FShadowDirection = Value;
    if (FTextStyle == atsShadow)
        Changed();
}

void TKivCaptionStyle::SetAllowRotation(bool Value) {
    if (Value == FAllowRotation)
        return;
    FAllowRotation = Value;
    if (!Value && FAngle != 0)
        SetAngle(0);
}

void TKivCaptionStyle::SetSnapToRightAngles(bool Value) {
    if (Value == FSnapToRightAngles)
        return;
    FSnapToRightAngles = Value;
    if (Value)
        SetAngle(FAngle);
}

void TKivCaptionStyle::SetOutlineFillColor(TColor Value) {
    if (Value == FOutlineFillColor)
        return;
    FOutlineFillColor = Value;
    if (FTextStyle == atsOutline)
        Changed();
}

void TKivCaptionStyle::SetOutlineWidth(int Value) {
    if (Value == FOutlineWidth)
        return;
    FOutlineWidth = Value;
    if (FTextStyle == atsOutline)
        Changed();
}

void TKivCaptionStyle::Assign(const QObject* Source) {
    const auto* s = qobject_cast<const TKivCaptionStyle*>(Source);
    if (!s)
        throw ConversionError(
            QStringLiteral("Cannot assign a %1 to a TKivCaptionStyle")
                .arg(Source ? QString::fromLatin1(Source->metaObject()->className()) : QStringLiteral("nil"))
                .toStdString());
    FAngle = s->FAngle;
    FTextStyle = s->FTextStyle;
    FShadowColor = s->FShadowColor;
    FShadowDepth = s->FShadowDepth;
    FShadowDirection = s->FShadowDirection;
    FAllowRotation = s->FAllowRotation;
    FSnapToRightAngles = s->FSnapToRightAngles;
    Changed();
}

QPoint TKivCaptionStyle::ShadowOffset() const {
    const int d = FShadowDepth;
    switch (FShadowDirection) {
    case asdTopLeft:
        return {-d, -d};
    case asdTopRight:
        return {d, -d};
    case asdBottomLeft:
        return {-d, d};
    case asdBottomRight:
        break;
    }
    return {d, d};
}

namespace {
QSize GrowBy(int n) {
    return QSize(n, n);
}
} // namespace

int TKivCaptionStyle::DrawCopies(bool Disabled, TColor FontColor,
                                 const std::function<void(int, int, TColor)>& drawAt) const {
    if (Disabled) {
        drawAt(1, 1, clBtnHighlight);
        drawAt(0, 0, clBtnShadow);
        return 1;
    }
    switch (FTextStyle) {
    case atsNormal:
        drawAt(0, 0, FontColor);
        return 0;
    case atsRaised:
        drawAt(-1, -1, clBtnHighlight);
        drawAt(0, 0, FontColor);
        return 1;
    case atsRaisedHeavy:
        drawAt(-1, -1, clBtnHighlight);
        drawAt(1, 1, FShadowColor);
        drawAt(0, 0, FontColor);
        return 2;
    case atsSunken:
        drawAt(1, 1, clBtnHighlight);
        drawAt(0, 0, FontColor);
        return 1;
    case atsSunkenHeavy:
        drawAt(-1, -1, FShadowColor);
        drawAt(1, 1, clBtnHighlight);
        drawAt(0, 0, FontColor);
        return 2;
    case atsShadow: {
        const QPoint o = ShadowOffset();
        drawAt(o.x(), o.y(), FShadowColor);
        drawAt(0, 0, FontColor);
        return FShadowDepth;
    }
    case atsOutline:
        break; // drawn as a path by the caller
    }
    return 0;
}

QSize TKivCaptionStyle::DrawText(TKivCanvas& Canvas, const QString& Text, const TKivFont& Font,
                                 const TRect& Rect, TAlignment Alignment, TTextLayout Layout, unsigned Flags,
                                 bool Disabled) {
    if (FAngle != 0 && FAllowRotation)
        return DrawRotated(Canvas, Text, Font, Rect, Alignment, Layout, Disabled);
    return DrawPlain(Canvas, Text, Font, Rect, Alignment, Layout, Flags, Disabled);
}

QSize TKivCaptionStyle::DrawPlain(TKivCanvas& Canvas, const QString& Text, const TKivFont& Font,
                                  const TRect& Rect, TAlignment Alignment, TTextLayout Layout, unsigned Flags,
                                  bool Disabled) {
    Canvas.Font = Font;
    Canvas.Font.Escapement = 0;
    Canvas.Brush.Style = bsClear;
    const unsigned format = (Alignment == taRightJustify ? DT_RIGHT
                             : Alignment == taCenter     ? DT_CENTER
                                                         : DT_LEFT) |
                            Flags;

    TRect m = Rect;
    Canvas.DrawText(Text, m, format | DT_CALCRECT);
    QSize size(m.Width(), m.Height());

    TRect t = Rect;
    if (Layout == tlCenter)
        t.Top += (Rect.Height() - m.Height()) / 2;
    else if (Layout == tlBottom)
        t.Top = Rect.Bottom - m.Height();

    auto drawAt = [&](int dx, int dy, TColor color) {
        TRect r = t.Offset(dx, dy);
        Canvas.Font.Color = color;
        Canvas.DrawText(Text, r, format);
    };

    size += GrowBy(DrawCopies(Disabled, Font.Color, drawAt));
    if (!Disabled && FTextStyle == atsOutline && !(format & DT_CALCRECT)) {
        QPainterPath path;
        TRect r = t;
        Canvas.DrawText(Text, r, format, &path);
        Canvas.Pen = TKivPen{Font.Color, FOutlineWidth, psSolid};
        Canvas.Brush = TKivBrush{FOutlineFillColor, bsSolid};
        Canvas.StrokeAndFillPath(path);
    }
    Canvas.Font.Color = Font.Color;
    Canvas.Brush.Style = bsSolid;
    return size;
}

QSize TKivCaptionStyle::DrawRotated(TKivCanvas& Canvas, const QString& Text, const TKivFont& Font,
                                    const TRect& Rect, TAlignment Alignment, TTextLayout Layout,
                                    bool Disabled) {
    Canvas.Font = Font;
    Canvas.Font.Escapement = 0;
    Canvas.Brush.Style = bsClear;
    const int a = FAngle;
    const double rad = a * std::numbers::pi / 180.0;
    const double c = std::cos(rad), s = std::sin(rad);
    const QSize extent = Canvas.TextExtent(Text);
    const double tw = extent.width(), th = extent.height();
    auto rnd = [](double v) { return static_cast<int>(std::nearbyint(v)); };

    int x = 0;
    switch (Alignment) {
    case taLeftJustify:
        x = Rect.Left;
        if (a >= 91 && a <= 180)
            x -= rnd(tw * c);
        else if (a >= 181 && a <= 270) {
            x -= rnd(tw * c);
            x -= rnd(th * s);
        } else if (a >= 271 && a <= 359)
            x -= rnd(th * s);
        x = std::min(x, Rect.Right);
        break;
    case taRightJustify:
        x = Rect.Right;
        if (a >= 1 && a <= 90) {
            x -= rnd(tw * c);
            x -= rnd(th * s);
        } else if (a >= 91 && a <= 180)
            x -= rnd(th * s);
        else if (a >= 271 && a <= 359)
            x -= rnd(tw * c);
        x = std::max(x, Rect.Left);
        break;
    case taCenter:
        // Centred on the rectangle's own middle, wherever the rectangle lies.
        x = (Rect.Left + Rect.Right) / 2 - rnd(tw / 2 * c) - rnd(th / 2 * s);
        break;
    }

    int y = 0;
    switch (Layout) {
    case tlTop:
        y = Rect.Top;
        if (a >= 1 && a <= 90)
            y += rnd(tw * s);
        else if (a >= 91 && a <= 180) {
            y += rnd(tw * s);
            y -= rnd(th * c);
        } else if (a >= 181 && a <= 270)
            y -= rnd(th * c);
        y = std::min(y, Rect.Bottom);
        break;
    case tlBottom:
        y = Rect.Bottom;
        if (a >= 1 && a <= 90)
            y -= rnd(th * c);
        else if (a >= 181 && a <= 270)
            y += rnd(tw * s);
        else if (a >= 271 && a <= 359) {
            y += rnd(tw * s);
            y -= rnd(th * c);
        }
        y = std::max(y, Rect.Top);
        break;
    case tlCenter:
        y = rnd(tw / 2 * s) + (Rect.Top + Rect.Bottom) / 2 - rnd(th / 2 * c);
        break;
    }

    Canvas.Font.Escapement = a * 10;
    auto drawAt = [&](int dx, int dy, TColor color) {
        Canvas.Font.Color = color;
        Canvas.TextOut(x + dx, y + dy, Text);
    };
    QSize size = extent;
    size += GrowBy(DrawCopies(Disabled, Font.Color, drawAt));
    if (!Disabled && FTextStyle == atsOutline) {
        const QPainterPath path = Canvas.TextPath(x, y, Text);
        Canvas.Pen = TKivPen{Font.Color, FOutlineWidth, psSolid};
        Canvas.Brush = TKivBrush{FOutlineFillColor, bsSolid};
        Canvas.StrokeAndFillPath(path);
    }
    Canvas.Font = Font;
    Canvas.Brush.Style = bsSolid;
    return size;
}

QSize TKivCaptionStyle::TextExtent(TKivCanvas& Canvas, const QString& Text, const TRect& Rect,
                                   const TKivFont& Font) {
    const QSize size = DrawPlain(Canvas, Text, Font, Rect, taLeftJustify, tlTop, DT_CALCRECT, false);
    if (FAngle == 0 || !FAllowRotation)
        return size;
    const TRect r = RotateRect(TRect(0, 0, size.width(), size.height()), FAngle);
    return QSize(r.Right - r.Left + 1, r.Bottom - r.Top + 1);
}
