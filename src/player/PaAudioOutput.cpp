#include "PaAudioOutput.h"

#include "PaApi.h"
#include "PdPlayer.h"
#include "Recorder.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QThread>

#include <chrono>
#include <cmath>
#include <cstring>

#include "z_libpd.h"

namespace
{
constexpr int CHANNELS = 2;
constexpr unsigned long TICK = PaAudioOutput::TICK_FRAMES;

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}

PaAudioOutput::PaAudioOutput(QObject* parent, PaApi* api)
    : AudioOutput(parent)
    , mApi(api ? api : PaApi::real())
{
}

PaAudioOutput::~PaAudioOutput()
{
    term();
}

void PaAudioOutput::logPaError(const char* function, PaError error) const
{
    const char* text = mApi->errorText(error);
    qCritical().noquote() << QStringLiteral("%1 returned err: %2 %3")
                                 .arg(QLatin1String(function))
                                 .arg(error)
                                 .arg(QString::fromLocal8Bit(text ? text : ""));
}

bool PaAudioOutput::init(int framesPerBuffer, int deviceIndex, PdPlayer* player)
{
    mFramesPerBuffer = framesPerBuffer;
    if (framesPerBuffer < MIN_FRAMES || framesPerBuffer > MAX_FRAMES) {
        qWarning().noquote() << QStringLiteral("Refusing %1 frames per buffer (%2 to %3 work): using %4")
                                    .arg(framesPerBuffer).arg(MIN_FRAMES).arg(MAX_FRAMES).arg(DEFAULT_FRAMES);
        mFramesPerBuffer = DEFAULT_FRAMES;
    }
    mPlayer = player;
    const PaError err = mApi->initialize();
    if (err != paNoError) {
        logPaError("Pa_Initialize", err);
        return false;
    }
    mPaInitialised = true;
    qWarning() << "PortAudio initialised.";
    qDebug() << "PortAudio version number:" << mApi->version();
    qDebug() << "PortAudio version text:" << mApi->versionText();
    devices();
    if (selectDevice(deviceIndex))
        return true;
    return selectDevice(-1);
}

QStringList PaAudioOutput::devices() const
{
    mDeviceMap.clear();
    QStringList list;
    if (!mPaInitialised)
        return list;
    const PaDeviceIndex count = mApi->deviceCount();
    if (count < 0) {
        logPaError("Pa_GetDeviceCount", count);
        return list;
    }
    for (PaDeviceIndex d = 0; d < count; ++d) {
        const PaDeviceInfo* info = mApi->deviceInfo(d);
        if (!info || info->maxOutputChannels <= 0)
            continue;
        const PaHostApiInfo* host = mApi->hostApiInfo(info->hostApi);
        QString hostName = QString::fromLocal8Bit(host && host->name ? host->name : "");
        if (hostName.toLower() == QLatin1String("windows directsound"))
            hostName = QStringLiteral("DS");
        mDeviceMap.insert(list.size(), d);
        list.append(hostName + QStringLiteral(": ") + QString::fromLocal8Bit(info->name ? info->name : ""));
    }
    return list;
}

void PaAudioOutput::logDevices() const
{
    const QStringList list = devices();
    qWarning() << "Number of audio devices found:" << list.size();
    for (int i = 0; i < list.size(); ++i) {
        const int d = mDeviceMap.value(i, 0);
        const PaDeviceInfo* info = mApi->deviceInfo(d);
        if (!info)
            continue;
        const PaHostApiInfo* host = mApi->hostApiInfo(info->hostApi);
        qWarning() << "Index:" << i;
        qWarning() << "Name:" << QString::fromLocal8Bit(info->name ? info->name : "");
        qWarning() << "Host API:" << QString::fromLocal8Bit(host && host->name ? host->name : "");
        qWarning() << "Max inputs:" << info->maxInputChannels;
        qWarning() << "Max outputs:" << info->maxOutputChannels;
        qWarning() << "Default low input latency:" << info->defaultLowInputLatency;
        qWarning() << "Default high input latency:" << info->defaultHighInputLatency;
        qWarning() << "Default low output latency:" << info->defaultLowOutputLatency;
        qWarning() << "Default high output latency:" << info->defaultHighOutputLatency;
        qWarning() << "Default sample rate:" << info->defaultSampleRate;
    }
}

