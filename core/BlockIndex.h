#pragma once

#include <cstddef>
#include <cstdint>

#include "support/NoCopy.h"

struct UpdateFileEntry;

// The block index of a large file, published beside it (the file's address
// and kBlockIndexSuffix), so that an installed copy of another version can be
// brought up to date with only the blocks it lacks. Binary, little-endian:
//
//   0   4  "FBIX"
//   4   1  format, 1
//   5   1  log2 of the block size, kLeastBlockShift..kMostBlockShift
//   6   1  bytes of each weak sum, 2
//   7   1  bytes of each strong hash, 3
//   8   4  the file's size
//   12  16 the file's MD5
//   28  5 per block: weak sum, then strong hash
//
// Every block is blockSize bytes but the last, which holds what is left. The
// weak sum is the rolling sum of the block padded with zeros to blockSize,
// folded to 16 bits (WeakOfSums); the strong hash is the first 3 bytes of the
// MD5 of the block's own bytes. Neither has to be unforgeable or even rare
// beyond a few in a million: the copy made from them is judged by the whole
// file's MD5 (and, in a build with keys, its signed SHA-256), and a copy that
// fails goes to a full download. An index is read only when it is exactly
// this layout, of the size its header implies.

constexpr uint32_t kBlockIndexHeaderSize = 28;
constexpr uint32_t kBlockWeakBytes = 2;
constexpr uint32_t kBlockStrongBytes = 3;
constexpr uint32_t kBlockRecordSize = kBlockWeakBytes + kBlockStrongBytes;
constexpr uint32_t kBlockIndexFormat = 1;
constexpr uint32_t kLeastBlockShift = 10;
constexpr uint32_t kMostBlockShift = 20;
// What a reader takes at most: bounds the fetch (kMaxBlockIndexSize) and the
// matcher's tables. The builder's rule stays at half of it.
constexpr uint32_t kMaxIndexBlocks = 1u << 18;
constexpr uint32_t kMaxBlockIndexSize = kBlockIndexHeaderSize + kBlockRecordSize * kMaxIndexBlocks;
// Files below this are fetched whole: their index would save little, and the
// request for it costs a round trip of its own.
constexpr uint32_t kBlockIndexLeastFileSize = 1u << 20;
// Appended to a file's address (and its path in the package) to name its index.
constexpr char kBlockIndexSuffix[] = ".fbi";

// The block size the builder chooses for a file, as a shift: 4 KiB, or the
// smallest power of two that keeps the file within 2^17 blocks (16 KiB for
// 2 GiB). 4 KiB makes an edit of a few KiB cost about two blocks; the cap
// keeps the index within 640 KiB and the matcher's tables within a few MiB.
// The index is then at most 5/4096 of the file (0.12%).
uint32_t BlockShiftFor(uint32_t fileSize);
// Blocks of a file of fileSize bytes at the shift.
uint32_t BlockCountOf(uint32_t fileSize, uint32_t shift);
// Bytes of the index of such a file (header and records).
uint32_t BlockIndexSizeOf(uint32_t fileSize, uint32_t shift);

// Whether an entry is worth its index: a file of at least
// kBlockIndexLeastFileSize, whose installed copy (installedSize bytes) is
// larger than the index that would be fetched to use it.
bool BlockPathWorthTrying(uint32_t fileSize, uint32_t installedSize);

// The index's address: fileAddress followed by kBlockIndexSuffix, into out of
// capacity bytes; false when it does not fit.
bool BlockIndexAddress(char* out, size_t capacity, const char* fileAddress);

// A read index; its records are the reader's bytes, borrowed.
struct BlockIndexView {
    uint32_t shift;
    uint32_t blockSize;
    uint32_t fileSize;
    uint32_t blockCount;
    unsigned char md5[16];
    const unsigned char* records;  // blockCount records of kBlockRecordSize bytes
};

// Reads length bytes as an index; false for anything but the layout above.
bool ReadBlockIndex(const unsigned char* bytes, uint32_t length, BlockIndexView* view);

// The 16 bytes of a digest text (32 lower-case hexadecimal characters, as a
// definition lists it); false for any other text.
bool DigestTextBytes(const char* text, unsigned char* out);

// Whether a read index is the index of the entry's file: its size and MD5.
bool BlockIndexFitsEntry(const BlockIndexView& view, const UpdateFileEntry& entry);

// Block i's weak sum and strong hash.
uint32_t BlockWeak(const BlockIndexView& view, uint32_t block);
const unsigned char* BlockStrong(const BlockIndexView& view, uint32_t block);
// Its length: blockSize, or what is left for the last.
uint32_t BlockLength(const BlockIndexView& view, uint32_t block);

// The rolling sums of a window of 2^shift bytes: a the sum of its bytes, b
// the sum of each byte times its distance from the window's end, both kept
// to 16 bits. Rolled by one byte with RollSums.
struct RollingSums {
    uint32_t a;
    uint32_t b;
};
RollingSums SumsOf(const unsigned char* bytes, uint32_t length, uint32_t shift);
inline void RollSums(RollingSums* sums, unsigned char out, unsigned char in, uint32_t shift)
{
    sums->a += static_cast<uint32_t>(in) - out;
    sums->b += sums->a - (static_cast<uint32_t>(out) << shift);
}
// The 16 bits stored of the sums: both halves mixed, so that data whose byte
// sums cluster (text, sparse tables) still spreads over the values.
inline uint32_t WeakOfSums(const RollingSums& sums)
{
    const uint32_t both = (sums.a & 0xFFFFu) | (sums.b << 16);
    return (both * 0x9E3779B1u) >> 16;
}
// The strong hash of bytes into out (kBlockStrongBytes).
void StrongOf(const unsigned char* bytes, uint32_t length, unsigned char* out);

// Writes an index: the header once the file's MD5 is known, the records as
// the file's bytes come in order. The caller owns the area it writes into.
class CBlockIndexWriter : NoCopy {
public:
    CBlockIndexWriter();
    ~CBlockIndexWriter();

    // For a file of fileSize bytes at the shift; false without memory.
    bool Begin(uint32_t fileSize, uint32_t shift);
    void Feed(const unsigned char* data, uint32_t length);
    // The whole index into out (BlockIndexSizeOf bytes), with md5 (16 bytes);
    // false when the bytes fed were not fileSize.
    bool Finish(const unsigned char* md5, unsigned char* out);

private:
    void CloseBlock();

    unsigned char* m_block;    // owned: one block being filled
    unsigned char* m_records;  // owned: the records so far
    uint32_t m_shift;
    uint32_t m_fileSize;
    uint32_t m_filled;
    uint32_t m_blocks;
    uint64_t m_fed;
};
