#pragma once
// The alarm sounds that come with the program: on the first start they are
// copied into an empty sounds folder and checked, so a fresh install can be
// armed at once. They are offered once only; a user who removes them does
// not get them back.

#include <QString>
#include <QStringList>

// Value under the version key that records that the sounds were offered.
inline const QString DefaultSoundsOfferedValue = QStringLiteral("DefaultSoundsOffered");

// The folder holding the program's own sounds, looked for relative to the
// executable: ../data/sounds (a build tree), ../share/tarvo2/sounds (an
// installed copy), then installedFolder (the install location compiled in).
// Empty when none of them holds a sound. The environment variable
// TARVO2_DEFAULT_SOUNDS, when set, replaces the search (empty: no sounds).
QString FindDefaultSoundsFolder(const QString &executablePath,
                                const QString &installedFolder = QString());

struct DefaultSoundsResult
{
    bool offered = false; // this start made the offer (now recorded in the store)
    QStringList copied;   // file names copied into the sounds folder
    QString error;        // why a copy failed, empty when none did
};

// Offers the default sounds once: when the store has no record of an
// earlier offer and soundsFolder holds no sound, copies every sound of
// sourceFolder into it and adds them to the checked sounds in the store.
// The offer is recorded whenever the folder was looked at (also when it
// already held sounds), so it is never repeated.
DefaultSoundsResult OfferDefaultSounds(const QString &soundsFolder, const QString &sourceFolder);
