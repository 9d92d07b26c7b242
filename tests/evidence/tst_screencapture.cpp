// The picture of the screen on a real X server (a private Xvfb, the xcb
// platform): saved as a PNG of the whole screen, with its report line.

#include "common/TestMain.h"
#include "common/XvfbServer.h"
#include "evidence/EvidenceChecks.h"

#include "evidence/EvidenceRecorder.h"
#include "evidence/ScreenCapture.h"
#include "report/ReportLog.h"

#include <QImageReader>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
const bool XServerUp = [] {
    if (!XvfbServer::startForProgram())
        return false;
    ::unsetenv("WAYLAND_DISPLAY");
    return true;
}();
} // namespace

class TestScreenCapture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aTriggerSavesTheScreen()
    {
        QVERIFY(XServerUp);
        QVERIFY(ScreenCapture::Available());
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(reports.path()),
                                  tarvo::test::PicturesChosen(false, true));
        QSignalSpy screens(&recorder, &EvidenceRecorder::screenFinished);
        QSignalSpy photos(&recorder, &EvidenceRecorder::photoFinished);
        recorder.triggered();
        QVERIFY(screens.wait(15000));
        const QString path = screens.at(0).at(0).toString();
        QVERIFY2(!path.isEmpty(), qPrintable(report.lines().join(QLatin1Char('\n'))));
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.size(), QSize(1024, 768));
        QCOMPARE(report.lines().size(), 1);
        QVERIFY(report.lines().at(0).endsWith(QStringLiteral("] Screen saved: ") +
                                              QFileInfo(path).fileName()));
        QVERIFY(photos.isEmpty()); // the camera stays off unless chosen
    }
};

TARVO_TEST_MAIN(TestScreenCapture)
#include "tst_screencapture.moc"
