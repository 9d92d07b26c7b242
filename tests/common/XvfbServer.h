#pragma once
// A private Xvfb on a display number of its own, for tests of the X11 input
// path. The number is picked at random from a high range and tried: letting
// Xvfb probe from :0 (-displayfd alone) unlinks the sockets of servers that
// other tests run at the same time. -displayfd still tells when it is ready.
// -noreset: by default the server resets when its last client leaves, and a
// client that connects during that reset is dropped (XOpenDisplay() returns
// NULL): a test that closes its only connection and opens the next one at
// once runs into that, more often on a loaded machine. Started without Qt so
// that it can come up before the application object, and ended with it.

#include "common/ServerProcess.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <cstdlib>
#include <unistd.h>

class XvfbServer
{
public:
    // The X server of a whole test program. It must be there before the
    // application object picks its platform, so a test starts it from a
    // static initialiser: DISPLAY then names it and Qt's xcb platform is
    // chosen. False when it does not come up.
    static XvfbServer &forProgram()
    {
        static XvfbServer server;
        return server;
    }
    static bool startForProgram()
    {
        if (!forProgram().start())
            return false;
        ::setenv("DISPLAY", forProgram().display().constData(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        return true;
    }

    XvfbServer() = default;
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;
    ~XvfbServer() { stop(); }

    // False when Xvfb is missing or does not come up within 20 s.
    bool start()
    {
        for (int attempt = 0; attempt < 10; ++attempt) {
            const QByteArray display =
                ':' + QByteArray::number(200 + (getpid() * 31 + attempt * 977 + rand()) % 3000);
            if (startOn(display))
                return true;
        }
        return false;
    }

    bool startOn(const QByteArray &display)
    {
        const QByteArray number =
            m_server.start({"Xvfb", display, "-displayfd", "%fd", "-screen", "0", "1024x768x24",
                            "-nolisten", "tcp", "-noreset"});
        if (number.isEmpty())
            return false;
        m_display = ':' + number;
        return true;
    }

    void stop() { m_server.stop(); }

    QByteArray display() const { return m_display; }

    // Runs an X client (xdotool, xmessage, ...) on this display and waits
    // for it; its exit code, -1 when it did not run.
    int run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (output)
            *output = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

private:
    tarvo::test::ServerProcess m_server;
    QByteArray m_display;
};
