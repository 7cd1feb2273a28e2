// BMP writer: an uncompressed Windows BMP of 1, 4, 8 or 24 bits per pixel.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ilbm.h"

// 0 when the file was written whole; 1 after the failure's message, with no
// file left behind.
int SaveBMP(ImageRecord* image, const char* name);

std::uint32_t BmpBitsForDepth(std::uint32_t depth);
// 1 on success, 0 when a row flip did not get its temporary row.
int PackBmpRows(std::uint8_t* pixels, std::uint8_t* out, std::uint32_t width, std::uint32_t height,
                std::uint32_t bitsPerPixel);
// 1 on success, 0 after its message when the temporary row cannot be had.
int FlipRows(std::uint8_t* pixels, std::uint64_t rowLength, std::uint32_t rowCount);
// 1 when every entry was written, else 0.
int WriteBmpPalette(const ImageRecord* image, std::FILE* out, std::uint32_t bitsPerPixel);
