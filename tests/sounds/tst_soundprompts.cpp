// The sound library's message boxes: one look per kind of message, with
// the caption that kind carries.

#include "common/TestMain.h"

#include "sounds/SoundPrompts.h"

#include <QMessageBox>
#include <QTimer>

class TestSoundPrompts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void boxesHaveTheirKindsLook_data()
    {
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::newRow("plain") << false << "Tarvo2" << int(QMessageBox::NoIcon);
        QTest::newRow("error") << true << "Error" << int(QMessageBox::Critical);
    }

    void boxesHaveTheirKindsLook()
    {
        QFETCH(bool, error);
        QFETCH(QString, title);
        QFETCH(int, icon);
        QString seenTitle;
        QString seenText;
        int seenIcon = -1;
        int buttons = 0;
        // The box is modal: look at it and close it from the event loop.
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seenTitle = box->windowTitle();
            seenText = box->text();
            seenIcon = int(box->icon());
            buttons = int(box->buttons().size());
            box->accept();
        });
        poll.start(20);
        SoundPrompts prompts;
        const QString text = QStringLiteral("Error Add Sound.");
        if (error)
            prompts.error(nullptr, text);
        else
            prompts.information(nullptr, text);
        QCOMPARE(seenTitle, title);
        QCOMPARE(seenText, text);
        QCOMPARE(seenIcon, icon);
        QCOMPARE(buttons, 1);
    }
};

TARVO_TEST_MAIN(TestSoundPrompts)
#include "tst_soundprompts.moc"
