#include "KivGraphics.h"

#include "OrvaneErrors.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QTransform>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <list>
#include <memory>
#include <numbers>

namespace {

// Rounds like the original drawing code: to the nearest integer, halves to even.
int roundInt(double v) {
    return static_cast<int>(std::nearbyint(v));
}

QColor qcolor(TColor c) {
    return ColorToQColor(c);
}

QPainter::CompositionMode compositionFor(TKivRasterOp rop) {
    switch (rop) {
    case ropSrcAnd:
        return QPainter::RasterOp_SourceAndDestination;
    case ropSrcPaint:
        return QPainter::RasterOp_SourceOrDestination;
    case ropSrcInvert:
        return QPainter::RasterOp_SourceXorDestination;
    case ropNotSrcCopy:
        return QPainter::RasterOp_NotSource;
    case ropSrcCopy:
        break;
    }
    return QPainter::CompositionMode_Source;
}

// One line of laid-out text: a piece [Start, End) of the prefix-processed text.
struct TextLine {
    int Start;
    int End;
};

struct TextLayoutResult {
    QString Text;       // the text with '&' prefixes resolved
    int Underline = -1; // index in Text of the character to underline
    std::vector<TextLine> Lines;
};

QString resolvePrefixes(const QString& text, int& underline) {
    QString out;
    out.reserve(text.size());
    underline = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != u'&')
                underline = static_cast<int>(out.size());
        }
        out += text[i];
    }
    return out;
}

// Tab stops every eight average characters, the average taken over the alphabet as the
// Windows text metrics do.
int tabWidth(const QFontMetrics& fm) {
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int average = (fm.horizontalAdvance(alphabet) / 26 + 1) / 2;
    return 8 * std::max(1, average);
}

// Calls piece(x, text) for each run of the line between tabs, x being where the run starts; tabs
// move to the next stop only when expanded, otherwise the line is one run.
template <typename F>
void forEachRun(QStringView s, bool expandTabs, int tabW, const QFontMetrics& fm, F&& piece) {
    int x = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype tab = expandTabs ? s.indexOf(u'\t', from) : -1;
        const QString run = s.mid(from, (tab < 0 ? s.size() : tab) - from).toString();
        piece(x, from, run);
        x += fm.horizontalAdvance(run);
        if (tab < 0)
            return;
        x = (x / tabW + 1) * tabW;
        from = tab + 1;
    }
}

int pieceWidth(const QFontMetrics& fm, QStringView s, bool expandTabs, int tabW) {
    int width = 0;
    forEachRun(s, expandTabs, tabW, fm,
               [&](int x, qsizetype, const QString& run) { width = x + fm.horizontalAdvance(run); });
    return width;
}

TextLayoutResult layoutText(const QString& source, unsigned format, int width, const QFontMetrics& fm,
                            int tabW) {
    TextLayoutResult res;
    if (format & DT_NOPREFIX)
        res.Text = source;
    else
        res.Text = resolvePrefixes(source, res.Underline);
    const QString& s = res.Text;
    const bool expand = format & DT_EXPANDTABS;
    const int n = static_cast<int>(s.size());
    if (format & DT_SINGLELINE) {
        res.Lines.push_back({0, n});
        return res;
    }
    int start = 0;
    while (start <= n) {
        // One paragraph up to CR, LF or CR LF.
        int end = start;
        while (end < n && s[end] != u'\r' && s[end] != u'\n')
            ++end;
        if (!(format & DT_WORDBREAK)) {
            res.Lines.push_back({start, end});
        } else {
            int lineStart = start;
            while (true) {
                // Greedy: take words while they fit; a word wider than the rectangle stands alone.
                int pos = lineStart;
                int lastFit = -1;
                while (pos <= end) {
                    int wordEnd = pos;
                    while (wordEnd < end && s[wordEnd] != u' ')
                        ++wordEnd;
                    const int w =
                        pieceWidth(fm, QStringView(s).mid(lineStart, wordEnd - lineStart), expand, tabW);
                    if (w > width && lastFit >= 0)
                        break;
                    lastFit = wordEnd;
                    if (wordEnd >= end)
                        break;
                    pos = wordEnd + 1;
                }
                int lineEnd = lastFit < 0 ? end : lastFit;
                res.Lines.push_back({lineStart, lineEnd});
                if (lineEnd >= end)
                    break;
                lineStart = lineEnd;
                while (lineStart < end && s[lineStart] == u' ')
                    ++lineStart;
                if (lineStart >= end)
                    break;
            }
        }
        if (end >= n)
            break;
        start = end + ((s[end] == u'\r' && end + 1 < n && s[end + 1] == u'\n') ? 2 : 1);
        if (start == n) // a final line break starts no new line
            break;
    }
    return res;
}

} // namespace

