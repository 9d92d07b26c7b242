// The glyphs painted ahead on their own thread are the very pictures the
// window would paint itself, each in its place (kind, state, size).

#include "app/Glyphs.h"
#include "common/TestMain.h"

class TestGlyphsAhead : public QObject
{
    Q_OBJECT

    static QImage Pixels(const QPixmap &pixmap)
    {
        return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    static QImage Pixels(const QImage &image)
    {
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }

private Q_SLOTS:
    void samePicturesAsPaintedInPlace()
    {
        const qreal ratio = GlyphPixelRatio();
        // Painted in place, before anything was painted ahead.
        const QPixmap bannerInPlace = BannerPixmap(MainBannerSize);
        PaintGlyphsAhead();
        PaintGlyphsAhead(); // once is enough

        QCOMPARE(Pixels(BannerPixmap(MainBannerSize)), Pixels(bannerInPlace));
        QCOMPARE(BannerPixmap(MainBannerSize).devicePixelRatio(), ratio);
        QCOMPARE(Pixels(ReportGlyphPair()), Pixels(ReportGlyphRaster(ratio)));
        for (bool plus : {false, true})
            QCOMPARE(Pixels(SmallGlyphPair(plus)), Pixels(SmallGlyphRaster(plus, ratio)));
        QSet<size_t> distinct;
        for (ToggleGlyph kind :
             {ToggleGlyph::Microphone, ToggleGlyph::Mouse, ToggleGlyph::Simulation,
              ToggleGlyph::Activate, ToggleGlyph::Keyboard})
            for (int index : {0, 1}) {
                const QImage ahead = Pixels(ToggleImage(kind, index));
                QCOMPARE(ahead, Pixels(ToggleRaster(kind, index, ratio)));
                QCOMPARE(ahead.size(), QSize(80, 40) * ratio);
                distinct.insert(qHashBits(ahead.constBits(), ahead.sizeInBytes()));
            }
        QCOMPARE(distinct.size(), 10); // each its own picture

        // Another size is painted for itself.
        const QPixmap wide = BannerPixmap(QSize(300, 60));
        QCOMPARE(wide.size(), QSize(300, 60) * ratio);
        QCOMPARE(Pixels(wide), Pixels(BannerRaster(QSize(300, 60), ratio)));
    }
};

TARVO_TEST_MAIN(TestGlyphsAhead)
#include "tst_glyphsahead.moc"
