#include "SpscByteRing.h"

#include <cstring>
#include <new>

SpscByteRing::~SpscByteRing()
{
    delete[] mData;
}

bool SpscByteRing::create(int size)
{
    if (mData || size < 2)
        return false;
    mData = new (std::nothrow) char[std::size_t(size)];
    if (!mData)
        return false;
    std::memset(mData, 0, std::size_t(size));
    mSize = size;
    mWriteIndex.store(0, std::memory_order_relaxed);
    mReadIndex.store(0, std::memory_order_relaxed);
    return true;
}

int SpscByteRing::availableToRead() const
{
    if (!mData)
        return 0;
    const int w = mWriteIndex.load(std::memory_order_acquire);
    const int r = mReadIndex.load(std::memory_order_acquire);
    return (mSize + w - r) % mSize;
}

int SpscByteRing::availableToWrite() const
{
    if (!mData)
        return 0;
    const int w = mWriteIndex.load(std::memory_order_acquire);
    const int r = mReadIndex.load(std::memory_order_acquire);
    return (mSize + r - w - 1) % mSize;
}

bool SpscByteRing::write(const void* data, int length)
{
    if (!mData || !data || length < 0)
        return false;
    const int w = mWriteIndex.load(std::memory_order_relaxed); // only this thread writes it
    const int r = mReadIndex.load(std::memory_order_acquire);  // the consumer is done with those bytes
    if (length > (mSize + r - w - 1) % mSize)
        return false;
    const char* src = static_cast<const char*>(data);
    const int first = length < mSize - w ? length : mSize - w;
    std::memcpy(mData + w, src, std::size_t(first));
    std::memcpy(mData, src + first, std::size_t(length - first));
    mWriteIndex.store((w + length) % mSize, std::memory_order_release);
    return true;
}

bool SpscByteRing::read(void* out, int length)
{
    if (!mData || !out || length < 0)
        return false;
    const int r = mReadIndex.load(std::memory_order_relaxed);  // only this thread writes it
    const int w = mWriteIndex.load(std::memory_order_acquire); // the bytes before it are complete
    if (length > (mSize + w - r) % mSize)
        return false;
    char* dst = static_cast<char*>(out);
    const int first = length < mSize - r ? length : mSize - r;
    std::memcpy(dst, mData + r, std::size_t(first));
    std::memcpy(dst + first, mData, std::size_t(length - first));
    mReadIndex.store((r + length) % mSize, std::memory_order_release);
    return true;
}
