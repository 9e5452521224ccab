// The command rings: capacity, wrap-around, what a chunk carries, and the
// order in which the engine executes the two rings.

#include "PlayerTestSupport.h"

#include "ArborEvent.h"
#include "ArborPath.h"

#include <QSignalSpy>

#include <cstring>
#include <thread>

using namespace PlayerTest;

class TestRing : public QObject
{
    Q_OBJECT

private slots:
    void capacity_data()
    {
        QTest::addColumn<int>("queued");
        QTest::addColumn<int>("kept");
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("exactly full") << 1023 << 1023;
        QTest::newRow("one too many") << 1024 << 1023;
        QTest::newRow("many too many") << 3000 << 1023;
    }
    void capacity()
    {
        QFETCH(int, queued);
        QFETCH(int, kept);
        LogCatcher log;
        PdMessageBuffer buffer;
        QVERIFY(buffer.init());
        int accepted = 0;
        for (int i = 0; i < queued; ++i) {
            const ArborEvent e(ArborEvent::MacroValue1, float(i));
            accepted += buffer.queueEvent(&e) ? 1 : 0;
        }
        QCOMPARE(accepted, kept);
        QCOMPARE(log.count(QStringLiteral("Command buffer full")), queued - kept);
        PdMessageBuffer::ChunkList list;
        buffer.processEvents(list);
        QCOMPARE(int(list.size()), kept);
        for (int i = 0; i < kept; ++i)     // the oldest are kept, in order
            QCOMPARE(list[std::uint64_t(i)]->mValue, float(i));
    }

    void uninitialisedRingDropsQuietly()
    {
        LogCatcher log;
        PdMessageBuffer buffer;
        const ArborEvent e(ArborEvent::AllNotesOff, 1.0f);
        QVERIFY(!buffer.queueEvent(&e));
        QVERIFY(!buffer.queueEvent(nullptr));
        PdMessageBuffer::ChunkList list;
        buffer.processEvents(list);
        QCOMPARE(list.size(), 0u);
    }

    // Batches that do not divide the ring make every write and read wrap.
    void wrapAround_data()
    {
        QTest::addColumn<int>("batch");
        QTest::newRow("7") << 7;
        QTest::newRow("700") << 700;
        QTest::newRow("1023") << 1023;
    }
    void wrapAround()
    {
        QFETCH(int, batch);
        PdMessageBuffer buffer;
        QVERIFY(buffer.init());
        PdMessageBuffer::ChunkList list;
        int next = 0;
        for (int round = 0; round < 40; ++round) {
            for (int i = 0; i < batch; ++i) {
                ArborNoteEvent e(ArborPath(QStringLiteral("/3/-5/7")));
                PdMessageBuffer::Chunk c;
                c.mType = next;
                c.mValue = float(next);
                std::memcpy(c.mPath, e.path().toCharArray(), 7);
                QVERIFY(buffer.writeChunk(&c));
                ++next;
            }
            list.setSize(0);
            buffer.processEvents(list);
            QCOMPARE(int(list.size()), batch);
            for (int i = 0; i < batch; ++i) {
                const PdMessageBuffer::Chunk* c = list[std::uint64_t(i)];
                QCOMPARE(c->mType, next - batch + i);
                QCOMPARE(c->mValue, float(next - batch + i));
                QCOMPARE(ArborPath::fromRaw(c->mPath), ArborPath(QStringLiteral("/3/-5/7")));
            }
        }
        QCOMPARE(buffer.pendingBytes(), 0);
    }

    void chunkContents_data()
    {
        QTest::addColumn<int>("kind"); // 0 note from text, 1 note from path, 2 plain, 3 default note
        QTest::addColumn<int>("type");
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("path");
        QTest::newRow("note from text") << 0 << 0 << 1.0f << "/-2/3/3";
        QTest::newRow("note from path") << 1 << 0 << 1.0f << "/31/-29/23/-19/17/-13";
        QTest::newRow("plain event") << 2 << int(ArborEvent::Transpose) << -3.0f << "";
        QTest::newRow("plain toggle") << 2 << 0 << 1.0f << "";
        QTest::newRow("unknown type 21") << 2 << 21 << 4.5f << "";
        QTest::newRow("type -1") << 2 << -1 << 0.0f << "";
        QTest::newRow("default note") << 3 << 0 << 1.0f << "";
    }
    void chunkContents()
    {
        QFETCH(int, kind);
        QFETCH(int, type);
        QFETCH(float, value);
        QFETCH(QString, path);
        PdMessageBuffer buffer;
        QVERIFY(buffer.init());
        ArborEvent* e = nullptr;
        if (kind == 0)
            e = new ArborNoteEvent(path);
        else if (kind == 1)
            e = new ArborNoteEvent(ArborPath(path));
        else if (kind == 2)
            e = new ArborEvent(ArborEvent::Type(type), value);
        else
            e = new ArborNoteEvent();
        QVERIFY(buffer.queueEvent(e));
        delete e; // the ring holds a copy
        PdMessageBuffer::ChunkList list;
        buffer.processEvents(list);
        QCOMPARE(list.size(), 1u);
        QCOMPARE(list[0]->mType, type);
        QCOMPARE(list[0]->mValue, value);
        QCOMPARE(ArborPath::fromRaw(list[0]->mPath), path.isEmpty() ? ArborPath() : ArborPath(path));
        QCOMPARE(int(list[0]->mPath[6]), 0);
    }

