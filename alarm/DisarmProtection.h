#pragma once
// The owner's protection of an armed alarm: locking the screen at arming,
// and a PIN asked before disarming, quitting or changing settings.
//
// Both options live in the store beside the switches (key Settings):
//   "Lock Screen When Armed"  "T" while the option is on, absent otherwise;
//   "Disarm PIN"              the PIN's hash while a PIN is set, absent
//                             otherwise, as "pbkdf2-sha256$<iterations>$
//                             <salt, base64>$<derived key, base64>".
// The PIN itself is never stored. With neither option on, every step is as
// if this class did not exist.

#include <QByteArray>
#include <QString>

class AlarmControl;
class ReportLog;

class DisarmProtection
{
public:
    static constexpr int DefaultIterations = 100000;
    static constexpr int MinPinLength = 4;
    static constexpr int MaxPinLength = 12;
    static constexpr int TriesBeforeAlarm = 3;

    // The steps an armed alarm guards.
    enum class Step
    {
        Disarm,   // Escape, the alarm button, the tray's disarm
        Quit,     // Exit, the close box, the tray's quit
        Settings, // sliders, spin boxes, the recording source, reset to defaults
    };
    enum class Verdict
    {
        Granted,
        Wrong,         // reported
        WrongAndAlarm, // reported through ActivateAlarm
    };

    DisarmProtection(AlarmControl &alarm, ReportLog &report);

    // Reads both options from the store.
    void Load();
    bool lockEnabled() const { return m_lockEnabled; }
    bool pinEnabled() const { return !m_pinHash.isEmpty(); }
    // Store writers; they throw RegistryError like every store write.
    void setLockEnabled(bool on);
    // Returns false (and stores nothing) when pin is not 4..12 digits.
    bool setPin(const QString &pin, int iterations = DefaultIterations);
    void clearPin();

    // What the options dialog hands over. Turning the PIN off or replacing
    // it while one is set needs the current PIN; a new PIN is typed twice.
    struct OptionChange
    {
        bool lock = false;
        bool askPin = false;
        QString currentPin, newPin, repeatedPin;
    };
    // Applies the change and returns an empty text, or changes nothing and
    // returns why.
    QString ChangeOptions(const OptionChange &change);

    // Whether the armed alarm (activation delay included) asks for the PIN
    // before this step.
    bool needsPin(Step step) const;
    // Whether the window is to stay alive (hidden) instead of ending.
    bool keepsRunningWhenClosed() const;

    // Checks a PIN typed while guarded. A wrong one writes "Wrong PIN" to the
    // report; from the third wrong try on it raises the alarm with that
    // text. The right one resets the count.
    Verdict CheckPin(const QString &pin);
    // A PIN typed to change the options: no report, no count.
    bool matches(const QString &pin) const { return VerifyPin(pin, m_pinHash); }
    int wrongTries() const { return m_wrongTries; }
    void resetTries() { m_wrongTries = 0; }

    static bool IsValidPin(const QString &pin);
    static QString HashPin(const QString &pin, const QByteArray &salt,
                           int iterations = DefaultIterations);
    static bool VerifyPin(const QString &pin, const QString &stored);

    static const QString LockValueName;
    static const QString PinValueName;
    static const QString WrongPinText;
    static const QString BadPinText;
    static const QString PinsDifferText;

private:
    AlarmControl &m_alarm;
    ReportLog &m_report;
    bool m_lockEnabled = false;
    QString m_pinHash;
    int m_wrongTries = 0;
};
