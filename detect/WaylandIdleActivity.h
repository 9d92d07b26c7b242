#pragma once
// Activity from a Wayland compositor through the ext-idle-notify-v1
// protocol (KDE Plasma, wlroots compositors): a notification with a short
// timeout; each "resumed" after an "idled" is activity. The connection is
// our own; its socket is watched on the UI thread.

#include "detect/ActivitySource.h"

#include <QByteArray>
#include <memory>

class WaylandIdleActivity : public ActivitySource
{
    Q_OBJECT
public:
    static constexpr int IdleTimeoutMilliseconds = 1000;

    // displayName: empty for $WAYLAND_DISPLAY.
    explicit WaylandIdleActivity(const QByteArray &displayName = QByteArray(),
                                 QObject *parent = nullptr);
    ~WaylandIdleActivity() override;

    bool available() const override;
    bool distinguishesKeys() const override { return false; }
    QString name() const override { return QStringLiteral("ext-idle-notify-v1"); }

    // Whether the compositor announced the protocol (also when no seat was
    // there to watch), for diagnostics.
    bool protocolOffered() const;
    bool idle() const;

    struct Impl;

private:
    void ReadEvents();
    void Close();
    std::unique_ptr<Impl> d;
};
