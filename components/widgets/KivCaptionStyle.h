#pragma once
// How a caption is drawn: relief, shadow or outline, and an optional rotation. Every button and
// the readout own one and draw their captions through it.

#include "KivColor.h"
#include "KivCommon.h"
#include "KivGraphics.h"

#include <QObject>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>

enum TKivShadowDirection : std::uint8_t { asdTopLeft, asdTopRight, asdBottomLeft, asdBottomRight };

class TKivCaptionStyle : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Angle READ Angle WRITE SetAngle)
    Q_PROPERTY(TColor ShadowColor READ ShadowColor WRITE SetShadowColor)
    Q_PROPERTY(int ShadowDepth READ ShadowDepth WRITE SetShadowDepth)
    Q_PROPERTY(TKivShadowDirection ShadowDirection READ ShadowDirection WRITE SetShadowDirection)
    Q_PROPERTY(TKivTextStyle TextStyle READ TextStyle WRITE SetTextStyle)
    Q_PROPERTY(TColor OutlineFillColor READ OutlineFillColor WRITE SetOutlineFillColor)
    Q_PROPERTY(int OutlineWidth READ OutlineWidth WRITE SetOutlineWidth)

public:
    explicit TKivCaptionStyle(QObject* parent = nullptr);

    int Angle() const { return FAngle; }
    void SetAngle(int Value);
    TKivTextStyle TextStyle() const { return FTextStyle; }
    void SetTextStyle(TKivTextStyle Value);
    TColor ShadowColor() const { return FShadowColor; }
    void SetShadowColor(TColor Value);
    int ShadowDepth() const { return FShadowDepth; }
    void SetShadowDepth(int Value);
    TKivShadowDirection ShadowDirection() const { return FShadowDirection; }
    void SetShadowDirection(TKivShadowDirection Value);
    bool AllowRotation() const { return FAllowRotation; }
    void SetAllowRotation(bool Value);
    bool SnapToRightAngles() const { return FSnapToRightAngles; }
    void SetSnapToRightAngles(bool Value);
    TColor OutlineFillColor() const { return FOutlineFillColor; }
    void SetOutlineFillColor(TColor Value);
    int OutlineWidth() const { return FOutlineWidth; }
    void SetOutlineWidth(int Value);

    // Raised after a change that affects drawing.
    std::function<void(QObject* Sender)> OnChanged;

    // Copies the angle, text style, shadow and rotation settings (not the outline ones) of another
    // caption style; anything else cannot be assigned (ConversionError).
    void Assign(const QObject* Source);

    // Draws Text in Rect with Font; Flags are text drawing flags to add (DT_WORDBREAK,
    // DT_EXPANDTABS). Returns the size the text took, including the style's relief or shadow.
    QSize DrawText(TKivCanvas& Canvas, const QString& Text, const TKivFont& Font, const TRect& Rect,
                   TAlignment Alignment, TTextLayout Layout, unsigned Flags, bool Disabled);
    // Width and height the text needs in this style, rotation included.
    QSize TextExtent(TKivCanvas& Canvas, const QString& Text, const TRect& Rect, const TKivFont& Font);

private:
    int FAngle = 0;
    TKivTextStyle FTextStyle = atsNormal;
    TColor FShadowColor = clBtnShadow;
    int FShadowDepth = 2;
    TKivShadowDirection FShadowDirection = asdBottomRight;
    bool FAllowRotation = true;
    bool FSnapToRightAngles = false;
    TColor FOutlineFillColor = clWindow;
    int FOutlineWidth = 1;

    void Changed();
    QPoint ShadowOffset() const;
    // Draws the style's copies in order, each at an offset in a colour, and returns how much they
    // add to the text's size. The outline is a path and left to the caller.
    int DrawCopies(bool Disabled, TColor FontColor,
                   const std::function<void(int, int, TColor)>& drawAt) const;
    QSize DrawPlain(TKivCanvas& Canvas, const QString& Text, const TKivFont& Font, const TRect& Rect,
                    TAlignment Alignment, TTextLayout Layout, unsigned Flags, bool Disabled);
    QSize DrawRotated(TKivCanvas& Canvas, const QString& Text, const TKivFont& Font, const TRect& Rect,
                      TAlignment Alignment, TTextLayout Layout, bool Disabled);
};
