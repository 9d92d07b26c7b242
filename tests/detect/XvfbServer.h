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

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

class XvfbServer
{
public:
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
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        const QByteArray fd = QByteArray::number(fds[1]);
        const char *argv[] = {"Xvfb", display.constData(), "-displayfd", fd.constData(), "-screen",
                              "0",    "1024x768x24",       "-nolisten",  "tcp",          "-noreset",
                              nullptr};
        m_pid = fork();
        if (m_pid == 0) {
            // The server ends with the test, also when the test is killed.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(fds[0]);
            execvp("Xvfb", const_cast<char *const *>(argv));
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            m_pid = 0;
            close(fds[0]);
            return false;
        }
        QByteArray number;
        pollfd p{fds[0], POLLIN, 0};
        while (!number.endsWith('\n') && poll(&p, 1, 20000) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1)
                break;
            number.append(c);
        }
        close(fds[0]);
        if (!number.endsWith('\n')) {
            stop();
            return false;
        }
        m_display = ':' + number.trimmed();
        return true;
    }

    void stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = 0;
    }

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
    pid_t m_pid = 0;
    QByteArray m_display;
};
