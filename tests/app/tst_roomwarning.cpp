// The line near the gauges that says the room is already as loud as the
// trigger volume, for the whole trigger length, while disarmed.

#include "common/TestMain.h"

#include "alarm/Autostart.h"
#include "app/fmMain.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <QTemporaryDir>

class TestRoomWarning : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    void feed(qint16 amplitude)
    {
        QByteArray raw;
        for (int i = 0; i < 4410 * 400; ++i) {
            const qint16 value = (i % 2) ? amplitude : qint16(-amplitude);
            const qint16 frame[2] = {value, value};
            raw.append(reinterpret_cast<const char *>(frame), sizeof frame);
        }
        QFile in(m_dir.filePath(QStringLiteral("room%1.raw").arg(amplitude)));
        QVERIFY(in.open(QIODevice::WriteOnly));
        in.write(raw);
        in.close();
        ::setenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(in.fileName()).constData(), 1);
    }

private Q_SLOTS:
    void initTestCase()
    {
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath("out.raw")).constData(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "10", 1);
    }

    void init()
    {
        QFile::remove(RegistryFilePath());
        RemoveAutostartEntry();
    }

    void lineFollowsTheRoom_data()
    {
        QTest::addColumn<int>("amplitude");
        QTest::addColumn<int>("volume");
        QTest::addColumn<bool>("shown");
        QTest::newRow("room above the volume") << 300 << 50 << true;
        QTest::newRow("room at the volume") << 50 << 50 << true;
        QTest::newRow("room below the volume") << 49 << 50 << false;
    }

    void lineFollowsTheRoom()
    {
        QFETCH(int, amplitude);
        QFETCH(int, volume);
        QFETCH(bool, shown);
        feed(qint16(amplitude));
        TfrmMain w(m_dir.path() + QLatin1Char('/'));
        QVERIFY(w.FormCreate());
        w.show();
        w.trkMicTriggerVolume->setValue(volume);
        w.trkMicTriggerDuration->setValue(5);
        w.ActMicDetectToggle->trigger();
        QVERIFY(w.microphone().isRecording());
        if (shown) {
            QTRY_VERIFY_WITH_TIMEOUT(w.lblRoomTooLoud->isVisible(), 20000);
            QVERIFY(w.lblRoomTooLoud->text().contains(QStringLiteral("trigger volume")));
            w.ActMicDetectToggle->trigger(); // switched off: nothing to warn about
            QVERIFY(!w.lblRoomTooLoud->isVisible());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(w.microphone().count() == 0 && w.ggDetection->value() > 0,
                                     20000);
            QTest::qWait(1500); // well past the trigger length of 5 blocks
            QVERIFY(!w.lblRoomTooLoud->isVisible());
        }
    }
};

TARVO_TEST_MAIN(TestRoomWarning)
#include "tst_roomwarning.moc"
