// "Arbor out" heard by a probe port on a real JACK server: what arrives must make a synth sound the engine's frequencies.

#include "MidiOutput.h"
#include "PdPlayer.h"
#include "player/DistinctPaths.h"

#include <QtTest>

#include <cmath>

using Bytes = std::vector<unsigned char>;

// 45.8 Hz to 14 kHz above A 440; 16/15 and 15/14 share a nearest key; 32/1 is key 129, two semitones above the last key.
const QStringList CHORD = {"/", "/-2/-2/-2/-3/5", "/2/-5/-3", "/3/5/-7", "/-2/19/23/29", "/2/2/2/11", "/2/2/2/13/17", "/2/2/2/2/2"};

// The notes start in MPE with 2 semitones and the 1/1 at `base`; then the mode or range changes (all sounds again, once set
// up), or the device goes and comes back; `reached` of them sound (32/1 needs the wide range or a lower 1/1); then they end:
// 0 toggled off, 1 stop all (as every test ends), 2 quitting.
struct Row { QStringList paths; MidiOutput::Mode mode; int range; float base; bool reconnect; int end; int reached; };
Q_DECLARE_METATYPE(Row)

// A synth in miniature: follows bends, bend ranges and tuning changes; the frequency of every sounding note by channel * 128 + key.
struct Synth
{
    QVector<Bytes> heard;
    QVector<int> range = QVector<int>(16, 2), bend = QVector<int>(16, 8192);
    QMap<int, double> tuning, sounding;
    QStringList errors;

    double hz(int ch, int key) const { return 440.0 * std::exp2((tuning.value(key, key) - 69.0 + (bend[ch] - 8192) / 8192.0 * range[ch]) / 12.0); }
    void hear(const Bytes& m)
    {
        heard << m;
        const int kind = m[0] & 0xf0, ch = m[0] & 15, id = ch * 128 + m[1];
        if (m[0] == 0xf0 && m.size() == 12 && m[4] == 2) {
            errors << (sounding.contains(m[7]) ? "retuned a sounding key" : "");
            tuning[m[7]] = m[8] + (m[9] * 128 + m[10]) / 16384.0;
        } else if (kind == 0x90 && m[2] > 0) {
            sounding[id] = hz(ch, m[1]);
        } else if (kind == 0x80 || kind == 0x90) {
            errors << (sounding.remove(id) ? "" : "note-off for a silent note");
        } else if (kind == 0xe0) {
            bend[ch] = m[1] + m[2] * 128;
            for (auto i = sounding.cbegin(); i != sounding.cend(); ++i)
                errors << (i.key() / 128 == ch && i.value() != hz(ch, i.key() % 128) ? "bent a sounding note" : "");
        } else if (kind == 0xb0 && m[1] == 6 && ch > 0) { // on a member channel only the bend range (RPN 0) is set
            range[ch] = m[2];
        }
        errors.removeAll("");
    }
    // How often the set-up of `mode` (with `range`) arrived after the first `mark` messages.
    int announced(int mark, MidiOutput::Mode mode, int range) const
    {
        QVector<Bytes> setUp = {{0xb0, 101, 0}, {0xb0, 100, 6}, {0xb0, 6, uchar(mode == MidiOutput::Mpe ? 15 : 0)}};
        for (unsigned char cc = 0xb1; cc <= 0xbf && mode == MidiOutput::Mpe; ++cc)
            setUp << Bytes {cc, 101, 0} << Bytes {cc, 100, 0} << Bytes {cc, 6, uchar(range)} << Bytes {cc, 38, 0} << Bytes {cc, 101, 127}
                  << Bytes {cc, 100, 127};
        const QVector<Bytes> h = heard.mid(mark);
        return std::search(h.begin(), h.end(), setUp.begin(), setUp.end()) == h.end() ? 0 : h.count(setUp.last());
    }
};

class TestMidiOut : public QObject
{
    Q_OBJECT
    PdPlayer mPlayer; // without a patch: requests run on this thread, noteToggled comes at once
    MidiOutput mOutput;
    RtMidiIn mProbe {RtMidi::UNIX_JACK, "Probe", 4096};
    Synth mSynth;

