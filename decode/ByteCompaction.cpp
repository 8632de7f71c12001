#include "decode/ByteCompaction.h"

#include <atomic>

namespace decode {

namespace {

bool ProcessorHasIt()
{
#if !defined(ORVELANE_HAVE_COMPACTION)
    return false;
#else
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    }();
    return has;
#endif
}

std::atomic<bool> g_bUse{true};

} // namespace

bool HasByteCompaction()
{
    return ProcessorHasIt() && g_bUse.load(std::memory_order_relaxed);
}

void UseByteCompaction(bool use)
{
    g_bUse.store(use, std::memory_order_relaxed);
}

} // namespace decode
