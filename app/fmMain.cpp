#include "app/fmMain.h"

#include "alarm/Autostart.h"
#include "app/Glyphs.h"
#include "app/LedShape.h"
#include "app/gUtils.h"
#include "info/Links.h"
#include "info/fmAbout.h"
#include "report/fmReport.h"
#include "settings/ResetableSettings.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QColor BarColor(0, 95, 140);
const QColor PanelColor(125, 154, 189);
const QColor LightPanelColor(173, 191, 214);
const QColor CaptionColor(249, 253, 255);

constexpr int ClientWidth = 537;
constexpr int ClientHeight = 594;
constexpr int ColumnWidth = 260;
constexpr int HintMilliseconds = 3000;

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
    QFont font = label->font();
    font.setPointSizeF(7.5);
    label->setFont(font);
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

TfrmMain::TfrmMain(const QString &workingDirectory, QWidget *parent)
    : QMainWindow(parent),
      m_workingDirectory(workingDirectory.isEmpty()
                             ? WorkingDirectoryFor(QCoreApplication::applicationFilePath())
                             : workingDirectory),
      m_report(m_workingDirectory + QStringLiteral("Reports/"))
{
    setObjectName(QStringLiteral("frmMain"));
    buildActions();
    buildMenus();
    buildLayout();

    AlarmControl::Hooks hooks;
    hooks.activationDelay = [this] { return spnActivationDelay->value(); };
    hooks.triggerDelay = [this] { return spnTriggerDelay->value(); };
    hooks.simulateEvery = [this] { return spnSimulateEvery->value(); };
    hooks.simulateRandom = [this] { return spnSimulateRandom->value(); };
    hooks.persistence = [this] { return trkPersistence->value(); };
    hooks.persistenceRandom = [this] { return trkPersistenceRandom->value(); };
    hooks.isPlaying = [this] { return m_playback.IsPlaying(); };
    hooks.stopSounds = [this] { m_playback.StopSounds(); };
    hooks.playHow = [this](int slot, int speaker, const QString &path) {
        PlayHow(slot, speaker, path);
    };
    hooks.checkedSounds = [this] { return m_checkedSounds; };
    hooks.soundsFolder = [this] { return m_sounds->soundsFolder(); };
    hooks.resetMicrophoneCount = [this] {
        m_microphone.resetCount();
        ggDuration->setValue(0);
    };
    hooks.randomBelow = [this](quint32 n) { return randomBelow(n); };
    hooks.executablePath = QCoreApplication::applicationFilePath();
    m_alarm = std::make_unique<AlarmControl>(m_report, std::move(hooks), this);

    SoundLibrary::AudioControl audioControl;
    audioControl.stopSounds = [this] { m_playback.StopSounds(); };
    audioControl.pauseOutput = [this] { m_engine.stopOutput(); };
    audioControl.resumeOutput = [this] { m_engine.startOutput(); };
    m_sounds = std::make_unique<SoundLibrary>(chklbSounds, m_checkedSounds, m_workingDirectory,
                                              std::move(audioControl), this);

    connectHandlers();
    qApp->installEventFilter(this);
}

TfrmMain::~TfrmMain()
{
    qApp->removeEventFilter(this);
    if (!m_closed)
        FormClose();
}

