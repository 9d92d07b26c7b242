#include "app/fmProtection.h"

#include "app/FieldNames.h"
#include "app/Mnemonics.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

QLineEdit *PinField(const char *name)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name));
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(DisarmProtection::MaxPinLength);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,12}")), edit));
    return edit;
}

QLabel *RefusalLabel(const char *name)
{
    auto *label = new QLabel;
    label->setObjectName(QString::fromLatin1(name));
    label->setStyleSheet(QStringLiteral("color: #b00000"));
    label->setWordWrap(true);
    label->hide();
    return label;
}

} // namespace

TfrmPinAsk::TfrmPinAsk(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmPinAsk"));
    setWindowTitle(QStringLiteral("Tarvo2"));
    setWindowModality(Qt::WindowModal);
    qApp->installEventFilter(this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("The alarm is armed. Enter the PIN:")));
    edtPin = PinField("edtPin");
    edtPin->setAccessibleName(QStringLiteral("PIN"));
    layout->addWidget(edtPin);
    lblPinRefusal = RefusalLabel("lblPinRefusal");
    layout->addWidget(lblPinRefusal);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("btnsPinAsk"));
    layout->addWidget(buttons);
    // OK does not close: a wrong PIN keeps the question open for the next try.
    connect(buttons, &QDialogButtonBox::accepted, this,
            [this] { Q_EMIT pinSubmitted(edtPin->text()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    GiveWindowMnemonics(this);
}

void TfrmPinAsk::showRefusal(const QString &text)
{
    edtPin->clear();
    lblPinRefusal->setText(text);
    lblPinRefusal->show();
    edtPin->setFocus();
}

TfrmPinAsk::~TfrmPinAsk()
{
    qApp->removeEventFilter(this);
}

bool TfrmPinAsk::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return QDialog::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    auto *key = static_cast<QKeyEvent *>(event);
    if (!widget || widget->window() != this || key->key() != Qt::Key_Escape)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyRelease && !key->isAutoRepeat())
        reject();
    return true;
}

TfrmProtection::TfrmProtection(DisarmProtection &protection, QWidget *parent)
    : QDialog(parent), m_protection(protection)
{
    setObjectName(QStringLiteral("frmProtection"));
    setWindowTitle(QStringLiteral("Disarm protection"));
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    chkLockScreen = new QCheckBox(QStringLiteral("Lock the screen when armed"));
    chkLockScreen->setObjectName(QStringLiteral("chkLockScreen"));
    chkLockScreen->setChecked(protection.lockEnabled());
    chkLockScreen->setToolTip(QStringLiteral("Unlocking the screen with your password disarms."));
    layout->addWidget(chkLockScreen);
    chkAskPin = new QCheckBox(QStringLiteral("Ask for a PIN to disarm or quit"));
    chkAskPin->setObjectName(QStringLiteral("chkAskPin"));
    chkAskPin->setChecked(protection.pinEnabled());
    layout->addWidget(chkAskPin);

    auto *form = new QFormLayout;
    edtCurrentPin = PinField("edtCurrentPin");
    edtNewPin = PinField("edtNewPin");
    edtRepeatPin = PinField("edtRepeatPin");
    form->addRow(QStringLiteral("Current PIN:"), edtCurrentPin);
    form->addRow(QStringLiteral("New PIN (4 to 12 digits):"), edtNewPin);
    form->addRow(QStringLiteral("New PIN again:"), edtRepeatPin);
    layout->addLayout(form);
    lblProtectionRefusal = RefusalLabel("lblProtectionRefusal");
    layout->addWidget(lblProtectionRefusal);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("btnsProtection"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmProtection::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(chkAskPin, &QCheckBox::toggled, this, &TfrmProtection::updateFields);
    updateFields();
    GiveWindowMnemonics(this);
    NameFieldsAfterLabels(this);
}

void TfrmProtection::updateFields()
{
    edtCurrentPin->setEnabled(m_protection.pinEnabled());
    edtNewPin->setEnabled(chkAskPin->isChecked());
    edtRepeatPin->setEnabled(chkAskPin->isChecked());
}

void TfrmProtection::accept()
{
    DisarmProtection::OptionChange change;
    change.lock = chkLockScreen->isChecked();
    change.askPin = chkAskPin->isChecked();
    change.currentPin = edtCurrentPin->text();
    if (change.askPin) {
        change.newPin = edtNewPin->text();
        change.repeatedPin = edtRepeatPin->text();
    }
    const QString refusal = m_protection.ChangeOptions(change);
    if (!refusal.isEmpty()) {
        lblProtectionRefusal->setText(refusal);
        lblProtectionRefusal->show();
        return;
    }
    QDialog::accept();
}
