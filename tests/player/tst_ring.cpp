// The rings between the threads: the command ring (capacity, wrap-around,
// what a chunk carries) and the result ring (capacity, order, drops, and the
// signals that wait in it until the engine's own thread empties it).

#include "PlayerTestSupport.h"

#include "ArborPath.h"

#include <thread>

using namespace PlayerTest;

class TestRing : public QObject
{
    Q_OBJECT

private slots:
    // `offset` chunks pass through first, so that the fill wraps around the
    // end of the ring. Even chunks are notes, odd ones plain events.
    void commandRing_data()
    {
        QTest::addColumn<int>("offset"); // -1: the ring was never created
        QTest::addColumn<int>("queued");
        QTest::addColumn<int>("kept");
        QTest::newRow("one") << 0 << 1 << 1;
        QTest::newRow("exactly full") << 0 << 1023 << 1023;
        QTest::newRow("one too many") << 0 << 1024 << 1023;
        QTest::newRow("many too many") << 0 << 3000 << 1023;
        QTest::newRow("full, wrapped by 7") << 7 << 1023 << 1023;
        QTest::newRow("too many, wrapped by 700") << 700 << 1024 << 1023;
        QTest::newRow("wrapped by 1022") << 1022 << 500 << 500;
        QTest::newRow("never created") << -1 << 5 << 0;
    }
    void commandRing()
    {
        QFETCH(int, offset);
        QFETCH(int, queued);
        QFETCH(int, kept);
        LogCatcher log;
        PdMessageBuffer buffer;
        QVERIFY(offset < 0 || buffer.init());
        PdMessageBuffer::ChunkList list;
        const ArborEvent skipped(ArborEvent::AllNotesOff, 1.0f);
        for (int i = 0; i < offset; ++i)
            QVERIFY(buffer.queueEvent(&skipped));
        buffer.processEvents(list);
        list.setSize(0);
        const ArborPath path(QStringLiteral("/31/-29/23/-19/17/-13"));
        int accepted = 0;
        for (int i = 0; i < queued; ++i) {
            const ArborNoteEvent note(path);
            const ArborEvent plain(ArborEvent::Type(i), -0.5f * float(i));
            accepted += buffer.queueEvent(i % 2 ? &plain : &note) ? 1 : 0;
        }
        QVERIFY(!buffer.queueEvent(nullptr));
        QCOMPARE(accepted, kept);
        QCOMPARE(log.count(QStringLiteral("W Command buffer full")), offset < 0 ? 0 : queued - kept);
        for (int drain = 0; drain < 2; ++drain) { // an empty drain leaves the list alone
            buffer.processEvents(list);
            QCOMPARE(int(list.size()), kept);
        }
        for (int i = 0; i < kept; ++i) { // the oldest are kept, in order
            const PdMessageBuffer::Chunk* c = list[std::uint64_t(i)];
            QCOMPARE(c->mType, i % 2 ? i : 0);
            QCOMPARE(c->mValue, i % 2 ? -0.5f * float(i) : 1.0f);
            QCOMPARE(ArborPath::fromRaw(c->mPath), i % 2 ? ArborPath() : path);
            QCOMPARE(int(c->mPath[6]), 0);
        }
        QCOMPARE(buffer.pendingBytes(), 0);
    }

    void resultRing()
    {
        PdResultBuffer ring;
        PdResultBuffer::Result r;
        QVERIFY(!ring.write(r)); // never created: counted as dropped
        QCOMPARE(ring.takeDropped(), 1u);
        QVERIFY(ring.init());
        for (int round = 0; round < 2; ++round) { // the second round wraps
            for (int i = 0; i < PdResultBuffer::MAX_RESULTS; ++i) {
                r.mInt = i;
                r.mNumerator = std::uint64_t(i) + 2;
                r.mDenominator = ~std::uint64_t(i);
                QVERIFY(ring.write(r));
            }
            QVERIFY(!ring.write(r));
            QVERIFY(!ring.write(r));
            QCOMPARE(ring.takeDropped(), 2u);
            QCOMPARE(ring.takeDropped(), 0u);
            for (int i = 0; i < PdResultBuffer::MAX_RESULTS; ++i) {
                QVERIFY(ring.read(r));
                QCOMPARE(r.mInt, i);
                QCOMPARE(r.mNumerator, std::uint64_t(i) + 2);
                QCOMPARE(r.mDenominator, ~std::uint64_t(i));
            }
            QVERIFY(!ring.read(r));
        }
    }

