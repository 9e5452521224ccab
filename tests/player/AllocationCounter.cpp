#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// operator new[], the nothrow forms and operator delete keep their library definitions (the new below, free()).

namespace
{
std::atomic<bool> sArmed {false};
std::atomic<long> sNews {0}, sMallocs {0};

inline void count(std::atomic<long>& counter)
{
    if (sArmed.load(std::memory_order_relaxed))
        counter.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

void PlayerTest::armAllocationCounter()
{
    sNews = 0;
    sMallocs = 0;
    sArmed.store(true, std::memory_order_release);
}

PlayerTest::Allocations PlayerTest::disarmAllocationCounter()
{
    sArmed.store(false, std::memory_order_release);
    return Allocations {sNews.load(), sMallocs.load()};
}

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

extern "C" void* malloc(size_t n)
{
    count(sMallocs);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t s)
{
    count(sMallocs);
    return __libc_calloc(n, s);
}
extern "C" void* realloc(void* p, size_t n)
{
    count(sMallocs);
    return __libc_realloc(p, n);
}
void* operator new(std::size_t n)
{
    count(sNews);
    if (void* p = __libc_malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
