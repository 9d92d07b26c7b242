// The sound list against a real sounds folder and the real store: what a
// scan finds, the order, the check marks and their stored key, removing a
// sound, and the keys and clicks on the list.

#include "SoundFolderTest.h"
#include "common/TestMain.h"

#include <QSignalSpy>

class TestSoundLibrary : public tarvo::test::SoundFolderTest
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(startFolders()); }
    void cleanup() { endFolders(); }

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

    void storedNameWithoutFileIsKept()
    {
        // Its sound may only be elsewhere for now (a folder that moved, a
        // disk not mounted yet): the alarm cannot use it, the store keeps it.
        writeFile(sounds() + QStringLiteral("a.wav"));
        writeFile(sounds() + QStringLiteral("b.wav"));
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {"gone.wav", "a.wav", "b.wav"},
                            QStringLiteral("T"));
        Fixture f(work());
        f.lib.ReadCheckedSounds();
        f.lib.FillSounds({});
        QCOMPARE(f.checked, QStringList({"a.wav", "b.wav"}));
        QCOMPARE(storedChecks(), QStringList({"a.wav", "b.wav", "gone.wav"}));
        f.lib.CheckingCheckList(1);
        QCOMPARE(storedChecks(), QStringList({"gone.wav"}));
        f.lib.CheckingCheckList(0);
        QCOMPARE(storedChecks(), QStringList({"a.wav", "b.wav", "gone.wav"}));

        // A sound the user removes takes its check mark along.
        f.lib.FillSounds(QStringLiteral("a.wav"));
        f.prompts.answer = true;
        f.lib.ActRemoveSoundExecute();
        QCOMPARE(storedChecks(), QStringList({"b.wav", "gone.wav"}));
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
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {"a.wav"}, QStringLiteral("T"));
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
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {"b.wav"}, QStringLiteral("T"));
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
