// Where the program keeps its sounds and reports: beside a copy unpacked
// into a folder of its own; in the per-user data folder for an installed
// copy (whether or not its bin/ happens to be writable) and for a copy whose
// folder is read-only, which then takes its sounds along. And which volume
// control the desktop offers, or a plain word that there is none.

#include "app/gUtils.h"
#include "common/TestMain.h"
#include "common/TinyDisk.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <sys/stat.h>

using tarvo::test::TinyDisk;

namespace {

bool Touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

QString DataFolder()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Tarvo2/");
}

QStringList SoundsIn(const QString &folder)
{
    return QDir(folder + QStringLiteral("Sounds")).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestWorkingFolder : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void cleanup() { QDir(DataFolder()).removeRecursively(); }

    void decidedByInstallation_data()
    {
        QTest::addColumn<QString>("executable"); // below the temporary folder
        QTest::addColumn<QStringList>("alsoThere");
        QTest::addColumn<bool>("beside");
        QTest::newRow("unpacked into a folder of its own")
            << "tarvo2-1.0/tarvo2" << QStringList() << true;
        QTest::newRow("installed into a prefix")
            << "usr/bin/tarvo2" << QStringList{"usr/share/tarvo2/sounds/a.wav"} << false;
        QTest::newRow("a bin/ of its own, nothing installed")
            << "home/bin/tarvo2" << QStringList() << true;
        QTest::newRow("installed elsewhere beside share/ without tarvo2")
            << "opt/bin/tarvo2" << QStringList{"opt/share/other/x"} << true;
    }
    void decidedByInstallation()
    {
        QFETCH(QString, executable);
        QFETCH(QStringList, alsoThere);
        QFETCH(bool, beside);
        const QString root = m_dir.path() + u'/' + QTest::currentDataTag() + u'/';
        QVERIFY(Touch(root + executable));
        for (const QString &file : std::as_const(alsoThere))
            QVERIFY(Touch(root + file));
        const QString folder = WorkingDirectoryFor(root + executable);
        QCOMPARE(folder,
                 beside ? QFileInfo(root + executable).absolutePath() + u'/' : DataFolder());
        QCOMPARE(IsInstalledCopy(root + executable), !beside);
        if (!beside) {
            struct stat st;
            QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 0777), 0700);
        }
    }

    void readOnlyFolderTakesItsSoundsAlong()
    {
        TinyDisk disk(128);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        const QString program = disk.path() + QStringLiteral("/tarvo2");
        QVERIFY(Touch(program));
        QVERIFY(Touch(disk.path() + QStringLiteral("/Sounds/a.wav")));
        QVERIFY(Touch(disk.path() + QStringLiteral("/Sounds/B.MP3")));
        QVERIFY(disk.setReadOnly(true));

        QCOMPARE(WorkingDirectoryFor(program), DataFolder());
        QCOMPARE(SoundsIn(DataFolder()), (QStringList{"B.MP3", "a.wav"}));

        // Once the data folder has sounds of its own, a sound the user
        // removed there does not come back.
        QVERIFY(QFile::remove(DataFolder() + QStringLiteral("Sounds/a.wav")));
        QCOMPARE(WorkingDirectoryFor(program), DataFolder());
        QCOMPARE(SoundsIn(DataFolder()), QStringList{"B.MP3"});
        QVERIFY(disk.setReadOnly(false));
    }

    void nowhereToWriteKeepsReadingTheSounds()
    {
        TinyDisk program(64), data(64);
        if (!program.mounted() || !data.mounted())
            QSKIP("mounting a small file system needs root");
        QVERIFY(Touch(program.path() + QStringLiteral("/tarvo2")));
        QVERIFY(Touch(program.path() + QStringLiteral("/Sounds/a.wav")));
        QVERIFY(program.setReadOnly(true) && data.setReadOnly(true));
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        const QString folder = WorkingDirectoryFor(program.path() + QStringLiteral("/tarvo2"));
        qputenv("XDG_DATA_HOME", dataHome);
        QCOMPARE(folder, program.path() + u'/');
        QCOMPARE(SoundsIn(folder), QStringList{"a.wav"});
        QVERIFY(program.setReadOnly(false) && data.setReadOnly(false));
    }

    void systemMixer_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("mixerEntry"); // an application of the Mixer category
        QTest::addColumn<QString>("expected");
        QTest::newRow("GNOME") << "ubuntu:GNOME"
                               << QStringList{"gnome-control-center", "pavucontrol"} << ""
                               << "gnome-control-center sound";
        QTest::newRow("KDE") << "KDE" << QStringList{"systemsettings", "pavucontrol"} << ""
                             << "systemsettings kcm_pulseaudio";
        QTest::newRow("any desktop") << "XFCE" << QStringList{"systemsettings", "pavucontrol"} << ""
                                     << "pavucontrol --tab=3";
        QTest::newRow("by category") << "XFCE" << QStringList{"mixer-x"}
                                     << "Exec=mixer-x --sink %U\nCategories=AudioVideo;Mixer;"
                                     << "mixer-x --sink";
        QTest::newRow("none") << "KDE" << QStringList{"mixer-x"}
                              << "Exec=mixer-x\nCategories=AudioVideo;Player;"
                              << "";
    }
    void systemMixer()
    {
        QFETCH(QString, desktop);
        QFETCH(QStringList, installed);
        QFETCH(QString, mixerEntry);
        QFETCH(QString, expected);
        QTemporaryDir root;
        const QByteArray path = qgetenv("PATH"), dataDirs = qgetenv("XDG_DATA_DIRS"),
                         current = qgetenv("XDG_CURRENT_DESKTOP");
        auto restore = qScopeGuard([&] {
            qputenv("PATH", path);
            qputenv("XDG_DATA_DIRS", dataDirs);
            qputenv("XDG_CURRENT_DESKTOP", current);
        });
        for (const QString &program : installed) {
            QVERIFY(Touch(root.filePath(QStringLiteral("bin/") + program)));
            QFile(root.filePath(QStringLiteral("bin/") + program))
                .setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
        if (!mixerEntry.isEmpty()) {
            const QString entry = root.filePath(QStringLiteral("share/applications/m.desktop"));
            QVERIFY(Touch(entry));
            QFile file(entry);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Desktop Entry]\nType=Application\nName=M\n" + mixerEntry.toUtf8());
        }
        qputenv("PATH", root.filePath(QStringLiteral("bin")).toUtf8());
        qputenv("XDG_DATA_DIRS", root.filePath(QStringLiteral("share")).toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
        const MixerCommand mixer = FindSystemMixer(false);
        QStringList words = mixer.arguments;
        if (!mixer.program.isEmpty())
            words.prepend(QFileInfo(mixer.program).fileName());
        const QString found = words.join(QLatin1Char(' '));
        QCOMPARE(found, expected);
        if (expected.isEmpty())
            QVERIFY(OpenSystemVolumeControl(false).contains(QStringLiteral("No volume control")));
    }
};

TARVO_TEST_MAIN(TestWorkingFolder)
#include "tst_workingfolder.moc"
