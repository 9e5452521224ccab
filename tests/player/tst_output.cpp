// The PortAudio output over a fake PortAudio (the engine behind the callback is real): devices, rate fallback, failures, mute,
// fades, any buffer size; and a real stream stalling in the file sink (scripts/audio-sink.sh runs this test).

#include "PlayerTestSupport.h"

#include <csignal>

#include <unistd.h>

using namespace PlayerTest;

class TestOutput : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCatcher> mLog; // installed once the test runner has its own handler
    RuntimeFolder mFolder;
    PdPlayer mPlayer;

private slots:
    void initTestCase()
    {
        mLog.reset(new LogCatcher);
        QVERIFY(mPlayer.init());
    }

    // A real stream into the file sink whose drain is stopped, so that the device blocks: a patch change still completes, the stream
    // is given up and the user told once; the default device reopens when drained again; quitting on a stalled device is quick.
    void stalledDevice()
    {
        QProcess pgrep;
        pgrep.start("pgrep", {"-P", QString::number(getppid()), "-x", "pipe_drain"});
        const pid_t drain = pgrep.waitForFinished() ? pgrep.readAll().trimmed().toInt() : 0;
        if (drain == 0)
            QSKIP("not run through scripts/audio-sink.sh");
        const auto stalled = [&](const std::function<void()>& work) { // once no block began for 300 ms: ms `work` took, to 5000
            kill(drain, SIGSTOP);
            quint64 last = 0;
            QElapsedTimer time;
            const bool still = QTest::qWaitFor([&] {
                if (last != mPlayer.blockCount())
                    last = mPlayer.blockCount(), time.start();
                return time.isValid() && time.elapsed() > 300;
            });
            time.start();
            beside(work, [&] { time.elapsed() < 5000 ? QTest::qWait(1) : void(kill(drain, SIGCONT)); });
            kill(drain, SIGCONT);
            return still ? time.elapsed() : 5000;
        };
        PaAudioOutput device;
        QSignalSpy stopped(&device, &AudioOutput::deviceStopped);
        QVERIFY(device.init(256, -1, &mPlayer));
        mPlayer.setOutput(&device);
        bool loaded = false;
        QVERIFY(stalled([&] { loaded = mPlayer.loadPatch(mFolder.main()); }) < 2000 && loaded);
        QTRY_COMPARE(stopped.count(), 1);
        QVERIFY(mPlayer.isPatchOpen() && !device.isStreamRunning());
        mLog->clear();
        QVERIFY(device.selectDevice(-1) && mPlayer.loadPatch(mFolder.protocol())); // handed over again
        QVERIFY(!mLog->contains("on the GUI thread"));
        QVERIFY(stalled([&] {
            mPlayer.term();
            device.term();
        }) < 2000);
        QTRY_COMPARE(stopped.count(), 2);
    }

    // A script of calls ("init D [FRAMES]", "select D", "close", "term", "devices", "log", "set CALL=VALUE": what the fake's CALL
    // returns from then on); their results; the trace of streams opened ("open D RATE"), closed and terminated and of every
    // selectedDeviceChanged ("-> I"); lines the log must hold. "block N" renders N frames through the callback (loud, silent or broken,
    // and the voice volume), "vol V", "note" (the root), "stop", "load", "unload", "mute", "unmute" act on the engine and the output.
    void calls_data()
    {
        QTest::addColumn<QStringList>("row");
        const auto row = [](const char* name, const char* script, const char* results, const QString& trace, const char* logged) {
            QTest::newRow(name) << QStringList {script, results, trace, logged};
        };
        row("device list", "devices; init 0; devices; log", "; 1; ALSA: hw:0,DS: speakers,JACK Audio Connection Kit: system; 1",
            "open 1 44100; -> 0", "W Number of audio devices found: 3; W Host API: \"Windows DirectSound\"");
        row("device count fails", "init 0; set count=-9999; devices", "1; ", "open 1 44100; -> 0",
            "C Pa_GetDeviceCount returned err: -9999");
        row("list 2 is PA 4, term", "init 0; select 2; term", "1; 1; 1",
            "open 1 44100; -> 0; close; -> -1; open 4 44100; -> 2; close; -> -1; terminate", "");
        row("-1 is the default, 7 is not listed", "init 0; set default=2; select -1; set default=4; select 7", "1; 1; 1",
            "open 1 44100; -> 0; close; -> -1; open 2 44100; -> 1; close; -> -1; open 4 44100; -> 2", "");
        row("42 is not listed: default", "init 42", "1", "open 1 44100; -> 0", "");
        row("default not listed: 0", "set default=0; init -1", "1", "open 0 44100; -> 0", "");
        row("rate refused: device rate", "set format=-9997; init 1", "1", "open 2 48000; -> 1", "W Got invalid sample rate for 44100; "
            "W Initialising libpd with sampleRate 48000");
        row("format refused", "init 0; set format=-9994; select 1", "1; 0", "open 1 44100; -> 0; close; -> -1; -> -1",
            "C Output format not supported");
        row("no default, default out of range", "init 0; set default=-1; select -1; set default=12; select 9", "1; 0; 0",
            "open 1 44100; -> 0", "C No default output device returned from Pa_GetDefaultOutputDevice; "
            "C Device index 0 passed to PaAudioOutput::selectDevice did not translate to valid paIndex 12. Device count: 5.");
        row("chosen and default fail", "set open=-9985; init 2", "0", "open 4 44100; -> -1; open 1 44100; -> -1",
            "C Pa_OpenStream returned err: -9985");
        row("a stream that fails to start stays open", "init 0; set start=-9986; select 1; set start=0; select 0", "1; 0; 1",
            "open 1 44100; -> 0; close; -> -1; open 2 44100; -> -1; close; -> -1; open 1 44100; -> 0",
            "C Pa_StartStream returned err: -9986");
        row("failed closes", "init 0; set close=-9999; select 1; set close=-9986; select 1; select 0; close; close; term; term",
            "1; 0; 1; 1; 1; 1; 1; 1", "open 1 44100; -> 0; close; -> -1; open 2 44100; -> 1; close; -> -1; "
            "open 1 44100; -> 0; close; -> -1; terminate", "C Pa_CloseStream returned err: -9999");
        row("init fails", "set init=-10000; init 0; select 0; term", "0; 0; 1", "", "C Pa_Initialize returned err: -10000");
        row("absurd buffer sizes", "init 0 -1; init 0 15; init 0 8193; init 0 16", "1; 1; 1; 1",
            QString("open 1 44100; -> 0; close; -> -1; ").repeated(3) + "open 1 44100 unusual; -> 0",
            "W Refusing -1 frames per buffer (16 to 8192 work): using 256; W Refusing 8193");
        // Events run every block, patch or not, muted or not. "block N K": K callbacks of N frames; any size plays whole ticks, carrying
        // the rest on. Muting, Stop all and a patch change fade the sound out; unmuting fades it in.
        row("callback", "init 0; vol 1; block 256; load; note; block 5120; block 100; mute; vol 2; block 256; block 100; unmute; "
            "block 256; block 32 300; block 63 200; block 100 100; block 1000 10; stop; block 256 40; note; block 2560; unload; "
            "block 256", "1; 1; silent 1; 1; 1; loud 1; loud 1; 1; 1; silent 2; silent 2; 1; loud 2; loud 2; loud 2; loud 2; "
            "loud 2; 1; silent 2; 1; loud 2; 1; silent 2", "open 1 44100; -> 0", "");
    }
    void calls()
    {
        QFETCH(QStringList, row); // script, results, trace, logged
        FakePaApi api;
        PaAudioOutput out(nullptr, &api);
        connect(&out, &AudioOutput::selectedDeviceChanged, [&](int i) { api.mTrace << QStringLiteral("-> %1").arg(i); });
        mPlayer.setOutput(&out);
        mLog->clear();
        std::vector<float> heard; // left channel since the last "block" looked
        float last = 0.0f;
        const auto callback = [&](unsigned long frames, int blocks = 1) {
            const std::vector<float> b = api.render(blocks, frames);
            heard.insert(heard.end(), b.begin(), b.end());
        };
        const auto audio = [&] { out.isStreamRunning() ? callback(256) : std::this_thread::yield(); }; // while the engine waits
        QStringList actual;
        for (const QString& line : row[0].split("; ")) {
            const QStringList w = line.split(QRegularExpression("[ =]"));
            bool ok = true;
            if (w[0] == "set")
                api.mSet[w[1]] = w[2].toInt();
            else if (w[0] == "init")
                ok = out.init(w.value(2, "256").toInt(), w[1].toInt(), &mPlayer);
            else if (w[0] == "select" || w[0] == "close")
                ok = w[0] == "select" ? out.selectDevice(w[1].toInt()) : out.closeDevice();
            else if (w[0] == "log" || w[0] == "term")
                w[0] == "log" ? out.logDevices() : out.term();
            else if (w[0] == "vol" || w[0] == "stop")
                queue(mPlayer, w[0] == "vol" ? ArborEvent::VoiceVolumeSet : ArborEvent::AllNotesOff, w.value(1, "1").toFloat());
            else if (w[0] == "note")
                toggle(mPlayer, QString());
            else if (w[0] == "load")
                beside([&] { ok = mPlayer.loadPatch(mFolder.main()); }, audio);
            else if (w[0] == "unload" || w[0] == "mute")
                beside([&] { w[0] == "mute" ? out.mute() : mPlayer.unloadPatch(); }, audio);
            else if (w[0] == "unmute")
                out.unmute();
            if (w[0] == "block") { // broken: a jump, or a sudden silence since the last look; loud: the block's later half
                callback(w[1].toULong(), w.value(2, "1").toInt());
                bool broken = false;
                for (std::size_t f = 0; f < heard.size(); last = heard[f++])
                    broken = broken || std::abs(heard[f] - last) > 0.03f || (heard[f] == 0.0f && std::abs(last) > 0.002f);
                const float p = peak(heard, heard.size() - w[1].toULong() * w.value(2, "1").toULong() / 2);
                heard.clear();
                const char* sound = broken ? "broken" : p > 0.02f ? "loud" : p == 0.0f ? "silent" : "?";
                actual << QStringLiteral("%1 %2").arg(sound).arg(double(mPlayer.voiceVolume()));
            } else if (w[0] != "set") {
                actual << (w[0] == "devices" ? out.devices().join(',') : QString::number(ok));
            }
        }
        QCOMPARE(actual.join("; "), row[1]);
        QCOMPARE(api.mTrace.join("; "), row[2]);
        for (const QString& line : row[3].split("; ", Qt::SkipEmptyParts))
            QVERIFY2(mLog->contains(line), qPrintable(line));
        QCOMPARE(out.isStreamRunning(), out.selectedDevice() >= 0);
        mPlayer.setOutput(nullptr);
        mPlayer.unloadPatch();
    }
};

QTEST_GUILESS_MAIN(TestOutput)
#include "tst_output.moc"
