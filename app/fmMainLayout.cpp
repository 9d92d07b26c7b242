// The main window's controls, menus and layout: built once, in the order
// the window shows them.

#include "app/fmMain.h"

#include "app/ClampSpinBox.h"
#include "app/Glyphs.h"
#include "app/LedShape.h"
#include "app/RoomLevelWarning.h"
#include "desktop/DesktopFont.h"
#include "detect/InputGain.h"
#include "info/Links.h"
#include "info/fmAbout.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QColor BarColor(0, 95, 140);
const QColor PanelColor(125, 154, 189);
const QColor LightPanelColor(173, 191, 214);
const QColor CaptionColor(249, 253, 255);

// The stated sizes, for the 9 pt font; a larger desktop font widens the
// columns with it and the window grows to what its rows then need.
constexpr int ClientHeight = 594;
constexpr int StatedColumnWidth = 260;
constexpr int HintMilliseconds = 3000;
constexpr qreal SmallPoints = 7.5;

int columnWidth()
{
    return GrownWithFont(StatedColumnWidth);
}

QFrame *colouredPanel(const char *name, const QColor &colour, QWidget *parent = nullptr)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, colour);
    panel->setPalette(palette);
    panel->setFrameShape(QFrame::NoFrame);
    return panel;
}

QLabel *smallLabel(const QString &text, QWidget *parent = nullptr)
{
    auto *label = new QLabel(text, parent);
    label->setFont(DesktopFontOf(SmallPoints));
    return label;
}

QToolButton *glyphButton(const char *name, QAction *action, int size, int iconSize)
{
    auto *button = new QToolButton;
    button->setObjectName(QString::fromLatin1(name));
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setFixedSize(size, size);
    button->setIconSize(QSize(iconSize, iconSize));
    button->setToolTipDuration(HintMilliseconds);
    return button;
}

} // namespace

// ---------------------------------------------------------------- building

void TfrmMain::buildActions()
{
    auto make = [this](const char *name, const QString &hint) {
        auto *action = new QAction(this);
        action->setObjectName(QString::fromLatin1(name));
        action->setText(hint);
        action->setToolTip(hint);
        return action;
    };
    ActActivateToggle = make("ActActivateToggle", QString());
    ActMicDetectToggle = make("ActMicDetectToggle", QString());
    ActMouDetectToggle = make("ActMouDetectToggle", QString());
    ActSimToggle = make("ActSimToggle", QString());
    ActViewReport = make("ActViewReport", QStringLiteral("View Report"));
    ActAddSound = make("ActAddSound", QStringLiteral("Add Sound"));
    ActRemoveSound = make("ActRemoveSound", QStringLiteral("Remove Sound"));
    ActChkLbAlarmSndChecktAll = make("ActChkLbAlarmSndChecktAll", QStringLiteral("Check All"));
    ActChkLbAlarmSndUnCheckAll = make("ActChkLbAlarmSndUnCheckAll", QStringLiteral("UnCheck All"));
    ActChkLbAlarmSndCheckInverse =
        make("ActChkLbAlarmSndCheckInverse", QStringLiteral("Check Inverse"));
}

