#include "KivButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <chrono>

namespace {

// Milliseconds of a monotonic clock; 64 bits, so the 100 ms rule never meets a wrap-around.
qint64 tickCount() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

// Skin bitmaps are drawn many times; keep them in a format the painter copies directly.
QImage drawableCopy(const QImage& image) {
    if (image.isNull())
        return QImage();
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TKivBtnSkinner

TKivBtnSkinner::TKivBtnSkinner(QObject* parent) : QObject(parent) {}

TKivBtnSkinner::~TKivBtnSkinner() {
    FDestroying = true;
    // Buttons forget us first, so none keeps a reference to a skinner that is gone.
    const QList<TKivCustomBtn*> clients = FClients;
    FClients.clear();
    for (TKivCustomBtn* client : clients)
        client->SkinnerDestroyed(this);
}

void TKivBtnSkinner::assignBitmap(QImage& Target, const QImage& Value) {
    Target = drawableCopy(Value);
    FCornerCache.clear();
    NotifyClients();
}

void TKivBtnSkinner::SetBitmapDown(const QImage& Value) {
    assignBitmap(FBitmapDown, Value);
}
void TKivBtnSkinner::SetBitmapNormal(const QImage& Value) {
    assignBitmap(FBitmapNormal, Value);
}
void TKivBtnSkinner::SetBitmapEnter(const QImage& Value) {
    assignBitmap(FBitmapEnter, Value);
}
void TKivBtnSkinner::SetBitmapDisabled(const QImage& Value) {
    assignBitmap(FBitmapDisabled, Value);
}
void TKivBtnSkinner::SetBitmapFocused(const QImage& Value) {
    assignBitmap(FBitmapFocused, Value);
}

void TKivBtnSkinner::SetTransparent(bool Value) {
    if (Value == FTransparent)
        return;
    FTransparent = Value;
    NotifyClients();
}

void TKivBtnSkinner::SetFixedHeight(int Value) {
    if (Value == FFixedHeight)
        return;
    FFixedHeight = Value;
    NotifyClients();
}

void TKivBtnSkinner::SetFixedWidth(int Value) {
    if (Value == FFixedWidth)
        return;
    FFixedWidth = Value;
    NotifyClients();
}

void TKivBtnSkinner::SetTransparentColor(TColor Value) {
    if (Value == FTransparentColor)
        return;
    FTransparentColor = Value;
    FCornerCache.clear();
    NotifyClients();
}

void TKivBtnSkinner::AddClient(TKivCustomBtn* Button) {
    if (FDestroying || !Button || FClients.contains(Button))
        return;
    FClients.append(Button);
}

void TKivBtnSkinner::RemoveClient(TKivCustomBtn* Button) {
    if (FDestroying || !Button)
        return;
    FClients.removeAll(Button);
}

void TKivBtnSkinner::NotifyClients() {
    if (FDestroying)
        return;
    ++FGeneration;
    const QList<TKivCustomBtn*> clients = FClients;
    for (TKivCustomBtn* client : clients) {
        if (!FClients.contains(client))
            continue; // removed by an earlier client's handler
        QEvent msg(CM_SKINCHANGED);
        QCoreApplication::sendEvent(client, &msg);
    }
}

const TKivBtnSkinner::KeyedCorners& TKivBtnSkinner::keyedCorners(const QImage& Bitmap) const {
    const QRgb key = ColorToRgb(FTransparentColor) | 0xFF000000u;
    for (const KeyedCorners& c : FCornerCache)
        if (c.Bitmap == Bitmap.cacheKey() && c.Key == key && c.Fw == FFixedWidth && c.Fh == FFixedHeight)
            return c;
    KeyedCorners c{Bitmap.cacheKey(), key, FFixedWidth, FFixedHeight, {}};
    const int bw = Bitmap.width(), bh = Bitmap.height(), fw = FFixedWidth, fh = FFixedHeight;
    const QPoint at[4] = {{0, 0}, {bw - fw, 0}, {0, bh - fh}, {bw - fw, bh - fh}};
    for (int i = 0; i < 4; ++i) {
        // The same pixels TransparentBlit leaves: everything but the key colour.
        const QImage piece = KeyedImage(Bitmap.copy(at[i].x(), at[i].y(), fw, fh), key);
        c.Pieces[std::size_t(i)] = piece;
    }
    FCornerCache.push_back(std::move(c));
    return FCornerCache.back();
}

void TKivBtnSkinner::DrawSkin(TKivCanvas& Canvas, const TRect& Rect, int State) const {
    const QImage* bmp = nullptr;
    switch (State) {
    case ssNormal:
        bmp = &FBitmapNormal;
        break;
    case ssDown:
        bmp = &FBitmapDown;
        break;
    case ssEnter:
        bmp = &FBitmapEnter;
        break;
    case ssDisabled:
        bmp = &FBitmapDisabled;
        break;
    case ssFocused:
        bmp = &FBitmapFocused;
        break;
    default:
        return;
    }
    if (bmp->isNull())
        bmp = &FBitmapNormal;
    if (bmp->isNull())
        return; // no skin at all: the face stays as the button prepared it
    const QImage& b = *bmp;
    const int bw = b.width(), bh = b.height();

    if (FFixedWidth == 0 && FFixedHeight == 0) {
        if (FTransparent)
            TransparentStretch(Canvas, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), b, 0, 0, bw, bh,
                               FTransparentColor, true);
        else
            Canvas.StretchBlt(Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), b, 0, 0, bw, bh);
        return;
    }

