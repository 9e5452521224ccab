#pragma once

#include "PdMessageBuffer.h"

#include <atomic>
#include <cstdint>

// The way back from the audio thread: a lock-free single-producer/single-
// consumer ring of fixed-size result records. The audio thread writes what
// it changed (a note on or off, a new transposition, a volume...) without
// allocating; the engine's own thread reads the records and emits the
// matching signals.
class PdResultBuffer
{
public:
    enum Kind : std::int32_t {
        NoteOn = 1,
        NoteOff,
        Transposed,       // ratio, mInt = step
        VolumeChanged,
        VoiceVolumeChanged,
        BaseFrequencyChanged,
        MonophonicChanged, // mInt = 0 or 1
        PrimeToggled,      // mInt = prime, mValue = 1 enabled / 0 disabled
        MacroValueChanged, // mInt = macro 1..8
        PatchIncRequested,
        PatchDecRequested
    };

    // A result as it lies in the ring: 32 bytes, copied whole. A ratio
    // travels as its numerator and denominator.
    struct Result
    {
        std::int32_t mKind = 0;
        std::int32_t mInt = 0;
        float mValue = 0.0f;
        std::uint32_t mReserved = 0;
        std::uint64_t mNumerator = 0;
        std::uint64_t mDenominator = 1;
    };
    static_assert(sizeof(Result) == 32, "a result occupies 32 bytes of the ring");

    // 32767 results. One request reports at most 128 (all notes off with
    // every voice held); the GUI empties the ring every few milliseconds.
    static constexpr int RING_BYTES = 1048576;
    static constexpr int MAX_RESULTS = (RING_BYTES - 1) / int(sizeof(Result));

    bool init() { return mRing.create(RING_BYTES); }

    // Audio thread. Never logs (a log line allocates): a result that does
    // not fit is counted, and false is returned.
    bool write(const Result& result);

    // Reading thread: takes the oldest result; false when none waits.
    bool read(Result& result) { return mRing.read(&result, int(sizeof(Result))); }

    // Reading thread: the results dropped since the last call.
    std::uint32_t takeDropped() { return mDropped.exchange(0, std::memory_order_relaxed); }

    // Bytes waiting to be read (any thread; a snapshot).
    int pendingBytes() const { return mRing.pendingBytes(); }

private:
    PdRing mRing;
    std::atomic<std::uint32_t> mDropped {0};
};
