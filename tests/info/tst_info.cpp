#include "common/TestMain.h"
#include "info/Links.h"
#include "info/fmAbout.h"
#include "info/fmThanx.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

namespace {

QString WriteMeminfo(QTemporaryFile &file, const QByteArray &content)
{
    file.open();
    file.write(content);
    file.flush();
    return file.fileName();
}

// Runs action on the modal window as soon as it is up. The timer belongs to
// the application, so that cleanup() can drop one that never fired.
void OnModal(std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

} // namespace

class TestInfo : public QObject
{
    Q_OBJECT

    QList<QUrl> m_opened;

private Q_SLOTS:
    void initTestCase()
    {
        SetUrlOpener([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
    }

    void init()
    {
        m_opened.clear();
        DeleteRegValue(StoreKeys::Settings, StoreKeys::MsgThanx);
    }

    void cleanup()
    {
        // A watcher left over must not act on a later test's windows.
        qDeleteAll(QCoreApplication::instance()->findChildren<QTimer *>(
            QString(), Qt::FindDirectChildrenOnly));
    }

    void welcomeDueOnlyWhileValueMissingOrEmpty_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("shown");
        QTest::newRow("missing") << false << QString() << true;
        QTest::newRow("empty") << true << QString() << true;
        QTest::newRow("T") << true << QStringLiteral("T") << false;
        QTest::newRow("any text") << true << QStringLiteral("no") << false;
        QTest::newRow("a space") << true << QStringLiteral(" ") << false;
    }

    void welcomeDueOnlyWhileValueMissingOrEmpty()
    {
        QFETCH(bool, present);
        QFETCH(QString, stored);
        QFETCH(bool, shown);
        if (present)
            WriteRegString(StoreKeys::Settings, StoreKeys::MsgThanx, stored);

        bool appeared = false;
        QString caption, greeting;
        OnModal([&](QWidget *modal) {
            appeared = true;
            caption = modal->windowTitle();
            greeting = modal->findChild<QLabel *>(QStringLiteral("lbl1"))->text();
            modal->findChild<QPushButton *>(QStringLiteral("btnOK"))->click();
        });
        const int result =
            ShowWelcomeWindow(StoreKeys::Settings, StoreKeys::MsgThanx, QStringLiteral("Tarvo2"));
        if (!shown)
            QTest::qWait(50); // give a wrongly shown window the chance to appear
        QCOMPARE(appeared, shown);
        QCOMPARE(result, shown ? int(QDialog::Accepted) : 0);
        if (shown) {
            QCOMPARE(caption, QStringLiteral("Tarvo2"));
            QCOMPARE(greeting, QStringLiteral("Thank you using Tarvo2!"));
            QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), StoreKeys::SwitchOn);
        } else {
            QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), stored);
        }
    }

    void everyWayOfClosingRemembersTheWelcome_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("OK") << QStringLiteral("ok") << int(QDialog::Accepted);
        QTest::newRow("Escape released") << QStringLiteral("escape") << int(QDialog::Accepted);
        QTest::newRow("close box") << QStringLiteral("close") << int(QDialog::Rejected);
    }

    void everyWayOfClosingRemembersTheWelcome()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        TfrmThanx window(StoreKeys::Settings, StoreKeys::MsgThanx, QStringLiteral("Tarvo2"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *ok = window.findChild<QPushButton *>(QStringLiteral("btnOK"));
        if (how == QLatin1String("ok")) {
            QTest::mouseClick(ok, Qt::LeftButton);
        } else if (how == QLatin1String("escape")) {
            // Pressing alone does not close; the release does, wherever the focus is.
            QTest::keyPress(ok, Qt::Key_Escape);
            QVERIFY(window.isVisible());
            QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), QString());
            QTest::keyRelease(ok, Qt::Key_Escape);
        } else {
            window.close();
        }
        QVERIFY(!window.isVisible());
        QCOMPARE(window.result(), result);
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), StoreKeys::SwitchOn);
    }

    void welcomeLayout()
    {
        TfrmThanx window(StoreKeys::Settings, StoreKeys::MsgThanx, QStringLiteral("Tarvo2"));
        QCOMPARE(window.size(), QSize(452, 224));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label10"))->text(),
                 QStringLiteral("Welcome"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Image1"))->pixmap().size(),
                 QSize(64, 48));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("lbl1"))->font().bold());
        // The first two lines wrap as one paragraph; the blank lines stay.
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lbl2"))->text().count(u'\n'), 3);
    }

    void memoryStatus_data()
    {
        QTest::addColumn<QByteArray>("meminfo");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<quint64>("totalBytes");
        QTest::addColumn<int>("load");
        QTest::newRow("with MemAvailable")
            << QByteArray("MemTotal:         524288 kB\nMemFree:      10000 kB\n"
                          "MemAvailable:     304087 kB\nBuffers: 1 kB\nCached: 2 kB\n")
            << true << quint64(536870912) << 42;
        QTest::newRow("without MemAvailable")
            << QByteArray("MemTotal: 1000 kB\nMemFree: 300 kB\nBuffers: 100 kB\nCached: 200 kB\n")
            << true << quint64(1024000) << 40;
        QTest::newRow("more available than total")
            << QByteArray("MemTotal: 1000 kB\nMemAvailable: 5000 kB\n") << true << quint64(1024000)
            << 0;
        QTest::newRow("no final newline") << QByteArray("MemTotal: 1000 kB\nMemAvailable: 250 kB")
                                          << true << quint64(1024000) << 75;
        QTest::newRow("no MemTotal") << QByteArray("MemFree: 300 kB\n") << false << quint64(0) << 0;
        QTest::newRow("junk") << QByteArray("\0\xff:::\nMemTotal: lots\n", 20) << false
                              << quint64(0) << 0;
        QTest::newRow("overflowing")
            << QByteArray("MemTotal: 99999999999999999999999 kB\n") << false << quint64(0) << 0;
    }

    void memoryStatus()
    {
        QFETCH(QByteArray, meminfo);
        QFETCH(bool, valid);
        QFETCH(quint64, totalBytes);
        QFETCH(int, load);
        QTemporaryFile file;
        const MemoryStatus status = ReadMemoryStatus(WriteMeminfo(file, meminfo));
        QCOMPARE(status.valid, valid);
        QCOMPARE(status.totalBytes, totalBytes);
        QCOMPARE(status.loadPercent, load);
    }

    void memoryStatusOfThisComputer()
    {
        // /proc files report a size of 0: reading must not stop there.
        if (!QFile::exists(QStringLiteral("/proc/meminfo")))
            QSKIP("no /proc/meminfo here");
        const MemoryStatus status = ReadMemoryStatus();
        QVERIFY(status.valid);
        QVERIFY(status.totalBytes > 0);
        QVERIFY(status.loadPercent >= 0 && status.loadPercent <= 100);
    }

    void memoryFormat_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("C") << quint64(536870912) << QLocale::c() << QStringLiteral("524,288 KB");
        QTest::newRow("English") << quint64(536870912) << english << QStringLiteral("524,288 KB");
        QTest::newRow("German") << quint64(536870912) << QLocale(QLocale::German, QLocale::Germany)
                                << QStringLiteral("524.288 KB");
        QTest::newRow("rounds up")
            << quint64(1024 * 1000 + 512) << english << QStringLiteral("1,001 KB");
        QTest::newRow("rounds down")
            << quint64(1024 * 1000 + 511) << english << QStringLiteral("1,000 KB");
        QTest::newRow("16 GiB") << quint64(17179869184ULL) << english
                                << QStringLiteral("16,777,216 KB");
    }

    void memoryFormat()
    {
        QFETCH(quint64, bytes);
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QCOMPARE(FormatMemoryKb(bytes, locale), text);
    }

    void aboutLabels()
    {
        QLocale::setDefault(QLocale::c());
        QTemporaryFile first, second;
        TfrmAbout window;
        QCOMPARE(window.size(), QSize(316, 381));
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
        window.setMeminfoPath(
            WriteMeminfo(first, "MemTotal: 524288 kB\nMemAvailable: 304087 kB\n"));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Tarvo2"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblVersion"))->text(),
                 QStringLiteral("Tarvo2 v" TARVO2_VERSION));
        QVERIFY(QRegularExpression(QStringLiteral("^v\\d+\\.\\d+\\.\\d+\\.\\d+$"))
                    .match(GetAppVersion())
                    .hasMatch());
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label4"))->text(),
                 QStringLiteral("524,288 KB"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label5"))->text(),
                 QStringLiteral("42 %"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblHomePage"))->text(), MakerSite);
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblSupportMail"))->text(),
                 SupportMailAddress);

        // The figures are read anew at every activation.
        window.setMeminfoPath(WriteMeminfo(second, "MemTotal: 2048 kB\nMemAvailable: 1024 kB\n"));
        window.FormActivate();
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label4"))->text(),
                 QStringLiteral("2,048 KB"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label5"))->text(),
                 QStringLiteral("50 %"));
        QLocale::setDefault(QLocale::system());
    }

    void aboutWithoutMemoryFigures()
    {
        QTemporaryFile garbled;
        for (const QString &path :
             {QStringLiteral("/nonexistent/meminfo"), WriteMeminfo(garbled, "MemFree: 300 kB\n")}) {
            TfrmAbout window;
            window.setMeminfoPath(path);
            window.FormActivate();
            QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label4"))->text(), QString());
            QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label5"))->text(), QString());
        }
    }

    void aboutCloses_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Close") << QStringLiteral("button");
        QTest::newRow("Escape released") << QStringLiteral("escape");
        QTest::newRow("Enter pressed") << QStringLiteral("enter");
        QTest::newRow("keypad Enter pressed") << QStringLiteral("keypad");
    }

    void aboutCloses()
    {
        QFETCH(QString, how);
        QLabel *version = nullptr;
        bool closedOnPress = false;
        OnModal([&](QWidget *modal) {
            version = modal->findChild<QLabel *>(QStringLiteral("lblVersion"));
            auto *close = modal->findChild<QPushButton *>(QStringLiteral("btnCancel"));
            if (how == QLatin1String("button")) {
                close->click();
            } else if (how == QLatin1String("escape")) {
                QTest::keyPress(version, Qt::Key_Escape);
                closedOnPress = !modal->isVisible();
                if (closedOnPress)
                    return;
                QTest::keyRelease(version, Qt::Key_Escape);
            } else {
                QTest::keyPress(close,
                                how == QLatin1String("enter") ? Qt::Key_Return : Qt::Key_Enter);
            }
        });
        auto *rescue = new QTimer(QCoreApplication::instance());
        rescue->setSingleShot(true);
        connect(rescue, &QTimer::timeout, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        rescue->start(5000);
        QCOMPARE(ShowAboutWindow(), int(QDialog::Rejected));
        QVERIFY(version);
        QVERIFY(!closedOnPress);
    }

    void aboutLinks()
    {
        TfrmAbout window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const char *name : {"imgVekor", "lblHomePage", "lblSupportMail"}) {
            auto *label = window.findChild<QLabel *>(QString::fromLatin1(name));
            QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
            QTest::mouseClick(label, Qt::LeftButton);
        }
        QCOMPARE(m_opened,
                 (QList<QUrl>{QUrl(QStringLiteral("https://www.vekor.example/tarvo2.php")),
                              QUrl(QStringLiteral("https://www.vekor.example/tarvo2.php")),
                              QUrl(QStringLiteral("mailto:support@vekor.example?"
                                                  "subject=&Body="))}));
        QCOMPARE(m_opened.last().toString(),
                 QStringLiteral("mailto:support@vekor.example?subject=&Body="));
    }

    void pageAddresses()
    {
        QCOMPARE(ProductPageUrl(QStringLiteral("#help")),
                 QStringLiteral("https://www.vekor.example/tarvo2.php#help"));
        QCOMPARE(ProductsPageUrl(), QStringLiteral("https://www.vekor.example/products.php"));
        OpenWebPage(ProductPageUrl(QStringLiteral("#faq")));
        OpenWebPage(QStringLiteral("products.php"));
        OpenMailTo(nullptr, QStringLiteral("a@b.example"), QStringLiteral("Hi"),
                   QStringLiteral("text"));
        QCOMPARE(m_opened.size(), 3);
        QCOMPARE(m_opened.at(0).toString(),
                 QStringLiteral("https://www.vekor.example/tarvo2.php#faq"));
        QCOMPARE(m_opened.at(1).toString(), ProductsPageUrl());
        QCOMPARE(m_opened.at(2).toString(),
                 QStringLiteral("mailto:a@b.example?subject=Hi&Body=text"));
    }

    // The placeholder site's pages open the installed README instead.
    void pagesOpenTheInstalledDocumentation()
    {
        QTemporaryDir doc;
        const QUrl help(ProductPageUrl(QStringLiteral("#help")));
        const QUrl other(QStringLiteral("https://other.example.org/x"));
        QFile readme(doc.filePath(QStringLiteral("README.md")));
        QVERIFY(readme.open(QIODevice::WriteOnly));
        readme.close();
        const QUrl local = InstalledDocumentFor(help, doc.path());
        QVERIFY2(local.isLocalFile() && local.path().endsWith(QStringLiteral("/README.md")),
                 qPrintable(local.toString()));
        QCOMPARE(InstalledDocumentFor(QUrl(ProductsPageUrl()), doc.path()), local);
        QCOMPARE(InstalledDocumentFor(other, doc.path()), other);
    }
};

TARVO_TEST_MAIN(TestInfo)
#include "tst_info.moc"
