// pictrender's model of a picture and the state of one run: rectangles,
// points and colours as QuickDraw has them, the block being served, the open
// file, the pending error, the memory list, the picture frame with its three
// colour planes, and the drawing state that the opcodes set.
//
// pictrender is one module built from pictrender.cpp; this header and the
// other pict_*.h beside it are parts of that one source file, so the state
// below exists once per loaded module.
#pragma once

#include <cstdint>
#include <cstdio>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

namespace {

// Rectangles cover left <= x < right and top <= y < bottom; their sides are
// unsigned 16-bit numbers, stored in this order in memory and in the file.
struct Rect {
    uint16_t top, left, bottom, right;
};

// A point in memory is (x, y); in the file the vertical word comes first.
struct Point {
    uint16_t x, y;
};

// One colour: three 16-bit channels, 0 none to 0xFFFF full.
struct Colour {
    uint16_t red, green, blue;
};
static_assert(sizeof(Colour) == 6, "colour tables hold 6 bytes per entry");

constexpr Colour kBlack = {0, 0, 0};
constexpr Colour kWhite = {0xFFFF, 0xFFFF, 0xFFFF};

// A transfer routine combines a source colour with the colour the planes
// hold, in place.
using TransferRoutine = void (*)(const Colour& source, Colour& destination);

// --- the run ----------------------------------------------------------------

constexpr uint32_t kBlockSize = 52;
enum : uint32_t { kRecordWord = 2, kNameWord = 3, kMemListWord = 4, kStreamWord = 5 };

void* pict_KQObjectHandle;  // the block of the run being served
uint32_t pict_retval;       // the pending error; the last one recorded wins
uint32_t recognize_comment; // text-block comments are honoured (every run sets it)
uint32_t align;             // file bytes consumed, the 512-byte header included
std::FILE* pict_stream;     // the open picture file
uint8_t* pict_memlist;      // the run's memory list
bool pict_at_end;           // a read ran past the end of the file, or the data led backwards

void kq_seterrcode(uint32_t code) { pict_retval = code; }

// --- the memory list --------------------------------------------------------
//
// Word 0 counts the entries in use, words 1 to 256 hold the shared addresses
// of the blocks, big-endian like every PowerPC word; at most 255 are filled.

constexpr uint32_t kMemListSize = 1028;
constexpr uint32_t kMemListSlots = 256;
constexpr uint32_t kMemListEntries = 255;

} // namespace

KERNEL_EXPORT void* KQSUP_GetMemList()
{
    auto* list = static_cast<uint8_t*>(PPCAllocVec(kMemListSize, KERNEL_MEMORY_FLAGS));
    if (list == nullptr) return nullptr;
    for (uint32_t word = 0; word <= kMemListSlots; ++word) store_be32(list + 4 * word, 0);
    return list;
}

KERNEL_EXPORT void* KQSUP_AllocMemEntry(void* list, uint32_t size, uint32_t flags)
{
    if (list == nullptr || size == 0) return nullptr;
    auto* words = static_cast<uint8_t*>(list);
    const uint32_t used = load_be32(words);
    if (used >= kMemListEntries) return nullptr;
    void* memory = PPCAllocVec(size, flags);
    if (memory == nullptr) return nullptr;
    store_be32(words + 4 * (1 + used), shared_address(memory));
    store_be32(words, used + 1);
    return memory;
}

KERNEL_EXPORT void KQSUP_FreeMemList(void* list)
{
    if (list == nullptr) return;
    const auto* words = static_cast<const uint8_t*>(list);
    for (uint32_t slot = 1; slot <= kMemListSlots; ++slot) {
        const uint32_t address = load_be32(words + 4 * slot);
        if (address != 0) PPCFreeVec(shared_pointer(address));
    }
    PPCFreeVec(list);
}

namespace {

// Working memory of the run, cleared, through the memory list. A size that
// does not fit 32 bits is never asked for; a refusal is pending error 3.
void* pict_alloc(checked_u64 size)
{
    void* memory = nullptr;
    if (size && *size <= 0xFFFFFFFFu) memory = KQSUP_AllocMemEntry(pict_memlist, uint32_t(*size), MEMF_CLEAR);
    if (memory == nullptr) kq_seterrcode(KERNEL_NO_MEMORY);
    return memory;
}

// --- the picture frame and its planes ---------------------------------------

Rect picFrame;
uint16_t rowlen, collen;  // frame width and height, modulo 65536
uint32_t planelen;        // rowlen x collen samples per plane
uint16_t* red;
uint16_t* green;
uint16_t* blue;

// --- the drawing state --------------------------------------------------------

Rect clip_rect;
uint8_t pen_pat[64], bkpat[64], fillpat[64];  // one byte (0 or 1) per cell, 8 rows of 8
uint16_t pen_width, pen_height;
uint16_t pen_mode;
TransferRoutine pen_trf;
uint16_t text_mode;
TransferRoutine text_trf;
uint16_t text_font, text_size;
uint8_t text_face;
Colour foreground, background, op_colour;
Point current;
Rect cur_rect;

// The text-block state of the picture comments: while ps_text is on, strings
// are drawn turned about the block's centre and pixel images are not drawn.
uint32_t ps_text;
uint8_t ps_just, ps_flip, ps_linespace;
uint16_t ps_rotation;
int32_t ps_cent_x, ps_cent_y;
uint32_t ps_cent_set;

} // namespace
