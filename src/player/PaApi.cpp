#include "PaApi.h"

#include <pa_linux_alsa.h>

PaApi::~PaApi() = default;

namespace
{
class RealPaApi final : public PaApi
{
public:
    PaError initialize() override { return Pa_Initialize(); }
    PaError terminate() override { return Pa_Terminate(); }
    int version() override { return Pa_GetVersion(); }
    const char* versionText() override { return Pa_GetVersionText(); }
    const char* errorText(PaError error) override { return Pa_GetErrorText(error); }
    PaDeviceIndex deviceCount() override { return Pa_GetDeviceCount(); }
    const PaDeviceInfo* deviceInfo(PaDeviceIndex device) override { return Pa_GetDeviceInfo(device); }
    const PaHostApiInfo* hostApiInfo(PaHostApiIndex hostApi) override { return Pa_GetHostApiInfo(hostApi); }
    PaDeviceIndex defaultOutputDevice() override { return Pa_GetDefaultOutputDevice(); }
    PaError isFormatSupported(const PaStreamParameters* input, const PaStreamParameters* output,
                              double sampleRate) override
    {
        return Pa_IsFormatSupported(input, output, sampleRate);
    }
    PaError openStream(PaStream** stream, const PaStreamParameters* input, const PaStreamParameters* output,
                       double sampleRate, unsigned long framesPerBuffer, PaStreamFlags flags,
                       PaStreamCallback* callback, void* userData) override
    {
        return Pa_OpenStream(stream, input, output, sampleRate, framesPerBuffer, flags, callback, userData);
    }
    const PaStreamInfo* streamInfo(PaStream* stream) override { return Pa_GetStreamInfo(stream); }
    PaError startStream(PaStream* stream) override { return Pa_StartStream(stream); }
    PaError stopStream(PaStream* stream) override { return Pa_StopStream(stream); }
    PaError closeStream(PaStream* stream) override { return Pa_CloseStream(stream); }
    PaError setAlsaPeriods(int periods) override { return PaAlsa_SetNumPeriods(periods); }
};
}

PaApi* PaApi::real()
{
    static RealPaApi api;
    return &api;
}
