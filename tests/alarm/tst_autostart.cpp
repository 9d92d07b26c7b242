#include "alarm/Autostart.h"
#include "common/TestMain.h"

#include <QFile>

namespace {
QString ExecLineOf(const QByteArray &entry)
{
    for (const QByteArray &line : entry.split('\n'))
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line.mid(5));
    return {};
}
} // namespace

class TestAutostart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entryLivesInTheTestHome()
    {
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(config.contains(QLatin1String("tarvo2-test-")));
        QCOMPARE(AutostartEntryPath(), config + QStringLiteral("/autostart/tarvo2.desktop"));
    }

    void execText_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << QStringLiteral("/opt/Tarvo2/tarvo2")
                               << QStringLiteral("\"/opt/Tarvo2/tarvo2\"");
        QTest::newRow("space") << QStringLiteral("/my apps/tarvo2")
                               << QStringLiteral("\"/my apps/tarvo2\"");
        QTest::newRow("dollar") << QStringLiteral("/a$b") << QStringLiteral("\"/a\\\\$b\"");
        QTest::newRow("quote") << QStringLiteral("/a\"b") << QStringLiteral("\"/a\\\\\"b\"");
        QTest::newRow("backslash") << QStringLiteral("/a\\b") << QStringLiteral("\"/a\\\\\\\\b\"");
        QTest::newRow("percent") << QStringLiteral("/100%/t")
                                 << QStringLiteral("/usr/bin/env \"/100%%/t\"");
        QTest::newRow("newline") << QStringLiteral("/a\nb") << QStringLiteral("\"/a\\nb\"");
    }
    void execText()
    {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(DesktopEntryExec(path), exec);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("path");
        const QStringList paths{
            QStringLiteral("/opt/Tarvo2/tarvo2"),
            QStringLiteral("/home/me/My Programs/Tarvo 2/tarvo2"),
            QStringLiteral("/home/me/\"quoted\"/tarvo2"),
            QStringLiteral("/home/me/it's/tarvo2"),
            QStringLiteral("/home/$USER/$(id)/tarvo2"),
            QStringLiteral("/home/me/`touch /tmp/pwned`/tarvo2"),
            QStringLiteral("/home/me/a; rm -rf ~ ;/tarvo2"),
            QStringLiteral("/home/me/a && b | c > d < e/tarvo2"),
            QStringLiteral("/home/me/back\\slash\\/tarvo2\\"),
            QStringLiteral("/home/me/\\\"/tarvo2"),
            QStringLiteral("/home/me/100%/tarvo2"),
            QStringLiteral("/home/me/%f %u %%/tarvo2"),
            QStringLiteral("/home/me/~*?#()[]{}/tarvo2"),
            QStringLiteral("/home/me/new\nline/tab\there/cr\r/tarvo2"),
            QStringLiteral("/home/me/\\s\\n/tarvo2"),
            QStringLiteral("/home/mä/日本/tarvo2"),
            QStringLiteral("/home/me/ leading and trailing /tarvo2 "),
        };
        for (const QString &path : paths)
            QTest::newRow(qPrintable(path)) << path;
    }
    void roundTrip()
    {
        QFETCH(QString, path);
        const QString exec = DesktopEntryExec(path);
        QVERIFY(!exec.isEmpty());
        // One line in the entry file, whatever the path holds.
        QVERIFY(!exec.contains(QLatin1Char('\n')) && !exec.contains(QLatin1Char('\r')));
        const QStringList expected = path.contains(QLatin1Char('%'))
                                         ? QStringList{QStringLiteral("/usr/bin/env"), path}
                                         : QStringList{path};
        QCOMPARE(ParseDesktopExec(exec), expected);
    }

    void parserRefusesMalformed_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::newRow("empty") << QString();
        QTest::newRow("unterminated") << QStringLiteral("\"/a b");
        QTest::newRow("unquoted dollar") << QStringLiteral("/a$b");
        QTest::newRow("unquoted semicolon") << QStringLiteral("/a;b");
        QTest::newRow("unescaped dollar in quotes") << QStringLiteral("\"/a$b\"");
        QTest::newRow("unescaped backtick in quotes") << QStringLiteral("\"/a`id`\"");
        QTest::newRow("unknown string escape") << QStringLiteral("\"/a\\qb\"");
        QTest::newRow("unknown quote escape") << QStringLiteral("\"/a\\\\qb\"");
        QTest::newRow("field code") << QStringLiteral("/a %f");
        QTest::newRow("lone percent") << QStringLiteral("\"/a%\"");
        QTest::newRow("text after quote") << QStringLiteral("\"/a\"b");
        QTest::newRow("trailing backslash") << QStringLiteral("\"/a\\");
    }
    void parserRefusesMalformed()
    {
        QFETCH(QString, exec);
        QVERIFY(ParseDesktopExec(exec).isEmpty());
    }

    void parserSplitsArguments()
    {
        // String escapes come first, so "\s" outside quotes splits.
        QCOMPARE(ParseDesktopExec(QStringLiteral("/usr/bin/env \"/a b\"  \"x\\sy\" u\\sv")),
                 (QStringList{QStringLiteral("/usr/bin/env"), QStringLiteral("/a b"),
                              QStringLiteral("x y"), QStringLiteral("u"), QStringLiteral("v")}));
    }

    void unwritablePathsAreRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << QString();
        QTest::newRow("control character") << QStringLiteral("/a\x01z");
        QTest::newRow("escape character") << QStringLiteral("/a\x1bz");
    }
    void unwritablePathsAreRefused()
    {
        QFETCH(QString, path);
        QVERIFY(DesktopEntryExec(path).isEmpty());
        QVERIFY(RemoveAutostartEntry());
        QVERIFY(!WriteAutostartEntry(path));
        QVERIFY(!AutostartEntryExists());
    }

    void writeAndRemove()
    {
        const QString exe = QStringLiteral("/home/me/My \"Tarvo\" $HOME 50%/tarvo2");
        QVERIFY(RemoveAutostartEntry());
        QVERIFY(!AutostartEntryExists());
        QVERIFY(WriteAutostartEntry(exe));
        QVERIFY(AutostartEntryExists());
        QFile file(AutostartEntryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray entry = file.readAll();
        file.close();
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY(entry.contains("\nType=Application\n"));
        QVERIFY(entry.contains("\nName=Tarvo2\n"));
        // Started through the launcher beside it, which holds the real path.
        QCOMPARE(ExecLineOf(entry), AutostartLauncherPath());
        QVERIFY(IsPlainLaunchPath(AutostartLauncherPath()));
        QFile launcher(AutostartLauncherPath());
        QVERIFY(launcher.open(QIODevice::ReadOnly));
        QCOMPARE(launcher.readAll(), LauncherScript(exe));
        launcher.close();
        QVERIFY(launcher.permissions() & QFile::ExeOwner);

        QVERIFY(WriteAutostartEntry(QStringLiteral("/opt/tarvo2"))); // replaces it
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(ExecLineOf(file.readAll()), QStringLiteral("/opt/tarvo2"));
        file.close();
        QVERIFY(!launcher.exists()); // a plain path needs none

        QVERIFY(WriteAutostartEntry(exe));
        QVERIFY(launcher.exists());
        QVERIFY(RemoveAutostartEntry());
        QVERIFY(!AutostartEntryExists());
        QVERIFY(!launcher.exists());
        QVERIFY(RemoveAutostartEntry());
    }
};

TARVO_TEST_MAIN(TestAutostart)
#include "tst_autostart.moc"
