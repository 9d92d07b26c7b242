// Work that waits for the window's first paint: it runs after that paint,
// in the order it was added, never before; the main window follows the
// network only once it has been painted.

#include "WindowTest.h"
#include "app/AfterFirstPaint.h"
#include "guard/ReachServices.h"
#include "common/TestMain.h"

#include <QWidget>

namespace {
// Notes whether the window had been painted when a job ran.
class PaintedWidget : public QWidget
{
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override { ++paints; }
};
} // namespace

class TestAfterFirstPaint : public tarvo::test::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void init() { startFresh(); }

    void runsAfterTheFirstPaintInOrder_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("window shown") << true;
        QTest::newRow("asked for before") << false;
    }
    void runsAfterTheFirstPaintInOrder()
    {
        QFETCH(bool, shown);
        PaintedWidget window;
        AfterFirstPaint later(&window);
        QStringList ran;
        QList<int> paintsSeen;
        later.add([&] {
            ran << QStringLiteral("first");
            paintsSeen << window.paints;
            // Added while the others run: at once.
            later.add([&] { ran << QStringLiteral("nested"); });
        });
        later.add([&] { ran << QStringLiteral("second"); });
        QTest::qWait(50);
        QVERIFY(ran.isEmpty()); // nothing shown, nothing asked: nothing runs
        if (shown) {
            window.show();
            QVERIFY(ran.isEmpty()); // not within show()
            QTRY_VERIFY(later.done());
            QVERIFY(paintsSeen.value(0) >= 1);
        } else {
            later.runNow();
            QVERIFY(later.done());
            QCOMPARE(paintsSeen.value(0), 0);
        }
        QCOMPARE(ran, (QStringList{QStringLiteral("first"), QStringLiteral("nested"),
                                   QStringLiteral("second")}));
        later.add([&] { ran << QStringLiteral("after"); });
        QCOMPARE(ran.last(), QStringLiteral("after"));
        later.runNow(); // once only
        QCOMPARE(ran.size(), 4);
    }

    void mainWindowWatchesTheNetworkOncePainted()
    {
        auto window = makeWindow();
        QVERIFY(window);
        QTest::qWait(50);
        QVERIFY(!window->reach()->sender.watchingNetwork());
        window->show();
        QTRY_VERIFY(window->reach()->sender.watchingNetwork());
        QVERIFY(m_messages.isEmpty());
    }
};

TARVO_TEST_MAIN(TestAfterFirstPaint)
#include "tst_afterfirstpaint.moc"
