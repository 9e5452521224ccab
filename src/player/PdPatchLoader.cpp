#include "PdPlayer.h"

// The engine's start-up and its patches: opening and closing them on the
// audio thread, and the GUI thread's hand-over of those requests.

#include "AudioOutput.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <cmath>
#include <cstring>
#include <utility>

#include "z_libpd.h"

namespace
{
constexpr float TICKET_LIMIT = 16777216.0f; // tickets travel exactly in a float
// A stream whose callback has not begun a block for this long has stalled.
constexpr int STALL_MS = 1000;

// A hand-over request carries its ticket in the value and this mark in the
// last path byte, which the inline form of a real path always keeps 0. Plain
// OpenPatch/ClosePatch events (value 1.0, e.g. from a wand mapping) carry no
// mark and are executed without ticket bookkeeping.
constexpr signed char TICKET_MARK = 0x54;
constexpr int TICKET_MARK_BYTE = 6;

bool ticketOf(const PdMessageBuffer::Chunk* chunk, std::uint32_t& ticket)
{
    if (chunk->mPath[TICKET_MARK_BYTE] != TICKET_MARK)
        return false;
    const float value = chunk->mValue;
    if (!std::isfinite(value) || value < 1.0f || value >= TICKET_LIMIT || std::floor(value) != value)
        return false;
    ticket = std::uint32_t(value);
    return true;
}
}

bool PdPlayer::init()
{
    const std::pair<PdMessageBuffer*, const char*> rings[] = {
        {&mGuiBuffer, "gui"}, {&mSerialBuffer, "serial"}, {&mMidiBuffer, "MIDI"}};
    for (const auto& [ring, name] : rings) {
        if (!ring->init()) {
            qCritical().noquote() << QStringLiteral("failed to allocate %1 command buffer").arg(QLatin1String(name));
            return false;
        }
    }
    if (!mResults.init()) {
        qCritical() << "failed to allocate the engine's result buffer";
        return false;
    }
    if (QCoreApplication::instance() && onOwnerThread())
        mResultTimer.start();
    qWarning() << "calling libpd init";
    libpd_set_printhook(&PdPlayer::pdPrintHook);
    libpd_set_listhook(reinterpret_cast<t_libpd_listhook>(&PdPlayer::pdListHook));
    libpd_init(); // -1 only when this process initialised it before
    mInitialised = true;
    return true;
}

void PdPlayer::initAudio(int outChannels, int sampleRate)
{
    qWarning() << "Initialising libpd with sampleRate" << sampleRate;
    if (libpd_init_audio(0, outChannels, sampleRate) != 0)
        qCritical() << "libpd_init_audio failed for" << outChannels << "channels at" << sampleRate;
}

void PdPlayer::term()
{
    qWarning() << "PdPlayer::term...";
    if (!mInitialised)
        return;
    unloadPatch(); // ends by delivering what the audio thread left
    mResultTimer.stop();
}

// ---------------------------------------------------------------- patches

bool PdPlayer::streamRunning() const
{
    return mOutput && mOutput->isStreamRunning();
}

void PdPlayer::patchRequest(const PdMessageBuffer::Chunk* chunk, bool fromGui)
{
    const ArborEvent::Type type = ArborEvent::Type(chunk->mType);
    QMutexLocker lock(&mPatchMutex);
    std::uint32_t ticket = 0;
    const bool tracked = fromGui && ticketOf(chunk, ticket);
    if (tracked && ticket != mWaitingTicket) {
        // A request the GUI stopped waiting for (it finished the work itself).
        PD_AUDIO_DEBUG << "dropping stale patch request" << ticket;
        mPatchCondition.wakeAll();
        return;
    }
    if (type == ArborEvent::OpenPatch)
        openPatchLocked();
    else
        closePatchLocked();
    if (tracked)
        mDoneTicket = ticket;
    mPatchCondition.wakeAll();
}

void PdPlayer::openPatch()
{
    PD_AUDIO_DEBUG << "PdPlayer::openPatch()";
    QMutexLocker lock(&mPatchMutex);
    openPatchLocked();
    mPatchCondition.wakeAll();
}

void PdPlayer::closePatch()
{
    QMutexLocker lock(&mPatchMutex);
    closePatchLocked();
    mPatchCondition.wakeAll();
}

void PdPlayer::openPatchLocked()
{
    if (!mPendingPatchName || !mPendingPatchDir)
        return; // e.g. a wand request with nothing pending
    if (mPatch) {
        // Opening over an open patch would leave the old one unreachable.
        qWarning() << "Closing the open patch before opening another";
        closePatchLocked();
    }
    qWarning() << "Opening PD patch: " << mPendingPatchDir << mPendingPatchName;
    mPdErrors = 0;
    mPatch = libpd_openfile(mPendingPatchName, mPendingPatchDir);
    if (!mPatch) {
        qCritical() << "Opening PD patch failed: " << mPendingPatchDir << mPendingPatchName;
        return;
    }
    if (mPdErrors > 0) {
        // Most often a voice patch that is missing or broken: every voice
        // would stay silent and never be freed.
        qCritical().noquote() << QStringLiteral("Opening PD patch failed: %1 errors while Pd built %2/%3 (see the libPD lines "
                                                "above); closing it")
                                     .arg(mPdErrors)
                                     .arg(QString::fromLocal8Bit(mPendingPatchDir), QString::fromLocal8Bit(mPendingPatchName));
        libpd_closefile(mPatch);
        mPatch = nullptr;
        return;
    }
    if (!setDsp(true)) {
        qCritical() << "setDsp(true) failed after opening: " << mPendingPatchDir << mPendingPatchName;
        return;
    }
    mVoiceInfoReceiver = libpd_bind("output-voice-info");
    mVoiceStopReceiver = libpd_bind("voice-stop");
    // A new patch starts at its own level: give it the engine's.
    sendPdVolumeMessage(mVolume);
    sendPdQueryMacrosMessage();
    mPendingPatchName = nullptr;
    mPendingPatchDir = nullptr;
}

