#include "KivDataServer.h"

#include "OrvaneErrors.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QVarLengthArray>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace {

// Guards the client lists of every channel and server and the notification loops over them. Recursive
// because a control told of a change may bind or unbind itself from inside the loop.
QRecursiveMutex& sharedLock() {
    static QRecursiveMutex lock;
    return lock;
}

// The same text hash as the widget library's HashText (from the last character to the first,
// h = h * 33 + code); kept here because the data server may not depend on the widgets.
std::uint32_t hashText(QStringView S) {
    std::uint32_t h = 0;
    for (qsizetype i = S.size() - 1; i >= 0; --i)
        h = h * 33u + S[i].unicode();
    return h;
}

// The name index compares names by their upper-cased UTF-16 units: the query is upper-cased into a
// buffer on the stack and then hashed and compared like the stored keys.
inline char16_t upperUnit(char16_t c) {
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    return QChar::toUpper(c);
}

using KeyBuffer = QVarLengthArray<char16_t, 128>;

QStringView upperInto(QStringView S, KeyBuffer& Buffer) {
    const qsizetype n = S.size();
    Buffer.resize(n);
    const char16_t* in = S.utf16();
    char16_t* out = Buffer.data();
    char16_t all = 0;
    for (qsizetype i = 0; i < n; ++i)
        all |= in[i];
    if (all < 0x80) { // the usual case, in a loop the compiler can vectorise
        for (qsizetype i = 0; i < n; ++i)
            out[i] = char16_t(in[i] - ((char16_t(in[i] - u'a') < 26u) ? 32 : 0));
    } else {
        for (qsizetype i = 0; i < n; ++i)
            out[i] = upperUnit(in[i]);
    }
    return QStringView(out, n);
}

inline std::size_t keyHash(QStringView UpperKey) {
    return qHash(UpperKey, 0);
}

const char* typeName(TKivChannelType Type) {
    static const char* const names[] = {"Smallint", "Integer", "Word",    "LongWord", "Single", "Double",
                                        "Currency", "Date",    "Boolean", "Byte",     "String"};
    return names[Type];
}

QString variantTypeName(const QVariant& V) {
    return V.isValid() ? QString::fromLatin1(V.metaType().name()) : QStringLiteral("Null");
}

[[noreturn]] void cannotConvert(const QVariant& V, const char* Target) {
    throw ConversionError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                              .arg(variantTypeName(V), QLatin1String(Target))
                              .toStdString());
}

[[noreturn]] void overflow(const QVariant& V, const char* Target) {
    throw ConversionError(QStringLiteral("Overflow while converting variant of type (%1) into type (%2)")
                              .arg(variantTypeName(V), QLatin1String(Target))
                              .toStdString());
}

QMetaType metaTypeOf(TKivChannelType Type) {
    switch (Type) {
    case acvtSmallint:
        return QMetaType::fromType<qint16>();
    case acvtInteger:
        return QMetaType::fromType<qint32>();
    case acvtWord:
        return QMetaType::fromType<quint16>();
    case acvtLongWord:
        return QMetaType::fromType<quint32>();
    case acvtSingle:
        return QMetaType::fromType<float>();
    case acvtDouble:
        return QMetaType::fromType<double>();
    case acvtCurrency:
        return QMetaType::fromType<Currency>();
    case acvtDate:
        return QMetaType::fromType<DateTime>();
    case acvtBoolean:
        return QMetaType::fromType<bool>();
    case acvtByte:
        return QMetaType::fromType<quint8>();
    case acvtString:
        return QMetaType::fromType<QString>();
    }
    return QMetaType::fromType<qint32>();
}

