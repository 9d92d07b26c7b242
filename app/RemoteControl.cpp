#include "app/RemoteControl.h"
#include "app/SingleInstance.h"
#include "guard/GuardBus.h"
#include "guard/GuardCommands.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int AnswerMs = 5000;

// One transport: the request word and its argument in, the answer out.
using Ask = std::function<std::optional<QString>(const QString &word, const QString &argument)>;

Ask OverBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(GuardBus::ServiceName()).value())
        return {};
    return [bus](const QString &word, const QString &argument) -> std::optional<QString> {
        QDBusInterface guard(GuardBus::ServiceName(), GuardBus::ObjectPath(),
                             GuardBus::Interface(), bus);
        guard.setTimeout(AnswerMs);
        QDBusReply<QString> reply;
        if (word == QLatin1String("arm"))
            reply = guard.call(QStringLiteral("Arm"));
        else if (word == QLatin1String("disarm"))
            reply = guard.call(QStringLiteral("Disarm"), argument, false);
        else if (word == QLatin1String("disarm-ask"))
            reply = guard.call(QStringLiteral("Disarm"), QString(), true);
        else
            reply = guard.call(QStringLiteral("Status"));
        if (!reply.isValid())
            return std::nullopt;
        // The bus's Arm answers with the reason only.
        if (word == QLatin1String("arm"))
            return reply.value().isEmpty() ? QStringLiteral("armed")
                                           : QStringLiteral("refused: ") + reply.value();
        return reply.value();
    };
}

Ask OverChannel()
{
    auto instance = std::make_shared<SingleInstance>();
    return [instance](const QString &word, const QString &argument) -> std::optional<QString> {
        QByteArray request = word.toUtf8();
        if (!argument.isEmpty())
            request += ' ' + argument.toUtf8();
        const std::optional<QByteArray> reply = instance->sendCommand(request, AnswerMs);
        if (!reply || reply->isEmpty())
            return std::nullopt;
        return QString::fromUtf8(*reply);
    };
}

// The PIN from the terminal, without echo; nullopt when there is none.
std::optional<QString> ReadPinFromTerminal()
{
    if (!isatty(STDIN_FILENO))
        return std::nullopt;
    std::fputs("PIN: ", stderr);
    std::fflush(stderr);
    termios saved{};
    const bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    char buffer[256] = {};
    const bool read = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    if (!read)
        return std::nullopt;
    return QString::fromLocal8Bit(buffer).trimmed();
}

RemoteOutcome Outcome(int code, const QString &out, const QString &err = QString())
{
    return {code, out.isEmpty() ? QString() : out + QLatin1Char('\n'),
            err.isEmpty() ? QString() : QStringLiteral("tarvo2: ") + err + QLatin1Char('\n')};
}

RemoteOutcome Run(const CommandLineOutcome &request, const Ask &ask, const QString &first)
{
    using R = CommandLineOutcome::Request;
    switch (request.request) {
    case R::Arm:
        if (first == QLatin1String("armed"))
            return Outcome(0, QStringLiteral("armed"));
        return Outcome(1, QString(), QStringLiteral("not armed: ") + first.mid(first.indexOf(QLatin1Char(' ')) + 1));
    case R::Disarm: {
        QString answer = first;
        if (answer == QLatin1String(GuardCommands::PinNeeded)) {
            if (const std::optional<QString> pin = ReadPinFromTerminal())
                answer = ask(QStringLiteral("disarm"), *pin).value_or(QString());
            else
                answer = ask(QStringLiteral("disarm-ask"), QString()).value_or(QString());
        }
        if (answer == QLatin1String(GuardCommands::Disarmed) ||
            answer == QLatin1String(GuardCommands::NotArmed))
            return Outcome(0, answer);
        if (answer == QLatin1String(GuardCommands::WrongPin))
            return Outcome(1, QString(), QStringLiteral("wrong PIN; still armed"));
        if (answer == QLatin1String(GuardCommands::PinAsked))
            return Outcome(1, QString(),
                           QStringLiteral("a PIN is set: it is asked in the Tarvo2 window; "
                                          "still armed"));
        return Outcome(1, QString(), QStringLiteral("the running copy did not answer"));
    }
    case R::Status: {
        const QJsonObject status = QJsonDocument::fromJson(first.toUtf8()).object();
        const QString state = status.value(QStringLiteral("state")).toString();
        return Outcome(StatusExitCode(state), request.json ? first : state);
    }
    case R::None:
        break;
    }
    return Outcome(2, QString());
}

QString FirstWord(CommandLineOutcome::Request request)
{
    using R = CommandLineOutcome::Request;
    return request == R::Arm      ? QStringLiteral("arm")
           : request == R::Disarm ? QStringLiteral("disarm")
                                  : QStringLiteral("status");
}

} // namespace

int StatusExitCode(const QString &state)
{
    return state == QLatin1String("armed") || state == QLatin1String("alarm") ? 0 : 3;
}

std::optional<RemoteOutcome> SendRemoteRequest(const CommandLineOutcome &request)
{
    for (const Ask &ask : {OverBus(), OverChannel()}) {
        if (!ask)
            continue;
        if (const std::optional<QString> first = ask(FirstWord(request.request), QString()))
            return Run(request, ask, *first);
    }
    return std::nullopt;
}

std::optional<RemoteOutcome> NoCopyRunning(const CommandLineOutcome &request)
{
    using R = CommandLineOutcome::Request;
    if (request.request == R::Arm)
        return std::nullopt;
    if (request.request == R::Status && request.json)
        return Outcome(1, QStringLiteral("{\"state\":\"not running\"}"));
    return Outcome(1, request.request == R::Status ? QStringLiteral("not running") : QString(),
                   request.request == R::Disarm ? QStringLiteral("not running") : QString());
}
