// Reaching the host's buffers safely. Every address a parameter block names
// is checked against the live block that holds it before a byte is touched:
//
// - a buffer whose size is known before the work starts is taken with
//   `shared_bytes(address, size)`, which is null when the address names no
//   live block or that block ends before `size` bytes; the module then writes
//   nothing and reports KERNEL_BAD_DATA;
// - a source whose length depends on its data is taken with `shared_source`,
//   which says how many bytes can be read; the decoder stops there.
//
// Sizes come from checked_size and checked_add (checked.h): a size that
// passed 64 bits is no size at all, and no buffer is big enough for it.
#pragma once

#include <cstdint>
#include <span>

#include "kernels/common/checked.h"
#include "platform/platform.h"

inline uint8_t* shared_bytes(uint32_t address, uint64_t size)
{
    uint8_t* p = static_cast<uint8_t*>(shared_pointer(address));
    if (p == nullptr) return nullptr;
    const uint32_t room = shared_room(p);
    if (room == 0 || room < size) return nullptr;
    return p;
}

inline uint8_t* shared_bytes(uint32_t address, checked_u64 size)
{
    return size ? shared_bytes(address, *size) : nullptr;
}

// Everything from `address` to the end of the block that holds it, for
// buffers whose use depends on the data: a packer's destination, or a coded
// source that its decoder rewrites in place. Empty when the address names no
// live block.
inline std::span<uint8_t> shared_span(uint32_t address)
{
    uint8_t* p = static_cast<uint8_t*>(shared_pointer(address));
    const uint32_t room = p ? shared_room(p) : 0;
    if (room == 0) return {};
    return {p, room};
}

// A readable source: from its first byte to the end of the block that holds
// it; empty when the address names no live block.
inline std::span<const uint8_t> shared_source(uint32_t address) { return shared_span(address); }
