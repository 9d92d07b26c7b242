#include "evidence/EvidenceRecorder.h"

#include "evidence/ScreenCapture.h"
#include "report/ReportLog.h"
#include "video/CameraStream.h"

#include <QFileInfo>
#include <QPointer>
#include <QTimer>

const QString EvidenceRecorder::CameraMissingLine = QStringLiteral("Camera not available");
const QString EvidenceRecorder::ScreenMissingLine = QStringLiteral("Screen not available");

EvidenceRecorder::EvidenceRecorder(ReportLog &report, const QString &folder, Hooks hooks,
                                   QObject *parent)
    : QObject(parent), m_report(report), m_folder(folder), m_hooks(std::move(hooks))
{
    if (!m_hooks.settings)
        m_hooks.settings = [] { return EvidenceSettings::Load(); };
    if (!m_hooks.grabScreen)
        m_hooks.grabScreen = [](QString *why) { return ScreenCapture::GrabNow(why); };
    // A period's report kept at arming counts against the same limits.
    m_report.addHistoryObserver([self = QPointer(this)](const QString &historyFile) {
        if (!self)
            return;
        QStringList setAside;
        self->m_folder.prune(self->m_hooks.settings().limits, QDateTime::currentDateTime(),
                             QFileInfo(historyFile).fileName(), &setAside);
        for (const QString &line : std::as_const(setAside))
            self->m_report.AddToReport(line);
    });
}

EvidenceRecorder::~EvidenceRecorder()
{
    m_cancel = true;
    for (std::thread *worker : {&m_cameraWorker, &m_screenWorker})
        if (worker->joinable())
            worker->join();
}

void EvidenceRecorder::joinFinished()
{
    // A worker whose result has arrived has only its return left to do.
    if (!m_cameraBusy && m_cameraWorker.joinable())
        m_cameraWorker.join();
    if (!m_screenBusy && m_screenWorker.joinable())
        m_screenWorker.join();
}

void EvidenceRecorder::resetNotices()
{
    m_cameraMissingSaid = false;
    m_screenMissingSaid = false;
}

EvidenceRecorder::Outcome EvidenceRecorder::Missing(const QString &why)
{
    Outcome outcome;
    outcome.sourceMissing = true;
    outcome.error = why;
    return outcome;
}

EvidenceRecorder::Outcome EvidenceRecorder::keep(const QDateTime &taken, const QString &kind,
                                                 const QString &suffix, const QByteArray &bytes,
                                                 const EvidenceFolder::Limits &limits) const
{
    Outcome outcome;
    if (bytes.isEmpty()) {
        outcome.error = QStringLiteral("the picture could not be encoded");
        return outcome;
    }
    outcome.fileName = m_folder.save(taken, kind, suffix, bytes, &outcome.error, &outcome.setAside);
    if (!outcome.fileName.isEmpty())
        m_folder.prune(limits, QDateTime::currentDateTime(), outcome.fileName, &outcome.setAside);
    return outcome;
}

void EvidenceRecorder::startCamera(std::function<void()> job)
{
    joinFinished();
    if (m_cameraBusy)
        return; // one capture at a time; the camera is on it already
    m_cameraBusy = true;
    m_cameraWorker = std::thread(std::move(job));
}

void EvidenceRecorder::setCameraStream(CameraStream *stream)
{
    m_stream = stream;
}

CameraStill EvidenceRecorder::streamStill() const
{
    return m_stream ? m_stream->still() : CameraStill();
}

CameraCapture::Still EvidenceRecorder::takePhoto(const CameraStill &streamStill,
                                                 const CameraCapture::Timing &timing)
{
    if (!streamStill.valid())
        return CameraCapture::Take(timing, &m_cancel);
    CameraCapture::Still still;
    still.image = streamStill.take(timing.wholeMs, &still.error);
    return still;
}

void EvidenceRecorder::triggered()
{
    joinFinished();
    const EvidenceSettings settings = m_hooks.settings();
    const QDateTime taken = QDateTime::currentDateTime();
    if (settings.photo && m_cameraBusy) {
        qWarning("%s: the camera is still on the last photo", qPrintable(CameraMissingLine));
        m_report.AddToReport(CameraMissingLine);
        Q_EMIT photoFinished(QString());
    } else if (settings.photo) {
        const CameraCapture::Timing timing = m_hooks.cameraTiming;
        startCamera([this, taken, timing, limits = settings.limits, still = streamStill()] {
            const CameraCapture::Still photo = takePhoto(still, timing);
            const Outcome outcome =
                photo.image.isNull() ? Missing(photo.error)
                                     : keep(taken, QStringLiteral("photo"), QStringLiteral("jpg"),
                                            CameraCapture::EncodeJpeg(photo.image), limits);
            QMetaObject::invokeMethod(
                this, [this, outcome] { applyPhoto(outcome); }, Qt::QueuedConnection);
        });
    }
    if (settings.screen && !m_screenBusy) {
        // The grab runs on this thread: after the sound's first tick, not before it.
        m_screenBusy = true;
        QTimer::singleShot(ScreenDelayMs, this,
                           [this, taken, limits = settings.limits] { grabScreen(taken, limits); });
    }
}

