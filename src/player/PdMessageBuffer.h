#pragma once

#include "StaticArray.h"

#include <cstdint>

class ArborEvent;
struct ring_buffer;

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

    PdMessageBuffer() = default;
    ~PdMessageBuffer();
    PdMessageBuffer(const PdMessageBuffer&) = delete;
    PdMessageBuffer& operator=(const PdMessageBuffer&) = delete;

    bool init();
    bool isInitialised() const { return mRing != nullptr; }

    // Producer thread. Both return false (with the warning "Command buffer
    // full") when the chunk was dropped, or when the ring was never created.
    bool queueEvent(const ArborEvent* event);
    bool writeChunk(const Chunk* chunk);

    // Audio thread: lists everything waiting in `out`, starting at index 0.
    // The listed chunks live in one scratch area shared by every buffer and
    // stay valid until the next drain.
    void processEvents(ChunkList& out);

    // Bytes waiting to be read (any thread; a snapshot).
    int pendingBytes() const;

private:
    ring_buffer* mRing = nullptr;
};
