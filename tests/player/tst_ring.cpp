// The command rings: capacity, wrap-around, what a chunk carries, two producers and one consumer as the GUI, the wand thread and
// the callback (the result ring is the same ring, used by the engine tests). Also built with ThreadSanitizer (test_player_ring_tsan).

#include "PlayerTestSupport.h"

#include "ArborPath.h"

#include <cstring>

using namespace PlayerTest;

// A chunk whose fields all derive from its producer and sequence number.
static PdMessageBuffer::Chunk make(int producer, int seq)
{
    PdMessageBuffer::Chunk c {seq, {}, float(seq)};
    for (int i = 0; i < 7; ++i)
        c.mPath[i] = static_cast<signed char>(i < 6 ? (seq + i + producer) % 100 + 1 : producer);
    return c;
}

class TestRing : public QObject
{
    Q_OBJECT

private slots:
    // `offset` chunks pass through first (-1: the ring was never created), so that the fill wraps around the end of the ring. Even
    // chunks are notes, odd ones plain events; the oldest are kept, in order.
    void commandRing_data()
    {
        QTest::addColumn<QList<int>>("row"); // offset, queued, kept
        for (const QList<int>& r : QList<QList<int>> {{0, 1, 1}, {0, 1023, 1023}, {0, 1024, 1023}, {0, 3000, 1023}, {7, 1023, 1023},
                                                      {700, 1024, 1023}, {1022, 500, 500}, {-1, 5, 0}})
            QTest::addRow("offset %d, %d queued", r[0], r[1]) << r;
    }
    void commandRing()
    {
        QFETCH(QList<int>, row);
        const int offset = row[0], queued = row[1], kept = row[2];
        LogCatcher log;
        PdMessageBuffer buffer;
        QVERIFY(offset < 0 || buffer.init());
        PdMessageBuffer::ChunkList list;
        const ArborEvent skipped(ArborEvent::AllNotesOff, 1.0f);
        for (int i = 0; i < offset; ++i)
            buffer.queueEvent(&skipped);
        buffer.processEvents(list);
        QCOMPARE(int(list.size()), std::max(offset, 0));
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
        QCOMPARE(log.lines(QStringLiteral("W Command buffer full")).size(), offset < 0 ? 0 : queued - kept);
        for (int drain = 0; drain < 2; ++drain) { // an empty drain leaves the list alone
            buffer.processEvents(list);
            QCOMPARE(int(list.size()), kept);
        }
        for (int i = 0; i < kept; ++i) {
            const PdMessageBuffer::Chunk* c = list[std::uint64_t(i)];
            QVERIFY(c->mType == (i % 2 ? i : 0) && c->mValue == (i % 2 ? -0.5f * float(i) : 1.0f));
            QVERIFY(ArborPath::fromRaw(c->mPath) == (i % 2 ? ArborPath() : path) && c->mPath[6] == 0);
        }
        QCOMPARE(buffer.pendingBytes(), 0);
    }

    // Every chunk must arrive whole, once and in order. The producers wait for room first (a full ring would log a warning per try)
    // and give up when the consumer does.
    void twoProducersOneConsumer()
    {
        const int perProducer = 100000;
        PdMessageBuffer rings[2];
        QVERIFY(rings[0].init() && rings[1].init());
        std::atomic<bool> stop {false};
        const auto produce = [&](int p) {
            const int room = PdMessageBuffer::RING_BYTES - 1 - int(sizeof(PdMessageBuffer::Chunk));
            for (int seq = 0; seq < perProducer && !stop.load(); ++seq) {
                const PdMessageBuffer::Chunk c = make(p, seq);
                while (!stop.load() && (rings[p].pendingBytes() > room || !rings[p].writeChunk(&c)))
                    std::this_thread::yield();
            }
        };
        std::thread producers[2] = {std::thread(produce, 0), std::thread(produce, 1)};
        int expected[2] = {0, 0}, bad = 0;
        PdMessageBuffer::ChunkList list;
        while (!bad && expected[0] + expected[1] < 2 * perProducer) {
            for (int p = 0; p < 2; ++p) {
                rings[p].processEvents(list);
                for (std::uint64_t i = 0; i < list.size(); ++i) {
                    const PdMessageBuffer::Chunk e = make(p, expected[p]++);
                    // Field by field: the byte of padding after the path carries nothing.
                    bad += list[i]->mType != e.mType || list[i]->mValue != e.mValue
                           || std::memcmp(list[i]->mPath, e.mPath, sizeof(e.mPath)) != 0;
                }
                list.setSize(0);
            }
        }
        stop = true;
        for (std::thread& t : producers)
            t.join();
        QCOMPARE(bad, 0);
        QCOMPARE(rings[0].pendingBytes() + rings[1].pendingBytes(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRing)
#include "tst_ring.moc"
