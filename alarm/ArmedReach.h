#pragma once
// Which places of the window a person at the desk may reach while the alarm
// is on. Every place that changes or shows how the alarm protects or reports
// is listed once in Places, with what holds it:
//   WhileOn         while the alarm switch is on (waiting or armed), for
//                   everyone: the alarm keeps what it was armed with;
//   WhilePinGuards  while a disarm PIN guards the switched-on alarm: without
//                   a PIN these stay open, as the owner may tune an armed
//                   alarm; with one, only the PIN's owner may.
// A held place offers nothing: its controls are disabled and a dialog of it
// that is open closes. A new dialog joins with one entry.

#include <array>

class AlarmControl;
class DisarmProtection;

class ArmedReach
{
public:
    enum class Place
    {
        Settings,          // sliders, spin boxes, recording source, reset to defaults
        Alerts,            // where alerts go, their token, the test alert
        Evidence,          // photos and screen pictures, their folder's limits
        SystemMixer,       // the system's volume and recording controls
        ProtectionOptions, // lock screen and PIN
        Calibration,
        DetectorSwitches,
        SessionSwitches, // lid and power cable
        SoundList,       // check marks, and files dropped onto the list
        SoundImport,
        SoundRemoval,
        SpeakerTest,
        Report,
    };
    enum class Hold
    {
        WhileOn,
        WhilePinGuards,
    };
    struct Entry
    {
        Place place;
        Hold hold;
    };
    static constexpr std::array<Entry, 13> Places{{
        {Place::Settings, Hold::WhilePinGuards},
        {Place::Alerts, Hold::WhilePinGuards},
        {Place::Evidence, Hold::WhilePinGuards},
        {Place::SystemMixer, Hold::WhilePinGuards},
        {Place::ProtectionOptions, Hold::WhileOn},
        {Place::Calibration, Hold::WhileOn},
        {Place::DetectorSwitches, Hold::WhileOn},
        {Place::SessionSwitches, Hold::WhileOn},
        {Place::SoundList, Hold::WhileOn},
        {Place::SoundImport, Hold::WhileOn},
        {Place::SoundRemoval, Hold::WhileOn},
        {Place::SpeakerTest, Hold::WhileOn},
        {Place::Report, Hold::WhileOn},
    }};

    ArmedReach(const AlarmControl &alarm, const DisarmProtection &protection);

    bool reachable(Place place) const;
    static Hold holdOf(Place place);

private:
    const AlarmControl &m_alarm;
    const DisarmProtection &m_protection;
};
