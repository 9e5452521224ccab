#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The equal-tempered note names from "A 0" to "A 8" (137 entries), each black
// key twice, sharp and flat: per octave C, C#, Db, D, D#, Eb, E, F, F#, Gb, G,
// G#, Ab, A, A#, Bb, B, written letter, accidental, blank, octave ("C# 4").
// Frequencies against A4 = 440 Hz, rounded to three decimals.
namespace NoteNames
{
constexpr int COUNT = 137;

QStringList names();          // ascending, "A 0" first, "A 8" last
QList<float> frequencies();   // parallel to names()
int indexOf(const QString& name);   // index in names(), -1 when not a name
// Frequency of a name of the list, 0 when it is not one.
float frequencyOf(const QString& name);
// Semitones above C 0 (A 4 is 57) of a name of the list, -1 when it is not one.
int semitoneOf(const QString& name);
}
