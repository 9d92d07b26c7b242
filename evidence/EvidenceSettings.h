#pragma once
// Whether alarms take a photo, a picture of the screen and a sound clip, and
// how long they are kept; in the store under "\SoftWare\VEKOR\Tarvo2\S\evidence".
// All three are off until the owner turns them on; what they keep goes along
// with the alerts unless "Send" is off (kept on the machine only).

#include "evidence/EvidenceFolder.h"

#include <QString>

struct EvidenceSettings
{
    static constexpr int MaxKeepDays = 3650;
    static constexpr int MaxMB = 100000;

    bool photo = false;
    bool screen = false;
    bool sound = false; // a clip of the room with each alarm (SoundClipRecorder)
    bool send = true;   // pictures and sound go along with the alerts
    EvidenceFolder::Limits limits;

    static const QString KeyPath;
    // A missing or unreadable number takes its default; numbers are kept in range.
    static EvidenceSettings Load();
    // Throws RegistryError when the store cannot be written.
    void save() const;
};
