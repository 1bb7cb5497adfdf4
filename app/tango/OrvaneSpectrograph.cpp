#include "OrvaneSpectrograph.h"

#include "ConsoleRemote.h"

#include <algorithm>
#include <functional>

RemoteBridge* OrvaneSpectrographClass::Bridge = nullptr;
ConsoleRemote* OrvaneSpectrographClass::Remote = nullptr;
OrvaneSpectrographClass* OrvaneSpectrographClass::FInstance = nullptr;

Tango::DevState tangoState(PanelMode Mode) {
    switch (Mode) {
    case PanelMode::Off:
        return Tango::OFF;
    case PanelMode::Init:
        return Tango::INIT;
    case PanelMode::On:
        return Tango::ON;
    case PanelMode::Moving:
        return Tango::MOVING;
    case PanelMode::Running:
        return Tango::RUNNING;
    case PanelMode::Fault:
        return Tango::FAULT;
    }
    return Tango::UNKNOWN;
}

namespace {

// ---- Commands ----

using Execute = std::function<void(OrvaneSpectrograph&, const CORBA::Any&)>;

class Command : public Tango::Command {
public:
    Command(const char* Name, Tango::CmdArgType In, const char* InDescription, Execute Body)
        : Tango::Command(Name, In, Tango::DEV_VOID, InDescription, "", Tango::OPERATOR),
          FBody(std::move(Body)) {}
    CORBA::Any* execute(Tango::DeviceImpl* Device, const CORBA::Any& In) override {
        FBody(static_cast<OrvaneSpectrograph&>(*Device), In);
        return new CORBA::Any();
    }
    bool is_allowed(Tango::DeviceImpl*, const CORBA::Any&) override { return true; }

private:
    Execute FBody;
};

// An argument-less command that runs Operation on the window thread.
Command* simple(const char* Name, std::string (ConsoleRemote::*Operation)(int)) {
    return new Command(
        Name, Tango::DEV_VOID, "", [Name, Operation](OrvaneSpectrograph& Device, const CORBA::Any&) {
            Device.run(Name,
                       [Operation](ConsoleRemote& Remote, int Panel) { return (Remote.*Operation)(Panel); });
        });
}

double extractDouble(const CORBA::Any& In) {
    Tango::DevDouble value = 0;
    if (!(In >>= value))
        Tango::Except::throw_exception("API_IncompatibleCmdArgumentType", "a DevDouble is expected",
                                       "OrvaneSpectrograph");
    return value;
}

std::vector<double> extractDoubles(const CORBA::Any& In, std::size_t Count, const char* Layout) {
    const Tango::DevVarDoubleArray* values = nullptr;
    if (!(In >>= values) || !values || values->length() != Count)
        Tango::Except::throw_exception(
            "API_IncompatibleCmdArgumentType",
            std::string("expected ") + std::to_string(Count) + " values: " + Layout, "OrvaneSpectrograph");
    std::vector<double> out;
    for (CORBA::ULong i = 0; i < values->length(); ++i)
        out.push_back((*values)[i]);
    return out;
}

// ---- Attributes ----

using Read = std::function<void(OrvaneSpectrograph&, Tango::Attribute&)>;

// A read-only attribute whose reads run Body; Base is Tango's scalar or spectrum description.
template <typename Base> class ReadOnly : public Base {
public:
    template <typename... Shape>
    ReadOnly(const char* Name, long Type, const char* Unit, Read Body, Shape... Size)
        : Base(Name, Type, Tango::READ, Size...), FBody(std::move(Body)) {
        Tango::UserDefaultAttrProp props;
        if (*Unit)
            props.set_unit(Unit);
        this->set_default_properties(props);
    }
    void read(Tango::DeviceImpl* Device, Tango::Attribute& Attribute) override {
        FBody(static_cast<OrvaneSpectrograph&>(*Device), Attribute);
    }

private:
    Read FBody;
};

// A scalar read from the published state into the device's buffer Slot.
template <typename T, typename Get>
Tango::Attr* scalar(const char* Name, long Type, const char* Unit, T OrvaneSpectrograph::Buffers::*Slot,
                    Get Value) {
    return new ReadOnly<Tango::Attr>(Name, Type, Unit,
                                     [Slot, Value](OrvaneSpectrograph& D, Tango::Attribute& A) {
                                         T& buffer = D.buffers.*Slot;
                                         buffer = Value(D.readState());
                                         A.set_value(&buffer);
                                     });
}

// A spectrum of the grating table, up to three values.
template <typename T, typename Get>
Tango::Attr* spectrum(const char* Name, long Type, const char* Unit,
                      std::vector<T> OrvaneSpectrograph::Buffers::*Slot, Get Values) {
    return new ReadOnly<Tango::SpectrumAttr>(
        Name, Type, Unit,
        [Slot, Values](OrvaneSpectrograph& D, Tango::Attribute& A) {
            std::vector<T>& buffer = D.buffers.*Slot;
            const auto& values = Values(D.readState());
            buffer.assign(values.begin(), values.end());
            A.set_value(buffer.data(), static_cast<long>(buffer.size()));
        },
        3L);
}

// Tango takes strings as char*; the state read for the request keeps them alive until its reply is sent.
Tango::DevString text(const std::string& Text) {
    return const_cast<char*>(Text.c_str());
}

} // namespace

