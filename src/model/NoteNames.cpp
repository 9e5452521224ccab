#include "NoteNames.h"

#include <cmath>

namespace
{
struct ChromaticName
{
    const char* text;
    int offset;   // semitones above C
};

const ChromaticName OCTAVE[17] = {
    {"C", 0},  {"C#", 1}, {"Db", 1}, {"D", 2},  {"D#", 3},  {"Eb", 3},
    {"E", 4},  {"F", 5},  {"F#", 6}, {"Gb", 6}, {"G", 7},   {"G#", 8},
    {"Ab", 8}, {"A", 9},  {"A#", 10}, {"Bb", 10}, {"B", 11}};

const int A4_SEMITONE = 57;
const int FIRST_SEMITONE = 9;    // A 0
const int LAST_SEMITONE = 105;   // A 8

struct Table
{
    QStringList names;
    QList<float> frequencies;
    QList<int> semitones;

    Table()
    {
        for (int octave = 0; octave <= 8; ++octave)
        {
            for (const ChromaticName& n : OCTAVE)
            {
                const int semitone = 12 * octave + n.offset;
                if (semitone < FIRST_SEMITONE || semitone > LAST_SEMITONE)
                    continue;
                names << QStringLiteral("%1 %2").arg(QLatin1String(n.text)).arg(octave);
                semitones << semitone;
                const double hz = 440.0 * std::pow(2.0, double(semitone - A4_SEMITONE) / 12.0);
                frequencies << float(std::round(hz * 1000.0) / 1000.0);
            }
        }
    }
};

const Table& table()
{
    static const Table t;
    return t;
}
} // namespace

QStringList NoteNames::names()
{
    return table().names;
}

QList<float> NoteNames::frequencies()
{
    return table().frequencies;
}

int NoteNames::indexOf(const QString& name)
{
    return table().names.indexOf(name);
}

float NoteNames::frequencyOf(const QString& name)
{
    const int i = indexOf(name);
    return i < 0 ? 0.0f : table().frequencies.at(i);
}

int NoteNames::semitoneOf(const QString& name)
{
    const int i = indexOf(name);
    return i < 0 ? -1 : table().semitones.at(i);
}
