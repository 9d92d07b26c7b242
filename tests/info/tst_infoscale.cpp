// The about and welcome windows on a scaled screen and with large desktop
// fonts: the pictures are painted at the screen's pixel ratio, and no text
// of the about window is clipped. The screen is the offscreen platform's,
// configured before the application starts (pixel ratio 2).

#include "common/ScaledScreen.h"

#include "info/InfoLook.h"
#include "info/fmAbout.h"
#include "info/fmThanx.h"
#include "settings/StoreKeys.h"

#include <QLabel>
#include <QScreen>

class TestInfoScale : public QObject
{
    Q_OBJECT

    QFont m_font;

private Q_SLOTS:
    void initTestCase() { m_font = QApplication::font(); }
    void cleanup() { QApplication::setFont(m_font); }

    void picturesFollowThePixelRatio_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("logo");
        QTest::addColumn<QSize>("welcome");
        QTest::newRow("100 %") << 1.0 << QSize(212, 40) << QSize(64, 48);
        QTest::newRow("125 %") << 1.25 << QSize(265, 50) << QSize(80, 60);
        QTest::newRow("200 %") << 2.0 << QSize(424, 80) << QSize(128, 96);
    }
    void picturesFollowThePixelRatio()
    {
        QFETCH(qreal, ratio);
        QFETCH(QSize, logo);
        QFETCH(QSize, welcome);
        for (const auto &[picture, pixels, logical] :
             {std::tuple{VekorLogo(ratio), logo, QSizeF(212, 40)},
              std::tuple{WelcomePicture(ratio), welcome, QSizeF(64, 48)}}) {
            QCOMPARE(picture.size(), pixels);
            QCOMPARE(picture.devicePixelRatio(), ratio);
            QCOMPARE(picture.deviceIndependentSize(), logical);
        }
    }

    void windowsPaintAtTheScreensRatio()
    {
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
        TfrmAbout about;
        auto *logo = about.findChild<QLabel *>(QStringLiteral("imgVekor"));
        QVERIFY(logo);
        QCOMPARE(logo->pixmap().devicePixelRatio(), 2.0);
        TfrmThanx welcome(StoreKeys::Settings, StoreKeys::MsgThanx, QStringLiteral("Tarvo2"));
        auto *picture = welcome.findChild<QLabel *>(QStringLiteral("Image1"));
        QVERIFY(picture);
        QCOMPARE(picture->pixmap().devicePixelRatio(), 2.0);
    }

    void aboutTextsFitLargerFonts_data()
    {
        QTest::addColumn<int>("points");
        for (int points : {9, 11, 12, 14})
            QTest::addRow("%d pt", points) << points;
    }
    void aboutTextsFitLargerFonts()
    {
        QFETCH(int, points);
        QFont font = m_font;
        font.setPointSize(points);
        QApplication::setFont(font);
        TfrmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        for (const char *name : {"Label6", "Label7", "Label4", "Label5"}) {
            auto *label = about.findChild<QLabel *>(QString::fromLatin1(name));
            QVERIFY(label);
            if (label->text().isEmpty())
                continue; // a figure this machine did not give
            const int needed = label->fontMetrics().horizontalAdvance(label->text());
            const QRect inWindow(label->mapTo(&about, QPoint(0, 0)), label->size());
            QVERIFY2(label->width() >= needed && about.rect().contains(inWindow),
                     qPrintable(QStringLiteral("%1: %2 px wide, needs %3, at %4,%5")
                                    .arg(QString::fromLatin1(name))
                                    .arg(label->width())
                                    .arg(needed)
                                    .arg(inWindow.x())
                                    .arg(inWindow.right())));
        }
        // With room enough, each figure stays beside its caption.
        if (points == 9) {
            auto *caption = about.findChild<QLabel *>(QStringLiteral("Label7"));
            auto *figure = about.findChild<QLabel *>(QStringLiteral("Label5"));
            QCOMPARE(caption->geometry().center().y(), figure->geometry().center().y());
        }
    }
};

TARVO_TEST_MAIN_SCALED(TestInfoScale, 960, 540, 2)
#include "tst_infoscale.moc"
