// The window's reach beyond the desk: report lines written while armed go
// out as alerts to a local server, failures are told once in the report
// without the token, the tray menu takes the window's own steps, and closing
// the window while armed keeps the program running, with or without a tray.

#include "common/GuardFixture.h"
#include "common/TestMain.h"

#include "alarm/Autostart.h"
#include "alerts/AlertServer.h"
#include "alerts/Journal.h"
#include "alerts/TestPhoto.h"
#include "app/HeartbeatFields.h"
#include "app/OptionsMenu.h"
#include "app/fmAlerts.h"
#include "app/fmMain.h"
#include "evidence/EvidenceSettings.h"
#include "guard/ReachServices.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

using S = AlarmControl::Switch;

class TestReach : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    std::unique_ptr<TfrmMain> makeWindow()
    {
        const QString folder = tarvo::test::FolderWithOneSound(m_dir->path());
        if (folder.isEmpty())
            return nullptr;
        auto window = std::make_unique<TfrmMain>(folder);
        window->setMessageSink([](TfrmMain::MessageKind, const QString &) {});
        if (!window->FormCreate())
            return nullptr;
        window->spnActivationDelay->setValue(0);
        window->spnTriggerDelay->setValue(0);
        window->ActSimToggle->trigger();
        return window;
    }
    static void setAlerts(const QString &url, const QString &kind, const QString &token)
    {
        AlertConfig config;
        config.url = url;
        config.kind = AlertConfig::KindFromName(kind);
        config.token = token;
        config.save();
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile::remove(RegistryFilePath());
        QFile::remove(AlertQueue::DefaultPath(RegistryFilePath()));
        QFile::remove(ArmedMarker::DefaultPath(RegistryFilePath()));
        RemoveAutostartEntry();
        QGuiApplication::setQuitOnLastWindowClosed(true);
    }

    void armedLinesReachTheServer()
    {
        AlertServer server;
        QVERIFY(server.start());
        setAlerts(server.url(QStringLiteral("/desk")), QStringLiteral("ntfy"), QString());
        auto w = makeWindow();
        QVERIFY(w);
        w->report().AddToReport(QStringLiteral("Before arming"));
        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isArmed());
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        w->ActActivateToggle->trigger();
        w->report().AddToReport(QStringLiteral("After disarming"));

        // The alarm goes ahead of the lines still waiting.
        const QStringList expected{
            QStringLiteral("Mouse detected"), QStringLiteral("Simulation - Enabled"),
            QStringLiteral("Alarm - Activated"), QStringLiteral("Alarm - Stoped")};
        // Notes of session services missing here go out too; they are not
        // this test's subject.
        const auto ownRequests = [&server] {
            QList<QJsonObject> own;
            for (const QJsonObject &request : server.requests()) {
                const QString body = request.value(QStringLiteral("body")).toString();
                if (!body.endsWith(QStringLiteral("Volume guard not available")) &&
                    !body.endsWith(QStringLiteral("Suspend cannot be prevented")))
                    own << request;
            }
            return own;
        };
        QTRY_COMPARE_WITH_TIMEOUT(ownRequests().size(), expected.size(), 20000);
        const QList<QJsonObject> requests = ownRequests();
        for (int i = 0; i < expected.size(); ++i) {
            const QString body = requests.at(i).value(QStringLiteral("body")).toString();
            QVERIFY2(body.endsWith(QStringLiteral("] ") + expected.at(i)), qPrintable(body));
            const QString priority = requests.at(i)
                                         .value(QStringLiteral("headers"))
                                         .toObject()
                                         .value(QStringLiteral("X-Priority"))
                                         .toString();
            QCOMPARE(priority, i == 0 ? QStringLiteral("5") : QStringLiteral("3"));
        }
        QTest::qWait(300); // nothing else follows
        QCOMPARE(ownRequests().size(), expected.size());
        QCOMPARE(w->reach()->tray.state(), TrayIcon::State::Disarmed);
    }

    void failureToldOnceWithoutToken()
    {
        AlertServer server;
        server.setMode("500");
        QVERIFY(server.start());
        setAlerts(server.url(), QStringLiteral("webhook"), QStringLiteral("SECRET-TOKEN-XYZ"));
        auto w = makeWindow();
        QVERIFY(w);
        w->ActActivateToggle->trigger();
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() >= 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!w->report().lines().filter(QStringLiteral("not sent")).isEmpty(),
                                 20000);
        const QStringList failures = w->report().lines().filter(QStringLiteral("not sent"));
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures.first().contains(QStringLiteral("500")), qPrintable(failures.first()));
        QFile file(w->report().filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("SECRET"));
        // The server comes back: everything arrives, the failure line too.
        server.setMode("200");
        w->reach()->sender.retryNow();
        QTRY_COMPARE_WITH_TIMEOUT(w->reach()->sender.pending(), 0, 20000);
        QVERIFY(!server.bodies(200).filter(QStringLiteral("not sent")).isEmpty());
    }

    // A "Photo saved" line's alert carries the file from the evidence folder
    // (the screen picture's and the sound clip's lines theirs); it waits in
    // the queue while the server is down and goes after its alarm. Lines
    // naming no file of that folder go as plain text, and so do all with
    // Send off in Evidence.
    void photoLineSendsItsFile_data()
    {
        QTest::addColumn<QString>("line");   // "<source> saved: <name>"
        QTest::addColumn<QString>("file");   // written beside the reports; empty: none
        QTest::addColumn<QString>("sentAs"); // the file's name at the receiver; empty: not sent
        QTest::addColumn<QString>("send");   // Send in Evidence; empty: not set
        const QString photo = QStringLiteral("2026-12-07_10-00-01_photo.jpg");
        const QString saved = QStringLiteral("Photo saved: ");
        QTest::newRow("photo") << saved + photo << "Reports/Evidence/" + photo << photo << "";
        QTest::newRow("photo gone") << saved + photo << ""
                                    << ""
                                    << "";
        QTest::newRow("outside the folder") << saved + "../" + photo << "Reports/" + photo << ""
                                            << "";
        QTest::newRow("not a picture name") << saved + "a.jpg"
                                            << "Reports/Evidence/a.jpg"
                                            << ""
                                            << "";
        const QString screen = QStringLiteral("2026-12-07_10-00-01_screen.png");
        const QString clip = QStringLiteral("2026-12-07_10-00-01_sound.oga");
        QTest::newRow("screen picture") << "Screen saved: " + screen << "Reports/Evidence/" + screen
                                        << screen.chopped(3) + "jpg"
                                        << "T";
        QTest::newRow("sound clip")
            << "Sound saved: " + clip << "Reports/Evidence/" + clip << clip << "";
        QTest::newRow("Send off, photo") << saved + photo << "Reports/Evidence/" + photo << ""
                                         << "F";
        QTest::newRow("Send off, sound clip")
            << "Sound saved: " + clip << "Reports/Evidence/" + clip << ""
            << "F";
    }
    void photoLineSendsItsFile()
    {
        QFETCH(QString, line);
        QFETCH(QString, file);
        QFETCH(QString, sentAs);
        QFETCH(QString, send);
        const bool sent = !sentAs.isEmpty();
        if (!send.isEmpty())
            WriteRegString(EvidenceSettings::KeyPath, QStringLiteral("Send"), send);
        AlertServer server;
        server.setMode("kind:ntfy");
        setAlerts(server.url(QStringLiteral("/desk")), QStringLiteral("ntfy"),
                  "tk_" + Receiver::Token);
        auto w = makeWindow();
        QVERIFY(w);
        const QString path = m_dir->filePath(file);
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("Reports/Evidence"))));
        if (!file.isEmpty())
            QVERIFY(file.endsWith(QLatin1String(".oga"))
                        ? WriteOggClip(path)
                        : WriteNoisyJpeg(path, 320, 240,
                                         file.endsWith(QLatin1String(".png")) ? "PNG" : "JPEG"));
        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isArmed());
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        w->report().AddToReport(line);

        // Kept in the queue with its file while nobody answers.
        QFile queue(AlertQueue::DefaultPath(RegistryFilePath()));
        QTRY_VERIFY_WITH_TIMEOUT(queue.exists(), 5000);
        QVERIFY(queue.open(QIODevice::ReadOnly));
        const QJsonArray entries = QJsonDocument::fromJson(queue.readAll())
                                       .object()
                                       .value(QStringLiteral("entries"))
                                       .toArray();
        QStringList attachments;
        for (const QJsonValue &entry : entries)
            attachments << entry.toObject().value(QStringLiteral("attachment")).toString();
        QCOMPARE(attachments.contains(path), sent);

        QVERIFY(server.start());
        w->reach()->sender.retryNow();
        QTRY_COMPARE_WITH_TIMEOUT(w->reach()->sender.pending(), 0, 20000);
        int alarmAt = -1, photoAt = -1;
        const QList<QJsonObject> requests = server.requests();
        for (int i = 0; i < requests.size(); ++i) {
            const QJsonObject request = requests.at(i);
            const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
            QVERIFY(request.value(QStringLiteral("status")).toInt() == 200);
            const QString text = headers.value(QStringLiteral("X-Message"))
                                     .toString(request.value(QStringLiteral("body")).toString());
            if (text.endsWith(QStringLiteral("] Mouse detected")))
                alarmAt = i;
            if (text.endsWith(QStringLiteral("] ") + line))
                photoAt = i;
        }
        QVERIFY(alarmAt >= 0 && photoAt > alarmAt);
        const QJsonObject photo = requests.at(photoAt);
        QCOMPARE(photo.value(QStringLiteral("jpeg")).toBool(), sentAs.endsWith(".jpg"));
        QCOMPARE(photo.value(QStringLiteral("ogg")).toBool(), sentAs.endsWith(".oga"));
        QCOMPARE(photo.value(QStringLiteral("headers"))
                     .toObject()
                     .value(QStringLiteral("Filename"))
                     .toString(),
                 sentAs);
        QVERIFY(file.isEmpty() || QFileInfo(path).isFile()); // sent, not moved
    }

    void trayMenuTakesTheWindowsSteps()
    {
        auto w = makeWindow();
        QVERIFY(w);
        TrayIcon &tray = w->reach()->tray;
        QVERIFY(tray.toggleAction()->isEnabled());
        QCOMPARE(tray.toggleAction()->text(), QStringLiteral("Arm"));
        tray.toggleAction()->trigger();
        QVERIFY(w->alarm().isArmed());
        QCOMPARE(w->ActActivateToggle->toolTip(), QStringLiteral("Stop Alarm"));
        QCOMPARE(tray.state(), TrayIcon::State::Armed);
        QCOMPARE(tray.toggleAction()->text(), QStringLiteral("Disarm"));
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        QCOMPARE(tray.state(), TrayIcon::State::Alarm);
        tray.toggleAction()->trigger();
        QVERIFY(!w->alarm().isOn(S::Alarm));
        QCOMPARE(tray.state(), TrayIcon::State::Disarmed);
        QVERIFY(!w->isVisible());
        tray.showAction()->trigger();
        QVERIFY(w->isVisible());

        // Nothing to arm with: the tray cannot arm either.
        w->ActSimToggle->trigger();
        QVERIFY(!tray.toggleAction()->isEnabled());
    }

    void closeWhileArmed_data()
    {
        QTest::addColumn<bool>("trayAvailable");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<bool>("keepsRunning");
        QTest::newRow("tray, armed") << true << true << true;
        QTest::newRow("tray, disarmed") << true << false << false;
        QTest::newRow("no tray, armed") << false << true << true;
        QTest::newRow("no tray, disarmed") << false << false << false;
    }
    void closeWhileArmed()
    {
        QFETCH(bool, trayAvailable);
        QFETCH(bool, armed);
        QFETCH(bool, keepsRunning);
        auto w = makeWindow();
        QVERIFY(w);
        w->reach()->tray.setAvailability([trayAvailable] { return trayAvailable; });
        w->show();
        if (armed)
            w->ActActivateToggle->trigger();
        const int notified = w->reach()->notifications.sent();
        QCOMPARE(w->close(), !keepsRunning);
        // Without a tray and (here) without a notification service the
        // window goes to the task bar instead of vanishing, and says so.
        const bool minimised = keepsRunning && !trayAvailable;
        QCOMPARE(w->isVisible(), minimised);
        QCOMPARE(w->isMinimized(), minimised);
        QCOMPARE(w->report().lines().filter(QStringLiteral("Window minimised")).size(),
                 minimised ? 1 : 0);
        QCOMPARE(w->alarm().TimTask.isActive(), keepsRunning);
        // Closing never disarms.
        QCOMPARE(w->alarm().isOn(S::Alarm), armed);
        QCOMPARE(w->report().lines().filter(QStringLiteral("Alarm - Stoped")).size(), 0);
        if (!keepsRunning)
            return;
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
        // The "still running" notice comes once (when a bus is there at all).
        const int afterFirst = w->reach()->notifications.sent();
        QVERIFY(afterFirst <= notified + 1);
        // Starting again shows the window.
        w->RestoreFromMessage(QByteArray());
        QVERIFY(w->isVisible());
        QVERIFY(!w->close());
        QCOMPARE(w->reach()->notifications.sent(), afterFirst);
        // Exit (the tray's where there is one, else the window's) ends it.
        if (trayAvailable)
            w->reach()->tray.exitAction()->trigger();
        else
            w->Exit2->trigger();
        QVERIFY(!w->alarm().TimTask.isActive());
        QVERIFY(QGuiApplication::quitOnLastWindowClosed());
        QVERIFY(w->alarm().isOn(S::Alarm));
    }

    void everyLineToTheJournal()
    {
        QList<QList<QByteArray>> entries;
        Journal::SetSinkForTests([&](const QList<QByteArray> &fields) {
            // Notes of session services missing here are not this test's subject.
            if (!fields.at(2).endsWith("Volume guard not available") &&
                !fields.at(2).endsWith("Suspend cannot be prevented"))
                entries << fields;
        });
        auto w = makeWindow();
        QVERIFY(w);
        w->report().AddToReport(QStringLiteral("Before arming"));
        w->ActActivateToggle->trigger();
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        QTRY_COMPARE(entries.size(), 4);
        Journal::SetSinkForTests({});
        QStringList priorities, events;
        for (const QList<QByteArray> &fields : entries) {
            priorities << QString::fromUtf8(fields.at(0));
            events << QString::fromUtf8(fields.at(2));
            QVERIFY(fields.at(3).startsWith("MESSAGE=["));
        }
        QCOMPARE(events, (QStringList{QStringLiteral("TARVO2_EVENT=Before arming"),
                                      QStringLiteral("TARVO2_EVENT=Simulation - Enabled"),
                                      QStringLiteral("TARVO2_EVENT=Alarm - Activated"),
                                      QStringLiteral("TARVO2_EVENT=Mouse detected")}));
        QCOMPARE(priorities,
                 (QStringList{QStringLiteral("PRIORITY=6"), QStringLiteral("PRIORITY=6"),
                              QStringLiteral("PRIORITY=6"), QStringLiteral("PRIORITY=4")}));
    }

    void alertsDialog()
    {
        AlertServer server;
        QVERIFY(server.start());
        auto w = makeWindow();
        QVERIFY(w);
        TfrmAlerts dialog(w->reach()->sender, w.get());
        QCOMPARE(dialog.cmbKind->currentText(), QStringLiteral("ntfy"));
        dialog.edtUrl->setText(server.url(QStringLiteral("/from-dialog")));
        dialog.edtToken->setText(QStringLiteral("dialog-token"));
        dialog.btnSendTest->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.memAnswer->toPlainText().contains(QStringLiteral("200")),
                                 20000);
        QVERIFY(dialog.memAnswer->toPlainText().contains(QStringLiteral("\"id\"")));
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.requests()
                     .first()
                     .value(QStringLiteral("body"))
                     .toString()
                     .endsWith(QStringLiteral("] Test alert")),
                 true);
        // Nothing is stored until the dialog is accepted.
        QCOMPARE(AlertConfig::Load().url, QString());
        // A URL the receiver cannot use is told at its field as it is left,
        // and OK keeps nothing.
        dialog.edtUrl->setText(QStringLiteral("not a url"));
        Q_EMIT dialog.edtUrl->editingFinished();
        QVERIFY(!dialog.problemLabel(dialog.edtUrl)->isHidden());
        QVERIFY(!dialog.save());
        QCOMPARE(AlertConfig::Load().url, QString());
        dialog.edtUrl->setText(server.url(QStringLiteral("/from-dialog")));
        dialog.cmbKind->setCurrentIndex(1);
        QVERIFY(dialog.problemLabel(dialog.edtUrl)->isHidden()); // mended
        QVERIFY(dialog.save());
        const AlertConfig stored = AlertConfig::Load();
        QCOMPARE(stored.url, server.url(QStringLiteral("/from-dialog")));
        QCOMPARE(stored.kind, AlertConfig::Kind::Webhook);
        QCOMPARE(stored.token, QStringLiteral("dialog-token"));
        QCOMPARE(ReadRegString(QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\S\\alert"),
                               QStringLiteral("Kind")),
                 QStringLiteral("webhook"));
    }

    void alertsDialogKinds()
    {
        AlertServer server;
        server.setMode("kind:telegram");
        QVERIFY(server.start());
        auto w = makeWindow();
        QVERIFY(w);
        TfrmAlerts dialog(w->reach()->sender, w.get());
        dialog.show();
        QCOMPARE(dialog.cmbKind->count(), AlertConfig::Kinds.size());
        // Which fields each kind shows: token, To, User, From.
        const QMap<QString, QString> shown{
            {"ntfy", "1010"},     {"webhook", "1010"},  {"slack", "0000"},
            {"discord", "0000"},  {"gotify", "1000"},   {"matrix", "1100"},
            {"telegram", "1100"}, {"pushover", "1100"}, {"email", "1111"}};
        QStringList helps;
        for (int i = 0; i < dialog.cmbKind->count(); ++i) {
            dialog.cmbKind->setCurrentIndex(i);
            QString seen;
            for (QLineEdit *edit : {dialog.edtToken, dialog.edtTo, dialog.edtUser, dialog.edtFrom})
                seen += edit->isVisible() ? QLatin1Char('1') : QLatin1Char('0');
            QCOMPARE(seen, shown.value(dialog.cmbKind->currentText()));
            QVERIFY(dialog.edtUrl->isVisible());
            helps << dialog.lblKindHelp->text();
        }
        helps.removeDuplicates();
        QCOMPARE(helps.size(), dialog.cmbKind->count());
        QList<QWidget *> fields{dialog.cmbKind};
        for (QLineEdit *edit : dialog.findChildren<QLineEdit *>(Qt::FindDirectChildrenOnly))
            fields << edit;
        for (QWidget *field : fields) { // every field has its label as buddy
            bool labelled = false;
            for (QLabel *label : dialog.findChildren<QLabel *>())
                labelled = labelled || label->buddy() == field;
            QVERIFY2(labelled, qPrintable(field->objectName()));
        }

        // The test alert shows what the receiver answered.
        dialog.cmbKind->setCurrentText(QStringLiteral("telegram"));
        dialog.edtUrl->setText(server.url(QString()));
        dialog.edtToken->setText(QStringLiteral("123456:wrong"));
        dialog.edtTo->setText(Receiver::Chat);
        dialog.btnSendTest->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.btnSendTest->isEnabled(), 20000);
        const QString answer = dialog.memAnswer->toPlainText();
        QVERIFY2(answer.contains(QStringLiteral("401")) &&
                     answer.contains(QStringLiteral("\"description\": \"Unauthorized\"")) &&
                     !answer.contains(QStringLiteral("wrong")),
                 qPrintable(answer));

        // A line break in a value is refused with a word, not stored.
        dialog.edtToken->setText(QStringLiteral("123456:x\r\nX-Injected: 1"));
        QVERIFY(!dialog.save());
        QVERIFY(dialog.lblProblem->isVisible());
        QVERIFY(dialog.lblProblem->text().contains(QStringLiteral("token contains a line break")));
        QCOMPARE(AlertConfig::Load().url, QString());
        dialog.edtToken->setText(Receiver::TelegramToken);
        dialog.edtTo->setText(QStringLiteral("my chat")); // not a chat id
        QVERIFY(!dialog.save());
        QVERIFY(!dialog.problemLabel(dialog.edtTo)->isHidden());
        QCOMPARE(AlertConfig::Load().url, QString());
        dialog.edtTo->setText(Receiver::Chat);
        QVERIFY(dialog.save());
        QCOMPARE(AlertConfig::Load().to, Receiver::Chat);
        QCOMPARE(AlertConfig::Load().kind, AlertConfig::Kind::Telegram);
    }

    void alertsDialogShowsRefusal()
    {
        AlertServer server;
        server.setMode("kind:telegram");
        QVERIFY(server.start());
        AlertConfig config;
        config.kind = AlertConfig::Kind::Telegram;
        config.url = server.url(QString());
        config.token = QStringLiteral("123456:wrong");
        config.to = Receiver::Chat;
        config.save();
        auto w = makeWindow();
        QVERIFY(w);
        w->ActActivateToggle->trigger(); // its first line goes out and is refused
        QTRY_VERIFY_WITH_TIMEOUT(!w->reach()->sender.lastProblem().isEmpty(), 20000);
        const QStringList refusals = w->report().lines().filter(QStringLiteral("refused"));
        QCOMPARE(refusals.size(), 1);
        QVERIFY2(refusals.first().contains(QStringLiteral("401")), qPrintable(refusals.first()));
        TfrmAlerts dialog(w->reach()->sender, w.get());
        QVERIFY(dialog.lblProblem->text().contains(QStringLiteral("answered 401")));
        QVERIFY(!dialog.lblProblem->isHidden());
    }

    void heartbeatFields()
    {
        auto w = makeWindow();
        QVERIFY(w);
        TfrmAlerts dialog(w->reach()->sender, w.get());
        QCOMPARE(dialog.heartbeat->spnHeartbeatMinutes->value(), 5);
        dialog.edtUrl->setText(QStringLiteral("https://ntfy.example/desk"));
        dialog.heartbeat->edtHeartbeatUrl->setText(QStringLiteral("hc.example/ping"));
        QVERIFY(!dialog.heartbeat->problem().isEmpty()); // refused: no scheme
        dialog.heartbeat->edtHeartbeatUrl->setText(QStringLiteral("https://hc.example/ping/1"));
        dialog.heartbeat->spnHeartbeatMinutes->setValue(15);
        QVERIFY(dialog.save());
        const HeartbeatConfig stored = HeartbeatConfig::Load();
        QCOMPARE(stored.url, QStringLiteral("https://hc.example/ping/1"));
        QCOMPARE(stored.minutes, 15);
    }

    // Five wrong PINs typed a few seconds apart: the report keeps one line
    // per minute, but the alarm of the third goes out at alarm priority.
    void everyAlarmAtAlarmPriority()
    {
        AlertServer server;
        QVERIFY(server.start());
        setAlerts(server.url(), QStringLiteral("ntfy"), QString());
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->protection().setPin(QStringLiteral("2468"), 1000));
        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isArmed());
        for (int i = 0; i < 5; ++i) {
            w->protection().CheckPin(QStringLiteral("1111"));
            QTest::qWait(30);
        }
        const auto alarmPins = [&server] {
            int n = 0;
            for (const QJsonObject &request : server.requests()) {
                if (request.value(QStringLiteral("body"))
                        .toString()
                        .endsWith(QStringLiteral("] Wrong PIN")) &&
                    AlertServer::priorityOf(request) == QLatin1String("5"))
                    ++n;
            }
            return n;
        };
        QTRY_COMPARE_WITH_TIMEOUT(alarmPins(), 1, 20000);
    }

    // The alert of a line written while armed is in the queue file by the
    // time the line is in the report file: a kill in between loses nothing.
    void queueKeepsTheLineFirst()
    {
        setAlerts(QStringLiteral("http://127.0.0.1:1/down"), QStringLiteral("ntfy"), QString());
        auto w = makeWindow();
        QVERIFY(w);
        const QString queuePath = AlertQueue::DefaultPath(RegistryFilePath());
        QStringList missing, alarms;
        w->report().addLineObserver([&](const QString &message, const QString &) {
            if (!w->alarm().isOn(S::Alarm))
                return;
            bool queued = false;
            const AlertQueue onDisk(queuePath);
            for (const AlertEvent &event : onDisk.entries()) {
                if (event.event == message) {
                    queued = true;
                    if (event.alarm)
                        alarms << message;
                }
            }
            if (!queued)
                missing << message;
        });
        w->ActActivateToggle->trigger();
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        QTest::qWait(50);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u',')));
        QCOMPARE(alarms, QStringList{QStringLiteral("Mouse detected")});
        QVERIFY(w->reach()->sender.pending() >= 3);
    }

    void closeAfterComingBackFromTray()
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->reach()->tray.setAvailability([] { return true; });
        w->show();
        w->ActActivateToggle->trigger();
        QVERIFY(!w->close());
        w->reach()->tray.showAction()->trigger();
        QVERIFY(w->isVisible());
        w->reach()->tray.toggleAction()->trigger(); // disarmed through the window
        QVERIFY(!w->alarm().isOn(S::Alarm));
        QVERIFY(w->close());
        QVERIFY(QGuiApplication::quitOnLastWindowClosed());
        QVERIFY(!w->alarm().TimTask.isActive());
    }

    void alertsMenuItemBeforeExit()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QCOMPARE(tarvo::test::OptionsEntryAboveLastGroup(*w, QStringLiteral("mnuAlerts")),
                 QStringLiteral("Alerts…"));
    }
};

TARVO_TEST_MAIN(TestReach)
#include "tst_reach.moc"
