#include "KivDataServer.h"
#include "OrvaneErrors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

// A control that records the channel messages it is sent, with the value it saw at that moment.
class Recorder : public QObject {
public:
    struct Message {
        QEvent::Type type;
        TKivCustomDataServer* server;
        TKivChannel* channel;
        QVariant value;
    };
    std::vector<Message> messages;
    std::function<void(const Message&)> onMessage;
    std::vector<QString>* journal = nullptr;
    QString label;

    int count(QEvent::Type Type) const {
        return int(
            std::count_if(messages.begin(), messages.end(), [Type](auto& m) { return m.type == Type; }));
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() != CM_CHANNELVALUE && e->type() != CM_CHANNELSCHANGED)
            return QObject::event(e);
        auto* m = static_cast<ChannelMessage*>(e);
        messages.push_back(
            {e->type(), m->server(), m->channel(), m->channel() ? m->channel()->Value() : QVariant()});
        if (journal)
            journal->push_back(label);
        if (onMessage)
            onMessage(messages.back());
        return true;
    }
};

struct ErrorLog {
    struct Entry {
        QObject* sender;
        int code;
        QString name;
        TKivChannel* channel;
    };
    std::vector<Entry> entries;
    void attach(TKivCustomDataServer& s) {
        s.OnError = [this](QObject* sender, int code, const QString& name, TKivChannel* ch) {
            entries.push_back({sender, code, name, ch});
        };
    }
};

TKivChannel* addChannel(TKivCustomDataServer& s, const QString& name, TKivChannelType type) {
    TKivChannel* c = s.Channels()->Add();
    c->SetName(name);
    c->SetChannelType(type);
    return c;
}

} // namespace

TEST(ChannelIdentity, DefaultNamesAndTheNameHashFollowTheName) {
    TKivCustomDataServer server;
    TKivChannel* a = server.Channels()->Add();
    TKivChannel* b = server.Channels()->Add();
    EXPECT_EQ(a->Name(), "TKivChannel0");
    EXPECT_EQ(b->Name(), "TKivChannel1");
    EXPECT_EQ(b->DisplayName(), "TKivChannel1");
    EXPECT_EQ(a->ChannelType(), acvtInteger);
    EXPECT_EQ(a->Value(), QVariant(qint32(0)));
    EXPECT_EQ(a->Address(), -1);
    EXPECT_EQ(a->BrowseInfo(), -1);
    EXPECT_EQ(a->ErrorCode(), -1);

    a->SetName("ab");
    EXPECT_EQ(a->NameHash(), 3331u); // 'b' * 33 + 'a': from the last character to the first
    a->SetName("");
    EXPECT_EQ(a->NameHash(), 0u);
    EXPECT_EQ(a->DisplayName(), "TKivChannel");
}

TEST(ChannelBinding, ANewClientIsToldTheCurrentValueAtOnceAndRegisteredWithTheServer) {
    TKivCustomDataServer server;
    TKivChannel* lamp = addChannel(server, "Lamp", acvtBoolean);
    lamp->SetAsBoolean(true);

    Recorder widget;
    lamp->AddClient(&widget);
    lamp->AddClient(&widget); // a second bind of the same control is ignored
    ASSERT_EQ(widget.messages.size(), 1u);
    EXPECT_EQ(widget.messages[0].type, CM_CHANNELVALUE);
    EXPECT_EQ(widget.messages[0].server, &server);
    EXPECT_EQ(widget.messages[0].channel, lamp);
    EXPECT_TRUE(widget.messages[0].channel->AsBoolean());
    EXPECT_EQ(server.Clients(), QList<QObject*>{&widget});

    lamp->SetAsBoolean(false);
    EXPECT_EQ(widget.count(CM_CHANNELVALUE), 2);

    lamp->RemoveClient(&widget);
    EXPECT_TRUE(lamp->Clients().isEmpty());
    EXPECT_TRUE(server.Clients().isEmpty());
    lamp->SetAsBoolean(true);
    EXPECT_EQ(widget.count(CM_CHANNELVALUE), 2);
}

