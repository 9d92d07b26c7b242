#pragma once
// Keyboard and pointer activity from the X server itself: XInput2 raw
// events selected on the root window over a connection of our own, so keys
// are seen whichever window has the focus. The connection's socket is
// watched on the UI thread; no thread of our own.

#include "detect/ActivitySource.h"

#include <QByteArray>
#include <memory>

class XInputActivity : public ActivitySource
{
    Q_OBJECT
public:
    // displayName: empty for $DISPLAY.
    explicit XInputActivity(const QByteArray &displayName = QByteArray(),
                            QObject *parent = nullptr);
    ~XInputActivity() override;

    bool available() const override;
    bool distinguishesKeys() const override { return true; }
    QString name() const override { return QStringLiteral("XInput2"); }

private:
    struct Impl;
    void ReadEvents();
    void Close();
    std::unique_ptr<Impl> d;
};
