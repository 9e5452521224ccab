// Plays a sine tone through PortAudio's default output device the way the
// program's engine opens it (float32, interleaved stereo, 44100 Hz, callback
// driven): the left channel at the given frequency, the right one at 1.5
// times that frequency, both at the given amplitude.
//
// Usage: tone_player [FREQUENCY_HZ [SECONDS [AMPLITUDE]]]   (440 0.5 0.5)
// Prints the device and the stream's sample rate; exit code 0 on success.

#include <portaudio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace
{
constexpr int CHANNELS = 2;
constexpr double RATE = 44100.0;

struct Tone
{
    double mStep[CHANNELS] = {0, 0};
    double mPhase[CHANNELS] = {0, 0};
    float mAmplitude = 0.5f;
    long mFramesLeft = 0;
};

int play(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
         PaStreamCallbackFlags, void* data)
{
    auto* tone = static_cast<Tone*>(data);
    auto* out = static_cast<float*>(output);
    for (unsigned long i = 0; i < frames; ++i) {
        const bool on = tone->mFramesLeft > 0;
        for (int c = 0; c < CHANNELS; ++c) {
            *out++ = on ? tone->mAmplitude * float(std::sin(tone->mPhase[c])) : 0.0f;
            tone->mPhase[c] = std::fmod(tone->mPhase[c] + tone->mStep[c], 2 * M_PI);
        }
        if (on)
            --tone->mFramesLeft;
    }
    return tone->mFramesLeft > 0 ? paContinue : paComplete;
}

double arg(int argc, char** argv, int i, double fallback)
{
    if (argc <= i)
        return fallback;
    char* end = nullptr;
    const double v = std::strtod(argv[i], &end);
    if (end == argv[i] || *end != '\0' || !std::isfinite(v) || v <= 0) {
        std::fprintf(stderr, "tone_player: bad argument '%s'\n", argv[i]);
        std::exit(2);
    }
    return v;
}

int fail(const char* what, PaError err)
{
    std::fprintf(stderr, "tone_player: %s: %s\n", what, Pa_GetErrorText(err));
    Pa_Terminate();
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    const double hz = arg(argc, argv, 1, 440.0);
    const double seconds = arg(argc, argv, 2, 0.5);
    Tone tone;
    tone.mAmplitude = float(std::fmin(arg(argc, argv, 3, 0.5), 1.0));
    tone.mStep[0] = 2 * M_PI * hz / RATE;
    tone.mStep[1] = 2 * M_PI * hz * 1.5 / RATE;
    tone.mFramesLeft = long(seconds * RATE);

    PaError err = Pa_Initialize();
    if (err != paNoError)
        return fail("Pa_Initialize", err);
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    if (!info)
        return fail("no default output device", paInvalidDevice);
    std::printf("device %d \"%s\", default rate %g\n", device, info->name, info->defaultSampleRate);

    PaStreamParameters out{};
    out.device = device;
    out.channelCount = CHANNELS;
    out.sampleFormat = paFloat32;
    out.suggestedLatency = info->defaultLowOutputLatency;
    PaStream* stream = nullptr;
    err = Pa_OpenStream(&stream, nullptr, &out, RATE, 256, paNoFlag, &play, &tone);
    if (err != paNoError)
        return fail("Pa_OpenStream", err);
    if (const PaStreamInfo* si = Pa_GetStreamInfo(stream))
        std::printf("stream rate %g, latency %g s\n", si->sampleRate, si->outputLatency);
    err = Pa_StartStream(stream);
    if (err != paNoError)
        return fail("Pa_StartStream", err);
    // A stream whose callback stops being called must not hang the caller.
    long waits = long(seconds * 50) + 500;
    while ((err = Pa_IsStreamActive(stream)) == 1 && --waits > 0)
        Pa_Sleep(20);
    if (waits <= 0) {
        std::fprintf(stderr, "tone_player: the stream did not finish in time\n");
        Pa_AbortStream(stream);
        Pa_Terminate();
        return 1;
    }
    if (err < 0)
        return fail("Pa_IsStreamActive", err);
    err = Pa_StopStream(stream);
    if (err != paNoError)
        return fail("Pa_StopStream", err);
    Pa_CloseStream(stream);
    Pa_Terminate();
    std::printf("played %g s\n", seconds);
    std::fflush(stdout);
    return 0;
}
