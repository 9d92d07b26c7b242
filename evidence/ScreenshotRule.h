#pragma once
// Which of the desktop's screenshot services may take the picture of the
// screen at an unattended desk, where nobody can answer a question. The
// screenshot portal asks the user unless it is known that it will not:
// - the portal (version 2 and later) checks its permission store (table and
//   id "screenshot") for the caller's app id and asks unless it holds "yes";
// - it leaves that check to the backend when the backend is older, and only
//   GNOME's backend is known to skip its own question once the portal has
//   checked; GNOME sessions use that backend.
// Where the portal would or might ask, GNOME Shell's own service is tried
// (it never asks; GNOME 41 and later refuse programs not on their list).
// Anything else: no picture, rather than a question on the desk.

#include "desktop/ScreenshotServices.h"

#include <QString>
#include <QStringList>

namespace ScreenshotRule {

enum class Way
{
    Portal,
    GnomeShell,
    None
};

struct Choice
{
    Way way = Way::None;
    QString why; // why the portal is not used; empty for the portal
};

// currentDesktop: XDG_CURRENT_DESKTOP ("ubuntu:GNOME"); appIds: every id the
// portal may file this program under (desktop::HostAppIds).
Choice Choose(const desktop::ScreenshotFacts &facts, const QString &currentDesktop,
              const QStringList &appIds);

// Whether the portal takes a picture for every id in appIds without asking.
bool PortalIsSilent(const desktop::ScreenshotFacts &facts, const QString &currentDesktop,
                    const QStringList &appIds, QString *why = nullptr);

} // namespace ScreenshotRule
