#include "app/ClampSpinBox.h"

#include <QRegularExpression>
#include <algorithm>

ClampSpinBox::ClampSpinBox(QWidget *parent) : QSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

QString ClampSpinBox::bareText(const QString &input) const
{
    QString text = input.trimmed();
    if (!prefix().isEmpty() && text.startsWith(prefix()))
        text.remove(0, prefix().size());
    if (!suffix().isEmpty() && text.endsWith(suffix()))
        text.chop(suffix().size());
    return text.trimmed();
}

bool ClampSpinBox::parseNumber(const QString &input, qlonglong *number) const
{
    const QString text = bareText(input);
    // Digits only (with a sign): no group separators, nothing QSpinBox itself
    // would not read either.
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]{1,18}$"));
    if (!digits.match(text).hasMatch())
        return false;
    bool ok = false;
    *number = text.toLongLong(&ok);
    return ok;
}

QValidator::State ClampSpinBox::validate(QString &input, int &pos) const
{
    const QValidator::State state = QSpinBox::validate(input, pos);
    if (state != QValidator::Invalid)
        return state;
    qlonglong number = 0;
    // An out-of-range number is kept while typing; fixup() brings it in.
    return parseNumber(input, &number) ? QValidator::Intermediate : state;
}

void ClampSpinBox::fixup(QString &input) const
{
    if (bareText(input).isEmpty()) {
        // An emptied field (a stray Space, Delete or Backspace) keeps the
        // value it had: an empty text never changed it.
        input = prefix() + textFromValue(value()) + suffix();
        return;
    }
    qlonglong number = 0;
    if (!parseNumber(input, &number)) {
        QSpinBox::fixup(input);
        return;
    }
    const qlonglong clamped = std::clamp<qlonglong>(number, minimum(), maximum());
    input = prefix() + textFromValue(int(clamped)) + suffix();
}
