// The X11 activity source against a real X server (a private Xvfb): keys
// and pointer sent through XTEST (xdotool) arrive as raw events, Escape is
// recognised, and a server that goes away ends the source, not the process.

#include "common/TestMain.h"
#include "common/XvfbServer.h"
#include "detect/XInputActivity.h"

#include <QSignalSpy>

using Kind = ActivitySource::Kind;

class TestXInputActivity : public QObject
{
    Q_OBJECT

private:
    XvfbServer m_x;

    static bool hasKind(const QSignalSpy &spy, Kind kind, int key = -1)
    {
        for (const QList<QVariant> &args : spy) {
            if (args.at(0).value<Kind>() == kind && (key < 0 || args.at(1).toInt() == key))
                return true;
        }
        return false;
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<ActivitySource::Kind>();
        if (!m_x.start())
            QSKIP("Xvfb is not available");
    }

    void inputArrives_data()
    {
        QTest::addColumn<QStringList>("xdotool");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("key"); // -1: any
        QTest::newRow("letter") << QStringList{QStringLiteral("key"), QStringLiteral("a")}
                                << int(Kind::Keyboard) << int(Qt::Key_unknown);
        QTest::newRow("typed text") << QStringList{QStringLiteral("type"), QStringLiteral("hello")}
                                    << int(Kind::Keyboard) << int(Qt::Key_unknown);
        QTest::newRow("escape") << QStringList{QStringLiteral("key"), QStringLiteral("Escape")}
                                << int(Kind::Keyboard) << int(Qt::Key_Escape);
        // A warp (plain mousemove) is no device input; a relative move is.
        QTest::newRow("motion") << QStringList{QStringLiteral("mousemove_relative"),
                                               QStringLiteral("30"), QStringLiteral("20")}
                                << int(Kind::Pointer) << -1;
        QTest::newRow("click") << QStringList{QStringLiteral("click"), QStringLiteral("1")}
                               << int(Kind::Pointer) << -1;
    }

    void inputArrives()
    {
        QFETCH(QStringList, xdotool);
        QFETCH(int, kind);
        QFETCH(int, key);
        XInputActivity source(m_x.display());
        QVERIFY(source.available());
        QVERIFY(source.distinguishesKeys());
        QSignalSpy spy(&source, &ActivitySource::activity);
        // Move away first, so that a move to the same place still moves.
        QCOMPARE(m_x.run(QStringLiteral("xdotool"),
                         {QStringLiteral("mousemove"), QStringLiteral("10"), QStringLiteral("10")}),
                 0);
        // Let the move's own events arrive before looking for new ones.
        for (qsizetype seen = -1; seen != spy.size();) {
            seen = spy.size();
            QTest::qWait(300);
        }
        spy.clear();
        QCOMPARE(m_x.run(QStringLiteral("xdotool"), xdotool), 0);
        QTRY_VERIFY_WITH_TIMEOUT(hasKind(spy, Kind(kind), key), 10000);
        if (Kind(kind) == Kind::Keyboard)
            QVERIFY(!hasKind(spy, Kind::Pointer));
    }

    void missingDisplayIsUnavailable()
    {
        XInputActivity source(QByteArrayLiteral(":4999"));
        QVERIFY(!source.available());
    }

    void serverGoingAwayEndsTheSource()
    {
        XvfbServer server;
        QVERIFY(server.start());
        XInputActivity source(server.display());
        QVERIFY(source.available());
        QSignalSpy gone(&source, &ActivitySource::availabilityChanged);
        server.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!gone.isEmpty(), 10000);
        QCOMPARE(gone.first().first().toBool(), false);
        QVERIFY(!source.available());
    }
};

TARVO_TEST_MAIN(TestXInputActivity)
#include "tst_xinputactivity.moc"
