#pragma once
// What the alarm's tests start from: an empty settings store, no autostart
// entry and a report in a folder of its own; an alarm whose window supplies
// only a delay and one checked sound; and a fake window that records what
// the alarm asks of it.

#include "alarm/AlarmControl.h"
#include "alarm/Autostart.h"
#include "alarm/DisarmProtection.h"
#include "report/ReportLog.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace tarvo::test {

// Clears the store and the autostart entry and opens a report of a new
// folder below dir; null when the autostart entry cannot be removed.
inline std::unique_ptr<ReportLog> freshAlarmReport(const QTemporaryDir &dir)
{
    static int run = 0;
    DeleteRegKey(StoreKeys::Settings);
    if (!RemoveAutostartEntry())
        return nullptr;
    return std::make_unique<ReportLog>(dir.path() + QStringLiteral("/run%1/Reports/").arg(++run));
}

// An alarm with the mouse detector on; the activation delay is read from
// activationDelay at each arming.
inline std::unique_ptr<AlarmControl> mouseAlarm(ReportLog &report, const int &activationDelay)
{
    AlarmControl::Hooks hooks;
    hooks.activationDelay = [&activationDelay] { return activationDelay; };
    hooks.checkedSounds = [] { return QStringList{QStringLiteral("a.wav")}; };
    hooks.executablePath = QStringLiteral("/opt/tarvo2");
    auto alarm = std::make_unique<AlarmControl>(report, std::move(hooks));
    alarm->setTag(AlarmControl::Switch::Mouse, 1);
    return alarm;
}

// The mouse alarm above with its disarm protection, loaded from a fresh
// store; start() for init(), stop() for cleanup().
struct ProtectedAlarm
{
    std::unique_ptr<ReportLog> report;
    std::unique_ptr<AlarmControl> alarm;
    std::unique_ptr<DisarmProtection> protection;

    bool start(const QTemporaryDir &dir, const int &activationDelay)
    {
        report = freshAlarmReport(dir);
        if (!report)
            return false;
        alarm = mouseAlarm(*report, activationDelay);
        protection = std::make_unique<DisarmProtection>(*alarm, *report);
        protection->Load();
        return true;
    }
    void stop()
    {
        protection.reset();
        alarm.reset();
        RemoveAutostartEntry();
    }
};

// The messages of report lines, without their time stamps.
inline QStringList reportMessages(const QStringList &lines)
{
    QStringList messages;
    for (const QString &line : lines)
        messages.append(line.mid(line.indexOf(QLatin1String("] ")) + 2));
    return messages;
}

struct Played
{
    int slot;
    int speaker;
    QString path;
    bool operator==(const Played &) const = default;
};

// What the main window would supply: spin edits, sliders, playback.
struct FakeWindow
{
    int activationDelay = 0, triggerDelay = 0;
    int simulateEvery = 5, simulateRandom = 0;
    int persistence = 0, persistenceRandom = 0;
    bool playing = false;
    bool randomLargest = false;
    int stopSoundsCalls = 0, resetMicrophoneCalls = 0, prepareOutputCalls = 0;
    QList<quint32> randomAsked;
    QList<Played> played;
    QStringList checked{QStringLiteral("siren.wav"), QStringLiteral("dog.mp3")};

    AlarmControl::Hooks hooks()
    {
        AlarmControl::Hooks h;
        h.activationDelay = [this] { return activationDelay; };
        h.triggerDelay = [this] { return triggerDelay; };
        h.simulateEvery = [this] { return simulateEvery; };
        h.simulateRandom = [this] { return simulateRandom; };
        h.persistence = [this] { return persistence; };
        h.persistenceRandom = [this] { return persistenceRandom; };
        h.isPlaying = [this] { return playing; };
        h.stopSounds = [this] {
            ++stopSoundsCalls;
            playing = false;
        };
        h.playHow = [this](int slot, int speaker, const QString &path) {
            played.append({slot, speaker, path});
        };
        h.prepareOutput = [this] { ++prepareOutputCalls; };
        h.checkedSounds = [this] { return checked; };
        h.soundsFolder = [] { return QStringLiteral("/snd/"); };
        h.resetMicrophoneCount = [this] { ++resetMicrophoneCalls; };
        h.randomBelow = [this](quint32 n) {
            randomAsked.append(n);
            return (n == 0 || !randomLargest) ? 0u : n - 1;
        };
        h.executablePath = QStringLiteral("/opt/Tarvo 2/tarvo2"); // a space in the path
        return h;
    }
};

// The base of the tests of the alarm's rules against a fake window: a
// fresh store, report, fake and alarm per test function.
class AlarmRulesTest : public QObject
{
protected:
    using Switch = AlarmControl::Switch;
    using Led = AlarmControl::Led;
    using Played = tarvo::test::Played;

    QTemporaryDir m_dir;
    std::unique_ptr<ReportLog> m_report;
    FakeWindow m_fake;
    std::unique_ptr<AlarmControl> m_alarm;

    // For init(): false when the start could not be made clean.
    bool startFresh()
    {
        m_report = freshAlarmReport(m_dir);
        m_fake = FakeWindow();
        if (!m_report)
            return false;
        MakeAlarm();
        return true;
    }
    void MakeAlarm() { m_alarm = std::make_unique<AlarmControl>(*m_report, m_fake.hooks()); }
    void Arm()
    {
        m_alarm->ActActivateToggleExecute();
        if (m_alarm->isWaitingForActivation())
            m_alarm->TimActivationDelayTimer();
    }
    QStringList ReportMessages() const { return reportMessages(m_report->lines()); }
    QStringList FileMessages() const
    {
        return reportMessages(ReportLog::ReadReportFile(m_report->filePath()));
    }
    static QString Stored(const QString &name) { return ReadRegString(StoreKeys::Settings, name); }
};

} // namespace tarvo::test
