// The sound library against a real sounds folder and the real store, with
// the message boxes and the file dialog answered in advance.

#include "common/TestMain.h"

#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"
#include "sounds/SoundLibrary.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>

namespace {

class FakePrompts : public SoundPrompts
{
public:
    QStringList messages;
    QStringList questions;
    QList<bool> questionWarnings;
    bool answer = true;
    QString fileToOpen;
    int dialogs = 0;

    void information(QWidget *, const QString &text) override { messages.append(text); }
    void error(QWidget *, const QString &text) override { messages.append(text); }
    bool askYesNo(QWidget *, const QString &text, bool warning) override
    {
        questions.append(text);
        questionWarnings.append(warning);
        return answer;
    }
    QString openSoundFile(QWidget *) override
    {
        ++dialogs;
        return fileToOpen;
    }
};

struct Fixture
{
    SoundListWidget list;
    QStringList checked;
    FakePrompts prompts;
    int stops = 0;
    int pauses = 0;
    int resumes = 0;
    SoundLibrary lib;

    explicit Fixture(const QString &workingDirectory)
        : lib(&list, checked, workingDirectory,
              {[this] { ++stops; }, [this] { ++pauses; }, [this] { ++resumes; }})
    {
        lib.setPrompts(&prompts);
    }

    QStringList entries() const
    {
        QStringList names;
        for (int row = 0; row < list.count(); ++row)
            names.append(list.item(row)->text());
        return names;
    }
    QStringList checkedEntries() const
    {
        QStringList names;
        for (int row = 0; row < list.count(); ++row) {
            if (list.item(row)->checkState() == Qt::Checked)
                names.append(list.item(row)->text());
        }
        return names;
    }
    QListWidgetItem *entry(const QString &name) const
    {
        const auto found = list.findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        return found.value(0);
    }
};

void writeFile(const QString &path, const QByteArray &data = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(data), data.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList sortedCopy(QStringList names)
{
    names.sort();
    return names;
}

// The store lists names in an order of its own.
QStringList storedChecks()
{
    QStringList names;
    ReadRegValueNames(StoreKeys::CheckedSounds, names);
    return sortedCopy(names);
}

} // namespace

class TestSoundLibrary : public QObject
{
    Q_OBJECT

    QTemporaryDir *m_root = nullptr;
    QString root() const { return m_root->path(); }
    QString work() const { return root() + QStringLiteral("/work/"); }
    QString sounds() const { return work() + QStringLiteral("Sounds/"); }
    QString outside(const QString &name) const
    {
        return root() + QStringLiteral("/outside/") + name;
    }

private Q_SLOTS:
    void init()
    {
        m_root = new QTemporaryDir;
        QVERIFY(m_root->isValid());
        QDir().mkpath(work());
        QFile::remove(RegistryFilePath());
    }
    void cleanup()
    {
        delete m_root;
        m_root = nullptr;
        QDir(RegistryFilePath()).removeRecursively();
        QFile::remove(RegistryFilePath());
    }

    void scanMatchesBothPatternsInAnyCaseFilesOnly()
    {
        for (const char *name :
             {"a.wav", "B.WAV", ".hidden.wav", "c.Mp3", "d.txt", "e.wav.bak", "wav", "f.au"})
            writeFile(sounds() + QLatin1String(name));
        QDir().mkpath(sounds() + QStringLiteral("folder.wav"));
        QVERIFY(QFile::link(sounds() + QStringLiteral("missing"), sounds() + "broken.wav"));

        const QStringList names = ScanSoundsFolder(sounds());
        QCOMPARE(names.size(), 4);
        QCOMPARE(sortedCopy(names.mid(0, 3)), QStringList({".hidden.wav", "B.WAV", "a.wav"}));
        QCOMPARE(names.at(3), QStringLiteral("c.Mp3"));
        QVERIFY(ScanSoundsFolder(work() + QStringLiteral("NoSuchFolder/")).isEmpty());
    }

