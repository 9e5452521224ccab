#include "PdMessageBuffer.h"

#include "ArborEvent.h"
#include "SpscByteRing.h"

#include <QDebug>

#include <cstring>
#include <new>

namespace
{
// One drain reads at most a whole ring. Shared by both buffers: the engine
// executes the serial chunks completely before it drains the GUI ring.
alignas(16) char sScratch[PdMessageBuffer::RING_BYTES];
}

PdMessageBuffer::~PdMessageBuffer()
{
    delete mRing;
    mRing = nullptr;
}

bool PdMessageBuffer::init()
{
    if (mRing)
        return true;
    auto* ring = new (std::nothrow) SpscByteRing;
    if (!ring || !ring->create(RING_BYTES)) {
        delete ring;
        return false;
    }
    mRing = ring;
    return true;
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
    if (!mRing || !chunk) {
        qWarning() << "Command buffer not initialised, dropping event";
        return false;
    }
    if (mRing->availableToWrite() < int(sizeof(Chunk))) {
        qWarning() << "Command buffer full";
        return false;
    }
    return mRing->write(chunk, int(sizeof(Chunk)));
}

void PdMessageBuffer::processEvents(ChunkList& out)
{
    if (!mRing)
        return;
    int bytes = mRing->availableToRead();
    if (bytes <= 0)
        return;
    // Every write is one whole chunk, so this only trims a torn snapshot.
    bytes -= bytes % int(sizeof(Chunk));
    if (bytes > RING_BYTES)
        bytes = RING_BYTES - RING_BYTES % int(sizeof(Chunk));
    if (bytes == 0 || !mRing->read(sScratch, bytes))
        return;
    const int count = bytes / int(sizeof(Chunk));
    for (int i = 0; i < count; ++i)
        out[std::uint64_t(i)] = reinterpret_cast<const Chunk*>(sScratch + i * int(sizeof(Chunk)));
}

int PdMessageBuffer::pendingBytes() const
{
    return mRing ? mRing->availableToRead() : 0;
}
