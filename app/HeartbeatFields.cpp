#include "app/HeartbeatFields.h"

#include "alerts/Heartbeat.h"
#include "app/FieldNames.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

HeartbeatFields::HeartbeatFields(QWidget *parent) : QWidget(parent)
{
    const HeartbeatConfig config = HeartbeatConfig::Load();
    edtHeartbeatUrl = new QLineEdit(config.url);
    edtHeartbeatUrl->setObjectName(QStringLiteral("edtHeartbeatUrl"));
    edtHeartbeatUrl->setPlaceholderText(QStringLiteral("optional: https://hc.example/ping/…"));
    spnHeartbeatMinutes = new QSpinBox;
    spnHeartbeatMinutes->setObjectName(QStringLiteral("spnHeartbeatMinutes"));
    spnHeartbeatMinutes->setRange(HeartbeatConfig::MinMinutes, HeartbeatConfig::MaxMinutes);
    spnHeartbeatMinutes->setValue(config.minutes);
    spnHeartbeatMinutes->setSuffix(QStringLiteral(" min"));
    auto *hint = new QLabel(QStringLiteral("While armed, this address is called at arming and "
                                           "then every interval; your monitor warns you when "
                                           "the calls stop."));
    hint->setWordWrap(true);

    auto *form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(QStringLiteral("Heartbeat URL:"), edtHeartbeatUrl);
    lblHeartbeatProblem = MakeProblemLabel(QStringLiteral("lblHeartbeatProblem"));
    form->addRow(static_cast<QWidget *>(nullptr), lblHeartbeatProblem);
    form->addRow(QStringLiteral("Every:"), spnHeartbeatMinutes);
    form->addRow(hint);
    connect(edtHeartbeatUrl, &QLineEdit::editingFinished, this, [this] { problem(); });
}

QString HeartbeatFields::problem() const
{
    const QString url = edtHeartbeatUrl->text().trimmed();
    const QString problem = url.isEmpty() ? QString() : HeartbeatConfig::UrlProblem(url);
    ShowFieldProblem(lblHeartbeatProblem, edtHeartbeatUrl, problem);
    return problem;
}

void HeartbeatFields::save() const
{
    HeartbeatConfig config;
    config.url = edtHeartbeatUrl->text().trimmed();
    config.minutes = spnHeartbeatMinutes->value();
    config.save();
}
