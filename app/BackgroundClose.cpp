#include "app/BackgroundClose.h"

const QString BackgroundClose::NoticeText =
    QStringLiteral("Tarvo2 keeps guarding in the background; start it again to show the window");

bool BackgroundClose::hidesOnClose(bool exitRequested)
{
    if (exitRequested || !m_hooks.guarding || !m_hooks.guarding())
        return false;
    if (!m_told) {
        m_told = true;
        if (m_hooks.notify)
            m_hooks.notify(NoticeText);
        if (m_hooks.requestBackground)
            m_hooks.requestBackground();
    }
    return true;
}
