#pragma once

#include "ArborRatio.h"

#include <cstdint>

// Which voice entry plays a ratio: a fixed open-addressing table (linear
// probing, 256 slots, backward-shift deletion) keyed by the relative ratio.
// It holds at most one entry per voice, so it never fills more than half
// way. Nothing here allocates, so note-on and note-off can run on the audio
// thread.
template <typename Value>
class NoteMap
{
public:
    static constexpr int SLOTS = 256;

    Value* value(const ArborRatio& ratio) const
    {
        const int i = find(ratio);
        return i < 0 ? nullptr : mSlots[i].mValue;
    }
    bool contains(const ArborRatio& ratio) const { return find(ratio) >= 0; }
    int size() const { return mSize; }

    // Replaces the value of an existing key. False only when the table is full.
    bool insert(const ArborRatio& ratio, Value* value)
    {
        const std::uint64_t n = ratio.numerator();
        const std::uint64_t d = ratio.denominator();
        int i = home(n, d);
        for (int probes = 0; probes < SLOTS; ++probes, i = (i + 1) & (SLOTS - 1)) {
            Slot& s = mSlots[i];
            if (!s.mValue) {
                s.mNum = n;
                s.mDen = d;
                s.mValue = value;
                ++mSize;
                return true;
            }
            if (s.mNum == n && s.mDen == d) {
                s.mValue = value;
                return true;
            }
        }
        return false;
    }

    bool remove(const ArborRatio& ratio)
    {
        int i = find(ratio);
        if (i < 0)
            return false;
        mSlots[i] = Slot();
        --mSize;
        // Move later members of the probe run back into the hole.
        int j = i;
        for (;;) {
            j = (j + 1) & (SLOTS - 1);
            if (!mSlots[j].mValue)
                break;
            const int h = home(mSlots[j].mNum, mSlots[j].mDen);
            // Slot j may fill the hole at i unless its home lies cyclically in (i, j].
            const bool homeBetween = (i <= j) ? (i < h && h <= j) : (i < h || h <= j);
            if (!homeBetween) {
                mSlots[i] = mSlots[j];
                mSlots[j] = Slot();
                i = j;
            }
        }
        return true;
    }

    void clear()
    {
        for (Slot& s : mSlots)
            s = Slot();
        mSize = 0;
    }

    // Calls f(numerator, denominator, value) for every member.
    template <typename F>
    void forEach(F f) const
    {
        for (const Slot& s : mSlots)
            if (s.mValue)
                f(s.mNum, s.mDen, s.mValue);
    }

private:
    struct Slot
    {
        std::uint64_t mNum = 0;
        std::uint64_t mDen = 0;
        Value* mValue = nullptr;
    };

    static int home(std::uint64_t n, std::uint64_t d)
    {
        std::uint64_t h = n * 0x9E3779B97F4A7C15ULL ^ (d + 0x632BE59BD9B4E019ULL) * 0xBF58476D1CE4E5B9ULL;
        h ^= h >> 29;
        return int(h & (SLOTS - 1));
    }

    int find(const ArborRatio& ratio) const
    {
        const std::uint64_t n = ratio.numerator();
        const std::uint64_t d = ratio.denominator();
        int i = home(n, d);
        for (int probes = 0; probes < SLOTS; ++probes, i = (i + 1) & (SLOTS - 1)) {
            const Slot& s = mSlots[i];
            if (!s.mValue)
                return -1;
            if (s.mNum == n && s.mDen == d)
                return i;
        }
        return -1;
    }

    Slot mSlots[SLOTS];
    int mSize = 0;
};
