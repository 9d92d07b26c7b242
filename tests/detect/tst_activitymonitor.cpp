// The rules of the activity-fed detectors: which reports count for the
// keyboard and for the pointer, with which text, and that the program's own
// keys never count, and how input told apart names an unspecific activity.

#include "common/TestMain.h"
#include "detect/ActivityMonitor.h"

#include <QSignalSpy>

namespace {
class FakeSource : public ActivitySource
{
public:
    using ActivitySource::ActivitySource;
    bool available() const override { return true; }
    bool distinguishesKeys() const override { return true; }
    QString name() const override { return QStringLiteral("fake"); }
    void report(Kind kind, int key = 0) { Q_EMIT activity(kind, key); }
};
using Kind = ActivitySource::Kind;

QStringList texts(const QSignalSpy &spy)
{
    QStringList all;
    for (const QList<QVariant> &args : spy)
        all << args.first().toString();
    return all;
}
} // namespace

class TestActivityMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reports_data()
    {
        QTest::addColumn<bool>("keyboardOn");
        QTest::addColumn<bool>("pointerOn");
        QTest::addColumn<bool>("focused");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("keyboardText"); // empty: no detection
        QTest::addColumn<QString>("pointerText");

        const QString keyboard = QStringLiteral("Keyboard detected");
        const QString mouse = QStringLiteral("Mouse detected");
        const QString activity = QStringLiteral("Activity detected");
        const int escape = Qt::Key_Escape;
        const int other = Qt::Key_unknown;
        QTest::newRow("key elsewhere")
            << true << false << false << int(Kind::Keyboard) << other << keyboard << QString();
        QTest::newRow("key, switch off")
            << false << true << false << int(Kind::Keyboard) << other << QString() << QString();
        QTest::newRow("key into our window")
            << true << false << true << int(Kind::Keyboard) << other << QString() << QString();
        QTest::newRow("escape into our window")
            << true << false << true << int(Kind::Keyboard) << escape << QString() << QString();
        QTest::newRow("escape elsewhere")
            << true << false << false << int(Kind::Keyboard) << escape << keyboard << QString();
        QTest::newRow("pointer, keyboard only")
            << true << false << false << int(Kind::Pointer) << 0 << QString() << QString();
        QTest::newRow("pointer") << false << true << false << int(Kind::Pointer) << 0 << QString()
                                 << mouse;
        QTest::newRow("pointer while our window has focus")
            << false << true << true << int(Kind::Pointer) << 0 << QString() << mouse;
        QTest::newRow("activity, both")
            << true << true << false << int(Kind::Unknown) << 0 << activity << activity;
        QTest::newRow("activity, keyboard")
            << true << false << false << int(Kind::Unknown) << 0 << activity << QString();
        QTest::newRow("activity, nothing on")
            << false << false << false << int(Kind::Unknown) << 0 << QString() << QString();
    }

    void reports()
    {
        QFETCH(bool, keyboardOn);
        QFETCH(bool, pointerOn);
        QFETCH(bool, focused);
        QFETCH(int, kind);
        QFETCH(int, key);
        QFETCH(QString, keyboardText);
        QFETCH(QString, pointerText);

        FakeSource source;
        ActivityMonitor monitor(source);
        monitor.setFocusSource([focused] { return focused; });
        monitor.setKeyboardOn(keyboardOn);
        monitor.setPointerOn(pointerOn);
        QSignalSpy keys(&monitor, &ActivityMonitor::keyboardDetected);
        QSignalSpy pointer(&monitor, &ActivityMonitor::pointerDetected);
        source.report(Kind(kind), key);
        const int expected = int(!keyboardText.isEmpty()) + int(!pointerText.isEmpty());
        QTRY_COMPARE(keys.size() + pointer.size(), expected);
        // The LEDs are lit with the detection and stay lit for a while.
        QCOMPARE(monitor.keyboardLedLit(), !keyboardText.isEmpty());
        QCOMPARE(monitor.pointerLedLit(), !pointerText.isEmpty());
        if (expected == 0) // unspecific activity is judged after a short wait
            QTest::qWait(ActivityMonitor::SettleMilliseconds * 2);
        QCOMPARE(keys.size(), keyboardText.isEmpty() ? 0 : 1);
        QCOMPARE(pointer.size(), pointerText.isEmpty() ? 0 : 1);
        if (!keyboardText.isEmpty())
            QCOMPARE(keys.first().first().toString(), keyboardText);
        if (!pointerText.isEmpty())
            QCOMPARE(pointer.first().first().toString(), pointerText);
        // Lit LEDs go idle by themselves.
        QTRY_VERIFY(!monitor.keyboardLedLit() && !monitor.pointerLedLit());
    }

    void ownKeyCoversUnspecificActivity_data()
    {
        QTest::addColumn<bool>("keyBefore");
        QTest::addColumn<bool>("keyAfter"); // arrives while the activity settles
        QTest::newRow("no key of ours") << false << false;
        QTest::newRow("our key came first") << true << false;
        QTest::newRow("our key came later") << false << true;
    }

    void ownKeyCoversUnspecificActivity()
    {
        QFETCH(bool, keyBefore);
        QFETCH(bool, keyAfter);
        FakeSource source;
        ActivityMonitor monitor(source);
        monitor.setFocusSource([] { return true; });
        monitor.setKeyboardOn(true);
        QSignalSpy keys(&monitor, &ActivityMonitor::keyboardDetected);
        if (keyBefore)
            monitor.NoteOwnKey();
        source.report(Kind::Unknown);
        if (keyAfter)
            monitor.NoteOwnKey();
        QTest::qWait(ActivityMonitor::SettleMilliseconds * 3);
        QTRY_COMPARE_WITH_TIMEOUT(keys.size(), (keyBefore || keyAfter) ? 0 : 1, 20000);
    }

    // The session says "active"; a hint source's key or pointer (or a key of
    // ours, counted while armed) tells what it was when it comes close by.
    void hintNamesUnspecificActivity_data()
    {
        // "active": the session's report; "pointer", "key": the hint's;
        // "own key": ours; "settled": the wait until a report was judged.
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("pointerOn");
        QTest::addColumn<QStringList>("keyboardTexts");
        QTest::addColumn<QStringList>("pointerTexts");
        const QStringList none, activity{"Activity detected"}, mouse{"Mouse detected"};
        const QStringList keyboard{"Keyboard detected"};
        QTest::newRow("no hint") << QStringList{"active"} << true << activity << activity;
        QTest::newRow("pointer while settling")
            << QStringList{"active", "pointer"} << true << none << mouse;
        QTest::newRow("pointer just before")
            << QStringList{"pointer", "active"} << true << none << mouse;
        QTest::newRow("key while settling")
            << QStringList{"active", "key"} << true << keyboard << none;
        QTest::newRow("pointer, keyboard only")
            << QStringList{"active", "pointer"} << false << none << none;
        QTest::newRow("own key while settling")
            << QStringList{"active", "own key"} << true << keyboard << none;
        QTest::newRow("pointer long after")
            << QStringList{"active", "settled", "pointer"} << true << activity << activity + mouse;
    }

    void hintNamesUnspecificActivity()
    {
        QFETCH(QStringList, events);
        QFETCH(bool, pointerOn);
        QFETCH(QStringList, keyboardTexts);
        QFETCH(QStringList, pointerTexts);
        FakeSource session, hint;
        ActivityMonitor monitor(session);
        monitor.addHint(hint);
        monitor.setFocusSource([] { return false; });
        monitor.setOwnKeysCount(true);
        monitor.setKeyboardOn(true);
        monitor.setPointerOn(pointerOn);
        QSignalSpy keys(&monitor, &ActivityMonitor::keyboardDetected);
        QSignalSpy pointer(&monitor, &ActivityMonitor::pointerDetected);
        for (const QString &event : events) {
            if (event == QLatin1String("active"))
                session.report(Kind::Unknown);
            else if (event == QLatin1String("own key"))
                monitor.NoteOwnKey();
            else if (event == QLatin1String("settled"))
                QTRY_VERIFY_WITH_TIMEOUT(!keys.isEmpty(), 20000);
            else
                hint.report(event == QLatin1String("key") ? Kind::Keyboard : Kind::Pointer);
        }
        // Time for a wrong text to come; a right one late on a busy machine
        // is waited for.
        QTest::qWait(ActivityMonitor::SettleMilliseconds * 3);
        QTRY_COMPARE_WITH_TIMEOUT(texts(keys), keyboardTexts, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(texts(pointer), pointerTexts, 20000);
    }

    void burstOfActivityIsOneDetection()
    {
        FakeSource source;
        ActivityMonitor monitor(source);
        monitor.setFocusSource([] { return false; });
        monitor.setKeyboardOn(true);
        QSignalSpy keys(&monitor, &ActivityMonitor::keyboardDetected);
        for (int i = 0; i < 5; ++i)
            source.report(Kind::Unknown);
        QTRY_COMPARE(keys.size(), 1);
        QTest::qWait(ActivityMonitor::SettleMilliseconds * 2);
        QCOMPARE(keys.size(), 1);
    }
};

TARVO_TEST_MAIN(TestActivityMonitor)
#include "tst_activitymonitor.moc"
