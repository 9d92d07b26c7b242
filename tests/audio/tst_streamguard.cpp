// The guard of the program's own playback stream, with the real audio engine
// playing through SDL's pulseaudio driver into private servers (PulseAudio
// with its stream restore, PipeWire with WirePlumber's): a stream muted and
// stored that way is loud again for the next run; a mute or a drop of the
// stream while armed is an intrusion, during a run undone at once. The own
// recording stream the same while armed, on the capture side.

#include "audio/AudioEngine.h"
#include "audio/PrivateSoundServer.h"
#include "audio/SinkGuard.h"
#include "audio/TestSounds.h"
#include "common/TestMain.h"

#include <QSignalSpy>

using tarvo::test::PrivateSoundServer;
using Kind = PrivateSoundServer::Kind;
using State = SinkGuard::SinkState;

Q_DECLARE_METATYPE(PrivateSoundServer::Kind)

namespace {
constexpr int Timeout = 15000;
constexpr quint32 Full = SinkGuard::FullVolume;

bool loud(const State &state)
{
    return !state.muted && !state.volume.isEmpty() && SinkGuard::Level(state) >= Full - 256;
}

// The one stream of this process, once the guard has heard of it.
std::optional<std::pair<quint32, State>> ownStream(const SinkGuard &guard)
{
    const QHash<quint32, State> streams = guard.ownStreams();
    if (streams.size() != 1)
        return std::nullopt;
    return std::make_pair(streams.cbegin().key(), streams.cbegin().value());
}
} // namespace

