#include "app/dlgCalibrate.h"

#include "desktop/DesktopFont.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

dlgCalibrate::dlgCalibrate(audio::AudioEngine &engine, int currentTriggerLength, QWidget *parent)
    : QDialog(parent), m_calibration(engine), m_triggerLength(currentTriggerLength)
{
    setObjectName(QStringLiteral("dlgCalibrate"));
    setWindowTitle(QStringLiteral("Calibrate microphone"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral(
        "Keep the room as it will be while the alarm watches it. The microphone listens for "
        "about ten seconds."));
    intro->setWordWrap(true);
    layout->addWidget(intro);
    pbMeasure = new QProgressBar;
    pbMeasure->setObjectName(QStringLiteral("pbMeasure"));
    pbMeasure->setRange(0, 100);
    pbMeasure->setValue(0);
    layout->addWidget(pbMeasure);
    lblResult = new QLabel;
    lblResult->setObjectName(QStringLiteral("lblResult"));
    lblResult->setWordWrap(true);
    lblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lblResult);

    auto *buttons = new QDialogButtonBox;
    btnAccept =
        buttons->addButton(QStringLiteral("Use these settings"), QDialogButtonBox::AcceptRole);
    btnAccept->setObjectName(QStringLiteral("btnAccept"));
    btnAccept->setEnabled(false);
    btnCancel = buttons->addButton(QDialogButtonBox::Cancel);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::rejected, &m_calibration, &RoomCalibration::Cancel);

    connect(&m_calibration, &RoomCalibration::progress, pbMeasure, &QProgressBar::setValue);
    connect(&m_calibration, &RoomCalibration::finished, this, &dlgCalibrate::ShowProposal);
    connect(&m_calibration, &RoomCalibration::failed, this,
            [this](const QString &reason) { lblResult->setText(reason); });
    // The stated size, wider with a larger desktop font and as tall as the
    // wrapped texts need.
    const int width = GrownWithFont(380);
    resize(width, std::max(200, layout->totalHeightForWidth(width)));
}

bool dlgCalibrate::StartMeasuring()
{
    if (m_calibration.Start(m_triggerLength))
        return true;
    lblResult->setText(QStringLiteral("The microphone could not be opened."));
    return false;
}

void dlgCalibrate::ShowProposal(const CalibrationProposal &p)
{
    m_proposal = p;
    m_hasProposal = true;
    pbMeasure->setValue(100);
    QString text = QStringLiteral("Room: peak level %1, spread %2 (mean %3), of 32768.\n")
                       .arg(p.roomPeak)
                       .arg(qRound(p.roomSpread))
                       .arg(qRound(p.roomMean));
    if (!p.possible) {
        text += QStringLiteral(
            "Not possible: the room is too loud. Even at the lowest input level and the highest "
            "trigger volume it would set the alarm off by itself. Make the room quieter or move "
            "the microphone away from the noise.");
        lblResult->setText(text);
        return;
    }
    text += QStringLiteral("Proposed: input level %1, trigger volume %2, trigger length %3.\n"
                           "The room then reaches %4, below the trigger volume.")
                .arg(p.inputLevel)
                .arg(p.triggerVolume)
                .arg(p.triggerLength)
                .arg(p.gainedCeiling);
    lblResult->setText(text);
    btnAccept->setEnabled(true);
}
