// Each receiver field is checked for its service's shape before it is kept:
// what the service could never take is refused with a word, what it can take
// passes, an empty optional field passes, and all empty is alerts off.

#include "common/TestMain.h"

#include "alerts/AlertFieldCheck.h"

using Field = AlertFieldCheck::Field;
Q_DECLARE_METATYPE(Field)

class TestAlertFieldCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fields_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Field>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("problem"); // a part of it; empty: usable
        auto row = [](const char *name, const char *kind, Field field, const char *value,
                      const char *problem) {
            QTest::newRow(name) << QString::fromLatin1(kind) << field << QString::fromUtf8(value)
                                << QString::fromUtf8(problem);
        };
        row("not a url", "ntfy", Field::Url, "not a url", "not an http:// or https://");
        row("no host", "webhook", Field::Url, "https:///hook", "with a host");
        row("ntfy without topic", "ntfy", Field::Url, "https://ntfy.sh/", "names no topic");
        row("no scheme: https", "ntfy", Field::Url, "ntfy.sh/desk-topic", "");
        row("nothing set: alerts off", "slack", Field::Url, "", "");
        row("mail url scheme", "email", Field::Url, "https://mail.example.org",
            "smtp:// or smtps://");
        row("mail url", "email", Field::Url, "smtps://mail.example.org:465", "");
        row("bot token shape", "telegram", Field::Token, "abcdef", "a colon");
        row("bot token", "telegram", Field::Token, "123456:AAH-x_9", "");
        row("pushover token", "pushover", Field::Token, "short", "30 letters");
        row("gotify token missing", "gotify", Field::Token, "", "token is missing");
        row("token with space", "matrix", Field::Token, "syt abc", "space");
        row("room id", "matrix", Field::To, "general", "!room:server");
        row("room id shape", "matrix", Field::To, "!abc:matrix.example.org", "");
        row("chat id", "telegram", Field::To, "my chat", "number or an @channel");
        row("mail to", "email", Field::To, "me@example.org; not-an-address",
            "not-an-address is not an e-mail address");
        row("mail to two", "email", Field::To, "me@example.org, you@example.org", "");
        row("mail from named", "email", Field::From, "Desk <desk@example.org>", "");
        row("mail from", "email", Field::From, "desk@", "is not an e-mail address");
    }
    void fields()
    {
        QFETCH(QString, kind);
        QFETCH(Field, field);
        QFETCH(QString, value);
        QFETCH(QString, problem);
        AlertConfig config; // a URL beside the field checked, so alerts are on
        config.kind = AlertConfig::KindFromName(kind);
        config.url = QStringLiteral("https://receiver.example/topic");
        QString *values[] = {&config.url, &config.token, &config.to, &config.user, &config.from};
        *values[static_cast<int>(field)] = value;
        const QString found = AlertFieldCheck::problem(config, field);
        if (problem.isEmpty())
            QVERIFY2(found.isEmpty(), qPrintable(found));
        else
            QVERIFY2(found.contains(problem), qPrintable(found));
    }
};

TARVO_TEST_MAIN(TestAlertFieldCheck)
#include "tst_alertfieldcheck.moc"
