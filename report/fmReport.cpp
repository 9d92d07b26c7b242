#include "report/fmReport.h"

#include "desktop/DesktopFont.h"
#include "desktop/FocusRing.h"

#include "report/PeriodListModel.h"
#include "report/ReportLinesModel.h"
#include "report/ThumbnailCache.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr int BarHeight = 25;
// For the 9 pt font; larger with a larger desktop font.
constexpr int LinesWidth = 342, PeriodsWidth = 240, WindowHeight = 416;
const QColor IdleColour(0, 95, 140);

QWidget *MakeBar(QWidget *parent)
{
    auto *bar = new QWidget(parent);
    bar->setFixedHeight(GrownWithFont(BarHeight));
    bar->setAutoFillBackground(true);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Window, IdleColour);
    palette.setColor(QPalette::WindowText, Qt::white);
    bar->setPalette(palette);
    return bar;
}
} // namespace

TfrmReport::TfrmReport(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    FormCreate();
}

void TfrmReport::FormCreate()
{
    setObjectName(QStringLiteral("frmReport"));
    setWindowTitle(QStringLiteral("Tarvo2"));
    setFixedSize(GrownWithFont(LinesWidth), GrownWithFont(WindowHeight));

    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    lstPeriods = new QListView(this);
    lstPeriods->setObjectName(QStringLiteral("lstPeriods"));
    lstPeriods->setAccessibleName(QStringLiteral("Periods"));
    lstPeriods->setFixedWidth(GrownWithFont(PeriodsWidth));
    lstPeriods->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstPeriods->setUniformItemSizes(true);
    m_periods = new PeriodListModel(this);
    lstPeriods->setModel(m_periods);
    lstPeriods->hide();
    outer->addWidget(lstPeriods);
    auto *layout = new QVBoxLayout;
    outer->addLayout(layout, 1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    QWidget *heading = MakeBar(this);
    heading->setObjectName(QStringLiteral("pnlHeading"));
    auto *headingLayout = new QHBoxLayout(heading);
    headingLayout->setContentsMargins(8, 0, 8, 0);
    auto *headingLabel = new QLabel(QStringLiteral("Report"), heading);
    headingLabel->setObjectName(QStringLiteral("lblHeading"));
    QFont headingFont = headingLabel->font();
    headingFont.setBold(true);
    headingLabel->setFont(headingFont);
    headingLayout->addWidget(headingLabel);
    layout->addWidget(heading);

    ListBox1 = new QListView(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setFont(DesktopFontOf(9.75)); // 13 px at 96 dpi
    ListBox1->setUniformItemSizes(true);
    ListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListBox1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    ListBox1->setAccessibleName(QStringLiteral("Lines"));
    ListBox1->setIconSize(QSize(ThumbnailCache::Side, ThumbnailCache::Side));
    m_thumbnails = new ThumbnailCache(this);
    m_lines = new ReportLinesModel(this);
    m_lines->setThumbnails(m_thumbnails);
    ListBox1->setModel(m_lines);
    layout->addWidget(ListBox1, 1);

    pnlNothingToReport = new QLabel(QStringLiteral("Nothing to report."), this);
    pnlNothingToReport->setObjectName(QStringLiteral("pnlNothingToReport"));
    pnlNothingToReport->setAlignment(Qt::AlignCenter);
    layout->addWidget(pnlNothingToReport, 1);

    QWidget *bottom = MakeBar(this);
    bottom->setObjectName(QStringLiteral("pnlBottom"));
    auto *bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(4, 0, 4, 0);
    btnEvidence = new QPushButton(QStringLiteral("Evidence folder"), bottom);
    btnEvidence->setObjectName(QStringLiteral("btnEvidence"));
    btnEvidence->setAutoDefault(false);
    btnEvidence->setFixedHeight(GrownWithFont(BarHeight - 4));
    btnEvidence->hide();
    bottomLayout->addWidget(btnEvidence);
    bottomLayout->addStretch(1);
    btnCancel = new QPushButton(QStringLiteral("Close"), bottom);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    btnCancel->setFixedHeight(GrownWithFont(BarHeight - 4));
    bottomLayout->addWidget(btnCancel);
    AddFocusRing(btnEvidence);
    AddFocusRing(btnCancel);
    layout->addWidget(bottom);

    connect(btnCancel, &QPushButton::clicked, this, &TfrmReport::btnCancelClick);
    connect(ListBox1, &QListView::doubleClicked, this, &TfrmReport::OpenCurrentPicture);
    connect(btnEvidence, &QPushButton::clicked, this, [this] {
        QDir().mkpath(m_evidenceFolder);
        QDesktopServices::openUrl(QUrl::fromLocalFile(m_evidenceFolder));
    });
    connect(m_periods, &PeriodListModel::loaded, this, &TfrmReport::PeriodsLoaded);
    connect(lstPeriods->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TfrmReport::ShowPeriod);
    for (QWidget *child : {static_cast<QWidget *>(lstPeriods), static_cast<QWidget *>(ListBox1),
                           static_cast<QWidget *>(btnEvidence), static_cast<QWidget *>(btnCancel)})
        child->installEventFilter(this);
    setTabOrder(lstPeriods, ListBox1);
    setTabOrder(ListBox1, btnEvidence);
    setTabOrder(btnEvidence, btnCancel);

    SetResultState(false);
}

void TfrmReport::setEvidenceFolder(const QString &folder)
{
    m_evidenceFolder = folder;
    m_lines->setEvidenceFolder(folder);
    btnEvidence->setVisible(!folder.isEmpty());
}

void TfrmReport::LoadReport(const QString &reportFilePath)
{
    ShowLines(reportFilePath);
    m_periods->load(reportFilePath);
}

void TfrmReport::ShowLines(const QString &reportFilePath)
{
    m_lines->load(reportFilePath, ListBox1->font());
    // Rows of one height are laid out without asking each row; taller
    // picture rows are laid out in batches, so a long report stays usable.
    ListBox1->setUniformItemSizes(!m_lines->hasPictures());
    ListBox1->setLayoutMode(m_lines->hasPictures() ? QListView::Batched
                                                   : QListView::SinglePass);
    SetResultState(m_lines->rowCount() > 0);
}

void TfrmReport::PeriodsLoaded()
{
    if (m_periods->past().isEmpty())
        return;
    lstPeriods->setCurrentIndex(m_periods->index(0));
    lstPeriods->show();
    setFixedSize(GrownWithFont(LinesWidth + PeriodsWidth), GrownWithFont(WindowHeight));
}

void TfrmReport::ShowPeriod(const QModelIndex &index)
{
    if (index.isValid())
        ShowLines(index.data(PeriodListModel::FileRole).toString());
}

void TfrmReport::SetResultState(bool hasLines)
{
    ListBox1->setVisible(hasLines);
    pnlNothingToReport->setVisible(!hasLines);
}

QString TfrmReport::PictureOfLine(const QString &line) const
{
    if (m_evidenceFolder.isEmpty())
        return {};
    const QString path = ReportPeriods::PictureOfLine(line, m_evidenceFolder).path;
    return !path.isEmpty() && QFileInfo(path).isFile() ? path : QString();
}

bool TfrmReport::OpenCurrentPicture()
{
    const QModelIndex current = ListBox1->currentIndex();
    if (!current.isValid() || !ListBox1->isVisible())
        return false;
    const QString path = PictureOfLine(m_lines->lineAt(current.row()));
    if (path.isEmpty())
        return false;
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    return true;
}

bool TfrmReport::FormKeyUp(int key)
{
    if (key != Qt::Key_Escape)
        return false;
    reject();
    return true;
}

bool TfrmReport::FormKeyPress(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // On a line that names a picture, Enter opens it; elsewhere it closes.
        if (!OpenCurrentPicture())
            reject();
        return true;
    }
    // Escape closes on release; swallowing the press keeps QDialog from
    // closing early.
    return key == Qt::Key_Escape;
}

void TfrmReport::btnCancelClick()
{
    reject();
}

bool TfrmReport::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress)
        return FormKeyPress(static_cast<QKeyEvent *>(event)->key());
    if (event->type() == QEvent::KeyRelease)
        return FormKeyUp(static_cast<QKeyEvent *>(event)->key());
    return QDialog::eventFilter(watched, event);
}

void TfrmReport::keyPressEvent(QKeyEvent *event)
{
    if (!FormKeyPress(event->key()))
        QDialog::keyPressEvent(event);
}

void TfrmReport::keyReleaseEvent(QKeyEvent *event)
{
    if (!FormKeyUp(event->key()))
        QDialog::keyReleaseEvent(event);
}

int ShowReportWindow(const QString &reportFilePath, QWidget *parent, const QString &evidenceFolder)
{
    TfrmReport window(parent);
    window.setEvidenceFolder(evidenceFolder);
    window.LoadReport(reportFilePath);
    if (const QScreen *screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    return window.exec();
}
