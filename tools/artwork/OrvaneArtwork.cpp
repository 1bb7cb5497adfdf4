// Draws the console's artwork: the logo, the 16- and 24-pixel button images and the five skin bitmaps
// of the aqua button face. Usage: orvane-artwork RESOURCES_DIR (writes the images and resources.qrc).
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <map>

namespace {

const QRgb fuchsia = qRgb(255, 0, 255);

QColor mix(QColor a, QColor b, double t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

struct SkinColours {
    QColor border, top, middle, bottom, gloss;
    QColor ring; // inner ring of the default button, invalid for none
};

// One rounded button face, 32 x 21, drawn pixel by pixel so the palette stays small and exact; the four
// outermost corner pixels are the transparent key, their neighbours blend the border into white.
QImage skinFace(const SkinColours& c) {
    const int w = 32, h = 21;
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        // Glossy upper half, deeper lower half.
        const double t = double(y) / (h - 1);
        QColor fill = t < 0.5 ? mix(c.top, c.middle, t / 0.5) : mix(c.middle, c.bottom, (t - 0.5) / 0.5);
        if (y >= 2 && y <= 8)
            fill = mix(fill, c.gloss, 0.45 * (1.0 - (y - 2) / 7.0));
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, fill.rgb());
    }
    for (int x = 0; x < w; ++x) {
        img.setPixel(x, 0, c.border.rgb());
        img.setPixel(x, h - 1, c.border.rgb());
    }
    for (int y = 0; y < h; ++y) {
        img.setPixel(0, y, c.border.rgb());
        img.setPixel(w - 1, y, c.border.rgb());
    }
    if (c.ring.isValid()) {
        for (int x = 2; x < w - 2; ++x) {
            img.setPixel(x, 1, c.ring.rgb());
            img.setPixel(x, h - 2, c.ring.rgb());
        }
        for (int y = 2; y < h - 2; ++y) {
            img.setPixel(1, y, c.ring.rgb());
            img.setPixel(w - 2, y, c.ring.rgb());
        }
    }
    // Rounded corners: the corner pixel is the key, its two neighbours a soft edge, the inner diagonal
    // pixel the border.
    const QRgb soft = mix(c.border, Qt::white, 0.55).rgb();
    const int xs[2] = {0, w - 1}, ys[2] = {0, h - 1};
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
            const int x = xs[i], y = ys[j], dx = i ? -1 : 1, dy = j ? -1 : 1;
            img.setPixel(x, y, fuchsia);
            img.setPixel(x + dx, y, soft);
            img.setPixel(x, y + dy, soft);
            img.setPixel(x + dx, y + dy, c.border.rgb());
        }
    return img;
}

// 8-bit palette image with exactly the colours the face uses.
QImage toIndexed(const QImage& rgb) {
    std::map<QRgb, int> index;
    QList<QRgb> table;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb p = rgb.pixel(x, y) | 0xff000000u;
            if (!index.count(p)) {
                index[p] = static_cast<int>(table.size());
                table.append(p);
            }
        }
    if (table.size() > 256) {
        std::fprintf(stderr, "skin face has %d colours\n", int(table.size()));
        std::exit(1);
    }
    QImage out(rgb.size(), QImage::Format_Indexed8);
    out.setColorTable(table);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            out.setPixel(x, y, index[rgb.pixel(x, y) | 0xff000000u]);
    return out;
}

QImage canvas(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void begin(QPainter& p, QImage& img) {
    p.begin(&img);
    p.setRenderHint(QPainter::Antialiasing);
}

// A round badge with a soft vertical gradient, the base of most glyphs.
void badge(QPainter& p, QRectF r, QColor light, QColor dark) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(140), 1));
    p.setBrush(g);
    p.drawEllipse(r);
}

QImage glyphInitialize() { // circular arrow: back to the reference position
    QImage img = canvas(16);
    QPainter p;
    begin(p, img);
    badge(p, QRectF(0.5, 0.5, 15, 15), QColor(255, 214, 110), QColor(214, 128, 0));
    // Three quarters of a circle, its open end marked by an arrow head.
    p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(4, 4, 8, 8), 90 * 16, 270 * 16);
    QPainterPath head;
    head.moveTo(8.0, 1.6);
    head.lineTo(12.2, 4.0);
    head.lineTo(8.0, 6.4);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(head);
    return img;
}

