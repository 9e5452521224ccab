#include "ArborContext.h"
#include "Note.h"
#include "NoteNames.h"
#include "Settings.h"

#include <QtTest>

#include <cmath>
#include <climits>
#include <limits>

Q_DECLARE_METATYPE(QList<int>)

namespace
{
// Exact frequency ratio of a list of prime steps (no octave folding).
double ratioOfSteps(const QList<int>& steps)
{
    double r = 1.0;
    for (int step : steps)
    {
        const int p = std::abs(step);
        const double folded = p == 2 ? 2.0 : double(p) / std::exp2(std::floor(std::log2(double(p))));
        r = step > 0 ? r * folded : r / folded;
    }
    return r;
}

QList<int> repeated(int step, int count)
{
    QList<int> steps;
    for (int i = 0; i < count; ++i)
        steps << step;
    return steps;
}

// "C# 4" (options form) to "C4#" (the form Note reads).
QString readableForm(const QString& name)
{
    const QStringList parts = name.split(QLatin1Char(' '));
    return parts.at(0).left(1) + parts.at(1) + parts.at(0).mid(1);
}
} // namespace

class NoteTest : public QObject
{
    Q_OBJECT

private:
    Settings mSettings;

    void setBase(const QString& baseNote, float baseFrequency, int calibration = 440)
    {
        mSettings.mBaseNote = baseNote;
        mSettings.mBaseFrequency = baseFrequency;
        mSettings.mCalibrationFrequency = calibration;
    }

private slots:
    void initTestCase()
    {
        ArborContext::setSettings(&mSettings);
    }

    void cleanupTestCase()
    {
        ArborContext::setSettings(nullptr);
    }

    void init()
    {
        setBase(QStringLiteral("A 4"), 440.0f);
    }

    // The letter rule alone, from a note without cents.
    void letterRule_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<QString>("spelling");
        QTest::addColumn<bool>("enharmonic");

        QTest::newRow("C4 +3") << "C4" << QList<int>{3} << "G4" << false;
        QTest::newRow("C4 +5") << "C4" << QList<int>{5} << "E4" << false;
        QTest::newRow("C4 +7") << "C4" << QList<int>{7} << "Bb4" << false;
        QTest::newRow("C4 +11") << "C4" << QList<int>{11} << "F#4" << false;
        QTest::newRow("C4 +13") << "C4" << QList<int>{13} << "Ab4" << false;
        QTest::newRow("C4 +17") << "C4" << QList<int>{17} << "Db4" << false;
        QTest::newRow("C4 +19") << "C4" << QList<int>{19} << "Eb4" << false;
        QTest::newRow("C4 +23") << "C4" << QList<int>{23} << "F#4" << false;
        QTest::newRow("C4 +29") << "C4" << QList<int>{29} << "Bb4" << false;
        QTest::newRow("C4 +31") << "C4" << QList<int>{31} << "B4" << false;
        QTest::newRow("C4 +2") << "C4" << QList<int>{2} << "C5" << false;
        QTest::newRow("C4 -3") << "C4" << QList<int>{-3} << "F3" << false;
        QTest::newRow("C4 -5") << "C4" << QList<int>{-5} << "Ab3" << false;
        QTest::newRow("C4 -7") << "C4" << QList<int>{-7} << "D3" << false;
        QTest::newRow("C4 -2") << "C4" << QList<int>{-2} << "C3" << false;
        QTest::newRow("B4 +3 crosses the octave") << "B4" << QList<int>{3} << "F#5" << false;
        QTest::newRow("A4 -11") << "A4" << QList<int>{-11} << "Eb4" << false;

        const char* fifthsUp[12] = {"G4", "D5", "A5", "E6", "B6", "F#7",
                                    "C#8", "G#8", "D#9", "A#9", "E#10", "B#10"};
        for (int i = 0; i < 12; ++i)
            QTest::newRow(qPrintable(QString("C4 %1 fifths up").arg(i + 1)))
                << "C4" << repeated(3, i + 1) << fifthsUp[i] << false;