    void emptyDrainLeavesListAlone()
    {
        PdMessageBuffer buffer;
        QVERIFY(buffer.init());
        PdMessageBuffer::ChunkList list;
        buffer.processEvents(list);
        QCOMPARE(list.size(), 0u);
        const PdMessageBuffer::Chunk marker;
        list[0] = &marker;
        buffer.processEvents(list);
        QCOMPARE(list.size(), 1u);
        QCOMPARE(list[0], &marker);
    }

    // Within one drain the wand ring runs first, whichever was queued first,
    // and each ring keeps its order.
    void serialBeforeGui()
    {
        PdPlayer player;
        QVERIFY(player.init());
        QSignalSpy volumes(&player, &PdPlayer::voiceVolumeChanged);
        for (int i = 0; i < 3; ++i) {
            const ArborEvent gui(ArborEvent::VoiceVolumeSet, float(10 + i));
            player.queueEventGui(&gui);
            const ArborEvent wand(ArborEvent::VoiceVolumeSet, float(20 + i));
            player.queueEventSerial(&wand);
        }
        player.processEvents();
        QList<float> order;
        for (const QList<QVariant>& args : volumes)
            order << args.at(0).toFloat();
        QCOMPARE(order, (QList<float> {20, 21, 22, 10, 11, 12}));
        player.processEvents();
        QCOMPARE(volumes.count(), 6);
    }

    // ------------------------------------------------------------ results

    void resultRingCapacityAndOrder()
    {
        PdResultBuffer ring;
        PdResultBuffer::Result r;
        QVERIFY(!ring.write(r)); // never created: counted as dropped
        QCOMPARE(ring.takeDropped(), 1u);
        QVERIFY(ring.init());
        for (int round = 0; round < 2; ++round) { // the second round wraps
            for (int i = 0; i < PdResultBuffer::MAX_RESULTS; ++i) {
                r.mKind = PdResultBuffer::NoteOn;
                r.mInt = i;
                r.mNumerator = std::uint64_t(i) + 2;
                r.mDenominator = 0xffffffffffffffffull - std::uint64_t(i);
                QVERIFY(ring.write(r));
            }
            QVERIFY(!ring.write(r));
            QVERIFY(!ring.write(r));
            QCOMPARE(ring.takeDropped(), 2u);
            QCOMPARE(ring.takeDropped(), 0u);
            for (int i = 0; i < PdResultBuffer::MAX_RESULTS; ++i) {
                PdResultBuffer::Result out;
                QVERIFY(ring.read(out));
                QCOMPARE(out.mInt, i);
                QCOMPARE(out.mNumerator, std::uint64_t(i) + 2);
                QCOMPARE(out.mDenominator, 0xffffffffffffffffull - std::uint64_t(i));
            }
            PdResultBuffer::Result none;
            QVERIFY(!ring.read(none));
            QCOMPARE(ring.pendingBytes(), 0);
        }
    }

    // Executed on another thread, the requests' signals wait in the result
    // ring until the engine's own thread empties it, then come in order and
    // with their values.
    void resultsFromTheAudioThread()
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
        std::thread audio([&] { player.processEvents(); });
        audio.join();
        QCOMPARE(toggled.count() + transposed.count() + volumes.count(), 0);
        QTRY_COMPARE(toggled.count(), 2); // the engine's timer
        const ArborRatio fifth = ArborRatio::relativeFromPath(ArborPath(QStringLiteral("3")));
        ArborRatio moved = ArborRatio::relativeFromPath(ArborPath(QStringLiteral("5")));
        QCOMPARE(transposed.count(), 1);
        QCOMPARE(transposed.at(0).at(0).value<ArborRatio>(), moved);
        QCOMPARE(transposed.at(0).at(1).toInt(), 5);
        moved *= fifth;
        QCOMPARE(toggled.at(0).at(0).value<ArborRatio>(), fifth);
        QCOMPARE(toggled.at(1).at(0).value<ArborRatio>(), moved);
        QVERIFY(toggled.at(0).at(1).toBool() && toggled.at(1).at(1).toBool());
        QCOMPARE(volumes.at(0).at(0).toFloat(), 0.25f);
        QCOMPARE(primes.at(0).at(0).toInt(), 7);
        QCOMPARE(primes.at(0).at(1).toBool(), false);
        QCOMPARE(mono.at(0).at(0).toBool(), true);

        // Something the engine's own thread executes comes after what the
        // audio thread left.
        queue(player, ArborEvent::VoiceVolumeSet, 0.5f);
        std::thread again([&] { player.processEvents(); });
        again.join();
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
        std::thread audio([&] {
            for (int d = 0; d < drains; ++d) {
                for (int i = 0; i < PdMessageBuffer::MAX_CHUNKS; ++i)
                    queue(player, ArborEvent::VoiceVolumeSet, float(i));
                player.processEvents();
            }
        });
        audio.join();
        player.deliverResults();
        QCOMPARE(volumes.count(), PdResultBuffer::MAX_RESULTS);
        const int dropped = drains * PdMessageBuffer::MAX_CHUNKS - PdResultBuffer::MAX_RESULTS;
        QVERIFY(log.contains(QStringLiteral("the GUI fell behind the audio thread: %1 engine changes").arg(dropped)));
    }

    void staticArrayGrowsAtTheEnd()
    {
        StaticArray<int, 4> a;
        QCOMPARE(a.size(), 0u);
        a[0] = 5;
        a[1] = 6;
        QCOMPARE(a.size(), 2u);
        a[0] = 7; // inside: no growth
        QCOMPARE(a.size(), 2u);
        int sum = 0;
        for (int v : a)
            sum += v;
        QCOMPARE(sum, 13);
        a.setSize(0);
        QCOMPARE(a.size(), 0u);
    }
};

QTEST_GUILESS_MAIN(TestRing)
#include "tst_ring.moc"
