#pragma once

#include <portaudio.h>

// The PortAudio calls the audio output makes, behind one seam so that the
// device logic can be exercised without a sound card. real() forwards to
// PortAudio itself.
class PaApi
{
public:
    virtual ~PaApi();

    virtual PaError initialize() = 0;
    virtual PaError terminate() = 0;
    virtual int version() = 0;
    virtual const char* versionText() = 0;
    virtual const char* errorText(PaError error) = 0;
    virtual PaDeviceIndex deviceCount() = 0;
    virtual const PaDeviceInfo* deviceInfo(PaDeviceIndex device) = 0;
    virtual const PaHostApiInfo* hostApiInfo(PaHostApiIndex hostApi) = 0;
    virtual PaDeviceIndex defaultOutputDevice() = 0;
    virtual PaError isFormatSupported(const PaStreamParameters* input, const PaStreamParameters* output,
                                      double sampleRate) = 0;
    virtual PaError openStream(PaStream** stream, const PaStreamParameters* input, const PaStreamParameters* output,
                               double sampleRate, unsigned long framesPerBuffer, PaStreamFlags flags,
                               PaStreamCallback* callback, void* userData) = 0;
    virtual const PaStreamInfo* streamInfo(PaStream* stream) = 0;
    virtual PaError startStream(PaStream* stream) = 0;
    virtual PaError stopStream(PaStream* stream) = 0;
    virtual PaError closeStream(PaStream* stream) = 0;
    // ALSA only: how many periods the buffer of the streams opened next has
    // at least (PaAlsa_SetNumPeriods).
    virtual PaError setAlsaPeriods(int periods) = 0;

    static PaApi* real();
};
