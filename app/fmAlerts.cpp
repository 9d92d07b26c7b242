#include "app/fmAlerts.h"

#include "alerts/AlertSender.h"
#include "report/ReportLog.h"
#include "settings/gRegistry.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmAlerts::TfrmAlerts(AlertSender &sender, QWidget *parent) : QDialog(parent), m_sender(sender)
{
    setObjectName(QStringLiteral("frmAlerts"));
    setWindowTitle(QStringLiteral("Alerts"));
    const AlertConfig config = AlertConfig::Load();

    edtUrl = new QLineEdit(config.url);
    edtUrl->setObjectName(QStringLiteral("edtUrl"));
    edtUrl->setPlaceholderText(QStringLiteral("https://ntfy.sh/my-secret-topic"));
    edtUrl->setMinimumWidth(320);
    cmbKind = new QComboBox;
    cmbKind->setObjectName(QStringLiteral("cmbKind"));
    cmbKind->addItem(QStringLiteral("ntfy"));
    cmbKind->addItem(QStringLiteral("webhook"));
    cmbKind->setCurrentIndex(config.kind == AlertConfig::Kind::Webhook ? 1 : 0);
    edtToken = new QLineEdit(config.token);
    edtToken->setObjectName(QStringLiteral("edtToken"));
    edtToken->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    edtToken->setPlaceholderText(QStringLiteral("optional"));

    btnSendTest = new QPushButton(QStringLiteral("&Send test alert"));
    btnSendTest->setObjectName(QStringLiteral("btnSendTest"));
    memAnswer = new QPlainTextEdit;
    memAnswer->setObjectName(QStringLiteral("memAnswer"));
    memAnswer->setReadOnly(true);
    memAnswer->setMaximumHeight(90);
    lblQueue = new QLabel(QStringLiteral("Waiting to be sent: %1, dropped: %2")
                              .arg(sender.pending())
                              .arg(sender.dropped()));
    lblQueue->setObjectName(QStringLiteral("lblQueue"));

    auto *form = new QFormLayout;
    // Each label's mnemonic takes the focus to its field (its buddy).
    form->addRow(QStringLiteral("&URL:"), edtUrl);
    form->addRow(QStringLiteral("&Kind:"), cmbKind);
    form->addRow(QStringLiteral("&Token:"), edtToken);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(btnSendTest, 0, Qt::AlignLeft);
    layout->addWidget(memAnswer);
    layout->addWidget(lblQueue);
    layout->addWidget(buttons);

    connect(btnSendTest, &QPushButton::clicked, this, &TfrmAlerts::sendTest);
    connect(&m_sender, &AlertSender::testFinished, this, [this](bool, const QString &answer) {
        memAnswer->setPlainText(answer);
        btnSendTest->setEnabled(true);
    });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool TfrmAlerts::save()
{
    AlertConfig config;
    config.url = edtUrl->text().trimmed();
    config.kind = AlertConfig::KindFromName(cmbKind->currentText());
    config.token = edtToken->text().trimmed();
    try {
        config.save();
    } catch (const RegistryError &error) {
        QMessageBox::critical(this, QStringLiteral("Tarvo2"), error.message());
        return false;
    }
    m_sender.retryNow();
    return true;
}

void TfrmAlerts::sendTest()
{
    AlertConfig config;
    config.url = edtUrl->text().trimmed();
    config.kind = AlertConfig::KindFromName(cmbKind->currentText());
    config.token = edtToken->text().trimmed();
    AlertEvent event;
    event.host = AlertEvent::HostName();
    event.event = QStringLiteral("Test alert");
    event.time = AlertEvent::CurrentTime();
    event.line = ReportLog::FormatLine(QDateTime::currentDateTime(), event.event);
    memAnswer->setPlainText(QStringLiteral("Sending…"));
    btnSendTest->setEnabled(false);
    m_sender.sendTest(config, event);
}
