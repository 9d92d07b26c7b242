#include "app/fmAlerts.h"

#include "alerts/AlertSender.h"
#include "app/FieldNames.h"
#include "app/HeartbeatFields.h"
#include "app/Mnemonics.h"
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

namespace {
using Kind = AlertConfig::Kind;
using Field = AlertFieldCheck::Field;

struct KindLook
{
    QString help;
    QString urlHint;
    bool token, to, user, from;
};

KindLook LookOf(Kind kind)
{
    switch (kind) {
    case Kind::Ntfy:
        break;
    case Kind::Webhook:
        return {QStringLiteral("Posts JSON (text, message, title, alarm, host, time, line) to "
                               "any URL, e.g. Home Assistant, n8n or Node-RED."),
                QStringLiteral("https://example.org/hooks/tarvo2"),
                true,
                false,
                true,
                false};
    case Kind::Slack:
        return {QStringLiteral("The URL of a Slack, Mattermost or Rocket.Chat incoming webhook."),
                QStringLiteral("https://hooks.slack.com/services/…"),
                false,
                false,
                false,
                false};
    case Kind::Discord:
        return {QStringLiteral("The URL of a Discord channel webhook."),
                QStringLiteral("https://discord.com/api/webhooks/…"),
                false,
                false,
                false,
                false};
    case Kind::Gotify:
        return {QStringLiteral("The Gotify server's address and an application token."),
                QStringLiteral("https://gotify.example.org"),
                true,
                false,
                false,
                false};
    case Kind::Matrix:
        return {QStringLiteral("The homeserver's address, an access token and the room id "
                               "(!room:server) in To."),
                QStringLiteral("https://matrix.example.org"),
                true,
                true,
                false,
                false};
    case Kind::Telegram:
        return {QStringLiteral("A bot token from @BotFather and the chat id in To; the URL may "
                               "stay empty."),
                QStringLiteral("https://api.telegram.org"),
                true,
                true,
                false,
                false};
    case Kind::Pushover:
        return {QStringLiteral("An application token and your user key in To; the URL may stay "
                               "empty."),
                QStringLiteral("https://api.pushover.net"),
                true,
                true,
                false,
                false};
    case Kind::Email:
        return {QStringLiteral("smtps://host or smtp://host (with STARTTLS), the login, its "
                               "password and the addresses in To."),
                QStringLiteral("smtps://mail.example.org"),
                true,
                true,
                true,
                true};
    }
    return {QStringLiteral("Publishes to a ntfy topic; User and Token for a protected "
                           "server."),
            QStringLiteral("https://ntfy.sh/my-secret-topic"),
            true,
            false,
            true,
            false};
}
} // namespace

