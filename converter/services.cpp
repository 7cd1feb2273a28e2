#include "services.h"

#include <cstdlib>
#include <cstring>

void* MemAlloc(std::uint64_t size, std::uint32_t flags)
{
    if (size > UINT32_MAX || size > SIZE_MAX)
        return nullptr;
    // A zero-byte request still gets a real block, so null always means failure.
    const std::size_t bytes = size == 0 ? 1 : static_cast<std::size_t>(size);
    return (flags & kMemClear) ? std::calloc(bytes, 1) : std::malloc(bytes);
}

void MemFree(void* block)
{
    std::free(block);
}

std::FILE* FileOpen(const char* name, const char* mode)
{
    return std::fopen(name, mode);
}

int FileClose(std::FILE* stream)
{
    return std::fclose(stream) == 0 ? 0 : -1;
}

std::int64_t FileRead(std::FILE* stream, void* buffer, std::uint32_t length)
{
    // Byte-wise, so that a short read leaves the bytes that did arrive in a
    // known state.
    const std::size_t got = std::fread(buffer, 1, length, stream);
    if (std::ferror(stream))
        return -1;
    return got == length ? static_cast<std::int64_t>(length) : 0;
}

std::int64_t FileWrite(std::FILE* stream, const void* buffer, std::uint32_t length)
{
    const std::size_t put = std::fwrite(buffer, 1, length, stream);
    if (std::ferror(stream))
        return -1;
    return put == length ? static_cast<std::int64_t>(length) : 0;
}

std::int32_t FileSeek(std::FILE* stream, std::int32_t offset, int origin)
{
    const long before = std::ftell(stream);
    if (before < 0 || before > INT32_MAX)
        return -1;
    if (offset == 0 && origin == SEEK_CUR)
        return static_cast<std::int32_t>(before);
    static_assert(SEEK_SET == 0 && SEEK_CUR == 1 && SEEK_END == 2);
    if (origin < 0 || origin > 2 || std::fseek(stream, offset, origin) != 0)
        return -1;
    return static_cast<std::int32_t>(before);
}

std::uint16_t ConvertWord(std::uint16_t value, int from, int to)
{
    if (from == to)
        return value;
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

std::uint32_t ConvertLong(std::uint32_t value, int from, int to)
{
    if (from == to)
        return value;
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

void ConvertWordAt(std::uint16_t* value, int from, int to)
{
    *value = ConvertWord(*value, from, to);
}

void ConvertLongAt(std::uint32_t* value, int from, int to)
{
    *value = ConvertLong(*value, from, to);
}
