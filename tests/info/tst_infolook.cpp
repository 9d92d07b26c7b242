// The about and welcome windows under a dark colour scheme: every text on
// their white ground and coloured bars stays readable; the welcome text
// wraps as a paragraph.

#include "common/Contrast.h"
#include "common/TestMain.h"

#include "info/fmAbout.h"
#include "info/fmThanx.h"
#include "settings/StoreKeys.h"

#include <QTextLayout>

class TestInfoLook : public QObject
{
    Q_OBJECT

    static void checkLabels(QWidget *window, int atLeast)
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QImage image = window->grab().toImage();
        int checked = 0;
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->text().isEmpty())
                continue;
            const auto painted = tarvo::test::paintedContrast(image, window, label);
            QVERIFY2(painted.ratio >= MinimumTextContrast,
                     qPrintable(QStringLiteral("%1 \"%2\": %3 on %4, contrast %5")
                                    .arg(label->objectName(), label->text().left(30),
                                         painted.text.name(), painted.background.name())
                                    .arg(painted.ratio, 0, 'f', 2)));
            ++checked;
        }
        QVERIFY2(checked >= atLeast, qPrintable(QString::number(checked)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setPalette(tarvo::test::darkPalette());
    }

    void contrastRatioFollowsTheDefinition_data()
    {
        QTest::addColumn<QColor>("a");
        QTest::addColumn<QColor>("b");
        QTest::addColumn<double>("ratio");
        QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
        QTest::newRow("same") << QColor(10, 120, 200) << QColor(10, 120, 200) << 1.0;
        QTest::newRow("grey 118 on white") << QColor(118, 118, 118) << QColor(Qt::white) << 4.54;
        QTest::newRow("order does not matter") << QColor(Qt::white) << QColor(0, 0, 255) << 8.59;
    }

    void contrastRatioFollowsTheDefinition()
    {
        QFETCH(QColor, a);
        QFETCH(QColor, b);
        QFETCH(double, ratio);
        QVERIFY2(qAbs(ContrastRatio(a, b) - ratio) < 0.01,
                 qPrintable(QString::number(ContrastRatio(a, b))));
    }

    void aboutWindowIsReadable()
    {
        TfrmAbout about;
        checkLabels(&about, 5);
    }

    void welcomeWindowIsReadable()
    {
        TfrmThanx welcome(StoreKeys::Settings, StoreKeys::MsgThanx, QStringLiteral("Tarvo2"));
        checkLabels(&welcome, 3);
    }

    void welcomeTextWrapsAsAParagraph()
    {
        TfrmThanx welcome(StoreKeys::Settings, StoreKeys::MsgThanx, QStringLiteral("Tarvo2"));
        welcome.show();
        QVERIFY(QTest::qWaitForWindowExposed(&welcome));
        auto *label = welcome.findChild<QLabel *>(QStringLiteral("lbl2"));
        QVERIFY(label);
        QVERIFY(label->text().startsWith(
            QStringLiteral("We encourage You to visit our web site for more VEKOR products, We,")));
        QVERIFY(label->text().endsWith(
            QStringLiteral("concerns.\n\n\nWith regards, VEKOR programmers")));
        // Lay the paragraphs out at the label's width: no line holds a lone word.
        for (const QString &paragraph : label->text().split(QLatin1Char('\n'))) {
            if (paragraph.isEmpty())
                continue;
            QTextLayout layout(paragraph, label->font());
            layout.beginLayout();
            QStringList lines;
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                line.setLineWidth(label->contentsRect().width());
                lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
            }
            layout.endLayout();
            if (lines.size() < 2)
                continue;
            for (const QString &line : std::as_const(lines))
                QVERIFY2(line.contains(QLatin1Char(' ')), qPrintable(lines.join(QLatin1Char('|'))));
        }
    }
};

TARVO_TEST_MAIN(TestInfoLook)
#include "tst_infolook.moc"
