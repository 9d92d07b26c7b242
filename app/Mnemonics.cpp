#include "app/Mnemonics.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QToolButton>
#include <algorithm>

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

QChar MnemonicOf(const QString &text)
{
    for (qsizetype i = text.indexOf(QLatin1Char('&')); i >= 0 && i + 1 < text.size();
         i = text.indexOf(QLatin1Char('&'), i + 2)) {
        if (text.at(i + 1) != QLatin1Char('&'))
            return text.at(i + 1).toLower();
    }
    return {};
}

void GiveWindowMnemonics(QWidget *window, QSet<QChar> reserved)
{
    QSet<QChar> taken = reserved;
    if (auto *main = qobject_cast<QMainWindow *>(window))
        taken.unite(MnemonicsTaken(main->menuBar()->actions()));
    // Captions that already hold a free letter keep it.
    QList<QWidget *> toGive;
    auto consider = [&](QWidget *widget, const QString &text) {
        const QChar letter = MnemonicOf(text);
        if (!letter.isNull() && !taken.contains(letter))
            taken.insert(letter);
        else
            toGive << widget;
    };
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    QList<QToolButton *> glyphButtons;
    for (QWidget *widget : widgets) {
        if (auto *label = qobject_cast<QLabel *>(widget); label && label->buddy())
            consider(label, label->text());
        else if (auto *tool = qobject_cast<QToolButton *>(widget); tool && tool->defaultAction())
            glyphButtons << tool;
        else if (auto *button = qobject_cast<QAbstractButton *>(widget);
                 button && !button->text().isEmpty())
            consider(button, button->text());
    }
    auto captionOf = [](QWidget *widget) {
        auto *label = qobject_cast<QLabel *>(widget);
        return label ? label->text() : qobject_cast<QAbstractButton *>(widget)->text();
    };
    // The shortest captions have the fewest letters to choose from.
    std::stable_sort(toGive.begin(), toGive.end(), [&](QWidget *a, QWidget *b) {
        return captionOf(a).size() < captionOf(b).size();
    });
    for (QWidget *widget : std::as_const(toGive)) {
        auto *label = qobject_cast<QLabel *>(widget);
        auto *button = qobject_cast<QAbstractButton *>(widget);
        QString caption = label ? label->text() : button->text();
        caption.remove(QRegularExpression(QStringLiteral("&(?!&)")));
        caption = WithMnemonic(caption, taken);
        label ? label->setText(caption) : button->setText(caption);
    }
    // A glyph button's caption comes from its action and is not shown, so
    // its letter is a shortcut of the action (Alt and the letter).
    for (QToolButton *tool : std::as_const(glyphButtons)) {
        QAction *action = tool->defaultAction();
        if (!action->shortcut().isEmpty())
            continue;
        QString name = action->iconText();
        if (name.isEmpty())
            name = !tool->accessibleName().isEmpty() ? tool->accessibleName() : tool->toolTip();
        if (name.isEmpty()) { // "ActMicDetectToggle": "Mic Detect"
            name = action->objectName().remove(QRegularExpression(QStringLiteral("^Act|Toggle$")));
            name.replace(QRegularExpression(QStringLiteral("([a-z])([A-Z])")),
                         QStringLiteral("\\1 \\2"));
        }
        QChar letter = MnemonicOf(WithMnemonic(name, taken));
        // Not shown anyway, so when the name's letters are all taken any
        // free one will do.
        for (char c = 'a'; letter.isNull() && c <= 'z'; ++c) {
            if (!taken.contains(QLatin1Char(c))) {
                letter = QLatin1Char(c);
                taken.insert(letter);
            }
        }
        if (letter.isNull())
            continue;
        action->setShortcut(QKeySequence(QStringLiteral("Alt+") + letter.toUpper()));
        action->setShortcutContext(Qt::WindowShortcut);
    }
}