QFont GdiFont(const QFont& font) {
    QFont f(font);
    f.setHintingPreference(QFont::PreferFullHinting);
    f.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
    f.setKerning(false);
    return f;
}

// ---------------------------------------------------------------------------------------------
// TKivCanvas

TKivCanvas::TKivCanvas(QPaintDevice* device)
    : FOwnedPainter(std::make_unique<QPainter>(device)), FPainter(FOwnedPainter.get()) {
    FPainter->setRenderHint(QPainter::Antialiasing, false);
}

TKivCanvas::TKivCanvas(QPainter& painter) : FPainter(&painter) {
    FPainter->setRenderHint(QPainter::Antialiasing, false);
}

TKivCanvas::~TKivCanvas() = default;

QImage* TKivCanvas::Image() const {
    QPaintDevice* d = FPainter->device();
    if (d && d->devType() == QInternal::Image)
        return static_cast<QImage*>(d);
    return nullptr;
}

void TKivCanvas::applyRasterOp(TKivRasterOp rop) {
    FPainter->setCompositionMode(compositionFor(rop));
}

void TKivCanvas::hLine(int x0, int x1, int y, QRgb rgb) {
    if (x1 >= x0)
        FPainter->fillRect(QRect(x0, y, x1 - x0 + 1, 1), QColor::fromRgb(rgb));
}

void TKivCanvas::vLine(int x, int y0, int y1, QRgb rgb) {
    if (y1 >= y0)
        FPainter->fillRect(QRect(x, y0, 1, y1 - y0 + 1), QColor::fromRgb(rgb));
}

void TKivCanvas::FillRect(const TRect& r) {
    if (Brush.Style != bsClear)
        FillRect(r, Brush.Color);
}

void TKivCanvas::FillRect(const TRect& r, TColor color) {
    if (!r.IsEmpty() && color != clNone)
        FPainter->fillRect(r.ToQRect(), qcolor(color));
}

static QPen painterPen(const TKivPen& pen) {
    if (pen.Style == psClear || pen.Color == clNone)
        return QPen(Qt::NoPen);
    QPen p(qcolor(pen.Color), std::max(1, pen.Width));
    p.setStyle(pen.Style == psDash ? Qt::DashLine : pen.Style == psDot ? Qt::DotLine : Qt::SolidLine);
    p.setCapStyle(Qt::FlatCap);
    p.setJoinStyle(Qt::MiterJoin);
    return p;
}

static QBrush painterBrush(const TKivBrush& brush) {
    if (brush.Style == bsClear || brush.Color == clNone)
        return QBrush(Qt::NoBrush);
    return QBrush(qcolor(brush.Color));
}

void TKivCanvas::Rectangle(const TRect& r) {
    if (r.IsEmpty())
        return;
    const bool pen = Pen.Style != psClear && Pen.Color != clNone;
    if (!pen) {
        // Without a pen the fill alone is one pixel smaller on the right and bottom.
        FillRect(TRect(r.Left, r.Top, r.Right - 1, r.Bottom - 1));
        return;
    }
    FillRect(r.Inflate(-1, -1));
    if (Pen.Width <= 1 && Pen.Style == psSolid) {
        const QRgb c = ColorToRgb(Pen.Color);
        hLine(r.Left, r.Right - 1, r.Top, c);
        hLine(r.Left, r.Right - 1, r.Bottom - 1, c);
        vLine(r.Left, r.Top, r.Bottom - 1, c);
        vLine(r.Right - 1, r.Top, r.Bottom - 1, c);
        return;
    }
    FPainter->save();
    FPainter->setPen(painterPen(Pen));
    FPainter->setBrush(Qt::NoBrush);
    FPainter->drawRect(QRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1));
    FPainter->restore();
}

void TKivCanvas::Ellipse(const TRect& r) {
    if (r.IsEmpty())
        return;
    FPainter->save();
    const QPen pen = painterPen(Pen);
    FPainter->setPen(pen);
    FPainter->setBrush(painterBrush(Brush));
    if (pen.style() == Qt::NoPen)
        FPainter->drawEllipse(r.ToQRect());
    else
        FPainter->drawEllipse(QRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1));
    FPainter->restore();
}

