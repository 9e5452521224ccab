#pragma once

#include <vector>

// Exact pitches in the words MIDI has for them: a key (440 Hz is key 69 of
// the equal-tempered scale) moved by a 14-bit pitch bend, or a key retuned by
// a real-time single-note tuning change; and the set-up messages of a synth
// that gives every note a channel of its own (a zone with manager channel 1
// and member channels 2 to 16). Channels are counted 1..16. Pure arithmetic.
namespace MidiTuning
{
using Message = std::vector<unsigned char>;

constexpr int BEND_CENTRE = 8192;
constexpr int BEND_MAX = 16383;
constexpr int MANAGER_CHANNEL = 1;
constexpr int FIRST_MEMBER_CHANNEL = 2;
constexpr int MEMBER_CHANNELS = 15;

// A key and the bend (0..16383, 8192 none) that lift or lower it.
struct Bent
{
    int key = 0;
    int bend = BEND_CENTRE;
};

// A pitch as a tuning change says it: a key plus a fraction of a semitone in
// 1/16384 steps.
struct Tuning
{
    int semitone = 0;
    int fraction = 0;
};

// The key number of a frequency on the continuous scale (69.0 for 440 Hz).
double keyOf(double frequency);
// The key nearest to a frequency, kept within 0..127.
int nearestKey(double frequency);

// The nearest key and the bend that reaches `frequency` from it with a bend
// range of `range` semitones. False when no key and bend reach it.
bool bend(double frequency, int range, Bent& out);
// The tuning of a key that sounds `frequency`. False outside what a tuning
// change can name (below key 0, or from just under key 128 up).
bool tuning(double frequency, Tuning& out);

Message noteOn(int channel, int key, int velocity);
Message noteOff(int channel, int key);
Message pitchBend(int channel, int bend);
Message controlChange(int channel, int controller, int value);
// Retunes `key` in tuning program 0 at once, sounding notes included.
Message singleNoteTuning(int key, const Tuning& tuning);
// The zone of manager channel 1 with `members` member channels (RPN 6;
// 0 members ends the zone).
std::vector<Message> zoneConfiguration(int members);
// The bend range of `channel` as RPN 0, closed by the null RPN.
std::vector<Message> bendRange(int channel, int semitones);
} // namespace MidiTuning
