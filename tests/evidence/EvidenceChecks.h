#pragma once
// What the evidence tests share: a recorder that takes only the pictures a
// test chose, and a saved file's mode.

#include "evidence/EvidenceRecorder.h"

#include <QFile>
#include <sys/stat.h>

namespace tarvo::test {

inline EvidenceRecorder::Hooks PicturesChosen(bool photo, bool screen)
{
    EvidenceRecorder::Hooks hooks;
    hooks.settings = [photo, screen] {
        EvidenceSettings settings;
        settings.photo = photo;
        settings.screen = screen;
        return settings;
    };
    return hooks;
}

inline mode_t ModeOf(const QString &path)
{
    struct stat info
    {
    };
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

} // namespace tarvo::test