TEST(ChannelWrites, RangeAppliesOnlyWhileBothRangesAreSet) {
    TKivCustomDataServer server;
    TKivChannel* c = addChannel(server, "Level", acvtInteger);
    c->SetVMin(0);
    c->SetVMax(10);
    c->SetMin(0);
    c->SetMax(1);
    c->SetAsInteger(5);
    EXPECT_EQ(c->AsInteger(), 5);
    c->SetAsInteger(11);
    c->SetAsInteger(-1);
    EXPECT_EQ(c->AsInteger(), 5);

    c->SetMax(0); // Min = Max: the range plays no part
    c->SetAsInteger(11);
    EXPECT_EQ(c->AsInteger(), 11);

    TKivChannel* d = addChannel(server, "Real", acvtDouble);
    d->SetVMax(1);
    d->SetMax(1);
    d->SetAsDouble(1.5);
    EXPECT_EQ(d->AsDouble(), 0.0);
    d->SetAsDouble(0.25);
    EXPECT_EQ(d->AsDouble(), 0.25);

    TKivChannel* m = addChannel(server, "Money", acvtCurrency);
    m->SetVMax(1);
    m->SetMax(1);
    m->SetAsCurrency(Currency::fromDouble(2.5)); // no range for currency
    EXPECT_EQ(m->Value().value<Currency>().scaled, 25000);
}

TEST(ChannelWrites, EqualValuesPropagateOnlyForIntegerKindsUnderAlwaysNotify) {
    TKivCustomDataServer server;
    TKivChannel* i = addChannel(server, "I", acvtInteger);
    TKivChannel* w = addChannel(server, "W", acvtWord);
    TKivChannel* d = addChannel(server, "D", acvtDouble);
    Recorder widget;
    for (TKivChannel* c : {i, w, d})
        c->AddClient(&widget);
    widget.messages.clear();

    i->SetAsInteger(0);
    w->SetAsWord(0);
    d->SetAsDouble(0);
    EXPECT_TRUE(widget.messages.empty());

    server.SetAlwaysNotify(true);
    i->SetAsInteger(0);
    w->SetAsWord(0);
    d->SetAsDouble(0);
    ASSERT_EQ(widget.messages.size(), 2u);
    EXPECT_EQ(widget.messages[0].channel, i);
    EXPECT_EQ(widget.messages[1].channel, w);
}

TEST(ChannelWrites, BooleanStoresTheInverseWhenAskedAndSkipsWhenItIsInPlace) {
    TKivCustomDataServer server;
    TKivChannel* c = addChannel(server, "Relay", acvtBoolean);
    Recorder widget;
    c->AddClient(&widget);
    widget.messages.clear();

    c->SetInvertBoolean(true);
    c->SetAsBoolean(true); // stores false, which is already there
    EXPECT_TRUE(widget.messages.empty());
    c->SetAsBoolean(false);
    EXPECT_TRUE(c->AsBoolean());
    EXPECT_EQ(widget.messages.size(), 1u);
}

TEST(ChannelTypes, WrongTypedAccessReportsCodeTwoAndChangesNothing) {
    TKivCustomDataServer server;
    ErrorLog errors;
    errors.attach(server);
    TKivChannel* d = addChannel(server, "Temp", acvtDouble);
    d->SetAsDouble(3.5);
    Recorder widget;
    d->AddClient(&widget);
    widget.messages.clear();

    EXPECT_FALSE(d->AsBoolean());
    EXPECT_EQ(d->AsInteger(), 0);
    d->SetAsInteger(7);
    d->SetAsString("x");
    ASSERT_EQ(errors.entries.size(), 4u);
    for (const auto& e : errors.entries) {
        EXPECT_EQ(e.sender, &server);
        EXPECT_EQ(e.code, 2);
        EXPECT_EQ(e.name, "Temp");
        EXPECT_EQ(e.channel, d);
    }
    EXPECT_EQ(d->Value(), QVariant(3.5));
    EXPECT_TRUE(widget.messages.empty());
}

TEST(ChannelTypes, ChangingTheTypeResetsTheValueToThatTypesZero) {
    TKivCustomDataServer server;
    TKivChannel* c = addChannel(server, "C", acvtInteger);
    c->SetAsInteger(9);
    const std::pair<TKivChannelType, QMetaType> expected[] = {
        {acvtSmallint, QMetaType::fromType<qint16>()},  {acvtWord, QMetaType::fromType<quint16>()},
        {acvtLongWord, QMetaType::fromType<quint32>()}, {acvtSingle, QMetaType::fromType<float>()},
        {acvtDouble, QMetaType::fromType<double>()},    {acvtCurrency, QMetaType::fromType<Currency>()},
        {acvtDate, QMetaType::fromType<DateTime>()},    {acvtBoolean, QMetaType::fromType<bool>()},
        {acvtByte, QMetaType::fromType<quint8>()},      {acvtString, QMetaType::fromType<QString>()}};
    for (const auto& [type, meta] : expected) {
        c->SetChannelType(type);
        EXPECT_EQ(c->Value().metaType(), meta) << int(type);
    }
    EXPECT_EQ(c->Value(), QVariant(QString()));
}

