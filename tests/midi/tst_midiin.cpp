// "Arbor in" on a real JACK server, connected to a test keyboard port as its device; the engine runs the test protocol patch,
// which prints what reaches it, and the test thread plays the audio thread.

#include "player/PlayerTestSupport.h"

#include "Arbor.h"
#include "MidiInput.h"
#include "MidiMap.h"

using namespace PlayerTest;

// Keys 60 (C 4) and 48 are 1/1, 61 toggles 7/4, 62 is 9/8, 64 5/4, 67 3/2; controller 1 is macro 1; programs step patches.
const char* const MAP = R"({"note:60": {"event": 21, "value": "/"}, "note:48": {"event": 21, "value": "/"}, "note:61": {"event": 0,
    "value": "/7"}, "note:62": {"event": 21, "value": "/3/3/-2"}, "note:64": {"event": 21, "value": "/5"}, "note:67": {"event": 21,
    "value": "/3"}, "cc:1": {"event": 11, "value": 0}, "program": {"event": 8, "value": 1}})";

class TestMidiInput : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCatcher> mLog;
    QTemporaryDir mConfig;
    RuntimeFolder mFolder {testData() + "/PrintVoice.pd"}; // which frees a voice as soon as its note is released
    Arbor mLattice;
    MidiMap mMap;
    PdPlayer mPlayer;
    MidiInput mInput {mPlayer};
    std::unique_ptr<RtMidiOut> mKeys;
    MidiPort mEcho {MidiPort::Input, "echo"}; // counts what the keys send, for pacing: a JACK port takes a cycle's worth
    static inline std::atomic<int> sEchoed {0};

    // Packets separated by "; " in hex ("90 3C 7F"), "01*3" repeating a byte.
    void send(const QString& script)
    {
        for (const QString& packet : script.split("; ", Qt::SkipEmptyParts)) {
            std::vector<unsigned char> message;
            for (const QString& item : packet.split(' '))
                message.insert(message.end(), qMax(1, item.section('*', 1).toInt()), item.left(2).toUInt(nullptr, 16));
            mKeys->sendMessage(&message);
        }
    }
    // What reached the engine since the log was cleared, engine signals marked "=>", voice numbers as "v"; the audio thread runs.
    QString played()
    {
        mPlayer.processEvents();
        const QRegularExpression wanted("^D (=>|libPD: \"arbor-in)"), marks("^D (=> |libPD: \")|\"$");
        const QRegularExpression voice("^(arbor-in: \\S+ [123]) \\d+$");
        return mLog->lines().filter(wanted).replaceInStrings(marks, "").replaceInStrings(voice, "\\1 v").join("; ");
    }

