#pragma once
// The heartbeat's two fields of the Alerts dialog: the monitor's URL and
// the minutes between pings.

#include <QWidget>

class QLabel;
class QLineEdit;
class QSpinBox;

class HeartbeatFields : public QWidget
{
    Q_OBJECT
public:
    explicit HeartbeatFields(QWidget *parent = nullptr);

    // Empty when the fields can be saved; otherwise why not, also shown
    // below the URL.
    QString problem() const;
    // Throws RegistryError when the store cannot be written.
    void save() const;

    QLineEdit *edtHeartbeatUrl = nullptr;
    QSpinBox *spnHeartbeatMinutes = nullptr;
    QLabel *lblHeartbeatProblem = nullptr; // below the URL while it is unusable
};
