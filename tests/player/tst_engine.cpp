// The engine over real libpd and the real patch set, without a sound card:
// the test plays the audio thread (processEvents and block rendering) itself.

#include "DistinctPaths.h"
#include "PlayerTestSupport.h"

#include "Arbor.h"
#include "ArborContext.h"
#include "ArborPath.h"
#include "ArborRatio.h"

#include "z_libpd.h"

#include <QSet>
#include <QSignalSpy>

#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

using namespace PlayerTest;

typedef QList<QPair<int, float>> EventList;

namespace
{
// Counts every list that reaches a bound receiver, then hands it on.
int sListsSeen = 0;
void countingListHook(const char* source, int argc, t_atom* argv)
{
    ++sListsSeen;
    PdPlayer::pdListHook(source, argc, argv);
}

// Number of receivers bound to `name`, found by sending one list there.
int bindingsOf(const char* name, float value = 0.0f)
{
    libpd_set_listhook(&countingListHook);
    sListsSeen = 0;
    if (libpd_exists(name)) {
        libpd_start_message(1);
        libpd_add_float(value);
        libpd_finish_list(name);
    }
    libpd_set_listhook(reinterpret_cast<t_libpd_listhook>(&PdPlayer::pdListHook));
    return sListsSeen;
}

void sendVoiceStop(float voiceNumber)
{
    libpd_start_message(1);
    libpd_add_float(voiceNumber);
    libpd_finish_list("voice-stop");
}

QStringList onMessages(float f, int voice, float volume = 1.0f)
{
    return {QStringLiteral("arbor-in: %1 2 %2").arg(double(f)).arg(voice),
            QStringLiteral("arbor-in: %1 3 %2").arg(double(volume)).arg(voice),
            QStringLiteral("arbor-in: 1 1 %1").arg(voice)};
}

}

class TestEngine : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PdPlayer> mPlayer;
    std::unique_ptr<RuntimeFolder> mFolder;
    std::unique_ptr<LogCatcher> mLog;

    void loadProtocol()
    {
        QVERIFY(mPlayer->loadPatch(mFolder->protocol()));
        mPlayer->processEvents();
        mLog->clear();
    }

