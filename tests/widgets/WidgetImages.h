// What the widget tests share: pictures of widgets and drawings, the pixels in them, the classic
// Windows palette the reference pixels were taken under, the mouse and a channel to bind to.
#pragma once

#include "KivColor.h"
#include "KivDataServer.h"
#include "KivGraphics.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include <optional>

// The pixel, opaque whatever the image's alpha.
inline QRgb px(const QImage& img, int x, int y) {
    return img.pixel(x, y) | 0xFF000000u;
}

inline QImage solid(int w, int h, QRgb c, QImage::Format format = QImage::Format_RGB32) {
    QImage img(w, h, format);
    img.fill(QColor::fromRgba(c));
    return img;
}

// `img` drawn on through the drawing kit's canvas, which is gone again when this returns.
template <class Paint> QImage& paintOn(QImage& img, Paint&& paint) {
    TKivCanvas c(&img);
    paint(c);
    return img;
}

// A `w` x `h` picture filled with `fill`, then drawn on through the drawing kit's canvas.
template <class Paint> QImage painted(int w, int h, QRgb fill, Paint&& paint) {
    QImage img = solid(w, h, fill);
    return paintOn(img, paint);
}

// The widget drawn 1:1 over `background`, whatever the screen's pixel ratio. Leave out
// DrawWindowBackground to see what a transparent widget leaves out.
inline QImage renderWidget(QWidget& w, QRgb background = 0xFFFFFFFF,
                           QWidget::RenderFlags flags = QWidget::DrawWindowBackground |
                                                        QWidget::DrawChildren) {
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(background);
    w.render(&img, QPoint(), QRegion(), flags);
    return img.convertToFormat(QImage::Format_RGB32);
}

// Bounding box of the pixels of one colour within `within` (the whole image by default); empty when none.
inline QRect inkBox(const QImage& img, QRgb color, QRect within = {}) {
    if (within.isNull())
        within = img.rect();
    QRect box;
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x)
            if (px(img, x, y) == (color | 0xFF000000u))
                box |= QRect(x, y, 1, 1);
    return box;
}

inline int countOf(const QImage& img, QRgb color) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += px(img, x, y) == (color | 0xFF000000u);
    return n;
}

// A plain background for children to show through.
inline void paintBackground(QWidget& w, QColor color) {
    QPalette pal = w.palette();
    pal.setColor(QPalette::Window, color);
    w.setPalette(pal);
    w.setAutoFillBackground(true);
}

inline TKivFont arialFont(int pixels, TColor color, bool bold = true) {
    QFont arial("Arial");
    arial.setPixelSize(pixels);
    arial.setBold(bold);
    return {arial, color};
}

// Text pixels were measured with Arial's metric twin.
inline bool arialIsLiberation() {
    return QFontInfo(QFont("Arial")).family() == QLatin1String("Liberation Sans");
}

#define SKIP_UNLESS_ARIAL_IS_LIBERATION()                                                                    \
    if (!arialIsLiberation())                                                                                \
    GTEST_SKIP() << "Arial does not resolve to Liberation Sans; text pixels would differ"

// A mouse press or release at `p`; a press holds the button.
inline void mouse(QWidget& w, QEvent::Type type, QPoint p = {5, 5}, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent e(type, QPointF(p), w.mapToGlobal(QPointF(p)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

// A channel for a widget to bind to.
inline TKivChannel* addChannel(TKivCustomDataServer& s, const QString& name,
                               TKivChannelType type = acvtInteger) {
    TKivChannel* c = s.Channels()->Add();
    c->SetName(name);
    c->SetChannelType(type);
    return c;
}

// Every suite that compares pixels draws under the classic Windows colours and gives the palette back.
class ClassicPalette : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        saved = QApplication::palette();
        QApplication::setPalette(WindowsClassicPalette());
    }
    static void TearDownTestSuite() { QApplication::setPalette(*saved); }
    static inline std::optional<QPalette> saved;
};
