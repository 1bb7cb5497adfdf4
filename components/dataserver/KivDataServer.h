#pragma once
// Named, typed data channels that widgets bind to by name, with change notification: the seam through
// which the console's widgets can be tied to other sources of data.

#include <QAction>
#include <QEvent>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TKivChannel;
class TKivChannels;
class TKivCustomDataServer;

// Messages to bound controls, sent synchronously with QCoreApplication::sendEvent.
inline constexpr int CM_BASE = 0xB000;
// A channel's value changed (or a control was just bound to it): server and channel.
inline constexpr QEvent::Type CM_CHANNELVALUE = static_cast<QEvent::Type>(CM_BASE + 1000);
// The server's channel list was (re)loaded: look channels up again.
inline constexpr QEvent::Type CM_CHANNELSCHANGED = static_cast<QEvent::Type>(CM_BASE + 1001);

// The message's parameters: for CM_CHANNELVALUE WParam is the server and LParam the channel; for
// CM_CHANNELSCHANGED WParam is 0 and LParam the server.
class ChannelMessage : public QEvent {
public:
    ChannelMessage(QEvent::Type Msg, TKivCustomDataServer* Server, TKivChannel* Channel)
        : QEvent(Msg), server_(Server), channel_(Channel) {}
    TKivCustomDataServer* server() const { return server_; }
    TKivChannel* channel() const { return channel_; } // nullptr for CM_CHANNELSCHANGED

private:
    TKivCustomDataServer* server_;
    TKivChannel* channel_;
};

enum TKivChannelKind : std::uint8_t { actInput, actOutput, actVirtual };
enum TKivChannelPermission : std::uint8_t { acpRead, acpWrite, acpReadWrite };
enum TKivChannelType : std::uint8_t {
    acvtSmallint,
    acvtInteger,
    acvtWord,
    acvtLongWord,
    acvtSingle,
    acvtDouble,
    acvtCurrency,
    acvtDate,
    acvtBoolean,
    acvtByte,
    acvtString
};

// A fixed-point money value: 64-bit, scaled by 10000 (four decimals).
struct Currency {
    qint64 scaled = 0;
    // Rounds half to even; throws ConversionError when the value does not fit.
    static Currency fromDouble(double Value);
    double toDouble() const { return static_cast<double>(scaled) / 10000.0; }
    friend bool operator==(Currency A, Currency B) { return A.scaled == B.scaled; }
};

// A point in time as days since 1899-12-30, the fraction being the time of day.
struct DateTime {
    double days = 0;
    friend bool operator==(DateTime A, DateTime B) { return A.days == B.days; }
};

Q_DECLARE_METATYPE(Currency)
Q_DECLARE_METATYPE(DateTime)

using NotifyEvent = std::function<void(QObject* Sender)>;
using ChannelEvent = std::function<void(QObject* Sender, TKivChannel* Channel)>;
using TKivChannelError =
    std::function<void(QObject* Sender, int Code, const QString& ChannelName, TKivChannel* AChannel)>;

// Ties channels to hardware or another source: the server offers every read and write of a channel to
// its links in order until one sets Handled.
class DeviceLink {
public:
    virtual ~DeviceLink() = default;
    virtual void readChannel(TKivChannel* Channel, bool& Handled) = 0;
    virtual void writeChannel(TKivChannel* Channel, bool& Handled) = 0;
};

// The link between a channel and its action. It executes the action on each change and mirrors none
// of the action's caption, check mark, enabled or visible state onto the channel.
class TKivChannelActionLink {
public:
    explicit TKivChannelActionLink(TKivChannel* AClient) : FClient(AClient) {}
    QAction* Action() const { return FAction; }
    void SetAction(QAction* Value) { FAction = Value; }
    // Triggers the action (a disabled action does nothing); false when there is none.
    bool Execute();
    bool IsCaptionLinked() const { return false; }
    bool IsCheckedLinked() const { return false; }
    bool IsEnabledLinked() const { return false; }
    bool IsVisibleLinked() const { return false; }
    TKivChannel* Client() const { return FClient; }

private:
    TKivChannel* FClient;
    QPointer<QAction> FAction;
};

