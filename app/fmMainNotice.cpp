// Messages that nobody asked for: start-up and store failures, a resume
// that cannot promise to come back, an armed alarm with nothing to play.
// None of them may hold up the window, a resume or an alarm.

#include "app/MessageRoute.h"
#include "app/fmMain.h"
#include "settings/gRegistry.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

namespace {

const QLatin1String NoticeName("noticeBox");

// The sound library's boxes take the window's road, so a store failure
// while the list is filled at start-up becomes a notice too.
class RoutedSoundPrompts : public SoundPrompts
{
public:
    using Route = std::function<void(TfrmMain::MessageKind, const QString &)>;
    explicit RoutedSoundPrompts(Route route) : m_route(std::move(route)) {}
    void information(QWidget *, const QString &text) override
    {
        m_route(TfrmMain::MessageKind::Plain, text);
    }
    void error(QWidget *, const QString &text) override
    {
        m_route(TfrmMain::MessageKind::Error, text);
    }

private:
    Route m_route;
};

} // namespace

void TfrmMain::wireNotices()
{
    m_soundPrompts = std::make_unique<RoutedSoundPrompts>(
        [this](MessageKind kind, const QString &text) { showMessage(kind, text); });
    m_sounds->setPrompts(m_soundPrompts.get());
}

void TfrmMain::tellStoreNotices()
{
    for (const QString &text : TakeRegistryNotices())
        showMessage(MessageKind::Plain, text);
}

void TfrmMain::showFatalMessage(const QString &text)
{
    if (m_messageSink)
        m_messageSink(MessageKind::Error, text);
    else
        QMessageBox::critical(nullptr, QStringLiteral("Error"), text);
}

void TfrmMain::showMessage(MessageKind kind, const QString &text)
{
    if (RouteMessage(m_startupDone, m_guard.alarm().isOn(AlarmControl::Switch::Alarm), isVisible()) ==
        MessageRoute::Notice) {
        m_guard.tellFault(text);
        return;
    }
    if (m_messageSink) {
        m_messageSink(kind, text);
        return;
    }
    if (kind == MessageKind::Error)
        QMessageBox::critical(this, QStringLiteral("Error"), text);
    else
        QMessageBox(QMessageBox::NoIcon, QStringLiteral("Tarvo2"), text, QMessageBox::Ok, this)
            .exec();
}

void TfrmMain::showNotice(const QString &text)
{
    // Never modal: a notice must not hold up anything (above all the resume
    // of a stored armed state at start-up).
    if (m_messageSink) {
        m_messageSink(MessageKind::Notice, text);
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Tarvo2"), text,
                                QMessageBox::Ok, isVisible() ? this : nullptr);
    box->setObjectName(NoticeName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Nor may it take the keyboard: keys typed elsewhere must still be seen.
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

bool TfrmMain::isNotice(const QWidget *window)
{
    return window && window->objectName() == NoticeName;
}

void TfrmMain::closeNotices()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (isNotice(window))
            window->close();
}
