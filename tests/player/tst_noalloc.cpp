// The audio thread makes no heap allocation. operator new and the malloc
// family are replaced by counting versions in this executable; the count is
// armed only while a second thread does what the audio callback does: drain
// a full ring of every request type and render blocks, with the engine's
// signals connected queued to an object of the main thread as the
// application connects them. The main thread waits in join() meanwhile.

#include "AllocationCounter.h"
#include "DistinctPaths.h"
#include "PlayerTestSupport.h"

#include <QMetaMethod>

#include <thread>

using namespace PlayerTest;

class Receiver : public QObject
{
    Q_OBJECT
public slots:
    void count() { ++mCount; }

public:
    int mCount = 0;
};

class TestNoAlloc : public QObject
{
    Q_OBJECT

private slots:
    void counterSeesAllocations()
    {
        armAllocationCounter();
        const QString text = QString::number(123456789);
        const std::string s(100, 'x');
        QVERIFY(disarmAllocationCounter().total() >= 2);
    }

    void audioThread_data()
    {
        QTest::addColumn<bool>("withPatch");
        QTest::newRow("no patch") << false;
        QTest::newRow("shell and Sine voice open") << true;
    }
    void audioThread()
    {
        QFETCH(bool, withPatch);
        RuntimeFolder folder;
        PdPlayer player;
        QVERIFY(player.init());
        player.initAudio(2, 44100);
        QVERIFY(!withPatch || player.loadPatch(folder.main()));
        Receiver receiver;
        const QMetaMethod count = receiver.metaObject()->method(receiver.metaObject()->indexOfSlot("count()"));
        for (int i = player.metaObject()->methodOffset(); i < player.metaObject()->methodCount(); ++i)
            if (player.metaObject()->method(i).methodType() == QMetaMethod::Signal)
                QVERIFY(connect(&player, player.metaObject()->method(i), &receiver, count, Qt::QueuedConnection));
        // Toggles over 160 balls (later note-ons steal) between every other
        // request: all notes off, transpositions up, down and back, volumes,
        // mono and poly, patch steps, base frequency, a prime, macros, unknown types.
        const QStringList paths = distinctPaths(160);
        const float requests[][2] = {{1, 1}, {2, 3}, {2, -3}, {2, 0}, {3, 0}, {4, 0.5f}, {5, 0}, {6, 0.5f}, {7, 1},
                                     {7, 0}, {8, 1}, {8, 0}, {9, 440}, {10, 5}, {11, 0.5f}, {18, 0.5f}, {21, 0}, {-1, 0}};
        std::vector<float> block(512);
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < PdMessageBuffer::MAX_CHUNKS; ++i) {
                if (i % 3 != 2)
                    toggle(player, paths.at(i % paths.size()));
                else
                    queue(player, int(requests[i / 3 % 18][0]), requests[i / 3 % 18][1]);
            }
            long allocations = 0;
            std::thread([&] {
                armAllocationCounter();
                player.processEvents();
                for (int i = 0; i < 100; ++i) // releases end, stolen voices are reported; every other block muted
                    PaAudioOutput::renderBlock(&player, block.data(), 256, i % 2);
                allocations = disarmAllocationCounter().total();
            }).join();
            if (round > 0) // the first round enters the receiver names into Pd's symbol table
                QCOMPARE(allocations, 0L);
            QTRY_VERIFY(receiver.mCount > PdMessageBuffer::MAX_CHUNKS / 3); // the engine's timer delivers
            receiver.mCount = 0;
        }
        player.unloadPatch();
    }
};

QTEST_GUILESS_MAIN(TestNoAlloc)
#include "tst_noalloc.moc"
