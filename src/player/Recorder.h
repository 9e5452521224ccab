#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

struct sf_private_tag;

// Records what the output plays (after the master volume and the limiter)
// to a 32-bit float stereo WAV file. The audio thread hands each block to
// push(), which copies it into a ring allocated once, here, and returns: it
// never allocates, locks or touches the file. A writer thread empties the
// ring into the file. A block that does not fit is dropped and counted.
// A failed write (a full disk, a folder gone) ends the recording; the file
// keeps what was written, with its header finalised.
class Recorder : public QObject
{
    Q_OBJECT
public:
    static constexpr int CHANNELS = 2;
    static constexpr unsigned long RING_FRAMES = 1UL << 17;   // about 3 s at 44.1 kHz

    explicit Recorder(QObject* parent = nullptr);
    ~Recorder() override;

    // Where recordings go by default: the music folder, else the config folder.
    static QString defaultFolder();
    // "Arbor YYYY-MM-DD HH-MM-SS.wav" in `folder`, for the present time.
    static QString newFilePath(const QString& folder);

    // Rate of the blocks pushed from now on (set by the output when it opens a stream).
    void setSampleRate(int rate) { mSampleRate = rate; }
    int sampleRate() const { return mSampleRate; }

    // Starts recording into `path`, or into "<name> (2).wav"... when a file
    // of that name exists (none is ever replaced). False with a readable reason in
    // `error` when the file cannot be made.
    bool start(const QString& path, QString* error = nullptr);
    // Writes what is still in the ring, finalises the file and emits stopped().
    // Nothing when not recording. Also run when the application quits.
    void stop();
    bool isRecording() const { return mWriter.joinable(); }
    QString path() const { return mPath; }

    // Audio thread: one block of interleaved stereo frames.
    void push(const float* frames, unsigned long count) noexcept;

signals:
    void started(const QString& path);
    // What became of the recording: where it is, and why it ended if not by stop().
    void stopped(const QString& message, bool failed);

private:
    void writeLoop();
    bool writeAvailable();

    std::unique_ptr<float[]> mRing;
    std::atomic<unsigned long> mWritten {0};   // frames pushed (audio thread)
    std::atomic<unsigned long> mRead {0};      // frames taken (writer thread)
    std::atomic<bool> mArmed {false};
    std::atomic<bool> mStopping {false};
    std::atomic<unsigned long> mDropped {0};   // blocks
    std::thread mWriter;
    sf_private_tag* mFile = nullptr;
    QString mPath;
    QByteArray mEncodedPath;   // made before the writer starts, which then allocates nothing
    QString mError;   // set by the writer thread before it ends
    unsigned long long mFramesWritten = 0;
    int mSampleRate = 44100;
    int mGeneration = 0;   // recordings ended so far (a late request to end an earlier one is ignored)
};
