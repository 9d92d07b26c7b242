// The main window on a scaled, small screen: glyphs, LEDs and the banner are
// painted at the screen's pixel ratio, and a screen too small for the window
// (1366 x 768 at 125 %) gets the content in a scroll area, not a window
// whose title bar leaves the screen. The screen is the offscreen platform's,
// configured before the application starts.

#include "common/ScaledScreen.h"

#include "app/Glyphs.h"
#include "app/LedShape.h"
#include "app/ScreenFit.h"
#include "app/fmMain.h"

#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

class TestHiDpi : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void fittedSize_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("expected");
        const QSize stated(537, 616);
        QTest::newRow("1920x1080: unchanged") << stated << QSize(1920, 1040) << stated;
        QTest::newRow("1366x768 at 100 %: unchanged") << stated << QSize(1366, 728) << stated;
        QTest::newRow("1366x768 at 125 %: shorter")
            << stated << QSize(1093, 582) << QSize(537, 542);
        QTest::newRow("narrow and short") << stated << QSize(400, 300) << QSize(392, 260);
        QTest::newRow("tiny: kept usable") << stated << QSize(100, 100) << QSize(240, 200);
    }

    void fittedSize()
    {
        QFETCH(QSize, window);
        QFETCH(QSize, available);
        QFETCH(QSize, expected);
        QCOMPARE(FittedWindowSize(window, available, AssumedFrame), expected);
    }

    void glyphsArePaintedAtThePixelRatio()
    {
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
        QCOMPARE(GlyphPixelRatio(), 2.0);
        const QPixmap toggle = ToggleImage(ToggleGlyph::Microphone, 1);
        QCOMPARE(toggle.devicePixelRatio(), 2.0);
        QCOMPARE(toggle.size(), QSize(160, 80));
        QCOMPARE(toggle.deviceIndependentSize(), QSizeF(80, 40));
        const QPixmap banner = BannerPixmap(QSize(200, 42));
        QCOMPARE(banner.size(), QSize(400, 84));
        QCOMPARE(banner.devicePixelRatio(), 2.0);
        const QPixmap small = SmallGlyphPair(true);
        QCOMPARE(small.size(), QSize(84, 42));
        const QIcon icon = IconFromGlyphPair(ReportGlyphPair());
        const QPixmap shown = icon.pixmap(QSize(40, 40), 2.0);
        QCOMPARE(shown.size(), QSize(80, 80));
        QCOMPARE(shown.devicePixelRatio(), 2.0);
    }

    void windowOnASmallScaledScreen()
    {
        TfrmMain window(m_dir.path() + QLatin1Char('/'));
        window.setMessageSink([](TfrmMain::MessageKind, const QString &) {});
        QVERIFY(window.FormCreate());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        auto *banner = window.findChild<QLabel *>(QStringLiteral("Image1"));
        QVERIFY(banner);
        QCOMPARE(banner->pixmap().devicePixelRatio(), 2.0);
        // An LED painted into a 2x backing store has twice its pixels.
        QCOMPARE(window.shpLedSimulation->grab().size(), QSize(22, 22));

        const QRect available = window.screen()->availableGeometry();
        QVERIFY2(
            window.height() + AssumedFrame.top() + AssumedFrame.bottom() <= available.height(),
            qPrintable(QStringLiteral("%1 on %2").arg(window.height()).arg(available.height())));
        auto *scroller = qobject_cast<QScrollArea *>(window.centralWidget());
        QVERIFY(scroller);
        QCOMPARE(scroller->widget()->objectName(), QStringLiteral("clientArea"));
        QCOMPARE(scroller->widget()->size(), QSize(537, 594)); // the stated layout, scrolled
        QVERIFY(scroller->verticalScrollBar()->maximum() > 0);
    }
};

// 1366 x 768 at 125 %: 1093 x 614 logical pixels; pixel ratio 2 as on a
// scaled screen (the ratio and the size are tested separately above).
TARVO_TEST_MAIN_SCALED(TestHiDpi, 1093, 614, 2)
#include "tst_hidpi.moc"
