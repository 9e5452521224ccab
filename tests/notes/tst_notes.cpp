#include "ArborContext.h"
#include "Note.h"
#include "NoteInterval.h"
#include "NoteNames.h"
#include "Settings.h"
#include "model/ModelTestMain.h"

#include <cfloat>
#include <climits>
#include <cmath>

using namespace ModelTest;

namespace
{
const float NaN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();

// An input "#p" is the interval of the signed prime p, anything else a text.
const struct { const char* input; int direction, number, quality, distance; const char* printed; } INTERVALS[] = {
    {"#2", 1, 7, 0, 12, "p8"}, {"#3", 1, 4, 0, 7, "p5"}, {"#5", 1, 2, 0, 4, "M3"}, {"#7", 1, 6, -1, 10, "m7"},
    {"#11", 1, 3, 1, 6, "aug4"}, {"#13", 1, 5, -1, 8, "m6"}, {"#17", 1, 1, -1, 1, "m2"}, {"#19", 1, 2, -1, 3, "m3"},
    {"#23", 1, 3, 1, 6, "aug4"}, {"#29", 1, 6, -1, 10, "m7"}, {"#31", 1, 6, 0, 11, "M7"}, {"#-3", -1, 4, 0, -7, "-p5"},
    {"#-5", -1, 2, 0, -4, "-M3"}, {"#-31", -1, 6, 0, -11, "-M7"}, {"#37", 1, -1, 0, 0, "0"}, {"#-37", -1, -1, 0, 0, "-0"},
    {"#0", 1, -1, 0, 0, "0"}, {"#4", 1, -1, 0, 0, "0"}, {"#-2147483648", -1, -1, 0, 0, "-0"},
    {"dim5", 1, 4, -1, 6, "dim5"}, {"dim3", 1, 2, -2, 2, "dim3"}, {"dim7", 1, 6, -2, 9, "dim7"}, {"dim1", 1, 0, -1, -1, "dim1"},
    {"aug2", 1, 1, 1, 3, "aug2"}, {"-m6", -1, 5, -1, -8, "-m6"}, {"p1", 1, 0, 0, 0, "p1"}, {"M5", 1, 4, 0, 7, "p5"},
    {"p3", 1, 2, 0, 4, "M3"}, {"x5", 1, 4, 0, 7, "p5"}, {"M9", 1, 8, 0, 0, "9"}, {"aug9", 1, 8, 1, 1, "aug9"},
    {"", 1, -1, 0, 0, "0"}, {"m", 1, -1, 0, 0, "0"}, {"p5x", 1, -1, 0, 0, "0"}, {"p0", 1, -1, 0, 0, "0"},
    {"M13", 1, 2, 0, 4, "M3"}, {"--p5", -1, 4, 0, -7, "-p5"},
};

// Lattice steps ("3x12 -5": twelve +3, one -5) from a start note without
// cents (single steps from C4 are in BALLS below); "*": enharmonic presentation.
const struct { const char* start; const char* steps; const char* spelling; } LETTERS[] = {
    {"C4", "-2", "C3"}, {"B4", "3", "F#5"}, {"A4", "-11", "Eb4"}, {"C4", "3", "G4"}, {"C4", "-3", "F3"},
    {"C4", "3x2", "D5"}, {"C4", "3x3", "A5"}, {"C4", "3x4", "E6"}, {"C4", "3x5", "B6"}, {"C4", "3x6", "F#7"},
    {"C4", "3x7", "C#8"}, {"C4", "3x8", "G#8"}, {"C4", "3x9", "D#9"}, {"C4", "3x10", "A#9"}, {"C4", "3x11", "E#10"},
    {"C4", "3x12", "B#10"}, {"C4", "3x19", "B##14"}, {"C4", "-3x2", "Bb2"}, {"C4", "-3x3", "Eb2"}, {"C4", "-3x4", "Ab1"},
    {"C4", "-3x5", "Db1"}, {"C4", "-3x6", "Gb0"}, {"C4", "-3x7", "Cb0"}, {"C4", "-3x8", "Fb-1"}, {"C4", "-3x9", "Bbb-2"},
    {"C4", "-3x10", "Ebb-2"}, {"C4", "-3x11", "Abb-3"}, {"C4", "-3x12", "Dbb-3"}, {"C4", "-3x13", "Gbb-4"},
    {"C4", "-3x14", "Cbb-4"}, {"C4", "-3x15", "Fbb-5"}, {"C4", "5x2", "G#4"},
    {"C4", "5x3", "B#4"}, {"C4", "5x4", "D##5"},
    // A triple accidental respells from the semitone; later steps follow the frequency.
    {"C4", "-3x16", "G#-6*"}, {"C4", "-3x17", "C#-6*"}, {"C4", "3x20", "G#15*"}, {"C4", "5x5", "G#5*"},
    {"C4", "5x5 3", "Eb6*"}, {"C4", "5x5 11", "D6*"}, {"C4", "-5x5", "E2*"},
};

// A ball over the 1/1 note (sounding its frequency in the options' note table); the
// cents are 1200*log2(ratio) minus the spelled distance. "*": enharmonic presentation.
const struct { const char* baseNote; const char* steps; const char* spelling; double cents; } BALLS[] = {
    {"C 4", "", "C4", 0}, {"C 4", "3", "G4", 1.955}, {"C 4", "-3", "F3", -1.955}, {"C 4", "5", "E4", -13.686},
    {"C 4", "-5", "Ab3", 13.686}, {"C 4", "7", "Bb4", -31.174}, {"C 4", "-7", "D3", 31.174}, {"C 4", "11", "F#4", -48.682},
    {"C 4", "13", "Ab4", 40.528}, {"C 4", "17", "Db4", 4.955}, {"C 4", "19", "Eb4", -2.487}, {"C 4", "23", "F#4", 28.274},
    {"C 4", "29", "Bb4", 29.577}, {"C 4", "31", "B4", 45.036}, {"C 4", "2", "C5", 0}, {"C 4", "3x12", "B#10", 23.460},
    {"C 4", "-3x12", "Dbb-3", -23.460}, {"C 4", "-3x14", "Cbb-4", -27.370}, {"C 4", "-3x16", "G#-6*", -31.280},
    {"C 4", "3x20", "G#15*", 39.100}, {"C 4", "-2x6", "C-2", 0}, {"C 4", "3x4 -5 -2x2", "C4", 21.506}, {"A 4", "", "A4", 0},
    {"A 4", "7", "G5", -31.174}, {"Db 4", "5", "F4", -13.686}, {"C# 4", "5", "E#4", -13.686},
    // Five thirds: G#5 would be 68.431 cents too high, so G5 takes over.
    {"C 4", "5x5", "G5*", 31.569}, {"C 4", "5x5 3", "D6*", 33.524},
};

// Semitone number plus cents; beyond any pitch the note stays C0.
const struct { int semitone, cents; const char* spelling; float expected; } SEMITONES[] = {
    {57, 60, "Bb4", -40}, {57, 50, "A4", 50}, {57, 51, "Bb4", -49}, {57, -50, "G#4", 50}, {57, -49, "A4", -49},
    {0, -30, "C0", -30}, {-1, 0, "B-1", 0}, {-12, 0, "C-1", 0}, {-13, 0, "B-2", 0}, {0, -60, "B-1", 40},
    {-11, -50, "C-1", 50}, {-25, 0, "B-3", 0}, {48, 0, "C4", 0}, {61, 0, "C#5", 0}, {63, 0, "Eb5", 0},
    {66, 0, "F#5", 0}, {68, 0, "G#5", 0}, {70, 0, "Bb5", 0}, {11, 60, "C1", -40}, {1200, 0, "C100", 0},
    {48, 1250, "C5", 50}, {200000, 0, "C0", 0}, {INT_MAX, 0, "C0", 0}, {INT_MIN, 0, "C0", 0},
};

// Text read into a note that was the start note with 7 cents.
const char* const TEXTS[][3] = {
    {"G2", "C4", "C4"}, {"G2", "a4", "A4"}, {"G2", "F3#", "F#3"}, {"G2", "C#4", "C0"}, {"G2", "B-1bb", "Bbb-1"},
    {"G2", "G10##", "G##10"}, {"G2", "b4b", "Bb4"}, {"G2", "Eb", "Eb0"}, {"G2", "E", "E0"}, {"G2", "D-", "D0"},
    {"G2", "C4 ", "C4"}, {"G2", "A4x", "A4"}, {"G2", "A99999999999", "A0"}, {"E5", "x3", "E3"}, {"", "x4", "C4"},
    {"G2b", "", "Gb2"},
};

// Cents added one after the other to A4; "A4|G#4*" allows either spelling.
const struct { QList<float> additions; const char* spelling; } CENTS[] = {
    {{50.5f}, "A4"}, {{50.6f}, "Bb4*"}, {{-49.4f}, "A4"}, {{-49.5f}, "A4*|G#4*"}, {{-120.0f}, "G#4*"},
    {{30.0f, 30.0f}, "Bb4*"}, {{30.0f, -30.0f}, "A4"}, {{1200.0f}, "A5*"}, {{NaN, INF, 1e9f}, "A4"},
};

// A frequency against the base note, base frequency and calibration options;
// an empty spelling: refused, the note is left as it was.
const struct { const char* baseNote; float base; int calibration; float hz; const char* spelling; float cents; } FREQUENCIES[] = {
    {"Db 4", 277.183f, 440, 277.183f, "Db4", 0}, {"Db 4", 277.183f, 440, 277.18f, "C#4", 0},
    {"C 4", 261.626f, 440, 261.626f, "C4", 0}, {"Gb 4", 369.994f, 440, 369.994f, "Gb4", 0},
    {"A# 3", 233.082f, 440, 233.082f, "A#3", 0}, {"B# 3", 261.626f, 440, 261.626f, "B#3", 0},
    {"A", 440, 440, 440, "A4", 0}, {"B", 466.164f, 440, 466.164f, "Bb4", 0}, {"", 466.164f, 440, 466.164f, "Bb4", 0},
    {"x# 4", 277.183f, 440, 277.183f, "C#4", 0}, {"Ex4", 311.127f, 440, 311.127f, "Eb4", 0}, {"C 4", 440, 440, 440, "A4", 0},
    {"A 4", 1, 442, 442, "A4", 0}, {"A 4", 1, 442, 440, "A4", -7.851f}, {"A 4", 1, 415, 440, "Bb4", 1.270f},
    {"A 4", 440, 440, 0, "", 0}, {"A 4", 440, 440, -0.0f, "", 0}, {"A 4", 440, 440, -1, "", 0}, {"A 4", 440, 440, NaN, "", 0},
    {"A 4", 440, 440, INF, "", 0}, {"A 4", 440, 440, -INF, "", 0}, {"A 4", 440, 0, 440, "", 0}, {"A 4", 440, -440, 440, "", 0},
    {"A 4", 440, 440, std::numeric_limits<float>::denorm_min(), "", 0},   // its ratio to A4 underflows
};

// The spelling with a "*" for the enharmonic presentation.
QString spelled(const Note& note)
{
    return note.noteSpelling() + (note.mEnharmonic ? "*" : "");
}

Steps stepsOf(const QString& text)
{
    Steps steps;
    for (const QString& part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList p = part.split(QLatin1Char('x'));
        for (int i = 0; i < (p.size() > 1 ? p.at(1).toInt() : 1); ++i)
            steps << p.at(0).toInt();
    }
    return steps;
}

double ratioOfSteps(const Steps& steps)   // exact, without octave folding
{
    double r = 1.0;
    for (int step : steps) {
        const double p = std::abs(step);
        r *= std::pow(p == 2 ? 2.0 : p / std::exp2(std::floor(std::log2(p))), step > 0 ? 1 : -1);
    }
    return r;
}
} // namespace