    const int W = Rect.Right, H = Rect.Bottom;
    const int fw = FFixedWidth, fh = FFixedHeight;
    // clNone is no colour: nothing would be left out, so the corners are plain copies.
    const bool keyed = FTransparent && FTransparentColor != clNone;
    const KeyedCorners* pieces = keyed && fw > 0 && fh > 0 ? &keyedCorners(b) : nullptr;
    int cornerNo = 0;
    auto corner = [&](int x, int y, int sx, int sy) {
        if (pieces)
            Canvas.Draw(x, y, pieces->Pieces[std::size_t(cornerNo)]);
        else
            Canvas.BitBlt(x, y, fw, fh, b, sx, sy);
        ++cornerNo;
    };
    corner(0, 0, 0, 0);
    Canvas.StretchBlt(fw, 0, W - 2 * fw, fh, b, fw, 0, bw - 2 * fw, fh);
    corner(W - fw, 0, bw - fw, 0);
    Canvas.StretchBlt(0, fh, fw, H - 2 * fh, b, 0, fh, fw, bh - 2 * fh);
    Canvas.StretchBlt(W - fw, fh, fw, H - 2 * fh, b, bw - fw, fh, fw, bh - 2 * fh);
    corner(0, H - fh, 0, bh - fh);
    Canvas.StretchBlt(fw, H - fh, W - 2 * fw, fh, b, fw, bh - fh, bw - 2 * fw, fh);
    corner(W - fw, H - fh, bw - fw, bh - fh);
    Canvas.StretchBlt(fw, fh, W - 2 * fw, H - 2 * fh, b, fw, fh, bw - 2 * fw, bh - 2 * fh);
}

// ---------------------------------------------------------------------------------------------
// TKivCustomBtn

TKivCustomBtn::TKivCustomBtn(QWidget* parent)
    : QPushButton(parent), FCaptionStyle(std::make_unique<TKivCaptionStyle>()) {
    // The buffer covers every pixel (the parent's background included where the face lets it show),
    // so Qt need not repaint the parent behind the button at every change of its face.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    FCaptionStyle->SetAllowRotation(true);
    FCaptionStyle->OnChanged = [this](QObject*) {
        FFaces.clear();
        ++FFaceGeneration;
        repaint();
    };
    FThemesAvailable = ComCtlVersion6();
    // The face is composed whole in the buffer; Qt need not clear behind it.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setMouseTracking(true);
    if (qApp) {
        FFocusTracking = connect(qApp, &QApplication::focusChanged, this, [this] { updateButtonStyle(); });
        // New fonts may change what the caption's family resolves to.
        connect(qApp, &QGuiApplication::fontDatabaseChanged, this, [this] { InvalidateFace(); });
    }
}

TKivCustomBtn::~TKivCustomBtn() {
    // QWidget's destructor gives the focus away, which would call back into this half-destroyed button.
    QObject::disconnect(FFocusTracking);
    if (FSkinner)
        FSkinner->RemoveClient(this);
    FSkinner = nullptr;
}

