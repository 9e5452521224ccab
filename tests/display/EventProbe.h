#pragma once
// Collects the note events the ball items queue for the sound engine.
#include "PdPlayer.h"
#include <QStringList>

class EventProbe
{
public:
    EventProbe() { PdPlayer::sThis = &mPlayer; }
    ~EventProbe() { PdPlayer::sThis = nullptr; }
    // Paths of the note-toggle events queued since the last call.
    QStringList take()
    {
        QStringList out = mPlayer.mQueued;
        mPlayer.mQueued.clear();
        return out;
    }

private:
    PdPlayer mPlayer;
};