    // Executed on another thread, requests report nothing until the engine's
    // own thread (its timer) empties the result ring; then every signal
    // comes, in order, with its values, before what that thread executes.
    void resultsFromAnotherThread()
    {
        PdPlayer player;
        QVERIFY(player.init());
        QSignalSpy toggled(&player, &PdPlayer::noteToggled);
        QSignalSpy transposed(&player, &PdPlayer::transposed);
        QSignalSpy volumes(&player, &PdPlayer::voiceVolumeChanged);
        QSignalSpy primes(&player, &PdPlayer::primeEnabledToggled);
        QSignalSpy mono(&player, &PdPlayer::monophonicChanged);
        toggle(player, QStringLiteral("3"));
        queue(player, ArborEvent::Transpose, 5.0f);
        toggle(player, QStringLiteral("3"));
        queue(player, ArborEvent::VoiceVolumeSet, 0.25f);
        queue(player, ArborEvent::PrimeToggle, 7.0f);
        queue(player, ArborEvent::Monophonic, 1.0f);
        std::thread([&] { player.processEvents(); }).join();
        QCOMPARE(toggled.count() + transposed.count() + volumes.count() + primes.count() + mono.count(), 0);
        QVERIFY(toggled.wait(5000));
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(toggled.at(0).at(0).value<ArborRatio>(), ArborRatio(3, 2));
        QCOMPARE(toggled.at(1).at(0).value<ArborRatio>(), ArborRatio(15, 8));
        QVERIFY(toggled.at(0).at(1).toBool() && toggled.at(1).at(1).toBool());
        QCOMPARE(transposed.at(0).at(0).value<ArborRatio>(), ArborRatio(5, 4));
        QCOMPARE(transposed.at(0).at(1).toInt(), 5);
        QCOMPARE(volumes.at(0).at(0).toFloat(), 0.25f);
        QCOMPARE(primes.at(0), (QList<QVariant> {7, false}));
        QCOMPARE(mono.at(0).at(0).toBool(), true);

        queue(player, ArborEvent::VoiceVolumeSet, 0.5f);
        std::thread([&] { player.processEvents(); }).join();
        queue(player, ArborEvent::VoiceVolumeSet, 0.75f);
        player.processEvents();
        QCOMPARE(volumes.count(), 3);
        QCOMPARE(volumes.at(1).at(0).toFloat(), 0.5f);
        QCOMPARE(volumes.at(2).at(0).toFloat(), 0.75f);
    }

    // A GUI that does not keep up loses the surplus, and says so.
    void resultFloodIsReported()
    {
        LogCatcher log;
        PdPlayer player;
        QVERIFY(player.init());
        QSignalSpy volumes(&player, &PdPlayer::voiceVolumeChanged);
        const int drains = PdResultBuffer::MAX_RESULTS / PdMessageBuffer::MAX_CHUNKS + 1;
        std::thread([&] {
            for (int d = 0; d < drains; ++d) {
                for (int i = 0; i < PdMessageBuffer::MAX_CHUNKS; ++i)
                    queue(player, ArborEvent::VoiceVolumeSet, float(i));
                player.processEvents();
            }
        }).join();
        player.deliverResults();
        QCOMPARE(volumes.count(), PdResultBuffer::MAX_RESULTS);
        const int dropped = drains * PdMessageBuffer::MAX_CHUNKS - PdResultBuffer::MAX_RESULTS;
        QVERIFY(log.contains(QStringLiteral("the GUI fell behind the audio thread: %1 engine changes").arg(dropped)));
    }
};

QTEST_GUILESS_MAIN(TestRing)
#include "tst_ring.moc"
