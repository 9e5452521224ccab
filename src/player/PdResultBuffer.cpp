#include "PdResultBuffer.h"

bool PdResultBuffer::write(const Result& result)
{
    if (mRing.write(&result, int(sizeof(Result))))
        return true;
    mDropped.fetch_add(1, std::memory_order_relaxed);
    return false;
}
