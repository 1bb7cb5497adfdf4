#include "KivLEDBtn.h"

#include <QCoreApplication>
#include <QList>
#include <QPointer>

TKivLEDBtn::TKivLEDBtn(QWidget* parent) : TKivButton(parent), FLED(std::make_unique<TKivLEDAttributes>()) {
    FLED->OnChanged = [this](QObject*) { update(); };
    FLED->OnValueChanged = [this](QObject* Sender) { LEDValueChanged(Sender); };
    updateAccessibleState();
}

TKivLEDBtn::~TKivLEDBtn() {
    // Unbind while the server still knows us, so no channel keeps a button that is gone.
    SetDataServer(nullptr);
}

void TKivLEDBtn::SetGroupIndex(int Value) {
    if (Value == FGroupIndex)
        return;
    FGroupIndex = Value;
    SendGroupMessage();
}

void TKivLEDBtn::SetLEDLayout(TKivLEDLayout Value) {
    if (Value == FLEDLayout)
        return;
    FLEDLayout = Value;
    update();
}

void TKivLEDBtn::SetSpacing(int Value) {
    if (Value == FSpacing)
        return;
    FSpacing = Value;
    update();
}

void TKivLEDBtn::SetMargin(int Value) {
    if (Value == FMargin || Value < -1)
        return;
    FMargin = Value;
    update();
}

void TKivLEDBtn::SetShowLED(bool Value) {
    if (Value == FShowLED)
        return;
    FShowLED = Value;
    update();
}

void TKivLEDBtn::SetLED(const TKivLEDAttributes* Value) {
    FLED->Assign(Value);
}

TKivChannel* TKivLEDBtn::channelAt(int Index) const {
    if (!FDataServer || Index < 0 || Index >= FDataServer->Channels()->Count())
        return nullptr;
    return FDataServer->Channels()->Items(Index);
}

void TKivLEDBtn::SetDataServer(TKivCustomDataServer* Value) {
    if (Value == FDataServer)
        return;
    if (FDataServer) {
        if (!FChannel.isEmpty()) {
            if (TKivChannel* ch = channelAt(FDataServer->Channels()->IndexOf(FChannel)))
                ch->RemoveClient(this);
        }
        // The old server would otherwise go on telling us about its channel list.
        FDataServer->UnregisterClient(this);
        QObject::disconnect(FServerGone);
    }
    FDataServer = Value;
    FChannelIndex = -1;
    if (FDataServer) {
        FServerGone = connect(FDataServer, &TKivCustomDataServer::aboutToBeDestroyed, this,
                              [this](TKivCustomDataServer* Server) {
                                  if (Server == FDataServer)
                                      SetDataServer(nullptr);
                              });
        FDataServer->RegisterClient(this);
        if (!FChannel.isEmpty()) {
            FChannelIndex = FDataServer->Channels()->IndexOf(FChannel);
            if (TKivChannel* ch = channelAt(FChannelIndex))
                ch->AddClient(this);
        }
    }
}

void TKivLEDBtn::SetChannel(const QString& Value) {
    if (Value == FChannel)
        return;
    if (!FDataServer) {
        FChannelIndex = -1;
    } else {
        if (!FChannel.isEmpty()) {
            if (TKivChannel* ch = channelAt(FDataServer->Channels()->IndexOf(FChannel)))
                ch->RemoveClient(this);
        }
        if (!Value.isEmpty()) {
            FChannelIndex = FDataServer->Channels()->IndexOf(Value);
            if (TKivChannel* ch = channelAt(FChannelIndex))
                ch->AddClient(this);
        } else {
            FChannelIndex = -1;
        }
    }
    FChannel = Value;
}

void TKivLEDBtn::CalcLayout(const TRect& CR) {
    FTextRect = CR.Inflate(-4, -4);
    if (HasDropDownArrow())
        FTextRect.Right -= 12;
    if (!FShowLED)
        return;
    const int w = FLED->Width(), h = FLED->Height();
    if (FLEDLayout != allCenter) {
        // The lamp sits beside the caption like a glyph; the layouts name the sides in the same order.
        FLEDRect =
            PlaceBoxBesideText(FTextRect, static_cast<TButtonLayout>(FLEDLayout), w, h, FMargin, FSpacing);
        return;
    }
    TRect r = FTextRect;
    r.Left += (r.Width() - w) / 2;
    r.Right = r.Left + w;
    r.Top += (r.Height() - h) / 2;
    r.Bottom = r.Top + h;
    FLEDRect = r;
}

void TKivLEDBtn::DrawContent(TKivCanvas& Canvas, const TDrawItem& DrawItem) {
    CalcLayout(ClientRect());
    if (DrawItem.ItemState & ODS_SELECTED) {
        FLEDRect = FLEDRect.Offset(1, 1);
        FTextRect = FTextRect.Offset(1, 1);
    }
    if (FShowLED)
        FLED->Draw(Canvas, FLEDRect);
    DrawCaption(Canvas, FTextRect);
}

void TKivLEDBtn::LEDValueChanged(QObject*) {
    updateAccessibleState();
    if (FGroupIndex != 0 && FLED->Value())
        SendGroupMessage();
    if (FShowLED)
        update();
    if (OnLEDChange)
        OnLEDChange(this);
}

void TKivLEDBtn::updateAccessibleState() {
    // Screen readers and test drivers read the connection state from here.
    setAccessibleDescription(FLED->Value() ? QStringLiteral("on") : QStringLiteral("off"));
}

void TKivLEDBtn::SendGroupMessage() {
    if (FGroupIndex == 0 || !parentWidget())
        return;
    // Guarded: a handler run by the message may destroy a sibling, or this button.
    QList<QPointer<QObject>> children;
    for (QObject* child : parentWidget()->children())
        children.append(child);
    QPointer<TKivLEDBtn> self(this);
    for (const QPointer<QObject>& child : children) {
        if (!self)
            return;
        if (!child || !child->isWidgetType())
            continue;
        LEDGroupMessage msg(FGroupIndex, this);
        QCoreApplication::sendEvent(child, &msg);
    }
}

bool TKivLEDBtn::event(QEvent* e) {
    if (e->type() == CM_LEDGROUPCHANGED) {
        auto* msg = static_cast<LEDGroupMessage*>(e);
        if (msg->WParam == FGroupIndex && msg->LParam != this && msg->LParam && msg->LParam->LED()->Value() &&
            FLED->Value())
            FLED->SetValue(false);
        return true;
    }
    if (e->type() == CM_CHANNELVALUE) {
        auto* msg = static_cast<ChannelMessage*>(e);
        if (TKivChannel* ch = msg->channel())
            FLED->SetValue(ch->AsBoolean());
        return true;
    }
    if (e->type() == CM_CHANNELSCHANGED) {
        FChannelIndex = -1;
        if (FDataServer && !FChannel.isEmpty()) {
            FChannelIndex = FDataServer->Channels()->IndexOf(FChannel);
            if (TKivChannel* ch = channelAt(FChannelIndex))
                ch->AddClient(this);
        }
        return true;
    }
    return TKivButton::event(e);
}