TEST(ChannelTypes, ValueIsConvertedToTheChannelTypeOrRaisesAConversionError) {
    TKivCustomDataServer server;
    TKivChannel* s = addChannel(server, "S", acvtSmallint);
    s->SetValue(QString("42"));
    EXPECT_EQ(s->Value().metaType(), QMetaType::fromType<qint16>());
    EXPECT_EQ(s->AsSmallint(), 42);
    s->SetValue(2.5); // half to even
    EXPECT_EQ(s->AsSmallint(), 2);
    EXPECT_THROW(s->SetValue(70000), ConversionError);
    EXPECT_THROW(s->SetValue(QString("abc")), ConversionError);
    EXPECT_THROW(s->SetValue(QVariant()), OrvaneError);
    EXPECT_EQ(s->AsSmallint(), 2);

    TKivChannel* b = addChannel(server, "B", acvtBoolean);
    b->SetValue(QString("TRUE"));
    EXPECT_TRUE(b->AsBoolean());
    b->SetValue(0);
    EXPECT_FALSE(b->AsBoolean());

    TKivChannel* m = addChannel(server, "M", acvtCurrency);
    m->SetValue(1.23456);
    EXPECT_EQ(m->Value().value<Currency>().scaled, 12346);
    EXPECT_THROW(m->SetValue(1e300), ConversionError);

    TKivChannel* t = addChannel(server, "T", acvtString);
    t->SetValue(true);
    EXPECT_EQ(t->Value(), QVariant(QString("True")));
}

namespace {
// A device link that notes each offer in a shared journal and claims it when told to.
struct JournalLink : DeviceLink {
    std::vector<QString>& journal;
    QString name;
    bool handles;
    JournalLink(std::vector<QString>& j, QString n, bool h) : journal(j), name(std::move(n)), handles(h) {}
    void readChannel(TKivChannel*, bool& handled) override {
        journal.push_back(name + " read");
        handled = handles;
    }
    void writeChannel(TKivChannel*, bool& handled) override {
        journal.push_back(name + " write");
        handled = handles;
    }
};
} // namespace

TEST(ChangeNotification, RunsWriteThroughActionClientsThenValueClientsInThatOrder) {
    TKivCustomDataServer server;
    std::vector<QString> journal;
    JournalLink passes(journal, "link1", false), claims(journal, "link2", true),
        unasked(journal, "link3", false);
    server.AddDeviceLink(&passes);
    server.AddDeviceLink(&claims);
    server.AddDeviceLink(&unasked); // never offered anything: link2 claims every read and write first
    TKivChannel* c = addChannel(server, "Pos", acvtInteger);
    c->OnWrite = [&](QObject* sender) { journal.push_back(sender == c ? "OnWrite" : "OnWrite?"); };
    server.OnChannelWrite = [&](QObject*, TKivChannel*) { journal.push_back("OnChannelWrite"); };
    server.OnChannelChanged = [&](QObject*, TKivChannel*) { journal.push_back("OnChannelChanged"); };
    TKivChannelAction action;
    QObject::connect(&action, &QAction::triggered,
                     [&] { journal.push_back(action.Channel() == c ? "action" : "action?"); });
    c->SetAction(&action);
    Recorder bound, watcher;
    bound.journal = watcher.journal = &journal;
    bound.label = "client";
    watcher.label = "value client";
    c->AddClient(&bound);
    server.AddValueClient(&watcher);
    journal.clear();

    c->SetAsInteger(3);
    const std::vector<QString> expected{"link1 write", "link2 write", "OnWrite",      "OnChannelWrite",
                                        "action",      "client",      "value client", "OnChannelChanged"};
    EXPECT_EQ(journal, expected);

    journal.clear();
    server.SetWriteSuspended(true);
    c->SetAsInteger(4);
    const std::vector<QString> suspended{"action", "client", "value client", "OnChannelChanged"};
    EXPECT_EQ(journal, suspended);

    journal.clear();
    EXPECT_EQ(c->AsInteger(), 4);
    const std::vector<QString> read{"link1 read", "link2 read"};
    EXPECT_EQ(journal, read);
}

