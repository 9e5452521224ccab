// The PortAudio output through its seam: device list, selection with the
// sample-rate fallback, failures, closing, and the callback with mute. The
// fake stands in for PortAudio only (there is no sound card here); the
// engine and libpd behind the callback are real.

#include "PlayerTestSupport.h"

#include "PaApi.h"

using namespace PlayerTest;

namespace
{
// PortAudio devices 0 and 3 are input only; 1, 2 and 4 are list entries 0 to 2.
class FakePaApi : public PaApi
{
public:
    FakePaApi()
    {
        for (const char* h : {"ALSA", "Windows DirectSound", "JACK Audio Connection Kit"}) {
            mHosts.push_back(PaHostApiInfo {});
            mHosts.back().name = h;
        }
        const struct { const char* name; int host, in, out; double rate; } devices[] = {
            {"mic", 0, 2, 0, 44100}, {"hw:0", 0, 0, 2, 44100}, {"speakers", 1, 0, 2, 48000},
            {"line in", 2, 2, 0, 44100}, {"system", 2, 2, 8, 96000}};
        for (const auto& d : devices) {
            PaDeviceInfo i {};
            i.name = d.name;
            i.hostApi = d.host;
            i.maxInputChannels = d.in;
            i.maxOutputChannels = d.out;
            i.defaultSampleRate = d.rate;
            i.defaultLowOutputLatency = 0.01;
            i.defaultHighOutputLatency = 0.03;
            mDevices.push_back(i);
        }
    }
    std::vector<PaDeviceInfo> mDevices;
    std::vector<PaHostApiInfo> mHosts;
    PaDeviceIndex mDefault = 1;
    PaDeviceIndex mCount = 5;
    PaError mInitError = paNoError, mFormatAnswer = paFormatIsSupported, mOpenError = paNoError;
    PaError mStartError = paNoError, mCloseError = paNoError;
    QString mOpened; // the parameters of the last stream opened
    PaStreamCallback* mCallback = nullptr;
    void* mUserData = nullptr;
    int mStreamsOpen = 0;
    int mTerminated = 0;

    PaError initialize() override { return mInitError; }
    PaError terminate() override { return ++mTerminated, paNoError; }
    int version() override { return 1246720; }
    const char* versionText() override { return "PortAudio V19-fake"; }
    const char* errorText(PaError) override { return "Some error"; }
    PaDeviceIndex deviceCount() override { return mCount; }
    const PaDeviceInfo* deviceInfo(PaDeviceIndex d) override { return d >= 0 && d < 5 ? &mDevices[std::size_t(d)] : nullptr; }
    const PaHostApiInfo* hostApiInfo(PaHostApiIndex h) override { return h >= 0 && h < 3 ? &mHosts[std::size_t(h)] : nullptr; }
    PaDeviceIndex defaultOutputDevice() override { return mDefault; }
    PaError isFormatSupported(const PaStreamParameters*, const PaStreamParameters*, double) override { return mFormatAnswer; }
    PaError openStream(PaStream** stream, const PaStreamParameters* in, const PaStreamParameters* out, double rate,
                       unsigned long frames, PaStreamFlags flags, PaStreamCallback* cb, void* user) override
    {
        if (mOpenError != paNoError)
            return mOpenError;
        mOpened = QStringLiteral("device %1 channels %2 float %3 latency %4 rate %5 frames %6 flags %7 input %8")
                      .arg(out->device).arg(out->channelCount).arg(out->sampleFormat == paFloat32)
                      .arg(out->suggestedLatency).arg(rate).arg(frames).arg(flags).arg(in != nullptr);
        mCallback = cb;
        mUserData = user;
        ++mStreamsOpen;
        *stream = this;
        return paNoError;
    }
    const PaStreamInfo* streamInfo(PaStream*) override
    {
        static PaStreamInfo info {};
        info.outputLatency = 0.02;
        return &info;
    }
    PaError startStream(PaStream*) override { return mStartError; }
    PaError stopStream(PaStream*) override { return paNoError; }
    PaError closeStream(PaStream*) override { return --mStreamsOpen, mCloseError; }
};
} // namespace

class TestOutput : public QObject
{
    Q_OBJECT

    PdPlayer mPlayer;
    FakePaApi mApi;

private slots:
    void initTestCase()
    {
        PdPlayer::sAudioDebug = true;
        QVERIFY(mPlayer.init());
    }
    void init() { mApi = FakePaApi(); }

