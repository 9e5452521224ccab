#pragma once
// Collects the note events the ball items queue, in place of the sound engine.
#include "ArborBallWidget.h"
#include "ArborEvent.h"

#include <QStringList>

class EventProbe
{
public:
    EventProbe() { ArborBallWidget::setEventSink(&EventProbe::receive, this); }
    ~EventProbe() { ArborBallWidget::setEventSink(nullptr, nullptr); }

    // Paths of the note-toggle events queued since the last call.
    QStringList take()
    {
        QStringList out = mQueued;
        mQueued.clear();
        return out;
    }

private:
    static void receive(const ArborEvent* event, void* context)
    {
        auto* self = static_cast<EventProbe*>(context);
        const auto* note = dynamic_cast<const ArborNoteEvent*>(event);
        if (event->type() == ArborEvent::NoteToggle && note)
            self->mQueued << note->path().toString();
        else
            self->mQueued << QString("type %1").arg(int(event->type()));
    }

    QStringList mQueued;
};
