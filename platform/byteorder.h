// Big-endian words as the PowerPC stores them: parameter blocks, picture
// records and the word tables some kernels keep in host buffers. Byte by
// byte, so any alignment is fine and the compiler turns it into one load.
#pragma once

#include <cstdint>

inline uint32_t load_be32(const void* at)
{
    const auto* p = static_cast<const uint8_t*>(at);
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void store_be32(void* at, uint32_t value)
{
    auto* p = static_cast<uint8_t*>(at);
    p[0] = uint8_t(value >> 24);
    p[1] = uint8_t(value >> 16);
    p[2] = uint8_t(value >> 8);
    p[3] = uint8_t(value);
}

inline uint16_t load_be16(const void* at)
{
    const auto* p = static_cast<const uint8_t*>(at);
    return uint16_t((p[0] << 8) | p[1]);
}

inline void store_be16(void* at, uint16_t value)
{
    auto* p = static_cast<uint8_t*>(at);
    p[0] = uint8_t(value >> 8);
    p[1] = uint8_t(value);
}