TfrmAlerts::TfrmAlerts(AlertSender &sender, QWidget *parent) : QDialog(parent), m_sender(sender)
{
    setObjectName(QStringLiteral("frmAlerts"));
    setWindowTitle(QStringLiteral("Alerts"));
    const AlertConfig stored = AlertConfig::Load();

    m_form = new QFormLayout;
    cmbKind = new QComboBox;
    cmbKind->setObjectName(QStringLiteral("cmbKind"));
    for (Kind kind : AlertConfig::Kinds)
        cmbKind->addItem(AlertConfig::KindName(kind));
    cmbKind->setCurrentIndex(static_cast<int>(AlertConfig::Kinds.indexOf(stored.kind)));
    auto *kindLabel = new QLabel(QStringLiteral("&Kind:"));
    kindLabel->setBuddy(cmbKind);
    m_form->addRow(kindLabel, cmbKind);
    lblKindHelp = new QLabel;
    lblKindHelp->setObjectName(QStringLiteral("lblKindHelp"));
    lblKindHelp->setWordWrap(true);
    m_form->addRow(lblKindHelp);
    edtUrl = addField("edtUrl", QStringLiteral("&URL:"), stored.url, Field::Url);
    edtUrl->setMinimumWidth(320);
    lblUrlScheme =
        new QLabel(QStringLiteral("An address without http:// or https:// is taken as https://."));
    lblUrlScheme->setObjectName(QStringLiteral("lblUrlScheme"));
    lblUrlScheme->setWordWrap(true);
    m_form->addRow(QString(), lblUrlScheme);
    edtToken = addField("edtToken", QStringLiteral("&Token:"), stored.token, Field::Token);
    edtToken->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    edtTo = addField("edtTo", QStringLiteral("T&o:"), stored.to, Field::To);
    edtUser = addField("edtUser", QStringLiteral("U&ser:"), stored.user, Field::User);
    edtFrom = addField("edtFrom", QStringLiteral("&From:"), stored.from, Field::From);
    edtFrom->setPlaceholderText(QStringLiteral("your login @ this computer's full name"));

    btnSendTest = new QPushButton(QStringLiteral("Send test &alert"));
    btnSendTest->setObjectName(QStringLiteral("btnSendTest"));
    memAnswer = new QPlainTextEdit;
    memAnswer->setObjectName(QStringLiteral("memAnswer"));
    memAnswer->setAccessibleName(QStringLiteral("Answer to the test alert"));
    memAnswer->setReadOnly(true);
    memAnswer->setMaximumHeight(90);
    lblQueue = new QLabel(QStringLiteral("Waiting to be sent: %1, dropped: %2")
                              .arg(sender.pending())
                              .arg(sender.dropped()));
    lblQueue->setObjectName(QStringLiteral("lblQueue"));
    lblProblem = new QLabel(sender.lastProblem().isEmpty()
                                ? QString()
                                : QStringLiteral("Last problem: ") + sender.lastProblem());
    lblProblem->setObjectName(QStringLiteral("lblProblem"));
    lblProblem->setWordWrap(true);
    lblProblem->setVisible(!sender.lastProblem().isEmpty());

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(m_form);
    layout->addWidget(btnSendTest, 0, Qt::AlignLeft);
    layout->addWidget(memAnswer);
    layout->addWidget(lblQueue);
    layout->addWidget(lblProblem);
    heartbeat = new HeartbeatFields;
    layout->addWidget(heartbeat);
    layout->addWidget(buttons);
    showKind();
    // P stays free for the token's label, which reads Password for e-mail.
    GiveWindowMnemonics(this, {QLatin1Char('p')});
    NameFieldsAfterLabels(this);

    connect(cmbKind, &QComboBox::currentIndexChanged, this, &TfrmAlerts::showKind);
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

QLineEdit *TfrmAlerts::addField(const char *name, const QString &label, const QString &value,
                                Field check)
{
    auto *edit = new QLineEdit(value);
    edit->setObjectName(QString::fromLatin1(name));
    auto *caption = new QLabel(label);
    caption->setBuddy(edit);
    m_form->addRow(caption, edit);
    QLabel *problem = MakeProblemLabel(edit->objectName() + QStringLiteral("Problem"));
    m_form->addRow(static_cast<QWidget *>(nullptr), problem);
    m_problems.insert(edit, problem);
    m_checks.insert(edit, check);
    // Checked when left; a shown problem goes as soon as it is mended.
    connect(edit, &QLineEdit::editingFinished, this, [this, edit] { checkField(edit); });
    connect(edit, &QLineEdit::textEdited, this, [this, edit] {
        if (m_problems.value(edit)->isVisible())
            checkField(edit);
    });
    return edit;
}

TfrmAlerts::~TfrmAlerts()
{
    for (QLineEdit *field : m_problems.keys())
        field->disconnect(this);
}

QString TfrmAlerts::checkField(QLineEdit *field)
{
    QLabel *label = m_problems.value(field);
    const QString problem = m_form->isRowVisible(field)
                                ? AlertFieldCheck::problem(config(), m_checks.value(field))
                                : QString(); // a hidden field is not kept
    ShowFieldProblem(label, field, problem);
    growToText();
    return problem;
}

QString TfrmAlerts::checkFields()
{
    QString first;
    QLineEdit *firstField = nullptr;
    for (QLineEdit *field : {edtUrl, edtToken, edtTo, edtUser, edtFrom}) {
        const QString problem = checkField(field);
        if (!problem.isEmpty() && first.isEmpty()) {
            first = problem;
            firstField = field;
        }
    }
    if (firstField)
        firstField->setFocus(Qt::OtherFocusReason);
    return first;
}

void TfrmAlerts::showKind()
{
    const Kind kind = AlertConfig::KindFromName(cmbKind->currentText());
    const KindLook look = LookOf(kind);
    lblKindHelp->setText(look.help);
    edtUrl->setPlaceholderText(look.urlHint);
    m_form->setRowVisible(lblUrlScheme, kind != Kind::Email);
    m_form->setRowVisible(edtToken, look.token);
    m_form->setRowVisible(edtTo, look.to);
    m_form->setRowVisible(edtUser, look.user);
    m_form->setRowVisible(edtFrom, look.from);
    // What was wrong for the last kind may be right for this one.
    for (QLineEdit *field : {edtUrl, edtToken, edtTo, edtUser, edtFrom}) {
        if (!m_problems.value(field)->isHidden() || !field->text().isEmpty())
            checkField(field);
    }
    if (auto *label = qobject_cast<QLabel *>(m_form->labelForField(edtToken)))
        label->setText(kind == Kind::Email ? QStringLiteral("&Password:")
                                           : QStringLiteral("&Token:"));
    edtToken->setAccessibleName(kind == Kind::Email ? QStringLiteral("Password")
                                                    : QStringLiteral("Token"));
    edtToken->setPlaceholderText(
        kind == Kind::Ntfy || kind == Kind::Webhook ? QStringLiteral("optional") : QString());
    edtUser->setPlaceholderText(kind == Kind::Email ? QStringLiteral("login")
                                                    : QStringLiteral("optional"));
    growToText();
}

void TfrmAlerts::growToText()
{
    if (!isVisible() || !layout()->hasHeightForWidth())
        return;
    layout()->activate();
    const int needed = layout()->totalHeightForWidth(width());
    if (needed > height())
        resize(width(), needed);
}

void TfrmAlerts::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    growToText();
}

