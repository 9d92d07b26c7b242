// The report window's model of past periods and their pictures, from a
// folder of history files and evidence: order, counts, thumbnails, a
// picture that is gone; and the window's list of them.

#include "common/TestMain.h"

#include "report/PeriodListModel.h"
#include "report/ReportHistory.h"
#include "report/ReportLinesModel.h"
#include "report/ThumbnailCache.h"
#include "report/fmReport.h"

#include <QImage>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
const QDateTime Began(QDate(2026, 12, 7), QTime(19, 25, 24));

QString Keep(const QString &reports, int hoursLater, const QByteArray &lines)
{
    return ReportHistory::Keep(reports, Began.addSecs(hoursLater * 3600), lines);
}
} // namespace

class TestReportPeriods : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_reports, m_evidence, m_photo;

private Q_SLOTS:
    void initTestCase()
    {
        m_reports = m_dir.path() + QStringLiteral("/Reports/");
        m_evidence = m_reports + QStringLiteral("Evidence/");
        QVERIFY(QDir().mkpath(m_evidence));
        QImage picture(640, 480, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        m_photo = QStringLiteral("2026-12-07_19-30-00_photo.jpg");
        QVERIFY(picture.save(m_evidence + m_photo));
        QVERIFY(!Keep(m_reports, 0,
                      "[07.12.26 19:25] Alarm - Activated\r\n"
                      "[07.12.26 19:30] Mouse detected\r\n"
                      "[07.12.26 19:30] Photo saved: " +
                          m_photo.toUtf8() +
                          "\r\n"
                          "[07.12.26 19:30] Screen saved: 2026-12-07_19-30-01_screen.png\r\n"
                          "[07.12.26 19:31] Wrong PIN\r\n"
                          "[07.12.26 19:32] Alarm - Stoped\r\n")
                     .isEmpty());
        QVERIFY(!Keep(m_reports, 48, "[09.12.26 19:25] Alarm - Activated\r\n").isEmpty());
        QVERIFY(!Keep(m_reports, 24, "[08.12.26 19:25] Lid closed\r\n").isEmpty());
    }

    void intrusions_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("intrusion");
        QTest::newRow("detector") << QStringLiteral("Microphone detected") << true;
        QTest::newRow("lid") << QStringLiteral("Lid closed") << true;
        QTest::newRow("PIN") << QStringLiteral("Wrong PIN") << true;
        QTest::newRow("armed") << QStringLiteral("Alarm - Activated") << false;
        QTest::newRow("picture") << QStringLiteral("Photo saved: a.jpg") << false;
    }
    void intrusions()
    {
        QFETCH(QString, message);
        QFETCH(bool, intrusion);
        QCOMPARE(ReportPeriods::IsIntrusion(message), intrusion);
    }

    void periodsNewestFirst()
    {
        PeriodListModel model;
        QSignalSpy loaded(&model, &PeriodListModel::loaded);
        model.load(m_reports + QStringLiteral("Report.txt"));
        QCOMPARE(model.rowCount(), 1); // the current period, before the folder is read
        QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 20000);
        QStringList shown;
        for (int row = 0; row < model.rowCount(); ++row)
            shown << model.index(row).data().toString();
        QCOMPARE(shown,
                 (QStringList{QStringLiteral("Current period"),
                              QStringLiteral("09.12.26 19:25 – 09.12.26 19:25, 0 intrusions"),
                              QStringLiteral("08.12.26 19:25 – 08.12.26 19:25, 1 intrusion"),
                              QStringLiteral("07.12.26 19:25 – 07.12.26 19:32, 2 intrusions")}));
    }

    void linesWithPictures()
    {
        const QString file =
            ReportHistory::FolderFor(m_reports) + QStringLiteral("Report-2026-12-07_19-25-24.txt");
        ThumbnailCache thumbnails;
        ReportLinesModel lines;
        lines.setEvidenceFolder(m_evidence);
        lines.setThumbnails(&thumbnails);
        lines.load(file, QFont());
        QCOMPARE(lines.rowCount(), 6);
        QVERIFY(lines.hasPictures());
        const QModelIndex photo = lines.index(2), screen = lines.index(3);
        QCOMPARE(photo.data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Photo of 07.12.26 19:30"));
        QCOMPARE(screen.data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Screen picture of 07.12.26 19:30"));
        QVERIFY(screen.data().toString().endsWith(QStringLiteral("(picture removed)")));
        QVERIFY(!photo.data().toString().contains(QStringLiteral("removed")));
        QVERIFY(!lines.index(1).data(Qt::DecorationRole).isValid());
        QCOMPARE(lines.index(1).data(Qt::SizeHintRole).toSize().height() <
                     photo.data(Qt::SizeHintRole).toSize().height(),
                 true);
        QSignalSpy changed(&lines, &ReportLinesModel::dataChanged);
        QVERIFY(!photo.data(Qt::DecorationRole).isValid()); // being made
        QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 20000);
        const QImage thumb = photo.data(Qt::DecorationRole).value<QImage>();
        QCOMPARE(thumb.size(), QSize(ThumbnailCache::Side, ThumbnailCache::Side * 3 / 4));
        QCOMPARE(thumbnails.pending(), 0);
    }

    void windowListsThePeriods()
    {
        TfrmReport window;
        window.setEvidenceFolder(m_evidence);
        window.LoadReport(m_reports + QStringLiteral("Report.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.lstPeriods->isHidden(), 20000);
        QVERIFY(window.width() > 342);
        QVERIFY(!window.btnEvidence->isHidden());
        window.lstPeriods->setCurrentIndex(window.periods()->index(3));
        QCOMPARE(window.lines()->rowCount(), 6);
        // Tab goes from the periods to the lines.
        QWidget *next = window.lstPeriods->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, window.ListBox1);
    }

    // A thousand periods and ten thousand pictures: the folder is read on a
    // worker, and only the rows shown get thumbnails.
    void manyPeriodsAndPictures()
    {
        QTemporaryDir dir;
        const QString reports = dir.path() + QStringLiteral("/Reports/");
        const QString evidence = reports + QStringLiteral("Evidence/");
        QVERIFY(QDir().mkpath(evidence));
        QFile photo(m_evidence + m_photo);
        QVERIFY(photo.open(QIODevice::ReadOnly));
        const QByteArray jpeg = photo.readAll();
        QByteArray lines;
        for (int i = 0; i < 10000; ++i) {
            const QString name = QStringLiteral("2026-12-07_19-30-00_photo_%1.jpg").arg(i + 2);
            QFile file(evidence + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(jpeg) == jpeg.size());
            lines += "[07.12.26 19:30] Photo saved: " + name.toUtf8() + "\r\n";
        }
        QVERIFY(!Keep(reports, 0, lines).isEmpty());
        for (int hour = 1; hour < 1000; ++hour)
            QVERIFY(!Keep(reports, hour, "[07.12.26 19:30] Mouse detected\r\n").isEmpty());

        TfrmReport window;
        QSignalSpy made(window.thumbnails(), &ThumbnailCache::thumbnailReady);
        window.setEvidenceFolder(evidence);
        window.LoadReport(reports + QStringLiteral("Report.txt"));
        QCOMPARE(window.periods()->rowCount(), 1); // not read on this thread
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(window.periods()->rowCount(), 1001, 30000);
        window.lstPeriods->setCurrentIndex(window.periods()->index(1000));
        QCOMPARE(window.lines()->rowCount(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(made.count() > 0 && window.thumbnails()->pending() == 0, 30000);
        QVERIFY2(made.count() < 100, qPrintable(QString::number(made.count())));
    }
};

TARVO_TEST_MAIN(TestReportPeriods)
#include "tst_reportperiods.moc"
