#pragma once

#include <cstddef>
#include <cstdint>

// A fixed-capacity array stored in place, with a current size. Indexing the
// element at the current size appends it (the size grows by one); callers
// keep every index below N. Nothing here allocates.
template <typename T, std::size_t N>
class StaticArray
{
public:
    T& operator[](std::uint64_t i)
    {
        if (i == mSize)
            mSize = i + 1;
        return mData[i];
    }
    const T& operator[](std::uint64_t i) const { return mData[i]; }

    std::uint64_t size() const { return mSize; }
    void setSize(std::uint64_t size) { mSize = size; }
    static constexpr std::size_t capacity() { return N; }

    T* begin() { return mData; }
    T* end() { return mData + mSize; }
    const T* begin() const { return mData; }
    const T* end() const { return mData + mSize; }

private:
    T mData[N] {};
    std::uint64_t mSize = 0;
};