// ---- The device ----

OrvaneSpectrograph::OrvaneSpectrograph(Tango::DeviceClass* Class, const std::string& Name, int Panel)
    : TANGO_BASE_CLASS(Class, Name.c_str(), "Spectrograph panel of the Orvane console"), FPanel(Panel) {
    init_device();
}

void OrvaneSpectrograph::init_device() {
    // Pushed by the console as they change: clients need no polling.
    for (const char* name : {"State", "Status", "Wavelength", "ControllerName", "ScanPoint"})
        set_change_event(name, true, false);
}

Tango::DevState OrvaneSpectrograph::dev_state() {
    const PanelMode mode = FPushing ? FPushing->mode : OrvaneSpectrographClass::Bridge->snapshot(FPanel).mode;
    set_state(tangoState(mode));
    return get_state();
}

Tango::ConstDevString OrvaneSpectrograph::dev_status() {
    FStatus = FPushing ? FPushing->status : OrvaneSpectrographClass::Bridge->snapshot(FPanel).status;
    return FStatus.c_str();
}

void OrvaneSpectrograph::read_attr_hardware(std::vector<long>&) {
    FRead = OrvaneSpectrographClass::Bridge->snapshot(FPanel);
}

void OrvaneSpectrograph::run(const char* CommandName,
                             const std::function<std::string(ConsoleRemote&, int)>& Operation) {
    ConsoleRemote* remote = OrvaneSpectrographClass::Remote;
    const int panel = FPanel;
    const RemoteBridge::Answer answer = OrvaneSpectrographClass::Bridge->call(
        [remote, panel, Operation] { return Operation(*remote, panel); }, CallTimeout);
    const std::string origin = std::string("OrvaneSpectrograph::") + CommandName;
    switch (answer.outcome) {
    case RemoteBridge::Outcome::Done:
        return;
    case RemoteBridge::Outcome::Refused:
        Tango::Except::throw_exception("ORVANE_Refused", answer.reason, origin);
    case RemoteBridge::Outcome::TimedOut:
        Tango::Except::throw_exception(
            "ORVANE_Timeout",
            "the console did not answer within 2.5 s (is a message open in its window?); the command may "
            "still be carried out",
            origin);
    case RemoteBridge::Outcome::ShutDown:
        Tango::Except::throw_exception("ORVANE_Closing", answer.reason, origin);
    }
}

// ---- The class ----

OrvaneSpectrographClass* OrvaneSpectrographClass::init(const char* Name) {
    if (!FInstance) {
        std::string name(Name);
        FInstance = new OrvaneSpectrographClass(name);
    }
    return FInstance;
}

