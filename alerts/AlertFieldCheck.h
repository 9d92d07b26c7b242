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

// Why that field of config cannot be used by its kind, or empty. With
// every field empty alerts are off, which is no problem.
QString problem(const AlertConfig &config, Field field);
// The first problem among the fields the kind uses, or empty.
QString firstProblem(const AlertConfig &config);
// "name@host.example" or "Name <name@host.example>".
bool isMailAddress(const QString &text);
} // namespace AlertFieldCheck