bool PaAudioOutput::selectDevice(int deviceIndex)
{
    if (!mPaInitialised) {
        qCritical() << "PaAudioOutput::selectDevice called before PortAudio was initialised";
        return false;
    }
    int i = deviceIndex;
    int d = -1;
    if (i == -1 || !mDeviceMap.contains(i)) {
        d = mApi->defaultOutputDevice();
        if (d == paNoDevice) {
            qCritical() << "No default output device returned from Pa_GetDefaultOutputDevice";
            return false;
        }
        i = mDeviceMap.key(d, 0);
    } else {
        d = mDeviceMap.value(i);
    }
    const PaDeviceIndex count = mApi->deviceCount();
    const PaDeviceInfo* info = d >= 0 && d < count ? mApi->deviceInfo(d) : nullptr;
    if (!info) {
        qCritical().noquote() << QStringLiteral("Device index %1 passed to PaAudioOutput::selectDevice did not "
                                                "translate to valid paIndex %2. Device count: %3.")
                                     .arg(i)
                                     .arg(d)
                                     .arg(count);
        return false;
    }
    if (!closeDevice())
        return false;

    PaStreamParameters out;
    std::memset(&out, 0, sizeof(out));
    out.device = d;
    out.channelCount = CHANNELS;
    out.sampleFormat = paFloat32;
    out.suggestedLatency = (info->defaultLowOutputLatency + info->defaultHighOutputLatency) / 2.0;
    out.hostApiSpecificStreamInfo = nullptr;
    double rate = 44100.0;

    const PaError supported = mApi->isFormatSupported(nullptr, &out, rate);
    if (supported == paInvalidSampleRate) {
        qWarning() << "Got invalid sample rate for 44100";
        rate = info->defaultSampleRate;
    } else if (supported != paFormatIsSupported) {
        qCritical() << "Output format not supported";
        logPaError("Pa_IsFormatSupported", supported);
        setSelectedDevice(-1);
        return false;
    }
    qWarning() << "Selecting device" << i << "with latency:" << out.suggestedLatency
               << "frames per buffer:" << mFramesPerBuffer << "sample rate:" << rate << "channel count:" << CHANNELS;
    if (mPlayer)
        mPlayer->initAudio(CHANNELS, int(rate));
    const PaHostApiInfo* host = mApi->hostApiInfo(info->hostApi);
    if (host && host->type == paALSA) {
        // PortAudio's ALSA wakes once a period. Left to itself it makes the
        // period two blocks for this latency, and then calls back twice in
        // a row every other block time: a note asked for just after a pair
        // waits up to two blocks. Periods of one block each: enough of them
        // to fill the buffer the latency asks for.
        const int blocks = int(std::lround(out.suggestedLatency * rate / mFramesPerBuffer));
        mApi->setAlsaPeriods(std::max(2, blocks + 1));
    }

    mGate = new Gate;
    mGate->mOutput = this;
    mGate->mGainStep = float(1.0 / (FADE_SECONDS * rate));
    PaError err = mApi->openStream(&mStream, nullptr, &out, rate, (unsigned long)mFramesPerBuffer, paNoFlag,
                                   &PaAudioOutput::portAudioCallback, mGate);
    if (err != paNoError) {
        logPaError("Pa_OpenStream", err);
        mStream = nullptr;
        delete mGate;
        mGate = nullptr;
        setSelectedDevice(-1);
        return false;
    }
    mSampleRate = rate;
    mRecorder->setSampleRate(int(rate));
    if (const PaStreamInfo* si = mApi->streamInfo(mStream))
        qWarning() << "PaStream opened with output latency" << si->outputLatency << "and sample rate"
                   << si->sampleRate;
    err = mApi->startStream(mStream);
    if (err != paNoError) {
        logPaError("Pa_StartStream", err);
        setSelectedDevice(-1);
        return false;
    }
    mStreamRunning = true;
    qWarning() << "PaStream started";
    setSelectedDevice(i);
    return true;
}

bool PaAudioOutput::isStalled() const
{
    // A stream that called back before but not for a while: far longer than
    // a buffer lasts, however large.
    const qint64 last = mGate ? mGate->mLastCallMs.load() : 0;
    return mStreamRunning && last != 0 && steadyMs() - last > 500;
}

void PaAudioOutput::abandonStream()
{
    if (!mStream)
        return;
    // A callback under way ends soon: wait for it, then keep the gate shut.
    for (int idle = Gate::Idle; !mGate->mState.compare_exchange_weak(idle, Gate::Abandoned); idle = Gate::Idle)
        QThread::usleep(200);
    qWarning() << "The audio device stopped responding: its stream is given up";
    mStream = nullptr; // stopping or closing it would wait for the device
    mGate = nullptr;
    mStreamRunning = false;
    mAbandoned = true;
    const int device = mSelectedDevice;
    setSelectedDevice(-1);
    QMetaObject::invokeMethod(this, [this, device] { emit deviceStopped(device); }, Qt::QueuedConnection);
}

