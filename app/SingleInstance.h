#pragma once
// Keeps one copy of the program per user. A lock file in the user's runtime
// folder decides which copy runs; that copy listens on a local socket beside
// it, and a later copy sends it a restore request there and ends.

#include <QByteArray>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalSocket;

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString &name = QStringLiteral("Tarvo2"),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // True: this is the running copy and now listens for restore requests
    // (also when the runtime folder is unusable: better two copies than none).
    bool tryBecomePrimary();
    bool isPrimary() const { return m_primary; }

    // For a later copy: hands the restore request, with $XDG_ACTIVATION_TOKEN
    // if set, to the running copy; true once that copy has confirmed it.
    bool sendRestoreRequest(int timeoutMs = 2000);

    QString lockFilePath() const;
    QString serverPath() const;

Q_SIGNALS:
    // The running copy: XDG_ACTIVATION_TOKEN has been set from the request
    // (when it carried one) before this is emitted; the window restores itself.
    void restoreRequested(const QByteArray &activationToken);

private:
    void AcceptConnection();
    void ReadRequest(QLocalSocket *socket);

    QString m_name;
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    bool m_primary = false;
};