// One named, typed value of a data server, with the controls bound to it.
class TKivChannel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QAction* Action READ Action WRITE SetAction)
    Q_PROPERTY(int Address READ Address WRITE SetAddress)
    Q_PROPERTY(int BrowseInfo READ BrowseInfo WRITE SetBrowseInfo)
    Q_PROPERTY(QString Category READ Category WRITE SetCategory)
    Q_PROPERTY(TKivChannelKind ChannelKind READ ChannelKind WRITE SetChannelKind)
    Q_PROPERTY(TKivChannelType ChannelType READ ChannelType WRITE SetChannelType)
    Q_PROPERTY(QString Device READ Device WRITE SetDevice)
    Q_PROPERTY(QString DisplayName READ DisplayName WRITE SetDisplayName)
    Q_PROPERTY(int ErrorCode READ ErrorCode WRITE SetErrorCode)
    Q_PROPERTY(bool InvertBoolean READ InvertBoolean WRITE SetInvertBoolean)
    Q_PROPERTY(double Min READ Min WRITE SetMin)
    Q_PROPERTY(double Max READ Max WRITE SetMax)
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(double PercentDeadBand READ PercentDeadBand WRITE SetPercentDeadBand)
    Q_PROPERTY(TKivChannelPermission Permission READ Permission WRITE SetPermission)
    Q_PROPERTY(uint PrecisionDigits READ PrecisionDigits WRITE SetPrecisionDigits)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(QVariant Value READ Value WRITE SetValue)
    Q_PROPERTY(double VMin READ VMin WRITE SetVMin)
    Q_PROPERTY(double VMax READ VMax WRITE SetVMax)
    Q_PROPERTY(QString ZDescription READ ZDescription WRITE SetZDescription)

public:
    // Appends the channel to Collection (which then owns it); named after its class and index.
    explicit TKivChannel(TKivChannels* Collection);
    ~TKivChannel() override;

    TKivChannels* Collection() const { return FCollection; }
    TKivCustomDataServer* Server() const;
    int Index() const { return FIndex; }

    // Copies everything but InvertBoolean from another channel; the value goes through its writer.
    void Assign(const TKivChannel& Source);

    // Binding: a control added is registered with the server and told the current value at once.
    void AddClient(QObject* Control);
    void RemoveClient(QObject* Control);
    QList<QObject*> Clients() const;

    // After a value was stored: write-through, action, bound controls, server notification.
    void Changed();

    std::uint32_t NameHash() const { return FNameHash; }

    QAction* Action() const;
    void SetAction(QAction* Value);
    int Address() const { return FAddress; }
    void SetAddress(int Value);
    int BrowseInfo() const { return FBrowseInfo; }
    void SetBrowseInfo(int Value);
    QString Category() const { return FCategory; }
    void SetCategory(const QString& Value) { FCategory = Value; }
    TKivChannelKind ChannelKind() const { return FChannelKind; }
    void SetChannelKind(TKivChannelKind Value) { FChannelKind = Value; }
    TKivChannelType ChannelType() const { return FChannelType; }
    void SetChannelType(TKivChannelType Value);
    QString Device() const { return FDevice; }
    void SetDevice(const QString& Value);
    // The display name if set, else Name if set, else the class name.
    QString DisplayName() const;
    void SetDisplayName(const QString& Value);
    int ErrorCode() const { return FErrorCode; }
    void SetErrorCode(int Value) { FErrorCode = Value; }
    bool InvertBoolean() const { return FInvertBoolean; }
    void SetInvertBoolean(bool Value) { FInvertBoolean = Value; }
    double Min() const { return FMin; }
    void SetMin(double Value) { FMin = Value; }
    double Max() const { return FMax; }
    void SetMax(double Value) { FMax = Value; }
    QString Name() const { return FName; }
    void SetName(const QString& Value);
    double PercentDeadBand() const { return FPercentDeadBand; }
    void SetPercentDeadBand(double Value) { FPercentDeadBand = Value; }
    TKivChannelPermission Permission() const { return FPermission; }
    void SetPermission(TKivChannelPermission Value) { FPermission = Value; }
    uint PrecisionDigits() const { return FPrecisionDigits; }
    void SetPrecisionDigits(uint Value) { FPrecisionDigits = Value; }
    int Tag() const { return FTag; }
    void SetTag(int Value) { FTag = Value; }
    // The stored value as it is, without asking the server to read it.
    QVariant Value() const { return FValue; }
    // Converts to the channel's type (ConversionError when it cannot) and goes through the typed writer.
    void SetValue(const QVariant& Value);
    double VMin() const { return FVMin; }
    void SetVMin(double Value) { FVMin = Value; }
    double VMax() const { return FVMax; }
    void SetVMax(double Value) { FVMax = Value; }
    QString ZDescription() const { return FZDescription; }
    void SetZDescription(const QString& Value) { FZDescription = Value; }

    // Numeric writes must lie in [VMin, VMax] while both ranges are set.
    bool RangeActive() const { return FMin != FMax && FVMin != FVMax; }

    // Typed access. A getter or writer of the wrong type reports error 2 to the server and does
    // nothing (the getter answers 0 or false); getters ask the server to read the channel first.
    qint16 AsSmallint();
    void SetAsSmallint(qint16 Value);
    qint32 AsInteger();
    void SetAsInteger(qint32 Value);
    quint16 AsWord();
    void SetAsWord(quint16 Value);
    quint32 AsLongWord();
    void SetAsLongWord(quint32 Value);
    float AsSingle();
    void SetAsSingle(float Value);
    double AsDouble();
    void SetAsDouble(double Value);
    void SetAsCurrency(Currency Value);
    double AsDateTime();
    void SetAsDateTime(double Value);
    bool AsBoolean();
    void SetAsBoolean(bool Value);
    quint8 AsByte();
    void SetAsByte(quint8 Value);
    void SetAsString(const QString& Value);

    // Not published; raised by the server's WriteChannel for this channel (Sender = the channel).
    NotifyEvent OnWrite;

