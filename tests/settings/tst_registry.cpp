#include "common/TestMain.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const QString TestKey = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\Test");
const QString ChildJobVar = QStringLiteral("TARVO_REGISTRY_CHILD");
const QString ChildConfigVar = QStringLiteral("TARVO_REGISTRY_CHILD_CONFIG");

QString StoreFolder()
{
    return QFileInfo(RegistryFilePath()).absolutePath();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// QSettings keeps a parsed copy of the file while it looks unchanged; moving
// the time stamp makes the next operation read what is really on disk.
void ForceReparse()
{
    QFile file(RegistryFilePath());
    if (!file.open(QIODevice::ReadWrite))
        return;
    file.setFileTime(file.fileTime(QFileDevice::FileModificationTime).addSecs(-7),
                     QFileDevice::FileModificationTime);
}

QStringList BrokenCopies()
{
    return QDir(StoreFolder())
        .entryList({QFileInfo(RegistryFilePath()).fileName() + QStringLiteral(".broken-*")},
                   QDir::Files);
}

// Job of a child copy of this test program: "<prefix> <count> <rounds>"
// writes <prefix>0..<prefix><count-1> = "r<round>" for every round (0 = until
// killed), and prints "ready" after the first round.
void RunChildJob(const QString &job)
{
    const QStringList parts = job.split(u' ');
    const QString prefix = parts.value(0);
    const int count = parts.value(1).toInt();
    const int rounds = parts.value(2).toInt();
    for (int round = 1; rounds == 0 || round <= rounds; ++round) {
        for (int i = 0; i < count; ++i)
            WriteRegString(TestKey, prefix + QString::number(i), u'r' + QString::number(round));
        if (round == 1) {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
        }
    }
}

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT
public:
    TestRegistry()
    {
        // A child copy works on its parent's store and does nothing else.
        const QString job = qEnvironmentVariable(qPrintable(ChildJobVar));
        if (job.isEmpty())
            return;
        qputenv("XDG_CONFIG_HOME", qgetenv(qPrintable(ChildConfigVar)));
        RunChildJob(job);
        std::exit(0);
    }

private:
    QProcess *startChild(const QString &job)
    {
        auto *child = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(ChildJobVar, job);
        env.insert(ChildConfigVar, qEnvironmentVariable("XDG_CONFIG_HOME"));
        // The child's own temporary home must not outlive a SIGKILL.
        const QString tmp = QDir::homePath() + QStringLiteral("/child-tmp");
        QDir().mkpath(tmp);
        env.insert(QStringLiteral("TMPDIR"), tmp);
        child->setProcessEnvironment(env);
        child->start(QCoreApplication::applicationFilePath(), {});
        return child;
    }

private Q_SLOTS:
    void init()
    {
        QDir(StoreFolder()).removeRecursively();
        QFile::remove(StoreFolder()); // left by failingWriteRaises
    }

    void firstStartCreatesKeys()
    {
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive), QString());
        QStringList names{QStringLiteral("stale")};
        QVERIFY(ReadRegValueNames(StoreKeys::CheckedSounds, names));
        QVERIFY(names.isEmpty());
        QCOMPARE(
            ReadRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkAlarmVolume")),
            QString());
        QVERIFY(QFileInfo::exists(RegistryFilePath()));

        ForceReparse();
        QVERIFY(DeleteRegKey(StoreKeys::CheckedSounds));
        QVERIFY(DeleteRegKey(StoreKeys::ResetableSettings));
        QVERIFY(!DeleteRegKey(StoreKeys::ResetableSettings));
        QVERIFY(!DeleteRegKey(StoreKeys::Version)); // appears at its first write only
        QVERIFY(!DeleteRegKey(QStringLiteral("\\")));
        WriteRegString(StoreKeys::Version, StoreKeys::ProgramLocation, QStringLiteral("/opt/x"));
        QVERIFY(DeleteRegKey(StoreKeys::Version));
    }

    void oddNamesRoundTrip_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("data");
        const QString data = QStringLiteral(" a, b; \"c\" = %d #e [f] \\g\\ @h\n\tÜ ");
        const QList<std::pair<const char *, QString>> names{
            {"plain", QStringLiteral("Alarm Active")},
            {"equals", QStringLiteral("a=b")},
            {"semicolon", QStringLiteral("a;b")},
            {"percent", QStringLiteral("100%")},
            {"escape look-alike", QStringLiteral("%2F%25")},
            {"marker look-alike", QStringLiteral("%key")},
            {"lone percent", QStringLiteral("%")},
            {"hash", QStringLiteral("#not a comment")},
            {"brackets", QStringLiteral("[General]")},
            {"slash", QStringLiteral("Sounds/alarm.wav")},
            {"only slashes", QStringLiteral("//")},
            {"backslash", QStringLiteral("C:\\Sounds\\siren.wav")},
            {"quotes", QStringLiteral("\"quoted\" 'single'")},
            {"non-ASCII", QStringLiteral("Sirène – ☃ ä.mp3")},
            {"leading space", QStringLiteral(" leading")},
            {"both ends", QStringLiteral("  both  ")},
            {"variant look-alike", QStringLiteral("@Variant(x)")},
            {"comma", QStringLiteral("a, b")},
            {"control chars", QStringLiteral("tab\tline\nend")},
            {"empty", QString()},
        };
        for (const auto &[tag, name] : names)
            QTest::newRow(tag) << name << data;
        QTest::newRow("empty data") << QStringLiteral("x") << QString();
        QTest::newRow("list-like data") << QStringLiteral("x") << QStringLiteral("a,b,c");
        QTest::newRow("quoted data") << QStringLiteral("x") << QStringLiteral("\"a\"");
    }

    void oddNamesRoundTrip()
    {
        QFETCH(QString, name);
        QFETCH(QString, data);
        WriteRegString(TestKey, name, data);
        ForceReparse();
        QCOMPARE(ReadRegString(TestKey, name), data);
        QStringList names;
        QVERIFY(ReadRegValueNames(TestKey, names));
        QCOMPARE(names, QStringList{name});
        // The name must not have split off a sub-key.
        QVERIFY(DeleteRegKey(TestKey));
        QVERIFY(!DeleteRegKey(TestKey));
        WriteRegString(TestKey, name, data);
        QVERIFY(DeleteRegValue(TestKey, name));
        QVERIFY(!DeleteRegValue(TestKey, name));
        QVERIFY(ReadRegValueNames(TestKey, names));
        QVERIFY(names.isEmpty());
    }

    void namesIgnoreCaseAndKeepFirstSpelling_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("ASCII") << QStringLiteral("Alarm Active") << QStringLiteral("ALARM active");
        QTest::newRow("non-ASCII") << QStringLiteral("Ärger.WAV") << QStringLiteral("ärger.wav");
        QTest::newRow("escaped") << QStringLiteral("A/B%") << QStringLiteral("a/b%");
    }

    void namesIgnoreCaseAndKeepFirstSpelling()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        WriteRegString(TestKey, first, QStringLiteral("1"));
        WriteRegString(TestKey, second, QStringLiteral("2"));
        QCOMPARE(ReadRegString(TestKey, first), QStringLiteral("2"));
        QCOMPARE(ReadRegString(TestKey.toLower(), second.toUpper()), QStringLiteral("2"));
        QStringList names;
        ReadRegValueNames(TestKey.toUpper(), names);
        QCOMPARE(names, QStringList{first});
        QVERIFY(DeleteRegValue(TestKey, second));
        QCOMPARE(ReadRegString(TestKey, first), QString());
    }

    void keyPathsIgnoreCase()
    {
        WriteRegString(QStringLiteral("\\software\\vekor\\TARVO2\\s"), StoreKeys::MsgThanx,
                       StoreKeys::SwitchOn);
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), StoreKeys::SwitchOn);
        QVERIFY(DeleteRegKey(QStringLiteral("\\SOFTWARE\\Vekor")));
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), QString());
    }

    void deleteKeyTakesEverythingBelow()
    {
        const QString x = TestKey + QStringLiteral("\\x");
        WriteRegString(x, QStringLiteral("a"), QStringLiteral("1"));
        WriteRegString(x + QStringLiteral("\\y\\z"), QStringLiteral("b"), QStringLiteral("2"));
        // A value named like the sub-key is a separate thing and stays.
        WriteRegString(TestKey, QStringLiteral("X"), QStringLiteral("value"));
        WriteRegString(TestKey, QStringLiteral("kept"), QStringLiteral("3"));

        QVERIFY(DeleteRegKey(x));
        ForceReparse();
        QVERIFY(!DeleteRegKey(x + QStringLiteral("\\y\\z")));
        QCOMPARE(ReadRegString(x + QStringLiteral("\\y\\z"), QStringLiteral("b")), QString());
        QCOMPARE(ReadRegString(TestKey, QStringLiteral("x")), QStringLiteral("value"));
        QCOMPARE(ReadRegString(TestKey, QStringLiteral("kept")), QStringLiteral("3"));

        // ... and deleting that value leaves the sub-key alone.
        WriteRegString(x + QStringLiteral("\\y"), QStringLiteral("c"), QStringLiteral("4"));
        QVERIFY(DeleteRegValue(TestKey, QStringLiteral("X")));
        QCOMPARE(ReadRegString(x + QStringLiteral("\\y"), QStringLiteral("c")),
                 QStringLiteral("4"));
    }

    void valueNamesOrderIsTheStoresOwn()
    {
        const QStringList names{QStringLiteral("b.wav"), QStringLiteral("A.wav"),
                                QStringLiteral("c d.mp3"), QStringLiteral("a/b.wav")};
        QStringList reversed = names;
        std::reverse(reversed.begin(), reversed.end());
        for (const QString &name : names)
            WriteRegString(TestKey + QStringLiteral("\\one"), name, QStringLiteral("T"));
        for (const QString &name : reversed)
            WriteRegString(TestKey + QStringLiteral("\\two"), name, QStringLiteral("T"));
        ForceReparse();
        QStringList one, two;
        ReadRegValueNames(TestKey + QStringLiteral("\\one"), one);
        ReadRegValueNames(TestKey + QStringLiteral("\\two"), two);
        QCOMPARE(one, two);
        QCOMPARE(QSet<QString>(one.begin(), one.end()), QSet<QString>(names.begin(), names.end()));
    }

    void replaceKeyValues()
    {
        const QString snd = StoreKeys::CheckedSounds;
        WriteRegString(snd, QStringLiteral("old.wav"), QStringLiteral("T"));
        WriteRegString(snd + QStringLiteral("\\sub"), QStringLiteral("x"), QStringLiteral("T"));
        ReplaceRegKeyValues(
            snd,
            {QStringLiteral("Siren.wav"), QStringLiteral("bell.mp3"), QStringLiteral("SIREN.WAV")},
            StoreKeys::SwitchOn);
        ForceReparse();
        QStringList names;
        ReadRegValueNames(snd, names);
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("Siren.wav"), QStringLiteral("bell.mp3")}));
        QCOMPARE(ReadRegString(snd, QStringLiteral("siren.wav")), StoreKeys::SwitchOn);
        QVERIFY(!DeleteRegKey(snd + QStringLiteral("\\sub")));

        ReplaceRegKeyValues(snd, {}, StoreKeys::SwitchOn);
        QVERIFY(!DeleteRegKey(snd));
        ReadRegValueNames(snd, names); // re-creates it, empty
        QVERIFY(names.isEmpty());
        QVERIFY(DeleteRegKey(snd));
    }

    void switchValueOffAndOnAgain()
    {
        const QString name = QStringLiteral("ActMicDetectToggle");
        WriteRegString(StoreKeys::Settings, name, StoreKeys::SwitchOn);
        QVERIFY(DeleteRegValue(StoreKeys::Settings, name));
        QVERIFY(!DeleteRegValue(StoreKeys::Settings, name));
        QCOMPARE(ReadRegString(StoreKeys::Settings, name), QString());
        WriteRegString(StoreKeys::Settings, name, StoreKeys::SwitchOn);
        ForceReparse();
        QCOMPARE(ReadRegString(StoreKeys::Settings, name), StoreKeys::SwitchOn);
    }

    void unreadableFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("writeFirst");
        QByteArray junk(4096, '\0');
        for (char &byte : junk)
            byte = char(QRandomGenerator::global()->bounded(256));
        junk[17] = '\0';
        const QByteArray formatError("[SoftWare\nVEKOR\\Tarvo2\\S\\MsgThanx=T\n");
        const QByteArray notUtf8("[SoftWare]\nVEKOR\\Tarvo2\\S\\MsgThanx=\xff\xfe\n");
        QTest::newRow("binary junk, read") << junk << false;
        QTest::newRow("binary junk, write") << junk << true;
        QTest::newRow("format error, read") << formatError << false;
        QTest::newRow("format error, write") << formatError << true;
        QTest::newRow("not UTF-8, read") << notUtf8 << false;
        QTest::newRow("not UTF-8, write") << notUtf8 << true;
    }

    void unreadableFileIsKeptAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, writeFirst);
        WriteRegString(StoreKeys::Settings, QStringLiteral("before"), QStringLiteral("1"));
        WriteFile(RegistryFilePath(), content);

        if (writeFirst)
            WriteRegString(StoreKeys::Settings, QStringLiteral("after"), QStringLiteral("2"));
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), QString());
        QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("before")), QString());

        const QStringList copies = BrokenCopies();
        QCOMPARE(copies.size(), 1);
        QCOMPARE(ReadFile(StoreFolder() + u'/' + copies.first()), content);

        WriteRegString(StoreKeys::Settings, QStringLiteral("after"), QStringLiteral("3"));
        ForceReparse();
        QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("after")), QStringLiteral("3"));
        QCOMPARE(BrokenCopies().size(), 1);
    }

    void failingWriteRaises()
    {
        // A file where the store's folder belongs stops every write, also
        // for root, whom read-only permissions would not stop.
        WriteFile(StoreFolder(), "not a folder");
        const QString name = QStringLiteral("frmMaintrkAlarmVolume");
        try {
            WriteRegString(StoreKeys::ResetableSettings, name, QStringLiteral("50"));
            QFAIL("the write did not fail");
        } catch (const RegistryError &error) {
            QCOMPARE(error.valueName(), name);
            QVERIFY2(error.message().startsWith(
                         QStringLiteral("Could not save the setting \"frmMaintrkAlarmVolume\" (")),
                     qPrintable(error.message()));
            QVERIFY(error.message().endsWith(QStringLiteral(").")));
            QCOMPARE(QString::fromStdString(error.what()), error.message());
        }
        QVERIFY_THROWS_EXCEPTION(RegistryError, ReplaceRegKeyValues(StoreKeys::CheckedSounds,
                                                                    {QStringLiteral("a.wav")},
                                                                    StoreKeys::SwitchOn));
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), QString());
        QVERIFY(!DeleteRegValue(StoreKeys::Settings, StoreKeys::MsgThanx));
        QStringList names;
        QVERIFY(ReadRegValueNames(StoreKeys::CheckedSounds, names));
        QVERIFY(names.isEmpty());
        QCOMPARE(ReadFile(StoreFolder()), QByteArray("not a folder"));
    }

    void storePathIsAFolder()
    {
        QDir().mkpath(RegistryFilePath());
        QVERIFY_THROWS_EXCEPTION(
            RegistryError,
            WriteRegString(StoreKeys::Settings, QStringLiteral("x"), QStringLiteral("1")));
        QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("x")), QString());
        QVERIFY(QFileInfo(RegistryFilePath()).isDir()); // not "kept aside"
    }

    void killedWriterLeavesOldOrNew_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::newRow("at once") << 0;
        QTest::newRow("soon") << 37;
        QTest::newRow("later") << 151;
    }

    void killedWriterLeavesOldOrNew()
    {
        QFETCH(int, delayMs);
        const int count = 20;
        for (int i = 0; i < count; ++i)
            WriteRegString(TestKey, u'v' + QString::number(i), QStringLiteral("r0"));

        QProcess *child = startChild(QStringLiteral("v %1 0").arg(count));
        QVERIFY(child->waitForStarted());
        QVERIFY(child->waitForReadyRead(20000));
        QTest::qWait(delayMs);
        child->kill();
        QVERIFY(child->waitForFinished());

        // Every value old or new, and written in order: the file was never torn.
        QSettings check(RegistryFilePath(), QSettings::IniFormat);
        QCOMPARE(check.status(), QSettings::NoError);
        ForceReparse();
        QList<int> rounds;
        for (int i = 0; i < count; ++i) {
            const QString value = ReadRegString(TestKey, u'v' + QString::number(i));
            QVERIFY2(value.startsWith(u'r'), qPrintable(value));
            rounds.append(value.mid(1).toInt());
        }
        QVERIFY(rounds.first() >= 1);
        QVERIFY2(std::is_sorted(rounds.rbegin(), rounds.rend()) &&
                     rounds.first() - rounds.last() <= 1,
                 qPrintable(QStringLiteral("rounds: %1")
                                .arg(QStringList([&] {
                                         QStringList list;
                                         for (int r : rounds)
                                             list.append(QString::number(r));
                                         return list;
                                     }())
                                         .join(u' '))));
        QVERIFY(BrokenCopies().isEmpty());

        // A lock left by the killed writer does not block the next one.
        WriteRegString(TestKey, QStringLiteral("after"), QStringLiteral("ok"));
        QCOMPARE(ReadRegString(TestKey, QStringLiteral("after")), QStringLiteral("ok"));
    }

    void concurrentWritersLoseNothing()
    {
        const int count = 30;
        QProcess *first = startChild(QStringLiteral("a %1 1").arg(count));
        QProcess *second = startChild(QStringLiteral("b %1 1").arg(count));
        for (int i = 0; i < count; ++i)
            WriteRegString(TestKey, u'c' + QString::number(i), QStringLiteral("r1"));
        for (QProcess *child : {first, second}) {
            QVERIFY(child->waitForFinished(60000));
            QCOMPARE(child->exitStatus(), QProcess::NormalExit);
            QCOMPARE(child->exitCode(), 0);
        }
        ForceReparse();
        QStringList names;
        ReadRegValueNames(TestKey, names);
        QCOMPARE(names.size(), 3 * count);
        for (const QString &name : std::as_const(names))
            QCOMPARE(ReadRegString(TestKey, name), QStringLiteral("r1"));
    }
};

TARVO_TEST_MAIN(TestRegistry)
#include "tst_registry.moc"
