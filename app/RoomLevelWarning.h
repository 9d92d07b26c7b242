#pragma once
// The line under the microphone's settings that says, while disarmed, that
// the room is already as loud as the trigger: armed now, the alarm would go
// off by itself. It follows the guard's microphone on its own.

#include <QElapsedTimer>
#include <QLabel>

class Guard;

class RoomLevelWarning : public QLabel
{
    Q_OBJECT
public:
    explicit RoomLevelWarning(Guard &guard, QWidget *parent = nullptr);

private:
    void CheckRoomLevel();

    Guard &m_guard;
    QElapsedTimer m_tooLoud;
};
