// Widget gallery: every frame style, edge kind, caption text style and rotation of the drawing kit
// side by side, in the classic Windows colours, for comparing with the originals by eye.
//   orvane_gallery [--screenshot FILE]   (FILE: PNG of the window, then the program quits)

#include "ImageList.h"
#include "KivButton.h"
#include "KivCaptionStyle.h"
#include "KivColor.h"
#include "KivFrame.h"
#include "KivGraphics.h"
#include "KivLEDBtn.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEnterEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

TKivFont arial(int pixels, TColor color, bool bold = false) {
    TKivFont f;
    f.Font = QFont("Arial");
    f.Font.setPixelSize(pixels);
    f.Font.setBold(bold);
    f.Color = color;
    return f;
}

void label(TKivCanvas& c, const TRect& r, const QString& text) {
    TKivCaptionStyle plain;
    plain.DrawText(c, text, arial(11, clWindowText), r, taCenter, tlTop, 0, false);
}

void heading(TKivCanvas& c, int x, int y, const QString& text) {
    c.Font = arial(13, clNavy, true);
    c.Brush.Style = bsClear;
    c.TextOut(x, y, text);
    c.Brush.Style = bsSolid;
}

QWidget* addButtonSection(QWidget* gallery, int top);

class Gallery : public QWidget {
public:
    Gallery() {
        setWindowTitle("Orvane drawing kit gallery");
        // Real widgets below the drawn sections; the window grows by what they take.
        setFixedSize(1000, 760 + addButtonSection(this, 760)->height());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QImage buffer(size(), QImage::Format_RGB32);
        {
            TKivCanvas c(&buffer);
            c.FillRect(TRect(0, 0, width(), height()), clBtnFace);
            drawFrames(c, 10);
            drawEdges(c, 130);
            drawTextStyles(c, 250);
            drawRotations(c, 400);
            drawExtras(c, 610);
        }
        QPainter p(this);
        p.drawImage(0, 0, buffer);
    }

private:
    void drawFrames(TKivCanvas& c, int top) {
        heading(c, 10, top, "TKivFrame styles (all edges; the flat one in clBtnShadow)");
        const char* names[] = {"afsRaised",      "afsSunken",      "afsBump", "afsEtched",
                               "afsRaisedHeavy", "afsSunkenHeavy", "afsFlat"};
        for (int s = 0; s <= afsFlat; ++s) {
            const int x = 10 + s * 135;
            TKivFrame frame;
            frame.SetStyle(TKivFrameStyle(s));
            TRect r(x, top + 25, x + 120, top + 85);
            frame.Draw(c, r);
            c.FillRect(r, clWindow); // the inside that the frame leaves
            label(c, TRect(x, top + 88, x + 120, top + 105), names[s]);
        }
    }

    void drawEdges(TKivCanvas& c, int top) {
        heading(c, 10, top, "System edges (BF_RECT, with BF_SOFT, BF_FLAT, BF_MONO, BF_MIDDLE)");
        struct E {
            unsigned Edge, Flags;
            const char* Name;
        };
        const E edges[] = {{EDGE_RAISED, 0, "EDGE_RAISED"},
                           {EDGE_SUNKEN, 0, "EDGE_SUNKEN"},
                           {EDGE_ETCHED, 0, "EDGE_ETCHED"},
                           {EDGE_BUMP, 0, "EDGE_BUMP"},
                           {EDGE_RAISED, BF_SOFT | BF_MIDDLE, "RAISED|SOFT"},
                           {EDGE_SUNKEN, BF_SOFT | BF_MIDDLE, "SUNKEN|SOFT"},
                           {EDGE_SUNKEN, BF_FLAT, "SUNKEN|FLAT"},
                           {EDGE_SUNKEN, BF_MONO, "SUNKEN|MONO"}};
        for (int i = 0; i < 8; ++i) {
            const int x = 10 + i * 120;
            TRect r(x, top + 25, x + 105, top + 85);
            c.DrawEdge(r, edges[i].Edge, edges[i].Flags | BF_RECT);
            label(c, TRect(x, top + 88, x + 105, top + 105), edges[i].Name);
        }
    }