private slots:
    void initTestCase()
    {
        PdPlayer::sAudioDebug = true;
        mLog.reset(new LogCatcher);
        qputenv("XDG_DATA_HOME", mConfig.path().toLocal8Bit());
        QFile file(QDir().mkpath(SerializableRoot::configFolder()) ? SerializableRoot::configFolder() + "/midi_map.json" : "");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(MAP) > 0 && file.flush());
        QVERIFY(mMap.init(mLattice, "C 4") && mPlayer.init());
        mKeys.reset(new RtMidiOut(RtMidi::UNIX_JACK, "Keys"));
        mKeys->openVirtualPort("out");
        QVERIFY(mPlayer.loadPatch(mFolder.protocol()) && mInput.init("jack", "Keys:out", &mMap) && mInput.port().isConnected());
        QVERIFY(mEcho.init("jack", "Keys:out"));
        mEcho.input()->setCallback([](double, std::vector<unsigned char>*, void*) { ++sEchoed; });
        connect(&mPlayer, &PdPlayer::noteToggled,
                [](ArborRatio r, bool on) { qDebug("=> %c%s", on ? '+' : '-', qPrintable(r.toString())); });
        connect(&mPlayer, &PdPlayer::patchIncRequested, [] { qDebug() << "=> next"; });
        connect(&mPlayer, &PdPlayer::patchDecRequested, [] { qDebug() << "=> previous"; });
    }

    // Packets to "Arbor in", then what the engine got: "on F L" stands for the note-on prints (frequency, level, gate), "off" for
    // a note-off print, "+R"/"-R" for noteToggled. Every script ends with a marker, controller 1 at 127 on channel 16.
    void play_data()
    {
        QTest::addColumn<QStringList>("row"); // script, expected
        const auto row = [](const char* name, QString script, QString expected) { QTest::newRow(name) << QStringList {script, expected}; };
        row("key down and up, realtime inside", "90 F8 3C FE 40; 80 3C F8 40", "on 440 0.503937; +1/1; off; -1/1");
        row("running status", "90 3C 7F 43 7F; 3C 00 43 00", "on 440 1; +1/1; on 660 1; +3/2; off; -1/1; off; -3/2");
        row("velocity 0 is a key up, any channel", "91 3E 7F; 9F 3E 00", "on 495 1; +9/8; off; -9/8");
        row("sustain, pressed again", "B0 40 40; 90 3C 7F; 80 3C 00; 90 43 7F; 80 43 00; 90 3C 7F; B0 40 3F; B0 01 00; 80 3C 00",
            "on 440 1; +1/1; on 660 1; +3/2; off; -3/2; arbor-in: 0 4 0; off; -1/1");
        row("two keys, one ball", "90 30 7F; 90 3C 7F; 80 30 00; B0 01 00; 80 3C 00", "on 440 1; +1/1; arbor-in: 0 4 0; off; -1/1");
        row("toggle binding", "90 3D 7F; 80 3D 00; 90 3D 7F; 80 3D 00", "on 770 1; +7/4; off; -7/4");
        row("program changes", "C0 05; C0 07; C3 03; C0 03", "next; next; previous; next");
        row("junk", "F0 01*5000 F7; F8*300 FE*300; F0 7E; 3C 7F; 7F F7; F7 3C 7F; 90 3C; 3C; F2 01; 3C 7F; 90 00 7F; 90 3C F0 7F; B0 40",
            "");
    }
    void play()
    {
        QFETCH(QStringList, row);
        mLog->clear();
        send(row[0] + "; BF 01 7F");
        QString expected = QString(row[1] + "; arbor-in: 1 4 0").remove(QRegularExpression("^; "));
        expected.replace(QRegularExpression("on ([^ ;]+) ([^ ;]+)"), "arbor-in: \\1 2 v; arbor-in: \\2 3 v; arbor-in: 1 1 v");
        QTRY_COMPARE_WITH_TIMEOUT(played().replace("arbor-in: 0 1 v", "off"), expected, 5000);
        QVERIFY(mLog->lines("W ").isEmpty());
    }

    // 100,000 presses and releases (half of them note-ons with velocity 0) as fast as JACK takes them while the engine stalls (it
    // drains every 10,000): presses are dropped, releases never, so every start has its stop. Then key 67 sounds, and stops.
    void flood()
    {
        PdPlayer::sAudioDebug = false;
        QVERIFY(mPlayer.loadPatch(mFolder.main()));
        mLog->clear();
        const int echoed = sEchoed;
        const unsigned char keys[] = {48, 60, 62, 64};
        for (int sent = 1; sent <= 100000; ++sent) { // the four keys pressed, then released, and so on
            const bool press = (sent - 1) / 4 % 2 == 0;
            const std::vector<unsigned char> message {press || sent % 2 ? 0x90 : 0x80, keys[sent % 4], press ? 0x40 : 0};
            mKeys->sendMessage(&message);
            if (sent % 1000 == 0)
                QVERIFY(QTest::qWaitFor([&] { return sEchoed >= echoed + sent; }, 5000)); // JACK lost none
            if (sent % 10000 == 0)
                mPlayer.processEvents();
        }
        QTRY_VERIFY_WITH_TIMEOUT((send("90 43 7F"), played().endsWith("+3/2")), 10000);
        QTRY_VERIFY((send("80 43 00"), played().endsWith("-3/2")));
        QVERIFY(played().count('+') > 100 && played().count('+') == played().count('-'));
        QTRY_VERIFY_WITH_TIMEOUT(mLog->contains("dropped") && mLog->lines("W ").size() <= 2, 3000);
    }

    // The device going away is reported once and releases the keys it held; the input connects again when it returns. Closing it
    // releases what it holds.
    void device()
    {
        send("90 3C 7F");
        QTRY_VERIFY(played().endsWith("+1/1"));
        mKeys.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!mInput.port().isConnected() && played().endsWith("-1/1"), 3000);
        mKeys.reset(new RtMidiOut(RtMidi::UNIX_JACK, "Keys"));
        mKeys->openVirtualPort("out");
        QTRY_VERIFY_WITH_TIMEOUT(mInput.port().isConnected(), 3000);
        send("90 3C 7F");
        QTRY_VERIFY(played().endsWith("+1/1"));
        QCOMPARE(mLog->lines("\"Arbor in\" stays open").size(), 1);
        mInput.term();
        QVERIFY(played().endsWith("-1/1"));
    }
};

QTEST_GUILESS_MAIN(TestMidiInput)
#include "tst_midiin.moc"
