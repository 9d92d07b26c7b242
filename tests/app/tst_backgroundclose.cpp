// What a close request does: while guarding, the window manager's close
// hides and the program goes on (told once, the background portal asked
// once); Exit and a disarmed alarm end the program.

#include "common/TestMain.h"

#include "app/BackgroundClose.h"

class TestBackgroundClose : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void closeRequests_data()
    {
        QTest::addColumn<bool>("guarding");
        QTest::addColumn<bool>("exitRequested");
        QTest::addColumn<bool>("hides");
        QTest::newRow("guarding, close box") << true << false << true;
        QTest::newRow("guarding, Exit") << true << true << false;
        QTest::newRow("disarmed, close box") << false << false << false;
        QTest::newRow("disarmed, Exit") << false << true << false;
    }
    void closeRequests()
    {
        QFETCH(bool, guarding);
        QFETCH(bool, exitRequested);
        QFETCH(bool, hides);
        QStringList notices;
        int portalRequests = 0;
        BackgroundClose close({[&] { return guarding; },
                               [&](const QString &text) { notices << text; },
                               [&] { ++portalRequests; }});
        QCOMPARE(close.hidesOnClose(exitRequested), hides);
        QCOMPARE(close.hidesOnClose(exitRequested), hides);
        // Told once and asked once, however often it hides.
        const int once = hides ? 1 : 0;
        QCOMPARE(notices.size(), once);
        QCOMPARE(portalRequests, once);
        if (hides)
            QCOMPARE(notices.first(), QStringLiteral("Tarvo2 keeps guarding in the background; "
                                                     "start it again to show the window"));
    }
};

TARVO_TEST_MAIN(TestBackgroundClose)
#include "tst_backgroundclose.moc"