private slots:
    void clientDestroyed(QObject* Control);

private:
    friend class TKivChannels;
    friend class TKivCustomDataServer;

    bool checkType(TKivChannelType Wanted);
    template <typename T> T readAs(TKivChannelType Wanted);
    template <typename T> void writeInteger(TKivChannelType Wanted, T Value);
    template <typename T> void writeReal(TKivChannelType Wanted, T Value);
    template <typename T> void writeUnchecked(TKivChannelType Wanted, const T& Value);
    void sendValue(QObject* Control);
    void freeActionLink();

    TKivChannels* FCollection = nullptr;
    int FIndex = -1;
    // Where the name index holds this channel, so removal drops exactly that entry.
    bool FIndexed = false;
    std::size_t FIndexedHash = 0;
    QList<QObject*> FClients;
    std::uint32_t FNameHash = 0;
    QString FName;
    QString FCategory;
    TKivChannelKind FChannelKind = actVirtual;
    QVariant FValue;
    QString FDisplayName;
    TKivChannelType FChannelType = acvtInteger;
    int FTag = 0;
    double FMin = 0, FMax = 0;
    double FVMin = 0, FVMax = 0;
    bool FInvertBoolean = false;
    TKivChannelPermission FPermission = acpReadWrite;
    int FAddress = -1;
    int FBrowseInfo = -1;
    int FErrorCode = -1;
    QString FZDescription;
    std::unique_ptr<TKivChannelActionLink> FActionLink;
    uint FPrecisionDigits = 0;
    double FPercentDeadBand = 0;
    QString FDevice;
};

// An action that knows which channel executed it last.
class TKivChannelAction : public QAction {
    Q_OBJECT
    Q_PROPERTY(TKivChannel* Channel READ Channel WRITE SetChannel)
public:
    using QAction::QAction;
    TKivChannel* Channel() const { return FChannel; }
    void SetChannel(TKivChannel* Value) { FChannel = Value; }

private:
    // Guarded: a channel may be destroyed while the action lives on.
    QPointer<TKivChannel> FChannel;
};

// The server's channel list, with a case-insensitive name index. The index is rebuilt when the server
// finishes loading and not updated in between: it answers with the names as they were then.
class TKivChannels {
public:
    explicit TKivChannels(TKivCustomDataServer* Owner);
    ~TKivChannels();
    TKivChannels(const TKivChannels&) = delete;
    TKivChannels& operator=(const TKivChannels&) = delete;

