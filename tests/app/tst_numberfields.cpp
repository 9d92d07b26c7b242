// The window's number fields: typed values out of range are brought into
// range when editing finishes, and the value kept is the clamped one; an
// emptied field goes back to the value it had.

#include "common/TestMain.h"

#include "app/ClampSpinBox.h"
#include "app/fmMain.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QLineEdit>
#include <QPushButton>

class TestNumberFields : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void init() { QFile::remove(RegistryFilePath()); }

    void typedValuesAreClamped_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("byEnter"); // else by leaving the field
        QTest::newRow("above 0..180 by Enter") << "spnTriggerDelay"
                                               << "250" << 180 << true;
        QTest::newRow("above 0..180 leaving") << "spnActivationDelay"
                                              << "999" << 180 << false;
        QTest::newRow("below 5..1440") << "spnSimulateEvery"
                                       << "2" << 5 << true;
        QTest::newRow("far above 0..1440") << "spnSimulateRandom"
                                           << "123456" << 1440 << false;
        QTest::newRow("in range") << "spnSimulateEvery"
                                  << "77" << 77 << true;
    }

    void typedValuesAreClamped()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(int, expected);
        QFETCH(bool, byEnter);
        TfrmMain window(m_dir.path() + QLatin1Char('/'));
        window.setMessageSink([](TfrmMain::MessageKind, const QString &text) {
            QFAIL(qPrintable(QStringLiteral("unexpected message: ") + text));
        });
        QVERIFY(window.FormCreate());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *spin = window.findChild<QSpinBox *>(field);
        QVERIFY(spin);
        QVERIFY(qobject_cast<ClampSpinBox *>(spin));
        auto *edit = spin->findChild<QLineEdit *>();
        QVERIFY(edit);
        spin->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), typed); // nothing typed was refused
        if (byEnter) {
            QTest::keyClick(edit, Qt::Key_Return);
        } else {
            window.btnExit->setFocus(); // editing finishes when the field loses focus
            QTRY_VERIFY(!spin->hasFocus());
        }
        QCOMPARE(spin->value(), expected);
        QCOMPARE(edit->text(), QString::number(expected));
        QCOMPARE(ReadRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMain") + field),
                 QString::number(expected));
    }

    void emptiedFieldKeepsItsValue_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("byEnter"); // else by Tab
        QTest::newRow("Space, Tab") << "spnActivationDelay" << int(Qt::Key_Space) << false;
        QTest::newRow("Delete, Tab") << "spnTriggerDelay" << int(Qt::Key_Delete) << false;
        QTest::newRow("Backspace, Enter") << "spnSimulateEvery" << int(Qt::Key_Backspace) << true;
        QTest::newRow("Space, Enter") << "spnSimulateRandom" << int(Qt::Key_Space) << true;
    }

    void emptiedFieldKeepsItsValue()
    {
        QFETCH(QString, field);
        QFETCH(int, key);
        QFETCH(bool, byEnter);
        TfrmMain window(m_dir.path() + QLatin1Char('/'));
        window.setMessageSink([](TfrmMain::MessageKind, const QString &) {});
        QVERIFY(window.FormCreate());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *spin = window.findChild<QSpinBox *>(field);
        QVERIFY(spin);
        spin->setValue(42);
        const QString storedName = QStringLiteral("frmMain") + field;
        QCOMPARE(ReadRegString(StoreKeys::ResetableSettings, storedName), QStringLiteral("42"));
        auto *edit = spin->findChild<QLineEdit *>();
        spin->setFocus();
        QTRY_VERIFY(spin->hasFocus());
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key(key));
        QVERIFY(edit->text().trimmed().isEmpty());
        // Nothing else is stored while the field is empty.
        QCOMPARE(ReadRegString(StoreKeys::ResetableSettings, storedName), QStringLiteral("42"));
        if (byEnter)
            QTest::keyClick(edit, Qt::Key_Return);
        else
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(spin->value(), 42);
        QCOMPARE(edit->text(), QStringLiteral("42"));
        QCOMPARE(ReadRegString(StoreKeys::ResetableSettings, storedName), QStringLiteral("42"));
    }

    void lettersAreStillRefused()
    {
        ClampSpinBox spin;
        spin.setRange(0, 100);
        QString text = QStringLiteral("12a");
        int pos = 3;
        QCOMPARE(static_cast<QAbstractSpinBox &>(spin).validate(text, pos), QValidator::Invalid);
    }
};

TARVO_TEST_MAIN(TestNumberFields)
#include "tst_numberfields.moc"