void TfrmMain::buildMenus()
{
    QMenu *options = menuBar()->addMenu(QStringLiteral("Options"));
    options->setObjectName(QStringLiteral("mnuOptions"));
    mnuResetSettingToDefault = options->addAction(QStringLiteral("Reset Settings to Default"));
    mnuResetSettingToDefault->setObjectName(QStringLiteral("mnuResetSettingToDefault"));
    options->addSeparator()->setObjectName(QStringLiteral("N5"));
    Exit2 = options->addAction(QStringLiteral("Exit"));
    Exit2->setObjectName(QStringLiteral("Exit2"));
    connect(mnuResetSettingToDefault, &QAction::triggered, this,
            &TfrmMain::mnuResetSettingToDefaultClick);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    auto link = [this](QMenu *menu, const char *name, const QString &caption,
                       std::function<QString()> url) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [url] { OpenWebPage(url()); });
        return action;
    };
    link(help, "Programhelp1", QStringLiteral("Program Help"),
         [] { return ProductPageUrl(QStringLiteral("#help")); });
    link(help, "FAQ1", QStringLiteral("FAQ"),
         [] { return ProductPageUrl(QStringLiteral("#faq")); });
    help->addSeparator()->setObjectName(QStringLiteral("N13"));
    link(help, "Homepage1", QStringLiteral("Home Page"), [] { return ProductPageUrl(QString()); });
    link(help, "Checkforupdate1", QStringLiteral("Check for Update"),
         [] { return ProductPageUrl(QString()); });
    help->addSeparator()->setObjectName(QStringLiteral("N14"));
    QAction *about = help->addAction(QStringLiteral("About..."));
    about->setObjectName(QStringLiteral("About2"));
    connect(about, &QAction::triggered, this, [this] { ShowAboutWindow(this); });

    QMenu *more = menuBar()->addMenu(QStringLiteral("More"));
    more->setObjectName(QStringLiteral("mnuMore"));
    link(more, "MoreVEKORproducts1", QStringLiteral("Other Vekor Products"),
         [] { return ProductsPageUrl(); });
}

void TfrmMain::buildLayout()
{
    auto *client = new QWidget;
    client->setObjectName(QStringLiteral("clientArea"));
    client->setAutoFillBackground(true);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, Qt::white);
    client->setPalette(palette);

    auto *layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildTopBar());
    layout->addWidget(buildInstructionStrip());

    auto *columns = new QHBoxLayout;
    columns->setContentsMargins(6, 4, 6, 4);
    columns->setSpacing(5);
    columns->addWidget(buildLeftColumn());
    columns->addWidget(buildRightColumn());
    layout->addLayout(columns, 1);

    QFrame *bottom = colouredPanel("pnlBottom", BarColor);
    auto *bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(4, 1, 4, 1);
    bottomLayout->addStretch(1);
    btnExit = new QPushButton(QStringLiteral("Exit"));
    btnExit->setObjectName(QStringLiteral("btnExit"));
    const int exitHeight = ButtonSizeForCaption(btnExit, QSize(0, 22)).height();
    btnExit->setFixedHeight(exitHeight);
    bottom->setFixedHeight(exitHeight + 3);
    bottomLayout->addWidget(btnExit);
    layout->addWidget(bottom);

    // Recording inputs: kept for the microphone monitor, never shown.
    cmbRecSource = new QComboBox(client);
    cmbRecSource->setObjectName(QStringLiteral("cmbRecSource"));
    cmbRecSource->hide();

    setCentralWidget(client);
    setWindowTitle(QStringLiteral("Tarvo2"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    // Two columns and their margins wide; as tall as stated or as the rows need.
    client->setFixedSize(2 * columnWidth() + 17,
                         std::max(ClientHeight, layout->minimumSize().height()));
    setFixedSize(client->width(), client->height() + menuBar()->sizeHint().height());
}

QWidget *TfrmMain::buildTopBar()
{
    QFrame *bar = colouredPanel("pnlTop", BarColor);
    bar->setFixedHeight(46);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 2, 6, 2);
    row->setSpacing(2);

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(BannerPixmap(MainBannerSize));
    Image1->setCursor(Qt::PointingHandCursor);
    row->addWidget(Image1);
    row->addStretch(1);

    btnMicDetect = glyphButton("btnMicDetect", ActMicDetectToggle, 42, 40);
    btnMouDetect = glyphButton("btnMouDetect", ActMouDetectToggle, 42, 40);
    btnSimulation = glyphButton("btnSimulation", ActSimToggle, 42, 40);
    btnActivate = glyphButton("btnActivate", ActActivateToggle, 42, 40);
    btnReport = glyphButton("btnReport", ActViewReport, 42, 40);
    ActViewReport->setIcon(IconFromGlyphPair(ReportGlyphPair()));
    row->addWidget(btnMicDetect);
    row->addWidget(btnMouDetect);
    row->addWidget(btnSimulation);
    row->addSpacing(24);
    row->addWidget(btnActivate);
    row->addWidget(btnReport);
    return bar;
}

