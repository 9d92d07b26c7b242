// The picture of the screen through the desktop's screenshot services, as on
// Wayland: python3-dbusmock on a private bus stands in for the screenshot
// portal, GNOME's portal backend, the portal's permission store and GNOME
// Shell's own service. The portal is called only where it will not ask;
// everything else costs the picture, said once per arming, never the alarm.

#include "common/TestMain.h"
#include "desktop/MockSystemBus.h"
#include "evidence/EvidenceChecks.h"

#include "desktop/PortalRequest.h"
#include "evidence/EvidenceRecorder.h"
#include "evidence/ScreenCapture.h"
#include "evidence/ScreenshotRule.h"
#include "report/ReportLog.h"

#include <QImage>
#include <QImageReader>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

using desktop::ScreenshotFacts;
using ScreenshotRule::Way;

namespace {
const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString BackendService = QStringLiteral("org.freedesktop.impl.portal.desktop.gnome");
const QString StoreService = QStringLiteral("org.freedesktop.impl.portal.PermissionStore");
const QString StorePath = QStringLiteral("/org/freedesktop/impl/portal/PermissionStore");
const QString ShellService = QStringLiteral("org.gnome.Shell.Screenshot");
const QString ShellPath = QStringLiteral("/org/gnome/Shell/Screenshot");

// What a GNOME session with a granted permission tells.
ScreenshotFacts Granted()
{
    ScreenshotFacts facts;
    facts.portalVersion = 2;
    facts.gnomeBackendVersion = 2;
    facts.permissionsRead = true;
    facts.permissions.insert(QString(), {QStringLiteral("yes")});
    facts.permissions.insert(QStringLiteral("example.vekor.Tarvo2"), {QStringLiteral("yes")});
    return facts;
}
} // namespace

class TestScreenService : public QObject
{
    Q_OBJECT

    std::unique_ptr<tarvo::test::MockSystemBus> m_bus;
    QTemporaryDir m_pictures; // where the services "write" their pictures
    QString m_servicePicture;

    // How a row sets up the desktop.
    enum class Store
    {
        Yes,
        Missing,
        No
    };
    enum class Shell
    {
        Absent,
        Allows,
        Denies
    };