void TKivCustomBtn::SetAlignment(TAlignment Value) {
    setAndInvalidate(FAlignment, Value);
}
void TKivCustomBtn::SetLayout(TTextLayout Value) {
    setAndInvalidate(FLayout, Value);
}
void TKivCustomBtn::SetWordWrap(bool Value) {
    setAndInvalidate(FWordWrap, Value);
}
void TKivCustomBtn::SetColor(TColor Value) {
    setAndInvalidate(FColor, Value);
}
void TKivCustomBtn::SetColorFocused(TColor Value) {
    setAndInvalidate(FColorFocused, Value);
}
void TKivCustomBtn::SetColorDown(TColor Value) {
    setAndInvalidate(FColorDown, Value);
}
void TKivCustomBtn::SetColorDisabled(TColor Value) {
    setAndInvalidate(FColorDisabled, Value);
}
void TKivCustomBtn::SetShowDropDownArrow(bool Value) {
    setAndInvalidate(FShowDropDownArrow, Value);
}
void TKivCustomBtn::SetUseGradient(bool Value) {
    setAndInvalidate(FUseGradient, Value);
}
void TKivCustomBtn::SetFlat(bool Value) {
    setAndInvalidate(FFlat, Value);
}
void TKivCustomBtn::SetThemeAware(bool Value) {
    setAndInvalidate(FThemeAware, Value);
}
void TKivCustomBtn::SetTransparent(bool Value) {
    setAndInvalidate(FTransparent, Value);
}
void TKivCustomBtn::SetFontColor(TColor Value) {
    setAndInvalidate(FFontColor, Value);
}

void TKivCustomBtn::SetCaptionStyle(const TKivCaptionStyle* Value) {
    FCaptionStyle->Assign(Value);
}

void TKivCustomBtn::SetDropDownMenu(QMenu* Value) {
    if (Value == FDropDownMenu)
        return;
    // A guarded pointer: a menu that is destroyed reads as none.
    FDropDownMenu = Value;
    if (Value && FShowDropDownArrow)
        InvalidateFace();
}

void TKivCustomBtn::SetSkinner(TKivBtnSkinner* Value) {
    if (Value == FSkinner)
        return;
    if (FSkinner)
        FSkinner->RemoveClient(this);
    FSkinner = Value;
    if (FSkinner)
        FSkinner->AddClient(this);
    InvalidateFace();
}

void TKivCustomBtn::SkinnerDestroyed(TKivBtnSkinner* Sender) {
    if (Sender != FSkinner)
        return;
    FSkinner = nullptr;
    InvalidateFace();
}

void TKivCustomBtn::SetButtonStyle(bool ADefault) {
    if (ADefault == FIsDefault)
        return;
    FIsDefault = ADefault;
    repaint();
}

void TKivCustomBtn::updateButtonStyle() {
    // The active button of the window: the focused one, or the Default one while the focus is on
    // something that is not a push button.
    bool active = hasFocus();
    if (!active && isDefault()) {
        const QWidget* focus = QApplication::focusWidget();
        active = !focus || focus->window() != window() || !qobject_cast<const QPushButton*>(focus);
    }
    SetButtonStyle(active);
}

unsigned TKivCustomBtn::CurrentItemState() const {
    unsigned state = 0;
    if (isDown())
        state |= ODS_SELECTED;
    if (hasFocus())
        state |= ODS_FOCUS;
    if (!isEnabled())
        state |= ODS_DISABLED;
    return state;
}

void TKivCustomBtn::drawFocusRectangle(TKivCanvas& Canvas) {
    Canvas.Pen.Color = clWindowFrame;
    Canvas.Brush.Style = bsSolid;
    Canvas.DrawFocusRect(ClientRect().Inflate(-4, -4));
}

