// The resettable settings: each slider and number field written the moment
// it changes, loaded at start-up, and restored to their defaults.

#include "app/fmMain.h"

#include "settings/ResetableSettings.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QSlider>
#include <QSpinBox>

void TfrmMain::trkTrackChange(QSlider *slider)
{
    const QString text = QString::number(slider->value());
    guarded([&] {
        WriteRegString(StoreKeys::ResetableSettings, ResetableValueName(slider->objectName()),
                       text);
    });
    slider->setToolTip(text);
}

void TfrmMain::spnSpinChange(QSpinBox *spin, const QString &text)
{
    // While the text is not a number (an emptied field) the field still
    // holds its previous value, which it shows again when editing ends.
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok)
        return;
    guarded([&] {
        WriteRegString(StoreKeys::ResetableSettings, ResetableValueName(spin->objectName()),
                       QString::number(value));
    });
}

void TfrmMain::LoadResetableSettings()
{
    auto stored = [](const QString &control) {
        return ParseStoredInteger(
            ReadRegString(StoreKeys::ResetableSettings, ResetableValueName(control)));
    };
    // Setting a control runs its change handler when the value differs, which
    // writes a clamped value back.
    for (QSlider *slider : centralWidget()->findChildren<QSlider *>()) {
        if (const auto value = stored(slider->objectName()))
            slider->setValue(*value);
    }
    for (QSpinBox *spin : centralWidget()->findChildren<QSpinBox *>()) {
        if (const auto value = stored(spin->objectName()))
            spin->setValue(*value);
    }
}

void TfrmMain::mnuResetSettingToDefaultClick()
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
        const QString name = QString::fromLatin1(setting.control);
        if (name == QLatin1String(KeptOnReset))
            continue;
        if (setting.isSlider) {
            if (auto *slider = centralWidget()->findChild<QSlider *>(name))
                slider->setValue(setting.defaultValue);
        } else if (auto *spin = centralWidget()->findChild<QSpinBox *>(name)) {
            spin->setValue(setting.defaultValue);
        }
    }
}