// Intervals, spelled notes and the note-name table of the options.
class NoteTest : public QObject
{
    Q_OBJECT

    Settings mSettings;

    void setBase(const QString& baseNote, float baseFrequency, int calibration = 440)
    {
        mSettings.mBaseNote = baseNote;
        mSettings.mBaseFrequency = baseFrequency;
        mSettings.mCalibrationFrequency = calibration;
    }

private slots:
    void initTestCase() { ArborContext::setSettings(&mSettings); }
    void init() { setBase(QStringLiteral("A 4"), 440.0f); }

    void intervals_data() { tableRows(INTERVALS); }
    void intervals()
    {
        const auto& c = tableRow(INTERVALS);
        const QString input(c.input);
        NoteInterval interval = input.startsWith('#') ? NoteInterval(input.mid(1).toInt()) : NoteInterval(input);
        QCOMPARE(interval.mDirection, c.direction);
        QCOMPARE(interval.mOctaves, 0);
        QCOMPARE(interval.mNumber, c.number);
        QCOMPARE(interval.mQuality, c.quality);
        QCOMPARE(interval.toSemitoneDistance(), c.distance);
        QCOMPARE(interval.toString(), QString(c.printed));
        QCOMPARE(NoteInterval(c.printed).toSemitoneDistance(), c.distance);
        interval.mOctaves = 2;
        QCOMPARE(interval.toSemitoneDistance(), c.distance + c.direction * 24);
    }