    void drawTextStyles(TKivCanvas& c, int top) {
        heading(c, 10, top, "TKivCaptionStyle text styles (Arial bold 20 px, black), and disabled");
        const char* names[] = {"atsNormal",      "atsRaised", "atsRaisedHeavy", "atsSunken",
                               "atsSunkenHeavy", "atsShadow", "atsOutline",     "disabled"};
        for (int s = 0; s < 8; ++s) {
            const int x = 10 + (s % 4) * 245, y = top + 25 + (s / 4) * 60;
            TRect box(x, y, x + 230, y + 40);
            c.DrawEdge(box, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
            TKivCaptionStyle style;
            if (s < 7)
                style.SetTextStyle(TKivTextStyle(s));
            style.SetOutlineFillColor(clAqua);
            style.DrawText(c, "Orvane 532.5", arial(20, clWindowText, true), box, taCenter, tlCenter, 0,
                           s == 7);
            label(c, TRect(x, y + 41, x + 230, y + 56), names[s]);
        }
    }

    void drawRotations(TKivCanvas& c, int top) {
        heading(c, 10, top, "Rotation (Angle, centred), caption style atsRaised");
        for (int i = 0; i < 8; ++i) {
            const int angle = i * 45, x = 10 + i * 122;
            TRect box(x, top + 25, x + 112, top + 175);
            TRect inner = box;
            c.DrawEdge(inner, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
            TKivCaptionStyle style;
            style.SetTextStyle(atsRaised);
            style.SetAngle(angle);
            style.DrawText(c, "Scan", arial(22, clNavy, true), inner, taCenter, tlCenter, 0, false);
            label(c, TRect(x, top + 178, x + 112, top + 195), QString("Angle %1").arg(angle));
        }
    }

    void drawExtras(TKivCanvas& c, int top) {
        heading(c, 10, top,
                "Lamps (arcs, diagonal edges, flood fill), transparent copy, disabled glyph, focus");
        // A sunken round lamp: filled ellipse and its rim of arcs.
        for (int k = 0; k < 2; ++k) {
            const int l = 10 + k * 40, t = top + 30, rt = l + 30, b = t + 30;
            const TColor lamp = k ? clLime : clRed;
            c.Pen.Color = lamp;
            c.Brush.Color = lamp;
            c.Ellipse(TRect(l, t, rt, b));
            c.Pen.Color = clBtnShadow;
            c.Arc(TRect(l, t, rt, b), QPoint(rt, t), QPoint(l, b));
            c.Pen.Color = clBtnHighlight;
            c.Arc(TRect(l, t, rt, b), QPoint(l, b), QPoint(rt, t));
        }
        // A raised diamond lamp: four diagonal edges and a fill from the middle.
        {
            const int l = 100, t = top + 30, rt = l + 30, b = t + 30, hw = 15, hh = 15;
            const struct {
                TRect Quarter;
                unsigned Flags;
            } quarters[] = {{TRect(l, t, rt - hw, b - hh), BF_DIAGONAL_ENDTOPRIGHT},
                            {TRect(l + hw, t, rt, b - hh), BF_DIAGONAL_ENDTOPLEFT},
                            {TRect(l, t + hh, rt - hw, b), BF_DIAGONAL_ENDBOTTOMRIGHT},
                            {TRect(l + hw, t + hh, rt, b), BF_DIAGONAL_ENDBOTTOMLEFT}};
            for (auto q : quarters)
                c.DrawEdge(q.Quarter, EDGE_RAISED, q.Flags);
            c.Brush.Color = clYellow;
            c.FloodFill(l + 15, t + 15, clBtnFace, fsSurface);
        }
        // A transparent copy: the magenta corners of a small face are left out.
        QImage face(32, 21, QImage::Format_RGB32);
        face.fill(QColor(0x31, 0x6A, 0xC5));
        for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 20}, {31, 20}})
            face.setPixel(x, y, qRgb(255, 0, 255));
        TransparentStretch(c, 160, top + 30, 96, 63, face, 0, 0, 32, 21, clFuchsia, false);
        TransparentBlit(c, 270, top + 30, 32, 21, face, 0, 0, clFuchsia, false);
        // A glyph and its disabled look.
        QImage glyph(24, 24, QImage::Format_ARGB32);
        glyph.fill(Qt::transparent);
        {
            QPainter p(&glyph);
            p.setBrush(QColor(200, 30, 30));
            p.setPen(Qt::black);
            p.drawEllipse(2, 2, 19, 19);
            p.fillRect(9, 6, 6, 12, Qt::white);
        }
        c.Draw(320, top + 30, glyph);
        for (int mode = 0; mode < 3; ++mode) {
            DrawDisabledGlyph(c, TRect(360 + mode * 35, top + 30, 360 + mode * 35 + 24, top + 54), glyph,
                              mode);
        }
        // A plain button face, raised and pushed, with the focus rectangle.
        for (int k = 0; k < 2; ++k) {
            TRect r(480 + k * 100, top + 30, 570 + k * 100, top + 64);
            const TRect outer = r;
            c.DrawPushButton(r, k == 1);
            TKivCaptionStyle plain;
            plain.DrawText(c, "MOVE", arial(13, clWindowText), r.Offset(k, k), taCenter, tlCenter, 0, false);
            c.DrawFocusRect(outer.Inflate(-4, -4));
        }
        // Flat frame with two sides, and an outlined, shadowed caption.
        TKivFrame frame;
        frame.SetEdges(aeLeft | aeBottom);
        frame.SetFlatColor(clRed);
        TRect fr(700, top + 30, 780, top + 70);
        frame.Draw(c, fr);
        TKivCaptionStyle shadow;
        shadow.SetTextStyle(atsShadow);
        shadow.SetShadowDirection(asdTopRight);
        shadow.SetShadowDepth(3);
        shadow.DrawText(c, "Dual", arial(24, clMaroon, true), TRect(800, top + 30, 990, top + 80),
                        taLeftJustify, tlTop, 0, false);
        label(c, TRect(10, top + 100, 990, top + 120),
              "round lamps, diamond lamp, stretched and plain transparent copies, glyph + modes 0..2, "
              "buttons raised/pushed, flat frame, shadow");
    }
};

} // namespace