        const char* fifthsDown[11] = {"F3", "Bb2", "Eb2", "Ab1", "Db1", "Gb0",
                                      "Cb0", "Fb-1", "Bbb-2", "Ebb-2", "Abb-3"};
        for (int i = 0; i < 11; ++i)
            QTest::newRow(qPrintable(QString("C4 %1 fifths down").arg(i + 1)))
                << "C4" << repeated(-3, i + 1) << fifthsDown[i] << false;
        QTest::newRow("C4 12 fifths down") << "C4" << repeated(-3, 12) << "Dbb-3" << false;
        QTest::newRow("C4 13 fifths down") << "C4" << repeated(-3, 13) << "Gbb-4" << false;
        QTest::newRow("C4 14 fifths down") << "C4" << repeated(-3, 14) << "Cbb-4" << false;
        QTest::newRow("C4 15 fifths down") << "C4" << repeated(-3, 15) << "Fbb-5" << false;
        // B triple flat: respelled from its semitone, then by frequency.
        QTest::newRow("C4 16 fifths down") << "C4" << repeated(-3, 16) << "G#-6" << true;
        QTest::newRow("C4 17 fifths down") << "C4" << repeated(-3, 17) << "C#-6" << true;
        QTest::newRow("C4 19 fifths up") << "C4" << repeated(3, 19) << "B##14" << false;
        // F triple sharp.
        QTest::newRow("C4 20 fifths up") << "C4" << repeated(3, 20) << "G#15" << true;

