// What a Linux desktop expects of the main window beyond its layout: text
// that stays readable under any colour scheme, names for screen readers,
// keyboard mnemonics in the menu bar.

#include "app/LedShape.h"
#include "app/ScreenFit.h"
#include "app/fmMain.h"
#include "info/ReadableText.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

namespace {

QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
}

// A setting row holds its caption as its first label.
QString rowCaption(const QWidget *control)
{
    const QWidget *row = control->parentWidget();
    if (!row)
        return QString();
    for (const QLabel *label : row->findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
        if (!label->text().isEmpty())
            return oneLine(label->text());
    }
    return QString();
}

// "&" before the first letter of a word (else any letter) not yet taken.
QString withMnemonic(const QString &caption, QSet<QChar> &taken)
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
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if ((i == 0 || caption.at(i - 1).isSpace()) && tryAt(i))
            return QString(caption).insert(i, QLatin1Char('&'));
    }
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (tryAt(i))
            return QString(caption).insert(i, QLatin1Char('&'));
    }
    return caption;
}

} // namespace

void TfrmMain::applyDesktopLook()
{
    KeepTextReadable(this);
    fitIntoScreen();

    for (QWidget *control : std::initializer_list<QWidget *>{
             trkMicTriggerVolume, trkMicTriggerDuration, trkMouseSensivity, trkAlarmVolume,
             trkGlobalAlteration, trkRandomAlteration, trkPersistence, trkPersistenceRandom,
             trkMicSensivity, spnTriggerDelay, spnActivationDelay, spnSimulateEvery,
             spnSimulateRandom}) {
        control->setAccessibleName(rowCaption(control));
    }
    ggDetection->setAccessibleName(rowCaption(ggDetection) + QStringLiteral(" level"));
    ggDuration->setAccessibleName(rowCaption(ggDuration) + QStringLiteral(" level"));
    if (auto *caption = findChild<QLabel *>(QStringLiteral("lblAlarmSounds")))
        chklbSounds->setAccessibleName(caption->text());
    cmbRecSource->setAccessibleName(QStringLiteral("Recording source"));

    const std::pair<LedShape *, const char *> leds[] = {
        {shpLedMicDetection, "Microphone detection"}, {shpLedMouDetection, "Mouse detection"},
        {shpLedKeyDetection, "Keyboard detection"},   {shpLedTriggerDelay, "Trigger delay"},
        {shpLedActivationDelay, "Activation delay"},  {shpLedSimulation, "Alarm simulation"},
    };
    for (const auto &[led, name] : leds)
        led->setAccessibleName(QString::fromLatin1(name) + QStringLiteral(" LED"));

    // Buttons showing only a glyph are named after their action or hint.
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        if (!button->accessibleName().isEmpty() || !button->text().isEmpty())
            continue;
        if (auto *tool = qobject_cast<QToolButton *>(button); tool && tool->defaultAction())
            button->setAccessibleName(tool->defaultAction()->iconText());
        else
            button->setAccessibleName(button->toolTip());
    }

    // The menu bar's own items; items other parts add pick their own
    // mnemonics, and the letters they took are left to them.
    static const QStringList ownItems = {QStringLiteral("mnuResetSettingToDefault"),
                                         QStringLiteral("Exit2"),
                                         QStringLiteral("Programhelp1"),
                                         QStringLiteral("FAQ1"),
                                         QStringLiteral("Homepage1"),
                                         QStringLiteral("Checkforupdate1"),
                                         QStringLiteral("About2"),
                                         QStringLiteral("MoreVEKORproducts1")};
    auto takenIn = [](const QList<QAction *> &actions) {
        QSet<QChar> taken;
        for (const QAction *action : actions) {
            const QString text = action->text();
            const qsizetype amp = text.indexOf(QLatin1Char('&'));
            if (amp >= 0 && amp + 1 < text.size())
                taken.insert(text.at(amp + 1).toLower());
        }
        return taken;
    };
    QSet<QChar> titles = takenIn(menuBar()->actions());
    for (QAction *menuAction : menuBar()->actions()) {
        QMenu *menu = menuAction->menu();
        if (!menu || !menu->objectName().startsWith(QStringLiteral("mnu")))
            continue;
        menuAction->setText(withMnemonic(menuAction->text(), titles));
        QSet<QChar> items = takenIn(menu->actions());
        for (QAction *item : menu->actions()) {
            if (ownItems.contains(item->objectName()))
                item->setText(withMnemonic(item->text(), items));
        }
    }
}

void TfrmMain::fitIntoScreen()
{
    QScreen *screen = this->screen();
    if (!screen || qobject_cast<QScrollArea *>(centralWidget()))
        return;
    const QSize full = size();
    const QSize fitted = FittedWindowSize(full, screen->availableGeometry().size(), AssumedFrame);
    if (fitted == full)
        return; // the stated layout, unchanged
    // The content keeps its size and scrolls; the window takes what fits,
    // with room for the scroll bars.
    QWidget *content = takeCentralWidget();
    auto *scroller = new QScrollArea;
    scroller->setObjectName(QStringLiteral("scrContent"));
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidget(content);
    setCentralWidget(scroller);
    const int bar = scroller->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    QSize window = fitted;
    if (fitted.height() < full.height())
        window.rwidth() += bar; // the vertical bar must not hide content
    if (fitted.width() < full.width())
        window.rheight() += bar;
    window = FittedWindowSize(window, screen->availableGeometry().size(), AssumedFrame);
    setFixedSize(window);
}
