#pragma once
// The values of the sliders and number fields the alarm runs with, kept
// apart from any window: read from the store at start, written the moment
// one changes, and restored to their defaults on request.

#include <QHash>
#include <QObject>
#include <QString>

class GuardSettings : public QObject
{
    Q_OBJECT
public:
    explicit GuardSettings(QObject *parent = nullptr);

    // The value of a control named in the resettable settings' table.
    int value(const QString &control) const;
    // Clamps to the control's range, writes the store (throws RegistryError
    // when it cannot) and tells valueChanged when the value changed.
    void setValue(const QString &control, int value);
    static int minimum(const QString &control);
    static int maximum(const QString &control);
    // Start-up: the stored values (a value out of range is written back
    // clamped; one that is no number is left at the default).
    void load();
    // "Reset Settings to Default": every value but the kept one.
    void resetToDefaults();

Q_SIGNALS:
    void valueChanged(const QString &control, int value);

private:
    void store(const QString &control, int value);
    QHash<QString, int> m_values;
};