    void letterRule_data() { tableRows(LETTERS); }
    void letterRule()
    {
        const auto& c = tableRow(LETTERS);
        Note note(c.start, 0);
        for (int step : stepsOf(c.steps))
            note.addInterval(step);
        QCOMPARE(spelled(note), QString(c.spelling));
        QVERIFY(note.mEnharmonic || note.mCents == 0.0f);   // the letters keep the equal-tempered size
    }

    void ballSpelling_data() { tableRows(BALLS); }
    void ballSpelling()
    {
        const auto& c = tableRow(BALLS);
        const float base = NoteNames::frequencyOf(c.baseNote);
        setBase(c.baseNote, base);
        const float just = float(double(base) * ratioOfSteps(stepsOf(c.steps)));
        float centsDiff = NaN;
        const Note note = Note::forSteps(stepsOf(c.steps), just, &centsDiff);
        QCOMPARE(spelled(note), QString(c.spelling));
        QVERIFY2(std::fabs(note.mCents - c.cents) < 0.01, qPrintable(QString::number(note.mCents)));
        QVERIFY(std::fabs(note.toSemitonePitch() - Note(just).toSemitonePitch()) < 1e-3f && std::isfinite(centsDiff));
    }

    void ballWithoutFrequency()
    {
        setBase(QStringLiteral("C 4"), 261.626f);
        for (float hz : {0.0f, -3.0f, NaN}) {
            float centsDiff = 7.0f;
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^No cents for a ball without a usable frequency")));
            QCOMPARE(spelled(Note::forSteps(Steps{5}, hz, &centsDiff)), QString("E4"));
            QCOMPARE(centsDiff, 7.0f);
        }
        mSettings.mCalibrationFrequency = 0;   // nothing can be spelled: no crash
        QVERIFY(std::isfinite(Note::forSteps(Steps{5}, 327.0f).toSemitonePitch()));
    }