TEST(ChangeNotification, AClientDroppedByAnotherDuringTheLoopIsNotSentTo) {
    TKivCustomDataServer server;
    TKivChannel* c = addChannel(server, "X", acvtInteger);
    Recorder first;
    auto second = std::make_unique<Recorder>();
    c->AddClient(&first);
    c->AddClient(second.get());
    first.onMessage = [&](const Recorder::Message&) { second.reset(); };
    c->SetAsInteger(1);
    EXPECT_EQ(first.count(CM_CHANNELVALUE), 2);
    EXPECT_EQ(c->Clients(), QList<QObject*>{&first});
    EXPECT_EQ(server.Clients(), QList<QObject*>{&first});
}

TEST(Removal, DestroyedClientsAndActionsLeaveNothingBehind) {
    TKivCustomDataServer server;
    TKivChannel* c = addChannel(server, "X", acvtInteger);
    auto widget = std::make_unique<Recorder>();
    auto watcher = std::make_unique<Recorder>();
    c->AddClient(widget.get());
    server.AddValueClient(watcher.get());
    widget.reset();
    watcher.reset();
    EXPECT_TRUE(c->Clients().isEmpty());
    EXPECT_TRUE(server.Clients().isEmpty());
    EXPECT_TRUE(server.ValueClients().isEmpty());
    c->SetAsInteger(1); // would reach freed controls under the address sanitizer otherwise

    auto action = std::make_unique<TKivChannelAction>();
    c->SetAction(action.get());
    c->SetAsInteger(2);
    EXPECT_EQ(action->Channel(), c);
    action.reset();
    EXPECT_EQ(c->Action(), nullptr);
    c->SetAsInteger(3);

    TKivChannelAction survivor;
    c->SetAction(&survivor);
    c->SetAsInteger(4);
    delete c;
    EXPECT_EQ(survivor.Channel(), nullptr);
}

TEST(Removal, ServerTellsBeforeTeardownAndIgnoresUnbindingFromThen) {
    auto server = std::make_unique<TKivCustomDataServer>();
    TKivChannel* c = addChannel(*server, "X", acvtInteger);
    Recorder widget;
    c->AddClient(&widget);
    int channelsSeen = -1;
    QObject::connect(server.get(), &TKivCustomDataServer::aboutToBeDestroyed, [&](TKivCustomDataServer* s) {
        channelsSeen = s->Channels()->Count();
        c->RemoveClient(&widget);
        EXPECT_EQ(c->Clients(), QList<QObject*>{&widget});
    });
    server.reset();
    EXPECT_EQ(channelsSeen, 1);
}

TEST(Loading, SortsIndexesAndTellsValueClientsThenClients) {
    TKivCustomDataServer server;
    for (const char* name : {"Gamma", "alpha", "Beta", "Temp", "temp", "Beta"})
        server.Channels()->Add()->SetName(name);
    std::vector<QString> journal;
    int handlerCalls = 0;
    server.AddChangeHandler([&](QObject* sender) {
        EXPECT_EQ(sender, &server);
        ++handlerCalls;
        journal.push_back("handler");
    });
    Recorder client, watcher;
    client.journal = watcher.journal = &journal;
    client.label = "client";
    watcher.label = "value client";
    server.RegisterClient(&client);
    server.AddValueClient(&watcher);
    EXPECT_FALSE(server.Ready());
    EXPECT_EQ(server.Channels()->IndexOf(u"Gamma"), -1); // not indexed before loading ends

    server.Loaded();
    EXPECT_TRUE(server.Ready());
    EXPECT_EQ(handlerCalls, 1);
    EXPECT_EQ(journal, (std::vector<QString>{"handler", "value client", "client"}));
    EXPECT_EQ(client.messages.at(0).type, CM_CHANNELSCHANGED);
    EXPECT_EQ(client.messages.at(0).server, &server);
    EXPECT_EQ(client.messages.at(0).channel, nullptr);

    TKivChannels& list = *server.Channels();
    for (int i = 1; i < list.Count(); ++i)
        EXPECT_LE(QString::localeAwareCompare(list.Items(i - 1)->Name(), list.Items(i)->Name()), 0);
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.Items(i)->Index(), i);

    // Temp and temp share one index entry: the one sorted first answers for both spellings.
    const int firstTemp = std::min(list.IndexOf(u"Temp"), list.IndexOf(u"temp"));
    EXPECT_GE(firstTemp, 0);
    EXPECT_EQ(list.IndexOf(u"Temp"), firstTemp);
    EXPECT_EQ(list.IndexOf(u"temp"), firstTemp);
    EXPECT_EQ(list.IndexOf(u"TEMP"), firstTemp);
    EXPECT_EQ(list.Items(firstTemp)->Name().toUpper(), "TEMP");
    EXPECT_EQ(list.IndexOf(u"ALPHA"), list.IndexOf(u"alpha"));
    EXPECT_EQ(list.IndexOf(u"delta"), -1);
    EXPECT_EQ(list.IndexOf(u"Bet"), -1);
    // Of two equal names the first in sorted order wins; both sit side by side.
    const int beta = list.IndexOf(u"beta");
    EXPECT_EQ(list.Items(beta)->Name(), "Beta");
    EXPECT_EQ(list.Items(beta + 1)->Name(), "Beta");
}

