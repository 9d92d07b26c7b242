#pragma once
// Shell and path helpers of the main window.

#include <QString>

// The folder the program keeps its Sounds/ and Reports/ in, ending in exactly
// one '/': the executable's folder, or the per-user data folder
// ($XDG_DATA_HOME/Tarvo2/) when the executable's folder is not writable.
QString WorkingDirectoryFor(const QString &executablePath);

// Opens the desktop's playback (recording = false) or recording volume
// control, when one is installed; otherwise does nothing.
void OpenSystemVolumeControl(bool recording);
