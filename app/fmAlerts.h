#pragma once
// The "Alerts…" dialog: where remote alerts go (ntfy topic or webhook URL,
// optional token), with a button that sends one test alert and shows what
// the server answered.

#include <QDialog>

class AlertSender;
class HeartbeatFields;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TfrmAlerts : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAlerts(AlertSender &sender, QWidget *parent = nullptr);

    // Writes the settings; false (with the reason shown) when the store
    // cannot be written.
    bool save();
    void sendTest();

    QLineEdit *edtUrl = nullptr;
    QComboBox *cmbKind = nullptr;
    QLineEdit *edtToken = nullptr;
    QPushButton *btnSendTest = nullptr;
    QPlainTextEdit *memAnswer = nullptr;
    QLabel *lblQueue = nullptr;
    HeartbeatFields *heartbeat = nullptr;

private:
    AlertSender &m_sender;
};
