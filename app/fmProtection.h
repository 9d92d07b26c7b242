#pragma once
// The two windows of the disarm protection: the PIN question asked before a
// guarded step, and the options window of the Options menu. Both are opened
// window-modal with open(), so the alarm's timers and detectors run on while
// they wait.

#include "alarm/DisarmProtection.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

class TfrmPinAsk : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmPinAsk(QWidget *parent = nullptr);
    // Clears the field and shows why the last PIN was not taken.
    void showRefusal(const QString &text);

    QLineEdit *edtPin = nullptr;
    QLabel *lblPinRefusal = nullptr;

    ~TfrmPinAsk() override;

protected:
    // Escape cancels on its release, so the release does not reach the main
    // window as a new Escape that would ask again (a line edit keeps the
    // release from the dialog's own handler, hence a filter).
    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    // OK was pressed; the dialog stays open until its owner closes it.
    void pinSubmitted(const QString &pin);
};

class TfrmProtection : public QDialog
{
    Q_OBJECT
public:
    TfrmProtection(DisarmProtection &protection, QWidget *parent = nullptr);
    void accept() override;

    QCheckBox *chkLockScreen = nullptr;
    QCheckBox *chkAskPin = nullptr;
    QLineEdit *edtCurrentPin = nullptr;
    QLineEdit *edtNewPin = nullptr;
    QLineEdit *edtRepeatPin = nullptr;
    QLabel *lblProtectionRefusal = nullptr;

private:
    void updateFields();

    DisarmProtection &m_protection;
};
