#pragma once
// Takes the pictures of an alarm: on every accepted trigger while armed, a
// photo from the camera and a picture of the screen, as the owner chose.
// Each capture runs on a worker thread of its own and hands back a finished
// file; the UI thread writes its report line ("Photo saved: <file name>").
// What is not available is said once per arming; a photo skipped because
// the camera is still on the last one is said each time. A failed picture
// never stops the alarm or the report. While the camera stream runs (camera
// motion), the photo is its still: the camera is not opened twice.

#include "evidence/CameraCapture.h"
#include "evidence/EvidenceFolder.h"
#include "evidence/EvidenceSettings.h"
#include "evidence/ScreenServiceCapture.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

class CameraStream;
class CameraStill;
class ReportLog;

class EvidenceRecorder : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        std::function<EvidenceSettings()> settings;     // EvidenceSettings::Load when empty
        std::function<QImage(QString *why)> grabScreen; // ScreenCapture::GrabNow when empty
        CameraCapture::Timing cameraTiming;
        // Where the screen cannot be read directly (Wayland), the desktop's
        // screenshot service on this bus (the session bus when unset).
        std::optional<QDBusConnection> screenBus;
        ScreenServiceCapture::Options screenService;
    };

    EvidenceRecorder(ReportLog &report, const QString &folder, Hooks hooks = Hooks(),
                     QObject *parent = nullptr);
    // Waits for a capture that still runs (it is cancelled first).
    ~EvidenceRecorder() override;

    // The stream whose still is the photo while it runs (nullptr: none).
    void setCameraStream(CameraStream *stream);

    // A trigger the alarm accepted: takes what the settings ask for.
    void triggered();
    // After a disarm, the next arming says again what is not available.
    void resetNotices();
    // A photo for the settings dialog: not saved, handed back by testPhotoTaken.
    void takeTestPhoto();
    bool cameraBusy() const { return m_cameraBusy; }
    const EvidenceFolder &folder() const { return m_folder; }

    static const QString CameraMissingLine, ScreenMissingLine;
    // The alarm's task timer plays the first sound within 250 ms of a trigger.
    static constexpr int ScreenDelayMs = 300;

Q_SIGNALS:
    // A capture ended; the full path of the saved file, empty when none.
    void photoFinished(const QString &filePath);
    void screenFinished(const QString &filePath);
    void testPhotoTaken(const QImage &image, const QString &error);

private:
    struct Outcome
    {
        QString fileName, error;
        QStringList setAside; // report lines of folders moved out of the way
        bool sourceMissing = false;
    };
    static Outcome Missing(const QString &why);
    // A photo: the stream's still when it runs, else the camera opened for it.
    CameraCapture::Still takePhoto(const CameraStill &still, const CameraCapture::Timing &timing);
    CameraStill streamStill() const;
    void startCamera(std::function<void()> job);
    void grabScreen(const QDateTime &taken, const EvidenceFolder::Limits &limits);
    // Keeps the file a screenshot service wrote, and removes the service's copy.
    void keepServiceFile(const QDateTime &taken, const QString &file, const QString &why,
                         const EvidenceFolder::Limits &limits);
    void startScreenWorker(std::function<Outcome()> job);
    Outcome keep(const QDateTime &taken, const QString &kind, const QString &suffix,
                 const QByteArray &bytes, const EvidenceFolder::Limits &limits) const;
    // Writes the outcome's report line; the saved file's full path, empty when none.
    QString report(const Outcome &outcome, const QString &source, const QString &missingLine,
                   bool *missingSaid);
    void applyPhoto(const Outcome &outcome);
    void applyScreen(const Outcome &outcome);
    void joinFinished();

    ReportLog &m_report;
    EvidenceFolder m_folder;
    Hooks m_hooks;
    ScreenServiceCapture *m_screenService = nullptr; // where the screen is not read directly
    QPointer<CameraStream> m_stream;
    std::thread m_cameraWorker, m_screenWorker;
    std::atomic<bool> m_cancel{false};
    bool m_cameraBusy = false, m_screenBusy = false; // until the result arrived here
    bool m_cameraMissingSaid = false, m_screenMissingSaid = false;
};