// A variant as a real, for the numeric channel types. Booleans count as 0 and -1, as they are stored.
double toReal(const QVariant& V, const char* Target) {
    if (!V.isValid())
        cannotConvert(V, Target);
    if (V.metaType() == QMetaType::fromType<Currency>())
        return V.value<Currency>().toDouble();
    if (V.metaType() == QMetaType::fromType<DateTime>())
        return V.value<DateTime>().days;
    if (V.metaType() == QMetaType::fromType<bool>())
        return V.toBool() ? -1.0 : 0.0;
    bool ok = false;
    double d = 0;
    if (V.metaType() == QMetaType::fromType<QString>()) {
        const QString s = V.toString().trimmed();
        d = QLocale().toDouble(s, &ok);
        if (!ok)
            d = QLocale::c().toDouble(s, &ok);
    } else if (V.canConvert<double>()) {
        d = V.toDouble(&ok);
    }
    if (!ok)
        cannotConvert(V, Target);
    return d;
}

template <typename T> T toIntegral(const QVariant& V, const char* Target) {
    using Limits = std::numeric_limits<T>;
    const int id = V.metaType().id();
    if (id == QMetaType::ULongLong || id == QMetaType::ULong) {
        const qulonglong u = V.toULongLong();
        if (u > static_cast<qulonglong>(Limits::max()))
            overflow(V, Target);
        return static_cast<T>(u);
    }
    if (id == QMetaType::Int || id == QMetaType::UInt || id == QMetaType::LongLong || id == QMetaType::Long ||
        id == QMetaType::Short || id == QMetaType::UShort || id == QMetaType::Char ||
        id == QMetaType::SChar || id == QMetaType::UChar) {
        const qlonglong n = V.toLongLong();
        if (n < static_cast<qlonglong>(Limits::min()) || n > static_cast<qlonglong>(Limits::max()))
            overflow(V, Target);
        return static_cast<T>(n);
    }
    // Reals round half to even, like every other conversion of a real to an integer here.
    const double d = std::nearbyint(toReal(V, Target));
    if (!std::isfinite(d) || d < static_cast<double>(Limits::min()) || d > static_cast<double>(Limits::max()))
        overflow(V, Target);
    return static_cast<T>(d);
}

