#include "common/TestMain.h"
#include "common/TinyDisk.h"
#include "files/SafeFile.h"
#include "report/ReportLinesModel.h"
#include "report/ReportLog.h"
#include "report/fmReport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using tarvo::test::TinyDisk;

class TestReportFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_folder;

    ReportLog MakeLog(const QString &folder = {})
    {
        ReportLog log(folder.isEmpty() ? m_folder : folder);
        log.setClock([] { return QDateTime(QDate(2026, 12, 6), QTime(9, 5)); });
        return log;
    }
    static QByteArray ReadAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
    static void WriteAll(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    static ino_t Inode(const QString &path)
    {
        struct stat st
        {
        };
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_ino;
    }

private Q_SLOTS:
    void init()
    {
        static int run = 0;
        m_folder = m_root.path() + QStringLiteral("/case%1/Reports/").arg(++run);
        ::alarm(60); // a FIFO that blocks fails the test instead of hanging CI
    }
    void cleanup()
    {
        ::alarm(0);
        SafeFile::InjectWriteFailure(0);
    }

    void appendWritesOnlyTheNewLine()
    {
        ReportLog log = MakeLog();
        log.AddToReport(QStringLiteral("Mouse detected"));
        const ino_t inode = Inode(log.filePath());
        const QByteArray before = ReadAll(log.filePath());
        log.AddToReport(QStringLiteral("Alarm - Stoped"));
        QCOMPARE(Inode(log.filePath()), inode); // appended, not replaced
        QCOMPARE(ReadAll(log.filePath()), before + "[06.12.26 09:05] Alarm - Stoped\r\n");
    }

    void tornLastLineIsRepairedAtLoad_data()
    {
        QTest::addColumn<QByteArray>("torn");
        QTest::addColumn<QByteArray>("repaired");
        QTest::addColumn<int>("lines");
        QTest::newRow("cut in the text")
            << QByteArray("[06.12.26 09:05] A\r\n[06.12.26 09:0")
            << QByteArray("[06.12.26 09:05] A\r\n[06.12.26 09:0\r\n") << 2;
        QTest::newRow("cut between CR and LF")
            << QByteArray("[06.12.26 09:05] A\r\n[06.12.26 09:05] B\r")
            << QByteArray("[06.12.26 09:05] A\r\n[06.12.26 09:05] B\r\n") << 2;
        QTest::newRow("whole") << QByteArray("[06.12.26 09:05] A\r\n")
                               << QByteArray("[06.12.26 09:05] A\r\n") << 1;
    }
    void tornLastLineIsRepairedAtLoad()
    {
        QFETCH(QByteArray, torn);
        QFETCH(QByteArray, repaired);
        QFETCH(int, lines);
        ReportLog log = MakeLog();
        WriteAll(log.filePath(), torn);
        log.Load();
        QCOMPARE(log.count(), lines);
        QCOMPARE(ReadAll(log.filePath()), repaired);
        log.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(ReadAll(log.filePath()), repaired + "[06.12.26 09:05] Mouse detected\r\n");
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()).size(), lines + 1);
    }

    void failedAppendKeepsTheLineForLater()
    {
        ReportLog log = MakeLog();
        log.AddToReport(QStringLiteral("Alarm - Activated"));
        const QByteArray before = ReadAll(log.filePath());
        SafeFile::InjectWriteFailure(ENOSPC, 7);
        log.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(ReadAll(log.filePath()), before); // cut back, nothing torn
        QVERIFY(!log.problem().isEmpty());
        QCOMPARE(log.count(), 2);
        SafeFile::InjectWriteFailure(0);
        log.AddToReport(QStringLiteral("Alarm - Stoped"));
        QCOMPARE(ReadAll(log.filePath()), before + "[06.12.26 09:05] Mouse detected\r\n"
                                                   "[06.12.26 09:05] Alarm - Stoped\r\n");
        QVERIFY(log.problem().isEmpty());
    }

    void clearReplacesAtOnce()
    {
        ReportLog log = MakeLog();
        log.AddLinesToReport({QStringLiteral("Mouse Detection - Enabled"),
                              QStringLiteral("Alarm - Activated"),
                              QStringLiteral("Mouse detected")});
        const QByteArray previous = ReadAll(log.filePath());
        log.Clear();
        QCOMPARE(ReadAll(log.filePath()), previous); // until the next line
        SafeFile::InjectWriteFailure(ENOSPC, 10);
        log.AddLinesToReport(
            {QStringLiteral("Simulation - Enabled"), QStringLiteral("Alarm - Activated")});
        QCOMPARE(ReadAll(log.filePath()), previous); // a failed replacement keeps it whole
        SafeFile::InjectWriteFailure(0);
        log.AddToReport(QStringLiteral("Alarm simulated"));
        QCOMPARE(ReadAll(log.filePath()), QByteArray("[06.12.26 09:05] Simulation - Enabled\r\n"
                                                     "[06.12.26 09:05] Alarm - Activated\r\n"
                                                     "[06.12.26 09:05] Alarm simulated\r\n"));
    }

    void fullDiskLosesNoLine()
    {
        TinyDisk disk(64);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        ReportLog log = MakeLog(disk.path() + QStringLiteral("/Reports/"));
        log.AddToReport(QStringLiteral("Alarm - Activated"));
        const QByteArray before = ReadAll(log.filePath());
        QVERIFY(disk.fill());
        log.AddToReport(QStringLiteral("Mouse detected")); // may fit in the file's last block
        log.Clear();
        log.AddToReport(QString(8000, u'x'));
        const QByteArray after = ReadAll(log.filePath());
        QVERIFY2(after.startsWith(before), after.left(200).constData()); // never emptied
        disk.makeRoom();
        log.AddToReport(QStringLiteral("Alarm - Stoped"));
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()).size(), 2);
    }

    void specialFileAtReportPath()
    {
        ReportLog log = MakeLog();
        QDir().mkpath(m_folder);
        QCOMPARE(::mkfifo(QFile::encodeName(log.filePath()).constData(), 0600), 0);
        log.Load(); // must not block
        QCOMPARE(log.count(), 0);
        QVERIFY(log.problem().contains(QStringLiteral("nothing is written")));
        log.AddToReport(QStringLiteral("Mouse detected"));
        log.Clear();
        log.AddToReport(QStringLiteral("Alarm - Activated"));
        QCOMPARE(log.count(), 1);
        QVERIFY(log.problem().contains(QStringLiteral("not a regular file")));
        QVERIFY(QFileInfo(log.filePath()).exists() && !QFileInfo(log.filePath()).isFile());

        TfrmReport window;
        window.LoadReport(log.filePath()); // must not block either
        QVERIFY(window.ListBox1->isHidden());
        QVERIFY(!window.pnlNothingToReport->isHidden());
    }

    void symbolicLinkIsFollowed()
    {
        ReportLog log = MakeLog();
        const QString target = m_root.path() + QStringLiteral("/elsewhere.txt");
        WriteAll(target, "[06.12.26 09:05] old\r\n");
        QDir().mkpath(m_folder);
        QVERIFY(QFile::link(target, log.filePath()));
        log.Load();
        QCOMPARE(log.count(), 1);
        log.AddToReport(QStringLiteral("Mouse detected"));
        log.Clear();
        log.AddToReport(QStringLiteral("Alarm - Activated"));
        QVERIFY(QFileInfo(log.filePath()).isSymLink());
        QCOMPARE(ReadAll(target), QByteArray("[06.12.26 09:05] Alarm - Activated\r\n"));
        log.AddToReport(QStringLiteral("Alarm - Stoped"));
        QVERIFY(QFileInfo(log.filePath()).isSymLink());
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()).size(), 2);
    }

    void fileChangedBehindOurBackGetsTheWholeLog()
    {
        ReportLog log = MakeLog();
        log.AddToReport(QStringLiteral("Alarm - Activated"));
        QVERIFY(QFile::remove(log.filePath()));
        log.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()), log.lines());
        WriteAll(log.filePath(), "someone else\r\n");
        log.AddToReport(QStringLiteral("Alarm - Stoped"));
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()), log.lines());
    }

    void windowShowsEveryLineAndScrollsToTheEnd()
    {
        ReportLog log = MakeLog();
        QByteArray bytes;
        for (int i = 0; i < 20000; ++i)
            bytes += "[06.12.26 09:05] line " + QByteArray::number(i) + "\r\n";
        bytes += "[06.12.26 09:05] a very long last line " + QByteArray(300, 'w');
        WriteAll(log.filePath(), bytes);
        TfrmReport window;
        window.LoadReport(log.filePath());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.lines()->rowCount(), 20001);
        QCOMPARE(window.lines()->lineAt(19999), QStringLiteral("[06.12.26 09:05] line 19999"));
        window.ListBox1->scrollToBottom();
        QTRY_COMPARE(window.ListBox1->verticalScrollBar()->value(),
                     window.ListBox1->verticalScrollBar()->maximum());
        QTRY_VERIFY(window.ListBox1->indexAt(QPoint(5, 5)).row() >= 19980);
        // The longest line sets the width, so it can be scrolled to.
        QVERIFY(window.ListBox1->horizontalScrollBar()->maximum() > 0);
    }
};

TARVO_TEST_MAIN(TestReportFaults)
#include "tst_reportfaults.moc"
