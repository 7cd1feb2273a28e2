// soften: a true-colour picture blurred, each sample replaced by the mean of
// its 3 x 3 neighbourhood, each channel on its own.
#include "kernels/geometry/filter3x3.h"

KERNEL_VERSION("soften", "1.0", "11.12.2026");

namespace {

// The nine samples' sum divided by 9, truncated.
inline uint8_t soften_sample(const uint8_t* p, ptrdiff_t R)
{
    const uint32_t sum = p[-R - 3] + p[-R] + p[-R + 3] + p[-3] + p[0] + p[3] + p[R - 3] + p[R] + p[R + 3];
    return uint8_t(sum / 9);
}

} // namespace

KERNEL_EXPORT void KQLI_soften(const picture_record* source, picture_record* destination)
{
    filter_records(source, destination, soften_sample);
}

KERNEL_EXPORT uint32_t PPCFunction(void* block) { return filter_block(block, KQLI_soften); }

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, FILTER_BLOCK_SIZE, PPCFunction); }
