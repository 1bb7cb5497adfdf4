#pragma once
// The Tango device class OrvaneSpectrograph: one device per spectrograph panel. Its commands and writes are
// handed to the window thread through the bridge and carried out there as the user's clicks; its state and
// attributes are read from the state the window last published, and pushed as events when it changes.

#include "RemoteBridge.h"

#include <tango.h>

#include <string>

class ConsoleRemote;

class OrvaneSpectrograph : public TANGO_BASE_CLASS {
public:
    OrvaneSpectrograph(Tango::DeviceClass* Class, const std::string& Name, int Panel);

    void init_device() override;
    void delete_device() override {}
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;
    void read_attr_hardware(std::vector<long>& Attributes) override;

    int panel() const { return FPanel; }
    // The state taken for the attribute reads of the request being served.
    const PanelState& readState() const { return FRead; }

    // Pushes the events of the attributes whose Fields changed, with State as their value. Called by the
    // server's pusher thread under the device's monitor.
    void pushChanges(const PanelState& State, std::uint32_t Fields);

    // Hands a command to the window thread and waits for its answer; a refusal, a timeout or a closing
    // console raise DevFailed naming the reason.
    void run(const char* Command, const std::function<std::string(ConsoleRemote&, int)>& Operation);

    // How long a command waits for the window thread: under the 3 s a client waits by default, so that
    // the client hears the reason rather than its own timeout.
    static constexpr std::chrono::milliseconds CallTimeout{2500};

    // The values handed to Tango for a read or a push must live until its reply is sent; the device's
    // monitor serialises the requests and the pushes, so one buffer per attribute is enough.
    struct Buffers {
        Tango::DevDouble wavelength = 0;
        Tango::DevString name = nullptr;
        Tango::DevString port = nullptr;
        Tango::DevLong grating = 0;
        std::vector<Tango::DevLong> grooves;
        std::vector<Tango::DevDouble> blazes;
        Tango::DevLong scanPoint = 0, scanPoints = 0, scanPass = 0;
        Tango::DevBoolean scanPaused = false, enabled = false;
    } buffers;

private:
    int FPanel;
    PanelState FRead;
    std::string FStatus;
    // While the pusher pushes State and Status (which Tango reads through dev_state and dev_status), the
    // state they belong to.
    const PanelState* FPushing = nullptr;
    // The state the pusher last pushed; its strings back the pushed values.
    PanelState FPushed;
    // The highest grating a client may write, as Tango checks it: the number fitted.
    long FGratingMax = 0;
};

class OrvaneSpectrographClass : public Tango::DeviceClass {
public:
    static OrvaneSpectrographClass* init(const char* Name);
    static OrvaneSpectrographClass* instance() { return FInstance; }

    // Set before the server starts: where the devices send their work. The devices are given to the panels
    // in the alphabetical order of their names.
    static RemoteBridge* Bridge;
    static ConsoleRemote* Remote;

    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr*>& Attributes) override;
    void device_factory(const Tango::DevVarStringArray* Names) override;

    // The device of panel Index, once the factory has made it.
    OrvaneSpectrograph* device(int Index) const { return FDevices[Index]; }

protected:
    explicit OrvaneSpectrographClass(std::string& Name) : Tango::DeviceClass(Name) {}

private:
    static OrvaneSpectrographClass* FInstance;
    std::array<OrvaneSpectrograph*, RemoteBridge::PanelCount> FDevices{};
};

// The Tango state of a panel mode.
Tango::DevState tangoState(PanelMode Mode);

// The quality of an attribute's value in State: INVALID where the value means nothing (no controller
// connected), CHANGING for the wavelength while the drive moves, VALID otherwise.
Tango::AttrQuality tangoQuality(const std::string& Attribute, const PanelState& State);