quint32 TfrmMain::randomBelow(quint32 n)
{
    return n == 0 ? 0 : m_random.bounded(n);
}

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
    connect(Exit2, &QAction::triggered, this, &QWidget::close);

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
    client->setFixedSize(ClientWidth, ClientHeight);

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
    bottom->setFixedHeight(25);
    auto *bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(4, 1, 4, 1);
    bottomLayout->addStretch(1);
    btnExit = new QPushButton(QStringLiteral("Exit"));
    btnExit->setObjectName(QStringLiteral("btnExit"));
    btnExit->setFixedHeight(22);
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
    setFixedSize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
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
    Image1->setPixmap(BannerPixmap(QSize(200, 42)));
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->installEventFilter(this);
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
        QFont font = button->font();
        font.setPointSizeF(7.5);
        button->setFont(font);
        button->setFixedSize(150, 22);
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
    auto *spin = new QSpinBox;
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(min, max);
    spin->setValue(value);
    spin->setAlignment(Qt::AlignCenter);
    spin->setFixedWidth(70);
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
    caption->setFixedWidth(100);
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
    caption->setFixedWidth(130);
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
    panel->setFixedWidth(ColumnWidth);
    // Panels share the column's height, so both columns end together.
    panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 3, 0, 3);
    layout->setSpacing(1);
    for (QWidget *row : rows)
        layout->addWidget(row);
    if (led) {
        led->setParent(panel);
        led->move(ColumnWidth - 14, 5);
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
    speakers->setFixedWidth(ColumnWidth);
    speakers->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto *speakerLayout = new QHBoxLayout(speakers);
    speakerLayout->setContentsMargins(6, 3, 6, 3);
    speakerLayout->addWidget(smallLabel(QStringLiteral("Speakers Test")));
    auto button = [](const char *name, const QString &caption, const QString &hint) {
        auto *b = new QPushButton(caption);
        b->setObjectName(QString::fromLatin1(name));
        b->setFixedSize(caption.size() > 1 ? 40 : 26, 22);
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

    // The input level of the recording input: kept, never shown.
    trkMicSensivity = makeSlider("trkMicSensivity", 0, 100, 0, 5);
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
    header->setFixedSize(ColumnWidth, 27);
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
    chklbSounds->setFixedSize(ColumnWidth, 180);
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

void TfrmMain::connectHandlers()
{
    for (QSlider *slider :
         {trkMicTriggerVolume, trkMicTriggerDuration, trkMouseSensivity, trkAlarmVolume,
          trkGlobalAlteration, trkRandomAlteration, trkPersistence, trkPersistenceRandom})
        connect(slider, &QSlider::valueChanged, this, [this, slider] { trkTrackChange(slider); });
    for (QSpinBox *spin :
         {spnTriggerDelay, spnActivationDelay, spnSimulateEvery, spnSimulateRandom})
        connect(spin, &QSpinBox::textChanged, this,
                [this, spin](const QString &text) { spnSpinChange(spin, text); });
    connect(trkMicSensivity, &QSlider::valueChanged, this, [this](int position) {
        m_microphone.trkMicSensivityChange(position);
        trkMicSensivity->setToolTip(QString::number(position));
    });
    connect(cmbRecSource, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_microphone.cmbRecSourceChange(index);
        trkMicSensivity->setValue(m_microphone.inputLevel());
    });

    connect(ActActivateToggle, &QAction::triggered, this, &TfrmMain::ActActivateToggleExecute);
    connect(ActMicDetectToggle, &QAction::triggered, this, &TfrmMain::ActMicDetectToggleExecute);
    connect(ActMouDetectToggle, &QAction::triggered, this, &TfrmMain::ActMouDetectToggleExecute);
    connect(ActSimToggle, &QAction::triggered, this, &TfrmMain::ActSimToggleExecute);
    connect(ActViewReport, &QAction::triggered, this,
            [this] { ShowReportWindow(m_report.filePath(), this); });

    SoundLibrary *sounds = m_sounds.get();
    connect(ActAddSound, &QAction::triggered, sounds, &SoundLibrary::ActAddSoundExecute);
    connect(ActRemoveSound, &QAction::triggered, sounds, &SoundLibrary::ActRemoveSoundExecute);
    connect(ActChkLbAlarmSndChecktAll, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(0); });
    connect(ActChkLbAlarmSndUnCheckAll, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(1); });
    connect(ActChkLbAlarmSndCheckInverse, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(2); });
    connect(sounds, &SoundLibrary::listChanged, this, &TfrmMain::KeyState);
    connect(sounds, &SoundLibrary::addSoundRequested, ActAddSound, &QAction::trigger);
    connect(sounds, &SoundLibrary::removeSoundRequested, ActRemoveSound, &QAction::trigger);

    connect(btnFrontRight, &QPushButton::clicked, this, [this] { speakerTest(0); });
    connect(btnFrontCenter, &QPushButton::clicked, this, [this] { speakerTest(1); });
    connect(btnFrontLeft, &QPushButton::clicked, this, [this] { speakerTest(2); });
    connect(btnTestStop, &QPushButton::clicked, this, [this] { m_playback.StopSounds(); });
    connect(btnSysVolumeControl, &QPushButton::clicked, this,
            [] { OpenSystemVolumeControl(false); });
    connect(btnSysRecordingControl, &QPushButton::clicked, this,
            [] { OpenSystemVolumeControl(true); });
    connect(btnExit, &QPushButton::clicked, this, &QWidget::close);

    connect(&m_microphone, &MicrophoneMonitor::levelReceived, this, &TfrmMain::onLevelReceived);
    connect(&m_microphone, &MicrophoneMonitor::ledChanged, this,
            [this](bool lit) { setLed(shpLedMicDetection, lit); });
    connect(&m_microphone, &MicrophoneMonitor::captureLost, this, [this] {
        ggDetection->setValue(0);
        ggDuration->setValue(0);
    });
    m_mouse.setSensitivitySource([this] { return trkMouseSensivity->value(); });
    connect(&m_mouse, &MouseMonitor::detected, this,
            [this] { m_alarm->ActivateAlarm(QStringLiteral("Mouse detected")); });
    connect(&m_mouse, &MouseMonitor::ledChanged, this,
            [this](bool lit) { setLed(shpLedMouDetection, lit); });
    connect(m_alarm.get(), &AlarmControl::ledChanged, this,
            [this](AlarmControl::Led led, bool lit) {
                switch (led) {
                case AlarmControl::Led::ActivationDelay:
                    setLed(shpLedActivationDelay, lit);
                    break;
                case AlarmControl::Led::TriggerDelay:
                    setLed(shpLedTriggerDelay, lit);
                    break;
                case AlarmControl::Led::Simulation:
                    setLed(shpLedSimulation, lit);
                    break;
                }
            });
}