void OrvaneSpectrographClass::command_factory() {
    command_list.push_back(simple("Connect", &ConsoleRemote::connectPanel));
    command_list.push_back(simple("Disconnect", &ConsoleRemote::disconnectPanel));
    command_list.push_back(simple("Initialize", &ConsoleRemote::initialize));
    command_list.push_back(new Command(
        "Move", Tango::DEV_DOUBLE, "wavelength, nm", [](OrvaneSpectrograph& Device, const CORBA::Any& In) {
            const double nm = extractDouble(In);
            Device.run("Move", [nm](ConsoleRemote& R, int P) { return R.move(P, nm); });
        }));
    command_list.push_back(
        new Command("MoveWithGrating", Tango::DEVVAR_DOUBLEARRAY, "[grating 1 to 3, wavelength nm]",
                    [](OrvaneSpectrograph& Device, const CORBA::Any& In) {
                        const std::vector<double> v = extractDoubles(In, 2, "[grating, wavelength nm]");
                        Device.run("MoveWithGrating",
                                   [v](ConsoleRemote& R, int P) { return R.moveWithGrating(P, v[0], v[1]); });
                    }));
    command_list.push_back(new Command(
        "Jog", Tango::DEV_DOUBLE, "signed step, nm", [](OrvaneSpectrograph& Device, const CORBA::Any& In) {
            const double step = extractDouble(In);
            Device.run("Jog", [step](ConsoleRemote& R, int P) { return R.jog(P, step); });
        }));
    command_list.push_back(new Command(
        "StartScan", Tango::DEVVAR_DOUBLEARRAY,
        "[start nm, end nm, resolution nm, scan time s, number of scans]",
        [](OrvaneSpectrograph& Device, const CORBA::Any& In) {
            const std::vector<double> v =
                extractDoubles(In, 5, "[start nm, end nm, resolution nm, scan time s, number of scans]");
            const ScanRequest scan{v[0], v[1], v[2], v[3], v[4]};
            Device.run("StartScan", [scan](ConsoleRemote& R, int P) { return R.startScan(P, scan); });
        }));
    command_list.push_back(simple("PauseScan", &ConsoleRemote::pauseScan));
    command_list.push_back(simple("ContinueScan", &ConsoleRemote::continueScan));
    command_list.push_back(simple("StopScan", &ConsoleRemote::stopScan));
}

void OrvaneSpectrographClass::attribute_factory(std::vector<Tango::Attr*>& Attributes) {
    using B = OrvaneSpectrograph::Buffers;
    Attributes.push_back(scalar("Wavelength", Tango::DEV_DOUBLE, "nm", &B::wavelength,
                                [](const PanelState& s) { return s.wavelength; }));
    Attributes.push_back(scalar("ControllerName", Tango::DEV_STRING, "", &B::name,
                                [](const PanelState& s) { return text(s.controllerName); }));
    Attributes.push_back(
        scalar("Port", Tango::DEV_STRING, "", &B::port, [](const PanelState& s) { return text(s.port); }));
    Attributes.push_back(
        scalar("Grating", Tango::DEV_LONG, "", &B::grating, [](const PanelState& s) { return s.grating; }));
    Attributes.push_back(spectrum(
        "Grooves", Tango::DEV_LONG, "lines/mm", &B::grooves,
        [](const PanelState& s) -> const auto& { return s.grooves; }));
    Attributes.push_back(spectrum(
        "Blazes", Tango::DEV_DOUBLE, "nm", &B::blazes,
        [](const PanelState& s) -> const auto& { return s.blazes; }));
    Attributes.push_back(scalar("ScanPoint", Tango::DEV_LONG, "", &B::scanPoint,
                                [](const PanelState& s) { return s.scanPoint; }));
    Attributes.push_back(scalar("ScanPoints", Tango::DEV_LONG, "", &B::scanPoints,
                                [](const PanelState& s) { return s.scanPoints; }));
    Attributes.push_back(scalar("ScanPass", Tango::DEV_LONG, "", &B::scanPass,
                                [](const PanelState& s) { return s.scanPass; }));
    Attributes.push_back(scalar("ScanPaused", Tango::DEV_BOOLEAN, "", &B::scanPaused,
                                [](const PanelState& s) { return s.scanPaused; }));
    Attributes.push_back(scalar("Enabled", Tango::DEV_BOOLEAN, "", &B::enabled,
                                [](const PanelState& s) { return s.enabled; }));
}

void OrvaneSpectrographClass::device_factory(const Tango::DevVarStringArray* Names) {
    std::vector<std::string> names;
    for (CORBA::ULong i = 0; i < Names->length(); ++i)
        names.emplace_back((*Names)[i].in());
    std::sort(names.begin(), names.end()); // .../1 is panel 1, .../2 panel 2
    if (names.size() > FDevices.size())
        Tango::Except::throw_exception("ORVANE_TooManyDevices",
                                       "the console has two spectrograph panels; give it at most two devices",
                                       "OrvaneSpectrographClass::device_factory");
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto* device = new OrvaneSpectrograph(this, names[i], static_cast<int>(i));
        device_list.push_back(device);
        FDevices[i] = device;
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
            export_device(device);
        else
            export_device(device, device->get_name().c_str());
    }
}