        QTest::newRow("C4 1 third") << "C4" << repeated(5, 1) << "E4" << false;
        QTest::newRow("C4 2 thirds") << "C4" << repeated(5, 2) << "G#4" << false;
        QTest::newRow("C4 3 thirds") << "C4" << repeated(5, 3) << "B#4" << false;
        QTest::newRow("C4 4 thirds") << "C4" << repeated(5, 4) << "D##5" << false;
        QTest::newRow("C4 5 thirds") << "C4" << repeated(5, 5) << "G#5" << true;
        // Once enharmonic, steps follow the frequency and take the table
        // spelling: G#5 times 3/2 is E flat, not D sharp.
        QTest::newRow("enharmonic then a fifth") << "C4" << (repeated(5, 5) << 3) << "Eb6" << true;
        QTest::newRow("enharmonic then 11") << "C4" << (repeated(5, 5) << 11) << "D6" << true;
        QTest::newRow("thirds down") << "C4" << repeated(-5, 5) << "E2" << true;
    }

    void letterRule()
    {
        QFETCH(QString, start);
        QFETCH(QList<int>, steps);
        QFETCH(QString, spelling);
        QFETCH(bool, enharmonic);

        Note note(start, 0);
        for (int step : steps)
            note.addInterval(step);
        QCOMPARE(note.noteSpelling(), spelling);
        QCOMPARE(note.mEnharmonic, enharmonic);
        if (!enharmonic)
        {
            // The lattice letters never change the equal-tempered size: a
            // fifth is 7 semitones, a major third 4, a 7/4 10 ...
            QCOMPARE(note.mCents, 0.0f);
        }
    }

    // The whole procedure of a card: 1/1 named by the options, steps, cents
    // against the exact frequency. Cents are 1200*log2(ratio) minus the
    // spelled note's distance in hundreds, worked out by hand.
    void ballSpelling_data()
    {
        QTest::addColumn<QString>("baseNote");
        QTest::addColumn<float>("baseFrequency");
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<QString>("spelling");
        QTest::addColumn<double>("cents");
        QTest::addColumn<bool>("enharmonic");

        const QString c4 = QStringLiteral("C 4");
        const float c4Hz = 261.626f;
        QTest::newRow("1/1 as A 4") << "A 4" << 440.0f << QList<int>{} << "A4" << 0.0 << false;
        QTest::newRow("1/1 as C 4") << c4 << c4Hz << QList<int>{} << "C4" << 0.0 << false;
        QTest::newRow("3/2") << c4 << c4Hz << QList<int>{3} << "G4" << 1.955 << false;
        QTest::newRow("2/3") << c4 << c4Hz << QList<int>{-3} << "F3" << -1.955 << false;
        QTest::newRow("5/4") << c4 << c4Hz << QList<int>{5} << "E4" << -13.686 << false;
        QTest::newRow("4/5") << c4 << c4Hz << QList<int>{-5} << "Ab3" << 13.686 << false;
        QTest::newRow("7/4") << c4 << c4Hz << QList<int>{7} << "Bb4" << -31.174 << false;
        QTest::newRow("4/7") << c4 << c4Hz << QList<int>{-7} << "D3" << 31.174 << false;
        QTest::newRow("11/8") << c4 << c4Hz << QList<int>{11} << "F#4" << -48.682 << false;
        QTest::newRow("13/8") << c4 << c4Hz << QList<int>{13} << "Ab4" << 40.528 << false;
        QTest::newRow("17/16") << c4 << c4Hz << QList<int>{17} << "Db4" << 4.955 << false;
        QTest::newRow("19/16") << c4 << c4Hz << QList<int>{19} << "Eb4" << -2.487 << false;
        QTest::newRow("23/16") << c4 << c4Hz << QList<int>{23} << "F#4" << 28.274 << false;
        QTest::newRow("29/16") << c4 << c4Hz << QList<int>{29} << "Bb4" << 29.577 << false;
        QTest::newRow("31/16") << c4 << c4Hz << QList<int>{31} << "B4" << 45.036 << false;
        QTest::newRow("2/1") << c4 << c4Hz << QList<int>{2} << "C5" << 0.0 << false;
        QTest::newRow("12 fifths up") << c4 << c4Hz << repeated(3, 12) << "B#10" << 23.460 << false;
        QTest::newRow("12 fifths down") << c4 << c4Hz << repeated(-3, 12) << "Dbb-3" << -23.460 << false;
        QTest::newRow("14 fifths down") << c4 << c4Hz << repeated(-3, 14) << "Cbb-4" << -27.370 << false;
        QTest::newRow("16 fifths down") << c4 << c4Hz << repeated(-3, 16) << "G#-6" << -31.280 << true;
        QTest::newRow("20 fifths up") << c4 << c4Hz << repeated(3, 20) << "G#15" << 39.100 << true;
        // Five thirds are 1931.569 cents: G#5 is 68.431 too high, so the
        // residue leaves the window and G5 takes over.
        QTest::newRow("5 thirds") << c4 << c4Hz << repeated(5, 5) << "G5" << 31.569 << true;
        QTest::newRow("5 thirds and a fifth") << c4 << c4Hz << (repeated(5, 5) << 3) << "D6" << 33.524 << true;
        QTest::newRow("octaves down") << c4 << c4Hz << repeated(-2, 6) << "C-2" << 0.0 << false;
        QTest::newRow("7/4 over A 4") << "A 4" << 440.0f << QList<int>{7} << "G5" << -31.174 << false;
        QTest::newRow("5/4 over Db 4") << "Db 4" << 277.183f << QList<int>{5} << "F4" << -13.686 << false;
        QTest::newRow("5/4 over C# 4") << "C# 4" << 277.183f << QList<int>{5} << "E#4" << -13.686 << false;
        QTest::newRow("comma pump") << c4 << c4Hz << QList<int>{3, 3, 3, 3, -5, -2, -2} << "C4" << 21.506 << false;
    }

    void ballSpelling()
    {
        QFETCH(QString, baseNote);
        QFETCH(float, baseFrequency);
        QFETCH(QList<int>, steps);
        QFETCH(QString, spelling);
        QFETCH(double, cents);
        QFETCH(bool, enharmonic);

        setBase(baseNote, baseFrequency);
        const float just = float(double(baseFrequency) * ratioOfSteps(steps));
        const Note note = Note::forSteps(steps, just);
        QCOMPARE(note.noteSpelling(), spelling);
        QVERIFY2(std::fabs(note.mCents - cents) < 0.01,
                 qPrintable(QString("cents %1, expected %2").arg(note.mCents).arg(cents)));
        QCOMPARE(note.mEnharmonic, enharmonic);
        QVERIFY(std::fabs(note.toSemitonePitch() - Note(just).toSemitonePitch()) < 1e-3f);
    }

    void fromSemitone_data()
    {
        QTest::addColumn<int>("semitone");
        QTest::addColumn<int>("cents");
        QTest::addColumn<QString>("spelling");
        QTest::addColumn<float>("expectedCents");

        QTest::newRow("57.6") << 57 << 60 << "Bb4" << -40.0f;
        QTest::newRow("57.5 stays") << 57 << 50 << "A4" << 50.0f;
        QTest::newRow("57.51 flips") << 57 << 51 << "Bb4" << -49.0f;
        QTest::newRow("56.5") << 57 << -50 << "G#4" << 50.0f;
        QTest::newRow("56.51") << 57 << -49 << "A4" << -49.0f;
        QTest::newRow("-0.3") << 0 << -30 << "C0" << -30.0f;
        QTest::newRow("-1") << -1 << 0 << "B-1" << 0.0f;
        QTest::newRow("-12") << -12 << 0 << "C-1" << 0.0f;
        QTest::newRow("-13") << -13 << 0 << "B-2" << 0.0f;
        QTest::newRow("-0.6") << 0 << -60 << "B-1" << 40.0f;
        QTest::newRow("-11.5") << -11 << -50 << "C-1" << 50.0f;
        QTest::newRow("-25") << -25 << 0 << "B-3" << 0.0f;
        QTest::newRow("48") << 48 << 0 << "C4" << 0.0f;
        QTest::newRow("61") << 61 << 0 << "C#5" << 0.0f;
        QTest::newRow("63") << 63 << 0 << "Eb5" << 0.0f;
        QTest::newRow("66") << 66 << 0 << "F#5" << 0.0f;
        QTest::newRow("68") << 68 << 0 << "G#5" << 0.0f;
        QTest::newRow("70") << 70 << 0 << "Bb5" << 0.0f;
        QTest::newRow("11.6") << 11 << 60 << "C1" << -40.0f;
        QTest::newRow("1200") << 1200 << 0 << "C100" << 0.0f;
        QTest::newRow("cents over octaves") << 48 << 1250 << "C5" << 50.0f;
        // Beyond any pitch: refused, the note stays C0.
        QTest::newRow("200000") << 200000 << 0 << "C0" << 0.0f;
        QTest::newRow("INT_MAX") << INT_MAX << 0 << "C0" << 0.0f;
        QTest::newRow("INT_MIN") << INT_MIN << 0 << "C0" << 0.0f;
    }

    void fromSemitone()
    {
        QFETCH(int, semitone);
        QFETCH(int, cents);
        QFETCH(QString, spelling);
        QFETCH(float, expectedCents);

        const Note note(semitone, cents);
        QCOMPARE(note.noteSpelling(), spelling);
        QVERIFY2(std::fabs(note.mCents - expectedCents) < 0.01f, qPrintable(QString::number(note.mCents)));
        QVERIFY(!note.mEnharmonic);
    }

    void fromString_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("spelling");

        QTest::newRow("C4") << "G2" << "C4" << "C4";
        QTest::newRow("lower case") << "G2" << "a4" << "A4";
        QTest::newRow("F3#") << "G2" << "F3#" << "F#3";
        QTest::newRow("C#4: octave first") << "G2" << "C#4" << "C0";
        QTest::newRow("B-1bb") << "G2" << "B-1bb" << "Bbb-1";
        QTest::newRow("G10##") << "G2" << "G10##" << "G##10";
        QTest::newRow("b4b") << "G2" << "b4b" << "Bb4";
        QTest::newRow("Eb, no octave") << "G2" << "Eb" << "Eb0";
        QTest::newRow("letter only") << "G2" << "E" << "E0";
        QTest::newRow("minus alone") << "G2" << "D-" << "D0";
        QTest::newRow("trailing blank") << "G2" << "C4 " << "C4";
        QTest::newRow("unknown accidental") << "G2" << "A4x" << "A4";
        QTest::newRow("huge octave") << "G2" << "A99999999999" << "A0";
        QTest::newRow("unknown letter keeps it") << "E5" << "x3" << "E3";
        QTest::newRow("x4 from scratch") << "" << "x4" << "C4";
        QTest::newRow("empty text changes nothing") << "G2b" << "" << "Gb2";
    }

    void fromString()
    {
        QFETCH(QString, start);
        QFETCH(QString, text);
        QFETCH(QString, spelling);

        Note note(start, 7);
        note.storeFromString(text);
        QCOMPARE(note.noteSpelling(), spelling);
        QCOMPARE(note.mCents, 7.0f);
    }

    void spellingText_data()
    {
        QTest::addColumn<int>("letter");
        QTest::addColumn<int>("accidental");
        QTest::addColumn<int>("octave");
        QTest::addColumn<QString>("spelling");
        QTest::addColumn<QString>("letterText");

        QTest::newRow("A4") << 5 << 0 << 4 << "A4" << "A";
        QTest::newRow("Ebb5") << 2 << -2 << 5 << "Ebb5" << "E";
        QTest::newRow("C##0") << 0 << 2 << 0 << "C##0" << "C";
        QTest::newRow("B-1") << 6 << 0 << -1 << "B-1" << "B";
        QTest::newRow("bad accidental") << 3 << 5 << 2 << "F2" << "F";
        QTest::newRow("bad letter") << 9 << 1 << 2 << "#2" << "";
    }

    void spellingText()
    {
        QFETCH(int, letter);
        QFETCH(int, accidental);
        QFETCH(int, octave);
        QFETCH(QString, spelling);
        QFETCH(QString, letterText);

        Note note;
        note.mNote = letter;
        note.mAccidental = accidental;
        note.mOctave = octave;
        QCOMPARE(note.noteSpelling(), spelling);
        QCOMPARE(note.noteLetter().isNull() ? QString() : QString(note.noteLetter()), letterText);
    }

    // Starting from A4 with no cents.
    void addCentsWindow_data()
    {
        QTest::addColumn<QList<float>>("additions");
        QTest::addColumn<QString>("spelling");   // empty: either neighbour
        QTest::addColumn<bool>("enharmonic");

        QTest::newRow("+50.5 keeps") << QList<float>{50.5f} << "A4" << false;
        QTest::newRow("+50.6 respells") << QList<float>{50.6f} << "Bb4" << true;
        QTest::newRow("-49.4 keeps") << QList<float>{-49.4f} << "A4" << false;
        QTest::newRow("-49.5 respells") << QList<float>{-49.5f} << "" << true;
        QTest::newRow("-120") << QList<float>{-120.0f} << "G#4" << true;
        QTest::newRow("+30 +30") << QList<float>{30.0f, 30.0f} << "Bb4" << true;
        QTest::newRow("+30 -30") << QList<float>{30.0f, -30.0f} << "A4" << false;
        QTest::newRow("+1200") << QList<float>{1200.0f} << "A5" << true;
        QTest::newRow("NaN ignored") << QList<float>{std::numeric_limits<float>::quiet_NaN()} << "A4" << false;
        QTest::newRow("inf ignored") << QList<float>{std::numeric_limits<float>::infinity()} << "A4" << false;
        QTest::newRow("too far ignored") << QList<float>{1e9f} << "A4" << false;
    }

    void addCentsWindow()
    {
        QFETCH(QList<float>, additions);
        QFETCH(QString, spelling);
        QFETCH(bool, enharmonic);

        Note note(57, 0);
        float expectedPitch = 57.0f;
        for (float c : additions)
        {
            note.addCents(c);
            if (std::isfinite(c) && std::fabs(c) < 1e6f)
                expectedPitch += c / 100.0f;
        }
        if (spelling.isEmpty())
            QVERIFY(note.noteSpelling() == "A4" || note.noteSpelling() == "G#4");
        else
            QCOMPARE(note.noteSpelling(), spelling);
        QCOMPARE(note.mEnharmonic, enharmonic);
        QVERIFY(std::fabs(note.toSemitonePitch() - expectedPitch) < 1e-4f);
        QVERIFY(note.mCents > -49.5f - 1e-3f && note.mCents <= 50.5f + 1e-3f);
    }

    void baseNoteOverride_data()
    {
        QTest::addColumn<QString>("baseNote");
        QTest::addColumn<float>("baseFrequency");
        QTest::addColumn<float>("frequency");
        QTest::addColumn<QString>("spelling");

        QTest::newRow("Db 4 itself") << "Db 4" << 277.183f << 277.183f << "Db4";
        QTest::newRow("same semitone, other frequency") << "Db 4" << 277.183f << 277.18f << "C#4";
        QTest::newRow("C 4 natural") << "C 4" << 261.626f << 261.626f << "C4";
        QTest::newRow("Gb 4") << "Gb 4" << 369.994f << 369.994f << "Gb4";
        QTest::newRow("A# 3") << "A# 3" << 233.082f << 233.082f << "A#3";
        QTest::newRow("B# 3 lifts the octave") << "B# 3" << 261.626f << 261.626f << "B#3";
        QTest::newRow("one character") << "A" << 440.0f << 440.0f << "A4";
        QTest::newRow("one character Bb") << "B" << 466.164f << 466.164f << "Bb4";
        QTest::newRow("empty name") << "" << 466.164f << 466.164f << "Bb4";
        QTest::newRow("no letter") << "x# 4" << 277.183f << 277.183f << "C#4";
        QTest::newRow("other second character") << "Ex4" << 311.127f << 311.127f << "Eb4";
        QTest::newRow("name of another pitch") << "C 4" << 440.0f << 440.0f << "A4";
    }

    void baseNoteOverride()
    {
        QFETCH(QString, baseNote);
        QFETCH(float, baseFrequency);
        QFETCH(float, frequency);
        QFETCH(QString, spelling);

        setBase(baseNote, baseFrequency);
        const Note note(frequency);
        QCOMPARE(note.noteSpelling(), spelling);
        QVERIFY(std::fabs(note.mCents) < 0.05f);
    }

    void badFrequencies_data()
    {
        QTest::addColumn<float>("frequency");
        QTest::addColumn<int>("calibration");

        const float inf = std::numeric_limits<float>::infinity();
        QTest::newRow("0") << 0.0f << 440;
        QTest::newRow("-0") << -0.0f << 440;
        QTest::newRow("-1") << -1.0f << 440;
        QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << 440;
        QTest::newRow("inf") << inf << 440;
        QTest::newRow("-inf") << -inf << 440;
        QTest::newRow("calibration 0") << 440.0f << 0;
        QTest::newRow("calibration -440") << 440.0f << -440;
        // Its ratio to A4 underflows to 0.
        QTest::newRow("smallest denormal") << std::numeric_limits<float>::denorm_min() << 440;
    }

    void badFrequencies()
    {
        QFETCH(float, frequency);
        QFETCH(int, calibration);

        setBase(QStringLiteral("A 4"), 440.0f, calibration);
        Note note(QStringLiteral("E5b"), 12);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Note::store\\w+: no note"));
        QVERIFY(!note.storeFromFreq(frequency));
        QCOMPARE(note.noteSpelling(), QString("Eb5"));
        QCOMPARE(note.mCents, 12.0f);

        // The constructor leaves its initial C0.
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Note::store\\w+: no note"));
        QCOMPARE(Note(frequency).noteSpelling(), QString("C0"));
    }

    void extremeFrequencies_data()
    {
        QTest::addColumn<float>("frequency");
        QTest::newRow("FLT_MAX") << std::numeric_limits<float>::max();
        QTest::newRow("smallest normal") << std::numeric_limits<float>::min();
        QTest::newRow("1 Hz") << 1.0f;
        QTest::newRow("100 kHz") << 100000.0f;
    }

    void extremeFrequencies()
    {
        QFETCH(float, frequency);
        const Note note(frequency);
        const float expected = float(12.0 * std::log2(double(frequency) / 440.0) + 57.0);
        QVERIFY2(std::fabs(note.toSemitonePitch() - expected) < 0.01f,
                 qPrintable(QString("%1 vs %2").arg(note.toSemitonePitch()).arg(expected)));
        // Further steps and cents stay well defined.
        Note moved = note;
        moved.addInterval(3);
        moved.addCents(-60.0f);
        QVERIFY(std::isfinite(moved.toSemitonePitch()));
        QVERIFY(moved.mAccidental >= -2 && moved.mAccidental <= 2);
    }

    // A note already enharmonic follows the frequency; a step that is no
    // prime has no ratio and leaves it as it is.
    void enharmonicBadStep()
    {
        Note note(QStringLiteral("D5"), 0);
        note.makeEnharmonic();
        note.addInterval(3);
        QCOMPARE(note.noteSpelling(), QString("A5"));
        QVERIFY(std::fabs(note.mCents - 1.955f) < 0.01f);
        for (int step : {4, 0, 37, -1000, INT_MIN})
        {
            note.addInterval(step);
            QCOMPARE(note.noteSpelling(), QString("A5"));
        }
    }

    void forStepsWithoutFrequency()
    {
        setBase(QStringLiteral("C 4"), 261.626f);
        const QList<int> steps{5};
        for (float f : {0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN()})
        {
            const Note note = Note::forSteps(steps, f);
            QCOMPARE(note.noteSpelling(), QString("E4"));
            QVERIFY(!note.mEnharmonic);
        }
        // A broken calibration: no cents either, and no crash.
        mSettings.mCalibrationFrequency = 0;
        const Note note = Note::forSteps(steps, 327.0f);
        QVERIFY(std::isfinite(note.toSemitonePitch()));
    }

    void calibration_data()
    {
        QTest::addColumn<int>("calibration");
        QTest::addColumn<float>("frequency");
        QTest::addColumn<QString>("spelling");
        QTest::addColumn<float>("cents");

        QTest::newRow("442 at 442") << 442 << 442.0f << "A4" << 0.0f;
        QTest::newRow("440 against 442") << 442 << 440.0f << "A4" << -7.851f;
        QTest::newRow("415: 440 is Bb") << 415 << 440.0f << "Bb4" << 1.270f;
        QTest::newRow("C4 at 440") << 440 << 261.626f << "C4" << 0.0f;
    }

    void calibration()
    {
        QFETCH(int, calibration);
        QFETCH(float, frequency);
        QFETCH(QString, spelling);
        QFETCH(float, cents);

        setBase(QStringLiteral("A 4"), 1.0f, calibration);
        const Note note(frequency);
        QCOMPARE(note.noteSpelling(), spelling);
        QVERIFY2(std::fabs(note.mCents - cents) < 0.01f, qPrintable(QString::number(note.mCents)));
    }

    void noteTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        QTest::addColumn<float>("frequency");

        QTest::newRow("A 0") << "A 0" << 0 << 27.5f;
        QTest::newRow("A# 0") << "A# 0" << 1 << 29.135f;
        QTest::newRow("B 0") << "B 0" << 3 << 30.868f;
        QTest::newRow("C 1") << "C 1" << 4 << 32.703f;
        QTest::newRow("C 4") << "C 4" << 55 << 261.626f;
        QTest::newRow("C# 4") << "C# 4" << 56 << 277.183f;
        QTest::newRow("Db 4") << "Db 4" << 57 << 277.183f;
        QTest::newRow("A 4") << "A 4" << 68 << 440.0f;
        QTest::newRow("C 8") << "C 8" << 123 << 4186.009f;
        QTest::newRow("Ab 8") << "Ab 8" << 135 << 6644.875f;
        QTest::newRow("A 8") << "A 8" << 136 << 7040.0f;
        QTest::newRow("not a name") << "H 4" << -1 << 0.0f;
        QTest::newRow("no blank") << "A4" << -1 << 0.0f;
    }

    void noteTable()
    {
        QFETCH(QString, name);
        QFETCH(int, index);
        QFETCH(float, frequency);

        QCOMPARE(NoteNames::names().size(), NoteNames::COUNT);
        QCOMPARE(NoteNames::frequencies().size(), NoteNames::COUNT);
        QCOMPARE(NoteNames::indexOf(name), index);
        QCOMPARE(NoteNames::frequencyOf(name), frequency);
    }

    // Every name of the options menu read as a note sounds its table
    // frequency, and that frequency spelled again lands on the same semitone.
    void noteTableAgreesWithNotes()
    {
        const QStringList names = NoteNames::names();
        const QList<float> frequencies = NoteNames::frequencies();
        for (int i = 0; i < names.size(); ++i)
        {
            const Note named(readableForm(names.at(i)), 0);
            const float hz = frequencies.at(i);
            QVERIFY2(std::fabs(named.toFrequency() - hz) < 0.0005f * hz + 0.001f, qPrintable(names.at(i)));
            QVERIFY2(std::fabs(Note(hz).toSemitonePitch() - named.toSemitonePitch()) < 0.001f,
                     qPrintable(QString("%1: %2 vs %3").arg(names.at(i)).arg(Note(hz).toSemitonePitch())
                                    .arg(named.toSemitonePitch())));
            if (i > 0)
                QVERIFY(frequencies.at(i) >= frequencies.at(i - 1));
        }
        QVERIFY(std::fabs(Note(QStringLiteral("C4"), 0).toFrequency() - 261.626f) < 0.001f);
    }
};

QTEST_GUILESS_MAIN(NoteTest)
#include "tst_notes.moc"
