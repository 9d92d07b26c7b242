#pragma once
// Keeps one copy of the program per user. A lock file in a private per-user
// folder decides which copy runs; that copy listens on a local socket beside
// it, and a later copy sends it a restore request there and ends.
//
// The folder depends on the user id only, never on the environment, so two
// copies of one user find the same lock whatever their XDG_RUNTIME_DIR or
// TMPDIR: /run/user/<uid> when the system made it for this user, else the
// first of /tmp/tarvo2-<uid>[-n] that this user owns (or creates) with no
// access for anyone else, else a folder in the home. A folder someone else
// owns or can enter is never used. A copy running with its lock in another
// of these folders (made before /run/user/<uid> existed) is found too. Both sides check the peer's
// user id on the socket before a request or an activation token crosses it.

#include <QByteArray>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

class QLocalSocket;

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // name: the lock's name; DefaultName() for the program.
    explicit SingleInstance(const QString &name = DefaultName(), QObject *parent = nullptr);
    // Tests: the candidate folders, in order, instead of the user's own.
    SingleInstance(const QString &name, const QStringList &candidateFolders,
                   QObject *parent = nullptr);
    ~SingleInstance() override;

    // "Tarvo2"; test runs add TARVO2_TEST_INSTANCE (letters, digits, '-',
    // '_') so that copies of several tests can run side by side.
    static QString DefaultName();
    // The per-user candidates for uid, in the order every copy tries them.
    static QStringList CandidateFolders(uid_t uid);
    // The first candidate this user owns with mode 0700 (created when
    // missing, except the first /run/user one); empty when none is usable.
    // Explains each refused candidate in *refused when given.
    static QString ChooseFolder(const QStringList &candidates, uid_t uid,
                                QStringList *refused = nullptr);
    // Whether a connected local socket's other end runs as this user.
    static bool PeerIsSameUser(qintptr descriptor);

    // True: this is the running copy and now listens for restore requests
    // (also when no private folder is usable: better two copies than none).
    bool tryBecomePrimary();
    bool isPrimary() const { return m_primary; }
    bool isListening() const { return m_server.isListening(); }

    // For a later copy: hands the restore request, with $XDG_ACTIVATION_TOKEN
    // if set, to the running copy; true once that copy has confirmed it.
    bool sendRestoreRequest(int timeoutMs = 2000);

    // For a later copy: a command line's request to the running copy, and
    // its one-line answer; nullopt when no copy runs or it did not answer.
    std::optional<QByteArray> sendCommand(const QByteArray &command, int timeoutMs = 3000);
    // The running copy: answers the command line's requests.
    void setCommandHandler(std::function<QByteArray(const QByteArray &)> handler)
    {
        m_commandHandler = std::move(handler);
    }

    QString folder() const { return m_folder; }
    QString lockFilePath() const;
    QString serverPath() const;

Q_SIGNALS:
    // The running copy: XDG_ACTIVATION_TOKEN has been set from the request
    // (when it carried one) before this is emitted; the window restores itself.
    void restoreRequested(const QByteArray &activationToken);

private:
    void Listen();
    void AcceptConnection();
    void ReadRequest(QLocalSocket *socket);
    std::optional<QByteArray> Exchange(const QByteArray &request, int timeoutMs);

    QString m_name;
    QStringList m_candidates;
    QString m_folder;
    QStringList m_otherFolders; // private candidates besides m_folder
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    QTimer m_relisten; // the server closes for good after a failed accept()
    bool m_primary = false;
    std::function<QByteArray(const QByteArray &)> m_commandHandler;
};
