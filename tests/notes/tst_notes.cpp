#include "Arbor.h"
#include "ArborContext.h"
#include "Note.h"
#include "NoteInterval.h"
#include "NoteNames.h"
#include "Settings.h"
#include "model/ModelFixture.h"

#include <cfloat>
#include <cmath>

using namespace ModelTest;

namespace {
const float NaN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();

// An input "#p" is the interval of the signed prime p, anything else a text; the interval's size in
// semitones and its text form.
const struct { const char* input; int distance; const char* printed; } INTERVALS[] = {
    {"#2", 12, "p8"}, {"#3", 7, "p5"}, {"#5", 4, "M3"}, {"#7", 10, "m7"}, {"#11", 6, "aug4"}, {"#13", 8, "m6"},
    {"#17", 1, "m2"}, {"#19", 3, "m3"}, {"#23", 6, "aug4"}, {"#29", 10, "m7"}, {"#31", 11, "M7"}, {"#-5", -4, "-M3"},
    {"#37", 0, "0"}, {"#-37", 0, "-0"}, {"#0", 0, "0"}, {"#-2147483648", 0, "-0"}, {"dim5", 6, "dim5"}, {"M9", 0, "9"},
    {"dim3", 2, "dim3"}, {"dim1", -1, "dim1"}, {"M5", 7, "p5"}, {"p3", 4, "M3"}, {"x5", 7, "p5"}, {"", 0, "0"},
    {"p5x", 0, "0"}, {"M13", 4, "M3"}, {"--p5", -7, "-p5"},
};

// Lattice steps ("3x12 -5": twelve +3, one -5) from a note without cents, and the spelling after each
// step; "*" marks the enharmonic presentation: a triple accidental respells from the semitone, later
// steps follow the frequency, and a step that is no prime has no ratio then.
const struct { const char* start; const char* steps; const char* spellings; } LETTERS[] = {
    {"C4", "3x20", "G4 D5 A5 E6 B6 F#7 C#8 G#8 D#9 A#9 E#10 B#10 F##11 C##12 G##12 D##13 A##13 E##14 B##14 G#15*"},
    {"C4", "-3x17", "F3 Bb2 Eb2 Ab1 Db1 Gb0 Cb0 Fb-1 Bbb-2 Ebb-2 Abb-3 Dbb-3 Gbb-4 Cbb-4 Fbb-5 G#-6* C#-6*"},
    {"C4", "5x5 3", "E4 G#4 B#4 D##5 G#5* Eb6*"}, {"C4", "5x5 11 4 0 -1000", "E4 G#4 B#4 D##5 G#5* D6* D6* D6* D6*"},
    {"C4", "-5x5", "Ab3 Fb3 Dbb3 G#2* E2*"}, {"C4", "-2 2 2", "C3 C4 C5"}, {"B4", "3", "F#5"}, {"A4", "-11", "Eb4"},
};

// Steps of a ball over the 1/1 note (C 4 unless "Db 4: 5" names another), the 1/1 sounding its frequency
// in the options' note table. Cents are 1200*log2(ratio) minus the spelled distance.
const struct { const char* steps; const char* spelling; double cents; } BALLS[] = {
    {"", "C4", 0}, {"3", "G4", 1.955}, {"-3", "F3", -1.955}, {"5", "E4", -13.686}, {"-5", "Ab3", 13.686},
    {"7", "Bb4", -31.174}, {"-7", "D3", 31.174}, {"11", "F#4", -48.682}, {"13", "Ab4", 40.528}, {"17", "Db4", 4.955},
    {"19", "Eb4", -2.487}, {"23", "F#4", 28.274}, {"29", "Bb4", 29.577}, {"31", "B4", 45.036}, {"2", "C5", 0},
    {"3x12", "B#10", 23.460}, {"-3x12", "Dbb-3", -23.460}, {"-3x14", "Cbb-4", -27.370}, {"-3x16", "G#-6*", -31.280},
    {"3x20", "G#15*", 39.100}, {"-2x6", "C-2", 0}, {"3x4 -5 -2x2", "C4", 21.506}, {"A 4:", "A4", 0},
    {"A 4: 7", "G5", -31.174}, {"Db 4: 5", "F4", -13.686}, {"C# 4: 5", "E#4", -13.686},
    {"5x5", "G5*", 31.569}, {"5x5 3", "D6*", 33.524},   // G#5 would be 68.431 cents too high
};

// Semitone number and cents, then cents added one by one; "A4*|G#4*" allows either spelling, NaN any cents.
// Beyond any pitch the note stays C0; cents that are not finite or too far are ignored.
const struct { int semitone, cents; const char* spelling; float expected; QList<float> additions = {}; } SEMITONES[] = {
    {57, 60, "Bb4", -40}, {57, 50, "A4", 50}, {57, 51, "Bb4", -49}, {57, -50, "G#4", 50}, {57, -49, "A4", -49},
    {0, -30, "C0", -30}, {-1, 0, "B-1", 0}, {-12, 0, "C-1", 0}, {-13, 0, "B-2", 0}, {0, -60, "B-1", 40},
    {-11, -50, "C-1", 50}, {-25, 0, "B-3", 0}, {48, 0, "C4", 0}, {61, 0, "C#5", 0}, {63, 0, "Eb5", 0},
    {66, 0, "F#5", 0}, {68, 0, "G#5", 0}, {70, 0, "Bb5", 0}, {11, 60, "C1", -40}, {1200, 0, "C100", 0},
    {48, 1250, "C5", 50}, {200000, 0, "C0", 0}, {INT_MAX, 0, "C0", 0}, {INT_MIN, 0, "C0", 0},
    {57, 0, "A4", 50.5f, {50.5f}}, {57, 0, "Bb4*", -49.4f, {50.6f}}, {57, 0, "A4", -49.4f, {-49.4f}},
    {57, 0, "A4*|G#4*", NaN, {-49.5f}}, {57, 0, "G#4*", -20, {-120}}, {57, 0, "Bb4*", -40, {30, 30}},
    {57, 0, "A4", 0, {30, -30}}, {57, 0, "A5*", 0, {1200}}, {57, 0, "A4", 0, {NaN, INF, 1e9f}},
};

// Text read into a note that was the start note with 7 cents.
const char* const TEXTS[][3] = {
    {"G2", "C4", "C4"}, {"G2", "a4", "A4"}, {"G2", "F3#", "F#3"}, {"G2", "C#4", "C0"}, {"G2", "B-1bb", "Bbb-1"},
    {"G2", "G10##", "G##10"}, {"G2", "b4b", "Bb4"}, {"G2", "Eb", "Eb0"}, {"G2", "E", "E0"}, {"G2", "D-", "D0"},
    {"G2", "C4 ", "C4"}, {"G2", "A4x", "A4"}, {"G2", "A99999999999", "A0"}, {"E5", "x3", "E3"}, {"", "x4", "C4"},
    {"G2b", "", "Gb2"},
};

// A frequency spelled against the options (1/1 named "A 4" at 440 Hz, A4 at 440 Hz unless given);
// no spelling: refused, the note stays as it was.
const struct { float hz; const char* spelling = ""; float cents = 0; const char* baseNote = "A 4"; float base = 440;
    int calibration = 440; } FREQUENCIES[] = {
    {277.183f, "Db4", 0, "Db 4", 277.183f}, {277.18f, "C#4", 0, "Db 4", 277.183f}, {261.626f, "C4", 0, "C 4", 261.626f},
    {233.082f, "A#3", 0, "A# 3", 233.082f}, {261.626f, "B#3", 0, "B# 3", 261.626f}, {440, "A4", 0, "A", 440},
    {466.164f, "Bb4", 0, "B", 466.164f}, {466.164f, "Bb4", 0, "", 466.164f}, {277.183f, "C#4", 0, "x# 4", 277.183f},
    {311.127f, "Eb4", 0, "Ex4", 311.127f}, {440, "A4", 0, "C 4", 440}, {442, "A4", 0, "A 4", 1, 442},
    {440, "A4", -7.851f, "A 4", 1, 442}, {440, "Bb4", 1.270f, "A 4", 1, 415}, {FLT_MAX, "C124", -37.632f},
    {FLT_MIN, "C-130", -37.632f}, {1, "C-4", -37.632f}, {100000, "G12", -6.063f}, {0}, {-1}, {NaN}, {INF},
    {std::numeric_limits<float>::denorm_min()}, {440, "", 0, "A 4", 440, 0}, {440, "", 0, "A 4", 440, -440},
};

// The spelling with a "*" for the enharmonic presentation.
QString spelled(const Note& note) {
    return note.noteSpelling() + (note.mEnharmonic ? "*" : "");
}

Steps stepsOf(const QString& text) {
    Steps steps;
    for (const QString& part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        for (int i = 0; i < qMax(1, part.section(QLatin1Char('x'), 1).toInt()); ++i)
            steps << part.section(QLatin1Char('x'), 0, 0).toInt();
    return steps;
}
} // namespace

// Intervals, spelled notes and the note-name table of the options.
class NoteTest : public QObject {
    Q_OBJECT
    Settings mSettings;