QWidget *TfrmMain::buildInstructionStrip()
{
    QFrame *strip = colouredPanel("Panel12", Qt::white);
    auto *layout = new QHBoxLayout(strip);
    layout->setContentsMargins(8, 3, 8, 3);
    QLabel *text = smallLabel(
        QStringLiteral("Set the Microphone as  Recording device by selecting Microphone\n"
                       "in Recording control.  If your system allows  Microphone Advanced\n"
                       "settings, you can boost the Microphone to achieve better sensivity.\n"
                       "Reduce feedback by muting the Microphone in the Volume Control."));
    text->setObjectName(QStringLiteral("lblInstructions"));
    layout->addWidget(text, 1);

    auto *buttons = new QVBoxLayout;
    buttons->setSpacing(3);
    btnSysVolumeControl = new QPushButton(QStringLiteral("System Volume Control"));
    btnSysVolumeControl->setObjectName(QStringLiteral("btnSysVolumeControl"));
    btnSysRecordingControl = new QPushButton(QStringLiteral("System Recording Control"));
    btnSysRecordingControl->setObjectName(QStringLiteral("btnSysRecordingControl"));
    for (QPushButton *button : {btnSysVolumeControl, btnSysRecordingControl}) {
        button->setFont(DesktopFontOf(SmallPoints));
        button->setFixedSize(ButtonSizeForCaption(button, QSize(150, 22)));
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    return strip;
}

QSlider *TfrmMain::makeSlider(const char *name, int min, int max, int value, int tick)
{
    auto *slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(QString::fromLatin1(name));
    slider->setRange(min, max);
    slider->setValue(value);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(tick);
    slider->setPageStep(tick);
    slider->setToolTipDuration(HintMilliseconds);
    return slider;
}

QSpinBox *TfrmMain::makeSpin(const char *name, int min, int max, int value)
{
    auto *spin = new ClampSpinBox; // typed values are brought into range
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(min, max);
    spin->setValue(value);
    spin->setAlignment(Qt::AlignCenter);
    spin->setFixedWidth(GrownWithFont(70));
    return spin;
}

QWidget *TfrmMain::sliderRow(const QString &label, QSlider *slider, const QString &left,
                             const QString &right, const QString &middle, QProgressBar *gauge)
{
    auto *row = new QWidget;
    auto *grid = new QGridLayout(row);
    grid->setContentsMargins(4, 1, 16, 1);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(0);
    QLabel *caption = smallLabel(label);
    caption->setFixedWidth(GrownWithFont(100));
    grid->addWidget(caption, 0, 0, 2, 1, Qt::AlignVCenter);
    grid->addWidget(slider, 0, 1, 1, 3);
    if (gauge) {
        grid->addWidget(gauge, 1, 1, 1, 3);
    } else if (!left.isEmpty() || !right.isEmpty()) {
        grid->addWidget(smallLabel(left), 1, 1, Qt::AlignLeft);
        if (!middle.isEmpty())
            grid->addWidget(smallLabel(middle), 1, 2, Qt::AlignHCenter);
        grid->addWidget(smallLabel(right), 1, 3, Qt::AlignRight);
    }
    return row;
}

QWidget *TfrmMain::spinRow(const QString &label, QSpinBox *spin)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 1, 16, 1);
    QLabel *caption = smallLabel(label);
    caption->setFixedWidth(GrownWithFont(130));
    layout->addWidget(caption);
    layout->addWidget(spin);
    layout->addStretch(1);
    return row;
}

namespace {

// A setting panel: its rows stacked, the LED (if any) at its right edge.
QFrame *settingPanel(const char *name, const QColor &colour, const QList<QWidget *> &rows,
                     LedShape *led = nullptr)
{
    QFrame *panel = colouredPanel(name, colour);
    panel->setFixedWidth(columnWidth());
    // Panels share the column's height, so both columns end together.
    panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 3, 0, 3);
    layout->setSpacing(1);
    for (QWidget *row : rows)
        layout->addWidget(row);
    if (led) {
        led->setParent(panel);
        led->move(columnWidth() - 14, 5);
        led->raise();
    }
    return panel;
}

