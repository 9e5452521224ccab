#pragma once

#include "ArborEvent.h"
#include "ArborRatio.h"
#include "NoteMap.h"
#include "PdMessageBuffer.h"
#include "PdResultBuffer.h"
#include "StaticArray.h"

#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>

class AudioOutput;
struct _atom;

// Debug lines of the engine (also on the audio thread): nothing is composed
// while PdPlayer::sAudioDebug is off.
#define PD_AUDIO_DEBUG \
    if (!PdPlayer::sAudioDebug.load(std::memory_order_relaxed)) { \
    } else \
        qDebug()

// The sound engine: 128 voices over an embedded Pd patch. Requests arrive as
// flattened events through three command rings (wand, MIDI, GUI, drained in
// that order) and are executed on the audio thread (processEvents, once per
// block). Results go back as signals, which every receiver connects queued.
// Posting a queued signal allocates, so the audio thread does not emit: it
// writes fixed-size result records into a ring of their own, and the engine's own thread (the one that constructed it)
// emits the signals when it empties that ring, every few milliseconds and
// before anything it emits itself. When the engine's own thread executes
// the requests (no stream runs, or a test drives it) the signals are
// emitted at once.
class PdPlayer : public QObject
{
    Q_OBJECT
public:
    struct NoteOn
    {
        ArborRatio mRatio {0, 1};
        std::int32_t mVoice = -1;
        std::uint32_t mSeqId = 0;   // 0: free
        bool mReleased = false;     // note-off sent, waiting for "voice-stop"
    };

    enum PdVoiceMessageType {
        Gate = 1,
        Frequency = 2,
        Volume = 3,
        Macro1 = 4,
        Macro2 = 5,
        Macro3 = 6,
        Macro4 = 7,
        Macro5 = 8,
        Macro6 = 9,
        Macro7 = 10,
        Macro8 = 11
    };

    static constexpr int VOICE_COUNT = 128;

    // The one engine, for the Pd hooks; set by the constructor.
    static PdPlayer* sThis;
    // Debug lines from the audio thread are composed only while this is set
    // (composing a line allocates, which the audio thread must not do in
    // normal use). Off by default; the application switches it on when the
    // engine's debug output was asked for on the command line.
    static std::atomic<bool> sAudioDebug;

    explicit PdPlayer(QObject* parent = nullptr);
    ~PdPlayer() override;

    bool init();
    void initAudio(int outChannels, int sampleRate);
    bool loadPatch(const QFileInfo& file);
    void unloadPatch();
    void term();

    // The output the engine mutes while closing a patch and asks whether a
    // stream drains the rings. Without one every hand-over runs directly.
    void setOutput(AudioOutput* output) { mOutput = output; }
    AudioOutput* output() const { return mOutput; }

    // Chunks waiting in the MIDI ring (any thread; a snapshot, exact for its
    // producer: the audio thread only ever takes chunks away).
    int midiChunksPending() const { return mMidiBuffer.pendingBytes() / int(sizeof(PdMessageBuffer::Chunk)); }

    // Blocks the audio thread began (each processEvents is one); any thread.
    std::uint64_t blockCount() const { return mBlocks.load(std::memory_order_acquire); }

    // Audio thread.
    void processEvents();
    void processChunk(const PdMessageBuffer::Chunk* chunk);
    void openPatch();
    void closePatch();
    bool isPatchOpen() const { return mPatch != nullptr; }

    // velocity 0..1 scales the voice volume of this note.
    void noteOn(const ArborRatio& ratio, float velocity = 1.0f);
    void noteOff(const ArborRatio& ratio);
    void allNotesOff();
    void transpose(signed char step);
    void onVoiceStopped(int voiceIndex);
    float ratioToFrequency(const ArborRatio& ratio) const;
    // The frequency the engine plays a ratio at, for a given 1/1 (any thread).
    static float frequencyOf(const ArborRatio& ratio, float baseFrequency);
    bool sendPdVoiceMessage(PdVoiceMessageType type, float value, float voiceIndex);
    bool sendPdVolumeMessage(float volume);
    bool setDsp(bool on) const;
    bool sendPdQueryMacrosMessage();
    void onMacroNamesReceived(const char* text);

    static void pdListHook(const char* source, int argc, _atom* argv);
    static void pdPrintHook(const char* text);

    // Splits a macro list text ("cutoff(0.5):resonance:drive(x)") into names
    // and defaults (-1.0 when an entry has none, 0.0 when it is no number).
    static void parseMacroList(const QString& text, QStringList& names, QList<float>& defaults);

