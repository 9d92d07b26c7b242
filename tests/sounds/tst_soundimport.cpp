// Importing sounds into the library: by the file dialog and by dropping
// files, the files it takes, the working directory it refuses, the
// overwrite question, the limit of a thousand, and failures that lose
// nothing.

#include "SoundFolderTest.h"
#include "common/TestMain.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>

class TestSoundImport : public tarvo::test::SoundFolderTest
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(startFolders()); }
    void cleanup() { endFolders(); }

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
};

TARVO_TEST_MAIN(TestSoundImport)
#include "tst_soundimport.moc"
