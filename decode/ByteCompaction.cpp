#include "decode/ByteCompaction.h"

#if defined(ORVELANE_HAVE_COMPACTION)
namespace decode {

bool HasByteCompaction()
{
    static const bool has = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    return has;
}

} // namespace decode
#endif
