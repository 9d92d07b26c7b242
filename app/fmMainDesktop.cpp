// What a Linux desktop expects of the main window beyond its layout: text
// that stays readable under any colour scheme, names for screen readers,
// keyboard mnemonics in the menu bar, a visible focus on the glyph buttons,
// a Tab order that follows the screen and ends at Exit.

#include "app/FieldNames.h"
#include "app/LedShape.h"
#include "app/Mnemonics.h"
#include "app/ScreenFit.h"
#include "app/fmMain.h"
#include "desktop/FocusRing.h"
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
#include <QMenu>
#include <QPushButton>

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

// A button of the stated size grows, and a bar of a fixed height with it,
// when the desktop's font is larger than its caption was laid out for.
void FitCaptionsToFont(QWidget *area)
{
    for (QPushButton *button : area->findChildren<QPushButton *>()) {
        if (button->text().isEmpty())
            continue;
        const QFontMetrics metrics = button->fontMetrics();
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        const QString caption = QString(button->text()).remove(QLatin1Char('&'));
        const int width = metrics.horizontalAdvance(caption) + 2 * margin;
        const int height = metrics.height() + 6;
        if (button->minimumWidth() == button->maximumWidth() && button->width() < width)
            button->setFixedWidth(width);
        if (button->minimumHeight() == button->maximumHeight() && button->height() < height) {
            const int grown = height - button->height();
            button->setFixedHeight(height);
            QWidget *bar = button->parentWidget();
            if (bar && bar != area && bar->minimumHeight() == bar->maximumHeight())
                bar->setFixedHeight(bar->height() + grown);
        }
    }
}

} // namespace

void TfrmMain::applyDesktopLook()
{
    KeepTextReadable(this);
    fitIntoScreen();

    for (QWidget *control : std::initializer_list<QWidget *>{
             trkMicTriggerVolume, trkMicTriggerDuration, trkMouseSensivity, trkCamSensitivity, trkAlarmVolume,
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
        {shpLedCamDetection, "Camera detection"},     {shpLedUsbDetection, "USB detection"},
        {shpLedNetDetection, "Network detection"},
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

    // The menu titles; their items get theirs in applyKeyboardUse().
    QSet<QChar> titles = MnemonicsTaken(menuBar()->actions());
    for (QAction *menuAction : menuBar()->actions()) {
        if (menuAction->menu() &&
            menuAction->menu()->objectName().startsWith(QStringLiteral("mnu")))
            menuAction->setText(WithMnemonic(menuAction->text(), titles));
    }
    applyKeyboardUse();
    FitCaptionsToFont(centralWidget());
    GiveWindowMnemonics(this);
    NameFieldsAfterLabels(this);
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

void TfrmMain::applyKeyboardUse()
{
    for (QAbstractButton *button : centralWidget()->findChildren<QAbstractButton *>()) {
        if (qobject_cast<QToolButton *>(button) || qobject_cast<QPushButton *>(button))
            AddFocusRing(button);
    }

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