    void deviceList()
    {
        PaAudioOutput out(nullptr, &mApi);
        QVERIFY(out.devices().isEmpty()); // PortAudio not initialised yet
        QVERIFY(out.init(256, 0, &mPlayer));
        QCOMPARE(out.devices(), (QStringList {"ALSA: hw:0", "DS: speakers", "JACK Audio Connection Kit: system"}));
        LogCatcher log;
        out.logDevices();
        QVERIFY(log.contains(QStringLiteral("W Number of audio devices found: 3")));
        QCOMPARE(log.count(QStringLiteral("W Index:")), 3);
        QVERIFY(log.contains(QStringLiteral("W Name: \"speakers\"")));
        QVERIFY(log.contains(QStringLiteral("W Host API: \"Windows DirectSound\"")));
        QVERIFY(log.contains(QStringLiteral("W Default sample rate: 96000")));
        mApi.mCount = -9999;
        QVERIFY(out.devices().isEmpty());
        QVERIFY(log.contains(QStringLiteral("C Pa_GetDeviceCount returned err: -9999")));
    }

    void select_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("defaultDevice");
        QTest::addColumn<int>("formatAnswer");
        QTest::addColumn<int>("selected");  // -2: refused, the running stream untouched
        QTest::addColumn<QString>("opened"); // empty: nothing opened
        const QString open = QStringLiteral("device %1 channels 2 float 1 latency 0.02 rate %2 frames 128 flags 0 input 0");
        const int ok = paFormatIsSupported;
        QTest::newRow("list 0 is PA 1") << 0 << 2 << ok << 0 << open.arg(1).arg(44100);
        QTest::newRow("list 2 is PA 4") << 2 << 2 << ok << 2 << open.arg(4).arg(44100);
        QTest::newRow("-1 is the default") << -1 << 2 << ok << 1 << open.arg(2).arg(44100);
        QTest::newRow("7 is not listed: default") << 7 << 4 << ok << 2 << open.arg(4).arg(44100);
        QTest::newRow("default not listed: index 0") << -1 << 0 << ok << 0 << open.arg(0).arg(44100);
        QTest::newRow("rate refused: device rate") << 1 << 2 << int(paInvalidSampleRate) << 1 << open.arg(2).arg(48000);
        QTest::newRow("format refused") << 1 << 2 << int(paSampleFormatNotSupported) << -1 << QString();
        QTest::newRow("no default device") << -1 << int(paNoDevice) << ok << -2 << QString();
        QTest::newRow("default out of range") << 9 << 12 << ok << -2 << QString();
    }
    void select()
    {
        QFETCH(int, request);
        QFETCH(int, defaultDevice);
        QFETCH(int, formatAnswer);
        QFETCH(int, selected);
        QFETCH(QString, opened);
        PaAudioOutput out(nullptr, &mApi);
        QVERIFY(out.init(128, 0, &mPlayer));
        QSignalSpy changed(&out, &AudioOutput::selectedDeviceChanged);
        mApi.mDefault = defaultDevice;
        mApi.mFormatAnswer = formatAnswer;
        mApi.mOpened.clear();
        LogCatcher log;
        QCOMPARE(out.selectDevice(request), !opened.isEmpty());
        QCOMPARE(mApi.mOpened, opened);
        QCOMPARE(out.selectedDevice(), selected == -2 ? 0 : selected);
        QCOMPARE(out.isStreamRunning(), selected != -1);
        QCOMPARE(mApi.mStreamsOpen, selected == -1 ? 0 : 1); // the earlier stream was closed first
        QCOMPARE(changed.isEmpty(), selected == -2);
        if (selected != -2)
            QCOMPARE(changed.last().at(0).toInt(), selected);
        if (!opened.isEmpty()) {
            QCOMPARE(mApi.mUserData, static_cast<void*>(&out));
            QVERIFY(log.contains(QStringLiteral("W Initialising libpd with sampleRate ") + opened.section(' ', 9, 9)));
            QVERIFY(log.contains(QStringLiteral("W PaStream started")));
        }
        const QStringList expected {"W Got invalid sample rate for 44100", "C Output format not supported",
                                    "C No default output device returned from Pa_GetDefaultOutputDevice",
                                    "did not translate to valid paIndex 12. Device count: 5."};
        const bool which[] = {formatAnswer == paInvalidSampleRate, formatAnswer == paSampleFormatNotSupported,
                              defaultDevice == paNoDevice, defaultDevice == 12};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(log.contains(expected.at(i)), which[i]);
        out.term();
        QCOMPARE(mApi.mStreamsOpen, 0);
    }

    void failures()
    {
        LogCatcher log;
        {
            PaAudioOutput out(nullptr, &mApi);
            mApi.mInitError = paNotInitialized;
            QVERIFY(!out.init(256, 0, &mPlayer));
            QVERIFY(log.contains(QStringLiteral("C Pa_Initialize returned err: ")));
            QVERIFY(!out.selectDevice(0));
        } // destroyed without term: nothing to terminate
        QCOMPARE(mApi.mTerminated, 0);
        mApi.mInitError = paNoError;
        PaAudioOutput out(nullptr, &mApi);
        mApi.mOpenError = paDeviceUnavailable;
        QVERIFY(!out.init(256, 2, &mPlayer)); // chosen and default both fail
        QCOMPARE(out.selectedDevice(), -1);
        QVERIFY(log.contains(QStringLiteral("C Pa_OpenStream returned err: %1").arg(paDeviceUnavailable)));
        mApi.mOpenError = paNoError;
        mApi.mStartError = paInternalError;
        QVERIFY(!out.selectDevice(0));
        QVERIFY(!out.isStreamRunning());
        QCOMPARE(mApi.mStreamsOpen, 1); // stays open until the next close
        mApi.mStartError = paNoError;
        QVERIFY(out.selectDevice(0));
        QCOMPARE(mApi.mStreamsOpen, 1);
        // A close that fails with an unanticipated host error refuses the switch.
        mApi.mCloseError = paUnanticipatedHostError;
        QVERIFY(!out.selectDevice(1));
        QCOMPARE(out.selectedDevice(), -1);
        mApi.mCloseError = paInternalError; // any other close error is only logged
        QVERIFY(out.selectDevice(1));
        QVERIFY(out.closeDevice());
        QVERIFY(out.closeDevice()); // nothing open
        out.term();
        out.term();
        QCOMPARE(mApi.mTerminated, 1);
        PaAudioOutput fallback(nullptr, &mApi);
        QVERIFY(fallback.init(256, 42, &mPlayer)); // not listed: the default
        QCOMPARE(fallback.selectedDevice(), 0);
    }

    // The registered callback drives the engine: events run every block,
    // whether a patch is open or the output is muted.
    void callback()
    {
        RuntimeFolder folder;
        PaAudioOutput out(nullptr, &mApi);
        QVERIFY(out.init(256, 0, &mPlayer));
        std::vector<float> buffer(512);
        int results = 0;
        const auto block = [&](unsigned long frames = 256) {
            std::fill(buffer.begin(), buffer.end(), 9.0f);
            results |= mApi.mCallback(nullptr, buffer.data(), frames, nullptr, 0, mApi.mUserData);
            return peak(std::vector<float>(buffer.begin(), buffer.begin() + long(frames) * 2));
        };
        queue(mPlayer, ArborEvent::VoiceVolumeSet, 0.5f);
        QCOMPARE(block(), 0.0f); // no patch: silence, events still run
        QCOMPARE(mPlayer.voiceVolume(), 0.5f);
        QVERIFY(mPlayer.loadPatch(folder.main())); // no stream runs: loaded on this thread
        toggle(mPlayer, QString());
        float loud = 0.0f;
        for (int i = 0; i < 20; ++i)
            loud = std::max(loud, block());
        QVERIFY(loud > 0.05f);
        QVERIFY(block(100) > 0.05f); // no multiple of 64 frames: the rest is silence
        for (std::size_t i = 64 * 2; i < 200; ++i)
            QCOMPARE(buffer[i], 0.0f);
        out.mute();
        queue(mPlayer, ArborEvent::VoiceVolumeSet, 0.75f);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(block(), 0.0f);
        QCOMPARE(mPlayer.voiceVolume(), 0.75f);
        out.unmute();
        QVERIFY(block() > 0.05f);
        mPlayer.unloadPatch();
        QCOMPARE(block(), 0.0f);
        QCOMPARE(results, int(paContinue));
    }
};

QTEST_GUILESS_MAIN(TestOutput)
#include "tst_output.moc"
