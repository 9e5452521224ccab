#pragma once

// Counts heap allocations made while armed, on every thread. Linking AllocationCounter.cpp into an executable replaces operator new
// and the malloc family there (Qt's containers allocate through malloc).

namespace PlayerTest
{
struct Allocations
{
    long mNews = 0, mMallocs = 0;
    long total() const { return mNews + mMallocs; }
};

void armAllocationCounter(); // zeroes the counts and starts counting
Allocations disarmAllocationCounter(); // stops counting; what was counted since arming
} // namespace PlayerTest