TEST(Loading, TheIndexKeepsOldNamesUntilTheNextLoadAndForgetsDeletedChannels) {
    TKivCustomDataServer server;
    TKivChannel* a = addChannel(server, "Alpha", acvtInteger);
    TKivChannel* b = addChannel(server, "Beta", acvtInteger);
    server.Loaded();
    b->SetName("Omega");
    EXPECT_EQ(server.Channels()->IndexOf(u"beta"), b->Index());
    EXPECT_EQ(server.Channels()->IndexOf(u"omega"), -1);
    server.Loaded();
    EXPECT_EQ(server.Channels()->IndexOf(u"beta"), -1);
    EXPECT_EQ(server.Channels()->IndexOf(u"omega"), b->Index());

    delete a; // positions move up and the index no longer answers for Alpha
    EXPECT_EQ(server.Channels()->IndexOf(u"alpha"), -1);
    EXPECT_EQ(server.Channels()->IndexOf(u"omega"), 0);
    EXPECT_THROW(server.Channels()->Items(1), InvalidOperationError);
}

TEST(Loading, ManyChannelsSpreadOverTheBucketsAreAllFound) {
    TKivCustomDataServer server;
    for (int i = 0; i < 3000; ++i)
        server.Channels()->Add()->SetName(QStringLiteral("ch%1").arg(i));
    server.Loaded();
    for (int i = 0; i < 3000; i += 7) {
        const int index = server.Channels()->IndexOf(QStringLiteral("CH%1").arg(i));
        ASSERT_GE(index, 0);
        EXPECT_EQ(server.Channels()->Items(index)->Name(), QStringLiteral("ch%1").arg(i));
    }
}

namespace {
// Accepts only even device addresses.
class EvenAddressServer : public TKivCustomDataServer {
public:
    bool ValidateAddress(TKivChannel*, int Address) override { return Address % 2 == 0; }
};
} // namespace

TEST(ChannelProperties, AddressBrowseInfoAndAssign) {
    EvenAddressServer server;
    TKivChannel* c = addChannel(server, "Src", acvtInteger);
    c->SetAddress(3);
    EXPECT_EQ(c->Address(), -1);
    c->SetAddress(4);
    EXPECT_EQ(c->Address(), 4);
    c->SetAddress(-1); // always allowed
    EXPECT_EQ(c->Address(), -1);

    c->SetMin(0);
    c->SetMax(10);
    c->SetBrowseInfo(11);
    EXPECT_EQ(c->BrowseInfo(), -1);
    c->SetBrowseInfo(10);
    EXPECT_EQ(c->BrowseInfo(), 10);

    c->SetVMin(100);
    c->SetVMax(200);
    c->SetAsInteger(150);
    c->SetInvertBoolean(true);
    c->SetTag(7);
    TKivChannel* copy = server.Channels()->Add();
    copy->SetVMin(0);
    copy->SetVMax(1);
    copy->SetMax(1);
    Recorder widget;
    copy->AddClient(&widget);
    copy->Assign(*c);
    EXPECT_EQ(copy->Name(), "Src");
    EXPECT_EQ(copy->NameHash(), c->NameHash());
    EXPECT_EQ(copy->AsInteger(), 150); // copied, though outside the copy's old range
    EXPECT_EQ(copy->VMax(), 200.0);
    EXPECT_EQ(copy->Tag(), 7);
    EXPECT_EQ(copy->DisplayName(), "Src");
    EXPECT_FALSE(copy->InvertBoolean());
    EXPECT_EQ(widget.messages.back().value, QVariant(qint32(150)));
}
