// Start-up with 1000 checked sounds against start-up with none checked (the
// same 1000 files in the sounds folder), measured in the same run: the main
// window's creation sequence, which reads the store and fills the sound
// list. Target: within 1.2x.

#include "app/fmMain.h"
#include "bench/BenchHome.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {

double StartMs(const bench::Home &home, const QString &work, bool checked, int round)
{
    QStringList names;
    for (int i = 0; i < 1000; ++i)
        names.append(QStringLiteral("alarm sound %1.wav").arg(i));
    bench::FreshStore(home.path() + QStringLiteral("/config-%1-%2").arg(checked).arg(round), [&] {
        QStringList none;
        ReadRegValueNames(StoreKeys::CheckedSounds, none);
        ReadRegValueNames(StoreKeys::ResetableSettings, none);
        WriteRegString(StoreKeys::Settings, StoreKeys::MsgThanx, StoreKeys::SwitchOn);
        if (checked)
            ReplaceRegKeyValues(StoreKeys::CheckedSounds, names, StoreKeys::SwitchOn);
    });

    QElapsedTimer timer;
    timer.start();
    TfrmMain window(work);
    window.setMessageSink([](TfrmMain::MessageKind, const QString &) {});
    if (!window.FormCreate())
        std::abort();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    const bench::Home home;
    QApplication app(argc, argv);
    const QString work = home.path() + QStringLiteral("/work/");
    QDir().mkpath(work + QStringLiteral("Sounds"));
    for (int i = 0; i < 1000; ++i) {
        QFile file(work + QStringLiteral("Sounds/alarm sound %1.wav").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
    }
    StartMs(home, work, false, -1); // warm-up: audio and Qt set-up of the first window
    std::vector<double> none, checked;
    for (int round = 0; round < 7; ++round) {
        none.push_back(StartMs(home, work, false, round));
        checked.push_back(StartMs(home, work, true, round));
    }
    const double a = bench::Median(none), b = bench::Median(checked);
    std::printf("main window creation, median of 7: 1000 checked sounds %.1f ms, none checked "
                "%.1f ms (%.2fx, target <= 1.2x)\n",
                b, a, a > 0 ? b / a : 0.0);
    return 0;
}
