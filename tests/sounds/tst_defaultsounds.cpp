// The program's own alarm sounds: where they are found, and the one-time
// offer that copies and checks them on a first start.

#include "common/TestMain.h"

#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"
#include "sounds/DefaultSounds.h"
#include "sounds/SoundLibrary.h"

#include <QTemporaryDir>

namespace {

void makeFile(const QString &path, const QByteArray &content = QByteArrayLiteral("RIFF"))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QStringList storedChecked()
{
    QStringList names;
    ReadRegValueNames(StoreKeys::CheckedSounds, names);
    names.sort();
    return names;
}

} // namespace

class TestDefaultSounds : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_source;
    QString m_sounds;

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile::remove(RegistryFilePath());
        m_source = m_dir->path() + QStringLiteral("/share/tarvo2/sounds/");
        m_sounds = m_dir->path() + QStringLiteral("/work/Sounds/");
        makeFile(m_source + QStringLiteral("Siren.wav"), QByteArray(5000, 'a'));
        makeFile(m_source + QStringLiteral("Horn.wav"), QByteArray(3000, 'b'));
        makeFile(m_source + QStringLiteral("README"));
    }

    void findsBuildTreeInstallTreeAndCompiledInFolder_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("soundsAt");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<bool>("found");
        QTest::newRow("build tree") << "build/app/tarvo2"
                                    << "build/data/sounds"
                                    << "" << true;
        QTest::newRow("installed") << "usr/bin/tarvo2"
                                   << "usr/share/tarvo2/sounds"
                                   << "" << true;
        QTest::newRow("compiled-in place") << "opt/bin/tarvo2"
                                           << "elsewhere/sounds"
                                           << "elsewhere/sounds" << true;
        QTest::newRow("nowhere") << "opt/bin/tarvo2"
                                 << "elsewhere/sounds"
                                 << "" << false;
    }

    void findsBuildTreeInstallTreeAndCompiledInFolder()
    {
        QFETCH(QString, executable);
        QFETCH(QString, soundsAt);
        QFETCH(QString, installed);
        QFETCH(bool, found);
        const QString root = m_dir->path() + QStringLiteral("/tree/");
        makeFile(root + executable);
        makeFile(root + soundsAt + QStringLiteral("/a.WAV"));
        const QByteArray saved = qgetenv("TARVO2_DEFAULT_SOUNDS");
        qunsetenv("TARVO2_DEFAULT_SOUNDS");
        const QString result = FindDefaultSoundsFolder(
            root + executable, installed.isEmpty() ? QString() : root + installed);
        qputenv("TARVO2_DEFAULT_SOUNDS", saved);
        QCOMPARE(result, found ? QDir::cleanPath(root + soundsAt) + QLatin1Char('/') : QString());
    }

    void environmentReplacesTheSearch()
    {
        qputenv("TARVO2_DEFAULT_SOUNDS", m_source.toLocal8Bit());
        QCOMPARE(FindDefaultSoundsFolder(QStringLiteral("/nowhere/bin/tarvo2")),
                 QDir::cleanPath(m_source) + QLatin1Char('/'));
        qputenv("TARVO2_DEFAULT_SOUNDS", "");
        QCOMPARE(FindDefaultSoundsFolder(QStringLiteral("/nowhere/bin/tarvo2")), QString());
    }

    void firstStartCopiesAndChecksThem()
    {
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("gone.wav"), QStringLiteral("T"));
        const DefaultSoundsResult result = OfferDefaultSounds(m_sounds, m_source);
        QVERIFY(result.offered);
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QStringList copied = result.copied;
        copied.sort();
        QCOMPARE(copied, QStringList({"Horn.wav", "Siren.wav"}));
        QCOMPARE(QFileInfo(m_sounds + QStringLiteral("Siren.wav")).size(), 5000);
        QVERIFY(!QFile::exists(m_sounds + QStringLiteral("README")));
        QCOMPARE(storedChecked(), QStringList({"Horn.wav", "Siren.wav", "gone.wav"}));
        QCOMPARE(ReadRegString(StoreKeys::Version, DefaultSoundsOfferedValue), StoreKeys::SwitchOn);
    }

    void removedSoundsDoNotComeBack()
    {
        QVERIFY(OfferDefaultSounds(m_sounds, m_source).offered);
        for (const QString &name : ScanSoundsFolder(m_sounds))
            QVERIFY(QFile::remove(m_sounds + name));
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {}, QStringLiteral("T"));

        const DefaultSoundsResult again = OfferDefaultSounds(m_sounds, m_source);
        QVERIFY(!again.offered);
        QVERIFY(again.copied.isEmpty());
        QVERIFY(ScanSoundsFolder(m_sounds).isEmpty());
        QVERIFY(storedChecked().isEmpty());
    }

    void aFolderWithSoundsIsLeftAlone()
    {
        makeFile(m_sounds + QStringLiteral("mine.mp3"));
        const DefaultSoundsResult result = OfferDefaultSounds(m_sounds, m_source);
        QVERIFY(result.offered); // recorded: emptying the folder later brings nothing
        QVERIFY(result.copied.isEmpty());
        QCOMPARE(ScanSoundsFolder(m_sounds), QStringList{"mine.mp3"});
        QVERIFY(storedChecked().isEmpty());
        QVERIFY(!OfferDefaultSounds(m_dir->path() + QStringLiteral("/other/"), m_source).offered);
    }

    void withoutSourceNothingIsRecorded()
    {
        const DefaultSoundsResult result = OfferDefaultSounds(m_sounds, QString());
        QVERIFY(!result.offered);
        QVERIFY(ReadRegString(StoreKeys::Version, DefaultSoundsOfferedValue).isEmpty());
        // A later start that finds the sounds still offers them.
        QVERIFY(OfferDefaultSounds(m_sounds, m_source).offered);
        QCOMPARE(ScanSoundsFolder(m_sounds).size(), 2);
    }

    void anUncreatableFolderIsAnErrorAndTriedAgain()
    {
        makeFile(m_dir->path() + QStringLiteral("/blocker"));
        const QString below = m_dir->path() + QStringLiteral("/blocker/Sounds/");
        const DefaultSoundsResult result = OfferDefaultSounds(below, m_source);
        QVERIFY(!result.offered);
        QVERIFY(!result.error.isEmpty());
        QVERIFY(ReadRegString(StoreKeys::Version, DefaultSoundsOfferedValue).isEmpty());
        QVERIFY(storedChecked().isEmpty());
    }
};

TARVO_TEST_MAIN(TestDefaultSounds)
#include "tst_defaultsounds.moc"
