#pragma once

#include "ArborPath.h"

#include <QString>

// A request to the sound engine: what to do and one float argument. The type
// numbers are fixed (the tag map file stores them); any other number is
// carried along and ignored by the executor.
class ArborEvent
{
public:
    enum Type : int {
        NoteToggle = 0,
        AllNotesOff = 1,
        Transpose = 2,
        VoiceVolumeChange = 3,
        VoiceVolumeSet = 4,
        MasterVolumeChange = 5,
        MasterVolumeSet = 6,
        Monophonic = 7,
        PatchStep = 8,
        BaseFrequency = 9,
        PrimeToggle = 10,
        MacroValue1 = 11,
        MacroValue2 = 12,
        MacroValue3 = 13,
        MacroValue4 = 14,
        MacroValue5 = 15,
        MacroValue6 = 16,
        MacroValue7 = 17,
        MacroValue8 = 18,
        OpenPatch = 19,
        ClosePatch = 20,
        // A key down and up: the note of the event's path sounds (again, when
        // it was releasing) with the value as its velocity 0..1, and stops.
        NoteOn = 21,
        NoteOff = 22
    };

    ArborEvent();
    ArborEvent(Type type, float value);
    ArborEvent(const ArborEvent& other);
    ArborEvent& operator=(const ArborEvent& other);
    virtual ~ArborEvent();

    Type type() const { return mType; }
    float value() const { return mValue; }

protected:
    Type mType;
    float mValue;
};

// A request about the note of one ball, addressed by its path: a toggle (the
// default), or a NoteOn/NoteOff with the velocity as its value.
class ArborNoteEvent : public ArborEvent
{
public:
    ArborNoteEvent();
    explicit ArborNoteEvent(const QString& pathString);
    explicit ArborNoteEvent(const ArborPath& path);
    ArborNoteEvent(Type type, const ArborPath& path, float value = 1.0f);
    ArborNoteEvent(const ArborNoteEvent& other);
    ArborNoteEvent& operator=(const ArborNoteEvent& other);
    ~ArborNoteEvent() override;

    const ArborPath& path() const { return mPath; }

private:
    ArborPath mPath;
};
