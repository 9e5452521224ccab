// "Arbor in" on a real JACK server, played by a test keyboard port; the engine runs the test protocol patch, which prints what
// reaches it, and the test thread plays the audio thread.

#include "player/PlayerTestSupport.h"

#include "Arbor.h"
#include "MidiInput.h"
#include "MidiMap.h"
#include "SerializableRoot.h"

#include <random>

using namespace PlayerTest;

namespace
{
// C 4 (key 60) is 1/1, 61 toggles 7/4, 62 is 9/8, 64 5/4, 67 3/2, 72 2/1; controller 1 is macro 1; programs step the patch.
const char* const MAP = R"({"note:60": {"event": 21, "value": "/"}, "note:61": {"event": 0, "value": "/7"},
    "note:62": {"event": 21, "value": "/3/3/-2"}, "note:64": {"event": 21, "value": "/5"}, "note:67": {"event": 21, "value": "/3"},
    "note:72": {"event": 21, "value": "/2"}, "cc:1": {"event": 11, "value": 0}, "program": {"event": 8, "value": 1}})";

// "90 3C 7F" as bytes; "01*3" repeats a byte.
std::vector<unsigned char> bytes(const QString& text)
{
    std::vector<unsigned char> out;
    for (const QString& item : text.split(' ', Qt::SkipEmptyParts))
        out.insert(out.end(), item.section('*', 1).isEmpty() ? 1 : item.section('*', 1).toUInt(), item.left(2).toUInt(nullptr, 16));
    return out;
}

int portIndex(RtMidi& midi, const QString& name)
{
    for (unsigned i = 0; i < midi.getPortCount(); ++i)
        if (QString::fromStdString(midi.getPortName(i)).endsWith(name))
            return int(i);
    return -1;
}
} // namespace

class TestMidiInput : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCatcher> mLog;
    QTemporaryDir mConfig;
    RuntimeFolder mFolder;
    Arbor mLattice;
    MidiMap mMap;
    PdPlayer mPlayer;
    MidiInput mInput {mPlayer};
    RtMidiOut mKeys {RtMidi::UNIX_JACK, "Keys"};
    RtMidiIn mEcho {RtMidi::UNIX_JACK, "Echo"}; // counts what the keyboard sends, for pacing: a JACK port takes a cycle's worth
    static inline std::atomic<int> sEchoed {0};

    // Packets separated by "; ", "packet*N" sends one N times, each on `port`.
    void send(const QString& script, RtMidiOut& port)
    {
        for (const QString& packet : script.split("; ", Qt::SkipEmptyParts)) {
            const int n = packet.section('*', -1).toInt();
            const std::vector<unsigned char> message = bytes(n > 0 ? packet.section('*', 0, -2) : packet);
            for (int i = 0; i < qMax(n, 1); ++i)
                port.sendMessage(&message);
        }
    }
    // What reached the engine since the log was cleared, engine signals marked "=>", voice numbers as "v"; the audio thread runs.
    QString played()
    {
        mPlayer.processEvents();
        return mLog->lines()
            .filter(QRegularExpression("^D (=>|libPD: \"arbor-in)"))
            .replaceInStrings(QRegularExpression("^D (=> |libPD: \")|\"$"), "")
            .replaceInStrings(QRegularExpression("^(arbor-in: \\S+ [123]) \\d+$"), "\\1 v")
            .join("; ");
    }