void EvidenceRecorder::grabScreen(const QDateTime &taken, const EvidenceFolder::Limits &limits)
{
    if (!m_screenService && !ScreenCapture::Available()) // the bus only once it is needed
        m_screenService = new ScreenServiceCapture(
            m_hooks.screenBus.value_or(QDBusConnection::sessionBus()), m_hooks.screenService, this);
    if (m_screenService) {
        m_screenService->take([this, taken, limits](const QString &file, const QString &why) {
            keepServiceFile(taken, file, why, limits);
        });
        return;
    }
    QString why;
    const QImage screen = m_hooks.grabScreen(&why);
    if (screen.isNull()) {
        applyScreen(Missing(why));
        return;
    }
    startScreenWorker([this, taken, screen, limits] {
        return keep(taken, QStringLiteral("screen"), QStringLiteral("png"),
                    ScreenCapture::EncodePng(screen), limits);
    });
}

void EvidenceRecorder::keepServiceFile(const QDateTime &taken, const QString &file,
                                       const QString &why, const EvidenceFolder::Limits &limits)
{
    if (file.isEmpty()) {
        applyScreen(Missing(why));
        return;
    }
    startScreenWorker([this, taken, file, limits] {
        QString error;
        const QByteArray png = ScreenCapture::ReadServiceFile(file, &error);
        if (png.isEmpty())
            return Missing(error);
        return keep(taken, QStringLiteral("screen"), QStringLiteral("png"), png, limits);
    });
}

void EvidenceRecorder::startScreenWorker(std::function<Outcome()> job)
{
    if (m_screenWorker.joinable()) // the last one has handed in its result
        m_screenWorker.join();
    m_screenWorker = std::thread([this, job = std::move(job)] {
        const Outcome outcome = job();
        QMetaObject::invokeMethod(
            this, [this, outcome] { applyScreen(outcome); }, Qt::QueuedConnection);
    });
}

void EvidenceRecorder::takeTestPhoto()
{
    const CameraCapture::Timing timing = m_hooks.cameraTiming;
    const bool started = !m_cameraBusy;
    startCamera([this, timing, stream = streamStill()] {
        const CameraCapture::Still still = takePhoto(stream, timing);
        QMetaObject::invokeMethod(
            this,
            [this, still] {
                m_cameraBusy = false;
                Q_EMIT testPhotoTaken(still.image, still.error);
            },
            Qt::QueuedConnection);
    });
    if (!started)
        Q_EMIT testPhotoTaken(QImage(), QStringLiteral("The camera is busy with a picture"));
}

QString EvidenceRecorder::report(const Outcome &outcome, const QString &source,
                                 const QString &missingLine, bool *missingSaid)
{
    for (const QString &line : outcome.setAside)
        m_report.AddToReport(line);
    if (outcome.sourceMissing) {
        qWarning("%s: %s", qPrintable(missingLine), qPrintable(outcome.error));
        if (!*missingSaid)
            m_report.AddToReport(missingLine);
        *missingSaid = true;
        return {};
    }
    if (outcome.fileName.isEmpty()) {
        m_report.AddToReport(source + QStringLiteral(" not saved: ") + outcome.error);
        return {};
    }
    m_report.AddToReport(source + QStringLiteral(" saved: ") + outcome.fileName);
    return m_folder.path() + outcome.fileName;
}

void EvidenceRecorder::applyPhoto(const Outcome &outcome)
{
    m_cameraBusy = false;
    Q_EMIT photoFinished(
        report(outcome, QStringLiteral("Photo"), CameraMissingLine, &m_cameraMissingSaid));
}

void EvidenceRecorder::applyScreen(const Outcome &outcome)
{
    m_screenBusy = false;
    Q_EMIT screenFinished(
        report(outcome, QStringLiteral("Screen"), ScreenMissingLine, &m_screenMissingSaid));
}
