#include "info/fmAbout.h"

#include "desktop/DesktopFont.h"
#include "desktop/FocusRing.h"
#include "info/ClickLabel.h"
#include "info/InfoLook.h"
#include "info/Links.h"

#include <QCoreApplication>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

MemoryStatus ReadMemoryStatus(const QString &meminfoPath)
{
    MemoryStatus status;
    QFile file(meminfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return status;
    // Files under /proc claim a size of 0, so read until the end instead of
    // asking atEnd(); the real file is a few kilobytes.
    const QByteArray content = file.read(1 << 20);

    // Every figure of interest is in kB; a line that does not parse is skipped.
    QHash<QByteArray, quint64> kb;
    for (const QByteArray &line : content.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QList<QByteArray> words = line.mid(colon + 1).simplified().split(' ');
        bool ok = false;
        const quint64 value = words.value(0).toULongLong(&ok);
        if (ok && value <= std::numeric_limits<quint64>::max() / 1024)
            kb.insert(line.left(colon).trimmed(), value);
    }

    const quint64 total = kb.value("MemTotal");
    if (total == 0)
        return status;
    const quint64 available = kb.contains("MemAvailable")
                                  ? kb.value("MemAvailable")
                                  : kb.value("MemFree") + kb.value("Buffers") + kb.value("Cached");
    const quint64 used = available < total ? total - available : 0;
    status.totalBytes = total * 1024;
    status.loadPercent = int((used * 100 + total / 2) / total);
    status.valid = true;
    return status;
}

QString FormatMemoryKb(quint64 bytes, const QLocale &locale)
{
    const quint64 kilobytes = bytes / 1024 + (bytes % 1024 >= 512 ? 1 : 0);
    // Grouped by thousands whatever the locale's default says (the C locale
    // leaves its separator out unless asked).
    QLocale grouping = locale;
    grouping.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouping.toString(kilobytes) + QStringLiteral(" KB");
}

QString GetAppVersion()
{
#ifdef TARVO2_VERSION
    const QString version = QStringLiteral(TARVO2_VERSION);
#else
    const QString version;
#endif
    return version.isEmpty() ? QString() : u'v' + version;
}

namespace {

ClickLabel *MakeLink(QWidget *parent, const QString &objectName)
{
    auto *label = new ClickLabel(parent);
    label->setObjectName(objectName);
    label->setAlignment(Qt::AlignCenter);
    label->setCursor(Qt::PointingHandCursor);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(palette);
    return label;
}

QLabel *MakeLabel(QWidget *parent, const QString &objectName, const QString &text = QString())
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

} // namespace

TfrmAbout::TfrmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint)
{
    QVBoxLayout *root =
        SetUpInfoWindow(this, QStringLiteral("frmAbout"), QSize(316, 381), QStringLiteral("About"));

    auto *body = new QVBoxLayout;
    body->setContentsMargins(16, 18, 16, 14);
    body->setSpacing(10);
    m_lblVersion = MakeLabel(this, QStringLiteral("lblVersion"));
    m_lblVersion->setAlignment(Qt::AlignCenter);
    m_lblVersion->setWordWrap(true);
    QFont versionFont = DesktopFontOf(11.25); // 15 px at 96 dpi
    versionFont.setBold(true);
    m_lblVersion->setFont(versionFont);
    body->addWidget(m_lblVersion);
    body->addSpacing(8);

    auto *imgVekor = new ClickLabel(this);
    imgVekor->setObjectName(QStringLiteral("imgVekor"));
    imgVekor->setFixedSize(212, 40);
    imgVekor->setPixmap(VekorLogo(devicePixelRatioF()));
    imgVekor->setCursor(Qt::PointingHandCursor);
    body->addWidget(imgVekor, 0, Qt::AlignHCenter);
    body->addSpacing(8);

    m_lblHomePage = MakeLink(this, QStringLiteral("lblHomePage"));
    m_lblSupportMail = MakeLink(this, QStringLiteral("lblSupportMail"));
    body->addWidget(m_lblHomePage);
    body->addWidget(m_lblSupportMail);
    body->addStretch();

    // A figure moves below its caption when a large font leaves no room
    // beside it, instead of clipping the caption.
    auto *figures = new QFormLayout;
    figures->setContentsMargins(20, 0, 20, 0);
    figures->setRowWrapPolicy(QFormLayout::WrapLongRows);
    figures->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    figures->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_Label4 = MakeLabel(this, QStringLiteral("Label4"));
    m_Label5 = MakeLabel(this, QStringLiteral("Label5"));
    m_Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_Label5->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    figures->addRow(MakeLabel(this, QStringLiteral("Label6"), QStringLiteral("Memory:")), m_Label4);
    figures->addRow(MakeLabel(this, QStringLiteral("Label7"), QStringLiteral("System resources:")),
                    m_Label5);
    body->addLayout(figures);
    root->addLayout(body, 1);

    QFrame *bottom = MakeBar(this, QStringLiteral("Panel2"));
    auto *btnCancel = new QPushButton(QStringLiteral("&Close"), bottom);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // The stated height, or what the desktop's font needs, the bar's with it.
    const int buttonHeight = std::max(21, btnCancel->fontMetrics().height() + 6);
    btnCancel->setFixedHeight(buttonHeight);
    bottom->setFixedHeight(std::max(bottom->height(), buttonHeight + 4));
    btnCancel->setAutoDefault(false);
    AddFocusRing(btnCancel);
    bottom->layout()->addWidget(btnCancel);
    root->addWidget(bottom);

    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(imgVekor, &ClickLabel::clicked, this, &TfrmAbout::imgVekorClick);
    connect(m_lblHomePage, &ClickLabel::clicked, this, &TfrmAbout::lblHomePageClick);
    connect(m_lblSupportMail, &ClickLabel::clicked, this, &TfrmAbout::lblSupportMailClick);
    FormActivate();
    // The stated size, larger where the desktop's font needs it.
    setFixedSize(size().expandedTo(minimumSizeHint()));
}

void TfrmAbout::FormActivate()
{
    setWindowTitle(QStringLiteral("Tarvo2"));
    m_lblHomePage->setText(MakerSite);
    m_lblSupportMail->setText(SupportMailAddress);
    m_lblVersion->setText(QStringLiteral("Tarvo2 ") + GetAppVersion());
    const MemoryStatus memory = ReadMemoryStatus(m_meminfoPath);
    // Figures that could not be read are left out, not shown as "0 KB".
    m_Label4->setText(memory.valid ? FormatMemoryKb(memory.totalBytes, QLocale()) : QString());
    m_Label5->setText(memory.valid ? QString::number(memory.loadPercent) + QStringLiteral(" %")
                                   : QString());
}

bool TfrmAbout::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(event);
}

void TfrmAbout::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        reject();
        return;
    case Qt::Key_Escape:
        event->accept(); // closes on release
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TfrmAbout::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && !event->isAutoRepeat()) {
        reject();
        return;
    }
    QDialog::keyReleaseEvent(event);
}

void TfrmAbout::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmAbout::imgVekorClick()
{
    OpenWebPage(ProductPageUrl());
}

void TfrmAbout::lblHomePageClick()
{
    // The product page, not the site address the label shows.
    OpenWebPage(ProductPageUrl());
}

void TfrmAbout::lblSupportMailClick()
{
    OpenMailTo(nullptr, SupportMailAddress, QString(), QString());
}

int ShowAboutWindow(QWidget *parent)
{
    TfrmAbout window(parent);
    const int result = window.exec();
    QCoreApplication::processEvents();
    return result;
}