void TKivCanvas::Arc(const TRect& r, QPoint start, QPoint end) {
    if (r.IsEmpty() || Pen.Style == psClear || Pen.Color == clNone)
        return;
    // The arc is the part of Ellipse's own outline between the ray through start and the ray
    // through end, counter-clockwise. Taking the outline's pixels keeps a lamp's rim arcs exactly
    // on its ellipse; picking them by ray angle is the Windows rule (Qt's arc angles would be
    // parametric angles of the ellipse instead).
    const int pw = std::max(1, Pen.Width);
    const int margin = pw;
    QImage outline(r.Width() + 2 * margin, r.Height() + 2 * margin, QImage::Format_RGB32);
    outline.fill(Qt::black);
    {
        QPainter p(&outline);
        p.setPen(QPen(Qt::white, pw));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRect(margin, margin, r.Width() - 1, r.Height() - 1));
    }
    const double cx = (r.Left + r.Right) / 2.0, cy = (r.Top + r.Bottom) / 2.0;
    auto rayAngle = [&](double x, double y) {
        double a = std::atan2(cy - y, x - cx) * 180.0 / std::numbers::pi;
        return a < 0 ? a + 360.0 : a;
    };
    const double from = rayAngle(start.x(), start.y());
    double span = rayAngle(end.x(), end.y()) - from;
    if (span <= 0)
        span += 360.0; // equal rays: the whole ellipse
    const QColor color = qcolor(Pen.Color);
    for (int y = 0; y < outline.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(outline.constScanLine(y));
        for (int x = 0; x < outline.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == 0)
                continue;
            const int px = r.Left - margin + x, py = r.Top - margin + y;
            double d = rayAngle(px + 0.5, py + 0.5) - from;
            if (d < 0)
                d += 360.0;
            if (d <= span)
                FPainter->fillRect(QRect(px, py, 1, 1), color);
        }
    }
}

void TKivCanvas::Polygon(const std::vector<QPoint>& points) {
    if (points.size() < 2)
        return;
    FPainter->save();
    FPainter->setPen(painterPen(Pen));
    FPainter->setBrush(painterBrush(Brush));
    FPainter->drawPolygon(points.data(), static_cast<int>(points.size()), Qt::OddEvenFill);
    FPainter->restore();
}

void TKivCanvas::MoveTo(int x, int y) {
    FPenPos = QPoint(x, y);
}

