#pragma once

#include <QChar>
#include <QList>
#include <QString>

// A pitch spelled as a musician writes it: letter, accidental (double flat to
// double sharp), octave and a deviation in cents. Semitone numbers count from
// C0 = 0 (A4 = 57, C4 = 48). Spelling follows lattice intervals (addInterval);
// when that would need a triple accidental or the cents leave their window the
// note falls back to the most common spelling of its semitone and stays in
// enharmonic presentation from then on.
class Note
{
public:
    Note();                                     // C0, 0 cents
    Note(const QString& text, int cents);       // text as in storeFromString
    Note(int semitone, int cents);
    explicit Note(float frequency);

    void init();  // C0 natural, not enharmonic; the cents stay

    // Letter, octave, accidental: "C4", "F3#", "B-1bb". An unknown letter
    // leaves mNote as it is; the empty text changes nothing.
    void storeFromString(const QString& text);
    // Most common spelling of a (fractional) semitone number, cents in
    // (-49.5, 50.5]. With overrideSpelling the letter and accidental come from
    // the baseNote option when it names the same pitch. Returns false and
    // leaves the note unchanged for a semitone that is not finite or beyond
    // any audible range.
    bool storeFromSemitone(float semitone, bool overrideSpelling);
    // Spelled against the calibration frequency (A4); the 1/1 frequency itself
    // is named as the baseNote option says. Returns false and leaves the note
    // unchanged for a frequency or calibration that is not finite and positive.
    bool storeFromFreq(float hz);

    QChar noteLetter() const;        // null for a letter index outside 0..6
    QString noteSpelling() const;    // "C#4", "Bb3", "Ebb5", "B-1"
    float toSemitonePitch() const;
    float toFrequency() const;       // against a fixed A4 = 440 Hz

    // One lattice step along a signed prime (negative: down).
    void addInterval(int signedPrime);
    void addCents(float cents);
    void makeEnharmonic();

    // The spelling of a lattice ball: the 1/1 note (baseFrequency option),
    // moved by each step in order (the transposition steps followed by the
    // ball's path), then corrected by the cents between it and the ball's
    // exact frequency. An unusable justFrequency skips the correction (with a
    // warning); otherwise the correction is stored in *centsDiff when given.
    static Note forSteps(const QList<int>& steps, float justFrequency, float* centsDiff = nullptr);

    // Semitone numbers beyond this are refused (about 8000 octaves).
    static constexpr float MAX_SEMITONE = 100000.0f;

    int mNote;          // 0 C, 1 D, 2 E, 3 F, 4 G, 5 A, 6 B
    float mCents;
    int mAccidental;    // -2 .. +2
    int mOctave;        // C4 is middle C
    bool mEnharmonic;
};
