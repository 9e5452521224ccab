// "Arbor out" heard by a probe port on a real JACK server: what arrives must make a synth sound the engine's frequencies.

#include "MidiOutput.h"
#include "PdPlayer.h"
#include "player/DistinctPaths.h"

#include <QtTest>

#include <cmath>

using Bytes = std::vector<unsigned char>;
using Mode = MidiOutput::Mode;
Q_DECLARE_METATYPE(Mode)

// 45.8 Hz to 14 kHz above A 440; 16/15 and 15/14 share a nearest key; 32/1 is key 129, two semitones above the last key.
const QStringList CHORD = {"/", "/-2/-2/-2/-3/5", "/2/-5/-3", "/3/5/-7", "/-2/19/23/29", "/2/2/2/11", "/2/2/2/13/17", "/2/2/2/2/2"};

// A synth in miniature: follows RPN 0, bends and tuning changes; the frequency of every sounding note by channel * 128 + key.
struct Synth
{
    QVector<int> rpn = QVector<int>(16), range = QVector<int>(16, 2), bend = QVector<int>(16, 8192);
    QMap<int, double> tuning, sounding;
    QStringList errors;

    double hz(int ch, int key) const { return 440.0 * std::exp2((tuning.value(key, key) - 69.0 + (bend[ch] - 8192) / 8192.0 * range[ch]) / 12.0); }
    void hear(const Bytes& m)
    {
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
        } else if (kind == 0xb0 && m[1] == 100) { // the parameter number's low half: 0, 6 or 127 (none)
            rpn[ch] = m[2];
        } else if (kind == 0xb0 && m[1] == 6 && rpn[ch] == 0) {
            range[ch] = m[2];
        }
        errors.removeAll("");
    }
};

class TestMidiOut : public QObject
{
    Q_OBJECT
    PdPlayer mPlayer; // without a patch: requests run on this thread, noteToggled comes at once
    MidiOutput mOutput;
    RtMidiIn mProbe {RtMidi::UNIX_JACK, "Probe"};
    QMutex mMutex;
    QVector<Bytes> mHeard;

    Synth synth()
    {
        QMutexLocker lock(&mMutex);
        Synth s;
        for (const Bytes& m : qAsConst(mHeard))
            s.hear(m);
        return s;
    }
    // How often the set-up of `mode` (with `range`) arrived after the first `mark` messages.
    int announced(int mark, Mode mode, int range)
    {
        QVector<Bytes> setUp = {{0xb0, 101, 0}, {0xb0, 100, 6}, {0xb0, 6, uchar(mode == MidiOutput::Mpe ? 15 : 0)}};
        for (unsigned char cc = 0xb1; cc <= 0xbf && mode == MidiOutput::Mpe; ++cc)
            setUp << Bytes {cc, 101, 0} << Bytes {cc, 100, 0} << Bytes {cc, 6, uchar(range)} << Bytes {cc, 38, 0} << Bytes {cc, 101, 127}
                  << Bytes {cc, 100, 127};
        QMutexLocker lock(&mMutex);
        const QVector<Bytes> h = mHeard.mid(mark);
        return std::search(h.begin(), h.end(), setUp.begin(), setUp.end()) == h.end() ? 0 : h.count(setUp.last());
    }
    int heardCount()
    {
        QMutexLocker lock(&mMutex);
        return mHeard.size();
    }
    void request(ArborEvent::Type type, float value = 0.0f)
    {
        const ArborEvent e(type, value);
        mPlayer.queueEventGui(&e);
        mPlayer.processEvents();
    }
    void toggle(const QStringList& paths)
    {
        for (const QString& path : paths) {
            const ArborNoteEvent e(path);
            mPlayer.queueEventGui(&e);
        }
        mPlayer.processEvents();
    }
    // Every sounding note is one of `paths` within `tolerance` cents.
    void verifyPitches(const QStringList& paths, double base, double tolerance)
    {
        for (const double sent : synth().sounding) {
            const auto near = [&](const QString& p) {
                return std::abs(1200.0 * std::log2(sent / ArborRatio::relativeFromPath(ArborPath(p)).toDouble() / base)) < tolerance;
            };
            QVERIFY2(std::any_of(paths.begin(), paths.end(), near), qPrintable(QString::number(sent, 'f', 4)));
        }
    }
    // Opens the output connected to the probe and waits for its set-up.
    void open()
    {
        const int mark = heardCount();
        QVERIFY(mOutput.init("jack", "Probe:probe", MidiOutput::Mpe, 2, 440.0f));
        QTRY_COMPARE(announced(mark, MidiOutput::Mpe, 2), 1);
    }

private slots:
    void initTestCase()
    {
        mProbe.ignoreTypes(false, true, true);
        mProbe.setCallback([](double, Bytes* m, void* self) {
            auto* test = static_cast<TestMidiOut*>(self);
            QMutexLocker lock(&test->mMutex);
            test->mHeard << *m;
        }, this);
        mProbe.openVirtualPort("probe");
        QVERIFY(mPlayer.init());
        mPlayer.initAudio(2, 44100);
        connect(&mPlayer, &PdPlayer::noteToggled, &mOutput, &MidiOutput::onNoteToggled);
        connect(&mPlayer, &PdPlayer::baseFrequencyChanged, &mOutput, &MidiOutput::onBaseFrequencyChanged);
        open();
    }
    void init()
    {
        mOutput.setMode(MidiOutput::Mpe);
        mOutput.setBendRange(2);
    }
    void cleanup()
    {
        request(ArborEvent::AllNotesOff); // stop all
        QTRY_VERIFY(synth().sounding.isEmpty());
        QCOMPARE(synth().errors, QStringList());
    }

