// The disarm protection's rules without a window: the PIN's stored form,
// its check, the count of wrong tries that ends in an alarm, which steps ask
// for it, and the option changes of the dialog.

#include "AlarmFixture.h"
#include "alarm/DisarmProtection.h"
#include "common/TestMain.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>

using ArmState = AlarmControl::ArmState;
using Step = DisarmProtection::Step;
using Verdict = DisarmProtection::Verdict;

// Few rounds where the count is not what a test is about.
constexpr int QuickIterations = 1000;

class TestDisarmProtection : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    tarvo::test::ProtectedAlarm m_fixture;
    std::unique_ptr<ReportLog> &m_report = m_fixture.report;
    std::unique_ptr<AlarmControl> &m_alarm = m_fixture.alarm;
    std::unique_ptr<DisarmProtection> &m_protection = m_fixture.protection;
    int m_activationDelay = 0;

    void arm(int activationDelay)
    {
        m_activationDelay = activationDelay;
        m_alarm->ActActivateToggleExecute();
        QCOMPARE(m_alarm->armState(), activationDelay ? ArmState::Arming : ArmState::Armed);
    }
    QString lastLine() const
    {
        const QStringList lines = m_report->lines();
        return lines.isEmpty() ? QString() : lines.last();
    }

private Q_SLOTS:
    void init()
    {
        m_activationDelay = 0;
        QVERIFY(m_fixture.start(m_dir, m_activationDelay));
    }
    void cleanup() { m_fixture.stop(); }

    void storedFormHoldsNoPin()
    {
        const QString pin = QStringLiteral("83726154");
        QVERIFY(m_protection->setPin(pin));
        const QString stored = ReadRegString(StoreKeys::Settings, DisarmProtection::PinValueName);
        static const QRegularExpression form(
            QStringLiteral("^pbkdf2-sha256\\$100000\\$[A-Za-z0-9+/]{22}==\\$[A-Za-z0-9+/]{43}=$"));
        QVERIFY2(form.match(stored).hasMatch(), qPrintable(stored));
        QFile file(RegistryFilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray contents = file.readAll();
        QVERIFY2(contents.contains("pbkdf2-sha256$100000$"), contents.constData());
        QVERIFY(!contents.contains(pin.toLatin1()));
        QVERIFY(DisarmProtection::VerifyPin(pin, stored));

        // A new salt every time: the same PIN never gives the same value.
        QVERIFY(m_protection->setPin(pin, QuickIterations));
        const QString again = ReadRegString(StoreKeys::Settings, DisarmProtection::PinValueName);
        QVERIFY(again.section(QLatin1Char('$'), 2, 2) != stored.section(QLatin1Char('$'), 2, 2));
    }

    void derivationIsPbkdf2Sha256()
    {
        // Derived independently (Python's hashlib.pbkdf2_hmac).
        QCOMPARE(DisarmProtection::HashPin(QStringLiteral("4711"),
                                           QByteArrayLiteral("saltsaltsaltsalt"), 1000),
                 QStringLiteral("pbkdf2-sha256$1000$c2FsdHNhbHRzYWx0c2FsdA==$"
                                "ZNOXx9OA8hxBiIX8CHAe3eNeYZFTJsP/OYCJ6DxlnqA="));
    }

    void verify_data()
    {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("match");
        const QString good = QStringLiteral("pbkdf2-sha256$1000$c2FsdHNhbHRzYWx0c2FsdA==$"
                                            "ZNOXx9OA8hxBiIX8CHAe3eNeYZFTJsP/OYCJ6DxlnqA=");
        QTest::newRow("right") << "4711" << good << true;
        QTest::newRow("wrong") << "4712" << good << false;
        QTest::newRow("longer") << "47110" << good << false;
        QTest::newRow("empty pin") << "" << good << false;
        QTest::newRow("nothing stored") << "4711"
                                        << "" << false;
        QTest::newRow("other scheme")
            << "4711" << QString(good).replace(QStringLiteral("sha256"), QStringLiteral("sha1"))
            << false;
        QTest::newRow("too few rounds")
            << "4711" << QString(good).replace(QStringLiteral("$1000$"), QStringLiteral("$1$"))
            << false;
        QTest::newRow("rounds not a number")
            << "4711" << QString(good).replace(QStringLiteral("$1000$"), QStringLiteral("$x$"))
            << false;
        QTest::newRow("damaged salt")
            << "4711" << QString(good).replace(QStringLiteral("c2Fs"), QStringLiteral("c2F*"))
            << false;
        QTest::newRow("short key") << "4711" << good.left(good.size() - 8) << false;
        QTest::newRow("extra field") << "4711" << good + QStringLiteral("$") << false;
        QTest::newRow("the pin itself") << "4711"
                                        << "4711" << false;
    }

    void verify()
    {
        QFETCH(QString, pin);
        QFETCH(QString, stored);
        QFETCH(bool, match);
        QCOMPARE(DisarmProtection::VerifyPin(pin, stored), match);
    }

    void validPins_data()
    {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<bool>("valid");
        QTest::newRow("3 digits") << "123" << false;
        QTest::newRow("4 digits") << "1234" << true;
        QTest::newRow("12 digits") << "123456789012" << true;
        QTest::newRow("13 digits") << "1234567890123" << false;
        QTest::newRow("letter") << "12a4" << false;
        QTest::newRow("space") << " 1234" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("other digits") << QStringLiteral("\u0661\u0662\u0663\u0664") << false;
    }

    void validPins()
    {
        QFETCH(QString, pin);
        QFETCH(bool, valid);
        QCOMPARE(DisarmProtection::IsValidPin(pin), valid);
        QCOMPARE(m_protection->setPin(pin, QuickIterations), valid);
        QCOMPARE(m_protection->pinEnabled(), valid);
    }

    void thirdWrongPinRaisesTheAlarm()
    {
        QVERIFY(m_protection->setPin(QStringLiteral("2468"), QuickIterations));
        arm(0);
        QSignalSpy raised(m_alarm.get(), &AlarmControl::alarmRaised);
        QCOMPARE(m_protection->CheckPin(QStringLiteral("1111")), Verdict::Wrong);
        QVERIFY(lastLine().endsWith(QStringLiteral("] Wrong PIN")));
        QCOMPARE(m_protection->CheckPin(QStringLiteral("2222")), Verdict::Wrong);
        QCOMPARE(raised.count(), 0);
        QCOMPARE(m_protection->CheckPin(QStringLiteral("3333")), Verdict::WrongAndAlarm);
        QCOMPARE(raised.count(), 1);
        QCOMPARE(raised.first().first().toString(), QStringLiteral("Wrong PIN"));
        QVERIFY(lastLine().endsWith(QStringLiteral("] Wrong PIN")));
        QVERIFY(m_alarm->TimTempMute.isActive()); // taken like any trigger
        // The right PIN is still taken and starts the count again.
        QCOMPARE(m_protection->CheckPin(QStringLiteral("2468")), Verdict::Granted);
        QCOMPARE(m_protection->wrongTries(), 0);
    }

    void rightPinResetsTheCount()
    {
        QVERIFY(m_protection->setPin(QStringLiteral("2468"), QuickIterations));
        arm(0);
        QSignalSpy raised(m_alarm.get(), &AlarmControl::alarmRaised);
        QCOMPARE(m_protection->CheckPin(QStringLiteral("1111")), Verdict::Wrong);
        QCOMPARE(m_protection->CheckPin(QStringLiteral("1112")), Verdict::Wrong);
        QCOMPARE(m_protection->CheckPin(QStringLiteral("2468")), Verdict::Granted);
        QCOMPARE(m_protection->CheckPin(QStringLiteral("1113")), Verdict::Wrong);
        QCOMPARE(raised.count(), 0);
    }

    void wrongPinDuringTheActivationDelayIsOnlyReported()
    {
        // The alarm takes no trigger before the delay ends; the try is still
        // written down.
        QVERIFY(m_protection->setPin(QStringLiteral("2468"), QuickIterations));
        arm(30);
        QSignalSpy raised(m_alarm.get(), &AlarmControl::alarmRaised);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(m_protection->CheckPin(QStringLiteral("0000")), Verdict::Wrong);
        QCOMPARE(m_protection->CheckPin(QStringLiteral("0000")), Verdict::WrongAndAlarm);
        QCOMPARE(raised.count(), 0);
        QVERIFY(lastLine().endsWith(QStringLiteral("] Wrong PIN")));
    }

    void whoAsks_data()
    {
        QTest::addColumn<bool>("lock");
        QTest::addColumn<bool>("pin");
        QTest::addColumn<int>("delay"); // -1: not armed
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("keepsRunning");
        QTest::newRow("nothing, disarmed") << false << false << -1 << false << false;
        QTest::newRow("nothing, armed") << false << false << 0 << false << false;
        QTest::newRow("pin, disarmed") << false << true << -1 << false << false;
        QTest::newRow("pin, arming") << false << true << 30 << true << true;
        QTest::newRow("pin, armed") << false << true << 0 << true << true;
        QTest::newRow("lock, disarmed") << true << false << -1 << false << false;
        QTest::newRow("lock, armed") << true << false << 0 << false << true;
        QTest::newRow("both, armed") << true << true << 0 << true << true;
    }

    void whoAsks()
    {
        QFETCH(bool, lock);
        QFETCH(bool, pin);
        QFETCH(int, delay);
        QFETCH(bool, asks);
        QFETCH(bool, keepsRunning);
        m_protection->setLockEnabled(lock);
        if (pin)
            QVERIFY(m_protection->setPin(QStringLiteral("9876"), QuickIterations));
        if (delay >= 0)
            arm(delay);
        for (Step step : {Step::Disarm, Step::Quit, Step::Settings})
            QCOMPARE(m_protection->needsPin(step), asks);
        QCOMPARE(m_protection->keepsRunningWhenClosed(), keepsRunning);
    }

    void optionsSurviveARestart()
    {
        m_protection->setLockEnabled(true);
        QVERIFY(m_protection->setPin(QStringLiteral("13579"), QuickIterations));
        DisarmProtection later(*m_alarm, *m_report);
        later.Load();
        QVERIFY(later.lockEnabled());
        QVERIFY(later.pinEnabled());
        QVERIFY(later.matches(QStringLiteral("13579")));
        m_protection->setLockEnabled(false);
        m_protection->clearPin();
        later.Load();
        QVERIFY(!later.lockEnabled());
        QVERIFY(!later.pinEnabled());
        QVERIFY(ReadRegString(StoreKeys::Settings, DisarmProtection::PinValueName).isEmpty());
    }

    void damagedStoredPinCountsAsNone()
    {
        // A value nothing could match would shut the owner out for good.
        WriteRegString(StoreKeys::Settings, DisarmProtection::PinValueName,
                       QStringLiteral("pbkdf2-sha256$100000$broken"));
        m_protection->Load();
        QVERIFY(!m_protection->pinEnabled());
        arm(0);
        QVERIFY(!m_protection->needsPin(Step::Disarm));
    }

    void changeOptions_data()
    {
        QTest::addColumn<bool>("pinBefore"); // "1234" set first
        QTest::addColumn<bool>("askPin");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("newPin");
        QTest::addColumn<QString>("repeated");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("pinAfter"); // empty: no PIN
        const QString wrong = DisarmProtection::WrongPinText;
        const QString bad = DisarmProtection::BadPinText;
        const QString differ = DisarmProtection::PinsDifferText;
        QTest::newRow("set") << false << true << ""
                             << "5678"
                             << "5678"
                             << ""
                             << "5678";
        QTest::newRow("set, typed differently") << false << true << ""
                                                << "5678"
                                                << "5679" << differ << "";
        QTest::newRow("set, too short") << false << true << ""
                                        << "567"
                                        << "567" << bad << "";
        QTest::newRow("set, nothing typed") << false << true << ""
                                            << ""
                                            << "" << bad << "";
        QTest::newRow("off, no current") << true << false << ""
                                         << ""
                                         << "" << wrong << "1234";
        QTest::newRow("off, wrong current") << true << false << "4321"
                                            << ""
                                            << "" << wrong << "1234";
        QTest::newRow("off, right current") << true << false << "1234"
                                            << ""
                                            << ""
                                            << ""
                                            << "";
        QTest::newRow("change, no current") << true << true << ""
                                            << "5678"
                                            << "5678" << wrong << "1234";
        QTest::newRow("change, right current") << true << true << "1234"
                                               << "5678"
                                               << "5678"
                                               << ""
                                               << "5678";
        QTest::newRow("kept, no current") << true << true << ""
                                          << ""
                                          << ""
                                          << ""
                                          << "1234";
    }

    void changeOptions()
    {
        QFETCH(bool, pinBefore);
        QFETCH(bool, askPin);
        QFETCH(QString, current);
        QFETCH(QString, newPin);
        QFETCH(QString, repeated);
        QFETCH(QString, refusal);
        QFETCH(QString, pinAfter);
        if (pinBefore)
            QVERIFY(m_protection->setPin(QStringLiteral("1234"), QuickIterations));
        DisarmProtection::OptionChange change;
        change.lock = true;
        change.askPin = askPin;
        change.currentPin = current;
        change.newPin = newPin;
        change.repeatedPin = repeated;
        QCOMPARE(m_protection->ChangeOptions(change), refusal);
        // A refused change changes nothing, the lock option included.
        QCOMPARE(m_protection->lockEnabled(), refusal.isEmpty());
        QCOMPARE(m_protection->pinEnabled(), !pinAfter.isEmpty());
        if (!pinAfter.isEmpty())
            QVERIFY(m_protection->matches(pinAfter));
        DisarmProtection stored(*m_alarm, *m_report);
        stored.Load();
        QCOMPARE(stored.pinEnabled(), !pinAfter.isEmpty());
    }
};

TARVO_TEST_MAIN(TestDisarmProtection)
#include "tst_disarmprotection.moc"