    void setBase(const QString& baseNote, float baseFrequency, int calibration = 440) {
        mSettings.mBaseNote = baseNote;
        mSettings.mBaseFrequency = baseFrequency;
        mSettings.mCalibrationFrequency = calibration;
    }

private slots:
    void initTestCase() { ArborContext::setSettings(&mSettings); }
    void init() { setBase(QStringLiteral("A 4"), 440.0f); }

    void intervals_data() { tableRows(INTERVALS); }
    void intervals() {
        const auto& c = tableRow(INTERVALS);
        const QString input(c.input);
        NoteInterval interval = input.startsWith('#') ? NoteInterval(input.mid(1).toInt()) : NoteInterval(input);
        QCOMPARE(interval.toSemitoneDistance(), c.distance);
        QCOMPARE(interval.toString(), QString(c.printed));
        QCOMPARE(NoteInterval(c.printed).toSemitoneDistance(), c.distance);
        interval.mOctaves = 2;
        QCOMPARE(interval.toSemitoneDistance(), c.distance + (c.printed[0] == '-' ? -24 : 24));
    }

    void letterRule_data() { tableRows(LETTERS); }
    void letterRule() {
        const auto& c = tableRow(LETTERS);
        Note note(c.start, 0);
        const Steps steps = stepsOf(c.steps);
        const QStringList spellings = QString(c.spellings).split(' ');
        QCOMPARE(steps.size(), spellings.size());
        for (int i = 0; i < steps.size(); ++i) {
            note.addInterval(steps.at(i));
            QCOMPARE(spelled(note), spellings.at(i));
            QVERIFY(note.mEnharmonic || note.mCents == 0.0f);   // the letters keep the equal-tempered size
        }
    }

