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
constexpr int PER_PRODUCER = 200000;

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

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
}

class TestRingStress : public QObject
{
    Q_OBJECT

private slots:
    void twoProducersOneConsumer()
    {
        QtMessageHandler previous = qInstallMessageHandler(&quiet); // "Command buffer full" is expected
        PdMessageBuffer rings[2];
        QVERIFY(rings[0].init());
        QVERIFY(rings[1].init());
        std::atomic<int> done {0};
        std::atomic<bool> stop {false}; // the consumer gave up: the producers must not wait for it
        std::thread producers[2];
        for (int p = 0; p < 2; ++p) {
            producers[p] = std::thread([&, p] {
                for (int seq = 0; seq < PER_PRODUCER && !stop.load(); ++seq) {
                    const PdMessageBuffer::Chunk c = make(p, seq);
                    while (!stop.load() && rings[p].pendingBytes() > PdMessageBuffer::RING_BYTES - 1 - int(sizeof(c)))
                        std::this_thread::yield();
                    while (!stop.load() && !rings[p].writeChunk(&c))
                        std::this_thread::yield();
                }
                done.fetch_add(1);
            });
        }
        int expected[2] = {0, 0};
        int bad = 0;
        int drains = 0;
        PdMessageBuffer::ChunkList list;
        while (expected[0] < PER_PRODUCER || expected[1] < PER_PRODUCER) {
            for (int p = 0; p < 2; ++p) {
                rings[p].processEvents(list);
                for (std::uint64_t i = 0; i < list.size(); ++i) {
                    if (!intact(list[i], p, expected[p]))
                        ++bad;
                    ++expected[p];
                }
                list.setSize(0);
            }
            ++drains;
            if (bad) {
                stop = true;
                break;
            }
        }
        for (std::thread& t : producers)
            t.join();
        qInstallMessageHandler(previous);
        QCOMPARE(bad, 0);
        QCOMPARE(expected[0], PER_PRODUCER);
        QCOMPARE(expected[1], PER_PRODUCER);
        QCOMPARE(done.load(), 2);
        QVERIFY(drains > 1);
        QCOMPARE(rings[0].pendingBytes(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRingStress)
#include "tst_ring_stress.moc"
