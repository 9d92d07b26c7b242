// The UPower service against dbusmock's upower on a private bus: the power
// cable's state, the battery and lid that set the switches' defaults, and a
// bus without UPower.

#include "common/TestMain.h"
#include "desktop/MockSystemBus.h"
#include "desktop/UPowerService.h"

#include <QSignalSpy>

using tarvo::test::MockSystemBus;

namespace {
const QString UPower = QStringLiteral("org.freedesktop.UPower");
const QString Path = QStringLiteral("/org/freedesktop/UPower");
const QString DisplayDevice = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");
const QString Device = QStringLiteral("org.freedesktop.UPower.Device");
} // namespace

class TestUPower : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cableFollowed()
    {
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("upower"), UPower));
        UPowerService power(bus.connection());
        QSignalSpy changes(&power, &UPowerService::onBatteryChanged);
        power.start();
        QTRY_COMPARE_WITH_TIMEOUT(power.availability(), UPowerService::Availability::Available,
                                  10000);
        QVERIFY(!power.onBattery());
        QVERIFY(power.lidPresent()); // the template's default

        QVERIFY(bus.changeProperty(UPower, Path, UPower, QStringLiteral("OnBattery"), true));
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 1, 10000);
        QVERIFY(power.onBattery());
        QVERIFY(bus.changeProperty(UPower, Path, UPower, QStringLiteral("OnBattery"), false));
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 2, 10000);
        QVERIFY(!power.onBattery());
    }

    void batteryPresent_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<bool>("isPresent");
        QTest::addColumn<bool>("expected");
        QTest::newRow("battery") << 2u << true << true;
        QTest::newRow("battery slot empty") << 2u << false << false;
        QTest::newRow("no battery (line power)") << 1u << true << false;
        QTest::newRow("unknown") << 0u << false << false;
    }
    void batteryPresent()
    {
        QFETCH(uint, type);
        QFETCH(bool, isPresent);
        QFETCH(bool, expected);
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("upower"), UPower));
        QVERIFY(bus.changeProperty(UPower, DisplayDevice, Device, QStringLiteral("Type"),
                                   QVariant::fromValue(type)));
        QVERIFY(bus.changeProperty(UPower, DisplayDevice, Device, QStringLiteral("IsPresent"),
                                   isPresent));
        UPowerService power(bus.connection());
        QSignalSpy battery(&power, &UPowerService::batteryPresentChanged);
        power.start();
        QTRY_COMPARE_WITH_TIMEOUT(power.availability(), UPowerService::Availability::Available,
                                  10000);
        if (expected)
            QTRY_VERIFY_WITH_TIMEOUT(power.batteryPresent(), 10000);
        else
            QTest::qWait(500);
        QCOMPARE(power.batteryPresent(), expected);
        QCOMPARE(battery.count(), expected ? 1 : 0);
    }

    void notAvailable_data()
    {
        QTest::addColumn<bool>("busThere");
        QTest::newRow("no system bus") << false;
        QTest::newRow("bus without UPower") << true;
    }
    void notAvailable()
    {
        QFETCH(bool, busThere);
        MockSystemBus bus;
        const QDBusConnection connection =
            busThere ? bus.connection() : QDBusConnection(QStringLiteral("no-such-bus"));
        UPowerService power(connection);
        power.start();
        QTRY_COMPARE_WITH_TIMEOUT(power.availability(), UPowerService::Availability::Unavailable,
                                  10000);
        QVERIFY(!power.onBattery());
        QVERIFY(!power.batteryPresent());
    }

    void onBatteryOfTheWrongType()
    {
        // An UPower whose OnBattery is not a boolean is not one to follow.
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("upower"), UPower,
                                  QStringLiteral("{\"OnBattery\": \"yes\"}")));
        UPowerService power(bus.connection());
        power.start();
        QTRY_COMPARE_WITH_TIMEOUT(power.availability(), UPowerService::Availability::Unavailable,
                                  10000);
        QVERIFY(!power.onBattery());
    }
};

TARVO_TEST_MAIN(TestUPower)
#include "tst_upower.moc"
