// The PortAudio output through its seam: device list, selection with the
// sample-rate fallback, failures, closing, and the callback with mute. The
// fake stands in for PortAudio only (there is no sound card here); the
// engine and libpd behind the callback are real.

#include "PlayerTestSupport.h"

#include "PaApi.h"

using namespace PlayerTest;

namespace
{
// Traces the streams opened and closed. PortAudio devices 0 and 3 are input
// only; 1, 2 and 4 are list entries 0 to 2.
class FakePaApi : public PaApi
{
public:
    PaDeviceInfo mDevices[5] = {{2, "mic", 0, 2, 0, 0, 0.01, 0, 0.03, 44100}, {2, "hw:0", 0, 0, 2, 0, 0.01, 0, 0.03, 44100},
                                {2, "speakers", 1, 0, 2, 0, 0.01, 0, 0.03, 48000},
                                {2, "line in", 2, 2, 0, 0, 0.01, 0, 0.03, 44100}, {2, "system", 2, 2, 8, 0, 0.01, 0, 0.03, 96000}};
    PaHostApiInfo mHosts[3] = {{1, paALSA, "ALSA", 0, 0, 0}, {1, paDirectSound, "Windows DirectSound", 0, 0, 0},
                               {1, paJACK, "JACK Audio Connection Kit", 0, 0, 0}};
    QMap<QString, int> mSet {{"default", 1}, {"count", 5}}; // what a call returns: its error, or these values
    QStringList mTrace;
    PaStreamCallback* mCallback = nullptr;
    void* mUserData = nullptr;

    PaError call(const QString& name, const QString& traced = QString())
    {
        if (!traced.isEmpty())
            mTrace << traced;
        return mSet.value(name, paNoError);
    }
    PaError initialize() override { return call("init"); }
    PaError terminate() override { return call("terminate", "terminate"); }
    int version() override { return 1; }
    const char* versionText() override { return "fake"; }
    const char* errorText(PaError) override { return "Some error"; }
    PaDeviceIndex deviceCount() override { return call("count"); }
    const PaDeviceInfo* deviceInfo(PaDeviceIndex d) override { return d >= 0 && d < 5 ? &mDevices[d] : nullptr; }
    const PaHostApiInfo* hostApiInfo(PaHostApiIndex h) override { return h >= 0 && h < 3 ? &mHosts[h] : nullptr; }
    PaDeviceIndex defaultOutputDevice() override { return call("default"); }
    PaError isFormatSupported(const PaStreamParameters*, const PaStreamParameters*, double) override { return call("format"); }
    PaError openStream(PaStream** stream, const PaStreamParameters* in, const PaStreamParameters* out, double rate,
                       unsigned long frames, PaStreamFlags flags, PaStreamCallback* cb, void* user) override
    {
        mCallback = cb;
        mUserData = user;
        *stream = this;
        const bool usual = !in && out->channelCount == 2 && out->sampleFormat == paFloat32 && qFuzzyCompare(out->suggestedLatency, 0.02)
                           && frames == 256 && flags == paNoFlag && !out->hostApiSpecificStreamInfo;
        return call("open", QStringLiteral("open %1 %2%3").arg(out->device).arg(rate).arg(usual ? "" : " unusual"));
    }
    const PaStreamInfo* streamInfo(PaStream*) override { return nullptr; }
    PaError startStream(PaStream*) override { return call("start"); }
    PaError stopStream(PaStream*) override { return call("stop"); }
    PaError closeStream(PaStream*) override { return call("close", "close"); }
};
} // namespace

class TestOutput : public QObject
{
    Q_OBJECT

    PdPlayer mPlayer;
    RuntimeFolder mFolder;

private slots:
    void initTestCase() { QVERIFY(mPlayer.init()); }

