#include "common/TestMain.h"
#include "report/ReportLinesModel.h"
#include "report/fmReport.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

// Takes the desktop's "open this file" requests in place of the viewer.
class OpenedFiles : public QObject
{
    Q_OBJECT
public:
    QStringList paths;
public Q_SLOTS:
    void open(const QUrl &url) { paths << url.toLocalFile(); }
};

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
        QCOMPARE(QFontInfo(window.ListBox1->font()).pixelSize(), 13); // at the usual 9 pt
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
        QTest::newRow("line ends") << QByteArray("crlf\r\nlf\ncr\r\r\n\n\r\rlast") << true
                                   << QStringList{"crlf", "lf", "cr", "", "", "", "", "last"};
        QTest::newRow("ends with lone cr")
            << QByteArray("a\r\nb\r") << true << QStringList{"a", "b"};
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

    void picturesOpenFromTheirLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("opened"); // empty: nothing opens, the window closes
        const QString photo = QStringLiteral("2026-12-07_19-30-00_photo.jpg");
        const QString screen = QStringLiteral("2026-12-07_19-30-00_screen.png");
        QTest::newRow("photo, enter")
            << "[07.12.26 19:30] Photo saved: " + photo << QStringLiteral("enter") << photo;
        QTest::newRow("screen, double click")
            << "[07.12.26 19:30] Screen saved: " + screen << QStringLiteral("double") << screen;
        QTest::newRow("plain line, enter") << QStringLiteral("[07.12.26 19:30] Mouse detected")
                                           << QStringLiteral("enter") << QString();
        QTest::newRow("picture gone") << QStringLiteral("[07.12.26 19:30] Photo saved: gone.jpg")
                                      << QStringLiteral("enter") << QString();
        QTest::newRow("outside the folder")
            << QStringLiteral("[07.12.26 19:30] Photo saved: ../Report.txt")
            << QStringLiteral("enter") << QString();
    }
    void picturesOpenFromTheirLines()
    {
        QFETCH(QString, line);
        QFETCH(QString, how);
        QFETCH(QString, opened);
        const QString folder = m_dir.filePath(QStringLiteral("Evidence/"));
        QDir().mkpath(folder);
        for (const char *name :
             {"2026-12-07_19-30-00_photo.jpg", "2026-12-07_19-30-00_screen.png"}) {
            QFile picture(folder + QLatin1String(name));
            QVERIFY(picture.open(QIODevice::WriteOnly));
        }
        OpenedFiles viewer;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &viewer, "open");
        TfrmReport window;
        window.setEvidenceFolder(folder);
        window.LoadReport(WriteReport(line.toUtf8() + "\r\n"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QModelIndex row = window.lines()->index(0);
        window.ListBox1->setCurrentIndex(row);
        if (how == QLatin1String("enter"))
            QTest::keyPress(window.ListBox1, Qt::Key_Return);
        else {
            // A double click is a click followed by a second press.
            const QPoint at = window.ListBox1->visualRect(row).center();
            QTest::mouseClick(window.ListBox1->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(window.ListBox1->viewport(), Qt::LeftButton, {}, at);
        }
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        if (opened.isEmpty()) {
            QVERIFY(viewer.paths.isEmpty());
            QVERIFY(!window.isVisible());
        } else {
            QCOMPARE(viewer.paths, QStringList{folder + opened});
            QVERIFY2(window.isVisible(), "opening a picture leaves the report open");
        }
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
