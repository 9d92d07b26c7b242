#pragma once
// A small file beside the settings that says "this run is armed": written at
// arming, refreshed now and then as a sign of life, removed at disarming and
// at every orderly end. Found at the next start, it means the run ended
// while armed without a word (killed, crashed, power lost); the time it holds
// is its last sign of life. Only a regular file says so: anything else in
// its place (a FIFO, a link, a folder) is set aside and said once.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

class ArmedMarker : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultRefreshMs = 5 * 60 * 1000;

    explicit ArmedMarker(QString path, int refreshMs = DefaultRefreshMs, QObject *parent = nullptr);
    // An object that ends in order is an orderly end: its marker goes.
    ~ArmedMarker() override;

    QString path() const { return m_path; }
    // The last sign of life of a run that left its marker behind; nothing
    // when there is no marker or something else was set aside in its place.
    // Call before this run arms.
    std::optional<QDateTime> leftBehind();
    // Why what stood at the marker's place was set aside; empty when nothing was.
    QString problem() const { return m_problem; }
    // Writes the marker and keeps it fresh while armed; removes it otherwise.
    void setArmed(bool armed);
    void refresh();
    // The orderly end of the program: the marker goes, whatever the state.
    void remove();

    static QString DefaultPath(const QString &settingsFile);
    static QString UnexpectedEndText(const QDateTime &lastSignOfLife);
    static QString StopText(const QString &reason);
    // Whether a report message is one of the two texts above: the news that
    // the alarm no longer guards, which goes ahead of older alerts.
    static bool IsGuardNotice(const QString &message);

private:
    void setAside(const QString &what);

    QString m_path;
    QString m_problem;
    QTimer m_refresh;
    bool m_written = false;
};