void TKivCustomBtn::DrawFace(TKivCanvas& Canvas, const TDrawItem& DrawItem) {
    TRect R = DrawItem.ItemRect;
    const bool pressed = DrawItem.ItemState & ODS_SELECTED;
    const bool focused = DrawItem.ItemState & ODS_FOCUS;
    const bool enabled = isEnabled();

    if (FTransparent) {
        paintParentBackground(Canvas);
    } else if (FThemeAware && FThemesAvailable) {
        // The window system's own push button (never available here; kept for systems that have it).
        paintParentBackground(Canvas);
        QStyleOptionButton opt;
        opt.initFrom(this);
        opt.rect = R.ToQRect();
        if (DrawItem.ItemState & ODS_DISABLED)
            opt.state &= ~QStyle::State_Enabled;
        else if (pressed)
            opt.state |= QStyle::State_Sunken;
        else if (focused)
            opt.features |= QStyleOptionButton::DefaultButton;
        else if (FMouseInControl)
            opt.state |= QStyle::State_MouseOver;
        style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &Canvas.Painter(), this);
    } else if (FSkinner) {
        if (FSkinner->Transparent())
            paintParentBackground(Canvas);
        int state = ssNormal;
        if (!enabled)
            state = ssDisabled;
        else if (pressed)
            state = ssDown;
        else if (FMouseInControl)
            state = ssEnter;
        else if (FIsDefault)
            state = ssFocused;
        FSkinner->DrawSkin(Canvas, R, state);
        if (FIsDefault && focused && width() > 14 && height() > 14)
            drawFocusRectangle(Canvas);
    } else {
        Canvas.Brush.Style = bsSolid;
        if (!enabled)
            Canvas.Brush.Color = FColorDisabled;
        else if (pressed)
            Canvas.Brush.Color = FColorDown;
        else if (FMouseInControl)
            Canvas.Brush.Color = FColorFocused;
        else
            Canvas.Brush.Color = FColor;
        Canvas.FillRect(R);
        if (!FFlat && (FIsDefault || focused)) {
            Canvas.Pen = TKivPen{clWindowFrame, 1, psSolid};
            Canvas.Brush.Style = bsClear;
            Canvas.Rectangle(R);
            Canvas.Brush.Style = bsSolid;
            R = R.Inflate(-1, -1);
        }
        if (!FFlat) {
            if (pressed)
                Canvas.DrawEdge(R, BDR_RAISEDOUTER, BF_RECT | BF_ADJUST | BF_FLAT);
            else
                Canvas.DrawEdge(R, EDGE_RAISED, BF_RECT);
        }
        if (FFlat && enabled) {
            if (pressed)
                Canvas.DrawEdge(R, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
            else if (FMouseInControl)
                Canvas.DrawEdge(R, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
        }
        if (!FFlat && FIsDefault && focused)
            drawFocusRectangle(Canvas);
    }

    if (HasDropDownArrow()) {
        const TRect c = ClientRect();
        const int x0 = c.Right - 16, ym = (c.Bottom - c.Top) / 2;
        Canvas.Pen.Color = clWindowFrame;
        Canvas.Brush = TKivBrush{clWindowFrame, bsSolid};
        Canvas.Polygon({QPoint(x0 + 4, ym - 1), QPoint(x0 + 10, ym - 1), QPoint(x0 + 7, ym + 2)});
    }
}

void TKivCustomBtn::DrawCaption(TKivCanvas& Canvas, const TRect& Rect) {
    const TKivFont f{font(), FFontColor, 0};
    FCaptionStyle->DrawText(Canvas, text(), f, Rect, FAlignment, FLayout,
                            (FWordWrap ? DT_WORDBREAK : 0u) | DT_EXPANDTABS, !isEnabled());
}

void TKivCustomBtn::DrawContent(TKivCanvas& Canvas, const TDrawItem& DrawItem) {
    TRect r = ClientRect().Inflate(-4, -4);
    if (HasDropDownArrow())
        r.Right -= 12;
    if (DrawItem.ItemState & ODS_SELECTED)
        r = r.Offset(1, 1);
    DrawCaption(Canvas, r);
}

void TKivCustomBtn::InvalidateFace() {
    FFaces.clear();
    ++FFaceGeneration;
    update();
}

bool TKivCustomBtn::FaceKey::operator==(const FaceKey& o) const {
    return Generation == o.Generation && SkinGeneration == o.SkinGeneration && Skinner == o.Skinner &&
           AppPalette == o.AppPalette && Size == o.Size && ItemState == o.ItemState && Enabled == o.Enabled &&
           MouseInControl == o.MouseInControl && IsDefault == o.IsDefault &&
           DropDownArrow == o.DropDownArrow && Text == o.Text && Font == o.Font;
}

TKivCustomBtn::FaceKey TKivCustomBtn::currentFaceKey(const TDrawItem& Item) const {
    FaceKey k;
    k.Generation = FFaceGeneration;
    k.Skinner = FSkinner;
    k.SkinGeneration = FSkinner ? FSkinner->Generation() : 0;
    k.AppPalette = SystemColorPaletteKey(); // system colours in the face
    k.Size = size();
    k.ItemState = Item.ItemState;
    k.Enabled = isEnabled();
    k.MouseInControl = FMouseInControl;
    k.IsDefault = FIsDefault;
    // A guarded menu pointer turns null without telling us.
    k.DropDownArrow = HasDropDownArrow();
    k.Text = text();
    k.Font = font();
    return k;
}

void TKivCustomBtn::paintParentBackground(TKivCanvas& Canvas) {
    FParentBackgroundPainted = true;
    if (!FBackgroundStandIn) {
        DrawParentBackground(this, Canvas);
        return;
    }
    QPainter& p = Canvas.Painter();
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(QRect(QPoint(0, 0), size()), QColor::fromRgba(*FBackgroundStandIn));
    p.restore();
}

QImage TKivCustomBtn::composeFaceOn(QRgb StandIn, const TDrawItem& Item) {
    QImage img(size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    FBackgroundStandIn = StandIn;
    FParentBackgroundPainted = false;
    {
        TKivCanvas canvas(&img);
        DrawFace(canvas, Item);
        DrawContent(canvas, Item);
    }
    FBackgroundStandIn.reset();
    return img;
}

const TKivCustomBtn::CachedFace& TKivCustomBtn::composeFace(const TDrawItem& Item, const FaceKey& Key) {
    for (std::size_t i = 0; i < FFaces.size(); ++i)
        if (FFaces[i].Key == Key) {
            if (i != 0)
                std::rotate(FFaces.begin(), FFaces.begin() + std::ptrdiff_t(i),
                            FFaces.begin() + std::ptrdiff_t(i) + 1);
            return FFaces.front();
        }
    CachedFace face{Key, composeFaceOn(0u, Item), true, FParentBackgroundPainted};
    if (face.NeedsParent) {
        // The face is kept only if, composed on two different backgrounds, every pixel either is
        // that background untouched or is the same opaque colour on both: then it shows exactly
        // the same on the parent's real background, which is painted fresh under it each time.
        const QImage onWhite = composeFaceOn(0xFFFFFFFFu, Item);
        for (int y = 0; y < face.Layer.height() && face.Usable; ++y) {
            const QRgb* a = reinterpret_cast<const QRgb*>(face.Layer.constScanLine(y));
            const QRgb* b = reinterpret_cast<const QRgb*>(onWhite.constScanLine(y));
            for (int x = 0; x < face.Layer.width(); ++x) {
                const bool background = a[x] == 0u && b[x] == 0xFFFFFFFFu;
                const bool opaque = a[x] == b[x] && qAlpha(a[x]) == 255;
                if (!background && !opaque) {
                    face.Usable = false;
                    break;
                }
            }
        }
        if (!face.Usable)
            face.Layer = QImage();
    }
    // A few states of one button: at rest, hot, pressed, default.
    constexpr std::size_t MaxFaces = 4;
    FFaces.insert(FFaces.begin(), std::move(face));
    if (FFaces.size() > MaxFaces)
        FFaces.pop_back();
    return FFaces.front();
}

void TKivCustomBtn::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0)
        return;
    // Qt's Default property sets no event of its own; pick it up here without a second paint.
    {
        bool active = hasFocus();
        if (!active && isDefault()) {
            const QWidget* focus = QApplication::focusWidget();
            active = !focus || focus->window() != window() || !qobject_cast<const QPushButton*>(focus);
        }
        FIsDefault = active;
    }
    const TDrawItem item{CurrentItemState(), ClientRect()};
    const CachedFace* face = ContentCacheable() ? &composeFace(item, currentFaceKey(item)) : nullptr;
    FLastPaintKept = face && face->Usable;
    if (FLastPaintKept) {
        if (face->NeedsParent) {
            if (FBuffer.size() != size())
                FBuffer = QImage(size(), QImage::Format_ARGB32_Premultiplied);
            FBuffer.fill(Qt::transparent);
            TKivCanvas canvas(&FBuffer);
            DrawParentBackground(this, canvas);
            canvas.Draw(0, 0, face->Layer);
        } else {
            FBuffer = face->Layer;
        }
        ContentReplayed(item);
    } else {
        if (FBuffer.size() != size())
            FBuffer = QImage(size(), QImage::Format_ARGB32_Premultiplied);
        FBuffer.fill(Qt::transparent);
        TKivCanvas canvas(&FBuffer);
        DrawFace(canvas, item);
        DrawContent(canvas, item);
    }
    // One block copy, so the face never flickers.
    QPainter p(this);
    p.drawImage(0, 0, FBuffer);
}

