#pragma once
// Entry point for every test executable: before Qt starts, point HOME, the
// XDG folders and TMPDIR at a fresh temporary folder, so no test ever reads or
// writes the real user's settings, autostart entries or data and every
// temporary folder of the test goes with its home, and keep SDL off real
// sound cards unless the test chose a driver itself.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno> // program_invocation_short_name
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tarvo::test {

// Keeps an flock on folder while this process lives (released by the kernel
// however it ends): tests/common/clean_test_homes.sh removes only folders
// nobody holds, so it can clean up after a test killed by a timeout while
// other tests run.
inline void holdTestFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        ::close(fd);
}

inline QString prepareTestHome()
{
    // Named after the test program: a folder left behind tells whose it is.
    QString program = QString::fromLocal8Bit(program_invocation_short_name).left(24);
    for (QChar &c : program)
        if (!c.isLetterOrNumber() && c != u'_')
            c = u'_';
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/tarvo2-test-") + program +
                              QStringLiteral("-XXXXXX"));
    const QString root = home.path();
    static const bool held = (holdTestFolder(root), true);
    Q_UNUSED(held);
    for (const char *sub : {"config", "data", "cache", "runtime", "tmp"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Others may pass through (not list) to reach a folder a test opened
    // for a child running as another user.
    for (const QString &folder : {root, root + QStringLiteral("/tmp")})
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ExeGroup | QFile::ExeOther);
    auto set = [&](const char *name, const QString &value) {
        ::setenv(name, QFile::encodeName(value).constData(), 1);
    };
    set("HOME", root);
    set("XDG_CONFIG_HOME", root + QStringLiteral("/config"));
    set("XDG_DATA_HOME", root + QStringLiteral("/data"));
    set("XDG_CACHE_HOME", root + QStringLiteral("/cache"));
    set("XDG_RUNTIME_DIR", root + QStringLiteral("/runtime"));
    set("TMPDIR", root + QStringLiteral("/tmp"));
    // No test reaches the developer's own session or system bus, journal or
    // syslog; tests that need a bus start a private one and point these at it.
    const QString noBus = QStringLiteral("unix:path=") + root + QStringLiteral("/no-bus");
    // (A test whose private bus must be there before this runs says so.)
    if (!qEnvironmentVariableIsSet("TARVO2_TEST_OWN_SESSION_BUS"))
        set("DBUS_SESSION_BUS_ADDRESS", noBus);
    set("DBUS_SYSTEM_BUS_ADDRESS", noBus);
    ::setenv("TARVO2_NO_SYSTEM_LOG", "1", 1);
    ::unsetenv("PULSE_SERVER");
    // The single-instance lock lives in a per-user folder whatever the
    // environment; its name keeps tests apart (inherited by child copies).
    ::setenv("TARVO2_TEST_INSTANCE", QFile::encodeName(QDir(root).dirName()).constData(), 0);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    // Windows under test start with an empty sounds folder unless a test
    // offers the program's own sounds itself.
    ::setenv("TARVO2_DEFAULT_SOUNDS", "", 0);
    return root;
}

} // namespace tarvo::test

#define TARVO_TEST_MAIN(TestObject)                                                                \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        tarvo::test::prepareTestHome();                                                            \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