QProgressBar *makeGauge(const char *name)
{
    auto *gauge = new QProgressBar;
    gauge->setObjectName(QString::fromLatin1(name));
    gauge->setRange(0, 100);
    gauge->setValue(0);
    gauge->setTextVisible(false);
    gauge->setFixedHeight(8);
    gauge->setStyleSheet(QStringLiteral("QProgressBar { background: rgb(125,154,189); border: 1px "
                                        "solid rgb(90,110,140); }"
                                        "QProgressBar::chunk { background: rgb(255,0,0); }"));
    return gauge;
}

} // namespace

QWidget *TfrmMain::buildLeftColumn()
{
    trkMicTriggerVolume = makeSlider("trkMicTriggerVolume", 0, 100, 50, 5);
    trkMicTriggerDuration = makeSlider("trkMicTriggerDuration", 0, 100, 50, 5);
    trkMouseSensivity = makeSlider("trkMouseSensivity", 0, 100, 50, 5);
    trkCamSensitivity = makeSlider("trkCamSensitivity", 0, 100, 50, 5);
    ggDetection = makeGauge("ggDetection");
    ggDuration = makeGauge("ggDuration");
    shpLedMicDetection = new LedShape(QStringLiteral("shpLedMicDetection"));
    shpLedMouDetection = new LedShape(QStringLiteral("shpLedMouDetection"));
    shpLedTriggerDelay = new LedShape(QStringLiteral("shpLedTriggerDelay"));
    shpLedActivationDelay = new LedShape(QStringLiteral("shpLedActivationDelay"));
    shpLedSimulation = new LedShape(QStringLiteral("shpLedSimulation"));
    spnTriggerDelay = makeSpin("spnTriggerDelay", 0, 180, 0);
    spnActivationDelay = makeSpin("spnActivationDelay", 0, 180, 10);
    spnSimulateEvery = makeSpin("spnSimulateEvery", 5, 1440, 5);
    spnSimulateRandom = makeSpin("spnSimulateRandom", 0, 1440, 0);

    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(
        settingPanel("Panel2", LightPanelColor,
                     {sliderRow(QStringLiteral("Microphone Trigger\nVolume Detection"),
                                trkMicTriggerVolume, {}, {}, {}, ggDetection),
                      sliderRow(QStringLiteral("Microphone Trigger\nLength Detection"),
                                trkMicTriggerDuration, {}, {}, {}, ggDuration)},
                     shpLedMicDetection));
    layout->addWidget(
        settingPanel("Panel16", PanelColor,
                     {sliderRow(QStringLiteral("Mouse Trigger\nSensivity"), trkMouseSensivity,
                                QStringLiteral("min"), QStringLiteral("max")),
                      sliderRow(QStringLiteral("Camera\nSensitivity"), trkCamSensitivity,
                                QStringLiteral("min"), QStringLiteral("max"))},
                     shpLedMouDetection));
    layout->addWidget(
        settingPanel("Panel7", PanelColor,
                     {spinRow(QStringLiteral("Trigger Delay\n(seconds)"), spnTriggerDelay)},
                     shpLedTriggerDelay));
    layout->addWidget(
        settingPanel("Panel14", PanelColor,
                     {spinRow(QStringLiteral("Activation Delay\n(seconds)"), spnActivationDelay)},
                     shpLedActivationDelay));
    layout->addWidget(settingPanel(
        "Panel18", PanelColor,
        {spinRow(QStringLiteral("Alarm Simulation\n(every X minutes)"), spnSimulateEvery),
         spinRow(QStringLiteral("Alarm Simulation\n+ Random Time"), spnSimulateRandom)},
        shpLedSimulation));

    // Speakers test, with the hidden per-speaker buttons the speaker check disables.
    QFrame *speakers = colouredPanel("pnlSpeakersTest", PanelColor);
    speakers->setFixedWidth(columnWidth());
    speakers->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto *speakerLayout = new QHBoxLayout(speakers);
    speakerLayout->setContentsMargins(6, 3, 6, 3);
    speakerLayout->addWidget(smallLabel(QStringLiteral("Speakers Test")));
    auto button = [](const char *name, const QString &caption, const QString &hint) {
        auto *b = new QPushButton(caption);
        b->setObjectName(QString::fromLatin1(name));
        b->setFixedSize(ButtonSizeForCaption(b, QSize(caption.size() > 1 ? 40 : 26, 22)));
        if (!hint.isEmpty()) {
            b->setToolTip(hint);
            b->setToolTipDuration(HintMilliseconds);
        }
        return b;
    };
    btnFrontLeft = button("btnFrontLeft", QStringLiteral("L"), QStringLiteral("Left Speaker"));
    btnFrontCenter =
        button("btnFrontCenter", QStringLiteral("C"), QStringLiteral("Center/Both Speakers"));
    btnFrontRight = button("btnFrontRight", QStringLiteral("R"), QStringLiteral("Right Speaker"));
    btnTestStop = button("btnTestStop", QStringLiteral("Stop"), QString());
    Button3 = button("Button3", QStringLiteral("3"), QString());
    Button4 = button("Button4", QStringLiteral("4"), QString());
    Button5 = button("Button5", QStringLiteral("5"), QString());
    Button6 = button("Button6", QStringLiteral("6"), QString());
    Button8 = button("Button8", QStringLiteral("sub"), QString());
    for (QPushButton *b : {btnFrontLeft, btnFrontCenter, btnFrontRight, btnTestStop})
        speakerLayout->addWidget(b);
    for (QPushButton *b : {Button3, Button4, Button5, Button6, Button8}) {
        b->setParent(speakers);
        b->hide();
    }
    layout->addWidget(speakers);

    // The input level (a gain on the recording), not shown on the window:
    // made at the position where the samples pass unchanged.
    trkMicSensivity = makeSlider("trkMicSensivity", 0, 100, InputGain::UnityPosition, 5);
    Panel1 = settingPanel("Panel1", PanelColor,
                          {sliderRow(QStringLiteral("Alarm Microphone\nSensivity"), trkMicSensivity,
                                     QStringLiteral("none"), QStringLiteral("max"))});
    Panel1->setParent(column);
    Panel1->hide();
    return column;
}

