// The PortAudio output through its seam: device list, selection with the
// sample-rate fallback, failures, closing, and the callback with mute. The
// fake stands in for PortAudio only (there is no sound card here); the
// engine and libpd behind the callback are real.

#include "PlayerTestSupport.h"

#include "PaApi.h"

#include <QSignalSpy>

#include <memory>

using namespace PlayerTest;

namespace
{
struct FakeDevice
{
    const char* name;
    int hostApi;
    int maxIn;
    int maxOut;
    double rate;
};

class FakePaApi : public PaApi
{
public:
    std::vector<PaDeviceInfo> mDevices;
    std::vector<PaHostApiInfo> mHosts;
    PaDeviceIndex mDefault = paNoDevice;
    PaError mInitError = paNoError;
    PaError mFormatAnswer = paFormatIsSupported;
    PaError mOpenError = paNoError;
    PaError mStartError = paNoError;
    PaError mCloseError = paNoError;
    int mCountOverride = 0; // negative: the device count call fails
    // What the output asked for.
    QStringList mCalls;
    PaStreamParameters mOpened {};
    double mOpenedRate = 0.0;
    unsigned long mOpenedFrames = 0;
    PaStreamFlags mOpenedFlags = 0;
    PaStreamCallback* mCallback = nullptr;
    void* mUserData = nullptr;
    int mStreamsOpen = 0;
    int mToken = 0;

    void setDevices(const std::vector<FakeDevice>& devices)
    {
        mHosts.clear();
        for (const char* h : {"ALSA", "Windows DirectSound", "JACK Audio Connection Kit"}) {
            PaHostApiInfo info {};
            info.name = h;
            mHosts.push_back(info);
        }
        mDevices.clear();
        for (const FakeDevice& d : devices) {
            PaDeviceInfo info {};
            info.name = d.name;
            info.hostApi = d.hostApi;
            info.maxInputChannels = d.maxIn;
            info.maxOutputChannels = d.maxOut;
            info.defaultSampleRate = d.rate;
            info.defaultLowOutputLatency = 0.01;
            info.defaultHighOutputLatency = 0.03;
            mDevices.push_back(info);
        }
    }

    PaError initialize() override { mCalls << "init"; return mInitError; }
    PaError terminate() override { mCalls << "terminate"; return paNoError; }
    int version() override { return 1246720; }
    const char* versionText() override { return "PortAudio V19-fake"; }
    const char* errorText(PaError e) override { return e == paInvalidDevice ? "Invalid device" : "Some error"; }
    PaDeviceIndex deviceCount() override { return mCountOverride < 0 ? mCountOverride : PaDeviceIndex(mDevices.size()); }
    const PaDeviceInfo* deviceInfo(PaDeviceIndex d) override
    {
        return d >= 0 && d < PaDeviceIndex(mDevices.size()) ? &mDevices[std::size_t(d)] : nullptr;
    }
    const PaHostApiInfo* hostApiInfo(PaHostApiIndex h) override
    {
        return h >= 0 && h < PaHostApiIndex(mHosts.size()) ? &mHosts[std::size_t(h)] : nullptr;
    }
    PaDeviceIndex defaultOutputDevice() override { return mDefault; }
    PaError isFormatSupported(const PaStreamParameters*, const PaStreamParameters*, double rate) override
    {
        mCalls << QStringLiteral("supported %1").arg(rate);
        return mFormatAnswer;
    }
    PaError openStream(PaStream** stream, const PaStreamParameters* in, const PaStreamParameters* out, double rate,
                       unsigned long frames, PaStreamFlags flags, PaStreamCallback* cb, void* user) override
    {
        mCalls << QStringLiteral("open %1 %2").arg(out->device).arg(rate);
        if (in)
            mCalls << "input!";
        if (mOpenError != paNoError)
            return mOpenError;
        mOpened = *out;
        mOpenedRate = rate;
        mOpenedFrames = frames;
        mOpenedFlags = flags;
        mCallback = cb;
        mUserData = user;
        ++mStreamsOpen;
        *stream = &mToken;
        return paNoError;
    }
    const PaStreamInfo* streamInfo(PaStream*) override
    {
        static PaStreamInfo info {};
        info.outputLatency = 0.02;
        info.sampleRate = mOpenedRate;
        return &info;
    }
    PaError startStream(PaStream*) override { mCalls << "start"; return mStartError; }
    PaError stopStream(PaStream*) override { mCalls << "stop"; return paNoError; }
    PaError closeStream(PaStream*) override
    {
        mCalls << "close";
        --mStreamsOpen;
        return mCloseError;
    }
};

// Three outputs between an input-only device and a DirectSound device.
const std::vector<FakeDevice> DEVICES {
    {"mic", 0, 2, 0, 44100},          // PA 0: input only, not listed
    {"hw:0", 0, 0, 2, 44100},         // PA 1 -> list 0
    {"speakers", 1, 0, 2, 48000},     // PA 2 -> list 1
    {"line in", 2, 2, 0, 44100},      // PA 3: input only
    {"system", 2, 2, 8, 96000},       // PA 4 -> list 2
};
}

