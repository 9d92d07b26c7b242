// What the camera's frames are taken to say, from made-up frames: noise,
// light and a still scene are nothing; a moving thing is motion; a picture
// gone dark or flat is a covered lens (unless it was so from the start).

#include "common/TestMain.h"

#include "detect/MotionAnalysis.h"

#include <QPainter>
#include <QRandomGenerator>
#include <functional>

namespace {
using Verdict = MotionAnalysis::Verdict;
using Frames = std::function<QImage(int index)>;
constexpr int Width = 160, Height = 120, Count = 60, ChangeAt = 20;

// A room: a gradient with some furniture.
QImage Scene(double light = 1.0)
{
    QImage image(Width, Height, QImage::Format_Grayscale8);
    for (int y = 0; y < Height; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < Width; ++x) {
            int value = 60 + x / 2 + ((x / 20 + y / 15) % 2) * 40;
            line[x] = uchar(qBound(0, int(value * light), 255));
        }
    }
    return image;
}

QImage Filled(int value)
{
    QImage image(Width, Height, QImage::Format_Grayscale8);
    image.fill(value);
    return image;
}

QImage Noisy(QImage image, int amplitude)
{
    auto *random = QRandomGenerator::global();
    for (int y = 0; y < Height; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < Width; ++x)
            line[x] = uchar(qBound(0, line[x] + random->bounded(-amplitude, amplitude + 1), 255));
    }
    return image;
}

QImage WithThing(QImage image, int index, int size, int grey, bool round = false)
{
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(grey, grey, grey));
    const QRect where((index * 13) % (Width - size), (index * 7) % (Height - size), size, size);
    round ? painter.drawEllipse(where) : painter.drawRect(where);
    return image;
}

// Before ChangeAt the scene alone, from then on the change.
Frames After(const std::function<QImage(int)> &changed)
{
    return [changed](int i) { return i < ChangeAt ? Noisy(Scene(), 3) : changed(i); };
}
} // namespace

class TestMotionAnalysis : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void verdicts_data()
    {
        QTest::addColumn<Frames>("frames");
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<Verdict>("expected");
        QTest::newRow("still scene")
            << Frames([](int) { return Scene(); }) << 100 << Verdict::Nothing;
        QTest::newRow("sensor noise")
            << Frames([](int) { return Noisy(Scene(), 12); }) << 100 << Verdict::Nothing;
        QTest::newRow("dusk") << Frames([](int i) { return Noisy(Scene(1.0 - i * 0.008), 3); })
                              << 100 << Verdict::Nothing;
        QTest::newRow("exposure step")
            << After([](int) { return Noisy(Scene(1.3), 3); }) << 50 << Verdict::Nothing;
        QTest::newRow("someone walking")
            << After([](int i) { return WithThing(Noisy(Scene(), 3), i, 24, 20); }) << 50
            << Verdict::Motion;
        QTest::newRow("a fly, default sensitivity")
            << After([](int i) { return WithThing(Noisy(Scene(), 3), i, 6, 250); }) << 50
            << Verdict::Nothing;
        QTest::newRow("a fly, full sensitivity")
            << After([](int i) { return WithThing(Noisy(Scene(), 3), i, 6, 250); }) << 100
            << Verdict::Motion;
        QTest::newRow("a ball in the dark")
            << Frames([](int i) { return WithThing(Filled(0), i, 20, 255, true); }) << 50
            << Verdict::Motion;
        QTest::newRow("lens covered")
            << After([](int) { return Noisy(Filled(4), 3); }) << 50 << Verdict::Covered;
        QTest::newRow("paper on the lens")
            << After([](int) { return Noisy(Filled(200), 3); }) << 0 << Verdict::Covered;
        QTest::newRow("dark from the start")
            << Frames([](int) { return Noisy(Filled(4), 3); }) << 100 << Verdict::Nothing;
    }
    void verdicts()
    {
        QFETCH(Frames, frames);
        QFETCH(int, sensitivity);
        QFETCH(Verdict, expected);
        MotionAnalysis analysis;
        analysis.setSensitivity(sensitivity);
        QList<int> said; // the frames that gave a verdict other than nothing
        Verdict first = Verdict::Nothing;
        for (int i = 0; i < Count; ++i) {
            const Verdict verdict = analysis.feed(frames(i));
            if (verdict != Verdict::Nothing && said.isEmpty())
                first = verdict;
            if (verdict != Verdict::Nothing)
                said << i;
        }
        QCOMPARE(int(first), int(expected));
        // Said within a few frames of the change, and once while it lasts.
        if (expected != Verdict::Nothing) {
            QVERIFY2(said.first() <= ChangeAt + MotionAnalysis::ConsecutiveFrames,
                     qPrintable(QString::number(said.first())));
            QCOMPARE(said.size(), 1);
        }
    }

    // Someone passing again and again, a few seconds apart (5 frames/s):
    // each pass is seen, the earlier ones do not teach it to look away.
    // Then a thing put down and left is seen once and learnt, and a pass
    // after that is seen again.
    void everyPassIsSeen()
    {
        MotionAnalysis analysis;
        int expected = 2, seen = 0;
        for (int i = 0; i < 420; ++i) {
            const bool passing = (i >= ChangeAt && i < 200 && (i - ChangeAt) % 17 < 5) || i >= 410;
            expected += i >= ChangeAt && i < 200 && (i - ChangeAt) % 17 == 0;
            QImage frame = Noisy(Scene(), 3);
            if (i >= 200)
                frame = WithThing(frame, 1, 30, 220);
            seen += analysis.feed(passing ? WithThing(frame, 3, 60, 20) : frame) == Verdict::Motion;
        }
        QCOMPARE(seen, expected);
    }
};

TARVO_TEST_MAIN(TestMotionAnalysis)
#include "tst_motionanalysis.moc"