bool toBoolean(const QVariant& V) {
    if (V.metaType() == QMetaType::fromType<bool>())
        return V.toBool();
    if (V.metaType() == QMetaType::fromType<QString>()) {
        const QString s = V.toString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    return toReal(V, "Boolean") != 0;
}

QString toText(const QVariant& V) {
    if (!V.isValid())
        cannotConvert(V, "String");
    if (V.metaType() == QMetaType::fromType<bool>())
        return V.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (V.metaType() == QMetaType::fromType<Currency>() || V.metaType() == QMetaType::fromType<DateTime>())
        return QString::number(toReal(V, "String"), 'g', 15);
    if (!V.canConvert<QString>())
        cannotConvert(V, "String");
    return V.toString();
}

// Sends Msg to each control of Live in order. The list is copied first because a control may bind or
// unbind controls while it handles the message; one dropped meanwhile is not sent to any more.
void deliver(const QList<QObject*>& Live, QEvent::Type Msg, TKivCustomDataServer* Server,
             TKivChannel* Channel) {
    QMutexLocker lock(&sharedLock());
    const QList<QObject*> snapshot = Live;
    for (qsizetype i = 0; i < snapshot.size(); ++i) {
        QObject* control = snapshot[i];
        if (i > 0 && !Live.contains(control))
            continue;
        ChannelMessage message(Msg, Server, Channel);
        QCoreApplication::sendEvent(control, &message);
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------------

Currency Currency::fromDouble(double Value) {
    const double scaled = std::nearbyint(Value * 10000.0);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(scaled) || scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0)
        overflow(QVariant(Value), "Currency");
    return Currency{static_cast<qint64>(scaled)};
}

bool TKivChannelActionLink::Execute() {
    if (!FAction || !FAction->isEnabled())
        return false;
    FAction->trigger();
    return true;
}

// ---------------------------------------------------------------------------------------------------

TKivChannel::TKivChannel(TKivChannels* Collection) : QObject(nullptr), FValue(qint32(0)) {
    if (Collection)
        Collection->insertItem(this);
    FName = QStringLiteral("TKivChannel") + QString::number(FIndex);
    FNameHash = hashText(FName);
}

TKivChannel::~TKivChannel() {
    freeActionLink();
    if (FCollection)
        FCollection->removeItem(this);
}

TKivCustomDataServer* TKivChannel::Server() const {
    return FCollection ? FCollection->Owner() : nullptr;
}

void TKivChannel::Assign(const TKivChannel& Source) {
    if (&Source == this)
        return;
    SetName(Source.FName);
    FNameHash = Source.FNameHash;
    SetChannelType(Source.FChannelType);
    SetPermission(Source.FPermission);
    SetTag(Source.FTag);
    SetMin(Source.FMin);
    SetMax(Source.FMax);
    SetVMin(Source.FVMin);
    SetVMax(Source.FVMax);
    SetChannelKind(Source.FChannelKind);
    SetBrowseInfo(Source.FBrowseInfo);
    SetAddress(Source.FAddress);
    SetAction(Source.Action());
    SetErrorCode(Source.FErrorCode);
    SetZDescription(Source.FZDescription);
    SetCategory(Source.FCategory);
    SetPrecisionDigits(Source.FPrecisionDigits);
    SetPercentDeadBand(Source.FPercentDeadBand);
    SetDisplayName(Source.DisplayName());
    SetDevice(Source.FDevice);
    // The value is copied as stored, after the ranges: going through the writer would drop a value
    // outside this channel's old range and invert a Boolean by this channel's InvertBoolean.
    if (FValue != Source.FValue || FValue.metaType() != Source.FValue.metaType()) {
        FValue = Source.FValue;
        Changed();
    }
}

void TKivChannel::sendValue(QObject* Control) {
    ChannelMessage message(CM_CHANNELVALUE, Server(), this);
    QCoreApplication::sendEvent(Control, &message);
}

void TKivChannel::AddClient(QObject* Control) {
    TKivCustomDataServer* server = Server();
    if (server && server->Destroying())
        return;
    QMutexLocker lock(&sharedLock());
    if (!Control || FClients.contains(Control))
        return;
    FClients.append(Control);
    // A destroyed control must not stay behind as a dangling client, with or without a server.
    connect(Control, &QObject::destroyed, this, &TKivChannel::clientDestroyed,
            Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
    if (server)
        server->RegisterClient(Control);
    sendValue(Control);
}

void TKivChannel::RemoveClient(QObject* Control) {
    TKivCustomDataServer* server = Server();
    if (server && server->Destroying())
        return;
    QMutexLocker lock(&sharedLock());
    if (FClients.removeOne(Control) && server)
        server->UnregisterClient(Control);
}

QList<QObject*> TKivChannel::Clients() const {
    QMutexLocker lock(&sharedLock());
    return FClients;
}

void TKivChannel::clientDestroyed(QObject* Control) {
    QMutexLocker lock(&sharedLock());
    FClients.removeAll(Control);
}

void TKivChannel::Changed() {
    TKivCustomDataServer* server = Server();
    if (server && server->Destroying())
        return;
    if (server)
        server->WriteChannel(this);
    if (FActionLink && FActionLink->Action()) {
        if (auto* action = qobject_cast<TKivChannelAction*>(FActionLink->Action()))
            action->SetChannel(this);
        FActionLink->Execute();
    }
    deliver(FClients, CM_CHANNELVALUE, server, this);
    if (server)
        server->ChannelChanged(this);
}

QAction* TKivChannel::Action() const {
    return FActionLink ? FActionLink->Action() : nullptr;
}

void TKivChannel::SetAction(QAction* Value) {
    if (Value == Action())
        return;
    if (!Value) {
        freeActionLink();
        return;
    }
    if (!FActionLink)
        FActionLink = std::make_unique<TKivChannelActionLink>(this);
    FActionLink->SetAction(Value);
    if (TKivCustomDataServer* server = Server())
        server->watch(Value);
}

void TKivChannel::freeActionLink() {
    FActionLink.reset();
}

void TKivChannel::SetAddress(int Value) {
    if (Value != -1) {
        TKivCustomDataServer* server = Server();
        if (server && !server->ValidateAddress(this, Value))
            return;
    }
    FAddress = Value;
}

void TKivChannel::SetBrowseInfo(int Value) {
    if (Value == FBrowseInfo)
        return;
    if (FMin != FMax && (Value < FMin || Value > FMax))
        return;
    FBrowseInfo = Value;
}

void TKivChannel::SetChannelType(TKivChannelType Value) {
    if (Value == FChannelType)
        return;
    FChannelType = Value;
    const QMetaType type = metaTypeOf(Value);
    if (FValue.metaType() != type)
        FValue = QVariant(type);
}

void TKivChannel::SetDevice(const QString& Value) {
    if (Value != FDevice)
        FDevice = Value;
}

QString TKivChannel::DisplayName() const {
    if (!FDisplayName.isEmpty())
        return FDisplayName;
    if (!FName.isEmpty())
        return FName;
    return QString::fromLatin1(metaObject()->className());
}

void TKivChannel::SetDisplayName(const QString& Value) {
    if (Value == FDisplayName)
        return;
    FDisplayName = Value;
    Changed();
}

void TKivChannel::SetName(const QString& Value) {
    if (Value == FName)
        return;
    FName = Value;
    FNameHash = hashText(FName);
}

void TKivChannel::SetValue(const QVariant& Value) {
    if (Value == FValue)
        return;
    const char* target = typeName(FChannelType);
    switch (FChannelType) {
    case acvtSmallint:
        SetAsSmallint(toIntegral<qint16>(Value, target));
        break;
    case acvtInteger:
        SetAsInteger(toIntegral<qint32>(Value, target));
        break;
    case acvtWord:
        SetAsWord(toIntegral<quint16>(Value, target));
        break;
    case acvtLongWord:
        SetAsLongWord(toIntegral<quint32>(Value, target));
        break;
    case acvtSingle: {
        const double d = toReal(Value, target);
        if (std::isfinite(d) && std::fabs(d) > FLT_MAX)
            overflow(Value, target);
        SetAsSingle(static_cast<float>(d));
        break;
    }
    case acvtDouble:
        SetAsDouble(toReal(Value, target));
        break;
    case acvtCurrency:
        SetAsCurrency(Value.metaType() == QMetaType::fromType<Currency>()
                          ? Value.value<Currency>()
                          : Currency::fromDouble(toReal(Value, target)));
        break;
    case acvtDate:
        SetAsDateTime(toReal(Value, target));
        break;
    case acvtBoolean:
        SetAsBoolean(toBoolean(Value));
        break;
    case acvtByte:
        SetAsByte(toIntegral<quint8>(Value, target));
        break;
    case acvtString:
        SetAsString(toText(Value));
        break;
    }
}

bool TKivChannel::checkType(TKivChannelType Wanted) {
    if (FChannelType == Wanted)
        return true;
    if (TKivCustomDataServer* server = Server())
        server->ReportError(2, FName, this);
    return false;
}

template <typename T> T TKivChannel::readAs(TKivChannelType Wanted) {
    if (!checkType(Wanted))
        return T{};
    if (TKivCustomDataServer* server = Server())
        server->ReadChannel(this);
    return FValue.value<T>();
}

template <typename T> void TKivChannel::writeInteger(TKivChannelType Wanted, T Value) {
    if (!checkType(Wanted))
        return;
    TKivCustomDataServer* server = Server();
    const bool always = server && server->AlwaysNotify();
    if (!always && FValue.value<T>() == Value)
        return;
    if (RangeActive() && (static_cast<double>(Value) < FVMin || static_cast<double>(Value) > FVMax))
        return;
    FValue = QVariant::fromValue(Value);
    Changed();
}

template <typename T> void TKivChannel::writeReal(TKivChannelType Wanted, T Value) {
    if (!checkType(Wanted))
        return;
    if (FValue.value<T>() == Value)
        return;
    if (RangeActive() && (static_cast<double>(Value) < FVMin || static_cast<double>(Value) > FVMax))
        return;
    FValue = QVariant::fromValue(Value);
    Changed();
}

template <typename T> void TKivChannel::writeUnchecked(TKivChannelType Wanted, const T& Value) {
    if (!checkType(Wanted))
        return;
    if (FValue.value<T>() == Value)
        return;
    FValue = QVariant::fromValue(Value);
    Changed();
}

qint16 TKivChannel::AsSmallint() {
    return readAs<qint16>(acvtSmallint);
}
void TKivChannel::SetAsSmallint(qint16 Value) {
    writeInteger(acvtSmallint, Value);
}
qint32 TKivChannel::AsInteger() {
    return readAs<qint32>(acvtInteger);
}
void TKivChannel::SetAsInteger(qint32 Value) {
    writeInteger(acvtInteger, Value);
}
quint16 TKivChannel::AsWord() {
    return readAs<quint16>(acvtWord);
}
void TKivChannel::SetAsWord(quint16 Value) {
    writeInteger(acvtWord, Value);
}
quint32 TKivChannel::AsLongWord() {
    return readAs<quint32>(acvtLongWord);
}
void TKivChannel::SetAsLongWord(quint32 Value) {
    writeInteger(acvtLongWord, Value);
}
float TKivChannel::AsSingle() {
    return readAs<float>(acvtSingle);
}
void TKivChannel::SetAsSingle(float Value) {
    writeReal(acvtSingle, Value);
}
double TKivChannel::AsDouble() {
    return readAs<double>(acvtDouble);
}
void TKivChannel::SetAsDouble(double Value) {
    writeReal(acvtDouble, Value);
}
void TKivChannel::SetAsCurrency(Currency Value) {
    writeUnchecked(acvtCurrency, Value);
}
double TKivChannel::AsDateTime() {
    return readAs<DateTime>(acvtDate).days;
}
void TKivChannel::SetAsDateTime(double Value) {
    writeUnchecked(acvtDate, DateTime{Value});
}
bool TKivChannel::AsBoolean() {
    return readAs<bool>(acvtBoolean);
}
quint8 TKivChannel::AsByte() {
    return readAs<quint8>(acvtByte);
}
void TKivChannel::SetAsByte(quint8 Value) {
    writeInteger(acvtByte, Value);
}
void TKivChannel::SetAsString(const QString& Value) {
    writeUnchecked(acvtString, Value);
}

void TKivChannel::SetAsBoolean(bool Value) {
    if (!checkType(acvtBoolean))
        return;
    // With InvertBoolean the inverse is stored, and the write is skipped when it is already in place.
    const bool stored = Value != FInvertBoolean;
    if (FValue.toBool() == stored)
        return;
    FValue = stored;
    Changed();
}

// ---------------------------------------------------------------------------------------------------

TKivChannels::TKivChannels(TKivCustomDataServer* Owner) : FOwner(Owner), FNameIndex(NameIndexBuckets) {}

TKivChannels::~TKivChannels() {
    Clear();
}

TKivChannel* TKivChannels::Add() {
    return new TKivChannel(this);
}

TKivChannel* TKivChannels::Items(int Index) const {
    if (Index < 0 || Index >= Count())
        throw InvalidOperationError(QStringLiteral("List index out of bounds (%1)").arg(Index).toStdString());
    return FItems[static_cast<std::size_t>(Index)];
}

void TKivChannels::Delete(int Index) {
    delete Items(Index);
}

void TKivChannels::Clear() {
    // From the end, so that no channel has to be renumbered.
    while (!FItems.empty())
        delete FItems.back();
}

void TKivChannels::insertItem(TKivChannel* Item) {
    Item->FCollection = this;
    Item->FIndex = Count();
    FItems.push_back(Item);
}

void TKivChannels::removeItem(TKivChannel* Item) {
    const int index = Item->FIndex;
    if (Item->FIndexed) {
        // The index holds the channel under the name it had at the last rebuild; drop just that entry
        // so that no lookup answers with a channel that is gone.
        auto& bucket = FNameIndex[Item->FIndexedHash % NameIndexBuckets];
        bucket.erase(std::remove_if(bucket.begin(), bucket.end(),
                                    [Item](const IndexEntry& e) { return e.channel == Item; }),
                     bucket.end());
        Item->FIndexed = false;
    }
    FItems.erase(FItems.begin() + index);
    if (index < Count()) {
        renumber(index);
        refreshIndexPositions();
    }
    Item->FCollection = nullptr;
    Item->FIndex = -1;
}

void TKivChannels::renumber(int From) {
    for (int i = From; i < Count(); ++i)
        FItems[static_cast<std::size_t>(i)]->FIndex = i;
}

void TKivChannels::sortByName() {
    if (Count() < 2)
        return;
    quickSort(0, Count() - 1);
    renumber(0);
}

void TKivChannels::quickSort(int L, int R) {
    int i = 0;
    do {
        i = L;
        int j = R;
        const QString pivot = FItems[static_cast<std::size_t>((L + R) >> 1)]->FName;
        do {
            while (QString::localeAwareCompare(FItems[static_cast<std::size_t>(i)]->FName, pivot) < 0)
                ++i;
            while (QString::localeAwareCompare(FItems[static_cast<std::size_t>(j)]->FName, pivot) > 0)
                --j;
            if (i <= j) {
                std::swap(FItems[static_cast<std::size_t>(i)], FItems[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (L < j)
            quickSort(L, j);
        L = i;
    } while (i < R);
}

void TKivChannels::rebuildNameIndex() {
    for (auto& bucket : FNameIndex)
        bucket.clear();
    for (TKivChannel* channel : FItems)
        channel->FIndexed = false;
    KeyBuffer buffer;
    for (TKivChannel* channel : FItems) {
        if (findInIndex(channel->FName))
            continue; // the first channel of a name wins
        const QStringView key = upperInto(channel->FName, buffer);
        IndexEntry entry{keyHash(key), key.toString(), channel, channel->FIndex};
        channel->FIndexed = true;
        channel->FIndexedHash = entry.hash;
        FNameIndex[entry.hash % NameIndexBuckets].push_back(std::move(entry));
    }
}

void TKivChannels::refreshIndexPositions() {
    for (auto& bucket : FNameIndex)
        for (IndexEntry& entry : bucket)
            entry.position = entry.channel->FIndex;
}

const TKivChannels::IndexEntry* TKivChannels::findInIndex(QStringView Name) const {
    KeyBuffer buffer;
    const QStringView key = upperInto(Name, buffer);
    const std::size_t hash = keyHash(key);
    for (const IndexEntry& entry : FNameIndex[hash % NameIndexBuckets])
        if (entry.hash == hash && entry.key.size() == key.size() &&
            std::memcmp(entry.key.constData(), key.data(), std::size_t(key.size()) * sizeof(char16_t)) == 0)
            return &entry;
    return nullptr;
}

int TKivChannels::IndexOf(QStringView Name) const {
    const IndexEntry* entry = findInIndex(Name);
    return entry ? entry->position : -1;
}

// ---------------------------------------------------------------------------------------------------

TKivCustomDataServer::TKivCustomDataServer(QObject* Owner)
    : QObject(Owner), FChannels(std::make_unique<TKivChannels>(this)) {}

TKivCustomDataServer::~TKivCustomDataServer() {
    FDestroying = true;
    emit aboutToBeDestroyed(this);
    FChannels.reset();
}

void TKivCustomDataServer::ReadChannel(TKivChannel* Channel) {
    const QList<DeviceLink*> links = FDeviceLinks;
    for (DeviceLink* link : links) {
        bool handled = false;
        link->readChannel(Channel, handled);
        if (handled)
            break;
    }
    if (OnChannelRead)
        OnChannelRead(this, Channel);
}

void TKivCustomDataServer::WriteChannel(TKivChannel* Channel) {
    if (FWriteSuspended)
        return;
    const QList<DeviceLink*> links = FDeviceLinks;
    for (DeviceLink* link : links) {
        bool handled = false;
        link->writeChannel(Channel, handled);
        if (handled)
            break;
    }
    if (Channel->OnWrite)
        Channel->OnWrite(Channel);
    if (OnChannelWrite)
        OnChannelWrite(this, Channel);
}

void TKivCustomDataServer::ChannelChanged(TKivChannel* Channel) {
    deliver(FValueClients, CM_CHANNELVALUE, this, Channel);
    if (OnChannelChanged)
        OnChannelChanged(this, Channel);
}

void TKivCustomDataServer::Loaded() {
    FChannels->sortByName();
    FChannels->rebuildNameIndex();
    const auto handlers = FChangeHandlers;
    for (const auto& handler : handlers)
        handler.second(this);
    {
        QMutexLocker lock(&sharedLock());
        deliver(FValueClients, CM_CHANNELSCHANGED, this, nullptr);
        deliver(FClients, CM_CHANNELSCHANGED, this, nullptr);
    }
    FReady = true;
}

bool TKivCustomDataServer::ValidateAddress(TKivChannel*, int) {
    return true;
}

void TKivCustomDataServer::watch(QObject* Component) {
    connect(Component, &QObject::destroyed, this, &TKivCustomDataServer::componentDestroyed,
            Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
}

void TKivCustomDataServer::componentDestroyed(QObject* Component) {
    Notification(Component, opRemove);
}

void TKivCustomDataServer::RegisterClient(QObject* Control) {
    if (FDestroying || !Control)
        return;
    QMutexLocker lock(&sharedLock());
    if (!FClients.contains(Control)) {
        FClients.append(Control);
        watch(Control);
    }
}

void TKivCustomDataServer::UnregisterClient(QObject* Control) {
    if (FDestroying)
        return;
    QMutexLocker lock(&sharedLock());
    FClients.removeOne(Control);
}

QList<QObject*> TKivCustomDataServer::Clients() const {
    QMutexLocker lock(&sharedLock());
    return FClients;
}

void TKivCustomDataServer::AddValueClient(QObject* Control) {
    if (FDestroying || !Control)
        return;
    QMutexLocker lock(&sharedLock());
    if (!FValueClients.contains(Control)) {
        FValueClients.append(Control);
        watch(Control);
    }
}

void TKivCustomDataServer::RemoveValueClient(QObject* Control) {
    if (FDestroying)
        return;
    QMutexLocker lock(&sharedLock());
    FValueClients.removeOne(Control);
}

QList<QObject*> TKivCustomDataServer::ValueClients() const {
    QMutexLocker lock(&sharedLock());
    return FValueClients;
}

void TKivCustomDataServer::AddDeviceLink(DeviceLink* Link) {
    if (Link && !FDeviceLinks.contains(Link))
        FDeviceLinks.append(Link);
}

void TKivCustomDataServer::RemoveDeviceLink(DeviceLink* Link) {
    FDeviceLinks.removeOne(Link);
}

int TKivCustomDataServer::AddChangeHandler(NotifyEvent Handler) {
    const int id = FNextHandlerId++;
    FChangeHandlers.emplace_back(id, std::move(Handler));
    return id;
}

void TKivCustomDataServer::RemoveChangeHandler(int Id) {
    std::erase_if(FChangeHandlers, [Id](const auto& h) { return h.first == Id; });
}

void TKivCustomDataServer::Notification(QObject* AComponent, TOperation Operation) {
    QMutexLocker lock(&sharedLock());
    if (Operation == opRemove && FChannels) {
        for (int i = 0; i < FChannels->Count(); ++i) {
            TKivChannel* channel = FChannels->FItems[static_cast<std::size_t>(i)];
            channel->FClients.removeAll(AComponent);
            // The link's guarded pointer is already cleared while the action is being destroyed.
            if (channel->FActionLink &&
                (channel->FActionLink->Action() == AComponent || !channel->FActionLink->Action()))
                channel->freeActionLink();
        }
    }
    FValueClients.removeAll(AComponent);
    FClients.removeAll(AComponent);
}

void TKivCustomDataServer::ReportError(int Code, const QString& ChannelName, TKivChannel* AChannel) {
    if (OnError)
        OnError(this, Code, ChannelName, AChannel);
}
