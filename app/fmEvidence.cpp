#include "app/fmEvidence.h"

#include "app/FieldNames.h"
#include "app/Mnemonics.h"
#include "evidence/EvidenceRecorder.h"
#include "settings/gRegistry.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
constexpr int PreviewWidth = 320, PreviewHeight = 240;

QSpinBox *MakeSpin(const char *name, int min, int max, int value, const QString &special)
{
    auto *spin = new QSpinBox;
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(min, max);
    spin->setValue(value);
    spin->setSpecialValueText(special);
    return spin;
}
} // namespace

TfrmEvidence::TfrmEvidence(EvidenceRecorder &recorder, QWidget *parent)
    : QDialog(parent), m_recorder(recorder)
{
    setObjectName(QStringLiteral("frmEvidence"));
    setWindowTitle(QStringLiteral("Evidence"));
    const EvidenceSettings settings = EvidenceSettings::Load();

    chkPhoto = new QCheckBox(QStringLiteral("Take a photo with the camera at every alarm"));
    chkPhoto->setObjectName(QStringLiteral("chkPhoto"));
    chkPhoto->setChecked(settings.photo);
    chkScreen = new QCheckBox(QStringLiteral("Take a picture of the screen at every alarm"));
    chkScreen->setObjectName(QStringLiteral("chkScreen"));
    chkScreen->setChecked(settings.screen);
    chkSound = new QCheckBox(QStringLiteral("Record sound"));
    chkSound->setObjectName(QStringLiteral("chkSound"));
    chkSound->setChecked(settings.sound);
    chkSend = new QCheckBox(QStringLiteral("Send pictures and sound with alerts"));
    chkSend->setObjectName(QStringLiteral("chkSend"));
    chkSend->setChecked(settings.send);
    spnKeepDays = MakeSpin("spnKeepDays", 0, EvidenceSettings::MaxKeepDays,
                           settings.limits.keepDays, QStringLiteral("for ever"));
    spnKeepDays->setSuffix(QStringLiteral(" days"));
    spnMaxMB = MakeSpin("spnMaxMB", 1, EvidenceSettings::MaxMB, settings.limits.maxMB, QString());
    spnMaxMB->setSuffix(QStringLiteral(" MB"));
    auto *folder =
        new QLabel(QStringLiteral("Pictures are kept in %1").arg(recorder.folder().path()));
    folder->setObjectName(QStringLiteral("lblFolder"));
    folder->setWordWrap(true);
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);

    btnTestPhoto = new QPushButton(QStringLiteral("Take test photo"));
    btnTestPhoto->setObjectName(QStringLiteral("btnTestPhoto"));
    imgTestPhoto = new QLabel;
    imgTestPhoto->setObjectName(QStringLiteral("imgTestPhoto"));
    imgTestPhoto->setFixedSize(PreviewWidth, PreviewHeight);
    imgTestPhoto->setAlignment(Qt::AlignCenter);
    imgTestPhoto->setFrameShape(QFrame::StyledPanel);
    lblTestPhoto = new QLabel;
    lblTestPhoto->setObjectName(QStringLiteral("lblTestPhoto"));
    lblTestPhoto->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(chkPhoto);
    form->addRow(chkScreen);
    form->addRow(chkSound);
    form->addRow(chkSend);
    form->addRow(QStringLiteral("Keep pictures:"), spnKeepDays);
    form->addRow(QStringLiteral("At most:"), spnMaxMB);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(folder);
    layout->addWidget(btnTestPhoto, 0, Qt::AlignLeft);
    layout->addWidget(imgTestPhoto, 0, Qt::AlignHCenter);
    layout->addWidget(lblTestPhoto);
    layout->addWidget(buttons);

    connect(btnTestPhoto, &QPushButton::clicked, this, &TfrmEvidence::takeTestPhoto);
    connect(&m_recorder, &EvidenceRecorder::testPhotoTaken, this,
            [this](const QImage &image, const QString &error) {
                btnTestPhoto->setEnabled(true);
                if (image.isNull()) {
                    imgTestPhoto->clear();
                    lblTestPhoto->setText(EvidenceRecorder::CameraMissingLine +
                                          QStringLiteral(": ") + error);
                    return;
                }
                imgTestPhoto->setPixmap(QPixmap::fromImage(image).scaled(
                    imgTestPhoto->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
                lblTestPhoto->setText(
                    QStringLiteral("%1 × %2").arg(image.width()).arg(image.height()));
            });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    GiveWindowMnemonics(this);
    NameFieldsAfterLabels(this);
}

bool TfrmEvidence::save()
{
    EvidenceSettings settings;
    settings.photo = chkPhoto->isChecked();
    settings.screen = chkScreen->isChecked();
    settings.sound = chkSound->isChecked();
    settings.send = chkSend->isChecked();
    settings.limits.keepDays = spnKeepDays->value();
    settings.limits.maxMB = spnMaxMB->value();
    try {
        settings.save();
    } catch (const RegistryError &error) {
        QMessageBox::critical(this, QStringLiteral("Tarvo2"), error.message());
        return false;
    }
    return true;
}

void TfrmEvidence::takeTestPhoto()
{
    btnTestPhoto->setEnabled(false);
    imgTestPhoto->clear();
    lblTestPhoto->setText(QStringLiteral("Taking a photo…"));
    m_recorder.takeTestPhoto();
}
