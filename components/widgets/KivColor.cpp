#include "KivColor.h"

#include <QGuiApplication>

#include <optional>

namespace {

std::optional<QPalette>& pinnedPalette() {
    static std::optional<QPalette> palette;
    return palette;
}

QPalette currentPalette() {
    if (pinnedPalette())
        return *pinnedPalette();
    // Without an application there is no palette to follow; the classic colours stand in.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QGuiApplication::palette();
    return WindowsClassicPalette();
}

QColor systemColor(int index) {
    const QPalette palette = currentPalette();
    switch (index) {
    case 5: // window
        return palette.color(QPalette::Active, QPalette::Base);
    case 6: // window frame
    case 8: // window text
        return palette.color(QPalette::Active, QPalette::WindowText);
    case 13:
        return palette.color(QPalette::Active, QPalette::Highlight);
    case 14:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    case 15: // button face
        return palette.color(QPalette::Active, QPalette::Button);
    case 16: // button shadow
        return palette.color(QPalette::Active, QPalette::Dark);
    case 17:
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18:
        return palette.color(QPalette::Active, QPalette::ButtonText);
    case 20: // button highlight
        return palette.color(QPalette::Active, QPalette::Light);
    case 21: // 3D dark shadow
        return palette.color(QPalette::Active, QPalette::Shadow);
    case 22: // 3D light
        return palette.color(QPalette::Active, QPalette::Midlight);
    default:
        return palette.color(QPalette::Active, QPalette::Window);
    }
}

} // namespace

void SetSystemColorPalette(const QPalette& Palette) {
    pinnedPalette() = Palette;
}

void FollowApplicationPalette() {
    pinnedPalette().reset();
}

qint64 SystemColorPaletteKey() {
    return currentPalette().cacheKey();
}

QColor ColorToQColor(TColor color) {
    if (color == clNone)
        return QColor();
    if (color.IsSystem())
        return systemColor(color.SystemIndex());
    return QColor(color.Red(), color.Green(), color.Blue());
}

QRgb ColorToRgb(TColor color) {
    const QColor c = ColorToQColor(color);
    return c.isValid() ? (c.rgb() | 0xFF000000u) : 0u;
}

TColor RgbToColor(QRgb rgb) {
    return TColor::FromRGB(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

QPalette WindowsClassicPalette() {
    const QColor face(0xC0, 0xC0, 0xC0), shadow(0x80, 0x80, 0x80), white(Qt::white), black(Qt::black);
    QPalette p(black, face, white, shadow, shadow, black, white, white, face);
    p.setColor(QPalette::Midlight, QColor(0xDF, 0xDF, 0xDF));
    p.setColor(QPalette::Shadow, black);
    p.setColor(QPalette::Highlight, QColor(0x00, 0x00, 0x80));
    p.setColor(QPalette::HighlightedText, white);
    p.setColor(QPalette::ButtonText, black);
    p.setColor(QPalette::Disabled, QPalette::Text, shadow);
    p.setColor(QPalette::Disabled, QPalette::WindowText, shadow);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, shadow);
    return p;
}
