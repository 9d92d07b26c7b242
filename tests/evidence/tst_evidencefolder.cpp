// The evidence folder's rules: sortable names, private files, retention by
// age and size, a full disk; and the settings' defaults.

#include "common/TestMain.h"
#include "common/TinyDisk.h"
#include "evidence/EvidenceChecks.h"

#include "evidence/EvidenceFolder.h"
#include "evidence/EvidenceSettings.h"
#include "report/ReportHistory.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>

using tarvo::test::ModeOf;
using tarvo::test::TinyDisk;

namespace {
const QDateTime Now(QDate(2026, 12, 7), QTime(19, 30, 0));

// A picture of the given age and size (sparse: no disk space is used).
QString PutPicture(const EvidenceFolder &folder, qint64 ageMinutes, qint64 kilobytes)
{
    QDir().mkpath(folder.path());
    const QString name = folder.FreeName(Now.addSecs(-ageMinutes * 60), QStringLiteral("photo"),
                                         QStringLiteral("jpg"));
    QFile file(folder.path() + name);
    file.open(QIODevice::WriteOnly);
    file.resize(kilobytes * 1024);
    return name;
}

// A report of a past period that began ageMinutes ago (sparse, as above).
QString PutHistory(const EvidenceFolder &folder, qint64 ageMinutes, qint64 kilobytes)
{
    const QString kept = ReportHistory::Keep(QFileInfo(folder.path().chopped(1)).path(),
                                             Now.addSecs(-ageMinutes * 60), "[07.12.26 19:30] x");
    QFile file(kept);
    file.open(QIODevice::ReadWrite);
    file.resize(kilobytes * 1024);
    return QStringLiteral("History/") + QFileInfo(kept).fileName();
}
} // namespace

class TestEvidenceFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void namesSortByTimeAndNeverClash()
    {
        QTemporaryDir dir;
        const EvidenceFolder folder(dir.path() + QStringLiteral("/Evidence/"));
        QStringList names;
        for (int secs : {3600 * 24 * 40, 59, 3600, 0, 1})
            names << folder.save(Now.addSecs(-secs), QStringLiteral("photo"), QStringLiteral("jpg"),
                                 "x");
        names << folder.save(Now, QStringLiteral("photo"), QStringLiteral("jpg"), "y");
        QCOMPARE(names.size(), 6);
        QCOMPARE(names.at(3), QStringLiteral("2026-12-07_19-30-00_photo.jpg"));
        QCOMPARE(names.at(5), QStringLiteral("2026-12-07_19-30-00_photo_2.jpg"));
        QStringList sorted = names;
        sorted.sort();
        QCOMPARE(sorted, (QStringList{names[0], names[2], names[1], names[4], names[3], names[5]}));
        for (const QString &name : names)
            QCOMPARE(EvidenceFolder::TakenAt(name).isValid(), true);
        QVERIFY(!EvidenceFolder::TakenAt(QStringLiteral("holiday.jpg")).isValid());
    }

    void filesAreTheOwnersOnly()
    {
        QTemporaryDir dir;
        const EvidenceFolder folder(EvidenceFolder::PathFor(dir.path()));
        QCOMPARE(folder.path(), dir.path() + QStringLiteral("/Evidence/"));
        const QString name =
            folder.save(Now, QStringLiteral("screen"), QStringLiteral("png"), "picture");
        QCOMPARE(ModeOf(folder.path()), mode_t(0700));
        QCOMPARE(ModeOf(folder.path() + name), mode_t(0600));
        QFile file(folder.path() + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("picture"));
    }

    void retention_data()
    {
        QTest::addColumn<int>("keepDays");
        QTest::addColumn<int>("maxMB");
        QTest::addColumn<QList<int>>("ageDays");   // one picture each, 300 KB
        QTest::addColumn<QList<int>>("keptIndex"); // which of them stay
        QTest::addColumn<QList<int>>("history");   // which are reports of past periods
        QTest::newRow("young ones stay")
            << 30 << 500 << QList<int>{29, 1, 0} << QList<int>{0, 1, 2} << QList<int>{};
        QTest::newRow("old ones go")
            << 30 << 500 << QList<int>{90, 31, 29, 0} << QList<int>{2, 3} << QList<int>{};
        QTest::newRow("0 days keeps all")
            << 0 << 500 << QList<int>{900, 31, 0} << QList<int>{0, 1, 2} << QList<int>{};
        QTest::newRow("size cap: oldest first")
            << 0 << 1 << QList<int>{5, 4, 3, 2, 1} << QList<int>{2, 3, 4} << QList<int>{};
        QTest::newRow("both") << 3 << 1 << QList<int>{10, 2, 1} << QList<int>{1, 2} << QList<int>{};
        QTest::newRow("old history goes")
            << 30 << 500 << QList<int>{40, 31, 2, 1} << QList<int>{2, 3} << QList<int>{0, 1, 2, 3};
        QTest::newRow("history and pictures: one cap, oldest first")
            << 0 << 1 << QList<int>{5, 4, 3, 2, 1} << QList<int>{2, 3, 4} << QList<int>{0, 3};
    }
    void retention()
    {
        QFETCH(int, keepDays);
        QFETCH(int, maxMB);
        QFETCH(QList<int>, ageDays);
        QFETCH(QList<int>, keptIndex);
        QFETCH(QList<int>, history);
        QTemporaryDir dir;
        const EvidenceFolder folder(dir.path() + QStringLiteral("/Evidence/"));
        QCOMPARE(folder.historyPath(), dir.path() + QStringLiteral("/History/"));
        QStringList names;
        for (int i = 0; i < ageDays.size(); ++i)
            names << (history.contains(i) ? PutHistory : PutPicture)(folder,
                                                                     ageDays[i] * 24 * 60 + 1, 300);
        // Not one of the folder's own pictures: never removed, never counted.
        QDir().mkpath(folder.path());
        QFile own(folder.path() + QStringLiteral("notes.txt"));
        own.open(QIODevice::WriteOnly);
        own.resize(5 * 1024 * 1024);
        own.close();
        folder.prune({keepDays, maxMB}, Now);
        QStringList expected{QStringLiteral("notes.txt")};
        for (int index : keptIndex)
            expected << names.at(index);
        expected.sort();
        QStringList found = QDir(folder.path()).entryList(QDir::Files);
        for (const QString &name : QDir(folder.historyPath()).entryList(QDir::Files))
            found << QStringLiteral("History/") + name;
        found.sort();
        QCOMPARE(found, expected);
    }

    void theNewestPictureStaysOverTheCap()
    {
        QTemporaryDir dir;
        const EvidenceFolder folder(dir.path() + QStringLiteral("/Evidence/"));
        const QString old = PutPicture(folder, 60, 300);
        const QString big = PutPicture(folder, 1, 2048);
        folder.prune({30, 1}, Now, big);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{big});
        Q_UNUSED(old);
    }

    // A link at the folder's place is set aside and told; nothing is
    // written, tightened or removed where it points, nor sent from there.
    void linkedFoldersAreSetAside_data()
    {
        QTest::addColumn<bool>("history");
        QTest::newRow("Evidence") << false;
        QTest::newRow("History") << true;
    }
    void linkedFoldersAreSetAside()
    {
        QFETCH(bool, history);
        QTemporaryDir dir, elsewhere;
        const EvidenceFolder folder(dir.path() + QStringLiteral("/Evidence/"));
        const QString linked = history ? folder.historyPath() : folder.path();
        const QString old = (history ? QStringLiteral("Report-2020-01-01_10-00-00.txt")
                                     : QStringLiteral("2020-01-01_10-00-00_photo.jpg"));
        QFile outside(elsewhere.path() + QLatin1Char('/') + old);
        QVERIFY(outside.open(QIODevice::WriteOnly));
        outside.close();
        QVERIFY(QFile::link(elsewhere.path(), linked.chopped(1)));
        QVERIFY(::chmod(QFile::encodeName(elsewhere.path()).constData(), 0755) == 0);
        QStringList aside;
        const QString saved = folder.save(Now, QStringLiteral("photo"), QStringLiteral("jpg"), "x",
                                          nullptr, &aside);
        folder.prune({1, 500}, Now, saved, &aside);
        QCOMPARE(aside.size(), 1);
        QVERIFY2(aside.first().contains(QStringLiteral("symbolic link")), qPrintable(aside.first()));
        QVERIFY(QFileInfo(linked.chopped(1) + QStringLiteral(".bad")).isSymLink());
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files), QStringList{old});
        QCOMPARE(ModeOf(elsewhere.path()), 0755);
        QVERIFY(QFileInfo::exists(folder.path() + saved));
        // A link under a picture's name inside is neither pruned nor sent.
        QVERIFY(QFile::link(outside.fileName(), folder.path() + old));
        folder.prune({1, 500}, Now, saved);
        QVERIFY(folder.savedFileOfMessage(QStringLiteral("Photo saved: ") + old).isEmpty());
        QVERIFY(QFileInfo::exists(outside.fileName()));
    }

    void aFullDiskKeepsNoHalfFile()
    {
        TinyDisk disk(256);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        const EvidenceFolder folder(disk.path() + QStringLiteral("/Evidence/"));
        QVERIFY(!folder.save(Now, QStringLiteral("photo"), QStringLiteral("jpg"), "a").isEmpty());
        QVERIFY(disk.fill());
        QString error;
        QVERIFY(folder
                    .save(Now, QStringLiteral("photo"), QStringLiteral("jpg"),
                          QByteArray(64 * 1024, 'p'), &error)
                    .isEmpty());
        QVERIFY(!error.isEmpty());
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void settingsAreOffOnAFreshInstall()
    {
        DeleteRegKey(EvidenceSettings::KeyPath);
        EvidenceSettings settings = EvidenceSettings::Load();
        QVERIFY(!settings.photo);
        QVERIFY(!settings.screen);
        QVERIFY(!settings.sound);
        QVERIFY(settings.send); // what is kept goes along until the owner says no
        QCOMPARE(settings.limits.keepDays, 30);
        QCOMPARE(settings.limits.maxMB, 500);

        settings.photo = true;
        settings.sound = true;
        settings.send = false;
        settings.limits = {0, 900000};
        settings.save();
        QCOMPARE(ReadRegString(EvidenceSettings::KeyPath, QStringLiteral("Photo")),
                 QStringLiteral("T"));
        QCOMPARE(ReadRegString(EvidenceSettings::KeyPath, QStringLiteral("Sound")),
                 QStringLiteral("T"));
        const EvidenceSettings read = EvidenceSettings::Load();
        QVERIFY(read.photo && !read.screen && read.sound && !read.send);
        QCOMPARE(read.limits.keepDays, 0);
        QCOMPARE(read.limits.maxMB, EvidenceSettings::MaxMB);

        WriteRegString(EvidenceSettings::KeyPath, QStringLiteral("Keep Days"),
                       QStringLiteral("soon"));
        WriteRegString(EvidenceSettings::KeyPath, QStringLiteral("Max MB"), QStringLiteral("-4"));
        QCOMPARE(EvidenceSettings::Load().limits.keepDays, 30);
        QCOMPARE(EvidenceSettings::Load().limits.maxMB, 1);
    }
};

TARVO_TEST_MAIN(TestEvidenceFolder)
#include "tst_evidencefolder.moc"
