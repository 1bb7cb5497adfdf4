#pragma once
// The widget library's drawing layer: Windows-style drawing operations on QPainter and QImage that
// give the same pixels as the Windows graphics interface, and the library's drawing routines.
// Widgets draw only through this layer, so their look is defined in one place.

#include "KivColor.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QWidget;

// A rectangle as the Windows graphics interface sees it: Right and Bottom lie just outside.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    constexpr TRect() = default;
    constexpr TRect(int left, int top, int right, int bottom)
        : Left(left), Top(top), Right(right), Bottom(bottom) {}
    static TRect FromQRect(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

    constexpr int Width() const { return Right - Left; }
    constexpr int Height() const { return Bottom - Top; }
    constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    constexpr TRect Offset(int dx, int dy) const { return {Left + dx, Top + dy, Right + dx, Bottom + dy}; }
    constexpr TRect Inflate(int dx, int dy) const { return {Left - dx, Top - dy, Right + dx, Bottom + dy}; }
    friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

// A font with its colour and its escapement (tenths of a degree, counter-clockwise).
struct TKivFont {
    QFont Font;
    TColor Color = clWindowText;
    int Escapement = 0;
};

enum TKivPenStyle : std::uint8_t { psSolid, psDash, psDot, psClear };

struct TKivPen {
    TColor Color = clBlack;
    int Width = 1;
    TKivPenStyle Style = psSolid;
};

enum TKivBrushStyle : std::uint8_t { bsSolid, bsClear };

struct TKivBrush {
    TColor Color = clWhite;
    TKivBrushStyle Style = bsSolid;
};

// System edge kinds and flags, with the Windows values.
enum : unsigned {
    BDR_RAISEDOUTER = 0x1,
    BDR_SUNKENOUTER = 0x2,
    BDR_RAISEDINNER = 0x4,
    BDR_SUNKENINNER = 0x8,
    EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER,
    EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER,
    EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER,
    EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER,

    BF_LEFT = 0x1,
    BF_TOP = 0x2,
    BF_RIGHT = 0x4,
    BF_BOTTOM = 0x8,
    BF_RECT = 0xF,
    BF_DIAGONAL = 0x10,
    BF_DIAGONAL_ENDTOPRIGHT = BF_DIAGONAL | BF_TOP | BF_RIGHT,
    BF_DIAGONAL_ENDTOPLEFT = BF_DIAGONAL | BF_TOP | BF_LEFT,
    BF_DIAGONAL_ENDBOTTOMLEFT = BF_DIAGONAL | BF_BOTTOM | BF_LEFT,
    BF_DIAGONAL_ENDBOTTOMRIGHT = BF_DIAGONAL | BF_BOTTOM | BF_RIGHT,
    BF_MIDDLE = 0x800,
    BF_SOFT = 0x1000,
    BF_ADJUST = 0x2000,
    BF_FLAT = 0x4000,
    BF_MONO = 0x8000,
};

// Text drawing flags, with the Windows values.
enum : unsigned {
    DT_LEFT = 0x0,
    DT_CENTER = 0x1,
    DT_RIGHT = 0x2,
    DT_VCENTER = 0x4,
    DT_BOTTOM = 0x8,
    DT_WORDBREAK = 0x10,
    DT_SINGLELINE = 0x20,
    DT_EXPANDTABS = 0x40,
    DT_NOCLIP = 0x100,
    DT_CALCRECT = 0x400,
    DT_NOPREFIX = 0x800,
};

// Raster operations of block copies.
enum TKivRasterOp : std::uint8_t { ropSrcCopy, ropSrcAnd, ropSrcPaint, ropSrcInvert, ropNotSrcCopy };

enum TKivFillStyle : std::uint8_t { fsSurface, fsBorder };

// A drawing surface with a current pen, brush and font, like a Windows device context. It either
// paints on a device of its own (usually a QImage buffer) or borrows a painter that is already
// active (a widget's paint event); either way antialiasing is off. Operations that read pixels
// back (flood fill, the disabled glyph's background) need an image device.
class TKivCanvas {
public:
    explicit TKivCanvas(QPaintDevice* device);
    explicit TKivCanvas(QPainter& painter);
    ~TKivCanvas();
    TKivCanvas(const TKivCanvas&) = delete;
    TKivCanvas& operator=(const TKivCanvas&) = delete;

    TKivPen Pen;
    TKivBrush Brush;
    TKivFont Font;

    QPainter& Painter() { return *FPainter; }
    // The image painted on, or nullptr when the device is not an image.
    QImage* Image() const;

    // Fills with the brush, right and bottom edge excluded.
    void FillRect(const TRect& r);
    void FillRect(const TRect& r, TColor color);
    // Outline with the pen and inside with the brush, within (l, t)..(r - 1, b - 1).
    void Rectangle(const TRect& r);
    // The ellipse inscribed in r, right and bottom edge excluded.
    void Ellipse(const TRect& r);
    // Counter-clockwise from the ray through start to the ray through end; equal rays give the
    // whole ellipse.
    void Arc(const TRect& r, QPoint start, QPoint end);
    void Polygon(const std::vector<QPoint>& points);
    void MoveTo(int x, int y);
    // Draws from the current position up to, but not including, (x, y).
    void LineTo(int x, int y);
    void SetPixel(int x, int y, TColor color);
    // 4-connected fill with the brush from (x, y): fsSurface replaces the area of the colour given,
    // fsBorder fills up to the colour given.
    void FloodFill(int x, int y, TColor color, TKivFillStyle style);
    // The dotted focus rectangle, drawn by inverting every other pixel (drawing it twice removes it).
    void DrawFocusRect(const TRect& r);

    // A system edge; with BF_ADJUST r becomes the area inside it, with BF_MIDDLE that area is filled.
    // BF_DIAGONAL draws a 45-degree line of min(width, height) pixels ending in the corner that the
    // side flags name (a second layer one pixel further inside); it leaves r as it is.
    void DrawEdge(TRect& r, unsigned edge, unsigned flags);
    // A push button face as the system draws it, raised or pushed; r becomes the inside.
    void DrawPushButton(TRect& r, bool pushed);

    // Formatted text in r; with DT_CALCRECT nothing is drawn and r's right and bottom are set to
    // the text's extent. Returns the text's height.
    // With a path given, the text's outline is added to it instead of being drawn.
    int DrawText(const QString& text, TRect& r, unsigned format, QPainterPath* path = nullptr);
    // One line of text with its top-left corner (rotated by the font's escapement) at (x, y).
    void TextOut(int x, int y, const QString& text);
    QSize TextExtent(const QString& text) const;
    int TextWidth(const QString& text) const { return TextExtent(text).width(); }
    int TextHeight(const QString& text) const { return TextExtent(text).height(); }
    // The outline of TextOut's text, for StrokeAndFillPath.
    QPainterPath TextPath(int x, int y, const QString& text) const;
    // Fills the path with the brush, then strokes it with the pen.
    void StrokeAndFillPath(const QPainterPath& path);

    // Draws an image with its own transparency at (x, y).
    void Draw(int x, int y, const QImage& image);
    // Block copies of an image piece, optionally stretched (nearest pixel), with a raster operation.
    void BitBlt(int x, int y, int w, int h, const QImage& source, int sx, int sy,
                TKivRasterOp rop = ropSrcCopy);
    void StretchBlt(int x, int y, int w, int h, const QImage& source, int sx, int sy, int sw, int sh,
                    TKivRasterOp rop = ropSrcCopy);

private:
    std::unique_ptr<QPainter> FOwnedPainter;
    QPainter* FPainter;
    QPoint FPenPos;

    void applyRasterOp(TKivRasterOp rop);
    void hLine(int x0, int x1, int y, QRgb rgb); // x0..x1 inclusive
    void vLine(int x, int y0, int y1, QRgb rgb); // y0..y1 inclusive
};

// The drawing font for whole-pixel text like the Windows one: full hinting, no smoothing, no kerning.
QFont GdiFont(const QFont& font);

// Mask of the key colour: 0xffffffff where the image has the key colour, 0xff000000 elsewhere.
QImage CreateMask(const QImage& image, QRgb key);
// A copy of the image in which pixels of the key colour are fully transparent.
QImage KeyedImage(const QImage& image, QRgb key);

// Moves the points 0..highIndex by (dx, dy).
void OffsetPoints(QPoint* points, int highIndex, int dx, int dy);
// Rotates about the origin, counter-clockwise in the maths sense, by angle degrees.
QPoint RotatePoint(QPoint p, double angle);
// The rectangle holding r's corners rotated by angle degrees about r's middle.
TRect RotateRect(const TRect& r, double angle);

// Paints what the control's parent shows behind the control: its background and its own picture.
void DrawParentBackground(QWidget* control, TKivCanvas& canvas);

// Copies the w x h piece at (sx, sy) of bitmap to (x, y), leaving out the key colour: bitmap's
// pixel (0, 0) when useCornerPixel, otherwise color.
void TransparentBlit(TKivCanvas& dc, int x, int y, int w, int h, const QImage& bitmap, int sx, int sy,
                     TColor color, bool useCornerPixel);
// Stretches the piece (sx, sy, sw, sh) of bitmap onto (x, y, w, h), leaving out the key colour.
void TransparentStretch(TKivCanvas& dc, int x, int y, int w, int h, const QImage& bitmap, int sx, int sy,
                        int sw, int sh, TColor color, bool useCornerPixel);
// Draws glyph as a disabled relief of the background at r's top-left corner; mode 0..2, 0 strongest.
void DrawDisabledGlyph(TKivCanvas& canvas, const TRect& r, const QImage& glyph, int mode);
// Whether the visual-style button drawing is available (never on this window system).
bool ComCtlVersion6();
