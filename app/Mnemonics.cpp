#include "app/Mnemonics.h"

#include <QAction>
#include <QEvent>
#include <QMenu>

namespace {

// Watches one menu and gives each item added to it a mnemonic.
class MenuMnemonicKeeper : public QObject
{
public:
    MenuMnemonicKeeper(QMenu *menu, QHash<QString, QString> preferredWords)
        : QObject(menu), m_menu(menu), m_preferredWords(std::move(preferredWords))
    {
        menu->installEventFilter(this);
        apply();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_menu && event->type() == QEvent::ActionAdded)
            apply();
        return false;
    }

private:
    void apply()
    {
        const QList<QAction *> items = m_menu->actions();
        QSet<QChar> taken = MnemonicsTaken(items);
        for (QAction *item : items) {
            if (item->isSeparator() || item->text().contains(QLatin1Char('&')))
                continue;
            item->setText(
                WithMnemonic(item->text(), taken, m_preferredWords.value(item->objectName())));
        }
    }

    QMenu *m_menu;
    QHash<QString, QString> m_preferredWords;
};

} // namespace

QString WithMnemonic(const QString &caption, QSet<QChar> &taken, const QString &preferredWord)
{
    if (caption.contains(QLatin1Char('&')))
        return caption;
    auto tryAt = [&](qsizetype i) {
        const QChar c = caption.at(i).toLower();
        if (!caption.at(i).isLetterOrNumber() || taken.contains(c))
            return false;
        taken.insert(c);
        return true;
    };
    auto wordStart = [&](qsizetype i) { return i == 0 || caption.at(i - 1).isSpace(); };
    if (!preferredWord.isEmpty()) {
        for (qsizetype i = caption.indexOf(preferredWord); i >= 0;
             i = caption.indexOf(preferredWord, i + 1)) {
            if (wordStart(i) && tryAt(i))
                return QString(caption).insert(i, QLatin1Char('&'));
        }
    }
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (wordStart(i) && tryAt(i))
            return QString(caption).insert(i, QLatin1Char('&'));
    }
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (tryAt(i))
            return QString(caption).insert(i, QLatin1Char('&'));
    }
    return caption;
}

QSet<QChar> MnemonicsTaken(const QList<QAction *> &actions)
{
    QSet<QChar> taken;
    for (const QAction *action : actions) {
        const QString text = action->text();
        const qsizetype amp = text.indexOf(QLatin1Char('&'));
        if (amp >= 0 && amp + 1 < text.size())
            taken.insert(text.at(amp + 1).toLower());
    }
    return taken;
}

void KeepMenuMnemonics(QMenu *menu, const QHash<QString, QString> &preferredWords)
{
    new MenuMnemonicKeeper(menu, preferredWords);
}
