#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>

class PdPlayer;
class Recorder;

// The sound device that runs the engine's real-time callback. The default
// bodies let simple outputs (and test doubles) implement only the device
// list and selection.
class AudioOutput : public QObject
{
    Q_OBJECT
public:
    explicit AudioOutput(QObject* parent = nullptr);
    ~AudioOutput() override;

    virtual bool init(int framesPerBuffer, int deviceIndex, PdPlayer* player);
    virtual void term();
    virtual QStringList devices() const = 0;
    virtual void logDevices() const;
    virtual bool selectDevice(int deviceIndex) = 0;
    // Muting fades the sound out over a few milliseconds and returns once it
    // is silent (or after a bound); unmuting fades it in.
    virtual void mute();
    virtual void unmute();

    // List index of the running device, -1 when no stream runs.
    virtual int selectedDevice() const { return mSelectedDevice; }
    // Whether a callback stream is started (it then drains the engine's
    // rings every block). Asked on the GUI thread, which alone starts and
    // stops streams.
    virtual bool isStreamRunning() const { return false; }
    // The running stream stopped calling back (a device that blocks or
    // vanished): give it up at once, without waiting for it, and tell the
    // user once through deviceStopped. Nothing by default.
    virtual void abandonStream() {}

    bool isMuted() const { return mMuted.load(std::memory_order_relaxed); }
    int framesPerBuffer() const { return mFramesPerBuffer; }
    PdPlayer* player() const { return mPlayer; }
    // Records what the output plays; always there, idle until started.
    Recorder* recorder() const { return mRecorder; }

    void setSelectedDevice(int deviceIndex);

signals:
    void selectedDeviceChanged(int deviceIndex);
    // Queued: the device that was playing stopped responding and was given
    // up; deviceIndex is the list index it had.
    void deviceStopped(int deviceIndex);

protected:
    int mSelectedDevice = -1;
    int mFramesPerBuffer = 256;
    PdPlayer* mPlayer = nullptr;
    std::atomic<bool> mMuted {false};
    Recorder* mRecorder;   // a child
};