bool TKivCustomBtn::event(QEvent* e) {
    if (e->type() == CM_SKINCHANGED) {
        InvalidateFace();
        return true;
    }
    return QPushButton::event(e);
}

void TKivCustomBtn::changeEvent(QEvent* e) {
    // Font, palette, style, enabled state, direction...: whatever changed, a kept face may show it.
    FFaces.clear();
    ++FFaceGeneration;
    QPushButton::changeEvent(e);
    switch (e->type()) {
    case QEvent::EnabledChange:
    case QEvent::FontChange:
        update();
        break;
    case QEvent::StyleChange:
        FThemesAvailable = ComCtlVersion6();
        update();
        break;
    default:
        break;
    }
}

void TKivCustomBtn::MouseEnter() {
    if (isEnabled())
        repaint();
}

void TKivCustomBtn::MouseLeave() {
    if (isEnabled())
        repaint();
}

void TKivCustomBtn::enterEvent(QEnterEvent* e) {
    QPushButton::enterEvent(e);
    if (isEnabled() && !FMouseInControl) {
        FMouseInControl = true;
        MouseEnter();
    }
}

void TKivCustomBtn::leaveEvent(QEvent* e) {
    QPushButton::leaveEvent(e);
    if (isEnabled() && FMouseInControl) {
        FMouseInControl = false;
        MouseLeave();
    }
}

