#pragma once
// The widget library's colour: either an RGB value (red in the low byte) or a reference to a
// system colour, which is looked up only when something is drawn so that palette changes apply.

#include <QColor>
#include <QPalette>
#include <QRgb>

#include <cstdint>

struct TColor {
    std::uint32_t Value = 0;

    constexpr TColor() = default;
    constexpr explicit TColor(std::uint32_t value) : Value(value) {}

    // Red, green and blue as 0..255; red goes to the low byte.
    static constexpr TColor FromRGB(int red, int green, int blue) {
        return TColor(static_cast<std::uint32_t>(red & 0xFF) | static_cast<std::uint32_t>(green & 0xFF) << 8 |
                      static_cast<std::uint32_t>(blue & 0xFF) << 16);
    }
    constexpr bool IsSystem() const { return (Value & 0xFF000000u) == 0xFF000000u; }
    constexpr int SystemIndex() const { return static_cast<int>(Value & 0xFF); }
    constexpr int Red() const { return static_cast<int>(Value & 0xFF); }
    constexpr int Green() const { return static_cast<int>(Value >> 8 & 0xFF); }
    constexpr int Blue() const { return static_cast<int>(Value >> 16 & 0xFF); }

    friend constexpr bool operator==(TColor a, TColor b) = default;
};

// System colour references keep the window system's colour index in the low byte.
inline constexpr TColor clWindow{0xFF000005u};
inline constexpr TColor clWindowFrame{0xFF000006u};
inline constexpr TColor clWindowText{0xFF000008u};
inline constexpr TColor clHighlight{0xFF00000Du};
inline constexpr TColor clHighlightText{0xFF00000Eu};
inline constexpr TColor clBtnFace{0xFF00000Fu};
inline constexpr TColor clBtnShadow{0xFF000010u};
inline constexpr TColor clGrayText{0xFF000011u};
inline constexpr TColor clBtnText{0xFF000012u};
inline constexpr TColor clBtnHighlight{0xFF000014u};
inline constexpr TColor cl3DDkShadow{0xFF000015u};
inline constexpr TColor cl3DLight{0xFF000016u};

inline constexpr TColor clBlack{0x000000u};
inline constexpr TColor clMaroon{0x000080u};
inline constexpr TColor clGreen{0x008000u};
inline constexpr TColor clOlive{0x008080u};
inline constexpr TColor clNavy{0x800000u};
inline constexpr TColor clPurple{0x800080u};
inline constexpr TColor clTeal{0x808000u};
inline constexpr TColor clGray{0x808080u};
inline constexpr TColor clSilver{0xC0C0C0u};
inline constexpr TColor clRed{0x0000FFu};
inline constexpr TColor clLime{0x00FF00u};
inline constexpr TColor clYellow{0x00FFFFu};
inline constexpr TColor clBlue{0xFF0000u};
inline constexpr TColor clFuchsia{0xFF00FFu};
inline constexpr TColor clAqua{0xFFFF00u};
inline constexpr TColor clWhite{0xFFFFFFu};

// "No colour": never drawn, and never equal to a real pixel.
inline constexpr TColor clNone{0x1FFFFFFFu};

// The colour as drawn now: system colours come from the application's palette (Button = face,
// Dark = shadow, Light = highlight, Shadow = dark shadow, Midlight = 3D light, Base = window,
// WindowText = window text and window frame). clNone gives an invalid QColor.
QColor ColorToQColor(TColor color);
// Same, as an opaque 0xffRRGGBB value (clNone gives fully transparent 0).
QRgb ColorToRgb(TColor color);
// System colours from Palette instead of the application's, for a window that keeps its own look under
// any desktop theme; FollowApplicationPalette() goes back to the application's. Window thread only.
void SetSystemColorPalette(const QPalette& Palette);
void FollowApplicationPalette();
// Changes whenever the colours that system colours resolve to change.
qint64 SystemColorPaletteKey();
// An RGB colour for a pixel value (its alpha is dropped).
TColor RgbToColor(QRgb rgb);

// The classic Windows colours (face #C0C0C0, shadow #808080, highlight white, 3D light #DFDFDF,
// dark shadow black, window white, window text black), for a look like the originals.
QPalette WindowsClassicPalette();
