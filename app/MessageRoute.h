#pragma once
// Where a message of the window goes. A modal box only answers what the
// user just did by hand; one that came up during start-up, a resume, while
// the alarm is on or with the window hidden would hold up the window, the
// resume or the alarm until somebody clicks it.

enum class MessageRoute
{
    Modal,  // a box the user answers
    Notice, // report line while the alarm is on, desktop notification, non-modal box
};

// startupDone: the window's first activation (and any resume) is over;
// alarmOn: the alarm switch is on (arming, armed, or a stored armed state
// being resumed); windowShown: the window is on screen.
MessageRoute RouteMessage(bool startupDone, bool alarmOn, bool windowShown);
