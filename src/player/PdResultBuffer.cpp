#include "PdResultBuffer.h"

extern "C" {
#include "z_ringbuffer.h"
}

PdResultBuffer::~PdResultBuffer()
{
    if (mRing)
        rb_free(mRing);
    mRing = nullptr;
}

bool PdResultBuffer::init()
{
    if (!mRing)
        mRing = rb_create(RING_BYTES);
    return mRing != nullptr;
}

bool PdResultBuffer::write(const Result& result)
{
    if (!mRing || rb_available_to_write(mRing) < int(sizeof(Result))
        || rb_write_to_buffer(mRing, 1, reinterpret_cast<const char*>(&result), int(sizeof(Result))) != 0) {
        mDropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return true;
}

bool PdResultBuffer::read(Result& result)
{
    // Every write is one whole record, so a partial one is never waiting.
    if (!mRing || rb_available_to_read(mRing) < int(sizeof(Result)))
        return false;
    return rb_read_from_buffer(mRing, reinterpret_cast<char*>(&result), int(sizeof(Result))) == 0;
}

int PdResultBuffer::pendingBytes() const
{
    return mRing ? rb_available_to_read(mRing) : 0;
}