    void scanStopsAtTheLimitWithWavFirst()
    {
        for (int i = 0; i < 700; ++i)
            writeFile(sounds() + QStringLiteral("m%1.mp3").arg(i));
        for (int i = 0; i < 301; ++i)
            writeFile(sounds() + QStringLiteral("w%1.WAV").arg(i));

        const QStringList names = ScanSoundsFolder(sounds());
        QCOMPARE(names.size(), 1000);
        for (int i = 0; i < 301; ++i)
            QVERIFY2(names.at(i).endsWith(QLatin1String(".WAV")), qPrintable(names.at(i)));
        QCOMPARE(ScanSoundsFolder(sounds(), 5).size(), 5);

        Fixture f(work());
        f.lib.FillSounds({});
        QCOMPARE(f.lib.count(), 1000);
        QCOMPARE(f.entries().filter(QStringLiteral(".WAV")).size(), 301);
    }

    void acceptedDropFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("wav") << "/x/a.wav" << true;
        QTest::newRow("upper MP3") << "/x/c.MP3" << true;
        QTest::newRow("mixed Wav") << "/x/c.Wav" << true;
        QTest::newRow("text") << "/x/b.txt" << false;
        QTest::newRow("au") << "/x/b.au" << false;
        QTest::newRow("no extension") << "/x/wav" << false;
        QTest::newRow("dot in folder only") << "/x.wav/file" << false;
        QTest::newRow("double extension") << "/x/a.wav.txt" << false;
        QTest::newRow("last extension counts") << "/x/a.txt.mp3" << true;
        QTest::newRow("longer extension") << "/x/a.wave" << false;
    }
    void acceptedDropFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, accepted);
        QCOMPARE(IsAcceptedDropFile(path), accepted);
    }

    void workingDirectoryTest_data()
    {
        QTest::addColumn<QString>("relative"); // below the temporary root
        QTest::addColumn<bool>("inside");
        QTest::newRow("sounds folder") << "/work/Sounds/a.wav" << true;
        QTest::newRow("working directory") << "/work/a.wav" << true;
        QTest::newRow("deeper") << "/work/x/y/a.wav" << true;
        QTest::newRow("outside") << "/outside/a.wav" << false;
        QTest::newRow("sibling with longer name") << "/workshop/a.wav" << false;
        QTest::newRow("through link") << "/link/a.wav" << true;
        QTest::newRow("dot-dot out") << "/work/../outside/a.wav" << false;
    }
    void workingDirectoryTest()
    {
        QFETCH(QString, relative);
        QFETCH(bool, inside);
        QDir().mkpath(sounds());
        QFile::link(sounds(), root() + QStringLiteral("/link"));
        QString message;
        QCOMPARE(IsInWorkingDirectory(work(), root() + relative, &message), inside);
        QCOMPARE(message, inside ? WorkingDirectoryMessage(work()) : QString());
    }

    void workingDirectoryTestIsNoTextSearch()
    {
        // The working directory's path reappearing deeper in an outside path.
        const QString path = root() + QStringLiteral("/outside") + work() + QStringLiteral("a.wav");
        QVERIFY(!IsInWorkingDirectory(work(), path, nullptr));
        QVERIFY(!IsInWorkingDirectory(work(), QString(), nullptr));
        QCOMPARE(WorkingDirectoryMessage(QStringLiteral("/opt/t/")),
                 QStringLiteral("You cannot import already imported files.\n\nYou must browse "
                                "outside the /opt/t/ working directory.\nThe file you try to "
                                "import reside in the working directory mentioned above."));
    }

    void importByDialog()
    {
        writeFile(outside(QStringLiteral("a.wav")), "AAA");
        writeFile(sounds() + QStringLiteral("z.wav"));
        Fixture f(work());
        f.lib.FillSounds({});
        QSignalSpy changed(&f.lib, &SoundLibrary::listChanged);

        f.prompts.fileToOpen = QString(); // cancelled
        f.lib.ActAddSoundExecute();
        QCOMPARE(f.prompts.dialogs, 1);
        QCOMPARE(f.entries(), QStringList({"z.wav"}));

        f.prompts.fileToOpen = outside(QStringLiteral("a.wav"));
        f.lib.ActAddSoundExecute();
        QCOMPARE(f.prompts.dialogs, 2);
        QCOMPARE(f.entries(), QStringList({"a.wav", "z.wav"}));
        QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("a.wav"));
        QCOMPARE(f.checked, QStringList({"a.wav"}));
        QCOMPARE(f.checkedEntries(), f.checked);
        QCOMPARE(storedChecks(), sortedCopy(f.checked));
        QCOMPARE(ReadRegString(StoreKeys::CheckedSounds, QStringLiteral("a.wav")),
                 QStringLiteral("T"));
        QCOMPARE(readFile(sounds() + QStringLiteral("a.wav")), QByteArray("AAA"));
        QVERIFY(!changed.isEmpty());
        QVERIFY(f.prompts.messages.isEmpty());
    }

    void importByDropEvent()
    {
        QStringList paths;
        for (const char *name : {"a.wav", "b.txt", "c.MP3"}) {
            paths.append(outside(QLatin1String(name)));
            writeFile(paths.last(), name);
        }
        Fixture f(work());
        f.lib.FillSounds({});

        QMimeData mime;
        QList<QUrl> urls;
        for (const QString &path : std::as_const(paths))
            urls.append(QUrl::fromLocalFile(path));
        urls.append(QUrl(QStringLiteral("https://example.org/remote.wav")));
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.list.viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.list.viewport(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(drop.dropAction(), Qt::CopyAction);

        QTRY_COMPARE(f.lib.count(), 2);
        QCOMPARE(f.entries(), QStringList({"a.wav", "c.MP3"}));
        QCOMPARE(f.checkedEntries(), f.entries());
        QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("c.MP3"));
        QCOMPARE(storedChecks(), QStringList({"a.wav", "c.MP3"}));
        QVERIFY(!QFileInfo::exists(sounds() + QStringLiteral("b.txt")));
        QVERIFY(f.prompts.messages.isEmpty());
    }

    void dragWithoutLocalFilesIsRefused()
    {
        Fixture f(work());
        QMimeData mime;
        mime.setText(QStringLiteral("a.wav"));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.list.viewport(), &enter);
        QVERIFY(!enter.isAccepted());
    }

    void reimportFromWorkingDirectoryRefused_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("sounds folder") << "Sounds/a.wav";
        QTest::newRow("below working directory") << "old/deeper/x.wav";
    }
    void reimportFromWorkingDirectoryRefused()
    {
        QFETCH(QString, relative);
        writeFile(sounds() + QStringLiteral("a.wav"), "A");
        writeFile(work() + relative, "X");
        Fixture f(work());
        f.lib.FillSounds({});
        f.lib.CheckingCheckList(1);
        const QStringList before = QDir(sounds()).entryList(QDir::Files);

        f.lib.DropFileTargetSoundsDrop({work() + relative});
        QCOMPARE(f.prompts.messages, QStringList({WorkingDirectoryMessage(work())}));
        QVERIFY(f.prompts.questions.isEmpty());
        QCOMPARE(QDir(sounds()).entryList(QDir::Files), before);
        QVERIFY(f.checked.isEmpty());
        QVERIFY(storedChecks().isEmpty());
    }

    void overwriteQuestion_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("No") << false;
        QTest::newRow("Yes") << true;
    }
    void overwriteQuestion()
    {
        QFETCH(bool, answer);
        writeFile(sounds() + QStringLiteral("a.wav"), "old");
        writeFile(sounds() + QStringLiteral("b.wav"), "b");
        writeFile(outside(QStringLiteral("a.wav")), "new");
        Fixture f(work());
        f.lib.FillSounds(QStringLiteral("b.wav"));
        QCOMPARE(f.checkedEntries(), QStringList());

        f.prompts.answer = answer;
        f.lib.LoadSound(outside(QStringLiteral("a.wav")));
        QCOMPARE(f.prompts.questions,
                 QStringList({"The sound you try to import is already in the list!\nWould you "
                              "like to overwrite it?"}));
        QCOMPARE(f.prompts.questionWarnings, QList<bool>({true}));
        QCOMPARE(f.entries(), QStringList({"a.wav", "b.wav"}));
        if (answer) {
            QCOMPARE(readFile(sounds() + QStringLiteral("a.wav")), QByteArray("new"));
            QCOMPARE(f.checkedEntries(), QStringList({"a.wav"}));
            QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("a.wav"));
            QCOMPARE(storedChecks(), QStringList({"a.wav"}));
        } else {
            QCOMPARE(readFile(sounds() + QStringLiteral("a.wav")), QByteArray("old"));
            QCOMPARE(f.checkedEntries(), QStringList());
            QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("b.wav"));
        }
        QCOMPARE(QDir(sounds()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void failedImportLosesNothing_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("target is a folder") << "target folder";
        QTest::newRow("source vanished") << "no source";
        QTest::newRow("source is a folder") << "source folder";
    }
    void failedImportLosesNothing()
    {
        QFETCH(QString, failure);
        writeFile(sounds() + QStringLiteral("keep.wav"), "keep");
        QString source = outside(QStringLiteral("a.wav"));
        if (failure == QLatin1String("target folder")) {
            writeFile(source, "new");
            QDir().mkpath(sounds() + QStringLiteral("a.wav/inner"));
        } else if (failure == QLatin1String("source folder")) {
            QDir().mkpath(source);
        }
        Fixture f(work());
        f.lib.FillSounds({});
        QCOMPARE(f.checked, QStringList());
        f.lib.CheckingCheckList(0);

        f.lib.LoadSound(source);
        QCOMPARE(f.entries(), QStringList({"keep.wav"}));
        QCOMPARE(f.checked, QStringList({"keep.wav"}));
        QCOMPARE(storedChecks(), QStringList({"keep.wav"}));
        QCOMPARE(readFile(sounds() + QStringLiteral("keep.wav")), QByteArray("keep"));
        // The user learns what could not be saved.
        QCOMPARE(f.prompts.messages.size(), 1);
        QVERIFY2(f.prompts.messages.first().startsWith(
                     QStringLiteral("Could not import the sound \"a.wav\" (")),
                 qPrintable(f.prompts.messages.first()));
        QCOMPARE(QDir(sounds()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"keep.wav"})); // no temporary file left behind
        if (failure == QLatin1String("target folder"))
            QVERIFY(QFileInfo(sounds() + QStringLiteral("a.wav/inner")).isDir());
    }

    void soundsFolderThatCannotBeCreated()
    {
        writeFile(work() + QStringLiteral("Sounds"), "a file where the folder belongs");
        writeFile(outside(QStringLiteral("a.wav")), "A");
        Fixture f(work());
        f.checked = {QStringLiteral("x.wav")};
        f.lib.LoadSound(outside(QStringLiteral("a.wav")));
        QCOMPARE(f.lib.count(), 0);
        QCOMPARE(f.checked, QStringList({"x.wav"}));
        QVERIFY(f.prompts.messages.isEmpty());
        QCOMPARE(readFile(work() + QStringLiteral("Sounds")),
                 QByteArray("a file where the folder belongs"));
    }

    void copyReplacesWholeFile()
    {
        QByteArray big(700 * 1024, Qt::Uninitialized);
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(qint64(i) * 7919 % 251);
        writeFile(outside(QStringLiteral("big.wav")), big);
        writeFile(sounds() + QStringLiteral("big.wav"), QByteArray(900 * 1024, 'x'));
        QVERIFY(CopyFileReplacing(outside(QStringLiteral("big.wav")),
                                  sounds() + QStringLiteral("big.wav")));
        QCOMPARE(readFile(sounds() + QStringLiteral("big.wav")), big);
        QVERIFY(!CopyFileReplacing(outside(QStringLiteral("none.wav")),
                                   sounds() + QStringLiteral("big.wav")));
        QCOMPARE(readFile(sounds() + QStringLiteral("big.wav")), big);
    }

    void removal_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QString>("nextSelection");
        const QStringList abc = {"a.wav", "B.mp3", "c.wav"};
        QTest::newRow("last of three")
            << abc << "c.wav" << QStringList({"a.wav", "B.mp3"}) << "B.mp3";
        QTest::newRow("middle") << abc << "B.mp3" << QStringList({"a.wav", "c.wav"}) << "a.wav";
        QTest::newRow("first") << abc << "a.wav" << QStringList({"B.mp3", "c.wav"}) << "B.mp3";
        QTest::newRow("only") << QStringList({"a.wav"}) << "a.wav" << QStringList() << "";
    }
    void removal()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, selected);
        QFETCH(QStringList, remaining);
        QFETCH(QString, nextSelection);
        for (const QString &name : std::as_const(files))
            writeFile(sounds() + name);
        Fixture f(work());
        f.lib.FillSounds(selected);
        f.lib.CheckingCheckList(0);
        QCOMPARE(f.lib.selectedSoundName(), selected);

        f.prompts.answer = true;
        f.lib.ActRemoveSoundExecute();
        QCOMPARE(f.prompts.questions,
                 QStringList({"Are you sure you want to remove the " + selected + " Sound?"}));
        QCOMPARE(f.prompts.questionWarnings, QList<bool>({false}));
        QVERIFY(!QFileInfo::exists(sounds() + selected));
        QCOMPARE(f.entries(), remaining);
        QCOMPARE(f.lib.selectedSoundName(), nextSelection);
        QCOMPARE(f.lib.hasSelection(), !remaining.isEmpty());
        QCOMPARE(f.checked, remaining);
        QCOMPARE(storedChecks(), sortedCopy(remaining));
        QCOMPARE(f.stops, 1);
        QCOMPARE(f.pauses, 1);
        QCOMPARE(f.resumes, 1);
    }

    void removalAnsweredNo()
    {
        writeFile(sounds() + QStringLiteral("a.wav"), "A");
        writeFile(sounds() + QStringLiteral("b.wav"), "B");
        Fixture f(work());
        f.lib.FillSounds(QStringLiteral("b.wav"));
        f.prompts.answer = false;
        f.lib.ActRemoveSoundExecute();
        QCOMPARE(f.prompts.questions.size(), 1);
        QCOMPARE(readFile(sounds() + QStringLiteral("b.wav")), QByteArray("B"));
        QCOMPARE(f.entries(), QStringList({"a.wav", "b.wav"}));
        QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("b.wav"));
        QCOMPARE(f.stops, 1);
        QCOMPARE(f.pauses, 1);
        QCOMPARE(f.resumes, 1);
    }

    void removalWithoutSelectionDoesNothing()
    {
        Fixture f(work());
        f.lib.FillSounds({});
        f.lib.ActRemoveSoundExecute();
        QVERIFY(f.prompts.questions.isEmpty());
        QCOMPARE(f.stops + f.pauses + f.resumes, 0);
    }

    void limitOfAThousand()
    {
        for (int i = 0; i < MaxSounds; ++i)
            writeFile(sounds() + QStringLiteral("s%1.wav").arg(i, 4, 10, QLatin1Char('0')));
        writeFile(outside(QStringLiteral("x.wav")));
        writeFile(outside(QStringLiteral("y.mp3")));
        Fixture f(work());
        f.lib.FillSounds({});
        QCOMPARE(f.lib.count(), MaxSounds);
        const QString maximum = QStringLiteral("Maximum number of Sounds allowed is 1000");

        f.prompts.fileToOpen = outside(QStringLiteral("x.wav"));
        f.lib.ActAddSoundExecute();
        QCOMPARE(f.prompts.messages, QStringList({maximum}));
        QCOMPARE(f.prompts.dialogs, 0);

        f.prompts.messages.clear();
        f.lib.DropFileTargetSoundsDrop({outside(QStringLiteral("note.txt")),
                                        outside(QStringLiteral("x.wav")),
                                        outside(QStringLiteral("y.mp3"))});
        QCOMPARE(f.prompts.messages, QStringList({maximum}));
        QCOMPARE(QDir(sounds()).entryList(QDir::Files).size(), MaxSounds);
        QCOMPARE(f.lib.count(), MaxSounds);
    }

    void checkMarksSurviveRestart_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("uncheck");
        QTest::newRow("odd names")
            << QStringList({"with space.wav", "eq=sign.mp3", "pct%20.wav", "[bracket].wav",
                            "quote\"s'.wav", QString::fromUtf8("ümlaut ß.wav"), "semi;colon.mp3",
                            "back\\slash.wav", "#hash.wav", "plain.wav"})
            << QStringList({"plain.wav", "[bracket].wav"});
        QTest::newRow("nothing checked") << QStringList({"a.wav"}) << QStringList({"a.wav"});
    }
    void checkMarksSurviveRestart()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, uncheck);
        for (const QString &name : std::as_const(files))
            writeFile(sounds() + name);
        QStringList expected;
        {
            Fixture f(work());
            f.lib.FillSounds({});
            f.lib.CheckingCheckList(0);
            for (const QString &name : std::as_const(uncheck))
                f.entry(name)->setCheckState(Qt::Unchecked); // as a click on the box
            expected = f.checkedEntries();
            QCOMPARE(f.checked, expected);
            QCOMPARE(storedChecks(), sortedCopy(expected));
        }
        Fixture restarted(work());
        restarted.lib.ReadCheckedSounds();
        QCOMPARE(sortedCopy(restarted.checked), sortedCopy(expected));
        restarted.lib.FillSounds({});
        QCOMPARE(restarted.checkedEntries(), expected);
        QCOMPARE(restarted.checked, expected);
    }

    void checkMarkIgnoresCase()
    {
        writeFile(sounds() + QStringLiteral("SIREN.WAV"));
        writeFile(sounds() + QStringLiteral("bell.wav"));
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {QStringLiteral("siren.wav")},
                            QStringLiteral("T"));
        Fixture f(work());
        f.lib.ReadCheckedSounds();
        QCOMPARE(f.checked, QStringList({"siren.wav"}));
        f.lib.FillSounds({});
        QCOMPARE(f.checkedEntries(), QStringList({"SIREN.WAV"}));
        QCOMPARE(f.checked, QStringList({"SIREN.WAV"}));
        QCOMPARE(storedChecks(), QStringList({"SIREN.WAV"}));
    }

    void storedNameWithoutFileIsDropped()
    {
        writeFile(sounds() + QStringLiteral("a.wav"));
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {"gone.wav", "a.wav"}, QStringLiteral("T"));
        Fixture f(work());
        f.lib.ReadCheckedSounds();
        f.lib.FillSounds({});
        QCOMPARE(storedChecks(), QStringList({"a.wav"}));
    }

    void userActionsRewriteTheKey()
    {
        writeFile(sounds() + QStringLiteral("a.wav"));
        writeFile(sounds() + QStringLiteral("b.wav"));
        Fixture f(work());
        f.list.resize(260, 180);
        f.list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.list));
        f.lib.FillSounds({});
        f.lib.CheckingCheckList(0);
        QSignalSpy changed(&f.lib, &SoundLibrary::listChanged);

        // A click that changes no check mark still writes the key again.
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {"bogus.wav"}, QStringLiteral("T"));
        const QRect rect = f.list.visualItemRect(f.list.item(1));
        QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("b.wav"));
        QCOMPARE(storedChecks(), QStringList({"a.wav", "b.wav"}));
        QCOMPARE(f.list.toolTip(), QStringLiteral("b.wav"));
        QVERIFY(!changed.isEmpty());

        // The pointer released below the last entry clears the hint.
        QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {}, QPoint(5, 170));
        QCOMPARE(f.list.toolTip(), QString());

        // A key press in the list, too.
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {"bogus.wav"}, QStringLiteral("T"));
        QTest::keyClick(&f.list, Qt::Key_Up);
        QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("a.wav"));
        QCOMPARE(storedChecks(), QStringList({"a.wav", "b.wav"}));

        // The space bar toggles the check mark of the current entry.
        QTest::keyClick(&f.list, Qt::Key_Space);
        QCOMPARE(f.checked, QStringList({"b.wav"}));
        QCOMPARE(storedChecks(), QStringList({"b.wav"}));
    }

    void checkCommands_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("check all") << 0 << QStringList({"a.wav", "b.wav", "c.wav"});
        QTest::newRow("uncheck all") << 1 << QStringList();
        QTest::newRow("invert") << 2 << QStringList({"a.wav", "c.wav"});
        QTest::newRow("unknown mode") << 7 << QStringList({"b.wav"});
    }
    void checkCommands()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, expected);
        for (const char *name : {"c.wav", "a.wav", "b.wav"})
            writeFile(sounds() + QLatin1String(name));
        Fixture f(work());
        f.checked = {QStringLiteral("B.WAV")};
        f.lib.FillSounds({});
        QCOMPARE(f.checkedEntries(), QStringList({"b.wav"}));
        f.lib.CheckingCheckList(mode);
        QCOMPARE(f.checkedEntries(), expected);
        QCOMPARE(f.checked, expected);
        QCOMPARE(storedChecks(), sortedCopy(expected));
    }

    void listSortsWithoutRegardToCase()
    {
        for (const char *name : {"b.wav", "C.mp3", "A.wav", "a2.MP3", "_x.wav"})
            writeFile(sounds() + QLatin1String(name));
        Fixture f(work());
        f.lib.FillSounds(QStringLiteral("c.mp3")); // no exact match: the first is selected
        QCOMPARE(f.entries(), QStringList({"_x.wav", "A.wav", "a2.MP3", "b.wav", "C.mp3"}));
        QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("_x.wav"));
        f.lib.FillSounds(QStringLiteral("C.mp3"));
        QCOMPARE(f.lib.selectedSoundName(), QStringLiteral("C.mp3"));
    }

    void insertAndDeleteKeysRequestTheActions()
    {
        writeFile(sounds() + QStringLiteral("a.wav"));
        Fixture f(work());
        f.lib.FillSounds({});
        QSignalSpy add(&f.lib, &SoundLibrary::addSoundRequested);
        QSignalSpy remove(&f.lib, &SoundLibrary::removeSoundRequested);
        QTest::keyClick(&f.list, Qt::Key_Insert);
        QTest::keyClick(&f.list, Qt::Key_A);
        QCOMPARE(add.size(), 1);
        QCOMPARE(remove.size(), 0);
        QTest::keyClick(&f.list, Qt::Key_Delete);
        QCOMPARE(remove.size(), 1);
        QCOMPARE(add.size(), 1);
        QVERIFY(f.prompts.questions.isEmpty()); // the window's action asks, not the key
    }

    void storeFailureIsShown()
    {
        writeFile(sounds() + QStringLiteral("a.wav"));
        Fixture f(work());
        f.lib.FillSounds({});
        QVERIFY(f.prompts.messages.isEmpty());
        // A folder where the store file belongs: nothing can be written.
        QFile::remove(RegistryFilePath());
        QVERIFY(QDir().mkpath(RegistryFilePath()));
        f.lib.CheckingCheckList(0);
        QCOMPARE(f.checked, QStringList({"a.wav"}));
        QCOMPARE(f.prompts.messages.size(), 1);
        QVERIFY(!f.prompts.messages.constFirst().isEmpty());
    }
};

TARVO_TEST_MAIN(TestSoundLibrary)
#include "tst_soundlibrary.moc"
