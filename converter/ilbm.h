// ILBM loader: BMHD, CMAP, CAMG and BODY into an 8-bit chunky or a 24-bit
// true-colour picture.
#pragma once

#include <cstdint>
#include <cstdio>

inline constexpr std::int32_t kImagePlanar = 1;
inline constexpr std::int32_t kImageChunky = 2;

struct ImageRecord {
    std::int32_t kind;              // kImagePlanar while loading, kImageChunky when returned
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t depth;            // planes from BMHD; 24 once HAM is expanded
    std::uint8_t palette[256][3];   // red, green, blue
    std::uint32_t planeRowBytes;    // (width + 7) / 8 while planar, else 0
    std::uint32_t bitsPerPixel;     // 8 or 24 for a chunky record
    std::uint8_t* pixels;
    std::uint32_t bufferSize;
};

// The returned record and its pixels belong to the caller; null on failure,
// after the failure's message.
ImageRecord* LoadILBM(std::FILE* in);

// 0 and a new 8-bit record in *chunky, or 1 when memory is short.
int ChunkyFromPlanes(const ImageRecord* planar, ImageRecord** chunky);
void RGBFromPlanes(const std::uint8_t* planes, std::uint8_t* rgb, std::uint32_t width,
                   std::uint32_t height);
int IsHAMMode(std::uint32_t displayMode);
void ExpandHAM6(const std::uint8_t* chunky, std::uint8_t* rgb, const std::uint8_t palette[256][3],
                std::uint32_t width, std::uint32_t height);
void ExpandHAM8(const std::uint8_t* chunky, std::uint8_t* rgb, const std::uint8_t palette[256][3],
                std::uint32_t width, std::uint32_t height);
