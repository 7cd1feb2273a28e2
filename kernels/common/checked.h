// Sizes computed from block words, which a host may set to anything: every
// product and sum says when it passes 64 bits instead of wrapping to a small
// number that would pass a buffer check. The helpers only report the
// overflow; each caller decides what it means (a kernel refuses the buffer
// with error 14, for instance).
//
//     shared_bytes(address, checked_size(width, checked_add(3, extra), height))
//
// Factors and addends may be plain numbers (a negative one counts as an
// overflow) or results of the other helpers, so whole formulas compose and one
// overflow anywhere carries through.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>

using checked_u64 = std::optional<uint64_t>;

namespace checked_detail {

template <typename T>
constexpr checked_u64 lift(T value)
{
    if constexpr (std::same_as<T, checked_u64>) {
        return value;
    } else {
        static_assert(std::integral<T>, "sizes are whole numbers");
        if constexpr (std::signed_integral<T>) {
            if (value < 0) return std::nullopt;
        }
        return uint64_t(value);
    }
}

} // namespace checked_detail

// The product of all factors, or nullopt when it passes 2^64 - 1.
template <typename... T>
constexpr checked_u64 checked_size(T... factors)
{
    checked_u64 product = uint64_t(1);
    for (const checked_u64 factor : {checked_detail::lift(factors)...}) {
        if (!factor) return std::nullopt;
        uint64_t next;
        if (__builtin_mul_overflow(*product, *factor, &next)) return std::nullopt;
        product = next;
    }
    return product;
}

// The sum of all addends, or nullopt when it passes 2^64 - 1.
template <typename... T>
constexpr checked_u64 checked_add(T... addends)
{
    checked_u64 sum = uint64_t(0);
    for (const checked_u64 addend : {checked_detail::lift(addends)...}) {
        if (!addend) return std::nullopt;
        uint64_t next;
        if (__builtin_add_overflow(*sum, *addend, &next)) return std::nullopt;
        sum = next;
    }
    return sum;
}

static_assert(checked_size(2u, 3, uint64_t(4)) == 24u);
static_assert(!checked_add(5u, -1));
static_assert(!checked_size(uint32_t(1) << 31, 4u, uint32_t(1) << 31));
static_assert(!checked_size(1684887088u, 3649452082u, 3u));
static_assert(checked_add(checked_size(3u, 5u), 1u) == 16u);
static_assert(!checked_add(~uint64_t(0), 1u));
static_assert(!checked_size(checked_add(~uint64_t(0), 1u), 0u), "an overflow is never cancelled by a zero factor");