// ---------------------------------------------------------------- start-up

bool TfrmMain::FormCreate()
{
    setWindowTitle(QStringLiteral("Tarvo2"));
    QGuiApplication::setApplicationDisplayName(QString());

    if (audio::AudioEngine::interfaceVersion() != 2) {
        showMessage(MessageKind::Error, QStringLiteral("DLL was not loaded!"));
        return false;
    }
    if (!m_engine.initCapture() || !m_engine.initOutput(44100)) {
        m_engine.freeCapture();
        m_engine.freeOutput();
        showMessage(MessageKind::Error, QStringLiteral("Cannot start recording device!"));
        return false;
    }

    // The working directory was formed when the window was built; the drop
    // target is the sound list itself. Seed the one random generator.
    m_random.seed(quint32(QDateTime::currentMSecsSinceEpoch()));

    if (!m_microphone.SelectInput())
        showMessage(MessageKind::Plain, QStringLiteral("Microphone not found!"));
    {
        const QSignalBlocker blocker(cmbRecSource);
        cmbRecSource->clear();
        cmbRecSource->addItems(m_microphone.inputNames());
        cmbRecSource->setCurrentIndex(m_microphone.selectedInput());
    }
    m_microphone.cmbRecSourceChange(m_microphone.selectedInput());
    trkMicSensivity->setValue(m_microphone.inputLevel());

    const AlarmPlayback::SpeakerButtons speakerButtons = m_playback.CheckNoOfSpeakers();
    Button4->setEnabled(speakerButtons.button4);
    Button5->setEnabled(speakerButtons.button5);
    Button8->setEnabled(speakerButtons.button8);
    Button3->setEnabled(speakerButtons.button3);
    Button6->setEnabled(speakerButtons.button6);

    m_alarm->tasks().clear();
    m_checkedSounds.clear();
    m_report.Load();

    m_alarm->ReadStoredSwitches();
    ReadRegValueNames(StoreKeys::CheckedSounds, m_checkedSounds);
    LoadResetableSettings();
    m_sounds->FillSounds(QString());

    DrawMicDetectBtnState();
    DrawMouDetectBtnState();
    DrawSimBtnState();
    DrawActivateBtnState();
    m_alarm->TimTask.start(250);
    return true;
}

