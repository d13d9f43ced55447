#include "core/BlockIndex.h"

#include <cstring>

#include "core/UpdateFileEntry.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/TextRoutines.h"

namespace {

constexpr unsigned char kMagic[4] = {'F', 'B', 'I', 'X'};
constexpr uint32_t kLeastBuiltShift = 12;
constexpr uint32_t kMostBuiltBlocks = kMaxIndexBlocks / 2;

uint32_t LoadWord(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void StoreWord(unsigned char* bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

bool DigestTextBytes(const char* text, unsigned char* out)
{
    return ReadLowerHex(text, std::strlen(text), out, CMd5::kHexLength / 2);
}

uint32_t BlockShiftFor(uint32_t fileSize)
{
    uint32_t shift = kLeastBuiltShift;
    while (shift < kMostBlockShift && BlockCountOf(fileSize, shift) > kMostBuiltBlocks)
        ++shift;
    return shift;
}

uint32_t BlockCountOf(uint32_t fileSize, uint32_t shift)
{
    const uint64_t size = static_cast<uint64_t>(1) << shift;
    return static_cast<uint32_t>((static_cast<uint64_t>(fileSize) + size - 1) >> shift);
}

uint32_t BlockIndexSizeOf(uint32_t fileSize, uint32_t shift)
{
    return kBlockIndexHeaderSize + kBlockRecordSize * BlockCountOf(fileSize, shift);
}

bool BlockPathWorthTrying(uint32_t fileSize, uint32_t installedSize)
{
    return fileSize >= kBlockIndexLeastFileSize &&
           installedSize > BlockIndexSizeOf(fileSize, BlockShiftFor(fileSize));
}

bool BlockIndexAddress(char* out, size_t capacity, const char* fileAddress)
{
    return CopyText(out, capacity, fileAddress) && AppendText(out, capacity, kBlockIndexSuffix);
}

bool ReadBlockIndex(const unsigned char* bytes, uint32_t length, BlockIndexView* view)
{
    if (bytes == nullptr || length < kBlockIndexHeaderSize ||
        std::memcmp(bytes, kMagic, sizeof kMagic) != 0 || bytes[4] != kBlockIndexFormat ||
        bytes[5] < kLeastBlockShift || bytes[5] > kMostBlockShift || bytes[6] != kBlockWeakBytes ||
        bytes[7] != kBlockStrongBytes)
        return false;
    const uint32_t shift = bytes[5];
    const uint32_t fileSize = LoadWord(bytes + 8);
    // The program lists files below 2 GiB only.
    if (fileSize > 0x7FFFFFFFu)
        return false;
    const uint32_t count = BlockCountOf(fileSize, shift);
    if (count > kMaxIndexBlocks || length != kBlockIndexHeaderSize + kBlockRecordSize * count)
        return false;
    view->shift = shift;
    view->blockSize = 1u << shift;
    view->fileSize = fileSize;
    view->blockCount = count;
    std::memcpy(view->md5, bytes + 12, sizeof view->md5);
    view->records = bytes + kBlockIndexHeaderSize;
    return true;
}

bool BlockIndexFitsEntry(const BlockIndexView& view, const UpdateFileEntry& entry)
{
    unsigned char md5[16];
    return entry.size >= 0 && view.fileSize == static_cast<uint32_t>(entry.size) &&
           DigestTextBytes(entry.md5, md5) && std::memcmp(md5, view.md5, sizeof md5) == 0;
}

uint32_t BlockWeak(const BlockIndexView& view, uint32_t block)
{
    const unsigned char* record = view.records + kBlockRecordSize * block;
    return static_cast<uint32_t>(record[0]) | static_cast<uint32_t>(record[1]) << 8;
}

const unsigned char* BlockStrong(const BlockIndexView& view, uint32_t block)
{
    return view.records + kBlockRecordSize * block + kBlockWeakBytes;
}

uint32_t BlockLength(const BlockIndexView& view, uint32_t block)
{
    const uint64_t start = static_cast<uint64_t>(block) << view.shift;
    const uint64_t left = view.fileSize - start;
    return left < view.blockSize ? static_cast<uint32_t>(left) : view.blockSize;
}

RollingSums SumsOf(const unsigned char* bytes, uint32_t length, uint32_t shift)
{
    // b weighs each byte by its distance from the window's end: the sum of
    // the running sums of a, and for the zeros that pad a short block, a
    // added once for each.
    RollingSums sums = {0, 0};
    const uint32_t size = 1u << shift;
    for (uint32_t k = 0; k < length; ++k) {
        sums.a += bytes[k];
        sums.b += sums.a;
    }
    sums.b += (size - length) * sums.a;
    return sums;
}

void StrongOf(const unsigned char* bytes, uint32_t length, unsigned char* out)
{
    char text[CMd5::kHexSize];
    Md5Hex(bytes, length, text);
    // An MD5 without memory has no text: a hash that is all zeros, which then
    // matches as seldom as any other.
    if (!ReadLowerHex(text, 2 * kBlockStrongBytes, out, kBlockStrongBytes))
        std::memset(out, 0, kBlockStrongBytes);
}

CBlockIndexWriter::CBlockIndexWriter()
    : m_block(nullptr),
      m_records(nullptr),
      m_shift(0),
      m_fileSize(0),
      m_filled(0),
      m_blocks(0),
      m_fed(0)
{
}

CBlockIndexWriter::~CBlockIndexWriter()
{
    FreeArea(m_block);
    FreeArea(m_records);
}

bool CBlockIndexWriter::Begin(uint32_t fileSize, uint32_t shift)
{
    FreeArea(m_block);
    FreeArea(m_records);
    m_shift = shift;
    m_fileSize = fileSize;
    m_filled = 0;
    m_blocks = 0;
    m_fed = 0;
    m_block = static_cast<unsigned char*>(AllocArea(1u << shift));
    m_records =
        static_cast<unsigned char*>(AllocArea(kBlockRecordSize * BlockCountOf(fileSize, shift)));
    return m_block != nullptr && m_records != nullptr;
}

void CBlockIndexWriter::CloseBlock()
{
    if (m_blocks >= BlockCountOf(m_fileSize, m_shift))
        return;
    unsigned char* record = m_records + kBlockRecordSize * m_blocks;
    const uint32_t weak = WeakOfSums(SumsOf(m_block, m_filled, m_shift));
    record[0] = static_cast<unsigned char>(weak);
    record[1] = static_cast<unsigned char>(weak >> 8);
    StrongOf(m_block, m_filled, record + kBlockWeakBytes);
    ++m_blocks;
    m_filled = 0;
}

void CBlockIndexWriter::Feed(const unsigned char* data, uint32_t length)
{
    if (m_block == nullptr || m_records == nullptr)
        return;
    const uint32_t size = 1u << m_shift;
    m_fed += length;
    while (length > 0) {
        const uint32_t room = size - m_filled;
        const uint32_t take = length < room ? length : room;
        std::memcpy(m_block + m_filled, data, take);
        m_filled += take;
        data += take;
        length -= take;
        if (m_filled == size)
            CloseBlock();
    }
}

bool CBlockIndexWriter::Finish(const unsigned char* md5, unsigned char* out)
{
    if (m_block == nullptr || m_records == nullptr || m_fed != m_fileSize)
        return false;
    if (m_filled > 0)
        CloseBlock();
    std::memcpy(out, kMagic, sizeof kMagic);
    out[4] = kBlockIndexFormat;
    out[5] = static_cast<unsigned char>(m_shift);
    out[6] = kBlockWeakBytes;
    out[7] = kBlockStrongBytes;
    StoreWord(out + 8, m_fileSize);
    std::memcpy(out + 12, md5, 16);
    std::memcpy(out + kBlockIndexHeaderSize, m_records, kBlockRecordSize * m_blocks);
    return true;
}
