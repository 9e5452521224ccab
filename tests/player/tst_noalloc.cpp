// The audio path makes no heap allocation: every request type drained and
// executed from a full ring, and callbacks rendering 128 held voices of the
// Sine voice patch. operator new and the malloc family (Qt's containers
// allocate through malloc) are replaced by counting versions for this
// executable; the count is armed only around the audio-thread work.
// The requests are also executed on a second thread, as the audio callback
// executes them, with the shell and the Sine voice open and the engine's
// signals connected queued to an object of the main thread, as the
// application connects them: the audio thread then only writes result
// records, and the signals arrive once the main thread empties that ring.
// The counter counts every thread; the main thread waits in join() while it
// is armed.

#include "AllocationCounter.h"
#include "DistinctPaths.h"
#include "PlayerTestSupport.h"

#include "ArborPath.h"
#include "ArborRatio.h"

#include <QSet>

#include <thread>


namespace
{
void arm() { PlayerTest::armAllocationCounter(); }
long disarm() { return PlayerTest::disarmAllocationCounter().total(); }
}

using namespace PlayerTest;

namespace
{

// The engine as the application starts it: two channels at 44.1 kHz, with
// the shell of `folder` open when one is given.
bool startEngine(PdPlayer& player, const RuntimeFolder* folder = nullptr)
{
    if (!player.init())
        return false;
    player.initAudio(2, 44100);
    return !folder || player.loadPatch(folder->main());
}

// A full ring holding every request type that has no error path: toggles
// over 160 balls (so later note-ons steal), releases, all notes off,
// transpositions up, down and back, volumes, mono and poly, patch steps,
// base frequency, prime toggles (each twice), macros, unknown types.
// Returns how many of them are toggles, and in `reporting` how many of the
// others report a change (all but AllNotesOff and the unknown types).
int queueEveryRequest(PdPlayer& player, const QStringList& paths, int* reporting = nullptr)
{
    int toggles = 0;
    if (reporting)
        *reporting = 0;
    const ArborEvent::Type cycle[] = {ArborEvent::AllNotesOff,       ArborEvent::Transpose,
                                      ArborEvent::VoiceVolumeChange, ArborEvent::VoiceVolumeSet,
                                      ArborEvent::MasterVolumeChange, ArborEvent::MasterVolumeSet,
                                      ArborEvent::Monophonic,        ArborEvent::PatchStep,
                                      ArborEvent::BaseFrequency,     ArborEvent::PrimeToggle,
                                      ArborEvent::MacroValue1,       ArborEvent::MacroValue8,
                                      ArborEvent::Type(21),          ArborEvent::Type(-1)};
    const int cycleLength = int(sizeof(cycle) / sizeof(cycle[0]));
    for (int i = 0; i < PdMessageBuffer::MAX_CHUNKS; ++i) {
        if (i % 3 != 2) {
            toggle(player, paths.at(i % paths.size()));
            ++toggles;
            continue;
        }
        const int k = (i / 3) % cycleLength;
        const ArborEvent::Type type = cycle[k];
        if (reporting && type != ArborEvent::AllNotesOff && type >= 0 && type <= 20)
            ++*reporting;
        float value = 0.5f;
        if (type == ArborEvent::Transpose)
            value = float((i / 3) % 3 == 0 ? 3 : (i / 3) % 3 == 1 ? -3 : 0);
        else if (type == ArborEvent::VoiceVolumeChange || type == ArborEvent::MasterVolumeChange)
            value = 0.0f;
        else if (type == ArborEvent::Monophonic)
            value = float((i / 3) % 2);
        else if (type == ArborEvent::BaseFrequency)
            value = 440.0f;
        else if (type == ArborEvent::PrimeToggle)
            value = 5.0f; // flipped an even number of times per ring
        queue(player, type, value);
    }
    return toggles;
}
}

