// The command line: options, errors, and the display check made before a
// window is opened.

#include "common/TestMain.h"

#include "app/CommandLine.h"

using Action = CommandLineOutcome::Action;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Tarvo2"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3.4"));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("exits");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("textHas");
        QTest::newRow("nothing") << QStringList{} << false << 0 << "";
        QTest::newRow("--help") << QStringList{"--help"} << true << 0 << "--version";
        QTest::newRow("-h") << QStringList{"-h"} << true << 0 << "Usage:";
        QTest::newRow("--version") << QStringList{"--version"} << true << 0 << "Tarvo2 1.2.3.4";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << true << 2 << "frobnicate";
        QTest::newRow("unknown short") << QStringList{"-x"} << true << 2 << "'x'";
        QTest::newRow("stray argument") << QStringList{"file.wav"} << true << 2 << "file.wav";
        QTest::newRow("Qt's platform") << QStringList{"-platform", "offscreen"} << false << 0 << "";
        QTest::newRow("Qt's style") << QStringList{"-style=fusion", "-reverse"} << false << 0 << "";
        QTest::newRow("platform without value") << QStringList{"-platform"} << true << 2 << "";
        QTest::newRow("--arm") << QStringList{"--arm"} << false << 0 << "";
        QTest::newRow("--status --json") << QStringList{"--status", "--json"} << false << 0 << "";
        QTest::newRow("two requests")
            << QStringList{"--arm", "--disarm"} << true << 2 << "one at a time";
        QTest::newRow("--json alone") << QStringList{"--json"} << true << 2 << "--status";
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, exits);
        QFETCH(int, exitCode);
        QFETCH(QString, textHas);
        arguments.prepend(QStringLiteral("tarvo2"));
        const CommandLineOutcome outcome = ParseCommandLine(arguments);
        QCOMPARE(outcome.action == Action::Exit, exits);
        QCOMPARE(outcome.exitCode, exitCode);
        QVERIFY2(outcome.text.contains(textHas), qPrintable(outcome.text));
    }

    void display_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<bool>("usable");
        QTest::newRow("X") << QStringList{} << QByteArray() << QByteArray(":0") << QByteArray()
                           << true;
        QTest::newRow("Wayland") << QStringList{} << QByteArray() << QByteArray()
                                 << QByteArray("wayland-0") << true;
        QTest::newRow("none") << QStringList{} << QByteArray() << QByteArray() << QByteArray()
                              << false;
        QTest::newRow("offscreen")
            << QStringList{} << QByteArray("offscreen") << QByteArray() << QByteArray() << true;
        QTest::newRow("offscreen with size")
            << QStringList{} << QByteArray("offscreen:size=800x600") << QByteArray() << QByteArray()
            << true;
        QTest::newRow("xcb without X") << QStringList{} << QByteArray("xcb") << QByteArray()
                                       << QByteArray("wayland-0") << false;
        QTest::newRow("wayland without Wayland")
            << QStringList{} << QByteArray("wayland") << QByteArray(":0") << QByteArray() << false;
        QTest::newRow("fallback list") << QStringList{} << QByteArray("wayland;xcb")
                                       << QByteArray(":0") << QByteArray() << true;
        QTest::newRow("-platform wins")
            << QStringList{"-platform", "offscreen"} << QByteArray("xcb") << QByteArray()
            << QByteArray() << true;
        QTest::newRow("-display") << QStringList{"-display", ":1"} << QByteArray() << QByteArray()
                                  << QByteArray() << true;
    }

    void display()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, platform);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, wayland);
        QFETCH(bool, usable);
        arguments.prepend(QStringLiteral("tarvo2"));
        const QString reason = MissingDisplayReason(arguments, platform, display, wayland);
        QCOMPARE(reason.isEmpty(), usable);
        QVERIFY(!reason.contains(QLatin1Char('\n')));
    }

    // The reason names only what is really missing.
    void reasonNamesWhatIsMissing_data()
    {
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QString>("runtimeDir"); // empty: the socket is not looked for
        QTest::addColumn<QString>("reason");
        QTest::newRow("Wayland asked, X there")
            << QByteArray("wayland") << QByteArray(":0") << QByteArray() << QString()
            << "no display for platform 'wayland': WAYLAND_DISPLAY is not set";
        QTest::newRow("X asked, Wayland there")
            << QByteArray("xcb") << QByteArray() << QByteArray("wayland-0") << QString()
            << "no display for platform 'xcb': DISPLAY is not set";
        QTest::newRow("both asked, none there")
            << QByteArray("wayland;xcb") << QByteArray() << QByteArray() << QString()
            << "no display for platform 'wayland;xcb': WAYLAND_DISPLAY and DISPLAY are not set";
        QTest::newRow("nothing asked, none there")
            << QByteArray() << QByteArray() << QByteArray() << QString()
            << "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
        const QString stale = "; WAYLAND_DISPLAY is wayland-9, but no such display runs "
                              "(/nonexistent-run/wayland-9 is missing): start Tarvo2 from your "
                              "desktop session, or set WAYLAND_DISPLAY or DISPLAY to a running "
                              "display";
        QTest::newRow("nothing asked, Wayland gone")
            << QByteArray() << QByteArray() << QByteArray("wayland-9") << "/nonexistent-run"
            << "no display: DISPLAY is not set" + stale;
        QTest::newRow("Wayland asked, Wayland gone")
            << QByteArray("wayland") << QByteArray(":0") << QByteArray("wayland-9")
            << "/nonexistent-run"
            << "no display for platform 'wayland'" + stale;
    }
    void reasonNamesWhatIsMissing()
    {
        QFETCH(QByteArray, platform);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, wayland);
        QFETCH(QString, runtimeDir);
        QFETCH(QString, reason);
        QCOMPARE(MissingDisplayReason({QStringLiteral("tarvo2")}, platform, display, wayland,
                                      runtimeDir),
                 reason);
    }
};

TARVO_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
