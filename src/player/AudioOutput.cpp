#include "AudioOutput.h"

#include "Recorder.h"

AudioOutput::AudioOutput(QObject* parent)
    : QObject(parent)
    , mRecorder(new Recorder(this))
{
}

AudioOutput::~AudioOutput() = default;

bool AudioOutput::init(int framesPerBuffer, int deviceIndex, PdPlayer* player)
{
    mFramesPerBuffer = framesPerBuffer;
    mPlayer = player;
    return selectDevice(deviceIndex);
}

void AudioOutput::term()
{
}

void AudioOutput::logDevices() const
{
}

void AudioOutput::mute()
{
    mMuted.store(true, std::memory_order_relaxed);
}

void AudioOutput::unmute()
{
    mMuted.store(false, std::memory_order_relaxed);
}

void AudioOutput::setSelectedDevice(int deviceIndex)
{
    mSelectedDevice = deviceIndex;
    emit selectedDeviceChanged(deviceIndex);
}