    // State, for the controls and tests (read on the thread that executes).
    const ArborRatio& transposition() const { return mTransposition; }
    float volume() const { return mVolume; }
    float voiceVolume() const { return mVoiceVolume; }
    float baseFrequency() const { return mBaseFrequency; }
    bool isMonophonic() const { return mMonophonic; }
    bool isPrimeEnabled(int prime) const { return prime >= 0 && prime < 32 && mPrimeEnabled[std::uint64_t(prime)]; }
    const NoteOn& voice(int index) const { return mVoices[std::uint64_t(index)]; }
    const NoteOn* noteFor(const ArborRatio& ratio) const { return mNoteMap.value(ratio); }
    int noteCount() const { return mNoteMap.size(); }
    const QStringList& macroNames() const { return mMacroNames; }
    const QList<float>& macroDefaults() const { return mMacroDefaults; }

public slots:
    bool queueEventGui(const ArborEvent* event);
    bool queueEventSerial(const ArborEvent* event);
    // The MIDI thread's ring, drained after the wand's and before the GUI's.
    bool queueEventMidi(const ArborEvent* event);
    // The engine's own thread: emits the signal of every result the audio
    // thread left, oldest first. Does nothing on any other thread.
    void deliverResults();

signals:
    void noteToggled(ArborRatio ratio, bool on);
    void transposed(ArborRatio transposition, int step);
    void volumeChanged(float volume);
    void voiceVolumeChanged(float volume);
    void baseFrequencyChanged(float frequency);
    void monophonicChanged(bool monophonic);
    void primeEnabledToggled(int prime, bool enabled);
    void macroNamesReceived(QStringList names);
    void macroDefaultsReceived(QList<float> defaults);
    void macroValueChanged(int macro, float value);
    void patchLoaded(QString path);
    void patchDecRequested();
    void patchIncRequested();

private:
    void executeChunks(PdMessageBuffer& buffer, bool fromGui);
    void executeChunk(const PdMessageBuffer::Chunk* chunk, bool fromGui);
    // The transposed ratio of a note chunk's path; switchedOff when its last
    // prime is disabled. False for a path that names no playable ratio.
    bool ratioOf(const PdMessageBuffer::Chunk* chunk, ArborRatio& ratio, bool& switchedOff) const;
    // NoteToggle, NoteOn and NoteOff.
    void noteRequest(const PdMessageBuffer::Chunk* chunk);
    void patchRequest(const PdMessageBuffer::Chunk* chunk, bool fromGui);
    // The open and close work; the caller holds mPatchMutex.
    void openPatchLocked();
    void closePatchLocked();
    // GUI thread, mPatchMutex held: has the audio thread (or, with no
    // stream, this thread) execute an OpenPatch/ClosePatch. False when the
    // request could not be queued.
    bool handOver(ArborEvent::Type type, const char* waitingText);
    bool streamRunning() const;
    bool onOwnerThread() const;
    // Reports a result: emitted at once on the engine's own thread, queued
    // in the result ring on any other.
    void report(PdResultBuffer::Kind kind, int number, float value, const ArborRatio* ratio = nullptr);
    void emitResult(const PdResultBuffer::Result& result);

    PdMessageBuffer mGuiBuffer;
    PdMessageBuffer mSerialBuffer;
    PdMessageBuffer mMidiBuffer;
    PdMessageBuffer::ChunkList mChunks;
    PdResultBuffer mResults;
    QTimer mResultTimer;
    Qt::HANDLE mOwnerThread = nullptr;

    ArborRatio mTransposition {1, 1};
    float mVolume = 0.8f;
    float mVoiceVolume = 1.0f;
    float mBaseFrequency = 440.0f;
    bool mMonophonic = false;
    StaticArray<bool, 32> mPrimeEnabled;
    std::int32_t mMonoVoice = -1;
    StaticArray<NoteOn, VOICE_COUNT> mVoices;
    NoteMap<NoteOn> mNoteMap;
    std::uint32_t mSeqCounter = 0;
    QStringList mMacroNames;
    QList<float> mMacroDefaults;
    bool mAwaitingMacroNames = false;
    ArborRatio mRatioScratch[VOICE_COUNT];   // all-notes-off works on a copy

    void* mPatch = nullptr;
    const char* mPendingPatchName = nullptr;
    const char* mPendingPatchDir = nullptr;
    void* mVoiceInfoReceiver = nullptr;
    void* mVoiceStopReceiver = nullptr;
    QMutex mPatchMutex;
    QWaitCondition mPatchCondition;
    // Hand-over tickets (guarded by mPatchMutex): the request the GUI waits
    // for, and the last one the audio thread completed.
    std::uint32_t mTicketCounter = 0;
    std::uint32_t mWaitingTicket = 0;
    std::uint32_t mDoneTicket = 0;

    AudioOutput* mOutput = nullptr;
    std::atomic<std::uint64_t> mBlocks {0};
    bool mInitialised = false;
    int mPdErrors = 0; // Pd's complaints since the last patch open began (Pd's thread)
};
