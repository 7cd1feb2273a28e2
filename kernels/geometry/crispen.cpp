// crispen: a true-colour picture sharpened with an edge filter built on the
// eight-neighbour Laplacian, each channel on its own.
#include "kernels/geometry/filter3x3.h"

KERNEL_VERSION("crispen", "1.0", "11.12.2026");

namespace {

// L = 8P - N, with N the sum of the eight neighbours. The product L x P is
// taken as an unsigned 32-bit number, so a centre darker than the mean of its
// neighbours (L < 0) loses a huge amount and ends at 0; a brighter one loses
// L x P / 1020. The result never rises above P.
inline uint8_t crispen_sample(const uint8_t* p, ptrdiff_t R)
{
    const int32_t centre = p[0];
    const int32_t neighbours = p[-R - 3] + p[-R] + p[-R + 3] + p[-3] + p[3] + p[R - 3] + p[R] + p[R + 3];
    const int32_t laplacian = 8 * centre - neighbours;
    const uint32_t loss = (uint32_t(laplacian) * uint32_t(centre)) / 1020;
    const int64_t out = int64_t(centre) - int64_t(loss);
    return uint8_t(out < 0 ? 0 : out);
}

} // namespace

KERNEL_EXPORT void KQLI_crispen(const picture_record* source, picture_record* destination)
{
    filter_records(source, destination, crispen_sample);
}

KERNEL_EXPORT uint32_t PPCFunction(void* block) { return filter_block(block, KQLI_crispen); }

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, FILTER_BLOCK_SIZE, PPCFunction); }
