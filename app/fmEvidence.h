#pragma once
// The "Evidence…" dialog: whether alarms take a photo, a picture of the
// screen and a sound clip, whether they go along with the alerts, how long
// they are kept and how much room they may take, with a button that takes a
// test photo and shows it.

#include <QDialog>

class EvidenceRecorder;
class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

class TfrmEvidence : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmEvidence(EvidenceRecorder &recorder, QWidget *parent = nullptr);

    // Writes the settings; false (with the reason shown) when the store
    // cannot be written.
    bool save();
    // Starts a photo; the dialog stays usable and shows it when it comes.
    void takeTestPhoto();

    QCheckBox *chkPhoto = nullptr;
    QCheckBox *chkScreen = nullptr;
    QCheckBox *chkSound = nullptr;
    QCheckBox *chkSend = nullptr;
    QSpinBox *spnKeepDays = nullptr;
    QSpinBox *spnMaxMB = nullptr;
    QPushButton *btnTestPhoto = nullptr;
    QLabel *imgTestPhoto = nullptr;
    QLabel *lblTestPhoto = nullptr;

private:
    EvidenceRecorder &m_recorder;
};