private slots:
    void initTestCase()
    {
        PdPlayer::sAudioDebug = true;
        mLog.reset(new LogCatcher);
        qputenv("XDG_DATA_HOME", mConfig.path().toLocal8Bit());
        QDir().mkpath(SerializableRoot::configFolder());
        QFile file(SerializableRoot::configFolder() + "/midi_map.json");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(MAP) > 0);
        file.close();
        QVERIFY(mMap.init(mLattice, "C 4"));
        QVERIFY(mPlayer.init());
        mPlayer.initAudio(2, 44100);
        QVERIFY(mPlayer.loadPatch(mFolder.protocol()));
        QVERIFY(mInput.init("jack", "", &mMap));
        QCOMPARE(mInput.port().apiName(), QString("jack"));
        mKeys.openPort(unsigned(portIndex(mKeys, "Arbor in")), "out");
        QVERIFY(mKeys.isPortOpen());
        mEcho.openPort(unsigned(portIndex(mEcho, "Keys:out")), "in");
        mEcho.setCallback([](double, std::vector<unsigned char>*, void*) { ++sEchoed; });
        connect(&mPlayer, &PdPlayer::noteToggled, [](ArborRatio r, bool on) { qDebug().noquote() << "=>" << (on ? '+' : '-') + r.toString(); });
        connect(&mPlayer, &PdPlayer::patchIncRequested, [] { qDebug() << "=> next"; });
        connect(&mPlayer, &PdPlayer::patchDecRequested, [] { qDebug() << "=> previous"; });
    }
    void cleanupTestCase() { mInput.term(); }

    // Packets to "Arbor in", then what the engine got: "on F L" stands for the three note-on prints (frequency, level, gate),
    // "off" for a note-off print, "+R"/"-R" for noteToggled. Every script ends with a marker, controller 1 at 127 on channel 16.
    void play_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("key down and up") << "90 3C 7F; 80 3C 40" << "on 440 1; +1/1; off; -1/1";
        QTest::newRow("velocity") << "90 40 40; 80 40 00" << "on 550 0.503937; +5/4; off; -5/4";
        QTest::newRow("running status") << "90 3C 7F 43 7F; 3C 00 43 00" << "on 440 1; +1/1; on 660 1; +3/2; off; -1/1; off; -3/2";
        QTest::newRow("velocity 0 is a key up") << "90 3E 7F; 90 3E 00" << "on 495 1; +9/8; off; -9/8";
        QTest::newRow("realtime inside messages") << "90 F8 3C FE 7F; 80 3C F8 00" << "on 440 1; +1/1; off; -1/1";
        QTest::newRow("any channel") << "91 3C 7F; 8F 3C 00" << "on 440 1; +1/1; off; -1/1";
        QTest::newRow("sustain holds") << "B0 40 7F; 90 3C 7F; 80 3C 00; 90 43 7F; 80 43 00; B0 40 00"
                                       << "on 440 1; +1/1; on 660 1; +3/2; off; -1/1; off; -3/2";
        QTest::newRow("pressed again under the pedal") << "B0 40 40; 90 3C 7F; 80 3C 00; 90 3C 7F; B0 40 3F; B0 01 00; 80 3C 00"
                                                       << "on 440 1; +1/1; arbor-in: 0 4 0; off; -1/1";
        QTest::newRow("toggle binding") << "90 3D 7F; 80 3D 00; 90 3D 7F; 80 3D 00" << "on 770 1; +7/4; off; -7/4";
        QTest::newRow("program changes") << "C0 05; C0 07; C3 03; C0 03" << "next; next; previous; next";
        QTest::newRow("junk") << "F0 01*5000 F7; F8*300; FE*300; F0 7E; 3C 7F; 7F F7; F7 3C 7F; 90 3C; 3C; F2 01; 3C 7F; 90 00 7F; 90 3C F0 7F; B0 40"
                              << "";
    }
    void play()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        mLog->clear();
        send(script + "; BF 01 7F", mKeys);
        expected = QString(expected + "; arbor-in: 1 4 0").remove(QRegularExpression("^; "));
        expected.replace(QRegularExpression("on ([^ ;]+) ([^ ;]+)"), "arbor-in: \\1 2 v; arbor-in: \\2 3 v; arbor-in: 1 1 v");
        QTRY_COMPARE_WITH_TIMEOUT(played().replace("arbor-in: 0 1 v", "off"), expected, 5000);
        QVERIFY(mLog->lines("W ").isEmpty());
    }

    // 100,000 presses and releases (half of them note-ons with velocity 0) as fast as JACK takes them, while the engine stalls
    // (it drains every 10,000): presses are dropped, releases never. Then key 72 is pressed until it sounds, and released.
    void flood()
    {
        PdPlayer::sAudioDebug = false;
        QSignalSpy toggled(&mPlayer, &PdPlayer::noteToggled);
        const auto marker = [&](const char* packet) {
            send(packet, mKeys);
            mPlayer.processEvents();
            return toggled.last()[0].value<ArborRatio>().toString() + toggled.last()[1].toString();
        };
        mLog->clear();
        const int echoed = sEchoed;
        const int keys[] = {60, 62, 64, 67};
        bool down[128] = {};
        std::mt19937 random(18);
        for (int sent = 1; sent <= 100000; ++sent) {
            const bool last = sent > 100000 - 4; // the last four release every key
            const int key = keys[last ? 100000 - sent : random() % 4];
            down[key] = !last && !down[key];
            const std::vector<unsigned char> message {down[key] || sent % 2 ? 0x90 : 0x80, (unsigned char)key, down[key] ? 0x40 : 0};
            mKeys.sendMessage(&message);
            QElapsedTimer wait; // the keyboard's port takes a cycle's worth at a time
            for (wait.start(); sent % 1000 == 0 && sEchoed < echoed + sent && !wait.hasExpired(5000);)
                std::this_thread::yield();
            if (sent % 10000 == 0)
                mPlayer.processEvents();
        }
        QCOMPARE(sEchoed - echoed, 100000); // JACK lost none
        QTRY_COMPARE_WITH_TIMEOUT(marker("90 48 7F"), QString("2/1true"), 10000);
        QTRY_COMPARE(marker("80 48 00"), QString("2/1false"));
        PdPlayer::sAudioDebug = true;
        int on = 0;
        for (const QList<QVariant>& args : toggled)
            on += args[1].toBool() ? 1 : -1;
        QVERIFY2(on == 0 && toggled.count() > 100, qPrintable(QString::number(toggled.count())));
        for (const char* path : {"/", "/3/3/-2", "/5", "/3"}) {
            const PdPlayer::NoteOn* note = mPlayer.noteFor(ArborRatio::relativeFromPath(ArborPath(path)));
            QVERIFY(!note || note->mReleased);
        }
        QTRY_VERIFY_WITH_TIMEOUT(mLog->contains("dropped"), 3000);
        QVERIFY2(mLog->lines("W ").size() <= 2, qPrintable(mLog->lines("W ").join('\n')));
    }

    // A chosen device that goes away is reported once; the input connects to it again when it returns, and it plays.
    // (Reopening the port drops the keyboard's connection: this comes last.)
    void device()
    {
        mLog->clear();
        auto pads = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "Pads");
        pads->openVirtualPort("pads");
        mInput.port().setDevice("Pads:pads");
        QVERIFY(mInput.port().isConnected());
        pads.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!mInput.port().isConnected(), 3000);
        pads = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "Pads");
        pads->openVirtualPort("pads");
        QTRY_VERIFY_WITH_TIMEOUT(mInput.port().isConnected(), 3000);
        send("90 3C 7F; 80 3C 00", *pads);
        QTRY_COMPARE(played().section("; ", -1), QString("-1/1"));
        QCOMPARE(mLog->lines("is not there").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestMidiInput)
#include "tst_midiin.moc"
