// Thin services over the standard stream and memory functions. Every file and
// memory access of the converter goes through these, so that the callers only
// ever test plain integer results and null pointers.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>

// Byte-order codes: 1 is the host's order (and that of BMP files), 2 is the
// order of IFF files.
inline constexpr int kLittleEndian = 1;
inline constexpr int kBigEndian = 2;

// Code 1 means "host order"; that only holds on a little-endian machine.
static_assert(std::endian::native == std::endian::little,
              "Quilmo assumes a little-endian host");

// MemAlloc flag: fill the new block with zero bytes.
inline constexpr std::uint32_t kMemClear = 1;

// Null when the size does not fit 32 bits or the block cannot be had, so a
// size computed in 64 bits never turns into a short allocation.
void* MemAlloc(std::uint64_t size, std::uint32_t flags);
void MemFree(void* block);

std::FILE* FileOpen(const char* name, const char* mode);
// 0 when the stream was closed cleanly, -1 when its last data could not be
// written out.
int FileClose(std::FILE* stream);
// length when all bytes were transferred, 0 when fewer were, -1 when the
// stream's error indicator is set.
std::int64_t FileRead(std::FILE* stream, void* buffer, std::uint32_t length);
std::int64_t FileWrite(std::FILE* stream, const void* buffer, std::uint32_t length);
// Returns the position before the move, or -1. Offset 0 from origin 1 only
// reports the position. Positions are kept to 31 bits, as on the target.
std::int32_t FileSeek(std::FILE* stream, std::int32_t offset, int origin);

std::uint16_t ConvertWord(std::uint16_t value, int from, int to);
std::uint32_t ConvertLong(std::uint32_t value, int from, int to);
void ConvertWordAt(std::uint16_t* value, int from, int to);
void ConvertLongAt(std::uint32_t* value, int from, int to);

// A 32-bit count as the target's "%d"/"%ld" shows it: the low 32 bits, signed.
inline long AsPrinted(std::uint64_t value)
{
    return static_cast<long>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}
