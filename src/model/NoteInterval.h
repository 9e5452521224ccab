#pragma once

#include <QString>

// The musical interval of one lattice step along a prime, in quality-and-number
// notation ("p5", "M3", "m7", "aug4", "-M3" for a step down). Note::addInterval
// uses the degree to move a letter and the semitone distance to fix the
// accidental.
class NoteInterval
{
public:
    NoteInterval();
    explicit NoteInterval(const QString& text);
    explicit NoteInterval(int signedPrime);

    void init();

    // Text such as "-aug4": optional '-', quality ("dim", "m", "M", "p",
    // "aug"), one-digit number 1..9. An unknown quality leaves mQuality as it
    // is; a missing or non-digit number gives degree -1.
    void storeFromString(const QString& text);
    // The interval of one step along |signedPrime|, downward for a negative
    // prime; a prime outside the lattice's table gives an empty interval.
    void storeFromPrime(int signedPrime);

    QString toString() const;
    int toSemitoneDistance() const;

    // Text of the upward interval for a prime of the lattice ("" otherwise).
    static QString primeIntervalText(int prime);
    // Unison, fourth, fifth and octave (0-based degrees 0, 3, 4, 7).
    static bool isPerfectClass(int number);

    int mDirection;   // +1 up, -1 down
    int mOctaves;     // whole octaves on top; 0 for text and prime intervals
    int mNumber;      // 0-based degree: 0 unison ... 7 octave
    int mQuality;     // -2, -1, 0, +1 against the major or perfect interval
};
