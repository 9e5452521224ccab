// Each voice patch runs in the shell under pd -batch without complaints, answers the macro query and reports its released voice;
// each shell patch opens alone. The audio thread over it allocates nothing (AllocationCounter.cpp counts new and malloc here).

#include "AllocationCounter.h"
#include "PlayerTestSupport.h"

using namespace PlayerTest;

class TestPatchSet : public QObject
{
    Q_OBJECT
    int mDelivered = 0;

public slots:
    void count() { ++mDelivered; }

private slots:
    void batch_data()
    {
        QTest::addColumn<QString>("voice");
        QTest::addColumn<QStringList>("open");
        QTest::addColumn<QStringList>("expected"); // lines printed once each; empty: quit at once
        const QStringList check {"arbor_main.pd", "batch_check.pd"};
        const QDir voices(sourcePatches());
        for (const QString& f : voices.entryList({QStringLiteral("*.pd")}, QDir::Files)) {
            const QString macros = f == "Sine.pd" ? "check-voice-info: list info attack(0.1):release(0.2)" : "";
            QTest::newRow(qPrintable(f)) << voices.filePath(f) << check << QStringList {"check-voice-stop: 1", macros};
        }
        for (const char* f : {"equal-loudness.pd", "tb_compressor~.pd", "tb_compressorUI.pd", "arbor_vprep.pd"})
            QTest::newRow(f) << sourcePatches() + "/Sine.pd" << QStringList {f} << QStringList();
    }
    void batch()
    {
        QFETCH(QString, voice);
        QFETCH(QStringList, open);
        QFETCH(QStringList, expected);
        const QString pd = QStandardPaths::findExecutable("pd");
        if (pd.isEmpty())
            QSKIP("pd is not installed");
        RuntimeFolder folder(voice);
        QVERIFY(QFile::copy(testData() + "/batch_check.pd", folder.path() + "/batch_check.pd"));
        QStringList args {"-nogui", "-batch", "-noprefs", "-stderr", "-noaudio", "-nomidi", "-path", folder.path()};
        for (const QString& f : open)
            args << "-open" << folder.path() + "/" + f;
        if (expected.isEmpty())
            args << "-send" << "pd quit";
        QProcess p;
        p.setWorkingDirectory(folder.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(pd, args);
        if (!p.waitForFinished(60000))
            p.kill();
        const QString output = QString::fromLocal8Bit(p.readAll());
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(output));
        const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& line : lines) // Pd's complaints, and its "... you might be able to track this down" lines
            QVERIFY2(!line.contains("error") && !line.contains("couldn't") && !line.contains("... "), qPrintable(line));
        for (const QString& e : expected)
            QVERIFY2(e.isEmpty() || lines.count(e) == 1, qPrintable(output));
    }

    // A second thread calls the stream back: it drains a full ring of toggles over 160 balls (later ones steal) between requests of
    // every type and a full MIDI ring of keys down and up, and renders 100 blocks, muted in the second round. The signals are
    // connected queued, as in the application.
    void audioThread_data()
    {
        QTest::addColumn<bool>("withPatch");
        QTest::newRow("no patch") << false;
        QTest::newRow("shell and Sine voice open") << true;
    }
    void audioThread()
    {
        QFETCH(bool, withPatch);
        armAllocationCounter(); // the counter sees allocations
        const QString text = QString::number(123456789);
        QVERIFY(disarmAllocationCounter().total() > 0);
        RuntimeFolder folder;
        PdPlayer player;
        QVERIFY(player.init());
        FakePaApi api;
        PaAudioOutput out(nullptr, &api);
        QVERIFY(out.init(256, 0, &player)); // the thread calls its stream back (the engine does not wait for it)
        QVERIFY(!withPatch || player.loadPatch(folder.main()));
        const QMetaMethod count = metaObject()->method(metaObject()->indexOfSlot("count()"));
        for (int i = player.metaObject()->methodOffset(); i < player.metaObject()->methodCount(); ++i)
            if (player.metaObject()->method(i).methodType() == QMetaMethod::Signal)
                QVERIFY(connect(&player, player.metaObject()->method(i), this, count, Qt::QueuedConnection));
        const QStringList paths = distinctPaths(160);
        const float requests[][2] = {{1, 1}, {2, 3}, {2, -3}, {2, 0}, {3, 0}, {4, 0.5f}, {5, 0}, {6, 0.5f}, {7, 1},
                                     {7, 0}, {8, 1}, {8, 0}, {9, 440}, {10, 5}, {11, 0.5f}, {18, 0.5f}, {21, 0}, {-1, 0}};
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < PdMessageBuffer::MAX_CHUNKS; ++i) {
                i % 3 != 2 ? toggle(player, paths.at(i % paths.size()))
                           : queue(player, int(requests[i / 3 % 18][0]), requests[i / 3 % 18][1]);
                const ArborNoteEvent key(ArborEvent::Type(ArborEvent::NoteOn + i % 2), paths.at(i / 2 % paths.size()), 0.5f);
                QVERIFY(player.queueEventMidi(&key)); // and the MIDI ring full of keys down and up
            }
            round == 1 ? out.mute() : out.unmute(); // it fades out, then in
            long allocations = 0;
            std::thread([&] {
                float block[512];
                armAllocationCounter();
                for (int i = 0; i < 100; ++i)
                    api.mCallback(nullptr, block, 256, nullptr, 0, api.mUserData);
                allocations = disarmAllocationCounter().total();
            }).join();
            if (round > 0) // the first round enters the receiver names into Pd's symbol table
                QCOMPARE(allocations, 0L);
            QTRY_VERIFY(mDelivered > PdMessageBuffer::MAX_CHUNKS / 3); // the engine's timer delivers
            mDelivered = 0;
        }
        player.unloadPatch();
    }
};

QTEST_GUILESS_MAIN(TestPatchSet)
#include "tst_patchset.moc"