    // A script of calls ("init D": init with 256 frames, "select D", "close",
    // "term", "devices", "log": logDevices, "set CALL=VALUE": what the
    // fake's CALL returns from then on); their results; the trace of streams
    // opened ("open D RATE"), closed and terminated and of every
    // selectedDeviceChanged ("-> I"); and lines the log must hold.
    // The callback: "block N" renders N frames through the registered
    // callback (result: loud, silent or junk, and the voice volume then),
    // "vol V" queues a voice volume, "load", "note" (the root), "unload",
    // "mute" and "unmute" act on the engine and the output.
    void calls_data()
    {
        QTest::addColumn<QStringList>("row");
        const auto row = [](const char* name, const char* script, const char* results, const char* trace, const char* logged) {
            QTest::newRow(name) << QStringList {script, results, trace, logged};
        };
        row("device list", "devices; init 0; devices; log", "; 1; ALSA: hw:0,DS: speakers,JACK Audio Connection Kit: system; 1",
            "open 1 44100; -> 0", "W Number of audio devices found: 3; W Index: 1; W Name: \"speakers\"; "
            "W Host API: \"Windows DirectSound\"; W Default sample rate: 96000; W PaStream started");
        row("device count fails", "init 0; set count=-9999; devices", "1; ", "open 1 44100; -> 0",
            "C Pa_GetDeviceCount returned err: -9999");
        row("list 2 is PA 4, term", "init 0; select 2; term", "1; 1; 1",
            "open 1 44100; -> 0; close; -> -1; open 4 44100; -> 2; close; -> -1; terminate", "");
        row("-1 is the default, 7 is not listed", "init 0; set default=2; select -1; set default=4; select 7", "1; 1; 1",
            "open 1 44100; -> 0; close; -> -1; open 2 44100; -> 1; close; -> -1; open 4 44100; -> 2", "");
        row("42 is not listed: default", "init 42", "1", "open 1 44100; -> 0", "");
        row("default not listed: 0", "set default=0; init -1", "1", "open 0 44100; -> 0", "");
        row("rate refused: device rate", "set format=-9997; init 1", "1", "open 2 48000; -> 1",
            "W Got invalid sample rate for 44100; W Initialising libpd with sampleRate 48000");
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
        // Events run every block, whether a patch is open or the output is muted.
        row("callback", "init 0; vol 0.5; block 256; load; note; block 5120; block 100; mute; vol 0.75; block 256; "
            "block 100; unmute; block 256; unload; block 256", "1; 1; silent 0.5; 1; 1; loud 0.5; loud 0.5; 1; 1; "
            "silent 0.75; silent 0.75; 1; loud 0.75; 1; silent 0.75", "open 1 44100; -> 0", "");
    }
    void calls()
    {
        QFETCH(QStringList, row); // script, results, trace, logged
        FakePaApi api;
        PaAudioOutput out(nullptr, &api);
        connect(&out, &AudioOutput::selectedDeviceChanged, [&](int i) { api.mTrace << QStringLiteral("-> %1").arg(i); });
        LogCatcher log;
        QStringList actual;
        for (const QString& line : row[0].split("; ")) {
            const QStringList w = line.split(QRegularExpression("[ =]"));
            bool ok = true;
            if (w[0] == "set")
                api.mSet[w[1]] = w[2].toInt();
            else if (w[0] == "init")
                ok = out.init(256, w[1].toInt(), &mPlayer);
            else if (w[0] == "select")
                ok = out.selectDevice(w[1].toInt());
            else if (w[0] == "close")
                ok = out.closeDevice();
            else if (w[0] == "log")
                out.logDevices();
            else if (w[0] == "term")
                out.term();
            else if (w[0] == "vol")
                queue(mPlayer, ArborEvent::VoiceVolumeSet, w[1].toFloat());
            else if (w[0] == "load")
                ok = mPlayer.loadPatch(mFolder.main()); // no stream runs for the engine: loaded on this thread
            else if (w[0] == "note")
                toggle(mPlayer, QString());
            else if (w[0] == "unload")
                mPlayer.unloadPatch();
            else if (w[0] == "mute" || w[0] == "unmute")
                w[0] == "mute" ? out.mute() : out.unmute();
            if (w[0] == "block") {
                std::vector<float> b(w[1].toULong() * 2, 9.0f); // a junk sample left: not rendered
                QCOMPARE(api.mCallback(nullptr, b.data(), w[1].toULong(), nullptr, 0, api.mUserData), int(paContinue));
                const float p = peak(b, b.size() / 2); // the later half
                actual << QStringLiteral("%1 %2").arg(p > 1.0f ? "junk" : p > 0.05f ? "loud" : p == 0.0f ? "silent" : "?")
                                                 .arg(double(mPlayer.voiceVolume()));
            } else if (w[0] != "set") {
                actual << (w[0] == "devices" ? out.devices().join(',') : QString::number(ok));
            }
        }
        QCOMPARE(actual.join("; "), row[1]);
        QCOMPARE(api.mTrace.join("; "), row[2]);
        for (const QString& line : row[3].split("; ", Qt::SkipEmptyParts))
            QVERIFY2(log.contains(line), qPrintable(line));
        QCOMPARE(out.isStreamRunning(), out.selectedDevice() >= 0);
        mPlayer.unloadPatch();
    }
};

QTEST_GUILESS_MAIN(TestOutput)
#include "tst_output.moc"
