#pragma once

#include "StaticArray.h"

#include <cstdint>

class ArborEvent;
struct ring_buffer;

// A lock-free single-producer/single-consumer byte ring (libpd's ring buffer)
// that carries whole fixed-size records: a record is written only when it
// fits entirely, so the reader never meets part of one. Nothing here logs or
// allocates after create(), so either side may be the audio thread.
class PdRing
{
public:
    PdRing() = default;
    ~PdRing();
    PdRing(const PdRing&) = delete;
    PdRing& operator=(const PdRing&) = delete;

    // Creates the ring once; true when it exists.
    bool create(int bytes);
    bool isCreated() const { return mRing != nullptr; }
    // Producer: false when there is no ring or `size` bytes do not fit.
    bool write(const void* record, int size);
    // Consumer: false when there is no ring or fewer than `size` bytes wait.
    bool read(void* out, int size);
    // Bytes waiting to be read (any thread; a snapshot).
    int pendingBytes() const;

private:
    ring_buffer* mRing = nullptr;
};

// One lock-free single-producer/single-consumer ring of flattened events.
// The producer thread queues events; the audio thread drains them.
class PdMessageBuffer
{
public:
    // An event as it lies in the ring: 16 bytes, copied whole.
    struct Chunk
    {
        std::int32_t mType = -1;
        signed char mPath[7] = {0, 0, 0, 0, 0, 0, 0};
        float mValue = 0.0f;
    };
    static_assert(sizeof(Chunk) == 16, "a chunk occupies 16 bytes of the ring");

    typedef StaticArray<const Chunk*, 1024> ChunkList;

    static constexpr int RING_BYTES = 16384;
    // The ring keeps one byte free to tell full from empty.
    static constexpr int MAX_CHUNKS = (RING_BYTES - 1) / int(sizeof(Chunk));

    bool init() { return mRing.create(RING_BYTES); }
    bool isInitialised() const { return mRing.isCreated(); }

    // Producer thread. Both return false (with the warning "Command buffer
    // full") when the chunk was dropped, or when the ring was never created.
    bool queueEvent(const ArborEvent* event);
    bool writeChunk(const Chunk* chunk);

    // Audio thread: lists everything waiting in `out`, starting at index 0.
    // The listed chunks live in one scratch area shared by every buffer and
    // stay valid until the next drain.
    void processEvents(ChunkList& out);

    // Bytes waiting to be read (any thread; a snapshot).
    int pendingBytes() const { return mRing.pendingBytes(); }

private:
    PdRing mRing;
};
