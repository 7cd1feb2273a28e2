// hameightfast: a true-colour picture into HAM8 codes without a chosen palette.
#include "kernels/ham/ham.h"

KERNEL_VERSION("hameightfast", "1.0", "11.12.2026");

KERNEL_EXPORT uint32_t Function(void* block)
{
    return kernel_entry(block, HAM_QUICK_BLOCK_SIZE, ham_quick_encode<6>);
}
