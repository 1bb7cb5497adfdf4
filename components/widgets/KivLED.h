#pragma once
// An indicator lamp: size, shape, rim style, on and off colours and the on/off value, and how it is
// drawn into a rectangle.

#include "KivColor.h"
#include "KivGraphics.h"

#include <QObject>

#include <cstdint>
#include <functional>

enum TKivLEDStyle : std::uint8_t { alsRaised, alsSunken, alsRaisedHeavy, alsSunkenHeavy, alsFlat };
enum TKivLEDShape : std::uint8_t { alsRectangle, alsCircle, alsDiamond };

class TKivLEDAttributes : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(TColor OnColor READ OnColor WRITE SetOnColor)
    Q_PROPERTY(TColor OffColor READ OffColor WRITE SetOffColor)
    Q_PROPERTY(TKivLEDShape Shape READ Shape WRITE SetShape)
    Q_PROPERTY(TKivLEDStyle Style READ Style WRITE SetStyle)
    Q_PROPERTY(bool Value READ Value WRITE SetValue)
    Q_PROPERTY(bool Blinking READ Blinking WRITE SetBlinking)

public:
    explicit TKivLEDAttributes(QObject* parent = nullptr);

    bool Value() const { return FValue; }
    void SetValue(bool Value);
    TKivLEDStyle Style() const { return FStyle; }
    void SetStyle(TKivLEDStyle Value);
    TKivLEDShape Shape() const { return FShape; }
    void SetShape(TKivLEDShape Value);
    int Width() const { return FWidth; }
    void SetWidth(int Value);
    int Height() const { return FHeight; }
    void SetHeight(int Value);
    bool Blinking() const { return FBlinking; }
    void SetBlinking(bool Value);
    TColor OnColor() const { return FOnColor; }
    void SetOnColor(TColor Value);
    TColor OffColor() const { return FOffColor; }
    void SetOffColor(TColor Value);

    // Raised after an appearance property changed.
    std::function<void(QObject* Sender)> OnChanged;
    // Raised after Value changed.
    std::function<void(QObject* Sender)> OnValueChanged;

    // Copies the appearance (not Value, not the events) of another lamp; anything else cannot be
    // assigned (ConversionError).
    void Assign(const QObject* Source);

    // Paints the lamp into R.
    void Draw(TKivCanvas& Canvas, const TRect& R) const;

private:
    bool FValue = false;
    TKivLEDStyle FStyle = alsSunken;
    TKivLEDShape FShape = alsRectangle;
    int FWidth = 12;
    int FHeight = 12;
    bool FBlinking = false;
    TColor FOnColor = clLime;
    TColor FOffColor = clBtnFace;

    void Changed();
    template <typename T> void setAppearance(T& Field, const T& Value) {
        if (Field == Value)
            return;
        Field = Value;
        Changed();
    }
};
