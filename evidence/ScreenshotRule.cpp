#include "evidence/ScreenshotRule.h"

namespace ScreenshotRule {

namespace {
// The portal's version that takes "interactive", and the backend's version
// for which the portal checks the permission store and the backend leaves
// the question to that check.
constexpr uint InteractiveOption = 2, CheckingBackend = 2;

bool IsGnome(const QString &currentDesktop)
{
    const QStringList names = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return names.contains(QStringLiteral("GNOME"), Qt::CaseInsensitive);
}
} // namespace

bool PortalIsSilent(const desktop::ScreenshotFacts &facts, const QString &currentDesktop,
                    const QStringList &appIds, QString *why)
{
    QString reason;
    if (facts.portalVersion == 0)
        reason = QStringLiteral("no screenshot portal");
    else if (facts.portalVersion < InteractiveOption)
        reason = QStringLiteral("the screenshot portal cannot be told not to interact");
    else if (!IsGnome(currentDesktop) || facts.gnomeBackendVersion < CheckingBackend)
        reason = QStringLiteral("the portal's backend may ask for every picture");
    else if (!facts.permissionsRead)
        reason = QStringLiteral("the portal's permission store did not answer");
    else if (appIds.isEmpty())
        reason = QStringLiteral("the portal's app id of this program is not known");
    for (const QString &id : appIds) {
        if (!reason.isEmpty())
            break;
        if (facts.permissions.value(id).value(0) != QLatin1String("yes"))
            reason = QStringLiteral("screenshots are not allowed for app id \"%1\": the portal "
                                    "would ask")
                         .arg(id);
    }
    if (why)
        *why = reason;
    return reason.isEmpty();
}

Choice Choose(const desktop::ScreenshotFacts &facts, const QString &currentDesktop,
              const QStringList &appIds)
{
    Choice choice;
    if (PortalIsSilent(facts, currentDesktop, appIds, &choice.why))
        choice.way = Way::Portal;
    else if (facts.gnomeShell)
        choice.way = Way::GnomeShell;
    return choice;
}

} // namespace ScreenshotRule
