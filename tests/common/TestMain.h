#pragma once
// Entry point for every test executable: before Qt starts, point HOME and the
// XDG folders at a fresh temporary folder, so no test ever reads or writes the
// real user's settings, autostart entries or data, and keep SDL off real
// sound cards unless the test chose a driver itself.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

namespace tarvo::test {

inline QString prepareTestHome()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/tarvo2-test-XXXXXX"));
    const QString root = home.path();
    for (const char *sub : {"config", "data", "cache", "runtime"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto set = [&](const char *name, const QString &value) {
        ::setenv(name, QFile::encodeName(value).constData(), 1);
    };
    set("HOME", root);
    set("XDG_CONFIG_HOME", root + QStringLiteral("/config"));
    set("XDG_DATA_HOME", root + QStringLiteral("/data"));
    set("XDG_CACHE_HOME", root + QStringLiteral("/cache"));
    set("XDG_RUNTIME_DIR", root + QStringLiteral("/runtime"));
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