void PdPlayer::closePatchLocked()
{
    if (!mPatch)
        return;
    qWarning() << "Closing PD patch...";
    allNotesOff();
    setDsp(false);
    if (mVoiceInfoReceiver) {
        libpd_unbind(mVoiceInfoReceiver);
        mVoiceInfoReceiver = nullptr;
    }
    if (mVoiceStopReceiver) {
        libpd_unbind(mVoiceStopReceiver);
        mVoiceStopReceiver = nullptr;
    }
    libpd_closefile(mPatch);
    mPatch = nullptr;
    // No patch is left to report the end of the releases: free every voice.
    for (int i = 0; i < VOICE_COUNT; ++i) {
        NoteOn& entry = mVoices[std::uint64_t(i)];
        entry.mSeqId = 0;
        entry.mReleased = false;
    }
    mNoteMap.clear();
    mMonoVoice = -1;
    mAwaitingMacroNames = false;
    mMacroNames = QStringList();
    emit macroNamesReceived(mMacroNames);
    mMacroDefaults.clear();
}

bool PdPlayer::handOver(ArborEvent::Type type, const char* waitingText)
{
    if (!streamRunning()) {
        // No callback runs, so nothing else is inside Pd: do it here.
        qDebug() << "no audio stream runs: handling the patch request on the GUI thread";
        if (type == ArborEvent::OpenPatch)
            openPatchLocked();
        else
            closePatchLocked();
        return true;
    }
    mTicketCounter = mTicketCounter + 1 >= std::uint32_t(TICKET_LIMIT) ? 1 : mTicketCounter + 1;
    const std::uint32_t ticket = mTicketCounter;
    mWaitingTicket = ticket;
    PdMessageBuffer::Chunk request;
    request.mType = std::int32_t(type);
    request.mValue = float(ticket);
    request.mPath[TICKET_MARK_BYTE] = TICKET_MARK;
    if (!mGuiBuffer.writeChunk(&request)) {
        qWarning() << "could not queue the patch request; not waiting for the audio thread";
        mWaitingTicket = 0;
        return false;
    }
    qDebug() << waitingText;
    std::uint64_t blocks = blockCount();
    QElapsedTimer sinceBlock;
    sinceBlock.start();
    for (int waited = 1; mDoneTicket != ticket; ++waited) {
        if (mPatchCondition.wait(&mPatchMutex, 100))
            continue;
        if (blockCount() != blocks) {
            blocks = blockCount();
            sinceBlock.restart();
        }
        if (streamRunning() && sinceBlock.elapsed() >= STALL_MS) {
            // The callback may yet take the mutex: let it, and look again.
            mPatchMutex.unlock();
            mOutput->abandonStream();
            mPatchMutex.lock();
            if (mDoneTicket == ticket)
                break;
        }
        if (!streamRunning()) {
            qWarning() << "the audio stream stopped during a patch hand-over: finishing it on the GUI thread";
            mWaitingTicket = 0;
            if (type == ArborEvent::OpenPatch)
                openPatchLocked();
            else
                closePatchLocked();
            return true;
        }
        if (waited % 20 == 5)
            qWarning() << "still waiting for the audio thread to take the patch request";
    }
    mWaitingTicket = 0;
    return true;
}

void PdPlayer::unloadPatch()
{
    if (mOutput)
        mOutput->mute(); // returns once faded out
    {
        QMutexLocker lock(&mPatchMutex);
        handOver(ArborEvent::ClosePatch, "GUI waiting for audio thread to unload patch");
    }
    if (mOutput)
        mOutput->unmute();
    deliverResults();
    qDebug() << "GUI woke up after unloading patch";
}

bool PdPlayer::loadPatch(const QFileInfo& file)
{
    qDebug() << "PdPlayer::loadPatch A";
    unloadPatch();
    const QByteArray name = file.fileName().toLocal8Bit();
    const QByteArray dir = QDir::toNativeSeparators(file.absolutePath()).toLocal8Bit();
    bool failed = false;
    {
        QMutexLocker lock(&mPatchMutex);
        mPendingPatchName = name.constData();
        mPendingPatchDir = dir.constData();
        const bool handed = handOver(ArborEvent::OpenPatch, "GUI waiting for audio thread to load patch");
        if (handed)
            qDebug() << "GUI woke up after loading patch";
        failed = !handed || mPendingPatchName != nullptr;
        mPendingPatchName = nullptr;
        mPendingPatchDir = nullptr;
    }
    // The releases of the closed patch's notes are shown first.
    deliverResults();
    if (failed)
        return false;
    emit patchLoaded(file.absoluteFilePath());
    return true;
}
