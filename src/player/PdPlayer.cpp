#include "PdPlayer.h"

#include "ArborConstants.h"
#include "ArborPath.h"
#include "AudioOutput.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "z_libpd.h"

// Debug lines on the audio thread: nothing is composed while sAudioDebug is off.
#define PD_AUDIO_DEBUG \
    if (!PdPlayer::sAudioDebug.load(std::memory_order_relaxed)) { \
    } else \
        qDebug()

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

// Pd prints a line in pieces (an object's name, each atom, the newline): the
// pieces are gathered here, on the thread that runs Pd, without allocating.
char sPrintLine[1024];
std::size_t sPrintLength = 0;
// Pd's complaints since the last patch open began (same thread as Pd).
int sPdErrors = 0;
}

PdPlayer* PdPlayer::sThis = nullptr;
std::atomic<bool> PdPlayer::sAudioDebug {false};

PdPlayer::PdPlayer(QObject* parent)
    : QObject(parent)
    , mOwnerThread(QThread::currentThreadId())
{
    sThis = this;
    qRegisterMetaType<ArborRatio>("ArborRatio");
    qRegisterMetaType<QList<float>>("QList<float>");
    for (int p = 0; p < 32; ++p)
        mPrimeEnabled[std::uint64_t(p)] = true;
    for (int i = 0; i < VOICE_COUNT; ++i)
        mVoices[std::uint64_t(i)] = NoteOn();
    mMacroDefaults.reserve(8);
    // A 256-frame block lasts 5.8 ms: the GUI hears of a change within about
    // one block.
    mResultTimer.setInterval(5);
    connect(&mResultTimer, &QTimer::timeout, this, &PdPlayer::deliverResults);
}

PdPlayer::~PdPlayer()
{
    if (sThis == this)
        sThis = nullptr;
}

