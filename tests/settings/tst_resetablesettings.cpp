#include "common/TestMain.h"
#include "settings/ResetableSettings.h"

#include <QTest>
#include <climits>

class TestResetableSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storedIntegers_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << QStringLiteral("50") << true << 50;
        QTest::newRow("negative") << QStringLiteral("-35") << true << -35;
        QTest::newRow("leading zeros") << QStringLiteral("007") << true << 7;
        QTest::newRow("too large") << QStringLiteral("99999999999999999999") << true << INT_MAX;
        QTest::newRow("too small") << QStringLiteral("-99999999999999999999") << true << INT_MIN;
        QTest::newRow("empty") << QString() << false << 0;
        QTest::newRow("text") << QStringLiteral("loud") << false << 0;
        QTest::newRow("plus sign") << QStringLiteral("+5") << false << 0;
        QTest::newRow("leading space") << QStringLiteral(" 5") << false << 0;
        QTest::newRow("trailing space") << QStringLiteral("5 ") << false << 0;
        QTest::newRow("trailing newline") << QStringLiteral("50\n") << false << 0;
        QTest::newRow("fraction") << QStringLiteral("5.5") << false << 0;
        QTest::newRow("other digits") << QStringLiteral("\u0663") << false << 0;
    }

    void storedIntegers()
    {
        QFETCH(QString, data);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const std::optional<int> parsed = ParseStoredInteger(data);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
    }

    void valueNamesAreOneWord()
    {
        QCOMPARE(ResetableValueName(QStringLiteral("trkAlarmVolume")),
                 QStringLiteral("frmMaintrkAlarmVolume"));
    }
};

TARVO_TEST_MAIN(TestResetableSettings)
#include "tst_resetablesettings.moc"
