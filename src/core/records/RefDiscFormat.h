// The reference test disc: files KVX-Data-001.dat, KVX-Data-002.dat, ... in
// the disc's root, each a run of 32,768-byte blocks where block b holds
// pattern b mod 5. The CD/DVD test reads them back; the disc maker in
// tools/ writes them. Header only, so the maker needs nothing else.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

constexpr int kRefBlockSize = 32768;
constexpr int kRefPatterns = 5;
// Blocks per file read from a CD and from a DVD; the first file's size
// tells which disc it is.
constexpr int kRefBlocksCd = 320;
constexpr int kRefBlocksDvd = 1280;
constexpr std::int64_t kRefCdMaxFileBytes = 29'999'999;
constexpr const char* kRefFilePrefix = "KVX-Data-";
constexpr const char* kRefFileSuffix = ".dat";

// Block pattern 0 counts 0..255 over and over; the others are one byte.
constexpr std::uint8_t kRefFillByte[kRefPatterns] = { 0x00, 0xAA, 0x55, 0x00, 0xFF };

// The expected byte at `offset` of a block holding `pattern` (0..4).
constexpr std::uint8_t RefPatternByte(int pattern, int offset)
{
    return pattern == 0 ? static_cast<std::uint8_t>(offset & 0xFF) : kRefFillByte[pattern];
}

// Fills one kRefBlockSize block with `pattern` (0..4).
inline void FillRefBlock(std::uint8_t* block, int pattern)
{
    if (pattern != 0) {
        std::memset(block, kRefFillByte[pattern], kRefBlockSize);
        return;
    }
    for (int i = 0; i < 256; ++i)
        block[i] = static_cast<std::uint8_t>(i);
    for (int i = 256; i < kRefBlockSize; i += 256)
        std::memcpy(block + i, block, 256);
}

// "KVX-Data-007.dat" for file 7.
inline std::string RefFileName(int number)
{
    char name[32];
    std::snprintf(name, sizeof name, "%s%03d%s", kRefFilePrefix, number, kRefFileSuffix);
    return name;
}

// Blocks per file for a first file of `bytes` bytes.
constexpr int RefBlocksForSize(std::int64_t bytes)
{
    return bytes > kRefCdMaxFileBytes ? kRefBlocksDvd : kRefBlocksCd;
}
