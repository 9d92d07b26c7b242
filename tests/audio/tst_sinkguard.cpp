// The sink guard against real private sound servers (PulseAudio, and
// PipeWire's pulse server): a muted, turned-down sink is made loud for an
// alarm run and put back exactly afterwards; muting and lowering while
// armed are intrusions, the guard's own changes never; a server that goes
// away and comes back is taken up again. The capture side's default source
// is judged the same way and never changed.

#include "audio/PrivateSoundServer.h"
#include "audio/SinkGuard.h"
#include "common/TestMain.h"
#include "common/Threads.h"

#include <QSignalSpy>

using tarvo::test::PrivateSoundServer;
using Kind = PrivateSoundServer::Kind;
using Side = SinkGuard::Side;

Q_DECLARE_METATYPE(PrivateSoundServer::Kind)
Q_DECLARE_METATYPE(SinkGuard::Side)

namespace {
const QString Speakers = QStringLiteral("speakers");
const QString Mic = QStringLiteral("mic");
constexpr int Timeout = 15000;
constexpr quint32 Full = SinkGuard::FullVolume;

void addServers()
{
    QTest::addColumn<Kind>("kind");
    QTest::newRow("pulseaudio") << Kind::PulseAudio;
    QTest::newRow("pipewire") << Kind::PipeWire;
}

bool readyOn(SinkGuard &guard, const QString &sink)
{
    return guard.available() && guard.sinkName() == sink && guard.sinkState().has_value();
}

// Makes name the server's default and waits for the guard to take it up.
// WirePlumber may briefly go back to its own choice after taking ours, so
// the request is repeated until both agree; a failure says who held what.
// PipeWire's pulse server may never tell the guard's connection of the
// change: the guard's fresh look while armed must then find it.
QByteArray followsNewDefault(PrivateSoundServer &server, SinkGuard &guard, const QString &name,
                             Side side)
{
    const bool capture = side == Side::Capture;
    const bool followed = QTest::qWaitFor(
        [&] {
            return (capture ? server.setDefaultSource(name) : server.setDefaultSink(name)) &&
                   readyOn(guard, name);
        },
        SinkGuard::RecheckInterval + Timeout);
    if (followed)
        return {};
    const QString info = server.pactl({QStringLiteral("info")});
    static const QRegularExpression line(QStringLiteral("Default (Sink|Source): [^\n]*"));
    QStringList defaults;
    for (auto it = line.globalMatch(info); it.hasNext();)
        defaults << it.next().captured(0);
    return QStringLiteral("server: %1; guard: %2 on \"%3\", %4")
        .arg(defaults.join(QStringLiteral(", ")),
             guard.available() ? QStringLiteral("ready") : QStringLiteral("unavailable"),
             guard.sinkName(),
             guard.sinkState() ? QStringLiteral("state known") : QStringLiteral("no state"))
        .toUtf8();
}
} // namespace

class TestSinkGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judge_data()
    {
        QTest::addColumn<bool>("mutedBefore");
        QTest::addColumn<quint32>("before");
        QTest::addColumn<bool>("mutedNow");
        QTest::addColumn<quint32>("now");
        QTest::addColumn<QString>("verdict");
        const quint32 step = SinkGuard::LowerStep;
        QTest::newRow("muted") << false << Full << true << Full << "Volume muted";
        QTest::newRow("muted and lowered") << false << Full << true << 0u << "Volume muted";
        QTest::newRow("lowered") << false << Full << false << Full / 5 << "Volume lowered";
        QTest::newRow("lowered to 0") << false << Full << false << 0u << "Volume lowered";
        QTest::newRow("one small step") << false << Full << false << Full - step << "";
        QTest::newRow("just over a step")
            << false << Full << false << Full - step - 1 << "Volume lowered";
        QTest::newRow("raised") << false << Full / 2 << false << Full << "";
        QTest::newRow("unmuted") << true << Full << false << Full << "";
        QTest::newRow("lowered while muted") << true << Full << true << 0u << "";
    }
    void judge()
    {
        QFETCH(bool, mutedBefore);
        QFETCH(quint32, before);
        QFETCH(bool, mutedNow);
        QFETCH(quint32, now);
        QFETCH(QString, verdict);
        const SinkGuard::SinkState a{mutedBefore, {before, before / 2}};
        const SinkGuard::SinkState b{mutedNow, {now, now / 2}};
        QCOMPARE(SinkGuard::Judge(a, b), verdict);
    }

    void runMakesHeardAndRestoresExactly_data() { addServers(); }
    void runMakesHeardAndRestoresExactly()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        server.pactl({"set-sink-volume", Speakers, "30%", "45%"});
        server.pactl({"set-sink-mute", Speakers, "1"});
        const QList<quint32> before = server.volume(Speakers);
        QCOMPARE(before.size(), 2);
        QVERIFY(before.at(0) < before.at(1) && before.at(1) < Full);
        QVERIFY(server.muted(Speakers));

        SinkGuard guard(server.serverString());
        QSignalSpy intrusions(&guard, &SinkGuard::intrusion);
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, Speakers), Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(guard.sinkState()->muted, Timeout);
        guard.setArmed(true);

        guard.setRunActive(true);
        QTRY_VERIFY_WITH_TIMEOUT(!server.muted(Speakers), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(server.volume(Speakers), QList<quint32>({Full, Full}), Timeout);

        // Muted again during the run: unmuted again, and muted after it.
        server.pactl({"set-sink-mute", Speakers, "1"});
        QTRY_VERIFY_WITH_TIMEOUT(!server.muted(Speakers), Timeout);

        guard.setRunActive(false);
        QTRY_VERIFY_WITH_TIMEOUT(server.muted(Speakers), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(server.volume(Speakers), before, Timeout);

        // Someone unmutes and turns down: the one intrusion heard is that,
        // so none of the guard's own changes before it counted.
        server.pactl({"set-sink-mute", Speakers, "0"});
        server.pactl({"set-sink-volume", Speakers, "5%"});
        QTRY_VERIFY_WITH_TIMEOUT(intrusions.count() >= 1, Timeout);
        QCOMPARE(intrusions.first().first().toString(), QStringLiteral("Volume lowered"));
        QCOMPARE(intrusions.count(), 1);
    }

    // Both sides: the default sink, and the default source ("mic").
    void intrusionsWhileArmed_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Side>("side");
        QTest::addColumn<QString>("change"); // "mute", or a volume
        QTest::addColumn<QString>("verdict");
        for (const auto &[name, kind] :
             {std::pair{"pulseaudio", Kind::PulseAudio}, std::pair{"pipewire", Kind::PipeWire}}) {
            for (const auto &[what, side, word] :
                 {std::tuple{"sink", Side::Playback, "Volume"},
                  std::tuple{"source", Side::Capture, "Microphone"}}) {
                const QString w = QString::fromLatin1(word);
                QTest::addRow("%s %s: muted", name, what) << kind << side << "mute" << w + " muted";
                QTest::addRow("%s %s: 20%%", name, what) << kind << side << "20%" << w + " lowered";
                QTest::addRow("%s %s: one step down", name, what) << kind << side << "96%"
                                                                  << "";
            }
        }
    }
    void intrusionsWhileArmed()
    {
        QFETCH(Kind, kind);
        QFETCH(Side, side);
        QFETCH(QString, change);
        QFETCH(QString, verdict);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        const bool capture = side == Side::Capture;
        const QString device = capture ? Mic : Speakers;
        QVERIFY(!capture || server.addSource(Mic, true));
        const QString what = capture ? QStringLiteral("source") : QStringLiteral("sink");
        // "mute" mutes, "0" unmutes, anything else is a volume.
        const auto set = [&](const QString &value) {
            server.pactl({value == "mute" || value == "0" ? "set-" + what + "-mute"
                                                          : "set-" + what + "-volume",
                          device, value == "mute" ? "1" : value});
        };
        SinkGuard guard(side, server.serverString());
        QSignalSpy intrusions(&guard, &SinkGuard::intrusion);
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, device), Timeout);

        // Disarmed, the same change is nobody's business.
        set(change);
        set("0");
        set("100%");
        QTRY_VERIFY_WITH_TIMEOUT(
            !guard.sinkState()->muted && SinkGuard::Level(*guard.sinkState()) == Full, Timeout);
        guard.setArmed(true);
        set(change);
        // A change that is no intrusion is followed by one that is, so the
        // first one heard tells.
        set("10%");
        QTRY_VERIFY_WITH_TIMEOUT(intrusions.count() >= 1, Timeout);
        const QString word = capture ? QStringLiteral("Microphone") : QStringLiteral("Volume");
        QCOMPARE(intrusions.first().first().toString(),
                 verdict.isEmpty() ? word + QStringLiteral(" lowered") : verdict);
        if (verdict.isEmpty())
            QCOMPARE(intrusions.count(), 1);
        // The device is the user's: nothing is put back without a run.
        QTest::qWait(500);
        QVERIFY(server.volume(device, what).first() < Full / 2);
    }

    // A new default source is judged from its own state on.
    void defaultSourceChange_data() { addServers(); }
    void defaultSourceChange()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready() && server.addSource(Mic, true) && server.addSource("mic2", false));
        server.pactl({"set-source-mute", "mic2", "1"});
        SinkGuard guard(Side::Capture, server.serverString());
        QSignalSpy intrusions(&guard, &SinkGuard::intrusion);
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, Mic), Timeout);
        guard.setArmed(true);
        guard.setRunActive(true); // no run on this side: nothing is made loud
        const QByteArray missed = followsNewDefault(server, guard, "mic2", Side::Capture);
        QVERIFY2(missed.isEmpty(), missed.constData());
        server.pactl({"set-source-mute", "mic2", "0"});
        server.pactl({"set-source-volume", "mic2", "10%"});
        QTRY_COMPARE_WITH_TIMEOUT(intrusions.count(), 1, Timeout);
        QCOMPARE(intrusions.first().first().toString(), QStringLiteral("Microphone lowered"));
        QVERIFY(!server.muted("mic2", "source"));
    }

    // The fresh look at the defaults while armed leaves a guard that agrees
    // with it connected: no new connection every few seconds.
    void freshLookKeepsAgreeingGuards_data() { addServers(); }
    void freshLookKeepsAgreeingGuards()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready() && server.addSource(Mic, true));
        SinkGuard playback(server.serverString());
        SinkGuard capture(Side::Capture, server.serverString());
        for (SinkGuard *guard : {&playback, &capture})
            guard->setArmed(true);
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(playback, Speakers) && readyOn(capture, Mic), Timeout);
        QTest::qWait(SinkGuard::RecheckInterval + 3000);
        QVERIFY(readyOn(playback, Speakers) && readyOn(capture, Mic));
        QCOMPARE(playback.connectionCount(), 1);
        QCOMPARE(capture.connectionCount(), 1);
    }

    void defaultSinkChange_data() { addServers(); }
    void defaultSinkChange()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        server.pactl({"set-sink-mute", "other", "1"});
        server.pactl({"set-sink-volume", "other", "40%"});
        const QList<quint32> before = server.volume(QStringLiteral("other"));
        SinkGuard guard(server.serverString());
        QSignalSpy changes(&guard, &SinkGuard::sinkChanged);
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, Speakers), Timeout);
        guard.setArmed(true);
        const QByteArray missed = followsNewDefault(server, guard, "other", Side::Playback);
        QVERIFY2(missed.isEmpty(), missed.constData());
        QCOMPARE(changes.last().first().toString(), QStringLiteral("other"));
        guard.setRunActive(true);
        QTRY_VERIFY_WITH_TIMEOUT(!server.muted(QStringLiteral("other")), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(server.volume(QStringLiteral("other")),
                                  QList<quint32>({Full, Full}), Timeout);
        guard.setArmed(false); // disarming ends the run too
        QVERIFY(!guard.runActive());
        QTRY_VERIFY_WITH_TIMEOUT(server.muted(QStringLiteral("other")), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(server.volume(QStringLiteral("other")), before, Timeout);
    }

    void serverRestart_data() { addServers(); }
    void serverRestart()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        SinkGuard guard(server.serverString());
        QSignalSpy intrusions(&guard, &SinkGuard::intrusion);
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, Speakers), Timeout);
        QCOMPARE(guard.connectionCount(), 1);
        guard.setArmed(true);

        server.kill();
        QTRY_COMPARE_WITH_TIMEOUT(guard.state(), SinkGuard::State::Unavailable, Timeout);
        QVERIFY(server.restart());
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, Speakers), Timeout + SinkGuard::MaxRetryInterval);
        QCOMPARE(guard.connectionCount(), 2);
        QCOMPARE(intrusions.count(), 0); // a new server is no intrusion

        server.pactl({"set-sink-mute", Speakers, "1"});
        QTRY_COMPARE_WITH_TIMEOUT(intrusions.count(), 1, Timeout);
        QCOMPARE(intrusions.first().first().toString(), QStringLiteral("Volume muted"));
    }

    // No libpulse thread runs while there is nothing to guard: a run
    // connects the guard, and it disconnects once the sink is put back.
    void connectedOnlyWhileNeeded_data() { addServers(); }
    void connectedOnlyWhileNeeded()
    {
        QFETCH(Kind, kind);
        PrivateSoundServer server(kind);
        QVERIFY(server.ready());
        server.pactl({"set-sink-volume", Speakers, "30%"});
        server.pactl({"set-sink-mute", Speakers, "1"});
        const QList<quint32> before = server.volume(Speakers);
        const auto threadsBefore = tarvo::test::threads();

        SinkGuard guard(server.serverString());
        QCOMPARE(guard.state(), SinkGuard::State::Idle);
        QVERIFY(!guard.connected());
        QVERIFY(tarvo::test::threadsSince(threadsBefore).isEmpty());

        guard.setRunActive(true); // a run while not armed
        QTRY_VERIFY_WITH_TIMEOUT(!server.muted(Speakers), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(server.volume(Speakers), QList<quint32>({Full, Full}), Timeout);
        QVERIFY(!tarvo::test::threadsSince(threadsBefore).isEmpty());
        guard.setRunActive(false);
        // Connected until the server shows the sink put back.
        QVERIFY(guard.connected());
        QTRY_COMPARE_WITH_TIMEOUT(guard.state(), SinkGuard::State::Idle, Timeout);
        QVERIFY(server.muted(Speakers));
        QCOMPARE(server.volume(Speakers), before);
        QTRY_VERIFY2_WITH_TIMEOUT(tarvo::test::threadsSince(threadsBefore).isEmpty(),
                                  qPrintable(tarvo::test::threadsSince(threadsBefore).join(u' ')),
                                  Timeout);

        // Watching and then not: still connected for a moment, so that
        // arming again at once does not connect again.
        guard.setWatching(true);
        QTRY_VERIFY_WITH_TIMEOUT(readyOn(guard, Speakers), Timeout);
        const int connections = guard.connectionCount();
        guard.setWatching(false);
        QVERIFY(guard.connected());
        guard.setWatching(true);
        QTest::qWait(SinkGuard::IdleDisconnect + 500);
        QCOMPARE(guard.connectionCount(), connections);
        QVERIFY(guard.available());
        guard.setWatching(false);
        QTRY_COMPARE_WITH_TIMEOUT(guard.state(), SinkGuard::State::Idle, Timeout);
        QVERIFY(!guard.connected());
    }

    void noServer()
    {
        QTemporaryDir dir;
        SinkGuard guard(QStringLiteral("unix:") + dir.filePath(QStringLiteral("no-such-socket")));
        QSignalSpy states(&guard, &SinkGuard::stateChanged);
        guard.setWatching(true);
        QTRY_COMPARE_WITH_TIMEOUT(guard.state(), SinkGuard::State::Unavailable, Timeout);
        guard.setArmed(true);
        guard.setRunActive(true); // nothing to guard, nothing breaks
        guard.setRunActive(false);
        guard.setArmed(false);
        QVERIFY(!guard.sinkState());
        // Nothing owed to an absent server: the retries end with the watch.
        guard.setWatching(false);
        QTRY_COMPARE_WITH_TIMEOUT(guard.state(), SinkGuard::State::Idle, Timeout);
    }
};

TARVO_TEST_MAIN(TestSinkGuard)
#include "tst_sinkguard.moc"
