#pragma once

// The engine tests' one fixture: log catcher, runtime patch folder, fake PortAudio, block rendering and measures of the sound.

#include "DistinctPaths.h"
#include "PaApi.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"

#include <QtTest> // with all of Qt Core

#include <atomic>
#include <functional>
#include <numeric>
#include <thread>

namespace PlayerTest
{
inline QString sourcePatches() { return QStringLiteral(ARBOR_SOURCE_DIR "/patches"); }
inline QString testData() { return QStringLiteral(ARBOR_SOURCE_DIR "/tests/player/data"); }

// Every message logged while a catcher lives, as "<level> <text>" (D, W, C); Pd prints (with audio debug) as "libPD: \"<text>\"".
class LogCatcher
{
public:
    LogCatcher() : mPrevious(qInstallMessageHandler(&LogCatcher::handler)) { sSelf = this; }
    ~LogCatcher() { qInstallMessageHandler(mPrevious); }
    QStringList lines(const QString& part = QString()) const
    {
        QMutexLocker lock(&mMutex);
        return mLines.filter(part);
    }
    void clear()
    {
        QMutexLocker lock(&mMutex);
        mLines.clear();
    }
    bool contains(const QString& part) const { return !lines(part).isEmpty(); }
    // What the patch printed, only lines starting with `prefix`.
    QStringList pdPrints(const QString& prefix = QString()) const
    {
        return lines("D libPD: \"" + prefix).replaceInStrings(QRegularExpression("^D libPD: \"(.*)\"$"), "\\1");
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        QMutexLocker lock(&sSelf->mMutex);
        sSelf->mLines << (type == QtDebugMsg ? "D " : type == QtWarningMsg ? "W " : "C ") + text;
    }
    static inline LogCatcher* sSelf = nullptr;
    QtMessageHandler mPrevious;
    mutable QMutex mMutex;
    QStringList mLines;
};

// A patch folder (with a blank in its path): the shell patches, the test main patch and a voice patch as arbor_voice.pd.
class RuntimeFolder
{
public:
    explicit RuntimeFolder(const QString& voicePatch = sourcePatches() + "/Sine.pd")
        : mDir(QDir::tempPath() + "/arbor engine XXXXXX")
    {
        const QDir shell(sourcePatches() + "/shell");
        for (const QString& f : shell.entryList({"*.pd"}, QDir::Files))
            QFile::copy(shell.filePath(f), mDir.filePath(f));
        QFile::copy(testData() + "/protocol_main.pd", mDir.filePath("protocol_main.pd"));
        setVoice(voicePatch);
    }
    bool setVoice(const QString& voicePatch)
    {
        QFile::remove(mDir.filePath("arbor_voice.pd"));
        return QFile::copy(voicePatch, mDir.filePath("arbor_voice.pd"));
    }
    QString path() const { return mDir.path(); }
    QFileInfo file(const QString& name) const { return QFileInfo(mDir.filePath(name)); }
    QFileInfo main() const { return file("arbor_main.pd"); }
    QFileInfo protocol() const { return file("protocol_main.pd"); }

private:
    QTemporaryDir mDir;
};

// Runs `work` on a second thread while this one calls `meanwhile` until it is done.
inline void beside(const std::function<void()>& work, const std::function<void()>& meanwhile)
{
    std::atomic<bool> done {false};
    std::thread other([&] {
        work();
        done = true;
    });
    while (!done.load())
        meanwhile();
    other.join();
}

inline float peak(const std::vector<float>& s, std::size_t from = 0)
{
    return std::accumulate(s.begin() + long(from), s.end(), 0.0f, [](float p, float x) { return std::max(p, std::abs(x)); });
}

// A PortAudio that stands in for the real one (there is no sound card here) and traces the streams opened and closed. PortAudio
// devices 0 and 3 are input only; 1, 2 and 4 are list entries 0 to 2.
class FakePaApi : public PaApi
{
public:
    PaDeviceInfo mDevices[5] = {{2, "mic", 0, 2, 0, 0, 0.01, 0, 0.03, 44100}, {2, "hw:0", 0, 0, 2, 0, 0.01, 0, 0.03, 44100},
                                {2, "speakers", 1, 0, 2, 0, 0.01, 0, 0.03, 48000},
                                {2, "line in", 2, 2, 0, 0, 0.01, 0, 0.03, 44100}, {2, "system", 2, 2, 8, 0, 0.01, 0, 0.03, 96000}};
    PaHostApiInfo mHosts[3] = {{1, paALSA, "ALSA", 0, 0, 0}, {1, paDirectSound, "Windows DirectSound", 0, 0, 0},
                               {1, paJACK, "JACK Audio Connection Kit", 0, 0, 0}};
    QMap<QString, int> mSet {{"default", 1}, {"count", 5}}; // what a call returns: its error, or these values
    QStringList mTrace;
    int mPeriods = 0; // set for ALSA
    PaStreamCallback* mCallback = nullptr;
    void* mUserData = nullptr;

