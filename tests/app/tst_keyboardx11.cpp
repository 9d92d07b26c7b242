// Keyboard detection of the real window on a real X server (a private
// Xvfb, the xcb platform): keys typed into another window raise "Keyboard
// detected" while armed and only light the LED while disarmed; Escape in
// our own window disarms and raises nothing.

#include "common/TestMain.h"

#include "alarm/Autostart.h"
#include "app/LedShape.h"
#include "app/fmMain.h"
#include "common/XvfbServer.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>

namespace {
XvfbServer &Server()
{
    return XvfbServer::forProgram();
}
const bool XServerUp = [] {
    if (!XvfbServer::startForProgram())
        return false;
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("XDG_SESSION_TYPE");
    return true;
}();
} // namespace

class TestKeyboardX11 : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_other; // another program's window
    QStringList m_messages;

    std::unique_ptr<TfrmMain> startWindow(bool armed)
    {
        QFile::remove(RegistryFilePath());
        RemoveAutostartEntry();
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(m_dir->filePath(QStringLiteral("Sounds")));
        QFile sound(m_dir->filePath(QStringLiteral("Sounds/alarm.wav")));
        if (!sound.open(QIODevice::WriteOnly)) // undecodable: a silent run
            return nullptr;
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("alarm.wav"), QStringLiteral("T"));
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActKeyDetectToggle"),
                       QStringLiteral("T"));
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnActivationDelay"),
                       QStringLiteral("0"));
        if (armed)
            WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, QStringLiteral("T"));

        auto window = std::make_unique<TfrmMain>(m_dir->path() + QLatin1Char('/'));
        window->setMessageSink(
            [this](TfrmMain::MessageKind, const QString &text) { m_messages << text; });
        if (!window->FormCreate())
            return nullptr;
        window->show();
        return window;
    }

    static int linesWith(TfrmMain &w, const QString &text)
    {
        return int(w.report().lines().filter(QStringLiteral("] ") + text).size());
    }

    int xdotool(const QStringList &arguments)
    {
        return Server().run(QStringLiteral("xdotool"), arguments);
    }

    // Opens a window of another program and gives it the keyboard focus.
    bool focusOtherWindow()
    {
        if (!m_other) {
            m_other = std::make_unique<QProcess>();
            m_other->setProcessEnvironment(Server().environment());
            m_other->start(QStringLiteral("xmessage"),
                           {QStringLiteral("-name"), QStringLiteral("tarvo2otherwindow"),
                            QStringLiteral("another program")});
        }
        QByteArray id;
        for (int tries = 0; tries < 100 && id.trimmed().isEmpty(); ++tries) {
            Server().run(QStringLiteral("xdotool"),
                         {QStringLiteral("search"), QStringLiteral("--classname"),
                          QStringLiteral("tarvo2otherwindow")},
                         &id);
            if (id.trimmed().isEmpty())
                QTest::qWait(100);
        }
        const QString window = QString::fromLatin1(id.trimmed().split('\n').constFirst());
        if (window.isEmpty() || xdotool({QStringLiteral("windowfocus"), window}) != 0)
            return false;
        return QTest::qWaitFor([] { return QGuiApplication::focusWindow() == nullptr; }, 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!XServerUp || QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs Xvfb and Qt's xcb platform");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("xmessage")).isEmpty())
            QSKIP("needs xdotool and xmessage");
    }

    void cleanupTestCase()
    {
        if (m_other) {
            m_other->kill();
            m_other->waitForFinished();
        }
    }

    void init() { m_messages.clear(); }

    void typingElsewhereWhileArmedRaisesTheAlarm_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("key") << QStringList{QStringLiteral("key"), QStringLiteral("a")};
        QTest::newRow("type") << QStringList{QStringLiteral("type"), QStringLiteral("hello")};
    }

    void typingElsewhereWhileArmedRaisesTheAlarm()
    {
        QFETCH(QStringList, keys);
        auto w = startWindow(true);
        QVERIFY(w);
        // The stored armed state is taken up again at the first activation.
        QTRY_COMPARE_WITH_TIMEOUT(linesWith(*w, QStringLiteral("Alarm - Activated")), 1, 15000);
        QCOMPARE(linesWith(*w, QStringLiteral("Keyboard Detection - Enabled")), 1);
        QVERIFY(focusOtherWindow());
        QCOMPARE(xdotool(keys), 0);
        QTRY_COMPARE_WITH_TIMEOUT(linesWith(*w, QStringLiteral("Keyboard detected")), 1, 15000);
        QVERIFY(m_messages.isEmpty());
    }

    void typingElsewhereWhileDisarmedOnlyLightsTheLed()
    {
        auto w = startWindow(false);
        QVERIFY(w);
        QTRY_VERIFY_WITH_TIMEOUT(w->activity().keyboardOn(), 15000);
        QVERIFY(focusOtherWindow());
        QCOMPARE(xdotool({QStringLiteral("type"), QStringLiteral("hello")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(w->shpLedKeyDetection->isLit(), 15000);
        QTRY_VERIFY(!w->shpLedKeyDetection->isLit());
        QCOMPARE(linesWith(*w, QStringLiteral("Keyboard detected")), 0);
        QCOMPARE(w->alarm().armState(), AlarmControl::ArmState::Disarmed);
    }

    // A notice that comes up while armed (here: the checked sound is gone)
    // leaves the keyboard where it was, and keys typed into it still count.
    void noticeNeitherTakesNorHidesTheKeyboard()
    {
        auto w = startWindow(false);
        QVERIFY(w);
        w->setMessageSink({}); // real notices
        QVERIFY(QFile::remove(m_dir->filePath(QStringLiteral("Sounds/alarm.wav"))));
        QTRY_VERIFY_WITH_TIMEOUT(w->activity().keyboardOn(), 15000);
        QVERIFY(focusOtherWindow());
        w->ActActivateToggle->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w->findChild<QMessageBox *>(QStringLiteral("noticeBox")), 15000);
        auto *notice = w->findChild<QMessageBox *>(QStringLiteral("noticeBox"));
        QVERIFY(QTest::qWaitForWindowExposed(notice));
        QTest::qWait(300);
        QVERIFY(QGuiApplication::focusWindow() == nullptr);
        QCOMPARE(xdotool({QStringLiteral("key"), QStringLiteral("a")}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(linesWith(*w, QStringLiteral("Keyboard detected")), 1, 15000);

        QTRY_VERIFY(!w->shpLedKeyDetection->isLit());
        QCOMPARE(xdotool({QStringLiteral("windowfocus"), QString::number(notice->winId())}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::focusWindow() == notice->windowHandle(), 10000);
        QCOMPARE(xdotool({QStringLiteral("key"), QStringLiteral("b")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(w->shpLedKeyDetection->isLit(), 10000);
    }

    // Armed, a key into the program's own window is someone's at the desk:
    // seen first, and Escape still disarms after it.
    void escapeInOurWindowIsSeenThenDisarms()
    {
        auto w = startWindow(true);
        QVERIFY(w);
        QTRY_COMPARE_WITH_TIMEOUT(linesWith(*w, QStringLiteral("Alarm - Activated")), 1, 15000);
        QCOMPARE(xdotool({QStringLiteral("windowfocus"), QString::number(w->winId())}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::focusWindow() == w->windowHandle(), 10000);
        QCOMPARE(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(w->alarm().armState() == AlarmControl::ArmState::Disarmed, 10000);
        QCOMPARE(linesWith(*w, QStringLiteral("Alarm - Stoped")), 1);
        QCOMPARE(linesWith(*w, QStringLiteral("Keyboard detected")), 1);
        const QStringList lines = w->report().lines();
        qsizetype seen = -1, stopped = -1;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (seen < 0 && lines.at(i).endsWith(QStringLiteral("Keyboard detected")))
                seen = i;
            if (lines.at(i).endsWith(QStringLiteral("Alarm - Stoped")))
                stopped = i;
        }
        QVERIFY2(seen >= 0 && seen < stopped, qPrintable(lines.join(QLatin1Char('\n'))));
    }
};

TARVO_TEST_MAIN(TestKeyboardX11)
#include "tst_keyboardx11.moc"
