#pragma once

#include <atomic>
#include <cstddef>

// A lock-free byte ring for exactly one producer thread and one consumer
// thread. One byte always stays free to tell a full ring from an empty one,
// so a ring of N bytes holds at most N - 1. A write is all or nothing, and
// its bytes become visible to the consumer only once they are all copied
// (the write index is published with release order and read with acquire
// order). Only create() allocates.
class SpscByteRing
{
public:
    SpscByteRing() = default;
    ~SpscByteRing();
    SpscByteRing(const SpscByteRing&) = delete;
    SpscByteRing& operator=(const SpscByteRing&) = delete;

    // False when the storage could not be had or `size` is not above 1.
    bool create(int size);
    bool isCreated() const { return mData != nullptr; }
    int size() const { return mSize; }

    // Either thread; a snapshot.
    int availableToRead() const;
    int availableToWrite() const;

    // Producer thread: copies all `length` bytes, or nothing and returns
    // false when they do not fit.
    bool write(const void* data, int length);
    // Consumer thread: copies exactly `length` bytes out, or nothing and
    // returns false when fewer are waiting.
    bool read(void* out, int length);

private:
    char* mData = nullptr;
    int mSize = 0;
    // Each index is written by one side only.
    alignas(64) std::atomic<int> mWriteIndex {0};
    alignas(64) std::atomic<int> mReadIndex {0};
};