class TestNoAlloc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        PdPlayer::sAudioDebug = false;
    }

    void counterSeesAllocations()
    {
        arm();
        const QString text = QString::number(123456789);
        std::string s(100, 'x');
        const long n = disarm();
        QVERIFY(!text.isEmpty() && !s.empty());
        QVERIFY(n >= 2);
    }

    void drainAndExecuteEveryRequest()
    {
        PdPlayer player;
        QVERIFY(startEngine(player));
        const QStringList paths = distinctPaths(160);
        QCOMPARE(paths.size(), 160);
        long worst = 0;
        for (int round = 0; round < 4; ++round) {
            queueEveryRequest(player, paths);
            QVERIFY(player.voiceVolume() >= 0.0f); // the ring is full and nothing ran yet
            arm();
            player.processEvents();
            const long n = disarm();
            // In the first round Pd enters the receiver names "arbor-in"
            // and "master-vol" into its symbol table, once per process.
            if (round > 0)
                worst = std::max(worst, n);
        }
        QCOMPARE(worst, 0L);
        QVERIFY(player.noteCount() > 0);
        QVERIFY(player.isPrimeEnabled(5));
    }

    void callbacksWithSoundingVoices_data()
    {
        QTest::addColumn<int>("voices");
        QTest::addColumn<bool>("muted");
        QTest::newRow("none") << 0 << false;
        QTest::newRow("16") << 16 << false;
        QTest::newRow("128") << 128 << false;
        QTest::newRow("128 muted") << 128 << true;
    }
    void callbacksWithSoundingVoices()
    {
        QFETCH(int, voices);
        QFETCH(bool, muted);
        RuntimeFolder folder;
        QVERIFY(folder.isValid());
        PdPlayer player;
        QVERIFY(startEngine(player, &folder));
        for (const QString& p : distinctPaths(voices))
            toggle(player, p);
        std::vector<float> block(256 * 2);
        for (int i = 0; i < 40; ++i) // the notes start, the attacks pass
            PaAudioOutput::renderBlock(&player, block.data(), 256, false);
        QCOMPARE(player.noteCount(), voices);
        float peak = 0.0f;
        arm();
        for (int i = 0; i < 400; ++i) {
            PaAudioOutput::renderBlock(&player, block.data(), 256, muted);
            peak = std::max(peak, std::abs(block[0]));
        }
        const long n = disarm();
        QCOMPARE(n, 0L);
        QCOMPARE(peak > 0.0f, voices > 0 && !muted);
        player.unloadPatch();
    }

    // Every signal the audio thread causes, connected queued; the shell open
    // so that every note, macro and volume goes through Pd and the voices.
    void audioThreadWithReceiversAndPatch()
    {
        RuntimeFolder folder;
        QVERIFY(folder.isValid());
        PdPlayer player;
        QVERIFY(startEngine(player, &folder));
        QObject receiver;
        int toggles = 0, others = 0;
        const auto other = [&others] { ++others; };
        connect(&player, &PdPlayer::noteToggled, &receiver, [&toggles](ArborRatio, bool) { ++toggles; },
                Qt::QueuedConnection);
        connect(&player, &PdPlayer::transposed, &receiver, other, Qt::QueuedConnection);
        connect(&player, &PdPlayer::volumeChanged, &receiver, other, Qt::QueuedConnection);
        connect(&player, &PdPlayer::voiceVolumeChanged, &receiver, other, Qt::QueuedConnection);
        connect(&player, &PdPlayer::baseFrequencyChanged, &receiver, other, Qt::QueuedConnection);
        connect(&player, &PdPlayer::monophonicChanged, &receiver, other, Qt::QueuedConnection);
        connect(&player, &PdPlayer::primeEnabledToggled, &receiver, other, Qt::QueuedConnection);
        connect(&player, &PdPlayer::macroValueChanged, &receiver, other, Qt::QueuedConnection);
        connect(&player, &PdPlayer::patchIncRequested, &receiver, other, Qt::QueuedConnection);
        connect(&player, &PdPlayer::patchDecRequested, &receiver, other, Qt::QueuedConnection);

        const QStringList paths = distinctPaths(160);
        std::vector<float> block(256 * 2);
        long worst = 0;
        int toggleRequests = 0, reportingRequests = 0;
        for (int round = 0; round < 4; ++round) {
            int reporting = 0;
            toggleRequests += queueEveryRequest(player, paths, &reporting);
            reportingRequests += reporting;
            long n = 0;
            std::thread audio([&] {
                arm();
                player.processEvents();
                // Releases end and stolen voices are reported while rendering.
                for (int i = 0; i < 100; ++i)
                    PaAudioOutput::renderBlock(&player, block.data(), 256, false);
                n = disarm();
            });
            audio.join();
            if (round > 0) // the first round enters names into Pd's symbol table
                worst = std::max(worst, n);
            QCOMPARE(toggles + others, 0); // nothing was emitted on the audio thread
            QTRY_VERIFY(toggles > 0);      // the engine's timer empties the result ring
            player.deliverResults();
            QCoreApplication::processEvents();
            QCOMPARE(others, reportingRequests);
            // Each toggle is one on or off; steals and all-notes-off add offs.
            QVERIFY(toggles > toggleRequests);
            toggles = others = 0;
            toggleRequests = reportingRequests = 0;
        }
        QCOMPARE(worst, 0L);
        player.unloadPatch();
    }
};

QTEST_GUILESS_MAIN(TestNoAlloc)
#include "tst_noalloc.moc"
