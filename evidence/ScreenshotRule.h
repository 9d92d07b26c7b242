#pragma once
// Which of the desktop's screenshot services may take the picture of the
// screen at an unattended desk, where nobody can answer a question. The
// screenshot portal asks the user unless it is known that it will not:
// - the portal checks its permission store (table and id "screenshot") for
//   the caller's app id and asks unless it holds "yes", but only when its
//   backend is of version 2 or later; an older backend decides by itself;
// - GNOME's backend (version 2 since GNOME 45, built against a portal that
//   makes that check) takes the picture without its own question once the
//   portal has checked; GNOME sessions use that backend. Other backends are
//   not known to, so they are not used.
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
