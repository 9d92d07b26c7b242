#include "settings/ResetableSettings.h"

#include <QRegularExpression>
#include <algorithm>
#include <climits>

QString ResetableValueName(const QString &control)
{
    return QStringLiteral("frmMain") + control;
}

std::optional<int> ParseStoredInteger(const QString &data)
{
    static const QRegularExpression decimal(
        QRegularExpression::anchoredPattern(QStringLiteral("-?[0-9]+")));
    if (!decimal.match(data).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong value = data.toLongLong(&ok);
    if (!ok) // more digits than any integer holds: clamp by its sign
        return data.startsWith(QLatin1Char('-')) ? INT_MIN : INT_MAX;
    // Huge numbers are still numbers: the control clamps them into its range.
    return int(std::clamp<qlonglong>(value, INT_MIN, INT_MAX));
}
