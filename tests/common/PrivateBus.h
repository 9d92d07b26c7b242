#pragma once
// A private D-Bus daemon for a test: its socket in a folder of its own, a
// configuration that starts none of the machine's services on demand (a
// name is there only when a test puts it there), and its address as the
// daemon printed it. It can be up before the application object.

#include "common/ServerProcess.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace tarvo::test {

class PrivateBus
{
public:
    // False when dbus-daemon is missing or tells no address within 20 s.
    bool start()
    {
        if (m_server.running())
            return true;
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly))
            return false;
        file.write("<busconfig><type>session</type><listen>unix:dir=" +
                   m_dir.path().toHtmlEscaped().toUtf8() +
                   "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n");
        file.close();

        m_address = QString::fromUtf8(
            m_server.start({"dbus-daemon", "--nofork", "--config-file=" + QFile::encodeName(config),
                            "--print-address=%fd"}));
        return !m_address.isEmpty();
    }

    void stop() { m_server.stop(); }

    // Empty until the daemon runs.
    QString address() const { return m_server.running() ? m_address : QString(); }

private:
    QTemporaryDir m_dir;
    ServerProcess m_server;
    QString m_address;
};

} // namespace tarvo::test