QWidget *TfrmMain::buildRightColumn()
{
    trkAlarmVolume = makeSlider("trkAlarmVolume", 0, 100, 50, 5);
    trkGlobalAlteration = makeSlider("trkGlobalAlteration", -100, 100, 0, 10);
    trkRandomAlteration = makeSlider("trkRandomAlteration", 0, 100, 50, 5);
    trkPersistence = makeSlider("trkPersistence", 0, 100, 50, 5);
    trkPersistenceRandom = makeSlider("trkPersistenceRandom", 0, 100, 50, 5);

    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(settingPanel("Panel13", LightPanelColor,
                                   {sliderRow(QStringLiteral("Alarm Volume"), trkAlarmVolume,
                                              QStringLiteral("mute"), QStringLiteral("max"))}));
    layout->addWidget(settingPanel(
        "Panel5", PanelColor,
        {sliderRow(QStringLiteral("Alarm Sound\nBase Alteration"), trkGlobalAlteration,
                   QStringLiteral("-"), QStringLiteral("+"), QStringLiteral("none")),
         sliderRow(QStringLiteral("Alarm Sound\nRandom Alteration"), trkRandomAlteration,
                   QStringLiteral("none"), QStringLiteral("max"))}));
    layout->addWidget(
        settingPanel("Panel11", PanelColor,
                     {sliderRow(QStringLiteral("Alarm Duration"), trkPersistence,
                                QStringLiteral("short"), QStringLiteral("long")),
                      sliderRow(QStringLiteral("Alarm Duration\n+ Random"), trkPersistenceRandom,
                                QStringLiteral("none"), QStringLiteral("max"))}));

    QFrame *header = colouredPanel("pnlAlarmSounds", BarColor);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(6, 1, 2, 1);
    headerLayout->setSpacing(1);
    auto *caption = new QLabel(QStringLiteral("Alarm Sounds"));
    caption->setObjectName(QStringLiteral("lblAlarmSounds"));
    QPalette captionPalette = caption->palette();
    captionPalette.setColor(QPalette::WindowText, CaptionColor);
    caption->setPalette(captionPalette);
    QFont bold = caption->font();
    bold.setBold(true);
    caption->setFont(bold);
    header->setFixedSize(columnWidth(), std::max(27, caption->fontMetrics().height() + 2));
    headerLayout->addWidget(caption);
    headerLayout->addStretch(1);
    btnAddSound = glyphButton("btnAddSound", ActAddSound, 25, 21);
    btnRemoveSound = glyphButton("btnRemoveSound", ActRemoveSound, 25, 21);
    ActAddSound->setIcon(IconFromGlyphPair(SmallGlyphPair(true)));
    ActRemoveSound->setIcon(IconFromGlyphPair(SmallGlyphPair(false)));
    headerLayout->addWidget(btnAddSound);
    headerLayout->addWidget(btnRemoveSound);
    layout->addWidget(header);

    chklbSounds = new SoundListWidget;
    chklbSounds->setObjectName(QStringLiteral("chklbSounds"));
    chklbSounds->setFixedSize(columnWidth(), 180);
    chklbSounds->setToolTipDuration(HintMilliseconds);
    popAlarmSounds = new QMenu(chklbSounds);
    popAlarmSounds->setObjectName(QStringLiteral("popAlarmSounds"));
    popAlarmSounds->addAction(ActAddSound);
    popAlarmSounds->addAction(ActRemoveSound);
    popAlarmSounds->addSeparator();
    popAlarmSounds->addAction(ActChkLbAlarmSndChecktAll);
    popAlarmSounds->addAction(ActChkLbAlarmSndCheckInverse);
    popAlarmSounds->addAction(ActChkLbAlarmSndUnCheckAll);
    chklbSounds->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(chklbSounds, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { popAlarmSounds->popup(chklbSounds->mapToGlobal(pos)); });
    layout->addWidget(chklbSounds);
    return column;
}

