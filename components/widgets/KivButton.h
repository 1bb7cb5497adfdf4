#pragma once
// Owner-drawn push buttons that compose their face off-screen (plain, skinned or transparent), the
// image button, and the skinner that paints one shared set of state bitmaps into many buttons.

#include "ImageList.h"
#include "KivCaptionStyle.h"
#include "KivColor.h"
#include "KivCommon.h"
#include "KivDataServer.h"
#include "KivGraphics.h"

#include <QEvent>
#include <QImage>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QPushButton>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TKivCustomBtn;

// Sent by a skinner to its buttons when a bitmap or setting changed.
inline constexpr QEvent::Type CM_SKINCHANGED = static_cast<QEvent::Type>(CM_BASE + 2000);

// State picked from a skinner's bitmaps.
enum TKivSkinState : std::uint8_t { ssNormal, ssDown, ssEnter, ssDisabled, ssFocused };

// Owner-draw item state flags, with the Windows values.
enum : unsigned { ODS_SELECTED = 0x1, ODS_GRAYED = 0x2, ODS_DISABLED = 0x4, ODS_FOCUS = 0x10 };

// What a repaint is asked to draw: the item's state flags and rectangle.
struct TDrawItem {
    unsigned ItemState = 0;
    TRect ItemRect;
};

// One bitmap per button state, painted in nine pieces into every button that uses it.
class TKivBtnSkinner : public QObject {
    Q_OBJECT
    Q_PROPERTY(QImage BitmapDisabled READ BitmapDisabled WRITE SetBitmapDisabled)
    Q_PROPERTY(QImage BitmapDown READ BitmapDown WRITE SetBitmapDown)
    Q_PROPERTY(QImage BitmapEnter READ BitmapEnter WRITE SetBitmapEnter)
    Q_PROPERTY(QImage BitmapFocused READ BitmapFocused WRITE SetBitmapFocused)
    Q_PROPERTY(QImage BitmapNormal READ BitmapNormal WRITE SetBitmapNormal)
    Q_PROPERTY(int FixedHeight READ FixedHeight WRITE SetFixedHeight)
    Q_PROPERTY(int FixedWidth READ FixedWidth WRITE SetFixedWidth)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(TColor TransparentColor READ TransparentColor WRITE SetTransparentColor)

public:
    explicit TKivBtnSkinner(QObject* parent = nullptr);
    ~TKivBtnSkinner() override;