    void fromSemitone_data() { tableRows(SEMITONES); }
    void fromSemitone()
    {
        const auto& c = tableRow(SEMITONES);
        const Note note(c.semitone, c.cents);
        QCOMPARE(spelled(note), QString(c.spelling));
        QVERIFY2(std::fabs(note.mCents - c.expected) < 0.01f, qPrintable(QString::number(note.mCents)));
    }

    void fromString_data() { tableRows(TEXTS); }
    void fromString()
    {
        const auto& c = tableRow(TEXTS);
        Note note(c[0], 7);
        note.storeFromString(c[1]);
        QCOMPARE(note.noteSpelling(), QString(c[2]));
        QCOMPARE(note.mCents, 7.0f);
    }

    void spellingOutOfRange()
    {
        Note note;
        note.mAccidental = 5;   // contributes nothing
        QCOMPARE(note.noteSpelling(), QString("C0"));
        note.mNote = 9;
        QVERIFY(note.noteLetter().isNull() && note.noteSpelling() == "0");
    }

    void addCents_data() { tableRows(CENTS); }
    void addCents()
    {
        const auto& c = tableRow(CENTS);
        Note note(57, 0);
        float expectedPitch = 57.0f;
        for (float cents : c.additions) {
            note.addCents(cents);
            expectedPitch += std::isfinite(cents) && std::fabs(cents) < 1e6f ? cents / 100.0f : 0.0f;
        }
        QVERIFY2(QString(c.spelling).split('|').contains(spelled(note)), qPrintable(spelled(note)));
        QVERIFY(std::fabs(note.toSemitonePitch() - expectedPitch) < 1e-4f);
        QVERIFY(note.mCents > -49.5f - 1e-3f && note.mCents <= 50.5f + 1e-3f);
    }

