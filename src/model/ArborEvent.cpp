#include "ArborEvent.h"

ArborEvent::ArborEvent()
    : mType(static_cast<Type>(-1))
    , mValue(0.0f)
{
}

ArborEvent::ArborEvent(Type type, float value)
    : mType(type)
    , mValue(value)
{
}

ArborEvent::ArborEvent(const ArborEvent& other) = default;
ArborEvent& ArborEvent::operator=(const ArborEvent& other) = default;
ArborEvent::~ArborEvent() = default;

ArborNoteEvent::ArborNoteEvent()
    : ArborEvent(NoteToggle, 1.0f)
{
}

ArborNoteEvent::ArborNoteEvent(const QString& pathString)
    : ArborEvent(NoteToggle, 1.0f)
    , mPath(pathString)
{
}

ArborNoteEvent::ArborNoteEvent(const ArborPath& path)
    : ArborEvent(NoteToggle, 1.0f)
    , mPath(path)
{
}

ArborNoteEvent::ArborNoteEvent(Type type, const ArborPath& path, float value)
    : ArborEvent(type, value)
    , mPath(path)
{
}

ArborNoteEvent::ArborNoteEvent(const ArborNoteEvent& other) = default;
ArborNoteEvent& ArborNoteEvent::operator=(const ArborNoteEvent& other) = default;
ArborNoteEvent::~ArborNoteEvent() = default;
