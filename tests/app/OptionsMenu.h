#pragma once
// The Options menu's entries of a main window, to check where a new one sits.

#include "app/fmMain.h"

#include <QMenu>
#include <QMenuBar>

namespace tarvo::test {

// The text of the entry named name when it stands above the menu's last
// group (the separator "N5"), without its mnemonic marker; empty when it is
// missing or below it.
inline QString OptionsEntryAboveLastGroup(TfrmMain &window, const QString &name)
{
    auto *options = window.menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"));
    if (!options)
        return {};
    QStringList names;
    for (QAction *action : options->actions())
        names << action->objectName();
    const qsizetype at = names.indexOf(name);
    if (at < 0 || at >= names.indexOf(QStringLiteral("N5")))
        return {};
    return options->actions().at(at)->text().remove(QLatin1Char('&'));
}

} // namespace tarvo::test
