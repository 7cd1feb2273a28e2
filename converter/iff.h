// Chunk reader: walks the flat chunk sequence of one IFF FORM and stops at
// each chunk named in the caller's table.
#pragma once

#include <cstdint>
#include <cstdio>

struct ChunkNode {
    std::uint8_t identifier[4];   // as stored in the file
    std::uint32_t size;           // data bytes, host order, without the pad byte
    std::int32_t dataPosition;    // file offset of the first data byte
};

struct IFFHandle {
    std::FILE* stream;            // owned by the caller, never closed here
    std::uint32_t formSize;       // host order
    std::int32_t mode;            // 1 = reading
    const std::uint8_t* chunkTable;   // entries of (FORM type, chunk identifier)
    std::uint32_t entryCount;
    ChunkNode* currentChunk;      // owned by the handle
    std::uint8_t formType[4];     // as stored in the file
};

inline constexpr std::int32_t kIFFRead = 1;
inline constexpr std::int32_t kIFFParseScan = 1;

IFFHandle* NewIFFHandle();
void SetIFFReading(IFFHandle* iff);
// 0 on success, 1 on failure.
int OpenIFF(IFFHandle* iff, std::int32_t mode);
void SetIFFChunkTable(IFFHandle* iff, const void* table, std::uint32_t entryCount);
void ParseIFF(IFFHandle* iff, std::int32_t parseMode);
ChunkNode* GetIFFChunk(IFFHandle* iff);
std::int64_t ReadIFFData(IFFHandle* iff, void* buffer, std::uint32_t length);
void DisposeIFFHandle(IFFHandle* iff);
