#pragma once
// A frame on some or all sides of a rectangle, as a system edge or as flat lines; drawing it
// shrinks the rectangle by what it took. The readout owns two.

#include "KivColor.h"
#include "KivGraphics.h"

#include <QFlags>
#include <QObject>

#include <cstdint>
#include <functional>

// Bit i is side i (left, top, right, bottom).
enum TKivEdge : std::uint8_t { aeLeft = 0x1, aeTop = 0x2, aeRight = 0x4, aeBottom = 0x8 };
Q_DECLARE_FLAGS(TKivEdges, TKivEdge)
Q_DECLARE_OPERATORS_FOR_FLAGS(TKivEdges)

enum TKivFrameStyle : std::uint8_t {
    afsRaised,
    afsSunken,
    afsBump,
    afsEtched,
    afsRaisedHeavy,
    afsSunkenHeavy,
    afsFlat
};

class TKivFrame : public QObject {
    Q_OBJECT
    Q_PROPERTY(TColor FlatColor READ FlatColor WRITE SetFlatColor)
    Q_PROPERTY(TKivEdges Edges READ Edges WRITE SetEdges)
    Q_PROPERTY(TKivFrameStyle Style READ Style WRITE SetStyle)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)

public:
    static constexpr TKivEdges AllEdges{aeLeft | aeTop | aeRight | aeBottom};

    explicit TKivFrame(QObject* parent = nullptr);

    TColor FlatColor() const { return FFlatColor; }
    void SetFlatColor(TColor Value);
    TKivEdges Edges() const { return FEdges; }
    void SetEdges(TKivEdges Value);
    TKivFrameStyle Style() const { return FStyle; }
    void SetStyle(TKivFrameStyle Value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value);
    // Stored and announced for the owner; drawing does not look at it.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);

    // Raised after any property change.
    std::function<void(QObject* Sender)> OnChange;

    // Copies the settings of another frame; anything else is an invalid cast (ConversionError).
    void Assign(const QObject* Source);

    // Draws the frame just inside Rect and shrinks Rect to the area inside it.
    void Draw(TKivCanvas& Canvas, TRect& Rect) const;

private:
    TKivEdges FEdges = AllEdges;
    TKivFrameStyle FStyle = afsFlat;
    bool FVisible = true;
    TColor FFlatColor = clBtnShadow;
    bool FEnabled = true;

    void Changed();
};