AlertConfig TfrmAlerts::config() const
{
    AlertConfig config;
    config.kind = AlertConfig::KindFromName(cmbKind->currentText());
    const KindLook look = LookOf(config.kind);
    config.url = edtUrl->text().trimmed();
    // Only what the kind uses is kept, so a hidden field sends nothing.
    config.token = look.token ? edtToken->text().trimmed() : QString();
    config.to = look.to ? edtTo->text().trimmed() : QString();
    config.user = look.user ? edtUser->text().trimmed() : QString();
    config.from = look.from ? edtFrom->text().trimmed() : QString();
    return config;
}

bool TfrmAlerts::save()
{
    const AlertConfig config = this->config();
    const QString refusal = config.refusal();
    const QString fields = checkFields();
    const QString problem = !refusal.isEmpty()  ? refusal
                            : !fields.isEmpty() ? fields
                                                : heartbeat->problem();
    if (!problem.isEmpty()) {
        lblProblem->setText(QStringLiteral("Not saved: %1.").arg(problem));
        lblProblem->setVisible(true);
        return false;
    }
    try {
        config.save();
        heartbeat->save();
    } catch (const RegistryError &error) {
        QMessageBox::critical(this, QStringLiteral("Tarvo2"), error.message());
        return false;
    }
    m_sender.retryNow();
    return true;
}

void TfrmAlerts::sendTest()
{
    if (const QString problem = checkFields(); !problem.isEmpty()) {
        memAnswer->setPlainText(QStringLiteral("Not sent: %1.").arg(problem));
        return;
    }
    AlertEvent event;
    event.host = AlertEvent::HostName();
    event.event = QStringLiteral("Test alert");
    event.time = AlertEvent::CurrentTime();
    event.line = ReportLog::FormatLine(QDateTime::currentDateTime(), event.event);
    memAnswer->setPlainText(QStringLiteral("Sending…"));
    btnSendTest->setEnabled(false);
    m_sender.sendTest(config(), event);
}