    PaError call(const QString& name, const QString& traced = QString())
    {
        if (!traced.isEmpty())
            mTrace << traced;
        return mSet.value(name, paNoError);
    }
    PaError initialize() override { return call("init"); }
    PaError terminate() override { return call("terminate", "terminate"); }
    int version() override { return 1; }
    const char* versionText() override { return "fake"; }
    const char* errorText(PaError) override { return "Some error"; }
    PaDeviceIndex deviceCount() override { return call("count"); }
    const PaDeviceInfo* deviceInfo(PaDeviceIndex d) override { return d >= 0 && d < 5 ? &mDevices[d] : nullptr; }
    const PaHostApiInfo* hostApiInfo(PaHostApiIndex h) override { return h >= 0 && h < 3 ? &mHosts[h] : nullptr; }
    PaDeviceIndex defaultOutputDevice() override { return call("default"); }
    PaError isFormatSupported(const PaStreamParameters*, const PaStreamParameters*, double) override { return call("format"); }
    PaError openStream(PaStream** stream, const PaStreamParameters* in, const PaStreamParameters* out, double rate,
                       unsigned long frames, PaStreamFlags flags, PaStreamCallback* cb, void* user) override
    {
        mCallback = cb;
        mUserData = user;
        *stream = this;
        const bool usual = !in && out->channelCount == 2 && out->sampleFormat == paFloat32 && qFuzzyCompare(out->suggestedLatency, 0.02)
                           && frames == 256 && flags == paNoFlag && !out->hostApiSpecificStreamInfo
                           && (mHosts[mDevices[out->device].hostApi].type != paALSA || mPeriods == 4); // one block each (20 ms)
        return call("open", QStringLiteral("open %1 %2%3").arg(out->device).arg(rate).arg(usual ? "" : " unusual"));
    }
    const PaStreamInfo* streamInfo(PaStream*) override { return nullptr; }
    PaError startStream(PaStream*) override { return call("start"); }
    PaError stopStream(PaStream*) override { return call("stop"); }
    PaError closeStream(PaStream*) override { return call("close", "close"); }
    PaError setAlsaPeriods(int periods) override { return mPeriods = periods, call("periods"); }

    // Calls the open stream back `blocks` times for `frames` frames, as PortAudio does; returns the left channel. Junk (9.0) stands
    // for samples not rendered and for the blocks of a callback that asks to end its stream.
    std::vector<float> render(int blocks, unsigned long frames = 256)
    {
        std::vector<float> left, block(frames * 2);
        for (int b = 0; b < blocks; ++b) {
            std::fill(block.begin(), block.end(), 9.0f);
            const bool goesOn = mCallback(nullptr, block.data(), frames, nullptr, 0, mUserData) == paContinue;
            for (std::size_t i = 0; i < block.size(); i += 2)
                left.push_back(goesOn ? block[i] : 9.0f);
        }
        return left;
    }
};

// Level in dB of what is left of `s` after a least-squares fit of a sine per frequency in `notes`, against the weakest of them.
inline double offNoteLevel(const std::vector<float>& s, const std::vector<double>& notes)
{
    const std::size_t n = notes.size() * 2; // a cosine and a sine per note
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 2)); // the normal equations, right-hand side last, twice
    std::vector<double> row(n + 2);
    double energy = 0.0;
    for (std::size_t t = 0; t < s.size(); ++t) {
        for (std::size_t k = 0; k < n; ++k)
            row[k] = std::cos(2.0 * M_PI * notes[k / 2] * double(t) / 44100.0 - double(k % 2) * M_PI_2);
        row[n] = row[n + 1] = double(s[t]);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n + 2; ++j)
                a[i][j] += row[i] * row[j];
        energy += row[n] * row[n];
    }
    for (std::size_t p = 0; p < n; ++p) { // Gauss-Jordan (the matrix is positive definite), not on the copy
        for (std::size_t i = 0; i < n; ++i) {
            const double f = i == p ? 0.0 : a[i][p] / a[p][p];
            for (std::size_t j = 0; j <= n; ++j)
                a[i][j] -= f * a[p][j];
        }
    }
    double weakest = HUGE_VAL;
    for (std::size_t k = 0; k < n; k += 2) {
        const double c = a[k][n] / a[k][k], d = a[k + 1][n] / a[k + 1][k + 1];
        energy -= c * a[k][n + 1] + d * a[k + 1][n + 1];
        weakest = std::min(weakest, (c * c + d * d) / 2.0 * double(s.size()));
    }
    return 10.0 * std::log10(energy / weakest);
}

// Queues a request as the GUI (or the wand) does: a type and value, or a toggle of `path`.
inline void queue(PdPlayer& player, int type, float value, bool wand = false)
{
    const ArborEvent e(ArborEvent::Type(type), value);
    wand ? player.queueEventSerial(&e) : player.queueEventGui(&e);
}

inline void toggle(PdPlayer& player, const QString& path)
{
    const ArborNoteEvent e(path);
    player.queueEventGui(&e);
}
} // namespace PlayerTest
