#pragma once
// The "Alerts…" dialog: where remote alerts go (the receiver kind and only
// the fields that kind uses, each kind explained in one line), with a button
// that sends one test alert and shows what the receiver answered.

#include "alerts/AlertConfig.h"
#include "alerts/AlertFieldCheck.h"

#include <QDialog>
#include <QHash>

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
    // The fields lose the focus as the dialog goes: they check nothing then.
    ~TfrmAlerts() override;

    // Writes the settings; false when a field holds what its receiver cannot
    // use (told at the field and in lblProblem) or the store cannot be
    // written (told in a box).
    bool save();
    // Checks the fields the kind shows and tells each problem at its field;
    // the first problem, or empty.
    QString checkFields();
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
    // The problem shown below a field, hidden while there is none.
    QLabel *problemLabel(QLineEdit *field) const { return m_problems.value(field); }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showKind();
    QLineEdit *addField(const char *name, const QString &label, const QString &value,
                        AlertFieldCheck::Field check);
    // Shows the field's problem below it; the problem, or empty.
    QString checkField(QLineEdit *field);
    // Taller when a wrapped text got longer, so that none of it is cut.
    void growToText();

    QHash<QLineEdit *, QLabel *> m_problems;
    QHash<QLineEdit *, AlertFieldCheck::Field> m_checks;

    AlertSender &m_sender;
    QFormLayout *m_form = nullptr;
};
