// The autostart entry as real launchers read it: gio, dex and systemd's
// xdg-autostart generator each start a small fake program placed at paths
// full of characters launchers quote differently; the program records that
// it ran.

#include "alarm/Autostart.h"
#include "common/TestMain.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

const QString Generator =
    QStringLiteral("/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator");

// Runs a program to its end; false when it cannot be started or fails.
bool Run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
         QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The ExecStart= command of the unit the generator wrote, without its prefix
// characters (':' turns off variable expansion).
QString ExecStartOf(const QString &unitFile)
{
    QFile file(unitFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("ExecStart=")) {
            QString command = QString::fromUtf8(line.mid(10));
            while (!command.isEmpty() && QStringView(u":-+!@").contains(command.front()))
                command.remove(0, 1);
            return command;
        }
    }
    return {};
}

} // namespace

class TestAutostartLaunch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void launchersStartTheProgram_data();
    void launchersStartTheProgram();
};

void TestAutostartLaunch::launchersStartTheProgram_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << QStringLiteral("apps");
    QTest::newRow("spaces") << QStringLiteral("My Programs/Tarvo 2");
    QTest::newRow("apostrophe") << QStringLiteral("Tom's apps");
    QTest::newRow("double quote") << QStringLiteral("a \"quoted\" name");
    QTest::newRow("dollar") << QStringLiteral("$HOME $(id) ${x}");
    QTest::newRow("backslash") << QStringLiteral("back\\slash\\");
    QTest::newRow("percent") << QStringLiteral("100% %f %u %%");
    QTest::newRow("backtick") << QStringLiteral("`touch pwned`");
    QTest::newRow("tab") << QStringLiteral("tab\there");
    QTest::newRow("newline") << QStringLiteral("new\nline");
    QTest::newRow("everything") << QStringLiteral("it's \"$x\" \\ 5% `y`\t\n end ");
}

void TestAutostartLaunch::launchersStartTheProgram()
{
    QFETCH(QString, folder);
    for (const QString &tool : {QStringLiteral("gio"), QStringLiteral("dex")})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP("gio and dex are needed (packages libglib2.0-bin and dex)");
    if (!QFileInfo(Generator).isExecutable())
        QSKIP("systemd's xdg-autostart generator is needed (package systemd)");

    QTemporaryDir base;
    const QString dir = base.filePath(QStringLiteral("install/") + folder);
    QVERIFY(QDir().mkpath(dir));
    const QString program = dir + QStringLiteral("/tarvo2");
    {
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"$TARVO2_LAUNCHED_BY\" >> \"$TARVO2_LAUNCH_LOG\"\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QVERIFY(WriteAutostartEntry(program));
    const QString entry = AutostartEntryPath();
    const QString log = base.filePath(QStringLiteral("launched.log"));
    auto ran = [&]() -> QStringList {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    };

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVO2_LAUNCH_LOG"), log);
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")); // no session services here

    // gio: the GLib desktop-entry launcher.
    env.insert(QStringLiteral("TARVO2_LAUNCHED_BY"), QStringLiteral("gio"));
    QByteArray output;
    QVERIFY2(Run(QStringLiteral("gio"), {QStringLiteral("launch"), entry}, env, &output),
             output.constData());
    QTRY_VERIFY_WITH_TIMEOUT(ran().contains(QStringLiteral("gio")), 20000);

    // dex: the launcher of many window managers.
    env.insert(QStringLiteral("TARVO2_LAUNCHED_BY"), QStringLiteral("dex"));
    QVERIFY2(Run(QStringLiteral("dex"), {entry}, env, &output), output.constData());
    QTRY_VERIFY_WITH_TIMEOUT(ran().contains(QStringLiteral("dex")), 20000);

    // systemd: the generator turns the entry into a user unit; its command
    // must be the program (or launcher) path exactly, then it is run as the
    // service manager would.
    const QString units = base.filePath(QStringLiteral("units"));
    QVERIFY(QDir().mkpath(units));
    QProcessEnvironment genEnv = env;
    genEnv.insert(QStringLiteral("XDG_CONFIG_DIRS"), base.filePath(QStringLiteral("no-system")));
    QVERIFY2(Run(Generator, {units, units, units}, genEnv, &output), output.constData());
    const QString unit = units + QStringLiteral("/app-tarvo2@autostart.service");
    QVERIFY2(QFileInfo::exists(unit), output.constData());
    const QString command = ExecStartOf(unit);
    QVERIFY2(IsPlainLaunchPath(command), qPrintable(command));
    env.insert(QStringLiteral("TARVO2_LAUNCHED_BY"), QStringLiteral("systemd"));
    QVERIFY(Run(command, {}, env));
    QTRY_VERIFY_WITH_TIMEOUT(ran().contains(QStringLiteral("systemd")), 20000);

    QCOMPARE(ran(), (QStringList{QStringLiteral("gio"), QStringLiteral("dex"),
                                 QStringLiteral("systemd")}));
    QVERIFY(RemoveAutostartEntry());
    QVERIFY(!QFileInfo::exists(AutostartLauncherPath()));
}

TARVO_TEST_MAIN(TestAutostartLaunch)
#include "tst_autostartlaunch.moc"
