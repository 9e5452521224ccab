#include "PdMessageBuffer.h"

#include "ArborEvent.h"

#include <QDebug>

#include <cstring>

extern "C" {
#include "z_ringbuffer.h"
}

namespace
{
// One drain reads at most a whole ring. Shared by both buffers: the engine
// executes the serial chunks completely before it drains the GUI ring.
alignas(16) char sScratch[PdMessageBuffer::RING_BYTES];
}

PdRing::~PdRing()
{
    if (mRing)
        rb_free(mRing);
}

bool PdRing::create(int bytes)
{
    if (!mRing)
        mRing = rb_create(bytes);
    return mRing != nullptr;
}

bool PdRing::write(const void* record, int size)
{
    return mRing && rb_available_to_write(mRing) >= size
        && rb_write_to_buffer(mRing, 1, static_cast<const char*>(record), size) == 0;
}

bool PdRing::read(void* out, int size)
{
    return mRing && rb_available_to_read(mRing) >= size
        && rb_read_from_buffer(mRing, static_cast<char*>(out), size) == 0;
}

int PdRing::pendingBytes() const
{
    return mRing ? rb_available_to_read(mRing) : 0;
}

bool PdMessageBuffer::queueEvent(const ArborEvent* event)
{
    if (!event)
        return false;
    Chunk chunk;
    chunk.mType = std::int32_t(event->type());
    chunk.mValue = event->value();
    if (const auto* note = dynamic_cast<const ArborNoteEvent*>(event))
        std::memcpy(chunk.mPath, note->path().toCharArray(), sizeof(chunk.mPath));
    return writeChunk(&chunk);
}

bool PdMessageBuffer::writeChunk(const Chunk* chunk)
{
    if (!mRing.isCreated() || !chunk) {
        qWarning() << "Command buffer not initialised, dropping event";
        return false;
    }
    if (!mRing.write(chunk, int(sizeof(Chunk)))) {
        qWarning() << "Command buffer full";
        return false;
    }
    return true;
}

void PdMessageBuffer::processEvents(ChunkList& out)
{
    int bytes = mRing.pendingBytes();
    if (bytes <= 0)
        return;
    // Every write is one whole chunk, so this only trims a torn snapshot.
    bytes -= bytes % int(sizeof(Chunk));
    if (bytes > RING_BYTES)
        bytes = RING_BYTES - RING_BYTES % int(sizeof(Chunk));
    if (bytes == 0 || !mRing.read(sScratch, bytes))
        return;
    const int count = bytes / int(sizeof(Chunk));
    for (int i = 0; i < count; ++i)
        out[std::uint64_t(i)] = reinterpret_cast<const Chunk*>(sScratch + i * int(sizeof(Chunk)));
}
