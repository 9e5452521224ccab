#include "MidiTuning.h"

#include <algorithm>
#include <cmath>

namespace MidiTuning
{
namespace
{
constexpr double A4_FREQUENCY = 440.0;
constexpr int A4_KEY = 69;
constexpr int FRACTION_STEPS = 16384;

unsigned char status(int kind, int channel)
{
    return static_cast<unsigned char>(kind | ((channel - 1) & 0x0f));
}

unsigned char data(int value)
{
    return static_cast<unsigned char>(value & 0x7f);
}

// RPN `number` (MSB 0) set to `value` on `channel`.
std::vector<Message> rpn(int channel, int number, int value)
{
    return {controlChange(channel, 101, 0), controlChange(channel, 100, number), controlChange(channel, 6, value)};
}
} // namespace

double keyOf(double frequency)
{
    return A4_KEY + 12.0 * std::log2(frequency / A4_FREQUENCY);
}

int nearestKey(double frequency)
{
    const double key = std::round(keyOf(frequency));
    return key < 0.0 ? 0 : key > 127.0 ? 127 : int(key);
}

bool bend(double frequency, int range, Bent& out)
{
    if (!(frequency > 0.0) || !std::isfinite(frequency) || range < 1)
        return false;
    const int key = nearestKey(frequency);
    const double value = std::round((keyOf(frequency) - key) / range * BEND_CENTRE) + BEND_CENTRE;
    if (value < 0.0 || value > BEND_MAX)
        return false;
    out.key = key;
    out.bend = int(value);
    return true;
}

bool tuning(double frequency, Tuning& out)
{
    if (!(frequency > 0.0) || !std::isfinite(frequency))
        return false;
    const double key = keyOf(frequency);
    double semitone = std::floor(key);
    double fraction = std::round((key - semitone) * FRACTION_STEPS);
    if (fraction >= FRACTION_STEPS) {
        semitone += 1.0;
        fraction = 0.0;
    }
    // 127 with the highest fraction means "no change".
    if (semitone < 0.0 || semitone > 127.0 || (semitone == 127.0 && fraction == FRACTION_STEPS - 1))
        return false;
    out.semitone = int(semitone);
    out.fraction = int(fraction);
    return true;
}

Message noteOn(int channel, int key, int velocity)
{
    return {status(0x90, channel), data(key), data(velocity)};
}

Message noteOff(int channel, int key)
{
    return {status(0x80, channel), data(key), 0};
}

Message pitchBend(int channel, int bend)
{
    return {status(0xe0, channel), data(bend), data(bend >> 7)};
}

Message controlChange(int channel, int controller, int value)
{
    return {status(0xb0, channel), data(controller), data(value)};
}

Message singleNoteTuning(int key, const Tuning& tuning)
{
    // Universal real-time, all devices, tuning standard, single-note change:
    // program 0, one change.
    return {0xf0, 0x7f, 0x7f, 0x08, 0x02, 0x00, 0x01, data(key), data(tuning.semitone),
            data(tuning.fraction >> 7), data(tuning.fraction), 0xf7};
}

std::vector<Message> zoneConfiguration(int members)
{
    return rpn(MANAGER_CHANNEL, 6, members);
}

std::vector<Message> bendRange(int channel, int semitones)
{
    std::vector<Message> out = rpn(channel, 0, semitones);
    out.push_back(controlChange(channel, 38, 0));
    out.push_back(controlChange(channel, 101, 127));
    out.push_back(controlChange(channel, 100, 127));
    return out;
}
} // namespace MidiTuning