QImage glyphJog(bool plus) { // triangle pointing down or up the wavelength scale, with a sign
    QImage img = canvas(16);
    QPainter p;
    begin(p, img);
    badge(p, QRectF(0.5, 0.5, 15, 15), QColor(140, 200, 255), QColor(20, 90, 190));
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
    if (plus)
        p.drawLine(QPointF(8, 4.5), QPointF(8, 11.5));
    return img;
}

QImage glyphScan() { // a spectrum line swept across the range
    QImage img = canvas(16);
    QPainter p;
    begin(p, img);
    QLinearGradient rainbow(1, 0, 15, 0);
    rainbow.setColorAt(0.0, QColor(120, 0, 200));
    rainbow.setColorAt(0.25, QColor(0, 60, 255));
    rainbow.setColorAt(0.45, QColor(0, 190, 80));
    rainbow.setColorAt(0.65, QColor(255, 220, 0));
    rainbow.setColorAt(0.85, QColor(255, 120, 0));
    rainbow.setColorAt(1.0, QColor(220, 0, 0));
    p.setPen(QPen(QColor(40, 40, 60), 1));
    p.setBrush(rainbow);
    p.drawRoundedRect(QRectF(0.5, 9.5, 15, 5), 1.5, 1.5);
    QPainterPath peak;
    peak.moveTo(1, 8);
    for (int x = 1; x <= 15; ++x) {
        const double d = (x - 9.5) / 2.2;
        peak.lineTo(x, 8 - 6.5 * std::exp(-d * d));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(30, 30, 50), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(peak);
    return img;
}

QImage glyphStop() { // red octagon with a white square
    QImage img = canvas(16);
    QPainter p;
    begin(p, img);
    QPolygonF oct;
    for (int i = 0; i < 8; ++i) {
        const double a = (22.5 + 45 * i) * M_PI / 180;
        oct << QPointF(8 + 7.4 * std::cos(a), 8 + 7.4 * std::sin(a));
    }
    QLinearGradient g(0, 0, 0, 16);
    g.setColorAt(0, QColor(255, 110, 100));
    g.setColorAt(1, QColor(190, 0, 0));
    p.setPen(QPen(QColor(120, 0, 0), 1));
    p.setBrush(g);
    p.drawPolygon(oct);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5, 5, 6, 6));
    return img;
}

QImage glyphMove() { // green play arrow: go to the typed wavelength
    QImage img = canvas(16);
    QPainter p;
    begin(p, img);
    badge(p, QRectF(0.5, 0.5, 15, 15), QColor(130, 230, 120), QColor(10, 140, 30));
    QPainterPath arrow;
    arrow.moveTo(6, 4);
    arrow.lineTo(12, 8);
    arrow.lineTo(6, 12);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(arrow);
    return img;
}

