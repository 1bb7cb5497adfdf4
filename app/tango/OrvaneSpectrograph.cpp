#include "OrvaneSpectrograph.h"

#include "ConsoleRemote.h"
#include "SpectrographPanel.h"

#include <eventsupplier.h> // the event counters

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>

#include <sys/time.h>

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

Tango::AttrQuality tangoQuality(const std::string& Attribute, const PanelState& State) {
    // What the controller reports means nothing while none is connected; the port means nothing either
    // (during a search it is only the port being tried).
    static const char* const fromController[] = {"Wavelength", "ControllerName", "Port",
                                                 "Grating",    "Grooves",        "Blazes"};
    const bool reported = std::find(std::begin(fromController), std::end(fromController), Attribute) !=
                          std::end(fromController);
    if (reported && !State.connected)
        return Tango::ATTR_INVALID;
    if (Attribute == "Grating" && (State.grating < 1 || State.grating > 3))
        return Tango::ATTR_INVALID; // none reported yet
    if (Attribute == "Wavelength" && State.driveMoving)
        return Tango::ATTR_CHANGING;
    return Tango::ATTR_VALID;
}

namespace {

// ---- Commands ----

using Execute = std::function<void(OrvaneSpectrograph&, const CORBA::Any&)>;

class Command : public Tango::Command {
public:
    Command(const char* Name, Tango::CmdArgType In, const char* InDescription, Execute Body)
        : Tango::Command(Name, In, Tango::DEV_VOID, InDescription,
                         "none: the command returns once the console has taken it; follow State",
                         Tango::OPERATOR),
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
Command* simple(const char* Name, std::string (ConsoleRemote::*Operation)(int), const char* Description) {
    return new Command(
        Name, Tango::DEV_VOID, Description, [Name, Operation](OrvaneSpectrograph& Device, const CORBA::Any&) {
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

// Sets the attribute's value, time and quality from a panel's state, through the device's buffers.
using Fill = std::function<void(OrvaneSpectrograph&, const PanelState&, Tango::Attribute&, timeval&)>;
using Write = std::function<void(OrvaneSpectrograph&, Tango::WAttribute&)>;

// What a client sees of one attribute: its description, when it is pushed, how it is read and written.
struct AttrDef {
    const char* name;
    long type;
    bool spectrum = false; // up to three values, one per grating
    const char* unit = "";
    const char* format = ""; // empty: Tango's default
    const char* minimum = "";
    const char* maximum = "";
    const char* description;
    std::uint32_t fields; // the state's parts that change it, its quality included
    bool archive = false;
    Fill fill;
    Write write = {}; // empty: read-only
};

template <typename T, typename Get>
Fill scalar(T OrvaneSpectrograph::Buffers::*Slot, const char* Name, Get Value) {
    return
        [Slot, Name, Value](OrvaneSpectrograph& D, const PanelState& S, Tango::Attribute& A, timeval& When) {
            T& buffer = D.buffers.*Slot;
            buffer = Value(S);
            A.set_value_date_quality(&buffer, When, tangoQuality(Name, S));
        };
}

template <typename T, typename Get>
Fill spectrum(std::vector<T> OrvaneSpectrograph::Buffers::*Slot, const char* Name, Get Values) {
    return
        [Slot, Name, Values](OrvaneSpectrograph& D, const PanelState& S, Tango::Attribute& A, timeval& When) {
            std::vector<T>& buffer = D.buffers.*Slot;
            const auto& values = Values(S);
            buffer.assign(values.begin(), values.end());
            A.set_value_date_quality(buffer.data(), When, tangoQuality(Name, S),
                                     static_cast<long>(buffer.size()));
        };
}

// Tango takes strings as char*; the state they come from lives until the reply or the push is sent.
Tango::DevString text(const std::string& Text) {
    return const_cast<char*>(Text.c_str());
}

// The class's attributes, in the order clients list them.
// The range clients are shown is the one the console checks.
static_assert(SpectrographPanel::MinWavelength == 0 && SpectrographPanel::MaxWavelength == 100000);

const std::vector<AttrDef>& attrDefs() {
    using B = OrvaneSpectrograph::Buffers;
    static const std::vector<AttrDef> all = {
        {.name = "Wavelength",
         .type = Tango::DEV_DOUBLE,
         .unit = "nm",
         .format = "%6.3f", // as the readout shows it
         .minimum = "0",
         .maximum = "100000",
         .description =
             "The drive's wavelength as the readout shows it. Writing it moves the drive there, as "
             "MOVE does; State is MOVING until the controller answers. INVALID with no controller "
             "connected, CHANGING while the drive moves.",
         .fields = fieldWavelength | fieldConnected | fieldDriveMoving,
         .archive = true,
         .fill = scalar(&B::wavelength, "Wavelength", [](const PanelState& s) { return s.wavelength; }),
         .write =
             [](OrvaneSpectrograph& D, Tango::WAttribute& A) {
                 Tango::DevDouble nm = 0;
                 A.get_write_value(nm);
                 D.run("Wavelength", [nm](ConsoleRemote& R, int P) { return R.move(P, nm); });
             }},
        {.name = "ControllerName",
         .type = Tango::DEV_STRING,
         .description = "The name the controller gives itself, read when it is connected.",
         .fields = fieldControllerName | fieldConnected,
         .fill =
             scalar(&B::name, "ControllerName", [](const PanelState& s) { return text(s.controllerName); })},
        {.name = "Port",
         .type = Tango::DEV_STRING,
         .description = "The serial port of the controller, as COM1 to COM32 (see ORVANE_PORT_DIR).",
         .fields = fieldPort | fieldConnected,
         .fill = scalar(&B::port, "Port", [](const PanelState& s) { return text(s.port); })},
        {.name = "Grating",
         .type = Tango::DEV_LONG,
         .format = "%d",
         .minimum = "1",
         .maximum = "3", // until the controller tells how many are fitted
         .description = "The grating in the beam, 1 to the number fitted. Writing it changes the grating and "
                        "returns the drive to its wavelength, as MOVE with another grating chosen does.",
         .fields = fieldGrating | fieldConnected,
         .fill = scalar(&B::grating, "Grating", [](const PanelState& s) { return s.grating; }),
         .write =
             [](OrvaneSpectrograph& D, Tango::WAttribute& A) {
                 Tango::DevLong grating = 0;
                 A.get_write_value(grating);
                 D.run("Grating", [grating](ConsoleRemote& R, int P) { return R.changeGrating(P, grating); });
             }},
        {.name = "Grooves",
         .type = Tango::DEV_LONG,
         .spectrum = true,
         .unit = "1/mm", // lines per mm, as unit libraries (Taurus's) read it
         .format = "%d",
         .description = "The groove density of each grating fitted, grating 1 first, in lines per mm.",
         .fields = fieldGratingTable | fieldConnected,
         .fill = spectrum(
             &B::grooves, "Grooves", [](const PanelState& s) -> const auto& { return s.grooves; })},
        {.name = "Blazes",
         .type = Tango::DEV_DOUBLE,
         .spectrum = true,
         .unit = "nm",
         .description = "The blaze wavelength of each grating fitted, grating 1 first.",
         .fields = fieldGratingTable | fieldConnected,
         .fill = spectrum(
             &B::blazes, "Blazes", [](const PanelState& s) -> const auto& { return s.blazes; })},
        {.name = "ScanPoint",
         .type = Tango::DEV_LONG,
         .format = "%d",
         .description =
             "The points of the current pass sent so far: 1 once the first point is sent, 0 between "
             "passes and when no scan runs.",
         .fields = fieldScanPoint,
         .archive = true,
         .fill = scalar(&B::scanPoint, "ScanPoint", [](const PanelState& s) { return s.scanPoint; })},
        {.name = "ScanPoints",
         .type = Tango::DEV_LONG,
         .format = "%d",
         .description = "The number of points of each pass of the scan.",
         .fields = fieldScanPoints,
         .fill = scalar(&B::scanPoints, "ScanPoints", [](const PanelState& s) { return s.scanPoints; })},
        {.name = "ScanPass",
         .type = Tango::DEV_LONG,
         .format = "%d",
         .description = "The pass of the scan under way, from 1; 0 when no scan runs.",
         .fields = fieldScanPass,
         .fill = scalar(&B::scanPass, "ScanPass", [](const PanelState& s) { return s.scanPass; })},
        {.name = "ScanPaused",
         .type = Tango::DEV_BOOLEAN,
         .description = "Whether the scan is paused (PauseScan).",
         .fields = fieldScanPaused,
         .fill = scalar(&B::scanPaused, "ScanPaused", [](const PanelState& s) { return s.scanPaused; })},
        {.name = "Enabled",
         .type = Tango::DEV_BOOLEAN,
         .description =
             "Whether the window's selector enables the panel; a disabled panel takes no command but "
             "StopScan, PauseScan and Stop of a scan it runs.",
         .fields = fieldEnabled,
         .fill = scalar(&B::enabled, "Enabled", [](const PanelState& s) { return s.enabled; })},
    };
    return all;
}

// One attribute of the class; Base is Tango's scalar or spectrum description.
template <typename Base> class ConsoleAttr : public Base {
public:
    template <typename... Shape>
    ConsoleAttr(const AttrDef& S, Shape... Size)
        : Base(S.name, S.type, S.write ? Tango::READ_WRITE : Tango::READ, Size...), FDef(S) {
        Tango::UserDefaultAttrProp props;
        props.set_description(S.description);
        if (*S.unit)
            props.set_unit(S.unit);
        if (*S.format)
            props.set_format(S.format);
        if (*S.minimum)
            props.set_min_value(S.minimum);
        if (*S.maximum)
            props.set_max_value(S.maximum);
        this->set_default_properties(props);
    }
    void read(Tango::DeviceImpl* Device, Tango::Attribute& Attribute) override {
        auto& device = static_cast<OrvaneSpectrograph&>(*Device);
        timeval now{};
        gettimeofday(&now, nullptr);
        FDef.fill(device, device.readState(), Attribute, now);
    }
    void write(Tango::DeviceImpl* Device, Tango::WAttribute& Attribute) override {
        FDef.write(static_cast<OrvaneSpectrograph&>(*Device), Attribute);
    }

private:
    const AttrDef& FDef;
};

// Tango 9.3 without a database counts a device's events under names its subscriptions never register, so
// every event goes out numbered 0 and clients cannot drop the copy of the first event that Tango sends to a
// new client: the first event after a subscription arrived twice. Registering the counters under the names
// the pushes use gives each event its number again.
void registerEventCounters(OrvaneSpectrograph& Device) {
    Tango::ZmqEventSupplier* supplier = Tango::Util::instance()->get_zmq_event_supplier();
    if (!supplier)
        return;
    for (Tango::Attribute* attribute : Device.get_device_attr()->get_attribute_list()) {
        std::string name = attribute->get_name();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        for (int type = 0; type < Tango::numEventType; ++type) {
            if (type == Tango::INTERFACE_CHANGE_EVENT || type == Tango::PIPE_EVENT)
                continue;
            std::string event =
                supplier->create_full_event_name(&Device, Tango::EventName[type], name, false);
            supplier->init_event_cptr(event);
        }
    }
    std::string change =
        supplier->create_full_event_name(&Device, Tango::EventName[Tango::INTERFACE_CHANGE_EVENT], "", true);
    supplier->init_event_cptr(change);
}

} // namespace

// ---- The device ----

OrvaneSpectrograph::OrvaneSpectrograph(Tango::DeviceClass* Class, const std::string& Name, int Panel)
    : TANGO_BASE_CLASS(Class, Name.c_str(), "Spectrograph panel of the Orvane console"), FPanel(Panel) {
    init_device();
}

void OrvaneSpectrograph::init_device() {
    // Pushed by the console as they change: clients need no polling, archiving and trends no configuration.
    for (const char* name : {"State", "Status"})
        set_change_event(name, true, false);
    set_archive_event("State", true, false);
    for (const AttrDef& def : attrDefs()) {
        set_change_event(def.name, true, false);
        if (def.archive)
            set_archive_event(def.name, true, false);
    }
    FGratingMax = 3;
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

void OrvaneSpectrograph::pushChanges(const PanelState& State, std::uint32_t Fields) {
    struct Pushing {
        OrvaneSpectrograph* device;
        ~Pushing() { device->FPushing = nullptr; }
    } pushing{this};
    FPushing = &State;
    // State and Status are pushed without a value: Tango reads them through dev_state and dev_status, which
    // give the state being pushed. (Pushed with a value, Tango keeps a copy of each that it never frees.)
    set_state(tangoState(State.mode));
    set_status(State.status);
    // One push that fails (a monitor timeout, a database that does not take the grating range) is told
    // and the others still go: the attributes read the published state anyway.
    auto attempt = [](const char* What, const std::function<void()>& Push) {
        try {
            Push();
        } catch (const Tango::DevFailed& error) {
            std::string why;
            for (CORBA::ULong i = 0; i < error.errors.length(); ++i)
                why += (i ? "; " : "") + std::string(error.errors[i].desc.in());
            std::fprintf(stderr, "orvane: Tango event of %s not sent: %s\n", What, why.c_str());
        }
    };
    if (Fields & fieldMode) {
        DEBUG_STREAM << "State " << Tango::DevStateName[tangoState(State.mode)] << ", " << State.status
                     << std::endl;
        attempt("State", [this] {
            push_change_event("State");
            push_archive_event("State");
        });
    }
    if (Fields & fieldStatus)
        attempt("Status", [this] { push_change_event("Status"); });

    // Tango checks a written grating against the maximum; it wants the maximum above the minimum, so with a
    // single grating fitted the console's own check refuses grating 2. Tango keeps the maximum in the
    // database (or the database file) as the device's own.
    const long fitted = static_cast<long>(State.grooves.size());
    if ((Fields & fieldGratingTable) && fitted >= 1 && std::max(fitted, 2L) != FGratingMax) {
        FGratingMax = std::max(fitted, 2L);
        attempt("Grating's range", [this] {
            get_device_attr()->get_w_attr_by_name("Grating").set_max_value(
                static_cast<Tango::DevLong>(FGratingMax));
        });
    }

    timeval now{};
    gettimeofday(&now, nullptr);
    for (const AttrDef& def : attrDefs()) {
        if (!(Fields & def.fields))
            continue;
        attempt(def.name, [&] {
            Tango::Attribute& attribute = get_device_attr()->get_attr_by_name(def.name);
            def.fill(*this, State, attribute, now);
            attribute.fire_change_event();
            if (def.archive) {
                def.fill(*this, State, attribute, now); // a fired event lets go of the value it sent
                attribute.fire_archive_event();
            }
        });
    }
}

void OrvaneSpectrograph::run(const char* CommandName,
                             const std::function<std::string(ConsoleRemote&, int)>& Operation) {
    ConsoleRemote* remote = OrvaneSpectrographClass::Remote;
    const int panel = FPanel;
    const RemoteBridge::Answer answer = OrvaneSpectrographClass::Bridge->call(
        [remote, panel, Operation] { return Operation(*remote, panel); }, CallTimeout);
    const std::string origin = std::string("OrvaneSpectrograph::") + CommandName;
    // What Tango's trace option (-vN) shows of the clients' work.
    switch (answer.outcome) {
    case RemoteBridge::Outcome::Done:
        INFO_STREAM << CommandName << ": taken" << std::endl;
        return;
    case RemoteBridge::Outcome::Refused:
        INFO_STREAM << CommandName << ": refused: " << answer.reason << std::endl;
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
    command_list.push_back(simple("Connect", &ConsoleRemote::connectPanel,
                                  "No argument. Searches the serial ports for the controller, as COMM. does: "
                                  "INIT, then ON once its name and gratings are read. Done at once when "
                                  "connected or searching already."));
    command_list.push_back(simple("Disconnect", &ConsoleRemote::disconnectPanel,
                                  "No argument. Closes the port, as COMM. on a connected panel does; a scan "
                                  "under way ends. Done at once when not connected."));
    command_list.push_back(simple("Initialize", &ConsoleRemote::initialize,
                                  "No argument. Initialises the drive, as INITIALIZATION does: INIT until "
                                  "the controller has answered and reported its state."));
    command_list.push_back(new Command(
        "Move", Tango::DEV_DOUBLE,
        "The wavelength in nm, 0 to 100000. Moves the drive there, as MOVE does: MOVING until the "
        "controller answers (writing Wavelength does the same).",
        [](OrvaneSpectrograph& Device, const CORBA::Any& In) {
            const double nm = extractDouble(In);
            Device.run("Move", [nm](ConsoleRemote& R, int P) { return R.move(P, nm); });
        }));
    command_list.push_back(new Command(
        "MoveWithGrating", Tango::DEVVAR_DOUBLEARRAY,
        "[grating 1 to the number fitted, wavelength nm]. Changes the grating, then moves to the wavelength, "
        "as MOVE with another grating chosen does: MOVING until the controller answers.",
        [](OrvaneSpectrograph& Device, const CORBA::Any& In) {
            const std::vector<double> v = extractDoubles(In, 2, "[grating, wavelength nm]");
            Device.run("MoveWithGrating",
                       [v](ConsoleRemote& R, int P) { return R.moveWithGrating(P, v[0], v[1]); });
        }));
    command_list.push_back(
        new Command("Jog", Tango::DEV_DOUBLE,
                    "The step in nm, signed: moves from the target field's wavelength by the step, as the "
                    "jog buttons do.",
                    [](OrvaneSpectrograph& Device, const CORBA::Any& In) {
                        const double step = extractDouble(In);
                        Device.run("Jog", [step](ConsoleRemote& R, int P) { return R.jog(P, step); });
                    }));
    command_list.push_back(new Command(
        "StartScan", Tango::DEVVAR_DOUBLEARRAY,
        "[start nm, end nm, resolution nm, scan time s, number of scans]. Fills the scan box and starts the "
        "scan, as SCAN does: RUNNING until the last pass ends.",
        [](OrvaneSpectrograph& Device, const CORBA::Any& In) {
            const std::vector<double> v =
                extractDoubles(In, 5, "[start nm, end nm, resolution nm, scan time s, number of scans]");
            const ScanRequest scan{v[0], v[1], v[2], v[3], v[4]};
            Device.run("StartScan", [scan](ConsoleRemote& R, int P) { return R.startScan(P, scan); });
        }));
    command_list.push_back(simple("PauseScan", &ConsoleRemote::pauseScan,
                                  "No argument. Holds the scan after the point under way, as PAUSE does."));
    command_list.push_back(simple("ContinueScan", &ConsoleRemote::continueScan,
                                  "No argument. Goes on with a paused scan, as CONTINUE does."));
    command_list.push_back(simple("StopScan", &ConsoleRemote::stopScan,
                                  "No argument. Ends the scan after the point under way, as STOP does."));
    command_list.push_back(simple("Stop", &ConsoleRemote::stop,
                                  "No argument. Stops a scan at once (the point under way is finished). A "
                                  "move cannot be halted: the controller has no command for it, and Stop "
                                  "says so. Done at once when nothing runs."));
}

void OrvaneSpectrographClass::attribute_factory(std::vector<Tango::Attr*>& Attributes) {
    for (const AttrDef& def : attrDefs()) {
        if (def.spectrum)
            Attributes.push_back(new ConsoleAttr<Tango::SpectrumAttr>(def, 3L));
        else
            Attributes.push_back(new ConsoleAttr<Tango::Attr>(def));
    }
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
        // Before the export: no client can have subscribed yet.
        if (!Tango::Util::_UseDb)
            registerEventCounters(*device);
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
            export_device(device);
        else
            export_device(device, device->get_name().c_str());
    }
}
