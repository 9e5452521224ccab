#pragma once

#include "AudioOutput.h"

#include <QSet>
#include <QStringList>

// An output with a fixed device list, some of whose devices refuse to open.
// It records every selectDevice() call.
class FakeAudioOutput : public AudioOutput
{
public:
    QStringList mNames{"Built-in Output", "USB Interface", "Broken Card", "HDMI"};
    QSet<int> mFailing;
    QList<int> mCalls;
    int mCurrent = 1;

    QStringList devices() const override { return mNames; }
    int selectedDevice() const override { return mCurrent; }
    bool selectDevice(int index) override
    {
        mCalls << index;
        if (mFailing.contains(index) || index < 0 || index >= mNames.size())
            return false;
        mCurrent = index;
        return true;
    }
};
