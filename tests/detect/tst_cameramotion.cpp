// Camera motion on a real camera stream: a test pattern offered as a camera
// on a private PipeWire, changed or taken away while the detector watches.

#include "common/TestMain.h"
#include "evidence/PrivateCamera.h"

#include "detect/CameraMotion.h"
#include "video/CameraStream.h"
#include "video/GstLibrary.h"

#include <QElapsedTimer>
#include <QSignalSpy>

using tarvo::test::PrivateCamera;

namespace {
// A test pattern offered as a camera by this process, so that its pattern
// can change while it sends.
class PatternCamera
{
public:
    explicit PatternCamera(const QString &pattern)
    {
        QString why;
        m_gst = GstLibrary::Get(&why);
        if (!m_gst) {
            qWarning("%s", qPrintable(why));
            return;
        }
        const QString description =
            QStringLiteral("videotestsrc is-live=true name=pattern pattern=%1 ! %2 ! pipewiresink "
                           "mode=provide stream-properties=\"%3\"")
                .arg(pattern, PrivateCamera::Caps(), PrivateCamera::Properties());
        m_pipeline = m_gst->parseLaunch(description.toUtf8().constData(), nullptr);
        if (m_pipeline)
            m_gst->elementSetState(m_pipeline, GST_STATE_PLAYING);
    }
    ~PatternCamera() { stop(); }
    bool started() const { return m_pipeline != nullptr; }
    void showBlack()
    {
        GstElement *source = m_gst->binGetByName(reinterpret_cast<GstBin *>(m_pipeline), "pattern");
        g_object_set(source, "pattern", 2 /* black */, nullptr);
        m_gst->objectUnref(source);
    }
    void stop()
    {
        if (!m_pipeline)
            return;
        m_gst->elementSetState(m_pipeline, GST_STATE_NULL);
        m_gst->objectUnref(m_pipeline);
        m_pipeline = nullptr;
    }

private:
    const GstLibrary *m_gst = nullptr;
    GstElement *m_pipeline = nullptr;
};

enum class Change
{
    None,
    Black,
    Stop
};
} // namespace

class TestCameraMotion : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void intrusions_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("expected"); // empty: nothing within 20 s
        QTest::newRow("a moving ball") << "ball" << Change::None << CameraMotion::MotionText;
        QTest::newRow("a still picture") << "smpte" << Change::None << QString();
        QTest::newRow("the lens covered") << "smpte" << Change::Black << CameraMotion::CoveredText;
        QTest::newRow("the camera gone") << "smpte" << Change::Stop << CameraMotion::LostText;
    }
    void intrusions()
    {
        QFETCH(QString, pattern);
        QFETCH(Change, change);
        QFETCH(QString, expected);
        PrivateCamera camera{QString()};
        QVERIFY(camera.ready());
        PatternCamera source(pattern);
        QVERIFY(source.started());
        QVERIFY(camera.waitListed());

        CameraStream stream;
        CameraMotion motion(stream);
        QVERIFY2(motion.available(), qPrintable(motion.reason()));
        QSignalSpy intrusions(&motion, &CameraMotion::intrusion);
        QSignalSpy unavailable(&motion, &CameraMotion::unavailable);
        QElapsedTimer sinceStarted;
        int comparedFrames = 0; // frames after the settle time
        connect(&stream, &CameraStream::started, this, [&] { sinceStarted.start(); });
        connect(&stream, &CameraStream::frame, this, [&] {
            comparedFrames +=
                sinceStarted.isValid() && sinceStarted.elapsed() > CameraMotion::SettleMs;
        });
        motion.start();
        QTRY_VERIFY_WITH_TIMEOUT(stream.running() || !unavailable.isEmpty(), 30000);
        QVERIFY2(unavailable.isEmpty(), qPrintable(unavailable.value(0).value(0).toString()));

        if (change != Change::None) {
            QTRY_VERIFY_WITH_TIMEOUT(comparedFrames >= 5, 30000); // the baseline is taken
            QVERIFY(intrusions.isEmpty());
            change == Change::Black ? source.showBlack() : source.stop();
        }
        if (expected.isEmpty()) {
            QTest::qWait(20000);
            QVERIFY2(intrusions.isEmpty(), qPrintable(intrusions.value(0).value(0).toString()));
            QVERIFY(comparedFrames >= 20); // it did look
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!intrusions.isEmpty(), 30000);
            QCOMPARE(intrusions.first().first().toString(), expected);
        }
        motion.stop();
        QVERIFY(!stream.running());
    }
};

TARVO_TEST_MAIN(TestCameraMotion)
#include "tst_cameramotion.moc"
