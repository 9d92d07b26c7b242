#pragma once
// What a close request does to the program. While the alarm guards (arming
// or armed), the window manager's close (the close box, Alt+F4) only hides
// the window: the program goes on guarding, with or without a tray, until
// it is started again (which shows the window) or ended through Exit. The
// first time it hides it says so once and asks the desktop to let it run in
// the background.

#include <QString>
#include <functional>

class BackgroundClose
{
public:
    struct Hooks
    {
        std::function<bool()> guarding;              // arming or armed
        std::function<void(const QString &)> notify; // one desktop notification
        std::function<void()> requestBackground;     // the desktop's background portal
    };

    static const QString NoticeText;

    explicit BackgroundClose(Hooks hooks) : m_hooks(std::move(hooks)) {}

    // One close request; exitRequested when it came from Exit (button, menu,
    // tray). True when the window is to hide instead of ending the program.
    bool hidesOnClose(bool exitRequested);

private:
    Hooks m_hooks;
    bool m_told = false;
};
