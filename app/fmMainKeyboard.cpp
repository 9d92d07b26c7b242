// The main window from the keyboard: a visible focus on the glyph buttons,
// a Tab order that follows the screen and ends at Exit, and mnemonics on
// every menu item, also on those added after the window was built.

#include "app/FocusRing.h"
#include "app/Mnemonics.h"
#include "app/fmMain.h"

#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>

void TfrmMain::applyKeyboardUse()
{
    for (QToolButton *button : centralWidget()->findChildren<QToolButton *>())
        AddFocusRing(button);

    // The keyboard button joined the top bar last: it sits first on the
    // screen but behind Exit in the (circular) Tab order. Starting there
    // makes Tab follow the screen from the first button to Exit.
    btnKeyDetect->setFocus(Qt::OtherFocusReason);
    // Exit is a stop of its own like every button, whatever the platform's
    // habit for push buttons.
    btnExit->setFocusPolicy(Qt::StrongFocus);
    btnExit->setAutoDefault(false);

    // The switches' mnemonic is the letter of what they watch.
    const QHash<QString, QString> preferred = {
        {QStringLiteral("ActLidToggle"), QStringLiteral("lid")},
        {QStringLiteral("ActPowerToggle"), QStringLiteral("power")}};
    for (QAction *menuAction : menuBar()->actions()) {
        if (QMenu *menu = menuAction->menu();
            menu && menu->objectName().startsWith(QStringLiteral("mnu")))
            KeepMenuMnemonics(menu, preferred);
    }
}
