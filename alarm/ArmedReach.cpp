#include "alarm/ArmedReach.h"

#include "alarm/AlarmControl.h"
#include "alarm/DisarmProtection.h"

ArmedReach::ArmedReach(const AlarmControl &alarm, const DisarmProtection &protection)
    : m_alarm(alarm), m_protection(protection)
{
}

ArmedReach::Hold ArmedReach::holdOf(Place place)
{
    for (const Entry &entry : Places) {
        if (entry.place == place)
            return entry.hold;
    }
    // A place left out of the list is held whenever the alarm is on: a
    // forgotten entry must not open a way around the PIN.
    return Hold::WhileOn;
}

bool ArmedReach::reachable(Place place) const
{
    if (m_alarm.armState() == AlarmControl::ArmState::Disarmed)
        return true;
    switch (holdOf(place)) {
    case Hold::WhileOn:
        return false;
    case Hold::WhilePinGuards:
        return !m_protection.needsPin(DisarmProtection::Step::Settings);
    }
    return false;
}
