#pragma once
// A server a test starts without Qt (so that it can be up before the
// application object) and that tells on a pipe when it is ready, as Xvfb
// (-displayfd) and dbus-daemon (--print-address) do. It ends with the
// object, and with the test if that is killed.

#include <QByteArray>
#include <QList>

#include <csignal>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tarvo::test {

class ServerProcess
{
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;
    ~ServerProcess() { stop(); }

    // Starts arguments[0] (looked up in PATH); "%fd" in an argument stands
    // for the pipe the server writes its ready line to. The line, without
    // its end; empty when the server did not start or told nothing within
    // 20 s (it is then ended).
    QByteArray start(QList<QByteArray> arguments)
    {
        stop();
        int fds[2];
        if (arguments.isEmpty() || pipe(fds) != 0)
            return {};
        std::vector<const char *> argv;
        for (QByteArray &argument : arguments) {
            argument.replace("%fd", QByteArray::number(fds[1]));
            argv.push_back(argument.constData());
        }
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(fds[0]);
            execvp(argv[0], const_cast<char *const *>(argv.data()));
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            m_pid = 0;
            close(fds[0]);
            return {};
        }
        QByteArray line;
        pollfd p{fds[0], POLLIN, 0};
        while (!line.endsWith('\n') && poll(&p, 1, 20000) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1)
                break;
            line.append(c);
        }
        close(fds[0]);
        if (!line.endsWith('\n') || line.trimmed().isEmpty()) {
            stop();
            return {};
        }
        return line.trimmed();
    }

    void stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = 0;
    }

    bool running() const { return m_pid > 0; }

private:
    pid_t m_pid = 0;
};

} // namespace tarvo::test
