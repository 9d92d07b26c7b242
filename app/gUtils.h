#pragma once
// Shell and path helpers of the main window.

#include <QString>

// True for a copy installed into a prefix: it sits in bin/ beside
// share/tarvo2/.
bool IsInstalledCopy(const QString &executablePath);

// The folder the program keeps its Sounds/ and Reports/ in, ending in exactly
// one '/': the executable's folder for a copy unpacked into a folder of its
// own; the per-user data folder ($XDG_DATA_HOME/Tarvo2/, mode 0700) for an
// installed copy or when the executable's folder is not writable. Sounds
// beside the executable are copied along into a data folder without sounds.
// When neither folder can be written, the executable's folder is kept, so
// its sounds are still read.
QString WorkingDirectoryFor(const QString &executablePath);

#include <QStringList>

struct MixerCommand
{
    QString program; // empty: none installed
    QStringList arguments;
};

// The desktop's own playback (recording = false) or recording volume
// control: the one of the desktop named in XDG_CURRENT_DESKTOP, else a
// common mixer on the PATH, else any installed application of the Mixer
// category.
MixerCommand FindSystemMixer(bool recording);

// Opens it without waiting; empty, or a sentence saying why nothing opened.
QString OpenSystemVolumeControl(bool recording);
