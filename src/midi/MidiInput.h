#pragma once

#include "MidiParser.h"
#include "MidiPort.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <vector>

class ArborEvent;
class MidiMap;
class PdPlayer;

// Plays the engine from "Arbor in": the keys, controllers and program
// changes that arrive are looked up in the MIDI map and queued into the
// engine's MIDI ring, on RtMidi's own thread (the ring's one producer).
//
// - A key bound to a path with NoteOn sounds its ball while held, with the
//   velocity as volume; a key bound to any other event (a NoteToggle of a
//   path included) queues it when pressed.
// - The sustain pedal (controller 64, down from 64) holds released keys
//   until it rises, unless the map binds controller 64 to something else.
// - Bound controllers queue their event with the controller's value 0..1;
//   a bound program change steps the patch up when the number rose (or on
//   the first one) and down when it fell, or queues its event with
//   program/127.
// - Keys count across all channels.
//
// Nothing on RtMidi's thread allocates or locks. A flood cannot lose a key
// release: key presses, controllers and program changes are dropped while
// the ring is nearly full, so the releases of the keys this input holds
// always fit. Dropped messages are counted and logged at most once a second.
class MidiInput : public QObject
{
    Q_OBJECT

public:
    // Ring chunks kept free for key releases (at most 128 are owed).
    static constexpr int RESERVE = 256;
    static constexpr int REPORT_MS = 1000;

    explicit MidiInput(PdPlayer& engine, QObject* parent = nullptr);
    ~MidiInput() override;

    // Opens "Arbor in" on `api` ("auto", "alsa", "jack"), connected to
    // `device` unless it is empty. `map` may be null (only the pedal works
    // then) and must outlive the input. False, with a log line, when no port
    // could be opened.
    bool init(const QString& api, const QString& device, const MidiMap* map);
    // Closes the port (no callback runs once this returns) and releases the
    // notes this input still holds.
    void term();

    MidiPort& port() { return mPort; }

private:
    static void onMessage(double timeStamp, std::vector<unsigned char>* message, void* self);
    void handle(const MidiMessage& message);
    void keyDown(int key, int velocity);
    void keyUp(int key);
    // Queues the key's NoteOff unless another held key sounds the same ball.
    void release(int key);
    void pedal(bool down);
    void controller(int number, int value);
    void program(int number);
    // Room for one more message besides the owed releases; counts a drop.
    bool admit();
    void queue(const ArborEvent& event);
    // Chunks queued that the engine may not have taken yet.
    int pending();
    void reportDropped();

    PdPlayer& mEngine;
    MidiPort mPort;
    const MidiMap* mMap = nullptr;
    QTimer mReport;

    // RtMidi's thread only (and init/term while no callback runs).
    MidiParser mParser;
    bool mSounding[128] = {}; // NoteOn queued, NoteOff owed
    bool mSustained[128] = {}; // released while the pedal is down
    bool mPedal = false;
    int mLastProgram = -1;
    // The engine drains the ring whole at the start of each block: what was
    // queued while it counted block b is gone once it begins block b + 2.
    std::uint64_t mBlock = 0;
    int mQueuedNow = 0;    // since the engine began block mBlock
    int mQueuedBefore = 0; // while it counted mBlock - 1

    std::atomic<std::uint32_t> mDropped {0};
};
