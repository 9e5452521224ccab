#pragma once

#include "AudioOutput.h"

#include <QHash>

#include <atomic>

#include <portaudio.h>

class PaApi;

// The audio output on PortAudio: one stereo float output stream in callback
// mode whose callback drives the engine.
class PaAudioOutput : public AudioOutput
{
    Q_OBJECT
public:
    // `api` (not owned) defaults to PortAudio itself.
    explicit PaAudioOutput(QObject* parent = nullptr, PaApi* api = nullptr);
    ~PaAudioOutput() override;

    bool init(int framesPerBuffer, int deviceIndex, PdPlayer* player) override;
    void term() override;
    QStringList devices() const override;
    void logDevices() const override;
    bool selectDevice(int deviceIndex) override;
    bool isStreamRunning() const override { return mStream && mStreamRunning; }
    void abandonStream() override;
    bool closeDevice();
    void mute() override;

    static constexpr double FADE_SECONDS = 0.005;

    // Buffer sizes the output accepts; others fall back to the default.
    static constexpr int MIN_FRAMES = 16;
    static constexpr int MAX_FRAMES = 8192;
    static constexpr int DEFAULT_FRAMES = 256;
    static constexpr int TICK_FRAMES = 64; // Pd computes in ticks of this many frames

    static int portAudioCallback(const void* input, void* output, unsigned long frameCount,
                                 const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                                 void* userData);

    double sampleRate() const { return mSampleRate; }

private:
    // What the callback of one stream reaches through its user data. A
    // given-up stream keeps its gate (the stalled thread may still come back
    // to it) closed, so that it never again enters the engine. Buffers that
    // do not hold whole ticks end with part of a tick; its rest is kept for
    // the next callback. The sound fades in when the stream starts, and out
    // and in when the output is muted and unmuted.
    struct Gate
    {
        enum State { Idle, InCallback, Abandoned };
        PaAudioOutput* mOutput = nullptr;
        std::atomic<int> mState {Idle};
        std::atomic<qint64> mLastCallMs {0}; // steady clock, 0 before the first call
        float mRest[TICK_FRAMES * 2] = {};
        unsigned long mRestFrames = 0; // the last frames of mRest are still to be played
        float mGain = 0.0f;
        float mGainStep = 0.0f;               // per frame
        std::atomic<bool> mFadedOut {true};   // muted and silent

        void render(float* output, unsigned long frameCount);
    };

    // Renders `ticks` ticks of the open patch (interleaved stereo float),
    // or silence.
    static void renderTicks(PdPlayer* player, float* output, unsigned long ticks);
    void logPaError(const char* function, PaError error) const;
    bool isStalled() const;

    PaApi* mApi;
    PaStream* mStream = nullptr;
    Gate* mGate = nullptr;
    bool mAbandoned = false; // some stream was given up: PortAudio cannot be terminated
    bool mStreamRunning = false;
    bool mPaInitialised = false;
    double mSampleRate = 44100.0;
    mutable QHash<int, int> mDeviceMap;
};
