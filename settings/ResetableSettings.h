#pragma once
// The user-tunable sliders and number fields whose values persist under the
// "set" key, one value per control named "frmMain" + control name.

#include <QString>
#include <array>
#include <optional>

struct ResetableSetting
{
    const char *control; // object name of the slider or number field
    int minimum;
    int maximum;
    int defaultValue;
    bool isSlider;
};

// In the order "Reset Settings to Default" restores them: sliders, then fields.
inline constexpr std::array<ResetableSetting, 14> ResetableSettings{{
    {"trkMicTriggerVolume", 0, 100, 50, true},
    {"trkMicTriggerDuration", 0, 100, 50, true},
    {"trkMouseSensivity", 0, 100, 50, true},
    {"trkAlarmVolume", 0, 100, 50, true},
    {"trkGlobalAlteration", -100, 100, 0, true},
    {"trkRandomAlteration", 0, 100, 50, true},
    {"trkPersistence", 0, 100, 50, true},
    {"trkPersistenceRandom", 0, 100, 50, true},
    // The microphone's input level; 77 passes the samples unchanged.
    {"trkMicSensivity", 0, 100, 77, true},
    {"trkCamSensitivity", 0, 100, 50, true},
    {"spnTriggerDelay", 0, 180, 0, false},
    {"spnActivationDelay", 0, 180, 10, false},
    {"spnSimulateEvery", 5, 1440, 5, false},
    {"spnSimulateRandom", 0, 1440, 0, false},
}};

// The microphone's input level sits on a hidden control that calibration
// sets; "Reset Settings to Default" leaves it (and its stored value) alone.
inline constexpr const char *KeptOnReset = "trkMicSensivity";

// The store value name of a control: "frmMain" followed by its name.
QString ResetableValueName(const QString &control);

// A stored value counts only when it is a plain decimal integer ("50",
// "-35"); anything else (empty, text, a number too large for an int) is
// treated as missing so the control keeps its created value.
std::optional<int> ParseStoredInteger(const QString &data);
