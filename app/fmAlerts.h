#pragma once
// The "Alerts…" dialog: where remote alerts go (the receiver kind and only
// the fields that kind uses, each kind explained in one line), with a button
// that sends one test alert and shows what the receiver answered.

#include "alerts/AlertConfig.h"

#include <QDialog>

class AlertSender;
class HeartbeatFields;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TfrmAlerts : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAlerts(AlertSender &sender, QWidget *parent = nullptr);

    // Writes the settings; false when a value holds a control character
    // (told in lblProblem) or the store cannot be written (told in a box).
    bool save();
    void sendTest();
    AlertConfig config() const;

    QComboBox *cmbKind = nullptr;
    QLabel *lblKindHelp = nullptr;
    QLineEdit *edtUrl = nullptr;
    QLabel *lblUrlScheme = nullptr; // under the URL: how one without a scheme is read
    QLineEdit *edtToken = nullptr;
    QLineEdit *edtTo = nullptr;
    QLineEdit *edtUser = nullptr;
    QLineEdit *edtFrom = nullptr;
    QPushButton *btnSendTest = nullptr;
    QPlainTextEdit *memAnswer = nullptr;
    QLabel *lblQueue = nullptr;
    QLabel *lblProblem = nullptr;
    HeartbeatFields *heartbeat = nullptr;

private:
    void showKind();
    QLineEdit *addField(const char *name, const QString &label, const QString &value);

    AlertSender &m_sender;
    QFormLayout *m_form = nullptr;
};
