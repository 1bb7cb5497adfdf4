#pragma once
// A skinned push button with an indicator lamp beside, above, below or under its caption. The lamp
// is switched by the program, by a bound data channel, or by other lamp buttons of its group.

#include "KivButton.h"
#include "KivDataServer.h"
#include "KivLED.h"

#include <QEvent>
#include <QMetaObject>

#include <cstdint>
#include <functional>
#include <memory>

class TKivLEDBtn;

// Sent to the siblings of a lamp button whose lamp of a group went on.
inline constexpr QEvent::Type CM_LEDGROUPCHANGED = static_cast<QEvent::Type>(CM_BASE + 1100);

// CM_LEDGROUPCHANGED's parameters: WParam is the group index, LParam the sending button.
class LEDGroupMessage : public QEvent {
public:
    LEDGroupMessage(int GroupIndex, TKivLEDBtn* Sender)
        : QEvent(CM_LEDGROUPCHANGED), WParam(GroupIndex), LParam(Sender) {}
    int WParam;
    TKivLEDBtn* LParam;
};

enum TKivLEDLayout : std::uint8_t { allLeft, allRight, allTop, allBottom, allCenter };

class TKivLEDBtn : public TKivButton {
    Q_OBJECT
    Q_PROPERTY(QString Channel READ Channel WRITE SetChannel)
    Q_PROPERTY(TKivCustomDataServer* DataServer READ DataServer WRITE SetDataServer)
    Q_PROPERTY(int GroupIndex READ GroupIndex WRITE SetGroupIndex)
    Q_PROPERTY(TKivLEDLayout LEDLayout READ LEDLayout WRITE SetLEDLayout)
    Q_PROPERTY(int Margin READ Margin WRITE SetMargin)
    Q_PROPERTY(bool ShowLED READ ShowLED WRITE SetShowLED)
    Q_PROPERTY(int Spacing READ Spacing WRITE SetSpacing)

public:
    explicit TKivLEDBtn(QWidget* parent = nullptr);
    ~TKivLEDBtn() override;

    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int Value);
    TKivLEDLayout LEDLayout() const { return FLEDLayout; }
    void SetLEDLayout(TKivLEDLayout Value);
    int Spacing() const { return FSpacing; }
    void SetSpacing(int Value);
    int Margin() const { return FMargin; }
    void SetMargin(int Value);
    TRect LEDRect() const { return FLEDRect; }
    TRect TextRect() const { return FTextRect; }
    TKivLEDAttributes* LED() const { return FLED.get(); }
    void SetLED(const TKivLEDAttributes* Value);
    TKivCustomDataServer* DataServer() const { return FDataServer; }
    void SetDataServer(TKivCustomDataServer* Value);
    QString Channel() const { return FChannel; }
    void SetChannel(const QString& Value);
    int ChannelIndex() const { return FChannelIndex; }
    bool ShowLED() const { return FShowLED; }
    void SetShowLED(bool Value);

    // Raised after the lamp's Value changed (Sender = the button).
    std::function<void(QObject* Sender)> OnLEDChange;

    // Lays out lamp and caption in the client rectangle CR.
    void CalcLayout(const TRect& CR);

protected:
    void DrawContent(TKivCanvas& Canvas, const TDrawItem& DrawItem) override;
    // The lamp's rim is flood-filled, which reads beyond the pixel it paints.
    bool ContentCacheable() const override { return false; }
    bool event(QEvent* e) override;

private:
    int FGroupIndex = 0;
    TKivLEDLayout FLEDLayout = allLeft;
    int FSpacing = 4;
    int FMargin = 2;
    TRect FLEDRect;
    TRect FTextRect;
    std::unique_ptr<TKivLEDAttributes> FLED;
    TKivCustomDataServer* FDataServer = nullptr;
    QMetaObject::Connection FServerGone;
    QString FChannel;
    int FChannelIndex = -1;
    bool FShowLED = true;

    void LEDValueChanged(QObject* Sender);
    void SendGroupMessage();
    void updateAccessibleState();
    TKivChannel* channelAt(int Index) const;
};