    // The chord starts in MPE with 2 semitones; then the mode or range changes (all sounds again, once set up), or the
    // device goes and comes back; then it ends: 0 toggled off, 1 stop all (as every test ends), 2 quitting.
    void chord_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<int>("range");
        QTest::addColumn<float>("base");
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<int>("reached");
        QTest::addColumn<int>("end");
        QTest::newRow("mpe, 2 semitones") << MidiOutput::Mpe << 2 << 440.0f << false << 7 << 0;
        QTest::newRow("mpe, 2 semitones, 1/1 at 261.63 Hz") << MidiOutput::Mpe << 2 << 261.63f << false << 8 << 1;
        QTest::newRow("mpe, 48 semitones") << MidiOutput::Mpe << 48 << 440.0f << false << 8 << 2;
        QTest::newRow("mpe, device connected again") << MidiOutput::Mpe << 2 << 440.0f << true << 7 << 2;
        QTest::newRow("tuning standard") << MidiOutput::TuningStandard << 2 << 440.0f << false << 7 << 0;
        QTest::newRow("tuning standard, 1/1 at 261.63 Hz") << MidiOutput::TuningStandard << 2 << 261.63f << false << 8 << 2;
        QTest::newRow("tuning standard, stop all") << MidiOutput::TuningStandard << 2 << 440.0f << false << 7 << 1;
    }
    void chord()
    {
        QFETCH(Mode, mode);
        QFETCH(int, range);
        QFETCH(float, base);
        QFETCH(bool, reconnect);
        QFETCH(int, reached);
        QFETCH(int, end);
        request(ArborEvent::BaseFrequency, base);
        toggle(CHORD);
        const int mark = heardCount();
        mOutput.setMode(mode);
        mOutput.setBendRange(range);
        if (reconnect) {
            mOutput.port().setDevice("");
            mOutput.port().setDevice("Probe:probe");
        }
        QTRY_COMPARE(announced(mark, mode, range), mode != MidiOutput::Mpe || range != 2 || reconnect ? 1 : 0);
        QTRY_COMPARE(synth().sounding.size(), reached);
        verifyPitches(CHORD, double(base), range == 2 ? 0.1 : 0.7);
        if (end == 0)
            toggle(CHORD); // each off again
        if (end == 1)
            request(ArborEvent::AllNotesOff);
        if (end == 2) {
            mOutput.term();
            open();
        }
        QTRY_VERIFY(synth().sounding.isEmpty());
    }

    // The root, 14 more, the root's octave (the same bend, so it joins the root's channel), then 4 more, each freeing a
    // channel by stopping the oldest notes.
    void manyNotes()
    {
        QStringList paths = QStringList("/") + PlayerTest::distinctPaths(18);
        paths.insert(15, "/2");
        toggle(paths);
        QTRY_COMPARE(synth().sounding.size(), 15);
        verifyPitches(paths, 440.0, 0.1);
        QVERIFY(synth().sounding.values().contains(880.0));
    }
};

QTEST_GUILESS_MAIN(TestMidiOut)
#include "tst_midiout.moc"