void TKivCanvas::LineTo(int x, int y) {
    const QPoint from = FPenPos;
    FPenPos = QPoint(x, y);
    if (Pen.Style == psClear || Pen.Color == clNone || from == FPenPos)
        return;
    if (Pen.Width > 1 || Pen.Style != psSolid) {
        // Wide and styled pens: stop one step short of the end, as the end point is left out.
        const int dx = x - from.x(), dy = y - from.y();
        const int steps = std::max(std::abs(dx), std::abs(dy));
        const QPointF last(x - double(dx) / steps, y - double(dy) / steps);
        FPainter->save();
        FPainter->setPen(painterPen(Pen));
        FPainter->drawLine(QPointF(from), last);
        FPainter->restore();
        return;
    }
    const QRgb c = ColorToRgb(Pen.Color);
    if (from.y() == y) {
        hLine(std::min(from.x(), x + (x < from.x() ? 1 : 0)), std::max(from.x(), x - (x > from.x() ? 1 : 0)),
              y, c);
        return;
    }
    if (from.x() == x) {
        vLine(x, std::min(from.y(), y + (y < from.y() ? 1 : 0)),
              std::max(from.y(), y - (y > from.y() ? 1 : 0)), c);
        return;
    }
    // Bresenham, every point but the last.
    int x0 = from.x(), y0 = from.y();
    const int dx = std::abs(x - x0), sx = x0 < x ? 1 : -1;
    const int dy = -std::abs(y - y0), sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    const QColor qc = QColor::fromRgb(c);
    while (!(x0 == x && y0 == y)) {
        FPainter->fillRect(QRect(x0, y0, 1, 1), qc);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void TKivCanvas::SetPixel(int x, int y, TColor color) {
    if (color != clNone)
        FPainter->fillRect(QRect(x, y, 1, 1), qcolor(color));
}

void TKivCanvas::FloodFill(int x, int y, TColor color, TKivFillStyle style) {
    QImage* image = Image();
    if (!image || Brush.Style == bsClear)
        return;
    const QPoint seed = FPainter->deviceTransform().map(QPoint(x, y));
    const QImage src = image->convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height();
    if (seed.x() < 0 || seed.y() < 0 || seed.x() >= w || seed.y() >= h)
        return;
    const QRgb key = ColorToRgb(color) & 0xFFFFFF;
    auto inside = [&](int px, int py) {
        const QRgb p = reinterpret_cast<const QRgb*>(src.constScanLine(py))[px] & 0xFFFFFF;
        return style == fsSurface ? p == key : p != key;
    };
    if (!inside(seed.x(), seed.y()))
        return;
    // Scanline fill, 4-connected: each run is filled whole, then the rows above and below are
    // searched for runs that touch it.
    std::vector<std::uint8_t> done(static_cast<size_t>(w) * h, 0);
    std::vector<QPoint> stack{seed};
    std::vector<QRect> runs;
    while (!stack.empty()) {
        const QPoint p = stack.back();
        stack.pop_back();
        const int py = p.y();
        std::uint8_t* row = done.data() + static_cast<size_t>(py) * w;
        if (row[p.x()] || !inside(p.x(), py))
            continue;
        int l = p.x(), r = p.x();
        while (l > 0 && !row[l - 1] && inside(l - 1, py))
            --l;
        while (r + 1 < w && !row[r + 1] && inside(r + 1, py))
            ++r;
        std::fill(row + l, row + r + 1, 1);
        runs.emplace_back(l, py, r - l + 1, 1);
        for (const int ny : {py - 1, py + 1}) {
            if (ny < 0 || ny >= h)
                continue;
            const std::uint8_t* nrow = done.data() + static_cast<size_t>(ny) * w;
            bool inRun = false;
            for (int nx = l; nx <= r; ++nx) {
                const bool ok = !nrow[nx] && inside(nx, ny);
                if (ok && !inRun)
                    stack.emplace_back(nx, ny);
                inRun = ok;
            }
        }
    }
    FPainter->save();
    FPainter->resetTransform();
    const QColor fill = qcolor(Brush.Color);
    for (const QRect& run : runs)
        FPainter->fillRect(run, fill);
    FPainter->restore();
}

void TKivCanvas::DrawFocusRect(const TRect& r) {
    if (r.IsEmpty())
        return;
    FPainter->save();
    FPainter->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    const QColor white(Qt::white);
    auto dot = [&](int x, int y) {
        if (((x + y) & 1) == 0)
            FPainter->fillRect(QRect(x, y, 1, 1), white);
    };
    for (int x = r.Left; x < r.Right; ++x) {
        dot(x, r.Top);
        if (r.Bottom - 1 > r.Top)
            dot(x, r.Bottom - 1);
    }
    for (int y = r.Top + 1; y < r.Bottom - 1; ++y) {
        dot(r.Left, y);
        if (r.Right - 1 > r.Left)
            dot(r.Right - 1, y);
    }
    FPainter->restore();
}

void TKivCanvas::DrawEdge(TRect& r, unsigned edge, unsigned flags) {
    const QRgb HI = ColorToRgb(clBtnHighlight), LT = ColorToRgb(cl3DLight), SH = ColorToRgb(clBtnShadow),
               DK = ColorToRgb(cl3DDkShadow), FACE = ColorToRgb(clBtnFace);
    unsigned outer = edge & 0x3, inner = edge & 0xC;
    // A layer marked both raised and sunken means nothing.
    if (outer == 0x3)
        outer = 0;
    if (inner == 0xC)
        inner = 0;

    struct Layer {
        QRgb TopLeft, BottomRight;
    };
    std::vector<Layer> rings;
    if (outer) {
        Layer l{outer == BDR_RAISEDOUTER ? LT : SH, outer == BDR_RAISEDOUTER ? DK : HI};
        if (flags & BF_SOFT)
            l.TopLeft = outer == BDR_RAISEDOUTER ? HI : DK;
        if (flags & BF_MONO)
            l = {ColorToRgb(clWindowFrame), ColorToRgb(clWindowFrame)};
        else if (flags & BF_FLAT)
            l = {SH, SH};
        rings.push_back(l);
    }
    if (inner) {
        Layer l{inner == BDR_RAISEDINNER ? HI : DK, inner == BDR_RAISEDINNER ? SH : LT};
        if (flags & BF_SOFT)
            l.TopLeft = inner == BDR_RAISEDINNER ? LT : SH;
        if (flags & BF_MONO)
            l = {ColorToRgb(clWindow), ColorToRgb(clWindow)};
        else if (flags & BF_FLAT)
            l = {FACE, FACE};
        rings.push_back(l);
    }

    if (flags & BF_DIAGONAL) {
        // A 45-degree line of length min(w, h) ending in the corner the side flags name; the
        // second layer runs one pixel further inside.
        const int n = std::min(r.Width(), r.Height());
        if (n <= 0)
            return;
        const bool endTop = flags & BF_TOP, endRight = flags & BF_RIGHT;
        const int ex = endRight ? r.Right - 1 : r.Left, ey = endTop ? r.Top : r.Bottom - 1;
        const int stepX = endRight ? -1 : 1, stepY = endTop ? 1 : -1;
        const int shift = (flags & BF_LEFT) ? -1 : 1;
        for (size_t k = 0; k < rings.size(); ++k) {
            const QColor c = QColor::fromRgb((flags & BF_BOTTOM) ? rings[k].BottomRight : rings[k].TopLeft);
            const int inset = static_cast<int>(k);
            // The inner line starts one step later, so it stays inside the rectangle.
            for (int i = inset; i < n; ++i)
                FPainter->fillRect(QRect(ex + stepX * i + shift * inset, ey + stepY * i, 1, 1), c);
        }
        return;
    }

    const bool L = flags & BF_LEFT, T = flags & BF_TOP, R = flags & BF_RIGHT, B = flags & BF_BOTTOM;
    for (size_t i = 0; i < rings.size(); ++i) {
        const int k = static_cast<int>(i);
        const int x0 = L ? r.Left + k : r.Left, x1 = R ? r.Right - 1 - k : r.Right - 1;
        const int y0 = T ? r.Top + k : r.Top, y1 = B ? r.Bottom - 1 - k : r.Bottom - 1;
        // Top and left first; bottom and right last, so they own the top-right and bottom-left corners.
        if (T)
            hLine(x0, x1, r.Top + k, rings[i].TopLeft);
        if (L)
            vLine(r.Left + k, y0, y1, rings[i].TopLeft);
        if (B)
            hLine(x0, x1, r.Bottom - 1 - k, rings[i].BottomRight);
        if (R)
            vLine(r.Right - 1 - k, y0, y1, rings[i].BottomRight);
    }
    const int n = static_cast<int>(rings.size());
    const TRect inside(L ? r.Left + n : r.Left, T ? r.Top + n : r.Top, R ? r.Right - n : r.Right,
                       B ? r.Bottom - n : r.Bottom);
    if (flags & BF_MIDDLE)
        FillRect(inside, (flags & BF_MONO) ? clWindow : clBtnFace);
    if (flags & BF_ADJUST)
        r = inside;
}

void TKivCanvas::DrawPushButton(TRect& r, bool pushed) {
    DrawEdge(r, pushed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_SOFT | BF_MIDDLE | BF_ADJUST);
}

namespace {

// A text laid out for DrawText: the drawing font, its metrics, the lines and their widths. Shaping
// the text to measure it is most of what drawing a caption costs, and a caption is measured and
// then drawn once per copy of its relief, so each layout is kept for the next call with the same
// text, font, flags, width and resolution.
struct PreparedText {
    QFont Font;
    QFontMetrics Metrics;
    int LineHeight = 0;
    int TabWidth = 0;
    TextLayoutResult Layout;
    std::vector<int> Widths;
    int MaxWidth = 0;
};

struct PreparedTextKey {
    QString Text;
    QFont Font;
    unsigned Format = 0;
    int Width = 0;
    int DpiX = 0;
    int DpiY = 0;
    bool operator==(const PreparedTextKey& o) const {
        return Format == o.Format && Width == o.Width && DpiX == o.DpiX && DpiY == o.DpiY && Text == o.Text &&
               Font == o.Font && Font.resolveMask() == o.Font.resolveMask();
    }
};

class PreparedTextCache {
public:
    std::shared_ptr<const PreparedText> find(const PreparedTextKey& key) {
        watchFontDatabase();
        for (auto it = FEntries.begin(); it != FEntries.end(); ++it)
            if (it->first == key) {
                // Most recently used first, so the captions being drawn stay near the front.
                if (it != FEntries.begin())
                    FEntries.splice(FEntries.begin(), FEntries, it);
                return FEntries.front().second;
            }
        return nullptr;
    }
    void add(PreparedTextKey key, std::shared_ptr<const PreparedText> text) {
        FEntries.emplace_front(std::move(key), std::move(text));
        if (FEntries.size() > Capacity)
            FEntries.pop_back();
    }
    void clear() { FEntries.clear(); }

private:
    // Enough for every caption of a window; the list is searched from the front.
    static constexpr std::size_t Capacity = 48;
    std::list<std::pair<PreparedTextKey, std::shared_ptr<const PreparedText>>> FEntries;
    bool FWatching = false;

    // Fonts added or removed may change what a family resolves to, and so every layout.
    void watchFontDatabase() {
        if (FWatching)
            return;
        if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QObject::connect(app, &QGuiApplication::fontDatabaseChanged, app, [this] { clear(); });
            QObject::connect(app, &QObject::destroyed, [this] {
                clear();
                FWatching = false;
            });
            FWatching = true;
        }
    }
};

// Drawing happens on the window thread only.
PreparedTextCache& preparedTexts() {
    static PreparedTextCache cache;
    return cache;
}

// Only these flags change how a text is broken into lines and measured.
constexpr unsigned LayoutFlags = DT_WORDBREAK | DT_SINGLELINE | DT_EXPANDTABS | DT_NOPREFIX;

std::shared_ptr<const PreparedText> prepareText(const QString& text, const QFont& sourceFont, unsigned format,
                                                int width, QPaintDevice* device) {
    const unsigned layoutFormat = format & LayoutFlags;
    // The width matters only where lines are broken at it.
    const bool breaks = (layoutFormat & DT_WORDBREAK) && !(layoutFormat & DT_SINGLELINE);
    PreparedTextKey key{text,
                        sourceFont,
                        layoutFormat,
                        breaks ? width : 0,
                        device ? device->logicalDpiX() : 0,
                        device ? device->logicalDpiY() : 0};
    if (auto found = preparedTexts().find(key))
        return found;

    const QFont font = GdiFont(sourceFont);
    auto prepared =
        std::make_shared<PreparedText>(PreparedText{font, QFontMetrics(font, device), 0, 0, {}, {}, 0});
    const QFontMetrics& fm = prepared->Metrics;
    prepared->LineHeight = fm.ascent() + fm.descent();
    // Measuring the tab stop costs a whole alphabet; captions rarely hold a tab.
    prepared->TabWidth = text.contains(u'\t') ? tabWidth(fm) : 0;
    if (!text.isEmpty()) {
        prepared->Layout = layoutText(text, layoutFormat, width, fm, prepared->TabWidth);
        const bool expand = layoutFormat & DT_EXPANDTABS;
        for (const TextLine& line : prepared->Layout.Lines) {
            prepared->Widths.push_back(
                pieceWidth(fm, QStringView(prepared->Layout.Text).mid(line.Start, line.End - line.Start),
                           expand, prepared->TabWidth));
            prepared->MaxWidth = std::max(prepared->MaxWidth, prepared->Widths.back());
        }
    }
    preparedTexts().add(std::move(key), prepared);
    return prepared;
}

} // namespace

int TKivCanvas::DrawText(const QString& text, TRect& r, unsigned format, QPainterPath* path) {
    const std::shared_ptr<const PreparedText> prepared =
        prepareText(text, Font.Font, format, r.Width(), FPainter->device());
    const QFont& font = prepared->Font;
    const QFontMetrics& fm = prepared->Metrics;
    const int lineH = prepared->LineHeight;
    const bool expand = format & DT_EXPANDTABS;
    const int tabW = prepared->TabWidth;
    if (text.isEmpty()) {
        // An empty text has no lines; as a single line it still takes the line's height.
        if (format & DT_CALCRECT) {
            r.Right = r.Left;
            r.Bottom = r.Top + ((format & DT_SINGLELINE) ? lineH : 0);
        }
        return 0;
    }
    const TextLayoutResult& lay = prepared->Layout;
    const std::vector<int>& widths = prepared->Widths;
    const int maxW = prepared->MaxWidth;
    const int totalH = lineH * static_cast<int>(lay.Lines.size());
    if (format & DT_CALCRECT) {
        r.Right = r.Left + maxW;
        r.Bottom = r.Top + totalH;
        return totalH;
    }
    int top = r.Top;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER)
            top = (r.Top + r.Bottom - lineH) / 2;
        else if (format & DT_BOTTOM)
            top = r.Bottom - lineH;
    }
    // Recording a path draws nothing: no clipping, no background.
    if (!path) {
        FPainter->save();
        if (!(format & DT_NOCLIP))
            FPainter->setClipRect(r.ToQRect(), FPainter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        FPainter->setFont(font);
    }
    const QColor textColor = qcolor(Font.Color);
    const bool opaque = !path && Brush.Style != bsClear && Brush.Color != clNone;
    for (size_t i = 0; i < lay.Lines.size(); ++i) {
        const TextLine& line = lay.Lines[i];
        const int w = widths[i];
        int x = r.Left;
        if (format & DT_CENTER)
            x = (r.Left + r.Right - w) / 2;
        else if (format & DT_RIGHT)
            x = r.Right - w;
        const int y = top + static_cast<int>(i) * lineH;
        if (opaque)
            FPainter->fillRect(QRect(x, y, w, lineH), qcolor(Brush.Color));
        if (!path)
            FPainter->setPen(textColor);
        const QStringView s = QStringView(lay.Text).mid(line.Start, line.End - line.Start);
        forEachRun(s, expand, tabW, fm, [&](int px, qsizetype from, const QString& run) {
            if (path) {
                path->addText(x + px, y + fm.ascent(), font, run);
                return;
            }
            FPainter->drawText(x + px, y + fm.ascent(), run);
            const int u = lay.Underline - line.Start - static_cast<int>(from);
            if (u >= 0 && u < run.size()) {
                const int before = fm.horizontalAdvance(run.left(u));
                FPainter->fillRect(QRect(x + px + before, y + fm.ascent() + 1,
                                         fm.horizontalAdvance(run.at(u)), std::max(1, fm.lineWidth())),
                                   textColor);
            }
        });
    }
    if (!path)
        FPainter->restore();
    return totalH;
}