void TfrmMain::buildDetectorExtras()
{
    // The keyboard, camera, USB and network switches, their buttons before
    // the microphone's (the row is right-aligned, so the other buttons keep
    // their places). The keyboard's LED sits below the mouse LED; the
    // others' on their buttons' corner.
    auto *row = qobject_cast<QBoxLayout *>(btnMicDetect->parentWidget()->layout());
    auto addDetector = [&](const char *action, const char *button, const char *led,
                           const QString &hint, QToolButton *&btn, LedShape *&shp) {
        auto *toggle = new QAction(this);
        toggle->setObjectName(QString::fromLatin1(action));
        btn = glyphButton(button, toggle, 42, 40);
        if (row)
            row->insertWidget(row->indexOf(btnMicDetect), btn);
        shp = new LedShape(QString::fromLatin1(led), btn);
        shp->setToolTip(hint);
        shp->move(btn->width() - shp->width() - 1, btn->height() - shp->height() - 1);
        shp->setAttribute(Qt::WA_TransparentForMouseEvents);
        return toggle;
    };
    ActKeyDetectToggle = addDetector("ActKeyDetectToggle", "btnKeyDetect", "shpLedKeyDetection",
                                     QStringLiteral("Keyboard Detection"), btnKeyDetect,
                                     shpLedKeyDetection);
    shpLedKeyDetection->setParent(shpLedMouDetection->parentWidget());
    shpLedKeyDetection->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    shpLedKeyDetection->move(shpLedMouDetection->x(), shpLedMouDetection->y() + 14);
    ActCamDetectToggle = addDetector("ActCamDetectToggle", "btnCamDetect", "shpLedCamDetection",
                                     QStringLiteral("Camera Detection"), btnCamDetect,
                                     shpLedCamDetection);
    ActUsbDetectToggle = addDetector("ActUsbDetectToggle", "btnUsbDetect", "shpLedUsbDetection",
                                     QStringLiteral("USB Detection"), btnUsbDetect,
                                     shpLedUsbDetection);
    ActNetDetectToggle = addDetector("ActNetDetectToggle", "btnNetDetect", "shpLedNetDetection",
                                     QStringLiteral("Network Detection"), btnNetDetect,
                                     shpLedNetDetection);

    lblRoomTooLoud = new RoomLevelWarning(m_guard);
    if (QWidget *panel = shpLedMicDetection->parentWidget(); panel && panel->layout())
        panel->layout()->addWidget(lblRoomTooLoud);
}
