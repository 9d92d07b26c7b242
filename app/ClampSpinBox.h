#pragma once
// A number field that takes any typed whole number and brings it into its
// range when editing finishes (250 in 0..100 becomes 100, 2 in 5..1440
// becomes 5), instead of refusing the keystroke or reverting. A field left
// empty goes back to the value it had.

#include <QSpinBox>

class ClampSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    explicit ClampSpinBox(QWidget *parent = nullptr);

protected:
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;

private:
    QString bareText(const QString &input) const; // without prefix, suffix, spaces
    bool parseNumber(const QString &input, qlonglong *number) const;
};