void TfrmMain::FormActivate()
{
    if (m_activated || m_closed)
        return;
    m_activated = true;
    if (m_alarm->isOn(AlarmControl::Switch::Microphone)) {
        StopRecording();
        if (!m_microphone.isRecording())
            StartRecording();
    }
    if (m_alarm->isOn(AlarmControl::Switch::Mouse)) {
        m_mouse.TakeReference();
        m_mouse.Start();
    }
    if (m_alarm->isOn(AlarmControl::Switch::Simulation))
        m_alarm->StartSimulation();
    if (AlarmControl::StoredAlarmActive()) {
        guarded([this] { m_alarm->StartOrDelayStart(); });
        KeyState();
    }
}

bool TfrmMain::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate) {
        FormActivate();
    } else if (event->type() == QEvent::Show && !m_activated) {
        // Some sessions never activate a new window (no window manager,
        // focus-stealing prevention); the detectors must start all the same.
        QTimer::singleShot(1000, this, &TfrmMain::FormActivate);
        if (QScreen *screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    return QMainWindow::event(event);
}

void TfrmMain::RestoreFromMessage(const QByteArray &activationToken)
{
    if (!activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    if (isMinimized()) {
        showNormal();
    } else {
        show();
        raise();
    }
    activateWindow();
}

// ---------------------------------------------------------------- closing

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // Closing is always granted, also while armed, and does not disarm.
    event->accept();
    FormClose();
}

void TfrmMain::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    m_alarm->StopAllTimers();
    m_mouse.Stop();
    m_mouse.TimLedMou.stop();
    m_microphone.TimLedMic.stop();
    StopRecording();
    m_alarm->tasks().clear();
    m_engine.freeCapture();
    m_engine.freeOutput();
    m_engine.stopOutput();
}

// ---------------------------------------------------------------- control state

void TfrmMain::KeyState()
{
    using S = AlarmControl::Switch;
    const bool armed = m_alarm->isOn(S::Alarm);
    const bool anyDetector =
        m_alarm->isOn(S::Microphone) || m_alarm->isOn(S::Mouse) || m_alarm->isOn(S::Simulation);
    const bool anyChecked = !m_checkedSounds.isEmpty();
    const bool anyEntry = m_sounds->count() > 0;
    const bool selected = m_sounds->hasSelection();

    ActMicDetectToggle->setEnabled(!armed);
    ActMouDetectToggle->setEnabled(!armed);
    ActSimToggle->setEnabled(!armed);
    ActViewReport->setEnabled(!armed);
    ActActivateToggle->setEnabled(anyDetector && anyChecked);
    chklbSounds->setEnabled(!armed);
    ActChkLbAlarmSndChecktAll->setEnabled(anyEntry);
    ActChkLbAlarmSndUnCheckAll->setEnabled(anyEntry);
    ActChkLbAlarmSndCheckInverse->setEnabled(anyEntry);
    ActAddSound->setEnabled(!armed);
    ActRemoveSound->setEnabled(!armed && anyEntry && selected);
    for (QPushButton *button : {btnFrontLeft, btnFrontCenter, btnFrontRight})
        button->setEnabled(!armed && anyEntry && selected);
    btnTestStop->setEnabled(!armed);
}

void TfrmMain::DrawButton(const QPixmap &imagePair, QAction *action)
{
    action->setIcon(IconFromGlyphPair(imagePair));
}

void TfrmMain::drawToggle(AlarmControl::Switch which, const QString &onPrefix,
                          const QString &offPrefix, const QString &suffix, int glyph,
                          QAction *action)
{
    const int tag = m_alarm->tag(which);
    const QString hint = (tag == 1 ? onPrefix : offPrefix) + suffix;
    action->setToolTip(hint);
    action->setText(hint);
    DrawButton(ToggleImage(static_cast<ToggleGlyph>(glyph), tag == 1 ? 1 : 0), action);
}

void TfrmMain::DrawMicDetectBtnState()
{
    drawToggle(AlarmControl::Switch::Microphone, QStringLiteral("Disable"), QStringLiteral("Use"),
               QStringLiteral(" Microphone Detection"), int(ToggleGlyph::Microphone),
               ActMicDetectToggle);
}

