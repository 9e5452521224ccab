// The audio path makes no heap allocation: every request type drained and
// executed from a full ring, and callbacks rendering 128 held voices of the
// Sine voice patch. operator new and the malloc family (Qt's containers
// allocate through malloc) are replaced by counting versions for this
// executable; the count is armed only around the audio-thread work.
// Emitting the engine's signals allocates nothing while nothing is
// connected; queued receivers, as the application connects them, do
// allocate in Qt's event posting, which is not counted here.

#include "AllocationCounter.h"
#include "DistinctPaths.h"
#include "PlayerTestSupport.h"

#include "ArborPath.h"
#include "ArborRatio.h"

#include <QSet>


namespace
{
void arm() { PlayerTest::armAllocationCounter(); }
long disarm() { return PlayerTest::disarmAllocationCounter().total(); }
}

using namespace PlayerTest;

namespace
{

// A full ring holding every request type that has no error path: toggles
// over 160 balls (so later note-ons steal), releases, all notes off,
// transpositions up, down and back, volumes, mono and poly, patch steps,
// base frequency, prime toggles (each twice), macros, unknown types.
void queueEveryRequest(PdPlayer& player, const QStringList& paths)
{
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
            continue;
        }
        const int k = (i / 3) % cycleLength;
        const ArborEvent::Type type = cycle[k];
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
        QVERIFY(player.init());
        player.initAudio(2, 44100);
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
        QVERIFY(player.init());
        player.initAudio(2, 44100);
        QVERIFY(player.loadPatch(folder.main()));
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
};

QTEST_GUILESS_MAIN(TestNoAlloc)
#include "tst_noalloc.moc"
