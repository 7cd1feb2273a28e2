#include "iff.h"

#include <cstring>

#include "services.h"

IFFHandle* NewIFFHandle()
{
    return static_cast<IFFHandle*>(MemAlloc(sizeof(IFFHandle), kMemClear));
}

void SetIFFReading(IFFHandle* iff)
{
    if (iff)
        iff->mode = kIFFRead;
}

int OpenIFF(IFFHandle* iff, std::int32_t mode)
{
    if (!iff || mode != kIFFRead || iff->mode != kIFFRead || !iff->stream)
        return 1;
    std::FILE* in = iff->stream;
    if (FileSeek(in, 0, SEEK_SET) < 0)
        return 1;
    std::uint8_t magic[4] = {};
    if (FileRead(in, magic, 4) != 4 || std::memcmp(magic, "FORM", 4) != 0)
        return 1;

    std::uint32_t size = 0;
    char typeText[5] = {};
    FileRead(in, &size, 4);
    FileRead(in, typeText, 4);
    std::memcpy(iff->formType, typeText, 4);
    iff->formSize = ConvertLong(size, kBigEndian, kLittleEndian);

    std::printf("OpenIFF: IFF-%s file of size: %d...", typeText,
                static_cast<int>(AsPrinted(iff->formSize)));
    return 0;
}

void SetIFFChunkTable(IFFHandle* iff, const void* table, std::uint32_t entryCount)
{
    if (!iff)
        return;
    iff->chunkTable = static_cast<const std::uint8_t*>(table);
    iff->entryCount = entryCount;
}

static bool InChunkTable(const IFFHandle* iff, const std::uint8_t identifier[4])
{
    if (!iff->chunkTable)
        return false;
    for (std::uint32_t i = 0; i < iff->entryCount; ++i) {
        const std::uint8_t* entry = iff->chunkTable + 8 * static_cast<std::size_t>(i);
        if (std::memcmp(entry, iff->formType, 4) == 0 && std::memcmp(entry + 4, identifier, 4) == 0)
            return true;
    }
    return false;
}

void ParseIFF(IFFHandle* iff, std::int32_t parseMode)
{
    if (!iff)
        return;
    ChunkNode* previous = iff->currentChunk;
    iff->currentChunk = nullptr;
    if (parseMode != kIFFParseScan || iff->mode != kIFFRead) {
        MemFree(previous);
        return;
    }

    std::FILE* in = iff->stream;
    bool matched = false;
    bool error = false;
    while (!matched && !error) {
        if (iff->currentChunk) {
            previous = iff->currentChunk;
            iff->currentChunk = nullptr;
        }
        if (previous) {
            // Skip from the recorded data position, so it does not matter how
            // much of the chunk the caller has read.
            const std::int64_t skip = static_cast<std::int64_t>(previous->size) + (previous->size & 1);
            const std::int64_t next = previous->dataPosition + skip;
            const std::int32_t start = previous->dataPosition;
            MemFree(previous);
            previous = nullptr;
            if (next > INT32_MAX || FileSeek(in, start, SEEK_SET) < 0 ||
                FileSeek(in, static_cast<std::int32_t>(skip), SEEK_CUR) < 0) {
                error = true;
                continue;
            }
        }

        std::uint8_t identifier[4] = {};
        std::uint32_t size = 0;
        if (FileRead(in, identifier, 4) != 4 || FileRead(in, &size, 4) != 4) {
            error = true;
            continue;
        }
        size = ConvertLong(size, kBigEndian, kLittleEndian);
        const std::int32_t position = FileSeek(in, 0, SEEK_CUR);
        ChunkNode* node = position < 0 ? nullptr
                                       : static_cast<ChunkNode*>(MemAlloc(sizeof(ChunkNode), kMemClear));
        if (!node) {
            error = true;
            continue;
        }
        std::memcpy(node->identifier, identifier, 4);
        node->size = size;
        node->dataPosition = position;
        iff->currentChunk = node;

        char text[5] = {};
        std::memcpy(text, identifier, 4);
        std::printf("\nParseIFF: %s chunk of size: %ld at position %ld", text, AsPrinted(size),
                    static_cast<long>(position));
        matched = InChunkTable(iff, identifier);
    }

    if (error)
        std::printf("\nParseIFF: ERROR");
    MemFree(previous);
}

ChunkNode* GetIFFChunk(IFFHandle* iff)
{
    return iff ? iff->currentChunk : nullptr;
}

std::int64_t ReadIFFData(IFFHandle* iff, void* buffer, std::uint32_t length)
{
    if (!iff || iff->mode != kIFFRead)
        return -1;
    return FileRead(iff->stream, buffer, length);
}

void DisposeIFFHandle(IFFHandle* iff)
{
    if (!iff)
        return;
    MemFree(iff->currentChunk);
    MemFree(iff);
}