namespace {

// Every push button of the main window on one shared skinner (the window's skin bitmaps, fixed
// bands of 4 pixels, fuchsia corners), in its normal, hot, pressed, disabled and default states,
// and the COMM. lamp button off and on.
QWidget* addButtonSection(QWidget* gallery, int top) {
    auto* section = new QWidget(gallery);
    section->setGeometry(0, top, 1000, 395);
    section->setAutoFillBackground(true);
    QPalette pal = section->palette();
    pal.setColor(QPalette::Window, Qt::white);
    section->setPalette(pal);

    auto* skinner = new TKivBtnSkinner(section);
    skinner->setObjectName("BtnSkinnerXP");
    skinner->SetBitmapNormal(QImage(":/orvane/skin/normal.bmp"));
    skinner->SetBitmapDown(QImage(":/orvane/skin/down.bmp"));
    skinner->SetBitmapEnter(QImage(":/orvane/skin/enter.bmp"));
    skinner->SetBitmapDisabled(QImage(":/orvane/skin/disabled.bmp"));
    skinner->SetBitmapFocused(QImage(":/orvane/skin/focused.bmp"));
    skinner->SetFixedWidth(4);
    skinner->SetFixedHeight(4);
    skinner->SetTransparentColor(clFuchsia);

    auto* iml = new TImageList(16, 16, section);
    for (int i : {11, 12, 13, 61, 73, 74})
        iml->SetImage(i, QImage(QString(":/orvane/iml16/%1.png").arg(i)));
    auto* iml24 = new TImageList(24, 24, section);
    iml24->SetImage(0, QImage(":/orvane/iml24/0.png"));

    QFont arial("Arial");
    arial.setPixelSize(13);
    QFont bold = arial;
    bold.setBold(true);

    auto* heading = new QLabel(
        "Skinned buttons on one skinner (FixedWidth 4, FixedHeight 4, TransparentColor clFuchsia)", section);
    heading->setFont(bold);
    heading->setGeometry(10, 4, 900, 20);
    const char* states[] = {"normal", "hot", "pressed", "disabled", "default"};
    for (int s = 0; s < 5; ++s) {
        auto* l = new QLabel(states[s], section);
        l->setFont(arial);
        l->setGeometry(160 + s * 165, 26, 150, 16);
    }

    struct Row {
        const char* Caption;
        TImageList* Images;
        int Index, Width;
        bool Right;
        int Lamp; // -1: image button; 0/1: COMM. lamp off/on
    };
    const Row rows[] = {{"INITIALIZATION", iml, 11, 140, false, -1},
                        {"MOVE", iml, 74, 90, false, -1},
                        {"STOP", iml, 73, 90, false, -1},
                        {"-", iml, 12, 56, false, -1},
                        {"+", iml, 13, 56, true, -1},
                        {"SCAN", iml, 61, 90, false, -1},
                        {"Close", iml24, 0, 90, false, -1},
                        {"COMM.", nullptr, -1, 80, false, 0},
                        {"COMM.", nullptr, -1, 80, false, 1}};
    int y = 46;
    for (const Row& r : rows) {
        auto* name = new QLabel(r.Lamp < 0 ? QString("\"%1\" image %2").arg(r.Caption).arg(r.Index)
                                           : QString("COMM. lamp %1").arg(r.Lamp ? "on" : "off"),
                                section);
        name->setFont(arial);
        name->setGeometry(10, y + 9, 145, 16);
        for (int s = 0; s < 5; ++s) {
            TKivCustomBtn* b;
            if (r.Lamp < 0) {
                auto* bb = new TKivBitBtn(section);
                bb->SetImages(r.Images);
                bb->SetImageIndex(r.Index);
                if (r.Right)
                    bb->SetGlyphLayout(blGlyphRight);
                b = bb;
            } else {
                auto* lb = new TKivLEDBtn(section);
                lb->LED()->SetWidth(15);
                lb->LED()->SetHeight(15);
                lb->LED()->SetOffColor(clRed);
                lb->LED()->SetShape(alsCircle);
                lb->SetMargin(0);
                lb->SetSpacing(0);
                lb->LED()->SetValue(r.Lamp == 1);
                b = lb;
            }
            b->setText(r.Caption);
            b->setFont(arial);
            b->SetFlat(false);
            b->SetThemeAware(false);
            b->SetColor(clAqua);
            b->SetSkinner(skinner);
            b->setFocusPolicy(Qt::NoFocus);
            b->setGeometry(160 + s * 165, y, r.Width, 34);
            switch (s) {
            case 1: {
                QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
                QCoreApplication::sendEvent(b, &enter);
                // Keep it hot: the pointer never really comes here.
                b->setAttribute(Qt::WA_TransparentForMouseEvents);
                break;
            }
            case 2:
                b->setDown(true);
                b->setAttribute(Qt::WA_TransparentForMouseEvents);
                break;
            case 3:
                b->setEnabled(false);
                break;
            case 4:
                b->setDefault(true);
                break;
            default:
                break;
            }
        }
        y += 38;
    }
    return section;
}

} // namespace
void addReadoutSection(QWidget* gallery);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setPalette(WindowsClassicPalette());
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption shot("screenshot", "Save a PNG of the window to FILE and quit.", "FILE");
    parser.addOption(shot);
    parser.process(app);

    Gallery gallery;
    addReadoutSection(&gallery);
    gallery.show();
    if (parser.isSet(shot)) {
        const QString file = parser.value(shot);
        QTimer::singleShot(800, &gallery, [&gallery, file] {
            // The screen's own pixels, as the window system shows them.
            QPixmap pixmap = gallery.screen()->grabWindow(gallery.winId());
            // A window taller than the screen is cut off there; then the widget paints itself.
            if (pixmap.isNull() || pixmap.size() != gallery.size() ||
                !gallery.screen()->geometry().contains(gallery.geometry()))
                pixmap = gallery.grab();
            const bool ok = pixmap.save(file, "PNG");
            std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(file));
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}

// ---------------------------------------------------------------------------------------------------
// The numeric readout, below the drawing kit: the main window's readout as the window sets it up,
// and the readout as constructed, with its clear button, caption below and a bound channel.

#include "KivDataServer.h"
#include "KivIndicator.h"

#include <QLabel>

void addReadoutSection(QWidget* gallery) {
    const int top = gallery->height();
    gallery->setFixedSize(gallery->width(), top + 150);
    auto* title = new QLabel(
        "TKivOdoMeter: the main window's readout (344 x 37, 532.500 nm); as constructed, bound to a "
        "channel; disabled, caption on top",
        gallery);
    title->setFont(arial(13, clNavy, true).Font);
    title->move(10, top);
    title->adjustSize();

    auto* meter = new TKivOdoMeter(gallery);
    meter->BeginLoading();
    meter->setGeometry(10, top + 25, 344, 37);
    meter->SetColor(clNavy);
    meter->SetFont(arial(13, clWindowText, true));
    meter->SetTransparentColor(clWhite);
    meter->SetAlignment(taLeftJustify);
    meter->SetCaption("Current Wavelength");
    meter->SetCaptionWidth(140);
    meter->SetFrameColor(clWhite);
    for (TKivFrame* frame : {meter->FrameInner(), meter->FrameOuter()}) {
        frame->SetVisible(false);
        frame->SetEnabled(false);
    }
    meter->SetMargin(0);
    meter->SetLayout(tlCenter);
    meter->SetShowClearButton(false);
    meter->SetValueFormat("%.3f");
    meter->SetValueUnit("nm");
    meter->SetValueUnitFont(arial(11, clWhite));
    meter->SetValueFont(arial(24, clFuchsia, true));
    meter->Loaded();
    meter->SetValue(532.5);

    auto* server = new TKivCustomDataServer(gallery);
    TKivChannel* channel = server->Channels()->Add();
    channel->SetName("Pressure");
    channel->SetChannelType(acvtDouble);
    channel->SetAsDouble(1013.25);
    server->Loaded();
    auto* bound = new TKivOdoMeter(gallery);
    bound->move(380, top + 25);
    bound->SetCaption("Pressure");
    bound->SetValueUnit("hPa");
    bound->SetDataServer(server);
    bound->SetChannel("Pressure");

    auto* disabled = new TKivOdoMeter(gallery);
    disabled->setGeometry(540, top + 25, 200, 100);
    disabled->SetCaption("Disabled, tlTop");
    disabled->SetLayout(tlTop);
    disabled->SetValueFormat("%d");
    disabled->SetValue(-2.9);
    disabled->setEnabled(false);
}