    const QImage& BitmapDown() const { return FBitmapDown; }
    void SetBitmapDown(const QImage& Value);
    const QImage& BitmapNormal() const { return FBitmapNormal; }
    void SetBitmapNormal(const QImage& Value);
    const QImage& BitmapEnter() const { return FBitmapEnter; }
    void SetBitmapEnter(const QImage& Value);
    const QImage& BitmapDisabled() const { return FBitmapDisabled; }
    void SetBitmapDisabled(const QImage& Value);
    const QImage& BitmapFocused() const { return FBitmapFocused; }
    void SetBitmapFocused(const QImage& Value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    int FixedHeight() const { return FFixedHeight; }
    void SetFixedHeight(int Value);
    int FixedWidth() const { return FFixedWidth; }
    void SetFixedWidth(int Value);
    TColor TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(TColor Value);

    const QList<TKivCustomBtn*>& Clients() const { return FClients; }
    void AddClient(TKivCustomBtn* Button);
    void RemoveClient(TKivCustomBtn* Button);
    // Tells every client to repaint.
    void NotifyClients();
    // Counts the changes announced to the clients, so a client can tell whether a face it kept
    // is still the skin's.
    quint64 Generation() const { return FGeneration; }

    // Paints the bitmap of State into Rect (which starts at the canvas origin when stretched in
    // nine pieces); an empty state bitmap falls back to BitmapNormal.
    void DrawSkin(TKivCanvas& Canvas, const TRect& Rect, int State) const;

private:
    QImage FBitmapDown;
    QImage FBitmapNormal;
    QImage FBitmapEnter;
    QImage FBitmapDisabled;
    bool FTransparent = true;
    int FFixedHeight = 3;
    int FFixedWidth = 3;
    QImage FBitmapFocused;
    QList<TKivCustomBtn*> FClients;
    TColor FTransparentColor = clNone;
    bool FDestroying = false;
    quint64 FGeneration = 0;
    // Corner pieces with the transparent colour already left out, per bitmap and key colour: every
    // repaint of every client would otherwise build the same masks again.
    struct KeyedCorners {
        qint64 Bitmap = 0;
        QRgb Key = 0;
        int Fw = 0, Fh = 0;
        std::array<QImage, 4> Pieces;
    };
    mutable std::vector<KeyedCorners> FCornerCache;
    const KeyedCorners& keyedCorners(const QImage& Bitmap) const;

    void assignBitmap(QImage& Target, const QImage& Value);
};

// A push button that draws its whole face itself: composed in Buffer, then copied in one block.
class TKivCustomBtn : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(TTextLayout Layout READ Layout WRITE SetLayout)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(TColor Color READ Color WRITE SetColor)
    Q_PROPERTY(TColor ColorFocused READ ColorFocused WRITE SetColorFocused)
    Q_PROPERTY(TColor ColorDown READ ColorDown WRITE SetColorDown)
    Q_PROPERTY(TColor ColorDisabled READ ColorDisabled WRITE SetColorDisabled)
    Q_PROPERTY(TColor FontColor READ FontColor WRITE SetFontColor)
    Q_PROPERTY(bool ShowDropDownArrow READ ShowDropDownArrow WRITE SetShowDropDownArrow)
    Q_PROPERTY(bool UseGradient READ UseGradient WRITE SetUseGradient)
    Q_PROPERTY(bool Flat READ Flat WRITE SetFlat)
    Q_PROPERTY(bool ThemeAware READ ThemeAware WRITE SetThemeAware)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(TKivBtnSkinner* Skinner READ Skinner WRITE SetSkinner)
    Q_PROPERTY(QMenu* DropDownMenu READ DropDownMenu WRITE SetDropDownMenu)

public:
    explicit TKivCustomBtn(QWidget* parent = nullptr);
    ~TKivCustomBtn() override;

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout Value);
    bool IsDefault() const { return FIsDefault; }
    TKivCaptionStyle* CaptionStyle() const { return FCaptionStyle.get(); }
    void SetCaptionStyle(const TKivCaptionStyle* Value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    TColor ColorFocused() const { return FColorFocused; }
    void SetColorFocused(TColor Value);
    bool MouseInControl() const { return FMouseInControl; }
    QMenu* DropDownMenu() const { return FDropDownMenu; }
    void SetDropDownMenu(QMenu* Value);
    bool ShowDropDownArrow() const { return FShowDropDownArrow; }
    void SetShowDropDownArrow(bool Value);
    qint64 LastDropDownTick() const { return FLastDropDownTick; }
    bool SuppressClick() const { return FSuppressClick; }
    TKivBtnSkinner* Skinner() const { return FSkinner; }
    void SetSkinner(TKivBtnSkinner* Value);
    const QImage& Buffer() const { return FBuffer; }
    TColor ColorDown() const { return FColorDown; }
    void SetColorDown(TColor Value);
    TColor ColorDisabled() const { return FColorDisabled; }
    void SetColorDisabled(TColor Value);
    bool UseGradient() const { return FUseGradient; }
    void SetUseGradient(bool Value);
    bool Flat() const { return FFlat; }
    void SetFlat(bool Value);
    bool ThemeAware() const { return FThemeAware; }
    void SetThemeAware(bool Value);
    bool ThemesAvailable() const { return FThemesAvailable; }
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    // Qt fonts carry no colour; the caption's colour lives here.
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor Value);

    // The framework's button-style call: whether the button now acts as its window's default
    // button. Repaints at once when that changes.
    void SetButtonStyle(bool ADefault);

    // The face and the content of one repaint, into Canvas (the off-screen buffer).
    void DrawFace(TKivCanvas& Canvas, const TDrawItem& DrawItem);
    void DrawCaption(TKivCanvas& Canvas, const TRect& Rect);
    // The client rectangle.
    TRect ClientRect() const { return TRect(0, 0, width(), height()); }

    // Called by a skinner that is going away.
    void SkinnerDestroyed(TKivBtnSkinner* Sender);