void TKivCanvas::TextOut(int x, int y, const QString& text) {
    const QFont font = GdiFont(Font.Font);
    const QFontMetrics fm(font, FPainter->device());
    FPainter->save();
    FPainter->translate(x, y);
    if (Font.Escapement != 0)
        FPainter->rotate(-Font.Escapement / 10.0);
    if (Brush.Style != bsClear && Brush.Color != clNone)
        FPainter->fillRect(QRect(0, 0, fm.horizontalAdvance(text), fm.ascent() + fm.descent()),
                           qcolor(Brush.Color));
    FPainter->setFont(font);
    FPainter->setPen(qcolor(Font.Color));
    FPainter->drawText(0, fm.ascent(), text);
    FPainter->restore();
}

QSize TKivCanvas::TextExtent(const QString& text) const {
    const QFontMetrics fm(GdiFont(Font.Font), FPainter->device());
    return QSize(fm.horizontalAdvance(text), fm.ascent() + fm.descent());
}

QPainterPath TKivCanvas::TextPath(int x, int y, const QString& text) const {
    const QFont font = GdiFont(Font.Font);
    const QFontMetrics fm(font, FPainter->device());
    QPainterPath path;
    path.addText(0, fm.ascent(), font, text);
    QTransform t;
    t.translate(x, y);
    if (Font.Escapement != 0)
        t.rotate(-Font.Escapement / 10.0);
    return t.map(path);
}