    TKivCustomDataServer* Owner() const { return FOwner; }
    TKivChannel* Add();
    void Delete(int Index);
    void Clear();
    int Count() const { return static_cast<int>(FItems.size()); }
    TKivChannel* Items(int Index) const;
    // Position of the channel the name index holds for Name (case ignored), -1 when none.
    int IndexOf(QStringView Name) const;

    static constexpr int NameIndexBuckets = 967;

private:
    friend class TKivChannel;
    friend class TKivCustomDataServer;

    struct IndexEntry {
        std::size_t hash;
        QString key; // upper-cased name
        TKivChannel* channel;
        int position; // the channel's Index, kept here so that a lookup need not touch the channel
    };

    void insertItem(TKivChannel* Item);
    void removeItem(TKivChannel* Item);
    void renumber(int From);
    void sortByName();
    void quickSort(int L, int R);
    void rebuildNameIndex();
    const IndexEntry* findInIndex(QStringView Name) const;
    void refreshIndexPositions();

    TKivCustomDataServer* FOwner;
    std::vector<TKivChannel*> FItems;
    std::vector<std::vector<IndexEntry>> FNameIndex;
};

// Owns the channels and tells bound controls of changes. Device links, value clients and change
// handlers are not owned; whoever adds one removes it before destroying it (controls are dropped
// automatically when destroyed).
class TKivCustomDataServer : public QObject {
    Q_OBJECT
public:
    enum TOperation : std::uint8_t { opInsert, opRemove };

    explicit TKivCustomDataServer(QObject* Owner = nullptr);
    ~TKivCustomDataServer() override;

    TKivChannels* Channels() const { return FChannels.get(); }

    virtual void ReadChannel(TKivChannel* Channel);
    virtual void WriteChannel(TKivChannel* Channel);
    virtual void ChannelChanged(TKivChannel* Channel);
    // End of loading: sorts the channels, rebuilds the name index, runs the change handlers, tells
    // every client that the channels changed and marks the server ready.
    virtual void Loaded();
    virtual bool ValidateAddress(TKivChannel* Channel, int Address);

    bool Ready() const { return FReady; }
    bool Destroying() const { return FDestroying; }

    // Controls told when the channel list changed.
    void RegisterClient(QObject* Control);
    void UnregisterClient(QObject* Control);
    QList<QObject*> Clients() const;
    // Controls told of every channel change.
    void AddValueClient(QObject* Control);
    void RemoveValueClient(QObject* Control);
    QList<QObject*> ValueClients() const;

    void AddDeviceLink(DeviceLink* Link);
    void RemoveDeviceLink(DeviceLink* Link);
    const QList<DeviceLink*>& DeviceLinks() const { return FDeviceLinks; }

    // Called after loading with the server as Sender; the id removes it again.
    int AddChangeHandler(NotifyEvent Handler);
    void RemoveChangeHandler(int Id);

    // A component was inserted or is going away: forget it wherever it is held.
    void Notification(QObject* AComponent, TOperation Operation);

    void ReportError(int Code, const QString& ChannelName, TKivChannel* AChannel);

    bool AlwaysNotify() const { return FAlwaysNotify; }
    void SetAlwaysNotify(bool Value) { FAlwaysNotify = Value; }
    bool WriteSuspended() const { return FWriteSuspended; }
    void SetWriteSuspended(bool Value) { FWriteSuspended = Value; }

    TKivChannelError OnError;
    ChannelEvent OnChannelChanged;
    ChannelEvent OnChannelRead;
    ChannelEvent OnChannelWrite;

signals:
    // Emitted first thing in the destructor, while channels and lists are still intact, so bound
    // controls can unbind (adding and removing clients does nothing from here on).
    void aboutToBeDestroyed(TKivCustomDataServer* Server);

private slots:
    void componentDestroyed(QObject* Component);

private:
    friend class TKivChannel;
    void watch(QObject* Component);

    std::unique_ptr<TKivChannels> FChannels;
    QList<QObject*> FValueClients;
    QList<QObject*> FClients;
    QList<DeviceLink*> FDeviceLinks;
    std::vector<std::pair<int, NotifyEvent>> FChangeHandlers;
    int FNextHandlerId = 1;
    bool FAlwaysNotify = false;
    bool FWriteSuspended = false;
    bool FReady = false;
    bool FDestroying = false;
};