protected:
    virtual void DrawContent(TKivCanvas& Canvas, const TDrawItem& DrawItem);
    virtual void MouseEnter();
    virtual void MouseLeave();
    // Shows the drop-down menu below the button and returns when it closes.
    virtual void DropDown();

    // The item state a repaint now would be given.
    unsigned CurrentItemState() const;
    // Whether a face composed once may be shown again while nothing it depends on has changed.
    // A subclass whose content reads the face around it in ways other than pixel by pixel, or
    // depends on anything but the button's properties, answers false.
    virtual bool ContentCacheable() const { return true; }
    // Called instead of DrawContent when a kept face is shown: the state a paint leaves behind
    // (such as a layout) must still be set.
    virtual void ContentReplayed(const TDrawItem& DrawItem) { Q_UNUSED(DrawItem); }
    // Something the face depends on changed: forget the kept faces and repaint later.
    void InvalidateFace();
    // Whether the last paint showed a kept face rather than composing one.
    bool LastPaintUsedKeptFace() const { return FLastPaintKept; }
    bool HasDropDownArrow() const { return FShowDropDownArrow && FDropDownMenu; }

    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    TAlignment FAlignment = taCenter;
    TTextLayout FLayout = tlCenter;
    bool FIsDefault = false;
    std::unique_ptr<TKivCaptionStyle> FCaptionStyle;
    bool FWordWrap = true;
    TColor FColor = clBtnFace;
    TColor FColorFocused = clBtnFace;
    bool FMouseInControl = false;
    QPointer<QMenu> FDropDownMenu;
    bool FShowDropDownArrow = false;
    qint64 FLastDropDownTick = 0;
    bool FSuppressClick = false;
    TKivBtnSkinner* FSkinner = nullptr;
    QImage FBuffer;
    TColor FColorDown = clBtnFace;
    TColor FColorDisabled = clBtnFace;
    bool FUseGradient = false;
    bool FFlat = false;
    bool FThemeAware = true;
    bool FThemesAvailable = false;
    bool FTransparent = false;
    TColor FFontColor = clWindowText;
    QMetaObject::Connection FFocusTracking;

    // Faces composed without the parent's background, which is painted fresh under them: all that
    // a face depends on besides the parent is in its key.
    struct FaceKey {
        quint64 Generation = 0;
        quint64 SkinGeneration = 0;
        const TKivBtnSkinner* Skinner = nullptr;
        qint64 AppPalette = 0;
        QSize Size;
        unsigned ItemState = 0;
        bool Enabled = false;
        bool MouseInControl = false;
        bool IsDefault = false;
        bool DropDownArrow = false;
        QString Text;
        QFont Font;
        bool operator==(const FaceKey& o) const;
    };
    struct CachedFace {
        FaceKey Key;
        QImage Layer;        // transparent where the parent's background shows
        bool Usable = false; // false: this face depends on its background; paint it directly
        bool NeedsParent = false;
    };
    std::vector<CachedFace> FFaces;
    quint64 FFaceGeneration = 0;
    // While a face is composed for keeping, the parent's background is this uniform colour.
    std::optional<QRgb> FBackgroundStandIn;
    bool FParentBackgroundPainted = false;
    bool FLastPaintKept = false;

    void paintParentBackground(TKivCanvas& Canvas);
    FaceKey currentFaceKey(const TDrawItem& Item) const;
    const CachedFace& composeFace(const TDrawItem& Item, const FaceKey& Key);
    QImage composeFaceOn(QRgb StandIn, const TDrawItem& Item);

    void drawFocusRectangle(TKivCanvas& Canvas);
    void updateButtonStyle();
    template <typename T> void setAndInvalidate(T& Field, const T& Value) {
        if (Field == Value)
            return;
        Field = Value;
        InvalidateFace();
    }
};

// The published button.
class TKivButton : public TKivCustomBtn {
    Q_OBJECT
public:
    explicit TKivButton(QWidget* parent = nullptr) : TKivCustomBtn(parent) {}
};

enum TButtonLayout : std::uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// Places a W x H box (a glyph, a lamp) inside TextRect against Side, Margin from that edge and centred
// across it, and moves TextRect's edge past the box by Spacing. Returns the box.
TRect PlaceBoxBesideText(TRect& TextRect, TButtonLayout Side, int W, int H, int Margin, int Spacing);

// A button with a glyph, from its own bitmap (up to four cells side by side) or from an image list.
class TKivBitBtn : public TKivButton {
    Q_OBJECT
    Q_PROPERTY(TButtonLayout GlyphLayout READ GlyphLayout WRITE SetGlyphLayout)
    Q_PROPERTY(int Spacing READ Spacing WRITE SetSpacing)
    Q_PROPERTY(int Margin READ Margin WRITE SetMargin)
    Q_PROPERTY(QImage Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)
    Q_PROPERTY(TImageList* Images READ Images WRITE SetImages)
    Q_PROPERTY(int ImageIndex READ ImageIndex WRITE SetImageIndex)

public:
    explicit TKivBitBtn(QWidget* parent = nullptr);
    ~TKivBitBtn() override;

    TButtonLayout GlyphLayout() const { return FGlyphLayout; }
    void SetGlyphLayout(TButtonLayout Value);
    int Spacing() const { return FSpacing; }
    void SetSpacing(int Value);
    int Margin() const { return FMargin; }
    void SetMargin(int Value);
    TRect GlyphRect() const { return FGlyphRect; }
    TRect TextRect() const { return FTextRect; }
    const QImage& Glyph() const { return FGlyph; }
    void SetGlyph(const QImage& Value);
    int NumGlyphs() const { return FNumGlyphs; }
    void SetNumGlyphs(int Value);
    TImageList* Images() const { return FImages; }
    void SetImages(TImageList* Value);
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int Value);

    // Lays out glyph and caption in the client rectangle CR.
    void CalcLayout(const TRect& CR);

protected:
    void DrawContent(TKivCanvas& Canvas, const TDrawItem& DrawItem) override;
    void ContentReplayed(const TDrawItem& DrawItem) override;

private:
    TButtonLayout FGlyphLayout = blGlyphLeft;
    int FSpacing = 4;
    int FMargin = 2;
    TRect FGlyphRect;
    TRect FTextRect;
    QImage FGlyph;
    int FNumGlyphs = 1;
    TImageList* FImages = nullptr;
    int FImageIndex = -1;
    TChangeLink FImageChangeLink;

    bool usesImages() const { return FImages && FImageIndex != -1; }
};
