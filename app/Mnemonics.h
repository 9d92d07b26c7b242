#pragma once
// Keyboard mnemonics ("&" before a letter) for menu items, chosen so that no
// two items of one menu share a letter, and kept for items added later.

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

class QAction;
class QMenu;
class QWidget;

// caption with "&" before the first letter of preferredWord, else of a
// word, else any letter, that is not yet taken (which it then takes). A
// caption that has a mnemonic already is returned as it is.
QString WithMnemonic(const QString &caption, QSet<QChar> &taken,
                     const QString &preferredWord = QString());

// The mnemonic letters (lower case) the actions' texts hold.
QSet<QChar> MnemonicsTaken(const QList<QAction *> &actions);

// Gives every item of menu without a mnemonic one, now and whenever an item
// is added; preferredWords maps an item's object name to the word whose
// first letter it should take.
void KeepMenuMnemonics(QMenu *menu, const QHash<QString, QString> &preferredWords = {});

// The letter after the "&" of text (lower case), or a null QChar.
QChar MnemonicOf(const QString &text);

// Gives every button with a caption and every label that leads to a field
// in window a mnemonic no other one of them has, and every glyph button
// without a shortcut Alt and a letter of its name. Existing mnemonics stay
// unless taken already; reserved holds letters kept free (the menu bar's
// are kept free too).
void GiveWindowMnemonics(QWidget *window, QSet<QChar> reserved = {});