class TestStreamGuard : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_tone;

    // Plays the tone through a new stream of the engine's.
    static audio::Handle play(audio::AudioEngine &engine, const QString &file)
    {
        const audio::Handle stream =
            engine.createFileStream(file, audio::StreamFlag::FreeWhenEnded);
        return stream != 0 && engine.play(stream) ? stream : 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_tone = m_dir.filePath(QStringLiteral("tone.wav"));
        QVERIFY(tarvo::test::writeTone(m_tone, 44100, 44100 * 6, 6 * 440, 0.3f));
    }

    void servers_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("pulseaudio") << Kind::PulseAudio;
        QTest::newRow("pipewire") << Kind::PipeWire;
    }
    void servers()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        if (kind == Kind::PulseAudio) // PipeWire's session manager restores by itself
            server.pactl({QStringLiteral("load-module"), QStringLiteral("module-stream-restore")});
        const auto sdl = server.sdlThrough();
        audio::AudioEngine engine;
        QVERIFY(engine.initOutput(44100));
        SinkGuard guard(server.serverString());
        QSignalSpy intrusions(&guard, &SinkGuard::intrusion);
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(guard.available(), Timeout);
        // The output opened at start to learn the speaker count is closed
        // by the engine's keeper, soon and without being asked.
        QTRY_VERIFY_WITH_TIMEOUT(guard.ownStreams().isEmpty(), Timeout);

        // Disarmed, the owner mutes the stream: his choice, kept and stored.
        audio::Handle sound = play(engine, m_tone);
        QVERIFY(sound != 0);
        QTRY_VERIFY_WITH_TIMEOUT(ownStream(guard).has_value(), Timeout);
        const QString first = QString::number(ownStream(guard)->first);
        server.pactl({QStringLiteral("set-sink-input-mute"), first, QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(ownStream(guard) && ownStream(guard)->second.muted, Timeout);
        // Stored: PulseAudio's stream restore at once, WirePlumber in its
        // state file a second later.
        const QString stored = server.environment().value(QStringLiteral("XDG_STATE_HOME")) +
                               QStringLiteral("/wireplumber/restore-stream");
        QTRY_VERIFY_WITH_TIMEOUT(kind == Kind::PulseAudio || [&] {
            QFile file(stored);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains(":mute=true");
        }(), Timeout);
        engine.stop(sound);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.outputOpen(), Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(guard.ownStreams().isEmpty(), Timeout);

        // Armed, a run: the new stream comes back muted, and is made loud.
        guard.setArmed(true);
        guard.setRunActive(true);
        sound = play(engine, m_tone);
        QTRY_VERIFY_WITH_TIMEOUT(ownStream(guard).has_value(), Timeout);
        const QString index = QString::number(ownStream(guard)->first);
        QTRY_VERIFY_WITH_TIMEOUT(loud(ownStream(guard)->second), Timeout);
        QVERIFY(server.pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")})
                    .contains(QStringLiteral("Mute: no")));
        QCOMPARE(intrusions.count(), 0); // what was restored is no intrusion

        // During the run: muted or turned down, reported and undone.
        for (const QStringList &change :
             {QStringList{QStringLiteral("set-sink-input-mute"), index, QStringLiteral("1")},
              QStringList{QStringLiteral("set-sink-input-volume"), index, QStringLiteral("10%")}}) {
            const qsizetype before = intrusions.count();
            server.pactl(change);
            QTRY_COMPARE_WITH_TIMEOUT(intrusions.count(), before + 1, Timeout);
            QTRY_VERIFY_WITH_TIMEOUT(loud(ownStream(guard)->second), Timeout);
        }
        QCOMPARE(intrusions.at(0).at(0).toString(), QStringLiteral("Alarm sound muted"));
        QCOMPARE(intrusions.at(1).at(0).toString(), QStringLiteral("Alarm sound lowered"));

        // Armed between runs: reported, and left for the next run to undo.
        guard.setRunActive(false);
        server.pactl({QStringLiteral("set-sink-input-mute"), index, QStringLiteral("1")});
        QTRY_COMPARE_WITH_TIMEOUT(intrusions.count(), 3, Timeout);
        QVERIFY(ownStream(guard)->second.muted);
        guard.setRunActive(true);
        QTRY_VERIFY_WITH_TIMEOUT(loud(ownStream(guard)->second), Timeout);
        QCOMPARE(intrusions.count(), 3);
        engine.stop(sound);
    }

    // The program's own recording stream, opened as the microphone detector
    // opens it: while armed a mute or a drop is an intrusion and is put back.
    void recording_data() { servers_data(); }
    void recording()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        QVERIFY(server.addSource(QStringLiteral("mic"), true));
        const auto sdl = server.sdlThrough();
        audio::AudioEngine engine;
        QVERIFY(engine.initCapture());
        const audio::Handle capture = engine.startCapture(
            44100, [](audio::Handle, const qint16 *, int, quint32) { return true; });
        QVERIFY(capture != 0);
        const auto stop = qScopeGuard([&] { engine.stop(capture); });
        SinkGuard guard(SinkGuard::Side::Capture, server.serverString());
        QSignalSpy intrusions(&guard, &SinkGuard::intrusion);
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(ownStream(guard).has_value(), Timeout);
        const QString stream = QString::number(ownStream(guard)->first);

        // Disarmed: the user's mute stays, unjudged.
        server.pactl({QStringLiteral("set-source-output-mute"), stream, QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(ownStream(guard)->second.muted, Timeout);
        QTest::qWait(500);
        QVERIFY(ownStream(guard)->second.muted);
        // Arming unmutes the program's own stream, and that is no intrusion.
        guard.setArmed(true);
        QTRY_VERIFY_WITH_TIMEOUT(loud(ownStream(guard)->second), Timeout);
        for (const char *change : {"set-source-output-mute 1", "set-source-output-volume 0%"}) {
            const QStringList args = QString::fromLatin1(change).split(u' ');
            const qsizetype before = intrusions.count();
            server.pactl({args.at(0), stream, args.at(1)});
            QTRY_COMPARE_WITH_TIMEOUT(intrusions.count(), before + 1, Timeout);
            QTRY_VERIFY_WITH_TIMEOUT(loud(ownStream(guard)->second), Timeout); // put back
        }
        QCOMPARE(intrusions.at(0).at(0).toString(), QStringLiteral("Microphone muted"));
        QCOMPARE(intrusions.at(1).at(0).toString(), QStringLiteral("Microphone lowered"));
    }
};

TARVO_TEST_MAIN(TestStreamGuard)
#include "tst_streamguard.moc"