class TestOutput : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PdPlayer> mPlayer;

private slots:
    void initTestCase()
    {
        PdPlayer::sAudioDebug = true;
        mPlayer.reset(new PdPlayer);
        QVERIFY(mPlayer->init());
    }

    void deviceList()
    {
        FakePaApi api;
        api.setDevices(DEVICES);
        api.mDefault = 2;
        PaAudioOutput out(nullptr, &api);
        QVERIFY(out.devices().isEmpty()); // PortAudio not initialised yet
        QVERIFY(out.init(256, 0, mPlayer.get()));
        QCOMPARE(out.devices(),
                 (QStringList {"ALSA: hw:0", "DS: speakers", "JACK Audio Connection Kit: system"}));
        LogCatcher log;
        out.logDevices();
        QVERIFY(log.contains(QStringLiteral("W Number of audio devices found: 3")));
        QCOMPARE(log.count(QStringLiteral("W Index:")), 3);
        QVERIFY(log.contains(QStringLiteral("W Name: \"speakers\"")));
        QVERIFY(log.contains(QStringLiteral("W Host API: \"Windows DirectSound\"")));
        QVERIFY(log.contains(QStringLiteral("W Default sample rate: 96000")));
        api.mCountOverride = -9999;
        QVERIFY(out.devices().isEmpty());
        QVERIFY(log.contains(QStringLiteral("Pa_GetDeviceCount returned err: -9999")));
    }

    void select_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("defaultDevice");
        QTest::addColumn<int>("formatAnswer");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("paDevice");
        QTest::addColumn<double>("rate");
        // Rows with ok false and selected 0 leave the running stream alone.
        QTest::newRow("list 0 is PA 1") << 0 << 2 << int(paFormatIsSupported) << true << 0 << 1 << 44100.0;
        QTest::newRow("list 2 is PA 4") << 2 << 2 << int(paFormatIsSupported) << true << 2 << 4 << 44100.0;
        QTest::newRow("-1 is the default") << -1 << 2 << int(paFormatIsSupported) << true << 1 << 2 << 44100.0;
        QTest::newRow("7 is not listed: default") << 7 << 4 << int(paFormatIsSupported) << true << 2 << 4 << 44100.0;
        QTest::newRow("default not listed: list 0") << -1 << 0 << int(paFormatIsSupported) << true << 0 << 0 << 44100.0;
        QTest::newRow("rate refused: device rate") << 1 << 2 << int(paInvalidSampleRate) << true << 1 << 2 << 48000.0;
        QTest::newRow("format refused") << 1 << 2 << int(paSampleFormatNotSupported) << false << -1 << -1 << 0.0;
        QTest::newRow("no default device") << -1 << int(paNoDevice) << int(paFormatIsSupported) << false << 0 << -1
                                           << 0.0;
        QTest::newRow("default out of range") << 9 << 12 << int(paFormatIsSupported) << false << 0 << -1 << 0.0;
    }
    void select()
    {
        QFETCH(int, request);
        QFETCH(int, defaultDevice);
        QFETCH(int, formatAnswer);
        QFETCH(bool, ok);
        QFETCH(int, selected);
        QFETCH(int, paDevice);
        QFETCH(double, rate);
        FakePaApi api;
        api.setDevices(DEVICES);
        api.mDefault = 1;
        PaAudioOutput out(nullptr, &api);
        QVERIFY(out.init(128, 0, mPlayer.get()));
        QSignalSpy changed(&out, &AudioOutput::selectedDeviceChanged);
        api.mDefault = defaultDevice;
        api.mFormatAnswer = formatAnswer;
        LogCatcher log;
        QCOMPARE(out.selectDevice(request), ok);
        QCOMPARE(out.selectedDevice(), selected);
        const bool untouched = !ok && selected == 0;
        QCOMPARE(out.isStreamRunning(), ok || untouched);
        QCOMPARE(changed.isEmpty(), untouched);
        if (!untouched)
            QCOMPARE(changed.last().at(0).toInt(), selected);
        if (ok) {
            QCOMPARE(int(api.mOpened.device), paDevice);
            QCOMPARE(api.mOpened.channelCount, 2);
            QCOMPARE(api.mOpened.sampleFormat, paFloat32);
            QCOMPARE(api.mOpened.suggestedLatency, 0.02);
            QCOMPARE(api.mOpenedRate, rate);
            QCOMPARE(api.mOpenedFrames, 128ul);
            QCOMPARE(api.mOpenedFlags, paNoFlag);
            QCOMPARE(api.mUserData, static_cast<void*>(&out));
            QCOMPARE(api.mStreamsOpen, 1); // the earlier stream was closed first
            QVERIFY(log.contains(QStringLiteral("W Initialising libpd with sampleRate %1").arg(int(rate))));
            QVERIFY(log.contains(QStringLiteral("W PaStream started")));
            QVERIFY(!api.mCalls.contains(QStringLiteral("input!")));
        }
        if (formatAnswer == paInvalidSampleRate)
            QVERIFY(log.contains(QStringLiteral("Got invalid sample rate for 44100")));
        if (formatAnswer == paSampleFormatNotSupported)
            QVERIFY(log.contains(QStringLiteral("C Output format not supported")));
        if (defaultDevice == paNoDevice)
            QVERIFY(log.contains(QStringLiteral("No default output device returned from Pa_GetDefaultOutputDevice")));
        if (defaultDevice == 12) {
            QVERIFY(log.contains(QStringLiteral("did not translate to valid paIndex 12. Device count: 5.")));
            QCOMPARE(api.mStreamsOpen, 1); // the running stream is untouched
        }
        out.term();
        QCOMPARE(api.mStreamsOpen, 0);
    }

    void streamFailures()
    {
        FakePaApi api;
        api.setDevices(DEVICES);
        api.mDefault = 1;
        PaAudioOutput out(nullptr, &api);
        LogCatcher log;
        api.mOpenError = paDeviceUnavailable;
        QVERIFY(!out.init(256, 2, mPlayer.get())); // chosen and default both fail
        QCOMPARE(out.selectedDevice(), -1);
        QVERIFY(log.contains(QStringLiteral("C Pa_OpenStream returned err: ") + QString::number(paDeviceUnavailable)));
        api.mOpenError = paNoError;
        api.mStartError = paInternalError;
        QVERIFY(!out.selectDevice(0));
        QVERIFY(!out.isStreamRunning());
        QCOMPARE(api.mStreamsOpen, 1); // stays open until the next close
        api.mStartError = paNoError;
        QVERIFY(out.selectDevice(0));
        QCOMPARE(api.mStreamsOpen, 1);
        // A close that fails with an unanticipated host error refuses the switch.
        api.mCloseError = paUnanticipatedHostError;
        QVERIFY(!out.selectDevice(1));
        QCOMPARE(out.selectedDevice(), -1);
        api.mCloseError = paInternalError; // any other close error is only logged
        QVERIFY(out.selectDevice(1));
        QVERIFY(out.closeDevice());
        QVERIFY(out.closeDevice()); // nothing open
        out.term();
        out.term();
        QCOMPARE(api.mCalls.count(QStringLiteral("terminate")), 1);
    }

    void initFailureAndFallback()
    {
        FakePaApi api;
        api.setDevices(DEVICES);
        api.mDefault = 4;
        {
            PaAudioOutput out(nullptr, &api);
            api.mInitError = paNotInitialized;
            LogCatcher log;
            QVERIFY(!out.init(256, 0, mPlayer.get()));
            QVERIFY(log.contains(QStringLiteral("Pa_Initialize returned err: ")));
            QVERIFY(!out.selectDevice(0));
        } // destroyed without term: nothing to terminate
        QCOMPARE(api.mCalls.count(QStringLiteral("terminate")), 0);
        api.mInitError = paNoError;
        PaAudioOutput out(nullptr, &api);
        QVERIFY(out.init(256, 42, mPlayer.get())); // not listed: the default
        QCOMPARE(out.selectedDevice(), 2);
        // Destroying without term() stops, closes and terminates.
    }

    // The registered callback drives the engine: events run every block,
    // whether a patch is open or the output is muted.
    void callback()
    {
        RuntimeFolder folder;
        FakePaApi api;
        api.setDevices(DEVICES);
        api.mDefault = 1;
        PaAudioOutput out(nullptr, &api);
        QVERIFY(out.init(256, 0, mPlayer.get()));
        QVERIFY(api.mCallback);
        std::vector<float> buffer(512);
        int results = 0;
        auto block = [&]() -> float {
            std::fill(buffer.begin(), buffer.end(), 9.0f);
            results |= api.mCallback(nullptr, buffer.data(), 256, nullptr, 0, api.mUserData);
            return peak(buffer);
        };
        queue(*mPlayer, ArborEvent::VoiceVolumeSet, 0.5f);
        QCOMPARE(block(), 0.0f); // no patch: silence, events still run
        QCOMPARE(mPlayer->voiceVolume(), 0.5f);
        // Patches load by hand-over: the test is the audio thread here.
        mPlayer->setOutput(nullptr);
        QVERIFY(mPlayer->loadPatch(folder.main()));
        toggle(*mPlayer, QString());
        float loud = 0.0f;
        for (int i = 0; i < 20; ++i)
            loud = std::max(loud, block());
        QVERIFY(loud > 0.05f);
        out.mute();
        queue(*mPlayer, ArborEvent::VoiceVolumeSet, 0.75f);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(block(), 0.0f);
        QCOMPARE(mPlayer->voiceVolume(), 0.75f);
        out.unmute();
        QVERIFY(block() > 0.05f);
        mPlayer->unloadPatch();
        QCOMPARE(block(), 0.0f);
        QCOMPARE(results, int(paContinue));
    }
};

QTEST_GUILESS_MAIN(TestOutput)
#include "tst_output.moc"
