#pragma once
// Keys typed into the program's own windows: the activity monitor is told
// of each, so that the owner's keys at rest are not taken for someone
// else's (while armed the monitor counts them all the same). Keys typed
// into a notice are not the owner's: a notice can come up while armed, and
// whoever answers it is at the desk.

class ActivityMonitor;
class QObject;

void WatchOwnKeys(ActivityMonitor &monitor, QObject *owner);
