#pragma once

// Shared helpers of the engine tests: a runtime patch folder laid out as the
// application lays it out, a log catcher that also collects what the patch
// prints, and block rendering through the output's callback body.

#include "AudioOutput.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <vector>

namespace PlayerTest
{
inline QString sourcePatches() { return QStringLiteral(ARBOR_SOURCE_DIR "/patches"); }
inline QString testData() { return QStringLiteral(ARBOR_SOURCE_DIR "/tests/player/data"); }

// Every message logged while a catcher lives, in order, as "<level> <text>".
// Pd prints arrive as debug lines "libPD: \"<text>\"" (with audio debug on).
class LogCatcher
{
public:
    LogCatcher()
    {
        sSelf = this;
        mPrevious = qInstallMessageHandler(&LogCatcher::handler);
    }
    ~LogCatcher()
    {
        qInstallMessageHandler(mPrevious);
        sSelf = nullptr;
    }

    QStringList lines() const
    {
        QMutexLocker lock(&mMutex);
        return mLines;
    }
    void clear()
    {
        QMutexLocker lock(&mMutex);
        mLines.clear();
    }
    bool contains(const QString& part) const
    {
        for (const QString& l : lines())
            if (l.contains(part))
                return true;
        return false;
    }
    int count(const QString& part) const
    {
        int n = 0;
        for (const QString& l : lines())
            n += l.contains(part) ? 1 : 0;
        return n;
    }
    // What the patch printed, optionally only lines starting with `prefix`.
    QStringList pdPrints(const QString& prefix = QString()) const
    {
        QStringList out;
        const QString tag = QStringLiteral("D libPD: \"");
        for (const QString& l : lines()) {
            if (!l.startsWith(tag))
                continue;
            QString text = l.mid(tag.size());
            text.chop(1);
            if (text.startsWith(prefix))
                out << text;
        }
        return out;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (!sSelf)
            return;
        const char* level = type == QtDebugMsg ? "D" : type == QtWarningMsg ? "W" : type == QtCriticalMsg ? "C" : "I";
        QMutexLocker lock(&sSelf->mMutex);
        sSelf->mLines << QString::fromLatin1(level) + QLatin1Char(' ') + text;
    }

    static inline LogCatcher* sSelf = nullptr;
    QtMessageHandler mPrevious = nullptr;
    mutable QMutex mMutex;
    QStringList mLines;
};

// A patch folder (with a blank in its path) holding the shell patches and a
// voice patch copied to arbor_voice.pd, as the application prepares it.
class RuntimeFolder
{
public:
    explicit RuntimeFolder(const QString& voicePatch = sourcePatches() + QStringLiteral("/Sine.pd"))
        : mDir(QDir::tempPath() + QStringLiteral("/arbor engine XXXXXX"))
    {
        if (!mDir.isValid())
            return;
        const QDir shell(sourcePatches() + QStringLiteral("/shell"));
        for (const QString& f : shell.entryList({QStringLiteral("*.pd")}, QDir::Files))
            QFile::copy(shell.filePath(f), mDir.filePath(f));
        setVoice(voicePatch);
        QFile::copy(testData() + QStringLiteral("/protocol_main.pd"), mDir.filePath(QStringLiteral("protocol_main.pd")));
    }
    bool setVoice(const QString& voicePatch)
    {
        QFile::remove(mDir.filePath(QStringLiteral("arbor_voice.pd")));
        return QFile::copy(voicePatch, mDir.filePath(QStringLiteral("arbor_voice.pd")));
    }
    bool isValid() const { return mDir.isValid(); }
    QString path() const { return mDir.path(); }
    QFileInfo main() const { return QFileInfo(mDir.filePath(QStringLiteral("arbor_main.pd"))); }
    QFileInfo protocol() const { return QFileInfo(mDir.filePath(QStringLiteral("protocol_main.pd"))); }

private:
    QTemporaryDir mDir;
};

// An output double for the hand-over: it only says whether a stream runs.
class StreamFlagOutput : public AudioOutput
{
public:
    QStringList devices() const override { return {}; }
    bool selectDevice(int) override { return false; }
    bool isStreamRunning() const override { return mRunning.load(); }
    std::atomic<bool> mRunning {false};
};

// Renders `blocks` blocks of `frames` frames the way the audio callback does
// and returns the left channel.
inline std::vector<float> render(PdPlayer& player, int blocks, int frames = 256, bool muted = false)
{
    std::vector<float> left;
    left.reserve(std::size_t(blocks) * std::size_t(frames));
    std::vector<float> block(std::size_t(frames) * 2);
    for (int b = 0; b < blocks; ++b) {
        PaAudioOutput::renderBlock(&player, block.data(), (unsigned long)frames, muted);
        for (int i = 0; i < frames; ++i)
            left.push_back(block[std::size_t(i) * 2]);
    }
    return left;
}

// Frequency from the rising zero crossings, interpolated between samples.
inline double measureFrequency(const std::vector<float>& s, std::size_t from, double rate = 44100.0)
{
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (std::size_t i = from + 1; i < s.size(); ++i) {
        if (s[i - 1] < 0.0f && s[i] >= 0.0f) {
            const double t = double(i - 1) + double(-s[i - 1]) / double(s[i] - s[i - 1]);
            if (first < 0.0)
                first = t;
            else
                ++crossings;
            last = t;
        }
    }
    if (crossings < 1)
        return 0.0;
    return rate * crossings / (last - first);
}

inline float peak(const std::vector<float>& s, std::size_t from = 0)
{
    float p = 0.0f;
    for (std::size_t i = from; i < s.size(); ++i)
        p = std::max(p, std::abs(s[i]));
    return p;
}

inline void queue(PdPlayer& player, ArborEvent::Type type, float value)
{
    const ArborEvent e(type, value);
    player.queueEventGui(&e);
}

inline void toggle(PdPlayer& player, const QString& path)
{
    const ArborNoteEvent e(path);
    player.queueEventGui(&e);
}
}