QImage glyphClose() { // 24 px: a red round badge with a white cross
    QImage img = canvas(24);
    QPainter p;
    begin(p, img);
    badge(p, QRectF(1.5, 1.5, 21, 21), QColor(255, 120, 100), QColor(180, 10, 0));
    p.setPen(QPen(Qt::white, 2.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(16, 16));
    p.drawLine(QPointF(16, 8), QPointF(8, 16));
    return img;
}

QImage logo() { // 182 x 41: a prism splitting a beam, and the name
    QImage img(182, 41, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p;
    begin(p, img);
    QPolygonF prism;
    prism << QPointF(20, 5) << QPointF(35, 34) << QPointF(5, 34);
    QLinearGradient glass(5, 5, 35, 34);
    glass.setColorAt(0, QColor(210, 240, 255));
    glass.setColorAt(1, QColor(120, 180, 230));
    p.setPen(QPen(QColor(30, 70, 130), 1.2));
    p.setBrush(glass);
    p.drawPolygon(prism);
    const QColor bands[] = {QColor(220, 0, 0),  QColor(255, 140, 0), QColor(240, 210, 0),
                            QColor(0, 170, 60), QColor(0, 90, 230),  QColor(110, 0, 190)};
    for (int i = 0; i < 6; ++i) {
        p.setPen(QPen(bands[i], 1.6));
        p.drawLine(QPointF(28, 20 + i * 0.6), QPointF(44, 13 + i * 3.2));
    }
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(30);
    font.setBold(true);
    font.setItalic(true);
    p.setFont(font);
    QLinearGradient ink(0, 6, 0, 36);
    ink.setColorAt(0, QColor(0, 110, 190));
    ink.setColorAt(1, QColor(0, 50, 120));
    p.setPen(QPen(QBrush(ink), 1));
    p.drawText(QRect(50, 0, 132, 41), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Orvane"));
    return img;
}

// The program's icon: the logo's prism and spectrum on a rounded tile, on a 48-unit grid. The same shapes
// make the PNG sizes and the scalable SVG, so that every size shows the same picture.
struct IconShapes {
    QRectF tile{2, 2, 44, 44};
    double tileRadius = 9;
    QColor tileTop{255, 255, 255}, tileBottom{214, 236, 250}, tileBorder{30, 70, 130};
    QPolygonF prism{QList<QPointF>{{17, 8}, {32, 39}, {2.5, 39}}};
    QColor glassTop{210, 240, 255}, glassBottom{120, 180, 230}, prismEdge{30, 70, 130};
    double bandWidth = 2.4;
    QColor bands[6] = {QColor(220, 0, 0),  QColor(255, 140, 0), QColor(240, 210, 0),
                       QColor(0, 170, 60), QColor(0, 90, 230),  QColor(110, 0, 190)};
    QLineF band(int i) const { return {QPointF(24, 23 + i * 0.8), QPointF(44, 14 + i * 4.2)}; }
};

QImage appIcon(int size) {
    const IconShapes s;
    QImage img = canvas(size);
    QPainter p;
    begin(p, img);
    p.scale(size / 48.0, size / 48.0);
    QLinearGradient tile(0, s.tile.top(), 0, s.tile.bottom());
    tile.setColorAt(0, s.tileTop);
    tile.setColorAt(1, s.tileBottom);
    p.setPen(QPen(s.tileBorder, 1.5));
    p.setBrush(tile);
    p.drawRoundedRect(s.tile, s.tileRadius, s.tileRadius);
    p.setClipRect(s.tile.adjusted(1, 1, -1, -1));
    for (int i = 0; i < 6; ++i) {
        p.setPen(QPen(s.bands[i], s.bandWidth, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(s.band(i));
    }
    p.setClipping(false);
    QLinearGradient glass(0, 8, 0, 39);
    glass.setColorAt(0, s.glassTop);
    glass.setColorAt(1, s.glassBottom);
    p.setPen(QPen(s.prismEdge, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(glass);
    p.drawPolygon(s.prism);
    return img;
}

QString appIconSvg() {
    const IconShapes s;
    auto num = [](double v) { return QString::number(v, 'g', 6); };
    auto hex = [](const QColor& c) { return c.name(QColor::HexRgb); };
    QString svg;
    QTextStream out(&svg);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"48\" viewBox=\"0 0 48 48\">\n"
        << "  <defs>\n"
        << "    <linearGradient id=\"tile\" x1=\"0\" y1=\"" << num(s.tile.top()) << "\" x2=\"0\" y2=\""
        << num(s.tile.bottom()) << "\" gradientUnits=\"userSpaceOnUse\">\n"
        << "      <stop offset=\"0\" stop-color=\"" << hex(s.tileTop) << "\"/>\n"
        << "      <stop offset=\"1\" stop-color=\"" << hex(s.tileBottom) << "\"/>\n"
        << "    </linearGradient>\n"
        << "    <linearGradient id=\"glass\" x1=\"0\" y1=\"8\" x2=\"0\" y2=\"39\" "
           "gradientUnits=\"userSpaceOnUse\">\n"
        << "      <stop offset=\"0\" stop-color=\"" << hex(s.glassTop) << "\"/>\n"
        << "      <stop offset=\"1\" stop-color=\"" << hex(s.glassBottom) << "\"/>\n"
        << "    </linearGradient>\n"
        << "    <clipPath id=\"inside\"><rect x=\"" << num(s.tile.x() + 1) << "\" y=\"" << num(s.tile.y() + 1)
        << "\" width=\"" << num(s.tile.width() - 2) << "\" height=\"" << num(s.tile.height() - 2)
        << "\"/></clipPath>\n"
        << "  </defs>\n"
        << "  <rect x=\"" << num(s.tile.x()) << "\" y=\"" << num(s.tile.y()) << "\" width=\""
        << num(s.tile.width()) << "\" height=\"" << num(s.tile.height()) << "\" rx=\"" << num(s.tileRadius)
        << "\" fill=\"url(#tile)\" stroke=\"" << hex(s.tileBorder) << "\" stroke-width=\"1.5\"/>\n"
        << "  <g clip-path=\"url(#inside)\" stroke-width=\"" << num(s.bandWidth) << "\">\n";
    for (int i = 0; i < 6; ++i) {
        const QLineF b = s.band(i);
        out << "    <line x1=\"" << num(b.x1()) << "\" y1=\"" << num(b.y1()) << "\" x2=\"" << num(b.x2())
            << "\" y2=\"" << num(b.y2()) << "\" stroke=\"" << hex(s.bands[i]) << "\"/>\n";
    }
    out << "  </g>\n  <polygon points=\"";
    for (int i = 0; i < s.prism.size(); ++i)
        out << (i ? " " : "") << num(s.prism[i].x()) << "," << num(s.prism[i].y());
    out << "\" fill=\"url(#glass)\" stroke=\"" << hex(s.prismEdge)
        << "\" stroke-width=\"1.5\" stroke-linejoin=\"round\"/>\n</svg>\n";
    return svg;
}

bool save(const QImage& img, const QString& path) {
    if (!img.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvane-artwork RESOURCES_DIR\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.mkpath(QStringLiteral("iml16"));
    dir.mkpath(QStringLiteral("iml24"));
    dir.mkpath(QStringLiteral("skin"));
    QStringList files;
    auto put = [&](const QImage& img, const QString& name) {
        if (!save(img, dir.filePath(name)))
            std::exit(1);
        files << name;
    };

    put(logo(), QStringLiteral("logo.png"));
    put(glyphInitialize(), QStringLiteral("iml16/11.png"));
    put(glyphJog(false), QStringLiteral("iml16/12.png"));
    put(glyphJog(true), QStringLiteral("iml16/13.png"));
    put(glyphScan(), QStringLiteral("iml16/61.png"));
    put(glyphStop(), QStringLiteral("iml16/73.png"));
    put(glyphMove(), QStringLiteral("iml16/74.png"));
    put(glyphClose(), QStringLiteral("iml24/0.png"));

    const QColor aquaBorder(0, 110, 150);
    put(toIndexed(skinFace({aquaBorder, QColor(225, 250, 255), QColor(110, 215, 240), QColor(40, 170, 215),
                            Qt::white, QColor()})),
        QStringLiteral("skin/normal.bmp"));
    put(toIndexed(skinFace({QColor(0, 80, 115), QColor(40, 160, 205), QColor(70, 190, 225),
                            QColor(150, 225, 245), QColor(120, 210, 240), QColor()})),
        QStringLiteral("skin/down.bmp"));
    put(toIndexed(skinFace({QColor(0, 130, 175), QColor(240, 255, 255), QColor(150, 235, 255),
                            QColor(70, 200, 240), Qt::white, QColor(255, 200, 80)})),
        QStringLiteral("skin/enter.bmp"));
    put(toIndexed(skinFace({QColor(150, 165, 170), QColor(240, 243, 244), QColor(214, 222, 225),
                            QColor(196, 206, 210), Qt::white, QColor()})),
        QStringLiteral("skin/disabled.bmp"));
    put(toIndexed(skinFace({QColor(0, 70, 140), QColor(225, 250, 255), QColor(110, 215, 240),
                            QColor(40, 170, 215), Qt::white, QColor(60, 130, 230)})),
        QStringLiteral("skin/focused.bmp"));

    // The icon in the desktop's theme layout; the window takes the same files from the resources.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        dir.mkpath(folder);
        put(appIcon(size), folder + QStringLiteral("/orvane.png"));
    }
    dir.mkpath(QStringLiteral("icons/hicolor/scalable/apps"));
    QFile svg(dir.filePath(QStringLiteral("icons/hicolor/scalable/apps/orvane.svg")));
    if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) || svg.write(appIconSvg().toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write orvane.svg\n");
        return 1;
    }
    svg.close();

    QFile qrc(dir.filePath(QStringLiteral("resources.qrc")));
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write resources.qrc\n");
        return 1;
    }
    QTextStream out(&qrc);
    out << "<!DOCTYPE RCC>\n<!-- Written by orvane-artwork; do not edit by hand. -->\n<RCC version=\"1.0\">\n"
        << "  <qresource prefix=\"/orvane\">\n";
    for (const QString& f : files)
        out << "    <file>" << f << "</file>\n";
    out << "  </qresource>\n</RCC>\n";
    return 0;
}