void TKivCustomBtn::DropDown() {
    if (FDropDownMenu)
        FDropDownMenu->exec(mapToGlobal(QPoint(0, height())));
}

void TKivCustomBtn::mousePressEvent(QMouseEvent* e) {
    QPushButton::mousePressEvent(e);
    if (!FDropDownMenu || e->button() != Qt::LeftButton || e->buttons() != Qt::LeftButton ||
        e->modifiers() != Qt::NoModifier)
        return;
    const qint64 t = tickCount();
    if (FLastDropDownTick > 0 && t < FLastDropDownTick + 100) {
        // This press is the one that closed the menu: it neither clicks nor reopens it.
        FSuppressClick = true;
        FLastDropDownTick = 0;
        setDown(false);
        return;
    }
    QPointer<TKivCustomBtn> self(this);
    DropDown();
    if (!self)
        return;
    FSuppressClick = true;
    FLastDropDownTick = tickCount();
    // The menu took the release; the button must not stay pushed in.
    setDown(false);
}

void TKivCustomBtn::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && FSuppressClick) {
        FSuppressClick = false;
        setDown(false);
        e->accept();
        return;
    }
    QPushButton::mouseReleaseEvent(e);
}

void TKivCustomBtn::mouseDoubleClickEvent(QMouseEvent* e) {
    // A second press, as the system's owner-drawn buttons take it.
    mousePressEvent(e);
}

void TKivCustomBtn::focusInEvent(QFocusEvent* e) {
    QPushButton::focusInEvent(e);
    updateButtonStyle();
}

void TKivCustomBtn::focusOutEvent(QFocusEvent* e) {
    QPushButton::focusOutEvent(e);
    updateButtonStyle();
}

// ---------------------------------------------------------------------------------------------
// TKivBitBtn

TKivBitBtn::TKivBitBtn(QWidget* parent) : TKivButton(parent) {
    FImageChangeLink.OnChange = [this](TImageList* Sender) {
        if (Sender == FImages)
            InvalidateFace();
    };
    FImageChangeLink.OnRemoved = [this](TImageList* Sender) {
        if (Sender == FImages) {
            FImages = nullptr;
            InvalidateFace();
        }
    };
}

TKivBitBtn::~TKivBitBtn() {
    if (FImages)
        FImages->UnRegisterChanges(&FImageChangeLink);
    FImages = nullptr;
}

void TKivBitBtn::SetGlyphLayout(TButtonLayout Value) {
    if (Value == FGlyphLayout)
        return;
    FGlyphLayout = Value;
    InvalidateFace();
}

void TKivBitBtn::SetSpacing(int Value) {
    if (Value == FSpacing)
        return;
    FSpacing = Value;
    InvalidateFace();
}

void TKivBitBtn::SetMargin(int Value) {
    if (Value == FMargin || Value < -1)
        return;
    FMargin = Value;
    InvalidateFace();
}

