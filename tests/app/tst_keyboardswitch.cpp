// The keyboard switch on the window (its button, hint, store value, the
// enabling rules and the arming line), the microphone's input level as a
// stored, resettable gain, and gauges that repaint every change.

#include "common/TestMain.h"

#include "WindowTest.h"
#include "app/LedShape.h"
#include "settings/StoreKeys.h"

#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

using S = AlarmControl::Switch;

namespace {
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
} // namespace

class TestKeyboardSwitch : public tarvo::test::WindowTest
{
    Q_OBJECT

private:
    static QString stored(const QString &name) { return ReadRegString(StoreKeys::Settings, name); }

private Q_SLOTS:
    void init() { startFresh(); }

    void switchFlipsStoresAndShowsItsHint()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QCOMPARE(w->btnKeyDetect->parentWidget(), w->btnSimulation->parentWidget());
        QCOMPARE(w->btnKeyDetect->defaultAction(), w->ActKeyDetectToggle);
        QCOMPARE(w->ActKeyDetectToggle->toolTip(), QStringLiteral("Use Keyboard Detection"));
        QVERIFY(!w->alarm().isOn(S::Keyboard));

        w->ActKeyDetectToggle->trigger();
        QVERIFY(w->alarm().isOn(S::Keyboard));
        QCOMPARE(w->ActKeyDetectToggle->toolTip(), QStringLiteral("Disable Keyboard Detection"));
        QCOMPARE(stored(QStringLiteral("ActKeyDetectToggle")), QStringLiteral("T"));

        w->ActKeyDetectToggle->trigger();
        QVERIFY(!w->alarm().isOn(S::Keyboard));
        QCOMPARE(stored(QStringLiteral("ActKeyDetectToggle")), QString());
        QCOMPARE(w->ActKeyDetectToggle->toolTip(), QStringLiteral("Use Keyboard Detection"));
    }

    void keyboardAloneArmsAndIsReported()
    {
        QDir().mkpath(m_dir->filePath(QStringLiteral("Sounds")));
        QFile sound(m_dir->filePath(QStringLiteral("Sounds/alarm.wav")));
        QVERIFY(sound.open(QIODevice::WriteOnly));
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("alarm.wav"), QStringLiteral("T"));
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActKeyDetectToggle"),
                       QStringLiteral("T"));
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->alarm().isOn(S::Keyboard));
        QCOMPARE(w->ActKeyDetectToggle->toolTip(), QStringLiteral("Disable Keyboard Detection"));
        QVERIFY(w->ActActivateToggle->isEnabled());
        w->spnActivationDelay->setValue(0);
        w->ActActivateToggle->trigger();
        // Notes of session services missing here are not this test's subject.
        QStringList lines = w->report().lines();
        lines.removeIf([](const QString &line) {
            return line.endsWith(QStringLiteral("] Volume guard not available")) ||
                   line.endsWith(QStringLiteral("] Suspend cannot be prevented"));
        });
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith(QStringLiteral("] Keyboard Detection - Enabled")));
        QVERIFY(lines.at(1).endsWith(QStringLiteral("] Alarm - Activated")));
        QVERIFY(!w->ActKeyDetectToggle->isEnabled());
        QVERIFY(!w->btnKeyDetect->isEnabled());
        w->ActActivateToggle->trigger();
        QVERIFY(w->ActKeyDetectToggle->isEnabled());
    }

    void inputLevelIsAStoredGain()
    {
        auto w = makeWindow();
        QVERIFY(w);
        // A fresh install passes the samples unchanged.
        QCOMPARE(w->trkMicSensivity->value(), 77);
        QCOMPARE(w->microphone().gain(), 1.0);
        w->trkMicSensivity->setValue(100);
        QCOMPARE(
            ReadRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkMicSensivity")),
            QStringLiteral("100"));
        QCOMPARE(w->trkMicSensivity->toolTip(), QStringLiteral("100"));
        QVERIFY(qAbs(w->microphone().gain() - 3.981) < 0.01);
        w.reset();

        auto again = makeWindow(); // loaded like the other sliders
        QVERIFY(again);
        QCOMPARE(again->trkMicSensivity->value(), 100);
        QVERIFY(again->microphone().gain() > 3.9);
        // A reset of the settings leaves the (calibrated) level alone.
        again->mnuResetSettingToDefault->trigger();
        QCOMPARE(again->trkMicSensivity->value(), 100);
        QVERIFY(again->microphone().gain() > 3.9);
    }

    void gaugesRepaintEveryChange_data()
    {
        QTest::addColumn<QString>("gauge");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("duration 0 to 1") << QStringLiteral("ggDuration") << 0 << 1;
        QTest::newRow("duration 3 to 4") << QStringLiteral("ggDuration") << 3 << 4;
        QTest::newRow("level 60 to 65") << QStringLiteral("ggDetection") << 60 << 65;
        QTest::newRow("level 65 to 64") << QStringLiteral("ggDetection") << 65 << 64;
    }

    void gaugesRepaintEveryChange()
    {
        QFETCH(QString, gauge);
        QFETCH(int, from);
        QFETCH(int, to);
        auto w = makeWindow();
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto *bar = w->findChild<QProgressBar *>(gauge);
        QVERIFY(bar);
        bar->setValue(from);
        PaintCounter counter;
        bar->installEventFilter(&counter);
        QTest::qWait(50);
        counter.paints = 0;
        bar->setValue(to);
        QTRY_VERIFY(counter.paints > 0);
        // And what is painted differs: more bar for more value.
        const QImage lower = bar->grab().toImage();
        bar->setValue(std::max(from, to) + 1);
        const QImage higher = bar->grab().toImage();
        QVERIFY(lower != higher);
    }
};

TARVO_TEST_MAIN(TestKeyboardSwitch)
#include "tst_keyboardswitch.moc"
