// FillSounds over a sounds folder of 1000 files, half of them checked: the
// time of a full refill (folder scan, sorted list, check marks, rewrite of
// the stored check marks). Runs headless in a temporary home; target 50 ms.

#include "bench/BenchHome.h"
#include "sounds/SoundLibrary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    const bench::Home home;
    QApplication app(argc, argv);

    const QString work = home.path() + QStringLiteral("/work/");
    const QString sounds = work + QStringLiteral("Sounds/");
    QDir().mkpath(sounds);
    QStringList checked;
    for (int i = 0; i < MaxSounds; ++i) {
        const QString name = i % 3 == 0 ? QStringLiteral("Alarm sound %1.MP3").arg(i)
                                        : QStringLiteral("alarm sound %1.wav").arg(i);
        QFile file(sounds + name);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        if (i % 2 == 0)
            checked.append(name.toLower());
    }

    SoundListWidget list;
    QStringList checkedSounds = checked;
    SoundLibrary library(&list, checkedSounds, work, {});

    constexpr int Runs = 20;
    std::vector<double> times;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        library.FillSounds(QStringLiteral("alarm sound 500.wav"));
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (library.count() != MaxSounds || checkedSounds.size() != checked.size()) {
            std::fprintf(stderr, "unexpected result: %d entries, %lld checked\n", library.count(),
                         static_cast<long long>(checkedSounds.size()));
            return 1;
        }
    }
    std::sort(times.begin(), times.end());

    // The parts: the folder scan alone and the rewrite of the stored marks alone.
    QElapsedTimer part;
    part.start();
    for (int run = 0; run < Runs; ++run)
        ScanSoundsFolder(sounds);
    const double scan = part.nsecsElapsed() / 1e6 / Runs;
    part.restart();
    for (int run = 0; run < Runs; ++run)
        library.RecreateSoundList();
    const double store = part.nsecsElapsed() / 1e6 / Runs;

    std::printf("FillSounds, %d files, %lld checked: median %.1f ms, min %.1f ms, max %.1f ms "
                "(%d runs, target < 50 ms); of it the scan %.1f ms, the store rewrite %.1f ms\n",
                MaxSounds, static_cast<long long>(checked.size()), times[Runs / 2], times.front(),
                times.back(), Runs, scan, store);
    return 0;
}