void TfrmMain::DrawMouDetectBtnState()
{
    drawToggle(AlarmControl::Switch::Mouse, QStringLiteral("Disable"), QStringLiteral("Use"),
               QStringLiteral(" Mouse Detection"), int(ToggleGlyph::Mouse), ActMouDetectToggle);
}

void TfrmMain::DrawSimBtnState()
{
    drawToggle(AlarmControl::Switch::Simulation, QStringLiteral("Disable"), QStringLiteral("Use"),
               QStringLiteral(" Alarm Simulation"), int(ToggleGlyph::Simulation), ActSimToggle);
}

void TfrmMain::DrawActivateBtnState()
{
    drawToggle(AlarmControl::Switch::Alarm, QStringLiteral("Stop"), QStringLiteral("Activate"),
               QStringLiteral(" Alarm"), int(ToggleGlyph::Activate), ActActivateToggle);
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease) {
        auto *widget = qobject_cast<QWidget *>(watched);
        auto *key = static_cast<QKeyEvent *>(event);
        // Every control's keys reach the window first, so Escape disarms
        // whatever has the focus.
        // A release that propagates to parent widgets is seen more than once;
        // that is harmless, as the rule acts only while the alarm switch is on.
        if (widget && widget->window() == this && !key->isAutoRepeat())
            FormKeyUp(key->key());
    } else if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        OpenWebPage(ProductPageUrl(QString()));
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::FormKeyUp(int key)
{
    if (key != Qt::Key_Escape || !m_alarm->isOn(AlarmControl::Switch::Alarm))
        return;
    guarded([this] { m_alarm->EscapeDisarm(); });
    DrawActivateBtnState();
    KeyState();
}

// ---------------------------------------------------------------- settings

void TfrmMain::trkTrackChange(QSlider *slider)
{
    const QString text = QString::number(slider->value());
    guarded([&] {
        WriteRegString(StoreKeys::ResetableSettings, ResetableValueName(slider->objectName()),
                       text);
    });
    slider->setToolTip(text);
}

void TfrmMain::spnSpinChange(QSpinBox *spin, const QString &text)
{
    bool ok = false;
    const int typed = text.trimmed().toInt(&ok);
    const int value = ok ? typed : spin->minimum();
    guarded([&] {
        WriteRegString(StoreKeys::ResetableSettings, ResetableValueName(spin->objectName()),
                       QString::number(value));
    });
}

void TfrmMain::LoadResetableSettings()
{
    auto stored = [](const QString &control) {
        return ParseStoredInteger(
            ReadRegString(StoreKeys::ResetableSettings, ResetableValueName(control)));
    };
    // Setting a control runs its change handler when the value differs, which
    // writes a clamped value back.
    for (QSlider *slider : centralWidget()->findChildren<QSlider *>()) {
        if (const auto value = stored(slider->objectName()))
            slider->setValue(*value);
    }
    for (QSpinBox *spin : centralWidget()->findChildren<QSpinBox *>()) {
        if (const auto value = stored(spin->objectName()))
            spin->setValue(*value);
    }
}

void TfrmMain::mnuResetSettingToDefaultClick()
{
    DeleteRegKey(StoreKeys::ResetableSettings);
    for (const ResetableSetting &setting : ResetableSettings) {
        const QString name = QString::fromLatin1(setting.control);
        if (setting.isSlider) {
            if (auto *slider = centralWidget()->findChild<QSlider *>(name))
                slider->setValue(setting.defaultValue);
        } else if (auto *spin = centralWidget()->findChild<QSpinBox *>(name)) {
            spin->setValue(setting.defaultValue);
        }
    }
}

// ---------------------------------------------------------------- switches

void TfrmMain::ActActivateToggleExecute()
{
    guarded([this] { m_alarm->ActActivateToggleExecute(); });
    DrawActivateBtnState();
    KeyState();
}

