#pragma once

#include "ArborRatio.h"

#include <QByteArray>
#include <QList>
#include <QString>

class Arbor;

// Writes a tuning as a Scala scale (.scl) and keyboard mapping (.kbm): the
// pitches of a set of balls relative to the current 1/1, octave-reduced into
// (1/1, 2/1], each named in a comment by the lattice paths it comes from. The
// mapping puts degree 0 on the key nearest to the transposed 1/1 and gives
// that key the 1/1's exact frequency.
namespace ScalaTuning
{
// One note to export: its ratio to the current 1/1 and where it came from.
struct Note
{
    ArborRatio::Rational ratio;
    QString path;
};

// The notes sounding now, or every ball of the lattice.
QList<Note> chordNotes(const Arbor& arbor);
QList<Note> latticeNotes(const Arbor& arbor);

// Number of degrees of the scale of `notes` (2/1 included).
int degreeCount(const QList<Note>& notes);
QByteArray scl(const QString& fileName, const QString& description, const QList<Note>& notes);
// `frequency` is the 1/1's in Hz; its key is the nearest to it for A4 = `calibration` Hz.
QByteArray kbm(const QString& fileName, int degrees, double frequency, int calibration);

// Writes `sclPath` and the mapping beside it (same name, ".kbm"), each
// atomically. False with a readable reason in `error` when one fails.
bool exportTuning(const Arbor& arbor, bool wholeLattice, const QString& sclPath, QString* error);
}