private slots:
    void initTestCase()
    {
        PdPlayer::sAudioDebug = true;
        PdPlayer probe;
        QVERIFY(probe.init());
        probe.initAudio(2, 44100);
    }

    void init()
    {
        mLog.reset(new LogCatcher);
        mFolder.reset(new RuntimeFolder);
        QVERIFY(mFolder->isValid());
        mPlayer.reset(new PdPlayer);
        QVERIFY(mPlayer->init());
    }

    void cleanup()
    {
        mPlayer->unloadPatch();
        mPlayer.reset();
        mFolder.reset();
        mLog.reset();
    }

    // ------------------------------------------------------------ sound

    void pitch_data()
    {
        QTest::addColumn<float>("base");
        QTest::addColumn<QString>("transpose");
        QTest::addColumn<QString>("path");
        QTest::addColumn<double>("expected");
        QTest::newRow("root at 440") << 440.0f << QString() << QString() << 440.0;
        QTest::newRow("fifth /3") << 440.0f << QString() << QStringLiteral("/3") << 660.0;
        QTest::newRow("octave down /-2") << 440.0f << QString() << QStringLiteral("/-2") << 220.0;
        QTest::newRow("third /5 at 432") << 432.0f << QString() << QStringLiteral("/5") << 540.0;
        QTest::newRow("root transposed +3") << 440.0f << QStringLiteral("3") << QString() << 660.0;
        QTest::newRow("/7/-3 at 300") << 300.0f << QString() << QStringLiteral("/7/-3") << 350.0;
    }
    void pitch()
    {
        QFETCH(float, base);
        QFETCH(QString, transpose);
        QFETCH(QString, path);
        QFETCH(double, expected);
        QVERIFY(mPlayer->loadPatch(mFolder->main()));
        QSignalSpy toggled(mPlayer.get(), &PdPlayer::noteToggled);
        queue(*mPlayer, ArborEvent::BaseFrequency, base);
        if (!transpose.isEmpty())
            queue(*mPlayer, ArborEvent::Transpose, transpose.toFloat());
        toggle(*mPlayer, path);
        const std::vector<float> on = render(*mPlayer, 100);
        QCOMPARE(toggled.count(), 1);
        const ArborRatio ratio = toggled.at(0).at(0).value<ArborRatio>();
        QVERIFY(toggled.at(0).at(1).toBool());
        QVERIFY2(peak(on, 4410) > 0.05f, "the note is audible");
        const double f = measureFrequency(on, 4410);
        QVERIFY2(std::abs(f - expected) < expected * 0.005, qPrintable(QStringLiteral("measured %1 Hz").arg(f)));

        // Release: the patch fades the voice and reports it on "voice-stop".
        toggle(*mPlayer, path);
        int blocks = 0;
        std::vector<float> tail;
        while (mPlayer->noteFor(ratio) && blocks < 400) {
            tail = render(*mPlayer, 1);
            ++blocks;
        }
        QVERIFY2(!mPlayer->noteFor(ratio), "voice-stop arrived within 400 blocks");
        QVERIFY(blocks > 2); // the release takes time: it is not cut short
        QCOMPARE(mPlayer->noteCount(), 0);
        QCOMPARE(mPlayer->voice(0).mSeqId, 0u);
        QVERIFY(!mPlayer->voice(0).mReleased);
        QCOMPARE(toggled.count(), 2);
        QVERIFY(!toggled.at(1).at(1).toBool());
        const std::vector<float> silent = render(*mPlayer, 20);
        QVERIFY(peak(silent) < 1e-3f);
    }

    void mutedAndClosedAreSilentButExecute()
    {
        QVERIFY(mPlayer->loadPatch(mFolder->main()));
        toggle(*mPlayer, QString());
        QVERIFY(peak(render(*mPlayer, 40), 2000) > 0.05f);
        queue(*mPlayer, ArborEvent::VoiceVolumeSet, 0.25f);
        const std::vector<float> muted = render(*mPlayer, 10, 256, true);
        QCOMPARE(peak(muted), 0.0f);
        QCOMPARE(mPlayer->voiceVolume(), 0.25f);
        // A block that is no multiple of 64 frames: the remainder is silence.
        std::vector<float> odd(100 * 2, 7.0f);
        PaAudioOutput::renderBlock(mPlayer.get(), odd.data(), 100, false);
        for (std::size_t i = 64 * 2; i < odd.size(); ++i)
            QCOMPARE(odd[i], 0.0f);
        mPlayer->unloadPatch();
        queue(*mPlayer, ArborEvent::VoiceVolumeSet, 0.5f);
        std::vector<float> closed(256 * 2, 7.0f);
        PaAudioOutput::renderBlock(mPlayer.get(), closed.data(), 256, false);
        for (float v : closed)
            QCOMPARE(v, 0.0f);
        QCOMPARE(mPlayer->voiceVolume(), 0.5f);
    }

    // ------------------------------------------------------------ protocol

    void messages_data()
    {
        QTest::addColumn<EventList>("events");   // type, value (type -2: toggle root, -3: toggle /3)
        QTest::addColumn<QStringList>("expected");             // everything printed by the patch
        using E = EventList;
        const int ROOT = -2;
        const int FIFTH = -3;
        QTest::newRow("toggle twice") << E {{ROOT, 1}, {ROOT, 1}}
                                      << (onMessages(440, 1) << QStringLiteral("arbor-in: 0 1 1"));
        QTest::newRow("master volume set and change")
            << E {{ArborEvent::MasterVolumeSet, 0.5f}, {ArborEvent::MasterVolumeChange, 0.25f}}
            << QStringList {QStringLiteral("master-vol: 0.5"), QStringLiteral("master-vol: 0.75")};
        QTest::newRow("macros go to all voices")
            << E {{ArborEvent::MacroValue1, 0.25f}, {ArborEvent::MacroValue8, 1.0f}}
            << QStringList {QStringLiteral("arbor-in: 0.25 4 0"), QStringLiteral("arbor-in: 1 11 0")};
        QTest::newRow("voice volume applies to the next note")
            << E {{ArborEvent::VoiceVolumeSet, 0.5f}, {ArborEvent::VoiceVolumeChange, 0.25f}, {ROOT, 1}}
            << onMessages(440, 1, 0.75f);
        QTest::newRow("transpose 2.5 is step 3") << E {{ArborEvent::Transpose, 2.5f}, {ROOT, 1}} << onMessages(660, 1);
        QTest::newRow("transpose -2.5 is step -2") << E {{ArborEvent::Transpose, -2.5f}, {ROOT, 1}} << onMessages(220, 1);
        QTest::newRow("transpose 4 is ignored") << E {{ArborEvent::Transpose, 4.0f}, {ROOT, 1}} << onMessages(440, 1);
        QTest::newRow("transpose out of range is ignored")
            << E {{ArborEvent::Transpose, 1e9f}, {ArborEvent::Transpose, -1e9f}, {ArborEvent::Transpose, NAN},
                  {ArborEvent::Transpose, INFINITY}, {ArborEvent::Transpose, 259.0f}, {ROOT, 1}}
            << onMessages(440, 1);
        QTest::newRow("transpose 0 resets")
            << E {{ArborEvent::Transpose, 3}, {ArborEvent::Transpose, 0}, {ROOT, 1}} << onMessages(440, 1);
        QTest::newRow("disabled prime is silent") << E {{ArborEvent::PrimeToggle, 3}, {FIFTH, 1}} << QStringList();
        QTest::newRow("re-enabled prime sounds")
            << E {{ArborEvent::PrimeToggle, 3.9f}, {ArborEvent::PrimeToggle, 3}, {FIFTH, 1}} << onMessages(660, 1);
        QTest::newRow("root ignores disabled primes")
            << E {{ArborEvent::PrimeToggle, 0}, {ArborEvent::PrimeToggle, 2}, {ROOT, 1}} << onMessages(440, 1);
        QTest::newRow("bad prime numbers are ignored")
            << E {{ArborEvent::PrimeToggle, 40}, {ArborEvent::PrimeToggle, -3}, {ArborEvent::PrimeToggle, NAN},
                  {ArborEvent::PrimeToggle, 1e12f}, {FIFTH, 1}}
            << onMessages(660, 1);
        QTest::newRow("too low to send") << E {{ArborEvent::BaseFrequency, 20.0f}, {ROOT, 1}} << QStringList();
        QTest::newRow("too high to send") << E {{ArborEvent::BaseFrequency, 20000.0f}, {ROOT, 1}} << QStringList();
        QTest::newRow("unknown types") << E {{21, 1}, {-1, 1}, {1000, 1}} << QStringList();
        QTest::newRow("plain open and close without a pending patch")
            << E {{ArborEvent::OpenPatch, 1}, {ROOT, 1}} << onMessages(440, 1);
    }
    void messages()
    {
        QFETCH(EventList, events);
        QFETCH(QStringList, expected);
        loadProtocol();
        for (const auto& e : events) {
            if (e.first == -2)
                toggle(*mPlayer, QString());
            else if (e.first == -3)
                toggle(*mPlayer, QStringLiteral("/3"));
            else
                queue(*mPlayer, ArborEvent::Type(e.first), e.second);
        }
        mPlayer->processEvents();
        QCOMPARE(mLog->pdPrints(), expected);
        QVERIFY(mPlayer->isPatchOpen());
    }

    void emitted_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<float>("value");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QVariantList>("arguments");
        QTest::newRow("volume") << int(ArborEvent::MasterVolumeSet) << 0.5f << QByteArray(SIGNAL(volumeChanged(float)))
                                << QVariantList {0.5f};
        QTest::newRow("voice volume") << int(ArborEvent::VoiceVolumeChange) << 0.5f
                                      << QByteArray(SIGNAL(voiceVolumeChanged(float))) << QVariantList {1.5f};
        QTest::newRow("mono") << int(ArborEvent::Monophonic) << 0.6f << QByteArray(SIGNAL(monophonicChanged(bool)))
                              << QVariantList {true};
        QTest::newRow("poly") << int(ArborEvent::Monophonic) << 0.5f << QByteArray(SIGNAL(monophonicChanged(bool)))
                              << QVariantList {false};
        QTest::newRow("base") << int(ArborEvent::BaseFrequency) << 432.0f
                              << QByteArray(SIGNAL(baseFrequencyChanged(float))) << QVariantList {432.0f};
        QTest::newRow("prime 31") << int(ArborEvent::PrimeToggle) << 31.5f
                                  << QByteArray(SIGNAL(primeEnabledToggled(int, bool))) << QVariantList {31, false};
        QTest::newRow("macro 3") << int(ArborEvent::MacroValue3) << 0.7f
                                 << QByteArray(SIGNAL(macroValueChanged(int, float))) << QVariantList {3, 0.7f};
        QTest::newRow("next patch") << int(ArborEvent::PatchStep) << 1.0f << QByteArray(SIGNAL(patchIncRequested()))
                                    << QVariantList {};
        QTest::newRow("previous patch") << int(ArborEvent::PatchStep) << 0.0f
                                        << QByteArray(SIGNAL(patchDecRequested())) << QVariantList {};
        QTest::newRow("transpose") << int(ArborEvent::Transpose) << -5.0f
                                   << QByteArray(SIGNAL(transposed(ArborRatio, int)))
                                   << QVariantList {QVariant::fromValue(ArborRatio(4, 5)), -5};
    }
    void emitted()
    {
        QFETCH(int, type);
        QFETCH(float, value);
        QFETCH(QByteArray, signal);
        QFETCH(QVariantList, arguments);
        loadProtocol();
        QSignalSpy spy(mPlayer.get(), signal.constData());
        queue(*mPlayer, ArborEvent::Type(type), value);
        mPlayer->processEvents();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).size(), arguments.size());
        for (int i = 0; i < arguments.size(); ++i) {
            if (arguments.at(i).userType() == qMetaTypeId<ArborRatio>())
                QCOMPARE(spy.at(0).at(i).value<ArborRatio>(), arguments.at(i).value<ArborRatio>());
            else
                QCOMPARE(spy.at(0).at(i), arguments.at(i));
        }
    }

    void releasingNoteRestartsOnAnotherVoice()
    {
        loadProtocol();
        const ArborRatio root(1, 1);
        toggle(*mPlayer, QString());
        toggle(*mPlayer, QString());
        toggle(*mPlayer, QString()); // releasing: starts again on voice 2
        mPlayer->processEvents();
        QCOMPARE(mLog->pdPrints(), onMessages(440, 1) << QStringLiteral("arbor-in: 0 1 1") << onMessages(440, 2));
        QCOMPARE(mPlayer->noteFor(root)->mVoice, 1);
        sendVoiceStop(1); // the late report frees voice 1 only
        QCOMPARE(mPlayer->voice(0).mSeqId, 0u);
        QVERIFY(mPlayer->noteFor(root));
        QCOMPARE(mPlayer->noteFor(root)->mVoice, 1);
        sendVoiceStop(2); // held, not released: ignored
        QVERIFY(mPlayer->noteFor(root));
        // Voice numbers outside 1..128 and non-numbers are ignored.
        for (float v : {0.0f, 129.0f, -1.0f, NAN, 1e30f})
            sendVoiceStop(v);
        libpd_start_message(1);
        libpd_add_symbol("2");
        libpd_finish_list("voice-stop");
        QVERIFY(mPlayer->noteFor(root));
    }

    void stealsTheOldestVoice()
    {
        loadProtocol();
        const QStringList paths = distinctPaths(130);
        QCOMPARE(paths.size(), 130);
        for (int i = 0; i < 128; ++i)
            toggle(*mPlayer, paths.at(i));
        mPlayer->processEvents();
        QCOMPARE(mPlayer->noteCount(), 128);
        QCOMPARE(mLog->pdPrints(QStringLiteral("arbor-in")).size(), 128 * 3);
        mLog->clear();

        QSignalSpy toggled(mPlayer.get(), &PdPlayer::noteToggled);
        toggle(*mPlayer, paths.at(128));
        mPlayer->processEvents();
        const ArborRatio oldest = ArborRatio::relativeFromPath(ArborPath(paths.at(0)));
        const ArborRatio newest = ArborRatio::relativeFromPath(ArborPath(paths.at(128)));
        const float f = mPlayer->ratioToFrequency(newest);
        QCOMPARE(mLog->pdPrints(), QStringList {QStringLiteral("arbor-in: 0 1 1")} << onMessages(f, 1));
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(toggled.at(0).at(0).value<ArborRatio>(), oldest);
        QVERIFY(!toggled.at(0).at(1).toBool());
        QCOMPARE(toggled.at(1).at(0).value<ArborRatio>(), newest);
        QVERIFY(mLog->contains(QStringLiteral("stolen true")));
        QVERIFY(!mPlayer->noteFor(oldest));
        QCOMPARE(mPlayer->noteFor(newest)->mVoice, 0);
        QCOMPARE(mPlayer->noteCount(), 128);

        // The next oldest (voice 2) is already releasing: no second note-off.
        toggle(*mPlayer, paths.at(1));
        mPlayer->processEvents();
        mLog->clear();
        toggled.clear();
        toggle(*mPlayer, paths.at(129));
        mPlayer->processEvents();
        const float f2 = mPlayer->ratioToFrequency(ArborRatio::relativeFromPath(ArborPath(paths.at(129))));
        QCOMPARE(mLog->pdPrints(), onMessages(f2, 2));
        QCOMPARE(toggled.count(), 1);
    }

    void monophonic()
    {
        loadProtocol();
        queue(*mPlayer, ArborEvent::Monophonic, 1.0f);
        toggle(*mPlayer, QString());
        toggle(*mPlayer, QStringLiteral("/3"));
        mPlayer->processEvents();
        QCOMPARE(mLog->pdPrints(), onMessages(440, 1) << QStringLiteral("arbor-in: 0 1 1") << onMessages(660, 2));
        QVERIFY(mLog->contains(QStringLiteral("turning off previous mono voice")));
        mLog->clear();
        toggle(*mPlayer, QStringLiteral("/3")); // the held mono note releases
        mPlayer->processEvents();
        QCOMPARE(mLog->pdPrints(), QStringList {QStringLiteral("arbor-in: 0 1 2")});
        mLog->clear();
        // Switching back to poly releases nothing; notes then stack.
        queue(*mPlayer, ArborEvent::Monophonic, 1.0f);
        toggle(*mPlayer, QStringLiteral("/5"));
        queue(*mPlayer, ArborEvent::Monophonic, 0.0f);
        toggle(*mPlayer, QStringLiteral("/7"));
        mPlayer->processEvents();
        QCOMPARE(mLog->pdPrints(), onMessages(550, 3) << onMessages(770, 4));
    }

    void transpositionOverflowIsRefused()
    {
        loadProtocol();
        QSignalSpy transposed(mPlayer.get(), &PdPlayer::transposed);
        for (int i = 0; i < 20; ++i) { // the wand's road: the serial ring
            const ArborEvent e(ArborEvent::Transpose, 31.0f);
            mPlayer->queueEventSerial(&e);
        }
        mPlayer->processEvents();
        QVERIFY(transposed.count() > 5);
        QVERIFY(transposed.count() < 20);
        QVERIFY(mLog->contains(QStringLiteral("refusing transposition step")));
        const ArborRatio last = mPlayer->transposition();
        QVERIFY(!last.isNull());
        QCOMPARE(transposed.last().at(0).value<ArborRatio>(), last);
        // A toggle whose transposed ratio would overflow is refused, not played.
        QSignalSpy toggled(mPlayer.get(), &PdPlayer::noteToggled);
        toggle(*mPlayer, QStringLiteral("/31/31/31/31/31/31"));
        mPlayer->processEvents();
        QCOMPARE(toggled.count(), 0);
        QCOMPARE(mPlayer->noteCount(), 0);
        queue(*mPlayer, ArborEvent::Transpose, 0.0f);
        mPlayer->processEvents();
        QCOMPARE(mPlayer->transposition(), ArborRatio(1, 1));
    }

    // Raw chunks as a wand mapping or a damaged ring could carry them: path
    // bytes that are no signed primes, the invalid marker, steps past the
    // prime table. Nothing is played and nothing is reported.
    void badToggleChunks_data()
    {
        QTest::addColumn<QByteArray>("path"); // up to 7 raw bytes
        QTest::newRow("step 4") << QByteArray("\x04", 1);
        QTest::newRow("step -1") << QByteArray("\xff", 1);
        QTest::newRow("step 1") << QByteArray("\x01", 1);
        QTest::newRow("step -128") << QByteArray("\x80", 1);
        QTest::newRow("invalid marker") << QByteArray("\x7f", 1);
        QTest::newRow("prime 37") << QByteArray("\x25", 1);
        QTest::newRow("good then bad") << QByteArray("\x03\x05\x06", 3);
        QTest::newRow("seven steps, no terminator") << QByteArray("\x03\x03\x03\x03\x03\x03\x09", 7);
    }
    void badToggleChunks()
    {
        QFETCH(QByteArray, path);
        loadProtocol();
        QSignalSpy toggled(mPlayer.get(), &PdPlayer::noteToggled);
        PdMessageBuffer::Chunk chunk;
        chunk.mType = ArborEvent::NoteToggle;
        chunk.mValue = 1.0f;
        std::memcpy(chunk.mPath, path.constData(), std::size_t(path.size()));
        mPlayer->processChunk(&chunk);
        if (path.size() == 7) {
            // Only six steps count: /3/3/3/3/3/3 plays.
            QCOMPARE(toggled.count(), 1);
            QCOMPARE(toggled.at(0).at(0).value<ArborRatio>(),
                     ArborRatio::relativeFromPath(ArborPath(QStringLiteral("/3/3/3/3/3/3"))));
            return;
        }
        QCOMPARE(toggled.count(), 0);
        QCOMPARE(mPlayer->noteCount(), 0);
        QCOMPARE(mLog->pdPrints(), QStringList());
    }

    // The audio thread works with relative ratios only. The registered
    // lattice's transposition list (twenty steps along 31) cannot be
    // multiplied out, so anything that reads it leaves a log line; the
    // engine's toggles and transpositions leave none.
    void ratiosAreRelativeOnly()
    {
        Arbor lattice;
        lattice.initWithDefaults();
        for (int i = 0; i < 20; ++i)
            lattice.onTransposed(ArborRatio(31, 16), 31);
        QCOMPARE(lattice.transposeSteps().size(), 20);
        ArborContext::setLattice(&lattice);
        loadProtocol();
        const ArborRatio probe(ArborPath(QStringLiteral("/3"))); // reads the list: the probe works
        QVERIFY(mLog->contains(QStringLiteral("no absolute ratio")));
        mLog->clear();
        QSignalSpy toggled(mPlayer.get(), &PdPlayer::noteToggled);
        queue(*mPlayer, ArborEvent::Transpose, 5.0f);
        toggle(*mPlayer, QStringLiteral("/3"));
        mPlayer->processEvents();
        ArborContext::setLattice(nullptr);
        QVERIFY(!mLog->contains(QStringLiteral("ArborRatio:")));
        QCOMPARE(toggled.count(), 1);
        const ArborRatio r = toggled.at(0).at(0).value<ArborRatio>();
        QCOMPARE(r, ArborRatio(15, 8));
        QCOMPARE(r.absNumerator(), 0ull);
        QCOMPARE(mLog->pdPrints(), onMessages(825, 1));
    }

    void macroQuery()
    {
        QSignalSpy names(mPlayer.get(), &PdPlayer::macroNamesReceived);
        QSignalSpy defaults(mPlayer.get(), &PdPlayer::macroDefaultsReceived);
        QVERIFY(mPlayer->loadPatch(mFolder->protocol()));
        QCOMPARE(names.count(), 1);
        QCOMPARE(names.at(0).at(0).toStringList(), (QStringList {"a", "b", "c"}));
        QCOMPARE(defaults.at(0).at(0).value<QList<float>>(), (QList<float> {0.5f, -1.0f, 0.0f}));
        // Lists that nobody asked for are ignored.
        libpd_start_message(2);
        libpd_add_symbol("info");
        libpd_add_symbol("late");
        libpd_finish_list("output-voice-info");
        QCOMPARE(names.count(), 1);
        // Closing empties the list.
        mPlayer->unloadPatch();
        QCOMPARE(names.count(), 2);
        QVERIFY(names.at(1).at(0).toStringList().isEmpty());
        QVERIFY(mPlayer->macroDefaults().isEmpty());
        // The shell answers for its voice patch.
        QVERIFY(mPlayer->loadPatch(mFolder->main()));
        QCOMPARE(names.last().at(0).toStringList(), (QStringList {"attack", "release"}));
        QCOMPARE(defaults.last().at(0).value<QList<float>>(), (QList<float> {0.1f, 0.2f}));
    }

    void macroText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<float>>("defaults");
        QTest::newRow("mixed") << "a(0.5):b:c(x)" << QStringList {"a", "b", "c"} << QList<float> {0.5f, -1.0f, 0.0f};
        QTest::newRow("only a default") << "(0.3)" << QStringList {""} << QList<float> {0.3f};
        QTest::newRow("empty") << "" << QStringList {""} << QList<float> {-1.0f};
        QTest::newRow("empty entries kept") << "a::b" << QStringList {"a", "", "b"} << QList<float> {-1, -1, -1};
        QTest::newRow("closing first") << "x)1(" << QStringList {"x)1("} << QList<float> {-1.0f};
        QTest::newRow("blank before bracket") << "cut off (2)" << QStringList {"cut off "} << QList<float> {2.0f};
    }
    void macroText()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, names);
        QFETCH(QList<float>, defaults);
        QStringList n;
        QList<float> d;
        PdPlayer::parseMacroList(text, n, d);
        QCOMPARE(n, names);
        QCOMPARE(d, defaults);
    }

    // The voice patch reports "voice-stop" while the note-off is still being
    // sent: releasing all notes, closing and stealing must cope.
    void immediateVoiceStop_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("all notes off") << "off";
        QTest::newRow("close patch") << "close";
        QTest::newRow("steal") << "steal";
    }
    void immediateVoiceStop()
    {
        QFETCH(QString, how);
        QVERIFY(mFolder->setVoice(testData() + QStringLiteral("/PrintVoice.pd")));
        QVERIFY(mPlayer->loadPatch(mFolder->main()));
        const QStringList paths = distinctPaths(129);
        // A full voice table: with this many ratios the note map's entries
        // share probe runs, so a removal during a walk over the map would
        // shift entries not yet visited behind the walk, and their notes
        // would never be released. A handful of notes would not show that.
        const int n = PdPlayer::VOICE_COUNT;
        for (int i = 0; i < n; ++i)
            toggle(*mPlayer, paths.at(i));
        mPlayer->processEvents();
        QCOMPARE(mPlayer->noteCount(), n);
        QCOMPARE(mLog->pdPrints(QStringLiteral("voice-1: 2 ")).size(), 1);
        mLog->clear();
        QSignalSpy toggled(mPlayer.get(), &PdPlayer::noteToggled);
        if (how == QLatin1String("off")) {
            queue(*mPlayer, ArborEvent::AllNotesOff, 1.0f);
            mPlayer->processEvents();
        } else if (how == QLatin1String("close")) {
            mPlayer->unloadPatch();
        } else {
            toggle(*mPlayer, paths.at(128));
            mPlayer->processEvents();
        }
        if (how == QLatin1String("steal")) {
            QCOMPARE(mLog->pdPrints(QStringLiteral("voice-1: 1 0")).size(), 1);
            QCOMPARE(mPlayer->noteCount(), 128);
            QCOMPARE(toggled.count(), 2);
            return;
        }
        QCOMPARE(toggled.count(), n);
        for (int v = 1; v <= n; ++v)
            QCOMPARE(mLog->pdPrints(QStringLiteral("voice-%1: 1 0").arg(v)).size(), 1);
        QCOMPARE(mPlayer->noteCount(), 0);
        for (int v = 0; v < n; ++v)
            QCOMPARE(mPlayer->voice(v).mSeqId, 0u);
    }

    void shellRoutesToVoices()
    {
        QVERIFY(mFolder->setVoice(testData() + QStringLiteral("/PrintVoice.pd")));
        QVERIFY(mPlayer->loadPatch(mFolder->main()));
        QCOMPARE(mLog->pdPrints(QStringLiteral("voice-1: macros")).size(), 1);
        QCOMPARE(mPlayer->macroNames(), (QStringList {"cutoff", "drive"}));
        mLog->clear();
        toggle(*mPlayer, QString());
        toggle(*mPlayer, QStringLiteral("/-2/-2/-2")); // 55 Hz: lifted by the loudness curve
        queue(*mPlayer, ArborEvent::MacroValue2, 0.5f);
        mPlayer->processEvents();
        const QStringList one = mLog->pdPrints(QStringLiteral("voice-1:"));
        QCOMPARE(one, (QStringList {"voice-1: 2 440", "voice-1: 3 1", "voice-1: 1 1", "voice-1: 5 0.5"}));
        const QStringList two = mLog->pdPrints(QStringLiteral("voice-2:"));
        QCOMPARE(two.size(), 4);
        QCOMPARE(two.at(0), QStringLiteral("voice-2: 2 55"));
        const float lifted = two.at(1).section(QLatin1Char(' '), 2).toFloat();
        QVERIFY(lifted > 1.0f && lifted <= 2.0f);
        QCOMPARE(mLog->pdPrints(QStringLiteral("voice-128: 5 0.5")).size(), 1);
        QCOMPARE(mLog->pdPrints(QStringLiteral("voice-")).size(), 8 + 126);
        QVERIFY(!mLog->contains(QStringLiteral("W libPD:")));
    }

    // ------------------------------------------------------------ patches

    void loadCycles()
    {
        QSignalSpy loaded(mPlayer.get(), &PdPlayer::patchLoaded);
        const QList<QFileInfo> order {mFolder->protocol(), mFolder->main(), mFolder->main(), mFolder->protocol()};
        for (int round = 0; round < 3; ++round) {
            for (const QFileInfo& patch : order) {
                QVERIFY(mPlayer->loadPatch(patch));
                QVERIFY(mPlayer->isPatchOpen());
                QCOMPARE(loaded.last().at(0).toString(), patch.absoluteFilePath());
                QCOMPARE(bindingsOf("voice-stop", 500.0f), 1);
                QCOMPARE(bindingsOf("output-voice-info"), 1);
                toggle(*mPlayer, QString());
                render(*mPlayer, 2);
                QCOMPARE(mPlayer->noteCount(), 1);
            }
            mPlayer->unloadPatch();
            QVERIFY(!mPlayer->isPatchOpen());
            QCOMPARE(mPlayer->noteCount(), 0);
            QCOMPARE(bindingsOf("voice-stop"), 0);
            QCOMPARE(bindingsOf("output-voice-info"), 0);
            mPlayer->unloadPatch(); // nothing open: nothing closed
        }
        QCOMPARE(loaded.count(), 12);
        QCOMPARE(mLog->count(QStringLiteral("Closing PD patch...")), 12);
    }

    void loadFailures()
    {
        QSignalSpy loaded(mPlayer.get(), &PdPlayer::patchLoaded);
        QVERIFY(mPlayer->loadPatch(mFolder->protocol()));
        QVERIFY(!mPlayer->loadPatch(QFileInfo(mFolder->path() + QStringLiteral("/missing.pd"))));
        QVERIFY(mLog->contains(QStringLiteral("Opening PD patch failed: ")));
        QVERIFY(!mPlayer->isPatchOpen());
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(bindingsOf("voice-stop"), 0);
        // Afterwards loading works again.
        QVERIFY(mPlayer->loadPatch(mFolder->protocol()));
        QCOMPARE(bindingsOf("voice-stop", 500.0f), 1);
    }

    // A real second thread drains the rings as the audio callback does.
    void handOverWithAudioThread()
    {
        StreamFlagOutput output;
        output.mRunning = true;
        mPlayer->setOutput(&output);
        std::atomic<bool> stop {false};
        PdPlayer* player = mPlayer.get();
        std::thread audio([&] {
            std::vector<float> block(512);
            while (!stop.load()) {
                PaAudioOutput::renderBlock(player, block.data(), 256, output.isMuted());
                std::this_thread::yield();
            }
        });
        QSignalSpy loaded(mPlayer.get(), &PdPlayer::patchLoaded);
        bool ok = true;
        for (int i = 0; i < 6; ++i) {
            ok = ok && mPlayer->loadPatch(i % 2 ? mFolder->main() : mFolder->protocol());
            ok = ok && !mPlayer->loadPatch(QFileInfo(mFolder->path() + QStringLiteral("/missing.pd")));
            mPlayer->unloadPatch();
        }
        ok = ok && mPlayer->loadPatch(mFolder->main());
        stop = true;
        audio.join();
        QVERIFY(ok);
        QCOMPARE(loaded.count(), 7);
        QVERIFY(mPlayer->isPatchOpen());
        QVERIFY(!output.isMuted());
        QVERIFY(!mLog->contains(QStringLiteral("handling the patch request on the GUI thread")));
        mPlayer->setOutput(nullptr);
    }

    void handOverWithoutStream()
    {
        StreamFlagOutput output; // no stream runs: the work is done here
        mPlayer->setOutput(&output);
        QVERIFY(mPlayer->loadPatch(mFolder->protocol()));
        QVERIFY(mPlayer->isPatchOpen());
        mPlayer->unloadPatch();
        QVERIFY(!mPlayer->isPatchOpen());
        QVERIFY(!output.isMuted());
        mPlayer->setOutput(nullptr);
    }

    void handOverWithFullRing()
    {
        StreamFlagOutput output;
        output.mRunning = true; // "runs" but never drains
        mPlayer->setOutput(&output);
        for (int i = 0; i < PdMessageBuffer::MAX_CHUNKS; ++i)
            queue(*mPlayer, ArborEvent::VoiceVolumeSet, float(i));
        QVERIFY(!mPlayer->loadPatch(mFolder->protocol()));
        QVERIFY(mLog->contains(QStringLiteral("could not queue the patch request")));
        QVERIFY(!output.isMuted());
        mPlayer->processEvents();
        QCOMPARE(mPlayer->voiceVolume(), float(PdMessageBuffer::MAX_CHUNKS - 1));
        QVERIFY(!mPlayer->isPatchOpen());
        mPlayer->setOutput(nullptr);
    }

    // A wake for someone else's request (here a plain ClosePatch, as a wand
    // mapping sends it) does not end the GUI's wait: only its own ticket does.
    void handOverWaitsForItsTicket()
    {
        StreamFlagOutput output;
        output.mRunning = true; // this test plays the audio thread
        mPlayer->setOutput(&output);
        std::atomic<bool> finished {false};
        std::thread gui([&] {
            mPlayer->unloadPatch();
            finished = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(mLog->contains(QStringLiteral("GUI waiting for audio thread to unload patch")), 60000);
        PdMessageBuffer::Chunk plain;
        plain.mType = ArborEvent::ClosePatch;
        plain.mValue = 1.0f;
        for (int i = 0; i < 5; ++i) {
            mPlayer->processChunk(&plain);
            QTest::qWait(40);
        }
        const bool finishedEarly = finished.load();
        mPlayer->processEvents(); // the ticketed request
        gui.join();
        QVERIFY(!finishedEarly);
        QVERIFY(finished.load());
        QVERIFY(!output.isMuted());
        QVERIFY(!mLog->contains(QStringLiteral("finishing it on the GUI thread")));
        mPlayer->setOutput(nullptr);
    }

    void handOverStreamStopsWhileWaiting()
    {
        StreamFlagOutput output;
        output.mRunning = true;
        mPlayer->setOutput(&output);
        bool result = false;
        std::thread gui([&] { result = mPlayer->loadPatch(mFolder->protocol()); });
        QTRY_VERIFY_WITH_TIMEOUT(mLog->contains(QStringLiteral("GUI waiting for audio thread to unload patch")), 60000);
        output.mRunning = false; // the device went away
        gui.join();
        QVERIFY(result);
        QVERIFY(mPlayer->isPatchOpen());
        QVERIFY(mLog->contains(QStringLiteral("finishing it on the GUI thread")));
        // The request left in the ring is stale now and does not close the patch.
        mPlayer->processEvents();
        QVERIFY(mPlayer->isPatchOpen());
        QVERIFY(mLog->contains(QStringLiteral("dropping stale patch request")));
        mPlayer->setOutput(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
