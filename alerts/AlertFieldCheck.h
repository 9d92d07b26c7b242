#pragma once
// Whether one field of an alert receiver holds something its service can
// use: a URL with a host, tokens, chat ids and room ids in the service's
// shape, e-mail addresses. The Alerts dialog tells the result at the field.

#include "alerts/AlertConfig.h"

namespace AlertFieldCheck {
enum class Field
{
    Url,
    Token,
    To,
    User,
    From
};

// Why the value cannot be used in that field for that kind, or empty.
QString problem(AlertConfig::Kind kind, Field field, const QString &value);
// The first problem among the fields the kind uses, or empty.
QString firstProblem(const AlertConfig &config);
// "name@host.example" or "Name <name@host.example>".
bool isMailAddress(const QString &text);
} // namespace AlertFieldCheck
