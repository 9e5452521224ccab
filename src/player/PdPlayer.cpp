#include "PdPlayer.h"

#include "ArborConstants.h"
#include "ArborPath.h"
#include "AudioOutput.h"

#include <QDebug>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "z_libpd.h"

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

void PdPlayer::pdPrintHook(const char* text)
{
    // Pd prints a line in pieces (an object's name, each atom, the newline):
    // they are gathered here, on the thread that runs Pd, without allocating.
    static char line[1024];
    static std::size_t length = 0;
    if (!text)
        return;
    for (const char* c = text; *c; ++c) {
        if (*c != '\n') {
            if (length < sizeof(line) - 1)
                line[length++] = *c;
            continue;
        }
        line[length] = '\0';
        // Pd's own complaints (objects it cannot create, bad messages) are
        // worth a warning; everything the patch prints is debug output.
        if (std::strncmp(line, "error", 5) == 0 || std::strstr(line, "couldn't create")) {
            if (sThis)
                ++sThis->mPdErrors;
            qWarning() << "libPD:" << QString::fromLocal8Bit(line);
        } else
            PD_AUDIO_DEBUG << "libPD:" << QString::fromLocal8Bit(line);
        length = 0;
    }
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
