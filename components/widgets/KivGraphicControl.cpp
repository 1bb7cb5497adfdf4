#include "KivGraphicControl.h"

#include <QAccessible>
#include <QEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

TKivGraphicControl::TKivGraphicControl(QWidget* parent)
    : QWidget(parent), FFrameInner(std::make_unique<TKivFrame>()), FFrameOuter(std::make_unique<TKivFrame>()),
      FCaptionStyle(std::make_unique<TKivCaptionStyle>()) {
    // Every pixel comes from the buffer: Qt need not clear or fill behind us.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    auto styleChanged = [this](QObject* Sender) { StyleChanged(Sender); };
    FFrameInner->OnChange = styleChanged;
    FFrameOuter->OnChange = styleChanged;
    FCaptionStyle->OnChanged = styleChanged;
    adoptParentColor();
}

TKivGraphicControl::~TKivGraphicControl() {
    FFrameInner->OnChange = nullptr;
    FFrameOuter->OnChange = nullptr;
    FCaptionStyle->OnChanged = nullptr;
}

void TKivGraphicControl::Invalidate() {
    PictureChanged();
    if (!FLoading)
        update();
}

void TKivGraphicControl::StyleChanged(QObject*) {
    PictureChanged();
    if (!FLoading)
        repaint();
}

void TKivGraphicControl::Loaded() {
    FLoading = false;
    if (FBuffer.size() != size())
        FBuffer = QImage(size(), QImage::Format_RGB32);
    update();
}

void TKivGraphicControl::SetCaption(const QString& Value) {
    if (Value == FCaption)
        return;
    FCaption = Value;
    Invalidate();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void TKivGraphicControl::SetColor(TColor Value) {
    FParentColor = false;
    if (Value == FColor)
        return;
    FColor = Value;
    Invalidate();
}

void TKivGraphicControl::SetParentColor(bool Value) {
    if (Value == FParentColor)
        return;
    FParentColor = Value;
    adoptParentColor();
}

void TKivGraphicControl::adoptParentColor() {
    if (!FParentColor)
        return;
    // A parent of our own kind lends its Color; any other widget its window colour.
    TColor color = clBtnFace;
    if (auto* p = qobject_cast<TKivGraphicControl*>(parentWidget()))
        color = p->Color();
    else if (parentWidget())
        color = RgbToColor(parentWidget()->palette().color(parentWidget()->backgroundRole()).rgb());
    if (color != FColor) {
        FColor = color;
        Invalidate();
    }
}

TKivFont TKivGraphicControl::Font() const {
    return TKivFont{font(), FFontColor, 0};
}

void TKivGraphicControl::SetFont(const TKivFont& Value) {
    if (Value.Color != FFontColor) {
        FFontColor = Value.Color;
        Invalidate();
    }
    // Qt compares and announces the font change itself (changeEvent).
    setFont(Value.Font);
}

void TKivGraphicControl::SetParentFont(bool Value) {
    if (Value == ParentFont())
        return;
    if (Value)
        setFont(QFont()); // an empty font resolves nothing: the parent's font shows through again
    else
        setFont(font());
}

void TKivGraphicControl::SetFrameColor(TColor Value) {
    if (Value == FFrameColor)
        return;
    FFrameColor = Value;
    StyleChanged(this);
}

void TKivGraphicControl::SetFrameWidth(int Value) {
    if (Value == FFrameWidth)
        return;
    FFrameWidth = Value;
    StyleChanged(this);
}

void TKivGraphicControl::SetTransparent(bool Value) {
    if (Value == FTransparent)
        return;
    FTransparent = Value;
    // Left-out pixels show what lies behind, so Qt has to draw that first.
    setAttribute(Qt::WA_OpaquePaintEvent, !Value);
    StyleChanged(this);
}

void TKivGraphicControl::SetTransparentColor(TColor Value) {
    if (Value == FTransparentColor)
        return;
    FTransparentColor = Value;
    StyleChanged(this);
}

void TKivGraphicControl::Paint(TKivCanvas& Canvas) {
    Canvas.FillRect(TRect(0, 0, width(), height()), FFrameColor);
}

void TKivGraphicControl::paintEvent(QPaintEvent*) {
    QPainter screen(this);
    // The target's own pixel ratio: a render() into an image is 1:1 even on a scaled screen.
    const qreal dpr = screen.device()->devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * dpr).toSize();
    if (FBuffer.size() != pixels)
        FBuffer = QImage(pixels, QImage::Format_RGB32);
    FBuffer.setDevicePixelRatio(dpr);
    ++FPaintCount;
    {
        TKivCanvas canvas(&FBuffer);
        Paint(canvas);
    }
    if (FTransparent) {
        QImage keyed = KeyedImage(FBuffer, ColorToRgb(FTransparentColor));
        keyed.setDevicePixelRatio(dpr);
        screen.drawImage(0, 0, keyed);
    } else {
        screen.drawImage(0, 0, FBuffer);
    }
}

void TKivGraphicControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (OnResize)
        OnResize(this);
}

void TKivGraphicControl::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::EnabledChange:
        Invalidate();
        break;
    case QEvent::ParentChange:
        adoptParentColor();
        break;
    case QEvent::PaletteChange:
        // System colours are looked up in the palette when drawn.
        adoptParentColor();
        Invalidate();
        break;
    default:
        break;
    }
}

void TKivGraphicControl::mousePressEvent(QMouseEvent* event) {
    // Taking the press keeps the mouse with us until the release, wherever the pointer goes.
    event->accept();
}

void TKivGraphicControl::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
        OnClick(this);
}

void TKivGraphicControl::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && OnDblClick)
        OnDblClick(this);
}
