// Photos from a real camera source on a private PipeWire: found, settled and
// saved at the source's size; and the failures that cost only the photo (no
// camera, a camera that goes away, a full disk).

#include "common/TestMain.h"
#include "common/TinyDisk.h"
#include "evidence/EvidenceChecks.h"
#include "evidence/PrivateCamera.h"

#include "evidence/EvidenceRecorder.h"
#include "report/ReportLog.h"
#include "video/CameraStream.h"

#include <QElapsedTimer>
#include <QImageReader>
#include <QSet>
#include <QSignalSpy>
#include <thread>

using tarvo::test::PrivateCamera;
using tarvo::test::TinyDisk;

namespace {
int ColourCount(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

EvidenceRecorder::Hooks PhotoOnly()
{
    return tarvo::test::PicturesChosen(true, false);
}

bool GStreamerMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/libgstreamer-1.0");
}

int Count(const QStringList &lines, const QString &text)
{
    int n = 0;
    for (const QString &line : lines)
        n += line.contains(text) ? 1 : 0;
    return n;
}

// No PipeWire to be found, and no V4L2 device on this machine.
struct NoCamera
{
    QTemporaryDir empty;
    NoCamera() { ::setenv("PIPEWIRE_RUNTIME_DIR", QFile::encodeName(empty.path()).constData(), 1); }
    ~NoCamera() { ::unsetenv("PIPEWIRE_RUNTIME_DIR"); }
};
} // namespace

class TestCameraCapture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aPipeWireCameraGivesASettledStill()
    {
        PrivateCamera camera;
        QVERIFY(camera.ready());
        QVERIFY(!GStreamerMapped()); // loaded with the first photo, not before
        // Every alarm of a run takes its own photo from the same camera.
        for (int photo = 0; photo < 3; ++photo) {
            const CameraCapture::Still still = CameraCapture::Take();
            QVERIFY2(!still.image.isNull(), qPrintable(still.error));
            QCOMPARE(still.image.size(), QSize(PrivateCamera::Width, PrivateCamera::Height));
            QVERIFY(ColourCount(still.image) > 4);
        }
        QVERIFY(GStreamerMapped());
    }

    void aTriggerSavesAJpegAndReportsIt()
    {
        PrivateCamera camera;
        QVERIFY(camera.ready());
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(reports.path()), PhotoOnly());
        QSignalSpy finished(&recorder, &EvidenceRecorder::photoFinished);
        // Each trigger of a run takes its own photo, on a worker of its own.
        for (int trigger = 0; trigger < 3; ++trigger) {
            recorder.triggered();
            QVERIFY(recorder.cameraBusy());
            QVERIFY(finished.wait(15000));
            const QString path = finished.last().at(0).toString();
            QVERIFY2(!path.isEmpty(), qPrintable(report.lines().join(QLatin1Char('\n'))));
            QImageReader reader(path);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            const QImage photo = reader.read();
            QCOMPARE(photo.size(), QSize(PrivateCamera::Width, PrivateCamera::Height));
            QVERIFY(ColourCount(photo) > 4);
            QCOMPARE(
                Count(report.lines(), QStringLiteral("Photo saved: ") + QFileInfo(path).fileName()),
                1);
        }
    }

    void noCameraIsSaidOncePerArming()
    {
        NoCamera none;
        QVERIFY(CameraCapture::Take().image.isNull());
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(reports.path()), PhotoOnly());
        QSignalSpy finished(&recorder, &EvidenceRecorder::photoFinished);
        for (int trigger = 0; trigger < 3; ++trigger) {
            if (trigger == 2)
                recorder.resetNotices();
            recorder.triggered();
            QVERIFY(finished.wait(15000));
            QVERIFY(finished.last().at(0).toString().isEmpty());
            report.AddToReport(QStringLiteral("Alarm simulated"));
        }
        QCOMPARE(Count(report.lines(), EvidenceRecorder::CameraMissingLine), 2);
        QVERIFY(!QDir(recorder.folder().path()).exists() ||
                QDir(recorder.folder().path()).isEmpty());
    }

    void aCameraThatGoesAwayGivesNoPicture()
    {
        PrivateCamera camera;
        QVERIFY(camera.ready());
        CameraCapture::Timing timing;
        timing.settleMs = 3000;
        CameraCapture::Still still;
        std::thread capture([&] { still = CameraCapture::Take(timing); });
        QTest::qWait(1000);
        camera.stopSource();
        capture.join();
        QVERIFY(still.image.isNull());
        QVERIFY(!still.error.isEmpty());
    }

    void whileTheStreamRunsThePhotoIsItsStill()
    {
        PrivateCamera camera;
        QVERIFY(camera.ready());
        CameraStream stream;
        QSignalSpy lost(&stream, &CameraStream::lost);
        stream.start();
        QTRY_VERIFY_WITH_TIMEOUT(stream.running() || !lost.isEmpty(), 30000);
        QVERIFY2(lost.isEmpty(), qPrintable(lost.value(0).value(0).toString()));
        EvidenceRecorder::Hooks hooks = PhotoOnly();
        hooks.cameraTiming.settleMs = 60000; // the camera opened again would give no photo
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(reports.path()), hooks);
        recorder.setCameraStream(&stream);
        QSignalSpy finished(&recorder, &EvidenceRecorder::photoFinished);
        recorder.triggered();
        QVERIFY(finished.wait(15000));
        const QString path = finished.at(0).at(0).toString();
        QVERIFY2(!path.isEmpty(), qPrintable(report.lines().join(QLatin1Char('\n'))));
        const QImage photo = QImageReader(path).read();
        QCOMPARE(photo.size(), QSize(PrivateCamera::Width, PrivateCamera::Height));
        QVERIFY(ColourCount(photo) > 4);
        QVERIFY(stream.running());
    }

    void aFullDiskCostsOnlyThePhoto()
    {
        TinyDisk disk(128);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        PrivateCamera camera;
        QVERIFY(camera.ready());
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(disk.path()), PhotoOnly());
        QDir().mkpath(recorder.folder().path());
        QVERIFY(disk.fill());
        QSignalSpy finished(&recorder, &EvidenceRecorder::photoFinished);
        recorder.triggered();
        QVERIFY(finished.wait(15000));
        QVERIFY(finished.at(0).at(0).toString().isEmpty());
        QCOMPARE(Count(report.lines(), QStringLiteral("Photo not saved: ")), 1);
        QVERIFY(QDir(recorder.folder().path()).isEmpty());
    }

    // A camera that is there but never answers costs a photo no more than
    // the bound, and every photo not taken is said.
    void aCameraThatNeverAnswersIsGivenUpInTime()
    {
        PrivateCamera camera;
        QVERIFY(camera.ready());
        camera.freezeSource();
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(reports.path()), PhotoOnly());
        QSignalSpy finished(&recorder, &EvidenceRecorder::photoFinished);
        QElapsedTimer clock;
        clock.start();
        recorder.triggered();
        recorder.triggered(); // while the camera is still on the first
        report.AddToReport(QStringLiteral("Alarm simulated"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 30000);
        QVERIFY2(clock.elapsed() < 4000 + 2000, // the bound, and time to hand in the result
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(finished.at(1).at(0).toString().isEmpty());
        QCOMPARE(Count(report.lines(), EvidenceRecorder::CameraMissingLine), 2);
        camera.thawSource(); // the capture left behind ends
        QTRY_COMPARE_WITH_TIMEOUT(CameraCapture::CapturesLeftBehind(), 0, 30000);
    }
};

TARVO_TEST_MAIN(TestCameraCapture)
#include "tst_cameracapture.moc"
