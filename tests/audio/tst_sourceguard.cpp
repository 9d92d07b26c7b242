// The capture side of the guard against real private sound servers
// (PulseAudio, and PipeWire's pulse server with WirePlumber): while armed,
// muting or turning down the default source or the program's own recording
// stream is an intrusion; disarmed nothing is judged and nothing changed;
// the own recording stream is put back, the source never.

#include "audio/AudioEngine.h"
#include "audio/PrivateSoundServer.h"
#include "audio/SinkGuard.h"
#include "common/TestMain.h"

#include <QScopeGuard>
#include <QSignalSpy>

using tarvo::test::PrivateSoundServer;
using Kind = PrivateSoundServer::Kind;
using State = SinkGuard::SinkState;

Q_DECLARE_METATYPE(PrivateSoundServer::Kind)

namespace {
const QString Mic = QStringLiteral("mic");
const QString Source = QStringLiteral("source");
constexpr int Timeout = 15000;
constexpr quint32 Full = SinkGuard::FullVolume;

bool readyOn(SinkGuard &guard, const QString &source)
{
    return guard.available() && guard.sinkName() == source && guard.sinkState().has_value();
}

bool heard(const State &state)
{
    return !state.muted && SinkGuard::Level(state) + SinkGuard::VolumeTolerance >= Full;
}
} // namespace

class TestSourceGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judge_data()
    {
        QTest::addColumn<bool>("mutedNow");
        QTest::addColumn<quint32>("now");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("muted") << true << Full << "Microphone muted";
        QTest::newRow("0 %") << false << 0u << "Microphone lowered";
        QTest::newRow("one small step") << false << Full - SinkGuard::LowerStep << "";
    }
    void judge()
    {
        QFETCH(bool, mutedNow);
        QFETCH(quint32, now);
        QFETCH(QString, verdict);
        QCOMPARE(
            SinkGuard::JudgeMicrophone(State{false, {Full, Full}}, State{mutedNow, {now, now}}),
            verdict);
    }

    // The default source changed by pactl, as a desktop's sound settings do.
    void source_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<QStringList>("change");
        QTest::addColumn<QString>("verdict");
        for (const auto &[name, kind] :
             {std::pair{"pulseaudio", Kind::PulseAudio}, std::pair{"pipewire", Kind::PipeWire}}) {
            const QStringList mute{"set-source-mute", Mic, "1"};
            const QStringList zero{"set-source-volume", Mic, "0%"};
            QTest::addRow("%s: muted", name) << kind << true << mute << "Microphone muted";
            QTest::addRow("%s: 0%%", name) << kind << true << zero << "Microphone lowered";
            QTest::addRow("%s: one step down", name)
                << kind << true << QStringList{"set-source-volume", Mic, "96%"} << "";
            QTest::addRow("%s: muted, disarmed", name) << kind << false << mute << "";
            QTest::addRow("%s: 0%%, disarmed", name) << kind << false << zero << "";
            // A new default source is judged from its own state on.
            QTest::addRow("%s: muted mic2 made the default", name)
                << kind << true << QStringList{"set-default-source", "mic2"} << "";
        }
    }
    void source()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, armed);
        QFETCH(QStringList, change);
        QFETCH(QString, verdict);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        QVERIFY(server.addSource(Mic, true));
        QVERIFY(server.addSource(QStringLiteral("mic2"), false));
        server.pactl({"set-source-mute", "mic2", "1"});
        SinkGuard guard(SinkGuard::Side::Capture, server.serverString());
        QSignalSpy intrusions(&guard, &SinkGuard::intrusion);
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, Mic), Timeout);
        QVERIFY(heard(*guard.sinkState()));
        guard.setArmed(armed);
        guard.setRunActive(true); // no run on this side: nothing is made loud

        server.pactl(change);
        if (!armed) {
            // Heard, not judged, and left as the user set it.
            QTRY_VERIFY_WITH_TIMEOUT(!heard(*guard.sinkState()), Timeout);
            QTest::qWait(500);
            QCOMPARE(intrusions.count(), 0);
            QVERIFY(!heard(State{server.muted(Mic, Source), server.volume(Mic, Source)}));
            return;
        }
        const QString current = change.first() == "set-default-source" ? change.last() : Mic;
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, current), Timeout);
        // A change that is no intrusion is followed by one that is, so the
        // first one heard tells.
        server.pactl({"set-source-mute", current, "0"});
        server.pactl({"set-source-volume", current, "10%"});
        QTRY_VERIFY_WITH_TIMEOUT(intrusions.count() >= 1, Timeout);
        QCOMPARE(intrusions.first().first().toString(),
                 verdict.isEmpty() ? QStringLiteral("Microphone lowered") : verdict);
        if (verdict.isEmpty())
            QCOMPARE(intrusions.count(), 1);
        // The device is the user's: never put back.
        QTest::qWait(500);
        QVERIFY(!heard(State{server.muted(current, Source), server.volume(current, Source)}));
    }

    // The program's own recording stream, opened through SDL's pulseaudio
    // driver as the microphone detector opens it.
    void ownRecordingStream_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("pulseaudio") << Kind::PulseAudio;
        QTest::newRow("pipewire") << Kind::PipeWire;
    }
    void ownRecordingStream()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        QVERIFY(server.addSource(Mic, true));
        const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
        const auto restore = qScopeGuard([&] {
            qputenv("SDL_AUDIODRIVER", driver);
            qunsetenv("PULSE_SERVER");
        });
        qputenv("SDL_AUDIODRIVER", "pulseaudio");
        qputenv("PULSE_SERVER", server.serverString().toUtf8());
        audio::AudioEngine engine;
        QVERIFY(engine.initCapture());
        const audio::Handle capture = engine.startCapture(
            44100, [](audio::Handle, const qint16 *, int, quint32) { return true; });
        QVERIFY(capture != 0);
        const auto stop = qScopeGuard([&] { engine.stop(capture); });

        SinkGuard guard(SinkGuard::Side::Capture, server.serverString());
        QSignalSpy intrusions(&guard, &SinkGuard::intrusion);
        guard.setWatching(true);
        QTRY_COMPARE_WITH_TIMEOUT(guard.ownStreams().size(), 1, Timeout);
        const quint32 index = guard.ownStreams().cbegin().key();
        const QString stream = QString::number(index);
        auto own = [&] { return guard.ownStreams().value(index); };

        // Disarmed: the user's mute stays, unjudged.
        server.pactl({"set-source-output-mute", stream, "1"});
        QTRY_VERIFY_WITH_TIMEOUT(own().muted, Timeout);
        QTest::qWait(500);
        QVERIFY(own().muted);
        QCOMPARE(intrusions.count(), 0);

        // Arming unmutes the program's own stream, and that is no intrusion.
        guard.setArmed(true);
        QTRY_VERIFY_WITH_TIMEOUT(heard(own()), Timeout);
        QCOMPARE(intrusions.count(), 0);
        const QStringList changes[] = {{"set-source-output-mute", stream, "1"},
                                       {"set-source-output-volume", stream, "0%"}};
        for (const QStringList &change : changes) {
            const qsizetype before = intrusions.count();
            server.pactl(change);
            QTRY_COMPARE_WITH_TIMEOUT(intrusions.count(), before + 1, Timeout);
            QTRY_VERIFY_WITH_TIMEOUT(heard(own()), Timeout); // put back
        }
        QCOMPARE(intrusions.at(0).at(0).toString(), QStringLiteral("Microphone muted"));
        QCOMPARE(intrusions.at(1).at(0).toString(), QStringLiteral("Microphone lowered"));
    }
};

TARVO_TEST_MAIN(TestSourceGuard)
#include "tst_sourceguard.moc"
