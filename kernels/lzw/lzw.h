// The LZW code stream shared by lzwpack and lzwunpack.
//
// A stream is one byte S (the code size), then counted sub-blocks (a count
// byte n and n bytes of codes), then a zero count. Codes are packed least
// significant bit first across the data bytes of all sub-blocks. The clear
// code is 2^S, the end code 2^S + 1, and new strings take the codes from
// 2^S + 2 up to 4095; codes start S + 1 bits wide and grow to 12 bits.
#pragma once

#include <cstdint>

inline constexpr uint32_t LZW_CODES = 4096;      // codes 0 to 4095
inline constexpr uint32_t LZW_MAX_WIDTH = 12;    // bits of the widest code
inline constexpr uint32_t LZW_MAX_CODE_SIZE = 11;  // above it the clear code leaves no room for strings

inline constexpr uint32_t lzw_clear_code(uint32_t code_size) { return 1u << code_size; }
inline constexpr uint32_t lzw_end_code(uint32_t code_size) { return (1u << code_size) + 1; }
inline constexpr uint32_t lzw_first_string_code(uint32_t code_size) { return (1u << code_size) + 2; }

// The interlaced row order: pass 1 takes rows 0, 8, 16, ...; pass 2 rows 4,
// 12, 20, ...; pass 3 rows 2, 6, 10, ...; pass 4 rows 1, 3, 5, ....
struct lzw_pass {
    uint32_t first_row;
    uint32_t step;
};
inline constexpr lzw_pass LZW_PASSES[4] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

// Calls row(r) for every row r below `height` in interlaced order, while it
// returns true; returns false when a call returned false.
template <typename RowVisitor>
inline bool lzw_interlaced_rows(uint32_t height, RowVisitor&& row)
{
    for (const lzw_pass& pass : LZW_PASSES)
        for (uint64_t r = pass.first_row; r < height; r += pass.step)
            if (!row(uint32_t(r))) return false;
    return true;
}
