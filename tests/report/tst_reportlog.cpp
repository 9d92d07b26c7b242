#include "common/TestMain.h"
#include "report/ReportHistory.h"
#include "report/ReportLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <future>
#include <sys/stat.h>

class TestReportLog : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_folder;
    QDateTime m_now;

    ReportLog MakeLog()
    {
        ReportLog log(m_folder);
        log.setClock([this] { return m_now; });
        return log;
    }
    static QByteArray ReadAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void WriteAll(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

private Q_SLOTS:
    void init()
    {
        static int run = 0;
        m_folder = m_root.path() + QStringLiteral("/case%1/Reports/").arg(++run);
        m_now = QDateTime(QDate(2026, 12, 6), QTime(9, 5, 30));
    }

    void formatLine_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("expected");
        QTest::newRow("example") << QDateTime(QDate(2026, 12, 6), QTime(9, 5, 59))
                                 << QStringLiteral("[06.12.26 09:05] Alarm - Activated");
        QTest::newRow("midnight") << QDateTime(QDate(2000, 1, 31), QTime(0, 0))
                                  << QStringLiteral("[31.01.00 00:00] Alarm - Activated");
        QTest::newRow("evening") << QDateTime(QDate(1999, 10, 9), QTime(23, 59, 59))
                                 << QStringLiteral("[09.10.99 23:59] Alarm - Activated");
    }
    void formatLine()
    {
        QFETCH(QDateTime, when);
        QFETCH(QString, expected);
        QCOMPARE(ReportLog::FormatLine(when, QStringLiteral("Alarm - Activated")), expected);
    }

    void repeatRule()
    {
        ReportLog log = MakeLog();
        log.AddToReport(QStringLiteral("Microphone detected"));
        m_now = m_now.addSecs(20); // same minute
        log.AddToReport(QStringLiteral("Microphone detected"));
        QCOMPARE(log.count(), 1);
        log.AddToReport(QStringLiteral("Mouse detected"));
        log.AddToReport(QStringLiteral("Microphone detected"));
        QCOMPARE(log.count(), 3); // only the last line counts
        m_now = m_now.addSecs(60);
        log.AddToReport(QStringLiteral("Microphone detected"));
        QCOMPARE(log.count(), 4);
        log.AddToReport(QStringLiteral("microphone detected")); // case matters
        QCOMPARE(log.count(), 5);
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()), log.lines());
    }

    void repeatRuleAcrossRestart()
    {
        {
            ReportLog log = MakeLog();
            log.AddToReport(QStringLiteral("Mouse detected"));
        }
        ReportLog restarted = MakeLog();
        restarted.Load();
        QCOMPARE(restarted.count(), 1);
        restarted.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(restarted.count(), 1);
        QCOMPARE(ReportLog::ReadReportFile(restarted.filePath()).size(), 1);
    }

    void fileFormat()
    {
        ReportLog log = MakeLog();
        QVERIFY(!QDir(m_folder).exists());
        log.AddToReport(QStringLiteral("Waiting 10 second(s) before Activation"));
        m_now = m_now.addSecs(10 * 60);
        log.AddToReport(QStringLiteral("Bewegung – Ä"));
        const QByteArray expected =
            QByteArrayLiteral("[06.12.26 09:05] Waiting 10 second(s) before Activation\r\n"
                              "[06.12.26 09:15] Bewegung ") +
            QStringLiteral("– Ä").toUtf8() + "\r\n";
        QCOMPARE(ReadAll(log.filePath()), expected);
        // Written through a temporary file that must not be left behind.
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Report.txt")});
    }

    void loadSplitsLines_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("count");
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << 2;
        QTest::newRow("no final end") << QByteArray("a\r\nb") << 2;
        QTest::newRow("lone lf") << QByteArray("a\nb\n") << 2;
        QTest::newRow("lone cr") << QByteArray("a\rb\r") << 2;
        QTest::newRow("blank lines") << QByteArray("\r\n\n\r") << 3;
        QTest::newRow("cr cr lf") << QByteArray("a\r\r\nb") << 3;
    }
    void loadSplitsLines()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, count);
        QVERIFY(QDir().mkpath(m_folder));
        ReportLog log = MakeLog();
        WriteAll(log.filePath(), contents);
        log.Load();
        QCOMPARE(log.count(), count);
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()).size(), count);
    }

    // Read on another thread and taken up at first use: the same log as a
    // plain load, and reading alone changes nothing on disk.
    void loadReadAhead_data() { loadSplitsLines_data(); }
    void loadReadAhead()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, count);
        QVERIFY(QDir().mkpath(m_folder));
        ReportLog plain = MakeLog();
        WriteAll(plain.filePath(), contents);
        ReportLog early = MakeLog();
        early.LoadAtFirstUse();
        early.ReadAhead();
        QTest::qWait(20);
        QCOMPARE(ReadAll(plain.filePath()), contents); // a torn line waits for the take-up
        early.Settle();
        const QByteArray repaired = ReadAll(plain.filePath());
        plain.Load();
        QCOMPARE(early.count(), count);
        QCOMPARE(early.lines(), plain.lines());
        QCOMPARE(ReadAll(plain.filePath()), repaired); // repaired once, alike
        early.AddToReport(QStringLiteral("Alarm - Activated"));
        QCOMPARE(early.count(), count + 1);
        QCOMPARE(ReportLog::ReadReportFile(plain.filePath()).size(), count + 1);
        QCOMPARE(early.lines().last(), QStringLiteral("[06.12.26 09:05] Alarm - Activated"));
    }

    // The last line, found from the end of the file, keeps the repeat rule.
    void lastLineAfterLoad_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("crlf") << QByteArray("\r\n") << true;
        QTest::newRow("no final end") << QByteArray() << true;
        QTest::newRow("lone lf") << QByteArray("\n") << true;
        QTest::newRow("lone cr") << QByteArray("\r") << true;
        QTest::newRow("empty line after") << QByteArray("\r\n\r\n") << false;
        QTest::newRow("cr then crlf") << QByteArray("\r\r\n") << false;
    }
    void lastLineAfterLoad()
    {
        QFETCH(QByteArray, tail);
        QFETCH(bool, dropped);
        QVERIFY(QDir().mkpath(m_folder));
        ReportLog log = MakeLog();
        const QByteArray last = "[06.12.26 09:05] Mouse detected";
        WriteAll(log.filePath(), "[06.12.26 09:04] Alarm - Activated\r\n" + last + tail);
        log.Load(ReportLog::ReadFile(log.filePath()));
        const int before = log.count();
        log.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(log.count(), dropped ? before : before + 1);
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()).size(), log.count());
    }

    void missingOrUnreadableReadAhead()
    {
        QVERIFY(QDir().mkpath(m_folder));
        ReportLog log = MakeLog();
        log.Load(ReportLog::ReadFile(log.filePath()));
        QCOMPARE(log.count(), 0);
        QVERIFY(log.problem().isEmpty());
        QVERIFY(QDir().mkpath(log.filePath())); // a folder where the file should be
        log.Load(ReportLog::ReadFile(log.filePath()));
        QVERIFY(!log.problem().isEmpty());
        log.AddToReport(QStringLiteral("Alarm - Activated"));
        QVERIFY(QFileInfo(log.filePath()).isDir()); // not overwritten
    }

    void handEditedFileKeptByteExact()
    {
        QVERIFY(QDir().mkpath(m_folder));
        ReportLog log = MakeLog();
        const QByteArray binary("bin\x00\x01\xff\xfe ary", 12);
        WriteAll(log.filePath(),
                 QByteArray("free text of my own\r\n") + binary + "\nlatin1 \xe4\xf6\rlast");
        log.Load();
        QCOMPARE(log.count(), 4);
        QCOMPARE(log.lines().first(), QStringLiteral("free text of my own"));
        // Earlier lines are never rewritten: only the last one gets its
        // missing line end, and the new line follows.
        const QByteArray original =
            QByteArray("free text of my own\r\n") + binary + "\nlatin1 \xe4\xf6\rlast";
        QCOMPARE(ReadAll(log.filePath()), original + "\r\n");
        log.AddToReport(QStringLiteral("Alarm - Stoped"));
        QCOMPARE(ReadAll(log.filePath()), original + "\r\n[06.12.26 09:05] Alarm - Stoped\r\n");
    }

    void veryLongLine()
    {
        QVERIFY(QDir().mkpath(m_folder));
        ReportLog log = MakeLog();
        const QByteArray longLine(4 * 1024 * 1024, 'x');
        WriteAll(log.filePath(), longLine);
        log.Load();
        QCOMPARE(log.count(), 1);
        log.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(ReadAll(log.filePath()).size(),
                 longLine.size() + 2 + qsizetype(sizeof("[06.12.26 09:05] Mouse detected\r\n")) -
                     1);
    }

    // Root ignores permissions, so the writes are made to fail by putting a
    // file where the folder must be, or a folder where the file must be.
    void folderCannotBeCreated()
    {
        const QString parent = QDir::cleanPath(m_folder + QStringLiteral(".."));
        QVERIFY(QDir().mkpath(parent));
        WriteAll(QDir::cleanPath(m_folder), "in the way");
        ReportLog log = MakeLog();
        log.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(log.count(), 1);
        QVERIFY(!QFileInfo(log.filePath()).isFile());

        QVERIFY(QFile::remove(QDir::cleanPath(m_folder)));
        log.AddToReport(QStringLiteral("Alarm - Stoped"));
        QCOMPARE(ReadAll(log.filePath()), QByteArray("[06.12.26 09:05] Mouse detected\r\n"
                                                     "[06.12.26 09:05] Alarm - Stoped\r\n"));
    }

    void fileCannotBeWritten()
    {
        ReportLog log = MakeLog();
        QVERIFY(QDir().mkpath(log.filePath())); // a folder named Report.txt
        log.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(log.count(), 1);
        QVERIFY(QFileInfo(log.filePath()).isDir());
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList());

        QVERIFY(QDir(log.filePath()).removeRecursively());
        log.AddToReport(QStringLiteral("Alarm - Stoped"));
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()),
                 (QStringList{QStringLiteral("[06.12.26 09:05] Mouse detected"),
                              QStringLiteral("[06.12.26 09:05] Alarm - Stoped")}));
    }

    void clearAndDelete()
    {
        ReportLog log = MakeLog();
        log.AddToReport(QStringLiteral("Mouse detected"));
        log.Clear();
        QCOMPARE(log.count(), 0);
        QVERIFY(QFile::exists(log.filePath())); // the file waits for the next line
        QVERIFY(log.DeleteReportFile());
        QVERIFY(!QFile::exists(log.filePath()));
        QVERIFY(!log.DeleteReportFile());
        log.Load();
        QCOMPARE(log.count(), 0);
        log.AddToReport(QStringLiteral("Mouse detected"));
        QCOMPARE(ReportLog::ReadReportFile(log.filePath()).size(), 1);
    }

    // Arming again keeps the ending period in History/ under the time it
    // began; the current file starts afresh. A link at the name is left alone.
    void clearKeepsThePeriod_data()
    {
        QTest::addColumn<bool>("restart"); // the period was loaded from the file
        QTest::addColumn<QString>("name");
        QTest::newRow("same run") << false << QStringLiteral("Report-2026-12-06_09-05-30.txt");
        QTest::newRow("after a restart")
            << true << QStringLiteral("Report-2026-12-06_09-05-00.txt");
    }
    void clearKeepsThePeriod()
    {
        QFETCH(bool, restart);
        QFETCH(QString, name);
        const QString history = ReportHistory::FolderFor(m_folder);
        QDir().mkpath(history);
        const QString target = m_root.filePath(QStringLiteral("elsewhere.txt"));
        QVERIFY(QFile::link(target, history + name));
        ReportLog log = MakeLog();
        int told = 0;
        log.addHistoryObserver([&](const QString &) { ++told; });
        log.Clear(); // arming with nothing to keep
        log.AddLinesToReport({QStringLiteral("Alarm - Activated"), QStringLiteral("Wrong PIN")});
        m_now = m_now.addSecs(3600);
        log.AddToReport(QStringLiteral("Mouse detected"));
        const QByteArray first = ReadAll(log.filePath());
        ReportLog again = MakeLog();
        ReportLog &current = restart ? again : log;
        if (restart) {
            current.addHistoryObserver([&](const QString &) { ++told; });
            current.Load();
        }
        current.Clear();
        current.AddToReport(QStringLiteral("Alarm - Activated"));
        QCOMPARE(told, 1);
        const QString kept = history + name.chopped(4) + QStringLiteral("_2.txt");
        QCOMPARE(ReadAll(kept), first);
        QVERIFY(!QFile::exists(target));
        QCOMPARE(ReportLog::ReadReportFile(current.filePath()),
                 QStringList{QStringLiteral("[06.12.26 10:05] Alarm - Activated")});
        struct stat info
        {
        };
        QCOMPARE(::stat(QFile::encodeName(kept).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        QCOMPARE(::stat(QFile::encodeName(history).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
    }
};

TARVO_TEST_MAIN(TestReportLog)
#include "tst_reportlog.moc"