void TKivCanvas::StrokeAndFillPath(const QPainterPath& path) {
    FPainter->save();
    FPainter->setPen(painterPen(Pen));
    FPainter->setBrush(painterBrush(Brush));
    FPainter->drawPath(path);
    FPainter->restore();
}

void TKivCanvas::Draw(int x, int y, const QImage& image) {
    FPainter->save();
    FPainter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    FPainter->drawImage(x, y, image);
    FPainter->restore();
}

void TKivCanvas::BitBlt(int x, int y, int w, int h, const QImage& source, int sx, int sy, TKivRasterOp rop) {
    StretchBlt(x, y, w, h, source, sx, sy, w, h, rop);
}

void TKivCanvas::StretchBlt(int x, int y, int w, int h, const QImage& source, int sx, int sy, int sw, int sh,
                            TKivRasterOp rop) {
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || source.isNull())
        return;
    FPainter->save();
    FPainter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    applyRasterOp(rop);
    FPainter->drawImage(QRect(x, y, w, h), source, QRect(sx, sy, sw, sh));
    FPainter->restore();
}

// ---------------------------------------------------------------------------------------------
// Masks

QImage CreateMask(const QImage& image, QRgb key) {
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    QImage mask(src.size(), QImage::Format_RGB32);
    const QRgb k = key | 0xFF000000u;
    for (int y = 0; y < src.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        QRgb* out = reinterpret_cast<QRgb*>(mask.scanLine(y));
        for (int x = 0; x < src.width(); ++x)
            out[x] = (in[x] | 0xFF000000u) == k ? 0xFFFFFFFFu : 0xFF000000u;
    }
    return mask;
}