    // answerMs: when the portal answers; negative: never.
    bool startDesktop(Store store, Shell shell, int answerMs = 50)
    {
        // The portal answers on the request path it gives this caller.
        const QString sender = m_bus->connection().baseService().mid(1).replace('.', '_');
        m_servicePicture = m_pictures.filePath(QStringLiteral("Screenshot.png"));
        QImage picture(320, 200, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        if (!picture.save(m_servicePicture))
            return false;
        const QString screenshot =
            QStringLiteral("if args[1].get('interactive', True): raise "
                           "dbus.exceptions.DBusException('a dialog', name='test.Dialog')\n"
                           "path = '%1/request/%2/' + args[1]['handle_token']\n"
                           "self.AddObject(path, 'org.freedesktop.portal.Request', {}, [])\n"
                           "from gi.repository import GLib\n"
                           "def answer(path=path):\n"
                           "    objects[path].EmitSignal('org.freedesktop.portal.Request', "
                           "'Response', 'ua{sv}', [0, {'uri': 'file://%3'}])\n"
                           "    return False\n"
                           "%4GLib.timeout_add(%5, answer)\n"
                           "ret = dbus.ObjectPath(path)")
                .arg(PortalPath, sender, m_servicePicture,
                     answerMs >= 0 ? QString() : QStringLiteral("if False: "))
                .arg(std::max(answerMs, 0));
        const QString lookup = store == Store::Missing
                                   ? QStringLiteral("raise dbus.exceptions.DBusException('none', "
                                                    "name='org.freedesktop.portal.Error.NotFound')")
                                   : QStringLiteral("ret = ({'': ['%1']}, dbus.Boolean(False))")
                                         .arg(store == Store::Yes ? "yes" : "no");
        const QString shellCode =
            shell == Shell::Denies
                ? QStringLiteral("raise dbus.exceptions.DBusException('not on the list', "
                                 "name='org.freedesktop.DBus.Error.AccessDenied')")
                : QStringLiteral("import shutil\nshutil.copy('%1', args[2])\nret = (True, args[2])")
                      .arg(m_servicePicture);

        const QString portalInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
        const QString backendInterface = QStringLiteral("org.freedesktop.impl.portal.Screenshot");
        bool ok = m_bus->startObject(PortalService, PortalPath, portalInterface) &&
                  m_bus->setProperty(PortalService, PortalPath, portalInterface,
                                     QStringLiteral("version"), 2u) &&
                  m_bus->addMethod(PortalService, PortalPath, portalInterface,
                                   QStringLiteral("Screenshot"), QStringLiteral("sa{sv}"),
                                   QStringLiteral("o"), screenshot) &&
                  m_bus->startObject(BackendService, PortalPath, backendInterface) &&
                  m_bus->setProperty(BackendService, PortalPath, backendInterface,
                                     QStringLiteral("version"), 2u) &&
                  m_bus->startObject(StoreService, StorePath, StoreService) &&
                  m_bus->addMethod(StoreService, StorePath, StoreService, QStringLiteral("Lookup"),
                                   QStringLiteral("ss"), QStringLiteral("a{sas}v"), lookup);
        if (ok && shell != Shell::Absent)
            ok = m_bus->startObject(ShellService, ShellPath, ShellService) &&
                 m_bus->addMethod(ShellService, ShellPath, ShellService,
                                  QStringLiteral("Screenshot"), QStringLiteral("bbs"),
                                  QStringLiteral("bs"), shellCode);
        return ok;
    }

    int portalCalls()
    {
        return m_bus->methodCalls(PortalService, PortalPath, QStringLiteral("Screenshot"));
    }

    // Pictures GNOME Shell wrote into the program's private folder.
    static int shellPicturesLeft()
    {
        const QDir runtime(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
        int files = 0;
        for (const QString &folder :
             runtime.entryList({QStringLiteral("tarvo2-screen-*")}, QDir::Dirs))
            files += QDir(runtime.filePath(folder)).entryList(QDir::Files).size();
        return files;
    }

    EvidenceRecorder::Hooks hooks(int answerTimeoutMs = 10000)
    {
        EvidenceRecorder::Hooks hooks = tarvo::test::PicturesChosen(false, true);
        hooks.screenBus = m_bus->connection();
        hooks.screenService.currentDesktop = QStringLiteral("ubuntu:GNOME");
        hooks.screenService.appIds = {QString()}; // started from a terminal
        hooks.screenService.answerTimeoutMs = answerTimeoutMs;
        return hooks;
    }

    // Triggers as the alarm does (each alarm with its own line) and returns
    // the screen's lines once every picture is done.
    static QStringList triggerAndWait(EvidenceRecorder &recorder, ReportLog &report, int triggers)
    {
        QSignalSpy screens(&recorder, &EvidenceRecorder::screenFinished);
        for (int i = 0; i < triggers; ++i) {
            recorder.triggered();
            if (!screens.wait(30000))
                return {QStringLiteral("no outcome")};
            report.AddToReport(QStringLiteral("Alarm simulated"));
        }
        return report.lines().filter(QStringLiteral("] Screen "));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("dbus-daemon is not installed");
        QVERIFY(m_pictures.isValid());
    }
    void init()
    {
        m_bus = std::make_unique<tarvo::test::MockSystemBus>();
        QVERIFY(!m_bus->address().isEmpty());
    }
    void cleanup() { m_bus.reset(); }

    void portalOnlyWhereItWillNotAsk_data()
    {
        QTest::addColumn<ScreenshotFacts>("facts");
        QTest::addColumn<QString>("desktopName");
        QTest::addColumn<QStringList>("appIds");
        QTest::addColumn<int>("way");
        const QStringList both{QString(), QStringLiteral("example.vekor.Tarvo2")};
        const QString gnome = QStringLiteral("ubuntu:GNOME");
        QTest::newRow("granted") << Granted() << gnome << both << int(Way::Portal);
        QTest::newRow("GNOME named alone") << Granted() << "GNOME" << both << int(Way::Portal);
        ScreenshotFacts facts = Granted();
        facts.permissions.remove(QStringLiteral("example.vekor.Tarvo2"));
        QTest::newRow("granted for the terminal's id only")
            << facts << gnome << both << int(Way::None);
        QTest::newRow("terminal id granted, started from a terminal")
            << facts << gnome << QStringList{QString()} << int(Way::Portal);
        facts.gnomeShell = true;
        QTest::newRow("not granted: GNOME Shell") << facts << gnome << both << int(Way::GnomeShell);
        for (const char *value : {"no", "ask", ""}) {
            facts = Granted();
            facts.permissions[QString()] = QStringList{QString::fromLatin1(value)};
            QTest::addRow("store says '%s'", value) << facts << gnome << both << int(Way::None);
        }
        facts = Granted();
        facts.permissionsRead = false;
        QTest::newRow("store silent") << facts << gnome << both << int(Way::None);
        facts = Granted();
        facts.portalVersion = 1;
        QTest::newRow("portal without the interactive option")
            << facts << gnome << both << int(Way::None);
        facts = Granted();
        facts.portalVersion = 0;
        QTest::newRow("no portal") << facts << gnome << both << int(Way::None);
        facts = Granted();
        facts.gnomeBackendVersion = 1;
        QTest::newRow("old GNOME backend asks itself") << facts << gnome << both << int(Way::None);
        QTest::newRow("another desktop's backend") << Granted() << "KDE" << both << int(Way::None);
        QTest::newRow("no desktop named") << Granted() << "" << both << int(Way::None);
        QTest::newRow("no app id") << Granted() << gnome << QStringList() << int(Way::None);
    }
    void portalOnlyWhereItWillNotAsk()
    {
        QFETCH(ScreenshotFacts, facts);
        QFETCH(QString, desktopName);
        QFETCH(QStringList, appIds);
        QFETCH(int, way);
        const ScreenshotRule::Choice choice = ScreenshotRule::Choose(facts, desktopName, appIds);
        QCOMPARE(int(choice.way), way);
        QCOMPARE(choice.why.isEmpty(), way == int(Way::Portal));
    }

    void appIdsFollowTheDesktopsUnit_data()
    {
        QTest::addColumn<QString>("cgroup");
        QTest::addColumn<QStringList>("ids");
        const QString user = QStringLiteral("0::/user.slice/user-1000.slice/user@1000.service/");
        QTest::newRow("started by GNOME")
            << user + "app.slice/app-gnome-example.vekor.Tarvo2-4242.scope\n"
            << QStringList{QString(), QStringLiteral("example.vekor.Tarvo2")};
        QTest::newRow("escaped dash")
            << user + "app.slice/app-gnome-org.example.Desk\\x2dalarm-17.scope"
            << QStringList{QString(), QStringLiteral("org.example.Desk-alarm")};
        QTest::newRow("KDE service") << user + "app.slice/app-KDE-org.kde.okular@12345.service"
                                     << QStringList{QString(), QStringLiteral("org.kde.okular")};
        QTest::newRow("a terminal's session")
            << QStringLiteral("0::/user.slice/user-1000.slice/session-2.scope")
            << QStringList{QString()};
        QTest::newRow("another unit") << user + "app.slice/dbus.service" << QStringList{QString()};
        QTest::newRow("no cgroup") << QString() << QStringList{QString()};
    }
    void appIdsFollowTheDesktopsUnit()
    {
        QFETCH(QString, cgroup);
        QFETCH(QStringList, ids);
        QCOMPARE(desktop::HostAppIds(cgroup), ids);
    }

    // The service's file is read, kept as PNG and removed; a file that is
    // no picture, or a link, is no picture (and a link's target stays).
    void serviceFilesAreTakenOver_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("picture");
        QTest::newRow("png") << QByteArray("png") << true;
        QTest::newRow("jpeg") << QByteArray("jpg") << true;
        QTest::newRow("text") << QByteArray("txt") << false;
        QTest::newRow("link") << QByteArray("link") << false;
    }
    void serviceFilesAreTakenOver()
    {
        QFETCH(QByteArray, format);
        QFETCH(bool, picture);
        const QString target = m_pictures.filePath(QStringLiteral("target.png"));
        const QString file = m_pictures.filePath(QStringLiteral("Screenshot.") + format);
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkRed);
        if (format == "txt") {
            QFile text(file);
            QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a picture") > 0);
        } else if (format == "link") {
            QVERIFY(image.save(target) && QFile::link(target, file));
        } else {
            QVERIFY(image.save(file, format.constData()));
        }
        QString why;
        const QByteArray png = ScreenCapture::ReadServiceFile(file, &why);
        QCOMPARE(png.isEmpty(), !picture);
        QCOMPARE(QImage::fromData(png, "PNG").size(), picture ? QSize(64, 48) : QSize(0, 0));
        QCOMPARE(why.isEmpty(), picture);
        QVERIFY(!QFileInfo(file).isFile() || format == "link");
        if (format == "link")
            QVERIFY(QFile::remove(file) && QFile::remove(target));
    }

