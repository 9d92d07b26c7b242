// A machine without libcurl: a mail alert fails with a clear reason, is told
// once, and stays queued for a later try; nothing crashes.

#include "DeskEvent.h"
#include "alerts/AlertSender.h"
#include "alerts/CurlLibrary.h"
#include "common/TestMain.h"

#include <QSignalSpy>

class TestMailWithoutLibrary : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void failsAndKeepsTheAlert()
    {
        CurlLibrary::SetFileName(m_dir.filePath(QStringLiteral("libcurl-not-here.so.4")));
        AlertConfig config;
        config.kind = AlertConfig::Kind::Email;
        config.url = QStringLiteral("smtp://127.0.0.1:9"); // never reached
        config.to = QStringLiteral("owner@example.org");
        AlertSender::Options options;
        options.firstRetryMs = 50;
        options.maxRetryMs = 50;
        AlertSender sender(
            m_dir.filePath(QStringLiteral("q.json")), [config] { return config; }, options);
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(DeskEvent(QStringLiteral("Mouse detected"), true));
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 10000);
        const QString text = failed.first().first().toString();
        QVERIFY2(text.contains(QStringLiteral("mail library could not be loaded")),
                 qPrintable(text));
        QString problem;
        QVERIFY(!CurlLibrary::Get(&problem));
        QVERIFY(problem.contains(QStringLiteral("libcurl-not-here")));
        QTest::qWait(500); // several retries: still told once, still queued
        QCOMPARE(failed.size(), 1);
        QCOMPARE(sender.pending(), 1);
        QVERIFY(sender.isFailing());
    }
};

TARVO_TEST_MAIN(TestMailWithoutLibrary)
#include "tst_mailwithoutlibrary.moc"
