// The window used from the keyboard: a focus that shows on the glyph
// buttons, a Tab order that follows the screen and reaches Exit, mnemonics
// on every Options item without clashes, and the Alerts form's labels that
// take the focus to their fields. Every window: a letter of its own for
// each button and field label, a name for screen readers on every control,
// a focus that stands out on the blue bars, captions whole and in the
// desktop's font from 9 to 16 pt.

#include "common/TestMain.h"

#include "WindowTest.h"
#include "app/dlgCalibrate.h"
#include "app/fmAlerts.h"
#include "app/fmEvidence.h"
#include "app/fmProtection.h"
#include "common/Contrast.h"
#include "guard/ReachServices.h"
#include "info/fmAbout.h"
#include "info/fmThanx.h"
#include "report/fmReport.h"
#include "settings/StoreKeys.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QToolButton>

class TestKeyboardUse : public tarvo::test::WindowTest
{
    Q_OBJECT

    std::unique_ptr<TfrmMain> m_window;
    QFont m_font; // the desktop's, as the test began

    // The widgets Tab visits from the first one, in order, once round.
    QStringList tabChain()
    {
        QStringList names;
        QWidget *start = QApplication::focusWidget();
        for (int i = 0; i < 200; ++i) {
            QWidget *focus = QApplication::focusWidget();
            if (!focus || (i > 0 && focus == start))
                break;
            names << focus->objectName();
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        return names;
    }
    static QChar mnemonic(const QString &text)
    {
        const qsizetype amp = text.indexOf(QLatin1Char('&'));
        return amp >= 0 && amp + 1 < text.size() ? text.at(amp + 1).toLower() : QChar();
    }

    // The named window, opened over the main one (null: the main one).
    std::unique_ptr<QDialog> openWindow(const QString &name)
    {
        std::unique_ptr<QDialog> dialog;
        if (name.startsWith(QLatin1String("alerts"))) { // "alerts <kind>"; alone, e-mail
            auto alerts = std::make_unique<TfrmAlerts>(m_window->reach()->sender, m_window.get());
            alerts->cmbKind->setCurrentText(name.size() > 6 ? name.mid(7) : "email"); // every field
            dialog = std::move(alerts);
        } else if (name == QLatin1String("evidence")) {
            dialog = std::make_unique<TfrmEvidence>(m_window->evidence(), m_window.get());
        } else if (name == QLatin1String("protection")) {
            dialog = std::make_unique<TfrmProtection>(m_window->protection(), m_window.get());
        } else if (name == QLatin1String("pin")) {
            dialog = std::make_unique<TfrmPinAsk>(m_window.get());
        } else if (name == QLatin1String("about")) {
            dialog = std::make_unique<TfrmAbout>(m_window.get());
        } else if (name == QLatin1String("welcome")) {
            dialog = std::make_unique<TfrmThanx>(StoreKeys::Settings, StoreKeys::MsgThanx,
                                                 QStringLiteral("Tarvo2"), m_window.get());
        } else if (name == QLatin1String("calibrate")) {
            dialog = std::make_unique<dlgCalibrate>(m_window->guard().engine(), 50, m_window.get());
        } else if (name == QLatin1String("report")) {
            dialog = std::make_unique<TfrmReport>(m_window.get());
        }
        QWidget *shown = dialog ? static_cast<QWidget *>(dialog.get()) : m_window.get();
        shown->show();
        if (!QTest::qWaitForWindowExposed(shown))
            qWarning("%s was not shown", qPrintable(name));
        return dialog;
    }
    static void windowRows()
    {
        QTest::addColumn<QString>("window");
        for (const char *name : {"main", "alerts", "evidence", "protection", "pin", "about"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

private Q_SLOTS:
    void initTestCase() { m_font = QApplication::font(); }
    void init()
    {
        startFresh();
        // A sound in the list, as in real use.
        QDir().mkpath(workingDirectory() + QStringLiteral("Sounds"));
        QFile sound(workingDirectory() + QStringLiteral("Sounds/a.wav"));
        QVERIFY(sound.open(QIODevice::WriteOnly));
        sound.close();
        m_window = makeWindow();
        QVERIFY(m_window);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    void cleanup()
    {
        m_window.reset();
        QApplication::setFont(m_font);
    }

    // Buttons and field labels take letters of their own (a glyph button
    // Alt and a letter), the menu bar's stay free; every control that takes
    // the focus has a name for screen readers.
    void keysAndNamesInEveryWindow_data() { windowRows(); }
    void keysAndNamesInEveryWindow()
    {
        QFETCH(QString, window);
        const auto dialog = openWindow(window);
        QWidget *shown = dialog ? static_cast<QWidget *>(dialog.get()) : m_window.get();
        QSet<QChar> letters;
        for (QAction *title : dialog ? QList<QAction *>() : m_window->menuBar()->actions())
            letters.insert(mnemonic(title->text()));
        for (QWidget *widget : shown->findChildren<QWidget *>()) {
            if (widget->isVisibleTo(shown) && (widget->focusPolicy() & Qt::TabFocus) &&
                !widget->focusProxy()) {
                QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
                QVERIFY2(control && !control->text(QAccessible::Name).trimmed().isEmpty(),
                         qPrintable(widget->objectName()));
            }
            auto *label = qobject_cast<QLabel *>(widget);
            auto *tool = qobject_cast<QToolButton *>(widget);
            auto *button = qobject_cast<QAbstractButton *>(widget);
            QString caption = label && label->buddy() ? label->text()
                              : button && !tool       ? button->text()
                                                      : QString();
            if (tool && tool->defaultAction()) {
                const QString keys = tool->defaultAction()->shortcut().toString();
                QVERIFY2(!keys.isEmpty(), qPrintable(tool->objectName()));
                if (keys.startsWith(QLatin1String("Alt+")) && keys.size() == 5)
                    caption = QLatin1Char('&') + keys.right(1);
            }
            if (caption.isEmpty())
                continue;
            const QChar letter = mnemonic(caption);
            // OK and Cancel are also pressed by Enter and Escape.
            auto *box = qobject_cast<QDialogButtonBox *>(widget->parentWidget());
            if (letter.isNull() && box && box->buttonRole(button) != QDialogButtonBox::ActionRole)
                continue;
            QVERIFY2(!letter.isNull() && !letters.contains(letter),
                     qPrintable(widget->objectName() + QStringLiteral(": ") + caption));
            letters.insert(letter);
        }
    }

    void focusStandsOutOnTheBars_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("main") << QStringLiteral("main");
        QTest::newRow("about") << QStringLiteral("about");
    }
    void focusStandsOutOnTheBars()
    {
        QFETCH(QString, window);
        const auto dialog = openWindow(window);
        int tried = 0;
        const QStringList unseen = tarvo::test::unseenFocus(
            dialog ? static_cast<QWidget *>(dialog.get()) : m_window.get(), &tried);
        QVERIFY2(unseen.isEmpty(), qPrintable(unseen.join(QStringLiteral(", "))));
        QVERIFY(tried >= 1);
    }

    // Every text in the desktop's font (smaller or larger by a share of it),
    // whole inside its widget and inside what holds the widget.
    void captionsStayWhole_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<int>("points");
        QStringList windows = {"main",      "evidence", "protection", "pin",
                               "calibrate", "welcome",  "about",      "report"};
        for (AlertConfig::Kind kind : AlertConfig::Kinds)
            windows << QStringLiteral("alerts ") + AlertConfig::KindName(kind);
        for (const QString &name : std::as_const(windows))
            for (int points : {9, 14, 16})
                QTest::addRow("%s at %d pt", qPrintable(name), points) << name << points;
    }
    void captionsStayWhole()
    {
        QFETCH(QString, window);
        QFETCH(int, points);
        QFont font = QApplication::font();
        font.setPointSize(points);
        QApplication::setFont(font); // the desktop's font, before the windows open
        m_window.reset();
        m_window = makeWindow();
        QVERIFY(m_window);
        const auto dialog = openWindow(window);
        QWidget *shown = dialog ? static_cast<QWidget *>(dialog.get()) : m_window.get();
        int checked = 0;
        QStringList cut;
        for (QWidget *widget : shown->findChildren<QWidget *>()) {
            auto *label = qobject_cast<QLabel *>(widget);
            auto *button = qobject_cast<QAbstractButton *>(widget);
            const QString text = QString(label    ? label->text()
                                         : button ? button->text()
                                                  : "")
                                     .remove(QLatin1Char('&'));
            if (!widget->isVisible() || text.isEmpty() || qobject_cast<QToolButton *>(widget) ||
                (label && label->textFormat() == Qt::RichText))
                continue;
            QRect room = widget->contentsRect();
            if (button) {
                QStyleOptionButton option;
                option.initFrom(button);
                room = widget->style()->subElementRect(qobject_cast<QCheckBox *>(widget)
                                                           ? QStyle::SE_CheckBoxContents
                                                           : QStyle::SE_PushButtonContents,
                                                       &option, widget);
            }
            const int flags = label && label->wordWrap() ? Qt::TextWordWrap : 0;
            const QSize needed = widget->fontMetrics().boundingRect(room, flags, text).size();
            // Clipped by the window's frame or the panel it sits on, not scrolled away.
            QRect inside = widget->rect();
            for (QWidget *w = widget;
                 !w->isWindow() && w->parentWidget()->objectName() != "qt_scrollarea_viewport";
                 w = w->parentWidget())
                inside = inside.translated(w->pos()) & w->parentWidget()->rect();
            const qreal share = widget->font().pointSizeF() / points;
            if (needed.boundedTo(room.size()) != needed || inside.size() != widget->size() ||
                share < 0.75 || share > 2)
                cut << widget->objectName() + ": " + text.left(20);
            ++checked;
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
        QVERIFY(checked >= 3);
    }

    void glyphButtonsShowTheirFocus_data()
    {
        QTest::addColumn<QString>("button");
        for (const char *name :
             {"btnKeyDetect", "btnMicDetect", "btnSimulation", "btnReport", "btnAddSound"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void glyphButtonsShowTheirFocus()
    {
        QFETCH(QString, button);
        auto *glyph = m_window->findChild<QToolButton *>(button);
        QVERIFY(glyph);
        m_window->btnExit->setFocus();
        QTRY_VERIFY(m_window->btnExit->hasFocus());
        const QImage before = glyph->grab().toImage();
        glyph->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(glyph->hasFocus());
        const QImage after = glyph->grab().toImage();
        QCOMPARE(after.size(), before.size());
        int changed = 0;
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x)
                changed += after.pixel(x, y) != before.pixel(x, y);
        const double share = double(changed) / (after.width() * after.height());
        QVERIFY2(share >= 0.12, qPrintable(QStringLiteral("%1 % changed").arg(share * 100)));
    }

    void tabFollowsTheScreenAndReachesExit()
    {
        // From where the focus is when the window opens.
        QTRY_VERIFY(QApplication::focusWidget());
        const QStringList chain = tabChain();
        // (Arming is not possible here, so its button takes no focus.)
        // (Nor do the detectors that cannot watch on this machine.)
        QStringList topBar = {QStringLiteral("btnKeyDetect")};
        for (QToolButton *sensor :
             {m_window->btnCamDetect, m_window->btnUsbDetect, m_window->btnNetDetect})
            if (sensor->isEnabled())
                topBar << sensor->objectName();
        topBar << QStringLiteral("btnMicDetect") << QStringLiteral("btnMouDetect")
               << QStringLiteral("btnSimulation") << QStringLiteral("btnReport");
        QVERIFY(!m_window->btnActivate->isEnabled());
        QVERIFY2(chain.mid(0, topBar.size()) == topBar, qPrintable(chain.join(QLatin1Char(' '))));
        // Exit is the last stop on the screen, so the last one before going round.
        QVERIFY2(chain.last() == QStringLiteral("btnExit"),
                 qPrintable(chain.join(QLatin1Char(' '))));
        QVERIFY(chain.contains(QStringLiteral("chklbSounds")));
        QVERIFY(chain.indexOf(QStringLiteral("trkMicTriggerVolume")) <
                chain.indexOf(QStringLiteral("trkAlarmVolume")));
    }

    void optionsItemsHaveTheirOwnMnemonics()
    {
        auto *options = m_window->menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"));
        QVERIFY(options);
        QSet<QChar> letters;
        QStringList seen;
        for (QAction *item : options->actions()) {
            if (item->isSeparator())
                continue;
            const QChar letter = mnemonic(item->text());
            QVERIFY2(!letter.isNull(), qPrintable(item->text()));
            QVERIFY2(!letters.contains(letter), qPrintable(item->text()));
            letters.insert(letter);
            seen << item->objectName();
        }
        for (const char *name : {"mnuDisarmProtection", "mnuAlerts", "mnuCalibrateMicrophone",
                                 "ActLidToggle", "ActPowerToggle", "Exit2"})
            QVERIFY2(seen.contains(QString::fromLatin1(name)), name);
        // The captions read as before.
        auto *lid = m_window->findChild<QAction *>(QStringLiteral("ActLidToggle"));
        QVERIFY(lid);
        QCOMPARE(QString(lid->text()).remove(QLatin1Char('&')),
                 QStringLiteral("Alarm when the lid closes"));
        QCOMPARE(mnemonic(lid->text()), QLatin1Char('l'));
        QCOMPARE(m_window->mnuResetSettingToDefault->iconText(),
                 QStringLiteral("Reset Settings to Default"));
    }

    void alertsLabelsLeadToTheirFields()
    {
        TfrmAlerts dialog(m_window->reach()->sender, m_window.get());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto *form = dialog.findChild<QFormLayout *>();
        QVERIFY(form);
        QSet<QChar> letters;
        for (int row = 0; row < form->rowCount(); ++row) {
            const QLayoutItem *labelItem = form->itemAt(row, QFormLayout::LabelRole);
            if (!labelItem)
                continue; // a row of explanation across the form
            auto *label = qobject_cast<QLabel *>(labelItem->widget());
            QVERIFY(label);
            QCOMPARE(label->buddy(), form->itemAt(row, QFormLayout::FieldRole)->widget());
            const QChar letter = mnemonic(label->text());
            QVERIFY2(!letter.isNull() && !letters.contains(letter), qPrintable(label->text()));
            letters.insert(letter);
        }
        dialog.edtUrl->setFocus();
        QTRY_VERIFY(dialog.edtUrl->hasFocus());
        QTest::keyClick(dialog.edtUrl, Qt::Key_T, Qt::AltModifier);
        QTRY_VERIFY(dialog.edtToken->hasFocus());
    }
};

TARVO_TEST_MAIN(TestKeyboardUse)
#include "tst_keyboarduse.moc"
