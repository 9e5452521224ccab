#include "Recorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sndfile.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

Recorder::Recorder(QObject* parent)
    : QObject(parent)
    , mRing(new float[RING_FRAMES * CHANNELS])
{
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &Recorder::stop);
}

Recorder::~Recorder()
{
    stop();
}

QString Recorder::defaultFolder()
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QDir().mkpath(music))
        return music;
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation);
}

QString Recorder::newFilePath(const QString& folder)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"));
    return QDir(folder).filePath(QStringLiteral("Arbor %1.wav").arg(stamp));
}

bool Recorder::start(const QString& path, QString* error)
{
    if (isRecording()) {
        if (error)
            *error = tr("Already recording into %1").arg(QDir::toNativeSeparators(mPath));
        return false;
    }
    const QFileInfo info(path);
    QString candidate = path;
    int fd = -1;
    for (int n = 2; fd < 0; ++n) {
        fd = ::open(QFile::encodeName(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) {
            if (error)
                *error = tr("Cannot record into %1: %2").arg(QDir::toNativeSeparators(candidate), strerror(errno));
            return false;
        }
        if (fd < 0)
            candidate = info.dir().filePath(QStringLiteral("%1 (%2).%3").arg(info.completeBaseName()).arg(n).arg(
                info.suffix().isEmpty() ? QStringLiteral("wav") : info.suffix()));
    }
    SF_INFO format = {};
    format.samplerate = mSampleRate;
    format.channels = CHANNELS;
    format.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    mFile = sf_open_fd(fd, SFM_WRITE, &format, SF_TRUE);
    if (!mFile) {
        if (error)
            *error = tr("Cannot record into %1: %2").arg(QDir::toNativeSeparators(candidate), sf_strerror(nullptr));
        QFile::remove(candidate);
        return false;
    }
    // The header is made now (a valid empty WAV), not by the writer's first write.
    sf_command(mFile, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    mPath = candidate;
    mEncodedPath = QFile::encodeName(candidate);
    mError.clear();
    mFramesWritten = 0;
    mDropped.store(0);
    mRead.store(mWritten.load());
    mStopping.store(false);
    mWriter = std::thread(&Recorder::writeLoop, this);
    mArmed.store(true);
    qInfo().noquote() << "Recording into" << QDir::toNativeSeparators(mPath) << "at" << mSampleRate << "Hz";
    emit started(mPath);
    return true;
}

void Recorder::push(const float* frames, unsigned long count) noexcept
{
    if (!mArmed.load(std::memory_order_acquire))
        return;
    const unsigned long written = mWritten.load(std::memory_order_relaxed);
    if (count > RING_FRAMES - (written - mRead.load(std::memory_order_acquire))) {
        mDropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const unsigned long at = written % RING_FRAMES;
    const unsigned long first = std::min(count, RING_FRAMES - at);
    std::memcpy(mRing.get() + at * CHANNELS, frames, first * CHANNELS * sizeof(float));
    std::memcpy(mRing.get(), frames + first * CHANNELS, (count - first) * CHANNELS * sizeof(float));
    mWritten.store(written + count, std::memory_order_release);
}

bool Recorder::writeAvailable()
{
    const unsigned long written = mWritten.load(std::memory_order_acquire);
    unsigned long read = mRead.load(std::memory_order_relaxed);
    while (read != written) {
        const unsigned long at = read % RING_FRAMES;
        const unsigned long count = std::min(written - read, RING_FRAMES - at);
        const sf_count_t done = sf_writef_float(mFile, mRing.get() + at * CHANNELS, sf_count_t(count));
        mFramesWritten += qMax<sf_count_t>(done, 0);
        if (done != sf_count_t(count)) {
            mError = tr("Writing the recording failed (%1), so it ended.").arg(sf_strerror(mFile));
            return false;
        }
        read += count;
        mRead.store(read, std::memory_order_release);
    }
    return true;
}

void Recorder::writeLoop()
{
    using namespace std::chrono;
    auto checked = steady_clock::now();
    for (;;) {
        const bool last = mStopping.load();
        if (!writeAvailable())
            break;
        if (last)
            return;
        if (steady_clock::now() - checked > milliseconds(500)) {
            checked = steady_clock::now();
            if (::access(mEncodedPath.constData(), F_OK) != 0) {
                mError = tr("The recording's folder disappeared, so the recording ended.");
                break;
            }
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    mArmed.store(false);
    const int generation = mGeneration;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation == mGeneration)
            stop();
    }, Qt::QueuedConnection);
}

void Recorder::stop()
{
    if (!isRecording())
        return;
    mArmed.store(false);
    mStopping.store(true);
    mWriter.join();
    sf_write_sync(mFile);
    sf_close(mFile);
    mFile = nullptr;
    ++mGeneration;
    const double seconds = double(mFramesWritten) / mSampleRate;
    QString message = tr("Recorded %1 s into %2.").arg(seconds, 0, 'f', 1).arg(QDir::toNativeSeparators(mPath));
    if (const unsigned long dropped = mDropped.load())
        message += ' ' + tr("%n block(s) could not be written in time and are missing.", nullptr, int(dropped));
    const bool failed = !mError.isEmpty();
    if (failed)
        message = mError + ' ' + message;
    (failed ? qWarning() : qInfo()).noquote() << message;
    emit stopped(message, failed);
}