    void allowedPortalSavesTheScreen()
    {
        QVERIFY(startDesktop(Store::Yes, Shell::Denies));
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(reports.path()), hooks());
        QSignalSpy screens(&recorder, &EvidenceRecorder::screenFinished);
        recorder.triggered();
        QVERIFY(screens.wait(30000));
        const QString path = screens.at(0).at(0).toString();
        QVERIFY2(!path.isEmpty(), qPrintable(report.lines().join(QLatin1Char('\n'))));
        QCOMPARE(QImageReader(path).format(), QByteArray("png"));
        QCOMPARE(QImageReader(path).size(), QSize(320, 200));
        QCOMPARE(tarvo::test::ModeOf(path), mode_t(0600));
        QCOMPARE(QFileInfo(path).dir().absolutePath() + QLatin1Char('/'),
                 EvidenceFolder::PathFor(reports.path()));
        QCOMPARE(report.lines().size(), 1);
        QVERIFY(report.lines().at(0).endsWith(QStringLiteral("] Screen saved: ") +
                                              QFileInfo(path).fileName()));
        QVERIFY2(!QFile::exists(m_servicePicture), "the service's file stays behind");
        QCOMPARE(portalCalls(), 1);
    }

    // Where the portal would ask (or might), it is never called; GNOME
    // Shell's own service is tried instead.
    void noQuestionOnTheDesk_data()
    {
        QTest::addColumn<int>("store");
        QTest::addColumn<int>("shell");
        QTest::addColumn<bool>("saved");
        QTest::newRow("nothing stored, no GNOME Shell")
            << int(Store::Missing) << int(Shell::Absent) << false;
        QTest::newRow("refused in the store") << int(Store::No) << int(Shell::Absent) << false;
        QTest::newRow("GNOME Shell refuses the program")
            << int(Store::Missing) << int(Shell::Denies) << false;
        QTest::newRow("GNOME Shell before 41 takes it")
            << int(Store::Missing) << int(Shell::Allows) << true;
    }
    void noQuestionOnTheDesk()
    {
        QFETCH(int, store);
        QFETCH(int, shell);
        QFETCH(bool, saved);
        QVERIFY(startDesktop(Store(store), Shell(shell)));
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(reports.path()), hooks());
        const QStringList lines = triggerAndWait(recorder, report, 2);
        QCOMPARE(portalCalls(), 0);
        QCOMPARE(lines.size(), saved ? 2 : 1); // "not available" once per arming
        for (const QString &line : lines)
            QVERIFY2(line.contains(saved ? QStringLiteral("] Screen saved: ")
                                         : QStringLiteral("] Screen not available")),
                     qPrintable(line));
        const int files =
            QDir(EvidenceFolder::PathFor(reports.path())).entryList(QDir::Files).size();
        QCOMPARE(files, saved ? 2 : 0);
        QCOMPARE(shellPicturesLeft(), 0);
        // A new arming says it again.
        recorder.resetNotices();
        QCOMPARE(triggerAndWait(recorder, report, 1).size(), saved ? 3 : 2);
    }

    // A portal that never answers (or too late), or no services at all: no
    // picture, and the UI thread runs on meanwhile. A picture that comes
    // too late does not stay where the portal put it.
    void silentServicesCostOnlyThePicture_data()
    {
        QTest::addColumn<bool>("services");
        QTest::addColumn<int>("answerMs");
        QTest::newRow("portal never answers") << true << -1;
        QTest::newRow("portal answers too late") << true << 3000;
        QTest::newRow("no services") << false << -1;
    }
    void silentServicesCostOnlyThePicture()
    {
        QFETCH(bool, services);
        QFETCH(int, answerMs);
        if (services)
            QVERIFY(startDesktop(Store::Yes, Shell::Absent, answerMs));
        QTemporaryDir reports;
        ReportLog report(reports.path() + QLatin1Char('/'));
        EvidenceRecorder recorder(report, EvidenceFolder::PathFor(reports.path()), hooks(1500));
        QSignalSpy screens(&recorder, &EvidenceRecorder::screenFinished);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ticks += screens.isEmpty() ? 1 : 0; });
        ticker.start(20);
        recorder.triggered();
        QVERIFY(screens.wait(30000));
        QVERIFY2(ticks >= 10, "the UI thread waited on the bus");
        QCOMPARE(screens.at(0).at(0).toString(), QString());
        QCOMPARE(report.lines().size(), 1);
        QVERIFY(report.lines().at(0).endsWith(QStringLiteral("] Screen not available")));
        QCOMPARE(portalCalls(), services ? 1 : -1);
        if (answerMs > 0)
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(m_servicePicture), 10000);
    }
};

TARVO_TEST_MAIN(TestScreenService)
#include "tst_screenservice.moc"