bool PaAudioOutput::closeDevice()
{
    if (!mStream)
        return true;
    if (isStalled()) {
        abandonStream();
        return true;
    }
    const bool wasMuted = isMuted();
    mute(); // the stream stops silent
    qWarning() << "Stopping stream...";
    PaError err = mApi->stopStream(mStream);
    if (err != paNoError)
        logPaError("Pa_StopStream", err);
    mStreamRunning = false;
    if (!wasMuted)
        unmute(); // the next stream fades in
    qWarning() << "Closing stream...";
    err = mApi->closeStream(mStream);
    mStream = nullptr;
    delete mGate;
    mGate = nullptr;
    setSelectedDevice(-1);
    if (err != paNoError) {
        logPaError("Pa_CloseStream", err);
        return err != paUnanticipatedHostError;
    }
    return true;
}

void PaAudioOutput::term()
{
    if (!mPaInitialised && !mStream)
        return;
    qWarning() << "PaAudioOutput::term...";
    closeDevice();
    if (mPaInitialised && mAbandoned) {
        qWarning() << "Not terminating PortAudio: a stream of a device that stopped responding is still open";
    } else if (mPaInitialised) {
        qWarning() << "Calling Pa_Terminate...";
        const PaError err = mApi->terminate();
        if (err != paNoError)
            logPaError("Pa_Terminate", err);
        mPaInitialised = false;
    }
}

void PaAudioOutput::renderTicks(PdPlayer* player, float* output, unsigned long ticks)
{
    if (ticks == 0)
        return;
    if (player && player->isPatchOpen())
        libpd_process_float(int(ticks), nullptr, output); // muted too: the patch keeps running
    else
        std::memset(output, 0, ticks * TICK * CHANNELS * sizeof(float));
}

void PaAudioOutput::mute()
{
    AudioOutput::mute();
    // A stream that stopped calling back cannot fade: wait a bounded time.
    QElapsedTimer waited;
    waited.start();
    while (isStreamRunning() && !mGate->mFadedOut.load() && waited.elapsed() < 100)
        QThread::usleep(500);
}

void PaAudioOutput::Gate::render(float* output, unsigned long frameCount)
{
    PdPlayer* player = mOutput->mPlayer;
    const float target = mOutput->isMuted() ? 0.0f : 1.0f;
    if (player)
        player->processEvents();
    const unsigned long carried = std::min(frameCount, mRestFrames);
    std::memcpy(output, mRest + (TICK - mRestFrames) * CHANNELS, carried * CHANNELS * sizeof(float));
    mRestFrames -= carried;
    const unsigned long ticks = (frameCount - carried) / TICK;
    renderTicks(player, output + carried * CHANNELS, ticks); // muting fades below
    const unsigned long done = carried + ticks * TICK;
    if (done < frameCount) {
        renderTicks(player, mRest, 1);
        std::memcpy(output + done * CHANNELS, mRest, (frameCount - done) * CHANNELS * sizeof(float));
        mRestFrames = TICK - (frameCount - done);
    }
    unsigned long f = 0;
    for (; f < frameCount && mGain != target; ++f) {
        mGain = target > mGain ? std::min(target, mGain + mGainStep) : std::max(target, mGain - mGainStep);
        output[f * CHANNELS] *= mGain;
        output[f * CHANNELS + 1] *= mGain;
    }
    if (mGain == 0.0f) // silent from here on
        std::memset(output + f * CHANNELS, 0, (frameCount - f) * CHANNELS * sizeof(float));
    mFadedOut.store(mGain == 0.0f && target == 0.0f);
    mOutput->mRecorder->push(output, frameCount);
}

int PaAudioOutput::portAudioCallback(const void*, void* output, unsigned long frameCount,
                                     const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* userData)
{
    auto* gate = static_cast<Gate*>(userData);
    int idle = Gate::Idle;
    if (!gate->mState.compare_exchange_strong(idle, Gate::InCallback)) {
        std::memset(output, 0, frameCount * CHANNELS * sizeof(float));
        return paAbort;
    }
    gate->mLastCallMs.store(steadyMs(), std::memory_order_relaxed);
    gate->render(static_cast<float*>(output), frameCount);
    gate->mState.store(Gate::Idle);
    return paContinue;
}
