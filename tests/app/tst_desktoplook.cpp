// The main window on a desktop: its text stays readable under a dark colour
// scheme, screen readers get a name for every control and the LEDs' state,
// the menu bar has mnemonics, and the focus stands out on the blue bars.

#include "common/Contrast.h"
#include "common/TestMain.h"

#include "app/LedShape.h"
#include "app/fmMain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>

class TestDesktopLook : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TfrmMain> m_window;

    static QString accessibleName(QObject *object)
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
        return iface ? iface->text(QAccessible::Name) : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setStyle(QStringLiteral("Fusion")); // a style that uses the palette
        QApplication::setPalette(tarvo::test::darkPalette());
        m_window = std::make_unique<TfrmMain>(m_dir.path() + QLatin1Char('/'));
        m_window->setMessageSink([](TfrmMain::MessageKind, const QString &) {});
        QVERIFY(m_window->FormCreate());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanupTestCase() { m_window.reset(); }

    void textIsReadableUnderADarkScheme()
    {
        const QImage image = m_window->grab().toImage();
        int checked = 0;
        for (QLabel *label : m_window->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->text().isEmpty())
                continue;
            const auto painted = tarvo::test::paintedContrast(image, m_window.get(), label);
            QVERIFY2(painted.ratio >= MinimumTextContrast,
                     qPrintable(QStringLiteral("%1 \"%2\": %3 on %4, contrast %5")
                                    .arg(label->objectName(), label->text().left(30),
                                         painted.text.name(), painted.background.name())
                                    .arg(painted.ratio, 0, 'f', 2)));
            ++checked;
        }
        QVERIFY2(checked >= 20, qPrintable(QString::number(checked)));
    }

    void everyControlHasAName_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::newRow("slider") << "trkMicTriggerVolume"
                                << "Microphone Trigger Volume Detection";
        QTest::newRow("slider 2") << "trkAlarmVolume"
                                  << "Alarm Volume";
        QTest::newRow("slider 3") << "trkPersistenceRandom"
                                  << "Alarm Duration + Random";
        QTest::newRow("spin") << "spnTriggerDelay"
                              << "Trigger Delay (seconds)";
        QTest::newRow("spin 2") << "spnSimulateEvery"
                                << "Alarm Simulation (every X minutes)";
        QTest::newRow("gauge") << "ggDetection"
                               << "Microphone Trigger Volume Detection level";
        QTest::newRow("gauge 2") << "ggDuration"
                                 << "Microphone Trigger Length Detection level";
        QTest::newRow("sound list") << "chklbSounds"
                                    << "Alarm Sounds";
        QTest::newRow("LED") << "shpLedSimulation"
                             << "Alarm simulation LED";
    }

    void everyControlHasAName()
    {
        QFETCH(QString, control);
        QFETCH(QString, name);
        QObject *widget = m_window->findChild<QWidget *>(control);
        QVERIFY(widget);
        QCOMPARE(accessibleName(widget), name);
    }

    void noControlIsNameless()
    {
        QList<QWidget *> controls;
        for (auto *w : m_window->findChildren<QAbstractSlider *>())
            controls << w;
        for (auto *w : m_window->findChildren<QAbstractSpinBox *>())
            controls << w;
        for (auto *w : m_window->findChildren<QProgressBar *>())
            controls << w;
        for (auto *w : m_window->findChildren<QListWidget *>())
            controls << w;
        for (auto *w : m_window->findChildren<QAbstractButton *>())
            controls << w;
        for (auto *w : m_window->findChildren<LedShape *>())
            controls << w;
        QVERIFY(controls.size() > 30);
        for (QWidget *w : std::as_const(controls)) {
            if (w->isVisibleTo(m_window.get()))
                QVERIFY2(!accessibleName(w).isEmpty(), qPrintable(w->objectName()));
        }
    }

    void focusStandsOutOnTheBarsInTheDark()
    {
        int tried = 0;
        const QStringList unseen = tarvo::test::unseenFocus(m_window.get(), &tried);
        QVERIFY2(unseen.isEmpty(), qPrintable(unseen.join(QStringLiteral(", "))));
        QVERIFY(tried >= 1);
    }

    void ledsTellTheirState()
    {
        LedShape *led = m_window->shpLedTriggerDelay;
        led->setLit(false);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(led);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::Indicator);
        QCOMPARE(iface->text(QAccessible::Description), QStringLiteral("off"));
        QVERIFY(!iface->state().checked);
        led->setLit(true);
        QCOMPARE(iface->text(QAccessible::Description), QStringLiteral("on"));
        QVERIFY(iface->state().checked);
        led->setLit(false);
        QCOMPARE(iface->text(QAccessible::Description), QStringLiteral("off"));
    }

    void menusHaveMnemonics()
    {
        // The menu bar's own items (other parts add theirs with their own).
        const QStringList own = {
            "mnuResetSettingToDefault", "Exit2",  "Programhelp1",      "FAQ1", "Homepage1",
            "Checkforupdate1",          "About2", "MoreVEKORproducts1"};
        int seen = 0;
        QStringList titles;
        for (QAction *menuAction : m_window->menuBar()->actions()) {
            titles << menuAction->text();
            QMenu *menu = menuAction->menu();
            QVERIFY(menu);
            QSet<QChar> letters;
            for (QAction *item : menu->actions()) {
                if (item->isSeparator() || !own.contains(item->objectName()))
                    continue;
                ++seen;
                const QString text = item->text();
                const qsizetype amp = text.indexOf(QLatin1Char('&'));
                QVERIFY2(amp >= 0 && amp + 1 < text.size(), qPrintable(text));
                const QChar letter = text.at(amp + 1).toLower();
                QVERIFY2(!letters.contains(letter), qPrintable(text));
                letters.insert(letter);
            }
        }
        QCOMPARE(seen, own.size());
        QCOMPARE(titles, QStringList({"&Options", "&Help", "&More"}));
        // The visible captions stay as they were.
        QCOMPARE(m_window->mnuResetSettingToDefault->iconText(),
                 QStringLiteral("Reset Settings to Default"));
        QCOMPARE(QString(m_window->Exit2->text()).remove(QLatin1Char('&')), QStringLiteral("Exit"));
    }
};

TARVO_TEST_MAIN(TestDesktopLook)
#include "tst_desktoplook.moc"
