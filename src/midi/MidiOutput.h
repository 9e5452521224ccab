#pragma once

#include "ArborRatio.h"
#include "MidiPort.h"
#include "MidiTuning.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <bitset>
#include <cstdint>

// "Arbor out": every note the engine sounds, sent to any MIDI synth at the
// exact frequency the engine plays it. Two ways to say a frequency:
// - Mpe: every note on a member channel of its own (2..16) with a pitch bend
//   sent before its note-on; the zone and the bend range (RPN 0 on every
//   member channel) are announced at start, on a change of mode or range,
//   and whenever the port connects to a device.
// - TuningStandard: a real-time single-note tuning change retunes a key
//   that is not sounding (the nearest one free), then the note plays on
//   channel 1. Going back to Mpe gives the retuned keys their equal-tempered
//   pitch again.
// Fed by the engine's noteToggled on the GUI thread (never on the audio
// thread). Changing the 1/1 leaves sounding notes as they are, as the engine
// does. Notes no key can reach are skipped with a debug line.
class MidiOutput : public QObject
{
    Q_OBJECT

public:
    enum Mode { Mpe, TuningStandard };
    static constexpr int VELOCITY = 100;
    static constexpr int MAX_BEND_RANGE = 96;
    // How long a new connection, or the last messages before closing, are
    // given to reach the device (a few periods of the port system).
    static constexpr int SETTLE_MS = 100;

    explicit MidiOutput(QObject* parent = nullptr);
    ~MidiOutput() override;

    // Opens "Arbor out" (connected to `device` when it is listed) and
    // announces the mode. False, with a log line, when no port opened.
    bool init(const QString& api, const QString& device, Mode mode, int bendRange, float baseFrequency);
    // Note-offs for everything sounding, then closes the port (after a
    // moment for them to leave).
    void term();

    // Both send note-offs for the sounding notes, announce the new set-up
    // and send the notes again. The range is kept within 1..96 semitones.
    void setMode(Mode mode);
    void setBendRange(int semitones);
    Mode mode() const { return mMode; }
    int bendRange() const { return mBendRange; }

    MidiPort& port() { return mPort; }

    // The mode an option names: "mts" the tuning standard, anything else MPE.
    static Mode modeFromOption(const QString& option);

public slots:
    void onNoteToggled(ArborRatio ratio, bool on);
    void onBaseFrequencyChanged(float frequency);

private:
    struct Note
    {
        ArborRatio mRatio;
        int mChannel = 1;
        int mKey = 0;
        int mBend = MidiTuning::BEND_CENTRE;
    };

    void start(const ArborRatio& ratio);
    bool startBent(Note& note, double frequency);
    bool startTuned(Note& note, double frequency);
    void stop(int index);
    void stopAll();
    // Stops the notes on the synth, announces the mode and range, then
    // sends every note the engine sounds again (also those the old set-up
    // could not reach or had to stop).
    void restart();
    void announce();
    // A member channel without notes, the one used longest ago; -1 if none.
    int freeChannel() const;
    // A channel whose notes all have `bend` and none is on `key`; -1 if none.
    int sharedChannel(int key, int bend) const;
    // The free key nearest to `key`; -1 if every key sounds.
    int freeKey(int key) const;
    int indexOf(const ArborRatio& ratio) const;
    void send(const MidiTuning::Message& message);

    MidiPort mPort;
    QTimer mSettle;
    Mode mMode = Mpe;
    int mBendRange = 2;
    float mBaseFrequency = 440.0f;
    QVector<ArborRatio> mSounding; // what the engine sounds, oldest first
    QVector<Note> mNotes; // what of it sounds on the synth, oldest first
    std::uint64_t mLastUse[17] = {}; // by channel: when a note last started or stopped on it
    std::uint64_t mClock = 0;
    std::bitset<128> mRetuned; // keys a tuning change moved
};