    void frequencies_data() { tableRows(FREQUENCIES); }
    void frequencies()
    {
        const auto& c = tableRow(FREQUENCIES);
        setBase(c.baseNote, c.base, c.calibration);
        Note note(QStringLiteral("E5b"), 12);
        const bool refused = !*c.spelling;
        if (refused)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Note::store\\w+: no note"));
        QCOMPARE(note.storeFromFreq(c.hz), !refused);
        QCOMPARE(note.noteSpelling(), QString(refused ? "Eb5" : c.spelling));
        QVERIFY2(std::fabs(note.mCents - (refused ? 12.0f : c.cents)) < 0.05f, qPrintable(QString::number(note.mCents)));
    }

    void extremeFrequencies()
    {
        for (float hz : {FLT_MAX, FLT_MIN, 1.0f, 100000.0f}) {
            Note note(hz);
            QVERIFY(std::fabs(note.toSemitonePitch() - float(12.0 * std::log2(double(hz) / 440.0) + 57.0)) < 0.01f);
            note.addInterval(3);
            note.addCents(-60.0f);
            QVERIFY(std::isfinite(note.toSemitonePitch()) && note.mAccidental >= -2 && note.mAccidental <= 2);
        }
    }

    // Once enharmonic a note follows the frequency; a step that is no prime
    // has no ratio and leaves it as it is.
    void enharmonicFollowsFrequency()
    {
        Note note(QStringLiteral("D5"), 0);
        note.makeEnharmonic();
        note.addInterval(3);
        QVERIFY(note.noteSpelling() == "A5" && std::fabs(note.mCents - 1.955f) < 0.01f);
        for (int step : {4, 0, 37, -1000, INT_MIN}) {
            note.addInterval(step);
            QCOMPARE(note.noteSpelling(), QString("A5"));
        }
    }

    // Names "A 0" .. "A 8" ascending; every name read as a note sounds its
    // frequency, and that frequency spells back to the same semitone.
    void noteNames()
    {
        const QStringList names = NoteNames::names();
        const QList<float> frequencies = NoteNames::frequencies();
        QCOMPARE(names.size(), NoteNames::COUNT);
        QCOMPARE(frequencies.size(), NoteNames::COUNT);
        const struct { const char* name; int index; float hz; } rows[] = {
            {"A 0", 0, 27.5f}, {"A# 0", 1, 29.135f}, {"B 0", 3, 30.868f}, {"C 1", 4, 32.703f}, {"C 4", 55, 261.626f},
            {"C# 4", 56, 277.183f}, {"Db 4", 57, 277.183f}, {"A 4", 68, 440.0f}, {"C 8", 123, 4186.009f},
            {"Ab 8", 135, 6644.875f}, {"A 8", 136, 7040.0f}, {"H 4", -1, 0.0f}, {"A4", -1, 0.0f},
        };
        for (const auto& r : rows) {
            QCOMPARE(NoteNames::indexOf(r.name), r.index);
            QCOMPARE(NoteNames::frequencyOf(r.name), r.hz);
        }
        for (int i = 0; i < names.size(); ++i) {
            const QStringList parts = names.at(i).split(' ');   // "C# 4" is read as "C4#"
            const Note named(parts.at(0).left(1) + parts.at(1) + parts.at(0).mid(1), 0);
            const float hz = frequencies.at(i);
            QVERIFY2(std::fabs(named.toFrequency() - hz) < 0.0005f * hz + 0.001f, qPrintable(names.at(i)));
            QVERIFY2(std::fabs(Note(hz).toSemitonePitch() - named.toSemitonePitch()) < 0.001f, qPrintable(names.at(i)));
            QVERIFY(i == 0 || frequencies.at(i) >= frequencies.at(i - 1));
        }
    }
};

ARBOR_MODEL_TEST_MAIN(NoteTest)
#include "tst_notes.moc"