void TfrmMain::ActMicDetectToggleExecute()
{
    using S = AlarmControl::Switch;
    m_alarm->FlipSwitch(S::Microphone);
    DrawMicDetectBtnState();
    KeyState();
    StopRecording();
    if (m_alarm->isOn(S::Microphone) && !m_microphone.isRecording())
        StartRecording();
    guarded([this] { m_alarm->StoreSwitch(AlarmControl::Switch::Microphone); });
}

void TfrmMain::ActMouDetectToggleExecute()
{
    using S = AlarmControl::Switch;
    m_alarm->FlipSwitch(S::Mouse);
    DrawMouDetectBtnState();
    KeyState();
    if (m_alarm->isOn(S::Mouse)) {
        m_mouse.TakeReference();
        m_mouse.Start();
        if (!MouseMonitor::CanReadGlobalPointer() && !m_waylandWarningShown) {
            m_waylandWarningShown = true;
            showMessage(MessageKind::Plain,
                        QStringLiteral("Mouse detection needs an X11 session: in this Wayland "
                                       "session the pointer cannot be watched outside the "
                                       "Tarvo2 window.\n\nLog in to an X11 (Xorg) session "
                                       "to use mouse detection; the other detectors work "
                                       "here."));
        }
    } else {
        m_mouse.Stop();
    }
    guarded([this] { m_alarm->StoreSwitch(AlarmControl::Switch::Mouse); });
}

void TfrmMain::ActSimToggleExecute()
{
    using S = AlarmControl::Switch;
    m_alarm->FlipSwitch(S::Simulation);
    DrawSimBtnState();
    KeyState();
    if (m_alarm->isOn(S::Simulation))
        m_alarm->StartSimulation();
    else
        m_alarm->StopSimulation();
    guarded([this] { m_alarm->StoreSwitch(AlarmControl::Switch::Simulation); });
}

// ---------------------------------------------------------------- microphone

void TfrmMain::StartRecording()
{
    if (!m_microphone.StartRecording())
        showMessage(MessageKind::Error, QStringLiteral("Couldn't start recording!"));
}

void TfrmMain::StopRecording()
{
    m_microphone.StopRecording();
    m_playback.StopSounds();
    m_alarm->TimTempMute.stop();
    ggDetection->setValue(0);
    ggDuration->setValue(0);
}

void TfrmMain::onLevelReceived(quint32 level)
{
    const MicrophoneMonitor::LevelResult result = m_microphone.CheckLevel(
        level, trkMicTriggerVolume->value(), trkMicTriggerDuration->value());
    if (result.triggered)
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
    ggDetection->setValue(result.detectionGauge);
    ggDuration->setValue(result.durationGauge);
}

// ---------------------------------------------------------------- playback

void TfrmMain::PlayHow(int slot, int speakerCode, const QString &path)
{
    const AlarmPlayback::Alteration alteration{
        trkAlarmVolume->value(), trkGlobalAlteration->value(), trkRandomAlteration->value(),
        trkRandomAlteration->maximum()};
    m_playback.PlayHow(slot, speakerCode, path, alteration,
                       [this](quint32 n) { return randomBelow(n); });
}

void TfrmMain::speakerTest(int speakerCode)
{
    if (m_sounds->count() == 0 || !m_sounds->hasSelection())
        return;
    m_playback.StopSounds();
    PlayHow(0, speakerCode, m_sounds->soundsFolder() + m_sounds->selectedSoundName());
}

// ---------------------------------------------------------------- helpers

void TfrmMain::setLed(LedShape *led, bool lit)
{
    led->setLit(lit);
}

void TfrmMain::guarded(const std::function<void()> &step)
{
    try {
        step();
    } catch (const RegistryError &error) {
        showMessage(MessageKind::Error, error.message());
    }
}

void TfrmMain::showMessage(MessageKind kind, const QString &text)
{
    if (m_messageSink) {
        m_messageSink(kind, text);
        return;
    }
    if (kind == MessageKind::Error)
        QMessageBox::critical(isVisible() ? this : nullptr, QStringLiteral("Error"), text);
    else
        QMessageBox(QMessageBox::NoIcon, QStringLiteral("Tarvo2"), text, QMessageBox::Ok,
                    isVisible() ? this : nullptr)
            .exec();
}