QImage KeyedImage(const QImage& image, QRgb key) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb k = key | 0xFF000000u;
    for (int y = 0; y < out.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((line[x] | 0xFF000000u) == k && qAlpha(line[x]) == 255)
                line[x] = 0;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Utility routines

void OffsetPoints(QPoint* points, int highIndex, int dx, int dy) {
    for (int i = 0; i <= highIndex; ++i)
        points[i] += QPoint(dx, dy);
}

QPoint RotatePoint(QPoint p, double angle) {
    const double r = angle * std::numbers::pi / 180.0;
    const double c = std::cos(r), s = std::sin(r);
    return QPoint(roundInt(p.x() * c - p.y() * s), roundInt(p.x() * s + p.y() * c));
}

TRect RotateRect(const TRect& r, double angle) {
    QPoint pts[4] = {{r.Left, r.Top}, {r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left, r.Bottom}};
    const int dx = (r.Right - r.Left + 1) / 2, dy = (r.Bottom - r.Top + 1) / 2;
    OffsetPoints(pts, 3, -dx, -dy);
    for (QPoint& p : pts)
        p = RotatePoint(p, angle);
    OffsetPoints(pts, 3, dx, dy);
    TRect out(pts[0].x(), pts[0].y(), pts[0].x(), pts[0].y());
    for (const QPoint& p : pts) {
        out.Left = std::min(out.Left, p.x());
        out.Top = std::min(out.Top, p.y());
        out.Right = std::max(out.Right, p.x());
        out.Bottom = std::max(out.Bottom, p.y());
    }
    return out;
}

void DrawParentBackground(QWidget* control, TKivCanvas& canvas) {
    if (!control || !control->parentWidget())
        return;
    QWidget* parent = control->parentWidget();
    QPainter& p = canvas.Painter();
    p.save();
    p.translate(-control->x(), -control->y());
    p.setClipRect(QRect(0, 0, parent->width(), parent->height()), Qt::IntersectClip);
    // The parent's background and its own picture, without its children (one of which is us).
    parent->render(&p, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    p.restore();
}

void TransparentBlit(TKivCanvas& dc, int x, int y, int w, int h, const QImage& bitmap, int sx, int sy,
                     TColor color, bool useCornerPixel) {
    if (w <= 0 || h <= 0 || bitmap.isNull())
        return;
    const QRgb key = useCornerPixel ? bitmap.pixel(0, 0) : ColorToRgb(color);
    const QImage piece = bitmap.copy(sx, sy, w, h).convertToFormat(QImage::Format_RGB32);
    const QImage mask = CreateMask(piece, key); // key pixels white
    QImage inverse = mask;
    inverse.invertPixels(QImage::InvertRgb);
    QImage source = piece;
    {
        QPainter p(&source);
        p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        p.drawImage(0, 0, inverse);
    }
    // Destination AND mask keeps the background where the key was; OR puts in the rest. The
    // paint engine buffers the screen, so working on the destination directly does not flicker.
    dc.BitBlt(x, y, w, h, mask, 0, 0, ropSrcAnd);
    dc.BitBlt(x, y, w, h, source, 0, 0, ropSrcPaint);
}

void TransparentStretch(TKivCanvas& dc, int x, int y, int w, int h, const QImage& bitmap, int sx, int sy,
                        int sw, int sh, TColor color, bool useCornerPixel) {
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || bitmap.isNull())
        return;
    const QRgb key = useCornerPixel ? bitmap.pixel(0, 0) : ColorToRgb(color);
    // Key before stretching, so the key colour never blends into its neighbours.
    const QImage keyed = KeyedImage(bitmap, key);
    QPainter& p = dc.Painter();
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(QRect(x, y, w, h), keyed, QRect(sx, sy, sw, sh));
    p.restore();
}

void DrawDisabledGlyph(TKivCanvas& canvas, const TRect& r, const QImage& glyph, int mode) {
    static constexpr int Divisor[3] = {3, 8, 20};
    static constexpr int Offset[3] = {170, 224, 243};
    if (mode < 0 || mode > 2)
        throw AssertionError("Assertion failure");
    const int w = std::min(r.Width(), glyph.width());
    const int h = std::min(r.Height(), glyph.height());
    if (w <= 0 || h <= 0)
        return;
    // Work images shared by every call; drawing happens on the window thread only.
    static QImage background, withGlyph;
    if (background.size() != QSize(w, h)) {
        background = QImage(w, h, QImage::Format_RGB32);
        withGlyph = QImage(w, h, QImage::Format_RGB32);
    }
    if (const QImage* image = canvas.Image()) {
        const QPoint at = canvas.Painter().deviceTransform().map(QPoint(r.Left, r.Top));
        QPainter p(&background);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(0, 0, *image, at.x(), at.y(), w, h);
    } else {
        // A surface that cannot be read back: the relief is made on the button face.
        background.fill(ColorToQColor(clBtnFace));
    }
    withGlyph = background.copy();
    {
        QPainter p(&withGlyph);
        p.drawImage(0, 0, glyph);
    }
    for (int y = 0; y < h; ++y) {
        QRgb* b = reinterpret_cast<QRgb*>(background.scanLine(y));
        const QRgb* g = reinterpret_cast<const QRgb*>(withGlyph.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if ((g[x] & 0xFFFFFF) == (b[x] & 0xFFFFFF))
                continue;
            const int gray = (76 * qRed(g[x]) + 150 * qGreen(g[x]) + 29 * qBlue(g[x])) / 256;
            const int factor = gray / Divisor[mode] + Offset[mode];
            b[x] = qRgb(qRed(b[x]) * factor / 256, qGreen(b[x]) * factor / 256, qBlue(b[x]) * factor / 256);
        }
    }
    canvas.BitBlt(r.Left, r.Top, w, h, background, 0, 0);
}

bool ComCtlVersion6() {
    // There is no Windows common-controls library here, so the visual-style drawing never applies.
    return false;
}
