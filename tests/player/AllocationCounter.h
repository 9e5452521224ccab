#pragma once

// Counts heap allocations made while armed. Linking AllocationCounter.cpp into
// an executable replaces operator new and the malloc family there (Qt's
// containers allocate through malloc); counting costs nothing while disarmed.

namespace PlayerTest
{
struct Allocations
{
    long mNews = 0;
    long mMallocs = 0;
    long total() const { return mNews + mMallocs; }
};

// Zeroes the counts and starts counting, on every thread.
void armAllocationCounter();
// Stops counting and returns what was counted since arming.
Allocations disarmAllocationCounter();
} // namespace PlayerTest
