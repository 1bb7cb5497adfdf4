#include "KivFrame.h"

#include "OrvaneErrors.h"

TKivFrame::TKivFrame(QObject* parent) : QObject(parent) {}

void TKivFrame::Changed() {
    if (OnChange)
        OnChange(this);
}

void TKivFrame::SetFlatColor(TColor Value) {
    if (Value == FFlatColor)
        return;
    FFlatColor = Value;
    Changed();
}

void TKivFrame::SetEdges(TKivEdges Value) {
    if (Value == FEdges)
        return;
    FEdges = Value;
    Changed();
}

void TKivFrame::SetStyle(TKivFrameStyle Value) {
    if (Value == FStyle)
        return;
    FStyle = Value;
    Changed();
}

void TKivFrame::SetVisible(bool Value) {
    if (Value == FVisible)
        return;
    FVisible = Value;
    Changed();
}

void TKivFrame::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    Changed();
}

void TKivFrame::Assign(const QObject* Source) {
    const auto* s = qobject_cast<const TKivFrame*>(Source);
    if (!s)
        throw ConversionError("Invalid class typecast");
    // Through the setters, so the owner hears of what changed and repaints.
    SetEdges(s->FEdges);
    SetEnabled(s->FEnabled);
    SetFlatColor(s->FFlatColor);
    SetStyle(s->FStyle);
    SetVisible(s->FVisible);
}

void TKivFrame::Draw(TKivCanvas& Canvas, TRect& Rect) const {
    if (!FVisible)
        return;
    if (FStyle != afsFlat) {
        static constexpr unsigned edgeOf[] = {BDR_RAISEDINNER, BDR_SUNKENOUTER, EDGE_BUMP,
                                              EDGE_ETCHED,     EDGE_RAISED,     EDGE_SUNKEN};
        unsigned sides = 0;
        if (FEdges & aeLeft)
            sides |= BF_LEFT;
        if (FEdges & aeTop)
            sides |= BF_TOP;
        if (FEdges & aeRight)
            sides |= BF_RIGHT;
        if (FEdges & aeBottom)
            sides |= BF_BOTTOM;
        Canvas.DrawEdge(Rect, edgeOf[FStyle], sides | BF_ADJUST);
        return;
    }
    Canvas.Pen.Color = FFlatColor;
    Canvas.Pen.Style = psSolid;
    Canvas.Pen.Width = 1;
    if (FEdges & aeLeft) {
        Canvas.MoveTo(Rect.Left, Rect.Top);
        Canvas.LineTo(Rect.Left, Rect.Bottom);
        Rect.Left += 1;
    }
    if (FEdges & aeTop) {
        Canvas.MoveTo(Rect.Left, Rect.Top);
        Canvas.LineTo(Rect.Right, Rect.Top);
        Rect.Top += 1;
    }
    if (FEdges & aeRight) {
        Canvas.MoveTo(Rect.Right - 1, Rect.Top);
        Canvas.LineTo(Rect.Right - 1, Rect.Bottom);
        Rect.Right -= 1;
    }
    if (FEdges & aeBottom) {
        Canvas.MoveTo(Rect.Left, Rect.Bottom - 1);
        Canvas.LineTo(Rect.Right, Rect.Bottom - 1);
        Rect.Bottom -= 1;
    }
    // The flat frame takes two pixels per side, of which only the outer one is drawn.
    if (FEdges & aeLeft)
        Rect.Left += 1;
    if (FEdges & aeTop)
        Rect.Top += 1;
    if (FEdges & aeRight)
        Rect.Right -= 1;
    if (FEdges & aeBottom)
        Rect.Bottom -= 1;
}
