#include "common/TestMain.h"
#include "report/ReportLinesModel.h"
#include "report/fmReport.h"

#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

class TestReportWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString WriteReport(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("Report.txt"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

private Q_SLOTS:
    void layout()
    {
        TfrmReport window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Tarvo2"));
        QCOMPARE(window.size(), QSize(342, 416));
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(window.btnCancel->text(), QStringLiteral("Close"));
        QCOMPARE(window.pnlNothingToReport->text(), QStringLiteral("Nothing to report."));
        QCOMPARE(window.ListBox1->font().pixelSize(), 13);
        auto *heading = window.findChild<QLabel *>(QStringLiteral("lblHeading"));
        QVERIFY(heading);
        QCOMPARE(heading->text(), QStringLiteral("Report"));
    }

    void contents_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("missing") << QByteArray() << false << QStringList();
        QTest::newRow("empty") << QByteArray() << true << QStringList();
        QTest::newRow("lines") << QByteArray("[06.12.26 09:05] Alarm - Activated\r\nmy note\r\n")
                               << true
                               << QStringList{QStringLiteral("[06.12.26 09:05] Alarm - Activated"),
                                              QStringLiteral("my note")};
        // Every kind of line end, empty lines among them, and a last line
        // without one: the ends found from the next line's start.
        QTest::newRow("line ends")
            << QByteArray("crlf\r\nlf\ncr\r\r\n\n\r\rlast") << true
            << QStringList{"crlf", "lf", "cr", "", "", "", "", "last"};
        QTest::newRow("ends with lone cr") << QByteArray("a\r\nb\r") << true
                                           << QStringList{"a", "b"};
        QTest::newRow("garbage") << QByteArray("\xff\x00zz", 4) << true
                                 << QStringList{QString::fromUtf8(QByteArray("\xff\x00zz", 4))};
    }
    void contents()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, exists);
        QFETCH(QStringList, shown);
        const QString path =
            exists ? WriteReport(bytes) : m_dir.filePath(QStringLiteral("None.txt"));
        QVERIFY(!path.isEmpty());
        TfrmReport window;
        window.LoadReport(path);
        QCOMPARE(!window.ListBox1->isHidden(), !shown.isEmpty());
        QCOMPARE(window.pnlNothingToReport->isHidden(), !shown.isEmpty());
        QStringList listed;
        for (int i = 0; i < window.lines()->rowCount(); ++i)
            listed.append(window.lines()->lineAt(i));
        QCOMPARE(listed, shown);
    }

    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("escape release") << QStringLiteral("escape");
        QTest::newRow("escape release on list") << QStringLiteral("escape-list");
        QTest::newRow("enter press") << QStringLiteral("enter");
        QTest::newRow("return press on list") << QStringLiteral("return-list");
        QTest::newRow("close button") << QStringLiteral("button");
        QTest::newRow("close box") << QStringLiteral("closebox");
    }
    void closing()
    {
        QFETCH(QString, how);
        TfrmReport window;
        window.LoadReport(WriteReport("one line\r\n"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (how == QLatin1String("escape") || how == QLatin1String("escape-list")) {
            QWidget *target =
                how == QLatin1String("escape") ? static_cast<QWidget *>(&window) : window.ListBox1;
            QTest::keyPress(target, Qt::Key_Escape);
            QVERIFY2(window.isVisible(), "Escape closes on release, not on press");
            QTest::keyRelease(target, Qt::Key_Escape);
        } else if (how == QLatin1String("enter")) {
            QTest::keyPress(&window, Qt::Key_Enter);
        } else if (how == QLatin1String("return-list")) {
            QTest::keyPress(window.ListBox1, Qt::Key_Return);
        } else if (how == QLatin1String("button")) {
            QTest::mouseClick(window.btnCancel, Qt::LeftButton);
        } else {
            window.close();
        }
        QVERIFY(!window.isVisible());
        QCOMPARE(window.result(), int(QDialog::Rejected));
    }

    void showReportWindowIsModalAndReturns()
    {
        const QString path = WriteReport("a\r\nb\r\n");
        int listed = -1;
        QTimer::singleShot(0, this, [&listed] {
            auto *window = qobject_cast<TfrmReport *>(QApplication::activeModalWidget());
            if (!window)
                return;
            listed = window->lines()->rowCount();
            window->btnCancel->click();
        });
        QCOMPARE(ShowReportWindow(path, nullptr), int(QDialog::Rejected));
        QCOMPARE(listed, 2);
        QVERIFY(QApplication::topLevelWidgets().isEmpty() ||
                !qobject_cast<TfrmReport *>(QApplication::activeModalWidget()));
    }
};

TARVO_TEST_MAIN(TestReportWindow)
#include "tst_reportwindow.moc"
