// Two producers (the GUI and the wand thread) fill their rings while one
// consumer drains both, as the audio callback does. Every chunk must arrive
// whole, once and in order. Also built with ThreadSanitizer (test_player_ring_tsan).

#include "PdMessageBuffer.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>

namespace
{
constexpr int PER_PRODUCER = 100000;

// A chunk whose fields all derive from its sequence number, so that a torn
// chunk is seen.
PdMessageBuffer::Chunk make(int producer, int seq)
{
    PdMessageBuffer::Chunk c;
    c.mType = seq;
    for (int i = 0; i < 6; ++i)
        c.mPath[i] = static_cast<signed char>((seq + i + producer) % 100 + 1);
    c.mPath[6] = static_cast<signed char>(producer);
    c.mValue = float(seq % 1000000);
    return c;
}

// Field by field: the byte of padding after the path carries nothing.
bool intact(const PdMessageBuffer::Chunk* c, int producer, int seq)
{
    const PdMessageBuffer::Chunk e = make(producer, seq);
    return c->mType == e.mType && std::memcmp(c->mPath, e.mPath, sizeof(e.mPath)) == 0 && c->mValue == e.mValue;
}
} // namespace

class TestRingStress : public QObject
{
    Q_OBJECT

private slots:
    void twoProducersOneConsumer()
    {
        PdMessageBuffer rings[2];
        QVERIFY(rings[0].init() && rings[1].init());
        std::atomic<bool> stop {false}; // the consumer gave up: the producers must not wait for it
        std::thread producers[2];
        for (int p = 0; p < 2; ++p) {
            producers[p] = std::thread([&, p] {
                const int room = PdMessageBuffer::RING_BYTES - 1 - int(sizeof(PdMessageBuffer::Chunk));
                for (int seq = 0; seq < PER_PRODUCER && !stop.load(); ++seq) {
                    const PdMessageBuffer::Chunk c = make(p, seq);
                    // Waits for room first: a full ring would log a warning per try.
                    while (!stop.load() && (rings[p].pendingBytes() > room || !rings[p].writeChunk(&c)))
                        std::this_thread::yield();
                }
            });
        }
        int expected[2] = {0, 0};
        int bad = 0;
        int drains = 0;
        PdMessageBuffer::ChunkList list;
        while (!bad && (expected[0] < PER_PRODUCER || expected[1] < PER_PRODUCER)) {
            for (int p = 0; p < 2; ++p) {
                rings[p].processEvents(list);
                for (std::uint64_t i = 0; i < list.size(); ++i)
                    bad += intact(list[i], p, expected[p]++) ? 0 : 1;
                list.setSize(0);
            }
            ++drains;
        }
        stop = true;
        for (std::thread& t : producers)
            t.join();
        QCOMPARE(bad, 0);
        QCOMPARE(expected[0], PER_PRODUCER);
        QCOMPARE(expected[1], PER_PRODUCER);
        QVERIFY(drains > 1);
        QCOMPARE(rings[0].pendingBytes() + rings[1].pendingBytes(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRingStress)
#include "tst_ring_stress.moc"
