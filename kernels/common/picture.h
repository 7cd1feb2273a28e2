// The host's picture record: 820 bytes, 205 big-endian words but for the
// palette, which is a run of bytes. A module reaches a field through these
// accessors; the layout is fixed by the host library and checked below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/common/buffers.h"
#include "platform/byteorder.h"

struct picture_record {
    uint8_t host_word_0[4];
    uint8_t host_word_1[4];
    uint8_t width[4];
    uint8_t height[4];
    uint8_t depth[4];           // 1 to 8 for a palette picture, 24 for true colour
    uint8_t host_word_5[4];
    uint8_t palette[256 * 3];   // red, green, blue per entry
    uint8_t host_word_198[4];
    uint8_t bits_per_pixel[4];
    uint8_t pixels[4];          // address of the pixel buffer, 0 when none
    uint8_t pixels_length[4];   // its length in bytes
    uint8_t host_words_202[12];
};

inline constexpr uint32_t PICTURE_RECORD_SIZE = 820;
inline constexpr uint32_t PICTURE_PALETTE_OFFSET = 24;
inline constexpr uint32_t PICTURE_PALETTE_SIZE = 768;

static_assert(sizeof(picture_record) == PICTURE_RECORD_SIZE);
static_assert(offsetof(picture_record, width) == 8);
static_assert(offsetof(picture_record, height) == 12);
static_assert(offsetof(picture_record, depth) == 16);
static_assert(offsetof(picture_record, host_word_5) == 20);
static_assert(offsetof(picture_record, palette) == PICTURE_PALETTE_OFFSET);
static_assert(offsetof(picture_record, host_word_198) == 792);
static_assert(offsetof(picture_record, bits_per_pixel) == 796);
static_assert(offsetof(picture_record, pixels) == 800);
static_assert(offsetof(picture_record, pixels_length) == 804);
static_assert(offsetof(picture_record, host_words_202) == 808);

// The record at a shared address, or null when its 820 bytes do not lie in a
// live block.
inline picture_record* picture_at(uint32_t address)
{
    return reinterpret_cast<picture_record*>(shared_bytes(address, PICTURE_RECORD_SIZE));
}

inline uint32_t picture_width(const picture_record* r) { return load_be32(r->width); }
inline uint32_t picture_height(const picture_record* r) { return load_be32(r->height); }
inline uint32_t picture_depth(const picture_record* r) { return load_be32(r->depth); }
inline uint32_t picture_pixels(const picture_record* r) { return load_be32(r->pixels); }
inline uint32_t picture_pixels_length(const picture_record* r) { return load_be32(r->pixels_length); }

inline void set_picture_width(picture_record* r, uint32_t v) { store_be32(r->width, v); }
inline void set_picture_height(picture_record* r, uint32_t v) { store_be32(r->height, v); }
inline void set_picture_depth(picture_record* r, uint32_t v) { store_be32(r->depth, v); }
inline void set_picture_pixels(picture_record* r, uint32_t v) { store_be32(r->pixels, v); }
inline void set_picture_pixels_length(picture_record* r, uint32_t v) { store_be32(r->pixels_length, v); }
inline void set_picture_bits_per_pixel(picture_record* r, uint32_t v) { store_be32(r->bits_per_pixel, v); }
inline void set_picture_host_word(picture_record* r, uint32_t word, uint32_t v)
{
    store_be32(reinterpret_cast<uint8_t*>(r) + 4 * word, v);
}

// Palette entry k: three bytes red, green, blue.
inline uint8_t* picture_colour(picture_record* r, uint32_t k) { return r->palette + 3 * k; }
inline const uint8_t* picture_colour(const picture_record* r, uint32_t k) { return r->palette + 3 * k; }