    void ballSpelling_data() { tableRows(BALLS); }
    void ballSpelling() {
        const QStringList parts = QString(tableRow(BALLS).steps).split(':');
        const QString baseNote = parts.size() > 1 ? parts.at(0) : QStringLiteral("C 4");
        const Steps steps = stepsOf(parts.last());
        setBase(baseNote, NoteNames::frequencyOf(baseNote));
        double just = mSettings.mBaseFrequency;   // without octave folding
        for (int step : steps)
            just *= Arbor::primeRatio(step);
        float centsDiff = NaN;
        const Note note = Note::forSteps(steps, float(just), &centsDiff);
        QCOMPARE(spelled(note), QString(tableRow(BALLS).spelling));
        QVERIFY2(std::fabs(note.mCents - tableRow(BALLS).cents) < 0.01, qPrintable(QString::number(note.mCents)));
        QVERIFY(std::fabs(note.toSemitonePitch() - Note(float(just)).toSemitonePitch()) < 1e-3f && std::isfinite(centsDiff));
    }

    void ballWithoutFrequency() {
        setBase(QStringLiteral("C 4"), 261.626f);
        for (float hz : {0.0f, -3.0f, NaN}) {
            float centsDiff = 7.0f;
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^No cents for a ball without")));
            QVERIFY(spelled(Note::forSteps(Steps{5}, hz, &centsDiff)) == "E4" && centsDiff == 7.0f);
        }
        mSettings.mCalibrationFrequency = 0;   // nothing can be spelled: no crash
        QVERIFY(std::isfinite(Note::forSteps(Steps{5}, 327.0f).toSemitonePitch()));
    }

