#include "guard/GuardSettings.h"

#include "settings/ResetableSettings.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <algorithm>
#include <optional>

namespace {
const ResetableSetting *Find(const QString &control)
{
    for (const ResetableSetting &setting : ResetableSettings)
        if (control == QLatin1String(setting.control))
            return &setting;
    return nullptr;
}
} // namespace

GuardSettings::GuardSettings(QObject *parent) : QObject(parent)
{
    for (const ResetableSetting &setting : ResetableSettings)
        m_values.insert(QString::fromLatin1(setting.control), setting.defaultValue);
}

int GuardSettings::value(const QString &control) const
{
    return m_values.value(control, 0);
}

int GuardSettings::minimum(const QString &control)
{
    const ResetableSetting *setting = Find(control);
    return setting ? setting->minimum : 0;
}

int GuardSettings::maximum(const QString &control)
{
    const ResetableSetting *setting = Find(control);
    return setting ? setting->maximum : 0;
}

void GuardSettings::setValue(const QString &control, int value)
{
    const ResetableSetting *setting = Find(control);
    if (!setting)
        return;
    value = std::clamp(value, setting->minimum, setting->maximum);
    if (m_values.value(control) != value) {
        m_values[control] = value;
        Q_EMIT valueChanged(control, value);
    }
    // Written also when unchanged: what the user typed is on the store, clamped.
    store(control, value);
}

void GuardSettings::store(const QString &control, int value)
{
    WriteRegString(StoreKeys::ResetableSettings, ResetableValueName(control),
                   QString::number(value));
}

void GuardSettings::load()
{
    // A value that cannot be written back does not keep the others from loading.
    std::optional<RegistryError> failed;
    for (const ResetableSetting &setting : ResetableSettings) {
        const QString control = QString::fromLatin1(setting.control);
        const auto stored = ParseStoredInteger(
            ReadRegString(StoreKeys::ResetableSettings, ResetableValueName(control)));
        if (!stored)
            continue;
        const int clamped = std::clamp(*stored, setting.minimum, setting.maximum);
        if (m_values.value(control) != clamped) {
            m_values[control] = clamped;
            Q_EMIT valueChanged(control, clamped);
        }
        if (clamped != *stored) {
            try {
                store(control, clamped);
            } catch (const RegistryError &error) {
                if (!failed)
                    failed = error;
            }
        }
    }
    if (failed)
        throw *failed;
}

void GuardSettings::resetToDefaults()
{
    const QString kept = ResetableValueName(QString::fromLatin1(KeptOnReset));
    QStringList stored;
    ReadRegValueNames(StoreKeys::ResetableSettings, stored);
    if (!stored.contains(kept)) {
        DeleteRegKey(StoreKeys::ResetableSettings);
    } else {
        for (const QString &name : std::as_const(stored))
            if (name != kept)
                DeleteRegValue(StoreKeys::ResetableSettings, name);
    }
    for (const ResetableSetting &setting : ResetableSettings) {
        const QString control = QString::fromLatin1(setting.control);
        if (control == QLatin1String(KeptOnReset))
            continue;
        // Written back like a change, as the controls did before.
        const int previous = m_values.value(control);
        m_values[control] = setting.defaultValue;
        if (previous != setting.defaultValue) {
            Q_EMIT valueChanged(control, setting.defaultValue);
            store(control, setting.defaultValue);
        }
    }
}