    // The synth, having heard what arrived since.
    const Synth& synth()
    {
        Bytes m;
        for (mProbe.getMessage(&m); !m.empty(); mProbe.getMessage(&m))
            mSynth.hear(m);
        return mSynth;
    }
    // Has the engine run toggles of `paths`, or else one request.
    void play(const QStringList& paths, ArborEvent::Type type = ArborEvent::NoteToggle, float value = 0.0f)
    {
        for (const QString& path : paths) {
            const ArborNoteEvent e(path);
            mPlayer.queueEventGui(&e);
        }
        const ArborEvent e(type, value);
        if (paths.isEmpty())
            mPlayer.queueEventGui(&e);
        mPlayer.processEvents();
    }
    // Opens the output connected to the probe and waits for its set-up.
    void open()
    {
        const int mark = synth().heard.size();
        QVERIFY(mOutput.init("jack", "Probe:probe", MidiOutput::Mpe, 2, 440.0f));
        QTRY_COMPARE(synth().announced(mark, MidiOutput::Mpe, 2), 1);
    }

private slots:
    void initTestCase()
    {
        mProbe.ignoreTypes(false, true, true);
        mProbe.openVirtualPort("probe");
        QVERIFY(mPlayer.init());
        connect(&mPlayer, &PdPlayer::noteToggled, &mOutput, &MidiOutput::onNoteToggled);
        connect(&mPlayer, &PdPlayer::baseFrequencyChanged, &mOutput, &MidiOutput::onBaseFrequencyChanged);
        open();
    }
    void cleanup()
    {
        play({}, ArborEvent::AllNotesOff);
        QTRY_VERIFY(synth().sounding.isEmpty());
        QCOMPARE(std::exchange(mSynth.errors, {}), QStringList());
        mOutput.setMode(MidiOutput::Mpe);
        mOutput.setBendRange(2);
    }

    void notes_data()
    {
        // The root, 14 more, the root's octave (the same bend: it joins the root's channel), 4 more that stop the oldest.
        const QStringList many = QStringList("/") + PlayerTest::distinctPaths(14) + QStringList("/2") + PlayerTest::distinctPaths(18).mid(14);
        QTest::addColumn<Row>("row"); // the tuning standard first: MPE must find the retuned keys reset
        QTest::newRow("tuning standard") << Row {CHORD, MidiOutput::TuningStandard, 2, 440.0f, false, 0, 7};
        QTest::newRow("tuning standard, 1/1 at 261.63 Hz") << Row {CHORD, MidiOutput::TuningStandard, 2, 261.63f, false, 2, 8};
        QTest::newRow("tuning standard, stop all") << Row {CHORD, MidiOutput::TuningStandard, 2, 440.0f, false, 1, 7};
        QTest::newRow("mpe, 2 semitones") << Row {CHORD, MidiOutput::Mpe, 2, 440.0f, false, 0, 7};
        QTest::newRow("mpe, 2 semitones, 1/1 at 261.63 Hz") << Row {CHORD, MidiOutput::Mpe, 2, 261.63f, false, 1, 8};
        QTest::newRow("mpe, 48 semitones") << Row {CHORD, MidiOutput::Mpe, 48, 440.0f, false, 2, 8};
        QTest::newRow("mpe, device connected again") << Row {CHORD, MidiOutput::Mpe, 2, 440.0f, true, 2, 7};
        QTest::newRow("mpe, 20 notes on 15 channels") << Row {many, MidiOutput::Mpe, 2, 440.0f, false, 0, 15};
    }
    void notes()
    {
        QFETCH(Row, row);
        play({}, ArborEvent::BaseFrequency, row.base);
        play(row.paths);
        const int mark = synth().heard.size();
        mOutput.setMode(row.mode);
        mOutput.setBendRange(row.range);
        if (row.reconnect)
            mOutput.port().setDevice("");
        mOutput.port().setDevice("Probe:probe"); // nothing new when still connected
        QTRY_COMPARE(synth().announced(mark, row.mode, row.range), row.mode != MidiOutput::Mpe || row.range != 2 || row.reconnect ? 1 : 0);
        QTRY_COMPARE(synth().sounding.size(), row.reached);
        const double tolerance = row.range == 2 ? 0.1 : 0.7; // cents
        for (const double sent : synth().sounding) { // each one of the notes
            const auto near = [&](const QString& p) {
                return std::abs(1200.0 * std::log2(sent / ArborRatio::relativeFromPath(ArborPath(p)).toDouble() / double(row.base))) < tolerance;
            };
            QVERIFY2(std::any_of(row.paths.begin(), row.paths.end(), near), qPrintable(QString::number(sent, 'f', 4)));
        }
        if (row.end == 0) {
            play(row.paths); // each off again
            QTRY_VERIFY(synth().sounding.isEmpty());
        }
        if (row.end == 2) {
            mOutput.term();
            QTRY_VERIFY(synth().sounding.isEmpty());
            open();
        }
    }
};

QTEST_GUILESS_MAIN(TestMidiOut)
#include "tst_midiout.moc"