bool PdPlayer::init()
{
    if (!mGuiBuffer.init()) {
        qCritical() << "failed to allocate gui command buffer";
        return false;
    }
    if (!mSerialBuffer.init()) {
        qCritical() << "failed to allocate serial command buffer";
        return false;
    }
    if (!mMidiBuffer.init()) {
        qCritical() << "failed to allocate MIDI command buffer";
        return false;
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

// ---------------------------------------------------------------- queueing

bool PdPlayer::queueEventGui(const ArborEvent* event)
{
    return mGuiBuffer.queueEvent(event);
}

bool PdPlayer::queueEventSerial(const ArborEvent* event)
{
    return mSerialBuffer.queueEvent(event);
}

bool PdPlayer::queueEventMidi(const ArborEvent* event)
{
    return mMidiBuffer.queueEvent(event);
}

void PdPlayer::processEvents()
{
    mBlocks.fetch_add(1, std::memory_order_release);
    executeChunks(mSerialBuffer, false);
    executeChunks(mMidiBuffer, false);
    executeChunks(mGuiBuffer, true);
}

void PdPlayer::executeChunks(PdMessageBuffer& buffer, bool fromGui)
{
    buffer.processEvents(mChunks);
    for (std::uint64_t i = 0; i < mChunks.size(); ++i)
        executeChunk(mChunks[i], fromGui);
    mChunks.setSize(0);
}

void PdPlayer::processChunk(const PdMessageBuffer::Chunk* chunk)
{
    executeChunk(chunk, true);
}

void PdPlayer::executeChunk(const PdMessageBuffer::Chunk* chunk, bool fromGui)
{
    if (!chunk)
        return;
    const float value = chunk->mValue;
    switch (chunk->mType) {
    case ArborEvent::NoteToggle:
    case ArborEvent::NoteOn:
    case ArborEvent::NoteOff:
        noteRequest(chunk);
        break;
    case ArborEvent::AllNotesOff:
        allNotesOff();
        break;
    case ArborEvent::Transpose: {
        const float rounded = std::floor(value + 0.5f);
        if (!std::isfinite(rounded) || rounded < -128.0f || rounded > 127.0f) {
            PD_AUDIO_DEBUG << "ignoring transposition by" << value;
            break;
        }
        const int step = int(rounded);
        if (step != 0 && !ArborConstants::isValidPrimeStep(step)) {
            PD_AUDIO_DEBUG << "ignoring transposition step" << step;
            break;
        }
        transpose(static_cast<signed char>(step));
        break;
    }
    case ArborEvent::VoiceVolumeChange:
    case ArborEvent::VoiceVolumeSet:
        mVoiceVolume = chunk->mType == ArborEvent::VoiceVolumeSet ? value : mVoiceVolume + value;
        report(PdResultBuffer::VoiceVolumeChanged, 0, mVoiceVolume);
        break;
    case ArborEvent::MasterVolumeChange:
    case ArborEvent::MasterVolumeSet:
        mVolume = chunk->mType == ArborEvent::MasterVolumeSet ? value : mVolume + value;
        sendPdVolumeMessage(mVolume);
        report(PdResultBuffer::VolumeChanged, 0, mVolume);
        break;
    case ArborEvent::Monophonic:
        mMonophonic = value > 0.5f;
        mMonoVoice = -1;
        report(PdResultBuffer::MonophonicChanged, mMonophonic ? 1 : 0, 0.0f);
        break;
    case ArborEvent::PatchStep:
        if (value > 0.0f)
            report(PdResultBuffer::PatchIncRequested, 0, 0.0f);
        else
            report(PdResultBuffer::PatchDecRequested, 0, 0.0f);
        break;
    case ArborEvent::BaseFrequency:
        mBaseFrequency = value;
        report(PdResultBuffer::BaseFrequencyChanged, 0, value);
        break;
    case ArborEvent::PrimeToggle: {
        // Truncation towards zero, checked before the conversion.
        if (!(value > -1.0f && value < 32.0f)) {
            PD_AUDIO_DEBUG << "ignoring prime toggle for" << value;
            break;
        }
        const int p = int(value);
        const bool enabled = !mPrimeEnabled[std::uint64_t(p)];
        mPrimeEnabled[std::uint64_t(p)] = enabled;
        report(PdResultBuffer::PrimeToggled, p, enabled ? 1.0f : 0.0f);
        break;
    }
    case ArborEvent::MacroValue1:
    case ArborEvent::MacroValue2:
    case ArborEvent::MacroValue3:
    case ArborEvent::MacroValue4:
    case ArborEvent::MacroValue5:
    case ArborEvent::MacroValue6:
    case ArborEvent::MacroValue7:
    case ArborEvent::MacroValue8: {
        const int n = chunk->mType - 10;
        sendPdVoiceMessage(PdVoiceMessageType(n + 3), value, -1.0f);
        report(PdResultBuffer::MacroValueChanged, n, value);
        break;
    }
    case ArborEvent::OpenPatch:
    case ArborEvent::ClosePatch:
        patchRequest(chunk, fromGui);
        break;
    default:
        break; // unknown types travel through and are ignored
    }
}

// ---------------------------------------------------------------- results

bool PdPlayer::onOwnerThread() const
{
    // pthread_self underneath: nothing is allocated, also on a thread Qt
    // never saw (the audio callback's).
    return QThread::currentThreadId() == mOwnerThread;
}

void PdPlayer::report(PdResultBuffer::Kind kind, int number, float value, const ArborRatio* ratio)
{
    PdResultBuffer::Result result;
    result.mKind = kind;
    result.mInt = number;
    result.mValue = value;
    if (ratio) {
        result.mNumerator = ratio->numerator();
        result.mDenominator = ratio->denominator();
    }
    if (onOwnerThread()) {
        deliverResults(); // what the audio thread reported comes first
        emitResult(result);
        return;
    }
    mResults.write(result); // a full ring counts the drop
}

void PdPlayer::deliverResults()
{
    if (!onOwnerThread())
        return; // one reader only: the engine's own thread
    PdResultBuffer::Result result;
    while (mResults.read(result))
        emitResult(result);
    if (const std::uint32_t dropped = mResults.takeDropped())
        qWarning() << "the GUI fell behind the audio thread:" << dropped
                   << "engine changes were not shown (note cards or controls may be out of date)";
}

void PdPlayer::emitResult(const PdResultBuffer::Result& r)
{
    switch (r.mKind) {
    case PdResultBuffer::NoteOn:
    case PdResultBuffer::NoteOff:
        emit noteToggled(ArborRatio(r.mNumerator, r.mDenominator), r.mKind == PdResultBuffer::NoteOn);
        break;
    case PdResultBuffer::Transposed:
        emit transposed(ArborRatio(r.mNumerator, r.mDenominator), r.mInt);
        break;
    case PdResultBuffer::VolumeChanged:
        emit volumeChanged(r.mValue);
        break;
    case PdResultBuffer::VoiceVolumeChanged:
        emit voiceVolumeChanged(r.mValue);
        break;
    case PdResultBuffer::BaseFrequencyChanged:
        emit baseFrequencyChanged(r.mValue);
        break;
    case PdResultBuffer::MonophonicChanged:
        emit monophonicChanged(r.mInt != 0);
        break;
    case PdResultBuffer::PrimeToggled:
        emit primeEnabledToggled(r.mInt, r.mValue > 0.5f);
        break;
    case PdResultBuffer::MacroValueChanged:
        emit macroValueChanged(r.mInt, r.mValue);
        break;
    case PdResultBuffer::PatchIncRequested:
        emit patchIncRequested();
        break;
    case PdResultBuffer::PatchDecRequested:
        emit patchDecRequested();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- voices

bool PdPlayer::ratioOf(const PdMessageBuffer::Chunk* chunk, ArborRatio& ratio, bool& switchedOff) const
{
    const ArborPath path = ArborPath::fromRaw(chunk->mPath);
    if (!path.isValid())
        return false;
    const int length = path.length();
    switchedOff = false; // such a note may still be released, not started
    if (length > 0) {
        const int last = path.toCharArray()[length - 1];
        const int prime = last < 0 ? -last : last;
        if (prime > 31)
            return false;
        switchedOff = !mPrimeEnabled[std::uint64_t(prime)];
    }
    const ArborRatio pathRatio = ArborRatio::relativeFromPath(path);
    if (pathRatio.isNull())
        return false;
    if (!mTransposition.canMultiplyWith(pathRatio)) {
        qWarning() << "ignoring note request: the transposed ratio does not fit 64 bits";
        return false;
    }
    ratio = mTransposition;
    ratio *= pathRatio;
    return !ratio.isNull();
}

void PdPlayer::noteRequest(const PdMessageBuffer::Chunk* chunk)
{
    ArborRatio ratio;
    bool switchedOff = false;
    if (!ratioOf(chunk, ratio, switchedOff))
        return;
    const NoteOn* entry = mNoteMap.value(ratio);
    const bool held = entry && !entry->mReleased;
    switch (chunk->mType) {
    case ArborEvent::NoteOn:
        // A held note keeps sounding; a releasing one starts again.
        if (!held && !switchedOff) {
            const float v = chunk->mValue;
            noteOn(ratio, std::isfinite(v) ? std::min(std::max(v, 0.0f), 1.0f) : 1.0f);
        }
        break;
    case ArborEvent::NoteOff:
        if (held)
            noteOff(ratio);
        break;
    default: // a toggle
        if (held)
            noteOff(ratio);
        else if (!switchedOff)
            noteOn(ratio);
        break;
    }
}

float PdPlayer::frequencyOf(const ArborRatio& ratio, float baseFrequency)
{
    return float(ratio.numerator()) / float(ratio.denominator()) * baseFrequency;
}

float PdPlayer::ratioToFrequency(const ArborRatio& ratio) const
{
    return frequencyOf(ratio, mBaseFrequency);
}

void PdPlayer::noteOn(const ArborRatio& ratio, float velocity)
{
    ++mSeqCounter;
    if (mSeqCounter == 0) // 0 marks a free voice
        mSeqCounter = 1;
    const float f = ratioToFrequency(ratio);

    int index = -1;
    bool stolen = false;
    for (int i = 0; i < VOICE_COUNT; ++i) {
        if (mVoices[std::uint64_t(i)].mSeqId == 0) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        index = 0;
        for (int i = 1; i < VOICE_COUNT; ++i)
            if (mVoices[std::uint64_t(i)].mSeqId < mVoices[std::uint64_t(index)].mSeqId)
                index = i;
        stolen = true;
        NoteOn& victim = mVoices[std::uint64_t(index)];
        if (!victim.mReleased) {
            const ArborRatio old = victim.mRatio;
            noteOff(old);
            // The map may point at another entry for that ratio: release this
            // one. (A patch that reports "voice-stop" at once has already
            // freed it: seqId 0.)
            if (victim.mSeqId != 0 && !victim.mReleased) {
                victim.mReleased = true;
                sendPdVoiceMessage(Gate, 0.0f, float(index));
            }
        }
        onVoiceStopped(index);
    }

    if (mMonophonic) {
        if (mMonoVoice != -1) {
            NoteOn& mono = mVoices[std::uint64_t(mMonoVoice)];
            if (mono.mSeqId != 0 && !mono.mReleased) {
                PD_AUDIO_DEBUG << "turning off previous mono voice" << mMonoVoice << "ratio" << mono.mRatio.toString();
                const ArborRatio old = mono.mRatio;
                noteOff(old);
            }
        }
        mMonoVoice = index;
    }

    NoteOn& entry = mVoices[std::uint64_t(index)];
    entry.mRatio = ratio;
    entry.mVoice = index;
    entry.mSeqId = mSeqCounter;
    entry.mReleased = false;
    mNoteMap.insert(ratio, &entry);

    PD_AUDIO_DEBUG << "noteOn for ratio" << ratio.toString() << "freq" << f << "voice" << index << "seqId"
                   << entry.mSeqId << "stolen" << (stolen ? "true" : "false");

    if (f > 20.0f && f < 20000.0f) {
        sendPdVoiceMessage(Frequency, f, float(index));
        sendPdVoiceMessage(Volume, mVoiceVolume * velocity, float(index));
        sendPdVoiceMessage(Gate, 1.0f, float(index));
    }
    report(PdResultBuffer::NoteOn, 0, 0.0f, &ratio);
}

void PdPlayer::noteOff(const ArborRatio& ratio)
{
    NoteOn* entry = mNoteMap.value(ratio);
    if (!entry)
        return;
    PD_AUDIO_DEBUG << "noteOff for ratio" << ratio.toString() << "voice" << entry->mVoice;
    entry->mReleased = true;
    sendPdVoiceMessage(Gate, 0.0f, float(entry->mVoice));
    report(PdResultBuffer::NoteOff, 0, 0.0f, &ratio);
}

void PdPlayer::allNotesOff()
{
    // A patch may report "voice-stop" synchronously, which removes map
    // entries: work on a copy of the ratios.
    int count = 0;
    mNoteMap.forEach([&](std::uint64_t n, std::uint64_t d, NoteOn*) {
        if (count < VOICE_COUNT)
            mRatioScratch[count++] = ArborRatio(n, d);
    });
    for (int i = 0; i < count; ++i)
        noteOff(mRatioScratch[i]);
}

void PdPlayer::transpose(signed char step)
{
    if (step == 0) {
        mTransposition = ArborRatio(1, 1);
    } else {
        const ArborRatio stepRatio = ArborRatio::relativeFromPath(ArborPath(step));
        if (stepRatio.isNull()) {
            qWarning() << "refusing transposition step" << int(step) << ": not a signed prime";
            return;
        }
        if (!mTransposition.canMultiplyWith(stepRatio)) {
            qWarning() << "refusing transposition step" << int(step) << ": the ratio would not fit 64 bits";
            return;
        }
        mTransposition *= stepRatio;
    }
    report(PdResultBuffer::Transposed, int(step), 0.0f, &mTransposition);
}

void PdPlayer::onVoiceStopped(int voiceIndex)
{
    if (voiceIndex < 0 || voiceIndex >= VOICE_COUNT)
        return;
    NoteOn& entry = mVoices[std::uint64_t(voiceIndex)];
    if (!entry.mReleased)
        return;
    PD_AUDIO_DEBUG << "voice stopped for" << entry.mRatio.toString() << "voice" << voiceIndex;
    const NoteOn* mapped = mNoteMap.value(entry.mRatio);
    if (mapped && mapped->mVoice == voiceIndex) {
        PD_AUDIO_DEBUG << "removing voice" << voiceIndex << "from note map";
        mNoteMap.remove(entry.mRatio);
    }
    entry.mReleased = false;
    entry.mSeqId = 0;
}

// ---------------------------------------------------------------- messages

bool PdPlayer::sendPdVoiceMessage(PdVoiceMessageType type, float value, float voiceIndex)
{
    const int status = libpd_start_message(3);
    if (status != 0) {
        qCritical() << "libpd_start_message for arbor-in returned error status: " << status;
        return false;
    }
    PD_AUDIO_DEBUG << "pd arbor-in message: value" << value << "param" << int(type) << "voice" << voiceIndex + 1.0f;
    libpd_add_float(value);
    libpd_add_float(float(int(type)));
    libpd_add_float(voiceIndex + 1.0f);
    libpd_finish_list("arbor-in");
    return true;
}

bool PdPlayer::sendPdVolumeMessage(float volume)
{
    const int status = libpd_start_message(1);
    if (status != 0) {
        qCritical() << "libpd_start_message for master-vol returned error status: " << status;
        return false;
    }
    PD_AUDIO_DEBUG << "pd master-vol message: value" << volume;
    libpd_add_float(volume);
    libpd_finish_list("master-vol");
    return true;
}

bool PdPlayer::setDsp(bool on) const
{
    const int status = libpd_start_message(1);
    if (status != 0) {
        qCritical() << "libpd_start_message for setDsp returned error status: " << status;
        return false;
    }
    libpd_add_float(on ? 1.0f : 0.0f);
    libpd_finish_message("pd", "dsp");
    return true;
}

bool PdPlayer::sendPdQueryMacrosMessage()
{
    mAwaitingMacroNames = true;
    const int status = libpd_bang("query-macros");
    if (status != 0) {
        qCritical() << "libpd_bang for query-macros returned error status: " << status;
        return false;
    }
    return true;
}

void PdPlayer::pdListHook(const char* source, int argc, t_atom* argv)
{
    PdPlayer* self = sThis;
    if (!self || !source)
        return;
    if (std::strcmp(source, "voice-stop") == 0) {
        if (argc > 0 && libpd_is_float(argv)) {
            const float v = libpd_get_float(argv);
            if (std::isfinite(v) && v >= 1.0f && v < float(VOICE_COUNT + 1))
                self->onVoiceStopped(int(v) - 1);
            else
                PD_AUDIO_DEBUG << "ignoring voice-stop for" << v;
        }
        return;
    }
    if (self->mAwaitingMacroNames && std::strcmp(source, "output-voice-info") == 0) {
        if (argc >= 2) {
            t_atom* second = libpd_next_atom(argv);
            if (libpd_is_symbol(second))
                self->onMacroNamesReceived(libpd_get_symbol(second));
        }
        self->mAwaitingMacroNames = false;
    }
}

void PdPlayer::pdPrintHook(const char* text)
{
    if (!text)
        return;
    for (const char* c = text; *c; ++c) {
        if (*c != '\n') {
            if (sPrintLength < sizeof(sPrintLine) - 1)
                sPrintLine[sPrintLength++] = *c;
            continue;
        }
        sPrintLine[sPrintLength] = '\0';
        // Pd's own complaints (objects it cannot create, bad messages) are
        // worth a warning; everything the patch prints is debug output.
        if (std::strncmp(sPrintLine, "error", 5) == 0 || std::strstr(sPrintLine, "couldn't create")) {
            ++sPdErrors;
            qWarning() << "libPD:" << QString::fromLocal8Bit(sPrintLine);
        } else
            PD_AUDIO_DEBUG << "libPD:" << QString::fromLocal8Bit(sPrintLine);
        sPrintLength = 0;
    }
}

void PdPlayer::parseMacroList(const QString& text, QStringList& names, QList<float>& defaults)
{
    names = text.split(QLatin1Char(':'));
    defaults.clear();
    for (QString& name : names) {
        const int a = name.indexOf(QLatin1Char('('));
        const int b = name.indexOf(QLatin1Char(')'));
        if (a < 0 || b <= a) {
            defaults.append(-1.0f);
            continue;
        }
        bool ok = false;
        const float v = name.mid(a + 1, b - a - 1).toFloat(&ok);
        defaults.append(ok ? v : 0.0f);
        name.truncate(a);
    }
}

void PdPlayer::onMacroNamesReceived(const char* text)
{
    const QString macroText = QString::fromLocal8Bit(text ? text : "");
    PD_AUDIO_DEBUG << "Received macro names:" << macroText;
    parseMacroList(macroText, mMacroNames, mMacroDefaults);
    emit macroNamesReceived(mMacroNames);
    emit macroDefaultsReceived(mMacroDefaults);
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
    sPdErrors = 0;
    mPatch = libpd_openfile(mPendingPatchName, mPendingPatchDir);
    if (!mPatch) {
        qCritical() << "Opening PD patch failed: " << mPendingPatchDir << mPendingPatchName;
        return;
    }
    if (sPdErrors > 0) {
        // Most often a voice patch that is missing or broken: every voice
        // would stay silent and never be freed.
        qCritical().noquote() << QStringLiteral("Opening PD patch failed: %1 errors while Pd built %2/%3 (see the libPD lines "
                                                "above); closing it")
                                     .arg(sPdErrors)
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
