#include "Note.h"

#include "ArborContext.h"
#include "ArborPath.h"
#include "ArborRatio.h"
#include "NoteInterval.h"
#include "Settings.h"

#include <QDebug>

#include <cmath>

namespace
{
const char LETTERS[7] = {'C', 'D', 'E', 'F', 'G', 'A', 'B'};
const int LETTER_OFFSETS[7] = {0, 2, 4, 5, 7, 9, 11};
const char* const ACCIDENTAL_TEXTS[5] = {"bb", "b", "", "#", "##"};

// Most common spelling of each pitch class: letter index and accidental.
const int COMMON_LETTER[12] = {0, 0, 1, 2, 2, 3, 3, 4, 4, 5, 6, 6};
const int COMMON_ACCIDENTAL[12] = {0, 1, 0, -1, 0, 0, 1, 0, 1, 0, -1, 0};

int floorDiv(int a, int b)
{
    const int q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int floorMod(int a, int b)
{
    const int m = a % b;
    return m < 0 ? m + b : m;
}

bool usableSemitone(float semitone)
{
    return std::isfinite(semitone) && std::fabs(semitone) <= Note::MAX_SEMITONE;
}

// Letter index of an upper-case note letter, -1 for anything else.
int letterIndex(QChar c)
{
    for (int i = 0; i < 7; ++i)
    {
        if (c == QLatin1Char(LETTERS[i]))
            return i;
    }
    return -1;
}
} // namespace

Note::Note()
    : mNote(0)
    , mCents(0.0f)
    , mAccidental(0)
    , mOctave(0)
    , mEnharmonic(false)
{
}

Note::Note(const QString& text, int cents)
    : Note()
{
    storeFromString(text);
    mCents = float(cents);
}

Note::Note(int semitone, int cents)
    : Note()
{
    storeFromSemitone(float(semitone) + float(cents) / 100.0f, false);
}

Note::Note(float frequency)
    : Note()
{
    storeFromFreq(frequency);
}

void Note::init()
{
    mNote = 0;
    mAccidental = 0;
    mOctave = 0;
    mEnharmonic = false;
}

void Note::storeFromString(const QString& text)
{
    if (text.isEmpty())
        return;

    switch (text.at(0).toLower().unicode())
    {
    case 'c': mNote = 0; break;
    case 'd': mNote = 1; break;
    case 'e': mNote = 2; break;
    case 'f': mNote = 3; break;
    case 'g': mNote = 4; break;
    case 'a': mNote = 5; break;
    case 'b': mNote = 6; break;
    default: break;
    }

    int i = 1;
    while (i < text.size() && (text.at(i).isDigit() || text.at(i) == QLatin1Char('-')))
        ++i;
    bool ok = false;
    const int octave = text.mid(1, i - 1).toInt(&ok, 10);
    mOctave = ok ? octave : 0;

    const QString rest = text.mid(i);
    if (rest == QLatin1String("bb"))
        mAccidental = -2;
    else if (rest == QLatin1String("b"))
        mAccidental = -1;
    else if (rest == QLatin1String("#"))
        mAccidental = 1;
    else if (rest == QLatin1String("##"))
        mAccidental = 2;
    else
        mAccidental = 0;
}

bool Note::storeFromSemitone(float semitone, bool overrideSpelling)
{
    if (!usableSemitone(semitone))
    {
        qDebug() << "Note::storeFromSemitone: no note for semitone" << semitone;
        return false;
    }

    // The whole semitone moves in integers: adding 1.0f to a float just
    // below an integer can round up to the next one and lose a semitone.
    int whole = int(std::trunc(semitone));
    float cents = (semitone - std::trunc(semitone)) * 100.0f;
    if (cents > 50.5f)
    {
        ++whole;
        cents -= 100.0f;
    }
    else if (cents <= -49.5f)
    {
        --whole;
        cents += 100.0f;
    }

    // Negative semitones fall into the octave below (-1 is B-1, -12 is C-1).
    int octave = floorDiv(whole, 12);
    const int pitchClass = floorMod(whole, 12);
    int letter = COMMON_LETTER[pitchClass];
    int accidental = COMMON_ACCIDENTAL[pitchClass];

    if (overrideSpelling)
    {
        // The user's name for 1/1, e.g. "Db 4": letter, accidental or blank.
        const QString& baseNote = ArborContext::settings()->mBaseNote;
        int wantedLetter = letter;
        int wantedAccidental = accidental;
        if (!baseNote.isEmpty() && letterIndex(baseNote.at(0)) >= 0)
            wantedLetter = letterIndex(baseNote.at(0));
        if (baseNote.size() >= 2)
        {
            const QChar second = baseNote.at(1);
            if (second == QLatin1Char('b'))
                wantedAccidental = -1;
            else if (second == QLatin1Char('#'))
                wantedAccidental = 1;
            else if (second == QLatin1Char(' '))
                wantedAccidental = 0;
        }
        // Only a spelling of this very semitone is taken (an edited options
        // file may name another note than its base frequency sounds).
        const int rest = whole - LETTER_OFFSETS[wantedLetter] - wantedAccidental;
        if (floorMod(rest, 12) == 0)
        {
            letter = wantedLetter;
            accidental = wantedAccidental;
            octave = floorDiv(rest, 12);
            qDebug() << "Note::storeFromSemitone: Most common spelling overridden";
        }
        else
        {
            qDebug() << "Note::storeFromSemitone: base note" << baseNote
                     << "does not name semitone" << whole << "- most common spelling kept";
        }
    }

    mNote = letter;
    mAccidental = accidental;
    mOctave = octave;
    mCents = cents;
    return true;
}

bool Note::storeFromFreq(float hz)
{
    const Settings* settings = ArborContext::settings();
    if (!std::isfinite(hz) || hz <= 0.0f)
    {
        qDebug() << "Note::storeFromFreq: no note for frequency" << hz;
        return false;
    }
    const int calibration = settings->mCalibrationFrequency;
    if (calibration <= 0)
    {
        qDebug() << "Note::storeFromFreq: no note against calibration frequency" << calibration;
        return false;
    }
    const float semitone = 12.0f * std::log(hz / float(calibration)) / std::log(2.0f) + 57.0f;
    return storeFromSemitone(semitone, hz == settings->mBaseFrequency);
}

QChar Note::noteLetter() const
{
    if (mNote < 0 || mNote > 6)
        return QChar();
    return QLatin1Char(LETTERS[mNote]);
}

QString Note::noteSpelling() const
{
    QString text;
    const QChar letter = noteLetter();
    if (!letter.isNull())
        text += letter;
    if (mAccidental >= -2 && mAccidental <= 2)
        text += QLatin1String(ACCIDENTAL_TEXTS[mAccidental + 2]);
    text += QString::number(mOctave);
    return text;
}

float Note::toSemitonePitch() const
{
    const int offset = (mNote >= 0 && mNote <= 6) ? LETTER_OFFSETS[mNote] : 0;
    return 12.0f * float(mOctave) + float(offset) + float(mAccidental) + mCents / 100.0f;
}

float Note::toFrequency() const
{
    return 440.0f * std::pow(1.0594631f, toSemitonePitch() - 57.0f);
}

void Note::addInterval(int signedPrime)
{
    const NoteInterval interval(signedPrime);

    if (mEnharmonic)
    {
        qDebug() << "Note is already in enharmonic presentation.";
        ArborRatio step;
        if (signedPrime >= -31 && signedPrime <= 31)
            step = ArborRatio::relativeFromPath(ArborPath(static_cast<signed char>(signedPrime)));
        const float ratio = step.isNull() ? 0.0f : float(step.numerator()) / float(step.denominator());
        storeFromFreq(toFrequency() * ratio);  // refuses the 0 of a bad step
        return;
    }

    const float before = toSemitonePitch();
    if (!usableSemitone(before))
    {
        qDebug() << "Note::addInterval: note out of range, step" << signedPrime << "ignored";
        return;
    }
    const int oldSemitone = int(std::lround(before));

    const int letterSum = mNote + interval.mDirection * interval.mNumber;
    mOctave += interval.mDirection * interval.mOctaves + floorDiv(letterSum, 7);
    mNote = floorMod(letterSum, 7);

    const int newSemitone = int(std::lround(toSemitonePitch()));
    mAccidental += interval.toSemitoneDistance() - (newSemitone - oldSemitone);

    if (mAccidental < -2 || mAccidental > 2)
    {
        qDebug() << "Accidental outside of borders" << mAccidental;
        storeFromSemitone(toSemitonePitch(), false);
        mEnharmonic = true;
        qDebug() << "Accidental: Note displayed as enharmonic";
    }
}

void Note::addCents(float cents)
{
    if (!std::isfinite(cents))
    {
        qDebug() << "Note::addCents: ignoring" << cents << "cents";
        return;
    }
    const float oldCents = mCents;
    mCents += cents;
    if (mCents <= -49.5f || mCents > 50.5f)
    {
        qDebug() << "Note:addCents - breaking out of rule system @ mCents" << mCents;
        if (!storeFromSemitone(toSemitonePitch(), false))
        {
            mCents = oldCents;
            return;
        }
        mEnharmonic = true;
        qDebug() << ">50 ct -> Note displayed as enharmonic";
    }
}

void Note::makeEnharmonic()
{
    mEnharmonic = true;
}

Note Note::forSteps(const QList<int>& steps, float justFrequency, float* centsDiff)
{
    Note note(ArborContext::settings()->mBaseFrequency);
    for (int step : steps)
        note.addInterval(step);

    if (!std::isfinite(justFrequency) || justFrequency <= 0.0f)
    {
        qWarning() << "No cents for a ball without a usable frequency:" << justFrequency;
        return note;
    }
    // A just frequency that cannot be spelled (no usable calibration) counts
    // as C0, like any note that was never named.
    const float diff = (Note(justFrequency).toSemitonePitch() - note.toSemitonePitch()) * 100.0f;
    if (centsDiff)
        *centsDiff = diff;
    note.addCents(diff);
    return note;
}
