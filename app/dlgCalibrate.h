#pragma once
// "Calibrate microphone…": records the room with a progress bar, shows the
// room's level and the proposed settings, and lets the user take them or
// leave them. The measurement is detect/RoomCalibration's.

#include "detect/RoomCalibration.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

class dlgCalibrate : public QDialog
{
    Q_OBJECT
public:
    dlgCalibrate(audio::AudioEngine &engine, int currentTriggerLength, QWidget *parent = nullptr);

    // Starts the recording; false (with the reason shown) when it cannot.
    bool StartMeasuring();
    const CalibrationProposal &proposal() const { return m_proposal; }
    bool hasProposal() const { return m_hasProposal; }

    QProgressBar *pbMeasure = nullptr;
    QLabel *lblResult = nullptr;
    QPushButton *btnAccept = nullptr;
    QPushButton *btnCancel = nullptr;

private:
    void ShowProposal(const CalibrationProposal &proposal);

    RoomCalibration m_calibration;
    int m_triggerLength;
    CalibrationProposal m_proposal;
    bool m_hasProposal = false;
};
