#pragma once

#include <QMap>

class MidiMap;
class QKeyEvent;

// The computer keyboard as a one-octave piano over the MIDI map: the home
// row A S D F G H J K (the places of these letters on a US layout) plays the white keys from the map's root key up, W E
// T Y U above it the black keys between them (A is the root key, K the
// octave above). A key bound to a ball's NoteOn sounds it while held, like a
// MIDI key (a NoteOn with a fixed velocity, a NoteOff when released); a key
// bound to anything else (a toggle too) sends that event when pressed. Autorepeat never
// plays again, and releaseAll() stops what is held (the view lost focus).
//
// GUI thread; requests go through the engine's GUI ring.
class KeyboardPlayer
{
public:
    static constexpr float VELOCITY = 0.8f;

    // Semitones above the root key that a key plays, -1 for none.
    static int offsetOf(const QKeyEvent* event);

    // True when the event is one of the playing keys (also an autorepeat,
    // which does nothing): the caller accepts it.
    bool press(const QKeyEvent* event);
    bool release(const QKeyEvent* event);
    void releaseAll();

    // The map the keys play; null leaves the keyboard silent.
    static const MidiMap* map();

private:
    static void send(int note, bool down);

    QMap<int, int> mHeld; // Qt key -> the MIDI key it pressed (released in key order)
};
