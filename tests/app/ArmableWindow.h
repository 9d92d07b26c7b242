#pragma once
// A main window ready to arm: one checked sound, the simulation switch on,
// no activation delay, shown (offscreen).

#include "app/fmMain.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFile>
#include <QSpinBox>
#include <memory>

namespace tarvo::test {

inline std::unique_ptr<TfrmMain> makeArmableWindow(const QString &folder) // ends in '/'
{
    QDir().mkpath(folder + QStringLiteral("Sounds"));
    QFile sound(folder + QStringLiteral("Sounds/a.wav"));
    if (!sound.open(QIODevice::WriteOnly))
        return nullptr;
    WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("a.wav"), QStringLiteral("T"));
    WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), QStringLiteral("T"));
    auto window = std::make_unique<TfrmMain>(folder);
    window->setMessageSink([](TfrmMain::MessageKind, const QString &) {});
    if (!window->FormCreate())
        return nullptr;
    window->spnActivationDelay->setValue(0);
    window->show();
    return window;
}

} // namespace tarvo::test