    void fromSemitone_data() { tableRows(SEMITONES); }
    void fromSemitone() {
        const auto& c = tableRow(SEMITONES);
        Note note(c.semitone, c.cents);
        for (float cents : c.additions)
            note.addCents(cents);
        QVERIFY2(QString(c.spelling).split('|').contains(spelled(note)), qPrintable(spelled(note)));
        QVERIFY2(std::isnan(c.expected) || std::fabs(note.mCents - c.expected) < 0.01f, qPrintable(spelled(note)));
    }

    void fromString_data() { tableRows(TEXTS); }
    void fromString() {
        const auto& c = tableRow(TEXTS);
        Note note(c[0], 7);
        note.storeFromString(c[1]);
        QVERIFY(note.noteSpelling() == c[2] && note.mCents == 7.0f);
        note.mAccidental = 5;   // out of range: contributes nothing
        note.mNote = 9;         // no letter
        QVERIFY(note.noteLetter().isNull() && note.noteSpelling() == QString::number(note.mOctave));
    }

    void frequencies_data() { tableRows(FREQUENCIES); }
    void frequencies() {
        const auto& c = tableRow(FREQUENCIES);
        setBase(c.baseNote, c.base, c.calibration);
        Note note(QStringLiteral("E5b"), 12);
        const bool refused = !*c.spelling;
        if (refused)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Note::store\\w+: no note"));
        QCOMPARE(note.storeFromFreq(c.hz), !refused);
        QCOMPARE(note.noteSpelling(), QString(refused ? "Eb5" : c.spelling));
        QVERIFY2(std::fabs(note.mCents - (refused ? 12.0f : c.cents)) < 0.05f, qPrintable(spelled(note)));
        note.addInterval(3);   // further steps stay well defined
        note.addCents(-60.0f);
        QVERIFY(std::isfinite(note.toSemitonePitch()) && note.mAccidental >= -2 && note.mAccidental <= 2);
    }

    // Names "A 0" .. "A 8" ascending; every name read as a note sounds its frequency, and that
    // frequency spells back to the same semitone.
    void noteNames() {
        const QStringList names = NoteNames::names();
        const QList<float> frequencies = NoteNames::frequencies();
        QVERIFY(names.size() == NoteNames::COUNT && frequencies.size() == NoteNames::COUNT);
        const struct { const char* name; int index; float hz; } rows[] = {
            {"A 0", 0, 27.5f}, {"A# 0", 1, 29.135f}, {"C 1", 4, 32.703f}, {"C# 4", 56, 277.183f}, {"Db 4", 57, 277.183f},
            {"A 4", 68, 440}, {"C 8", 123, 4186.009f}, {"A 8", 136, 7040}, {"H 4", -1, 0}, {"A4", -1, 0},
        };
        for (const auto& r : rows)
            QVERIFY2(NoteNames::indexOf(r.name) == r.index && NoteNames::frequencyOf(r.name) == r.hz, r.name);
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

QTEST_GUILESS_MAIN(NoteTest)
#include "tst_notes.moc"
