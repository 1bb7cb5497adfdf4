#include "KivLED.h"

#include "OrvaneErrors.h"

TKivLEDAttributes::TKivLEDAttributes(QObject* parent) : QObject(parent) {}

void TKivLEDAttributes::Changed() {
    if (OnChanged)
        OnChanged(this);
}

void TKivLEDAttributes::SetValue(bool Value) {
    if (Value == FValue)
        return;
    FValue = Value;
    if (OnValueChanged)
        OnValueChanged(this);
}

void TKivLEDAttributes::SetStyle(TKivLEDStyle Value) {
    setAppearance(FStyle, Value);
}
void TKivLEDAttributes::SetShape(TKivLEDShape Value) {
    setAppearance(FShape, Value);
}
void TKivLEDAttributes::SetWidth(int Value) {
    setAppearance(FWidth, Value);
}
void TKivLEDAttributes::SetHeight(int Value) {
    setAppearance(FHeight, Value);
}
void TKivLEDAttributes::SetBlinking(bool Value) {
    setAppearance(FBlinking, Value);
}
void TKivLEDAttributes::SetOnColor(TColor Value) {
    setAppearance(FOnColor, Value);
}
void TKivLEDAttributes::SetOffColor(TColor Value) {
    setAppearance(FOffColor, Value);
}

void TKivLEDAttributes::Assign(const QObject* Source) {
    const auto* s = qobject_cast<const TKivLEDAttributes*>(Source);
    if (!s)
        throw ConversionError(
            QStringLiteral("Cannot assign a %1 to a TKivLEDAttributes")
                .arg(Source ? QString::fromLatin1(Source->metaObject()->className()) : QStringLiteral("nil"))
                .toStdString());
    FWidth = s->FWidth;
    FHeight = s->FHeight;
    FOnColor = s->FOnColor;
    FOffColor = s->FOffColor;
    FStyle = s->FStyle;
    FShape = s->FShape;
    FBlinking = s->FBlinking;
    Changed();
}

namespace {

// The system edge of each rim style, for the square and diamond lamps.
unsigned edgeKind(TKivLEDStyle style) {
    switch (style) {
    case alsRaised:
        return BDR_RAISEDINNER;
    case alsSunken:
        return BDR_SUNKENOUTER;
    case alsRaisedHeavy:
        return EDGE_RAISED;
    case alsSunkenHeavy:
        return EDGE_SUNKEN;
    case alsFlat:
        return BDR_RAISEDOUTER;
    }
    return BDR_SUNKENOUTER;
}

} // namespace

void TKivLEDAttributes::Draw(TKivCanvas& Canvas, const TRect& R) const {
    const TColor lamp = FValue ? FOnColor : FOffColor;
    const int L = R.Left, T = R.Top, Rt = R.Right, B = R.Bottom;
    const unsigned flat = FStyle == alsFlat ? BF_FLAT : 0u;
    Canvas.Brush.Style = bsSolid;

    switch (FShape) {
    case alsCircle: {
        Canvas.Pen.Color = lamp;
        Canvas.Brush.Color = lamp;
        Canvas.Ellipse(R);
        const TRect inner(L + 1, T + 1, Rt - 1, B - 1);
        auto outerUL = [&](TColor c) {
            Canvas.Pen.Color = c;
            Canvas.Arc(R, QPoint(Rt, T), QPoint(L, B));
        };
        auto outerLR = [&](TColor c) {
            Canvas.Pen.Color = c;
            Canvas.Arc(R, QPoint(L, B), QPoint(Rt, T));
        };
        auto innerUL = [&](TColor c) {
            Canvas.Pen.Color = c;
            Canvas.Arc(inner, QPoint(Rt, T + 1), QPoint(L + 1, B));
        };
        auto innerLR = [&](TColor c) {
            Canvas.Pen.Color = c;
            Canvas.Arc(inner, QPoint(L + 1, B - 1), QPoint(Rt - 1, T + 1));
        };
        switch (FStyle) {
        case alsRaised:
            outerUL(clBtnHighlight);
            outerLR(clBlack);
            break;
        case alsRaisedHeavy:
            outerUL(clBtnHighlight);
            innerUL(clBtnHighlight);
            outerLR(clBlack);
            innerLR(clBtnShadow);
            break;
        case alsSunken:
            outerUL(clBtnShadow);
            outerLR(clBtnHighlight);
            break;
        case alsSunkenHeavy:
            outerUL(clBtnShadow);
            innerUL(clBlack);
            outerLR(clBtnHighlight);
            innerLR(clBtnFace);
            break;
        case alsFlat:
            Canvas.Pen.Color = clBtnShadow;
            Canvas.Ellipse(R);
            break;
        }
        break;
    }
    case alsRectangle: {
        Canvas.Brush.Color = lamp;
        Canvas.FillRect(R);
        TRect r = R;
        Canvas.DrawEdge(r, edgeKind(FStyle), BF_RECT | flat);
        break;
    }
    case alsDiamond: {
        Canvas.Brush.Color = lamp;
        const int hw = (Rt - L) / 2, hh = (B - T) / 2;
        const unsigned kind = edgeKind(FStyle);
        TRect q1(L, T, Rt - hw, B - hh), q2(L + hw, T, Rt, B - hh), q3(L, T + hh, Rt - hw, B),
            q4(L + hw, T + hh, Rt, B);
        Canvas.DrawEdge(q1, kind, BF_DIAGONAL_ENDTOPRIGHT | flat);
        Canvas.DrawEdge(q2, kind, BF_DIAGONAL_ENDTOPLEFT | flat);
        Canvas.DrawEdge(q3, kind, BF_DIAGONAL_ENDBOTTOMRIGHT | flat);
        Canvas.DrawEdge(q4, kind, BF_DIAGONAL_ENDBOTTOMLEFT | flat);
        // Seeded from the lamp's own size, not the rectangle's middle; a surface fill of whatever
        // colour is there.
        const int x = L + FWidth / 2, y = T + FHeight / 2;
        if (const QImage* image = Canvas.Image()) {
            const QPoint at = Canvas.Painter().deviceTransform().map(QPoint(x, y));
            if (image->rect().contains(at))
                Canvas.FloodFill(x, y, RgbToColor(image->pixel(at)), fsSurface);
        }
        break;
    }
    }
}