void TKivBitBtn::SetGlyph(const QImage& Value) {
    FGlyph = Value;
    const int w = FGlyph.width(), h = FGlyph.height();
    if (h != 0 && w % h == 0) {
        const int n = w / h;
        FNumGlyphs = (n > 4 || n < 1) ? 1 : n;
    }
    InvalidateFace();
}

void TKivBitBtn::SetNumGlyphs(int Value) {
    if (Value == FNumGlyphs || Value < 1 || Value > 4)
        return;
    FNumGlyphs = Value;
    InvalidateFace();
}

void TKivBitBtn::SetImages(TImageList* Value) {
    if (Value == FImages)
        return;
    if (FImages)
        FImages->UnRegisterChanges(&FImageChangeLink);
    FImages = Value;
    if (FImages)
        FImages->RegisterChanges(&FImageChangeLink);
    InvalidateFace();
}

void TKivBitBtn::SetImageIndex(int Value) {
    if (Value == FImageIndex)
        return;
    FImageIndex = Value;
    InvalidateFace();
}

void TKivBitBtn::CalcLayout(const TRect& CR) {
    FTextRect = CR.Inflate(-4, -4);
    if (HasDropDownArrow())
        FTextRect.Right -= 12;
    if (FGlyph.isNull() && !usesImages()) {
        FGlyphRect = TRect();
        return;
    }
    int gw, gh;
    if (usesImages()) {
        gw = FImages->Width();
        gh = FImages->Height();
    } else {
        gw = FGlyph.width() / FNumGlyphs;
        gh = FGlyph.height();
    }
    FGlyphRect = PlaceBoxBesideText(FTextRect, FGlyphLayout, gw, gh, FMargin, FSpacing);
}

void TKivBitBtn::ContentReplayed(const TDrawItem& DrawItem) {
    CalcLayout(ClientRect());
    if (DrawItem.ItemState & ODS_SELECTED) {
        FGlyphRect = FGlyphRect.Offset(1, 1);
        FTextRect = FTextRect.Offset(1, 1);
    }
}

void TKivBitBtn::DrawContent(TKivCanvas& Canvas, const TDrawItem& DrawItem) {
    ContentReplayed(DrawItem);
    DrawCaption(Canvas, FTextRect);
    if (usesImages()) {
        FImages->Draw(Canvas, FGlyphRect.Left, FGlyphRect.Top, FImageIndex, isEnabled());
        return;
    }
    if (FGlyph.isNull())
        return;
    const int gw = FGlyph.width() / FNumGlyphs, gh = FGlyph.height();
    if (gw <= 0 || gh <= 0)
        return;
    const int cell = (FNumGlyphs <= 1 || isEnabled()) ? 0 : 1;
    QImage piece = FGlyph.copy(cell * gw, 0, gw, gh).convertToFormat(QImage::Format_ARGB32);
    // Automatic transparent colour: the cell's bottom-left pixel.
    piece = KeyedImage(piece, piece.pixel(0, gh - 1));
    if (FNumGlyphs == 1 && !isEnabled())
        DrawDisabledGlyph(Canvas, FGlyphRect, piece, 0);
    else
        Canvas.Draw(FGlyphRect.Left, FGlyphRect.Top, piece);
}

TRect PlaceBoxBesideText(TRect& TextRect, TButtonLayout Side, int W, int H, int Margin, int Spacing) {
    TRect r = TextRect;
    switch (Side) {
    case blGlyphLeft:
        r.Left += Margin;
        r.Right = r.Left + W;
        r.Top += (r.Height() - H) / 2;
        r.Bottom = r.Top + H;
        TextRect.Left = r.Right + Spacing;
        break;
    case blGlyphRight:
        r.Right -= Margin;
        r.Left = r.Right - W;
        r.Top += (r.Height() - H) / 2;
        r.Bottom = r.Top + H;
        TextRect.Right = r.Left - Spacing;
        break;
    case blGlyphTop:
        r.Top += Margin;
        r.Bottom = r.Top + H;
        r.Left += (r.Width() - W) / 2;
        r.Right = r.Left + W;
        TextRect.Top = r.Bottom + Spacing;
        break;
    case blGlyphBottom:
        r.Bottom -= Margin;
        r.Top = r.Bottom - H;
        r.Left += (r.Width() - W) / 2;
        r.Right = r.Left + W;
        TextRect.Bottom = r.Top - Spacing;
        break;
    }
    return r;
}
