#include "core/BlockMatch.h"

#include <algorithm>
#include <cstring>

#include "support/ByteArea.h"

// Two blocks in a row, block i and i + 1, are one pair. Pairs of equal weak
// sums and equal strong hashes are one class (a file of many zero blocks has
// one class for all of them), and a class is taken once: every block of it
// is handed over at its first find. A pair key (both weak sums) leads to at
// most kMostClassesPerKey classes; more could only come from an index made to
// slow the scan, and their blocks are then fetched.
struct CBlockScanner::PairClass {
    uint32_t key;
    uint32_t firstMember;  // in m_order
    uint32_t memberCount;
    bool taken;
};

struct CBlockScanner::KeySlot {
    uint32_t key;
    uint32_t firstClass;
    uint32_t classCount;  // 0: an empty slot
};

namespace {

constexpr uint32_t kMostClassesPerKey = 16;
// Strong hashes that may find nothing before the scan gives up, beyond two
// for each block's length of the other file seen.
constexpr uint64_t kWastedAllowance = 4096;
constexpr uint32_t kFeedRoom = 65536;
// The filter of pair keys: 512 KiB, 64 bits a key for a file of 2^16 blocks
// (256 MiB), 16 for the most a reader takes; a fixed size keeps its shift a
// constant in the scan's loop.
constexpr uint32_t kFilterBitsShift = 22;
constexpr uint32_t kNoBlock = 0xFFFFFFFFu;

uint32_t PairKey(uint32_t firstWeak, uint32_t secondWeak)
{
    return firstWeak << 16 | secondWeak;
}

uint32_t SlotHash(uint32_t key)
{
    return key * 0x9E3779B1u;
}

// A pair key's bit in the filter: its top bits. Each weak sum is already
// mixed (WeakOfSums), and a lying index sets no more bits than it has pairs,
// whatever the bits are taken from; no multiplication in the loop every byte
// goes through.
uint32_t FilterBit(uint32_t key)
{
    return key >> (32 - kFilterBitsShift);
}

uint32_t PowerOfTwoAtLeast(uint32_t value)
{
    uint32_t power = 1;
    while (power < value)
        power <<= 1;
    return power;
}

}  // namespace

CBlockScanner::CBlockScanner()
    : m_index(), m_sink(nullptr), m_fullBlocks(0), m_inPlace(false), m_order(nullptr),
      m_classes(nullptr), m_classCount(0), m_slots(nullptr), m_slotMask(0), m_filter(nullptr),
      m_found(nullptr), m_foundBlocks(0), m_foundBytes(0), m_window(nullptr),
      m_windowCapacity(0), m_windowLength(0), m_windowStart(0), m_at(0), m_haveSums(false),
      m_weaks(nullptr), m_lead(), m_strongAt(0), m_strong(), m_haveStrong(false), m_next(kNoBlock),
      m_tailAt(0),
      m_tailPending(false), m_fed(0), m_wasted(0), m_gaveUp(false), m_stopped(true)
{
}

CBlockScanner::~CBlockScanner()
{
    FreeArea(m_order);
    FreeArea(m_classes);
    FreeArea(m_slots);
    FreeArea(m_filter);
    FreeArea(m_found);
    FreeArea(m_window);
    FreeArea(m_weaks);
}

bool CBlockScanner::Begin(const BlockIndexView& index, CBlockSink* sink)
{
    m_index = index;
    m_sink = sink;
    m_fullBlocks = index.fileSize >> index.shift;
    m_inPlace = m_fullBlocks < 2;
    m_stopped = true;
    const uint32_t foundWords = index.blockCount / 32 + 1;
    m_found = static_cast<uint32_t*>(AllocArea(4 * foundWords));
    m_windowCapacity = 3 * index.blockSize + kFeedRoom;
    m_window = static_cast<unsigned char*>(AllocArea(m_windowCapacity));
    m_weaks = static_cast<uint16_t*>(AllocArea(2 * index.blockSize));
    if (m_found == nullptr || m_window == nullptr || m_weaks == nullptr)
        return false;
    std::memset(m_found, 0, 4 * foundWords);
    if (!m_inPlace && !BuildTables())
        return false;
    m_stopped = false;
    return true;
}

bool CBlockScanner::BuildTables()
{
    const uint32_t pairs = m_fullBlocks - 1;
    m_order = static_cast<uint32_t*>(AllocArea(4 * pairs));
    m_classes = static_cast<PairClass*>(AllocArea(sizeof(PairClass) * pairs));
    if (m_order == nullptr || m_classes == nullptr)
        return false;
    const BlockIndexView& index = m_index;
    auto keyOf = [&index](uint32_t i) {
        return PairKey(BlockWeak(index, i), BlockWeak(index, i + 1));
    };
    // Both strong hashes of a pair, as one number to order by.
    auto strongsOf = [&index](uint32_t i) {
        const unsigned char* first = BlockStrong(index, i);
        const unsigned char* second = BlockStrong(index, i + 1);
        uint64_t both = 0;
        for (uint32_t k = 0; k < kBlockStrongBytes; ++k)
            both = both << 16 | static_cast<uint64_t>(first[k]) << 8 | second[k];
        return both;
    };
    for (uint32_t i = 0; i < pairs; ++i)
        m_order[i] = i;
    std::sort(m_order, m_order + pairs, [&](uint32_t x, uint32_t y) {
        const uint32_t kx = keyOf(x), ky = keyOf(y);
        if (kx != ky)
            return kx < ky;
        const uint64_t sx = strongsOf(x), sy = strongsOf(y);
        return sx != sy ? sx < sy : x < y;
    });

    uint32_t keys = 0;
    for (uint32_t n = 0; n < pairs; ++n) {
        const uint32_t i = m_order[n];
        const bool sameKey = n > 0 && keyOf(m_order[n - 1]) == keyOf(i);
        if (sameKey && strongsOf(m_order[n - 1]) == strongsOf(i)) {
            ++m_classes[m_classCount - 1].memberCount;
            continue;
        }
        keys += sameKey ? 0 : 1;
        m_classes[m_classCount++] = {keyOf(i), n, 1, false};
    }

    const uint32_t slots = PowerOfTwoAtLeast(2 * keys + 16);
    const uint32_t filterBits = 1u << kFilterBitsShift;
    m_slots = static_cast<KeySlot*>(AllocArea(sizeof(KeySlot) * slots));
    m_filter = static_cast<uint32_t*>(AllocArea(filterBits / 8));
    if (m_slots == nullptr || m_filter == nullptr)
        return false;
    std::memset(m_slots, 0, sizeof(KeySlot) * slots);
    std::memset(m_filter, 0, filterBits / 8);
    m_slotMask = slots - 1;
    for (uint32_t c = 0; c < m_classCount; ++c) {
        const uint32_t key = m_classes[c].key;
        uint32_t s = SlotHash(key) & m_slotMask;
        while (m_slots[s].classCount != 0 && m_slots[s].key != key)
            s = (s + 1) & m_slotMask;
        if (m_slots[s].classCount == 0) {
            m_slots[s] = {key, c, 1};
            const uint32_t bit = FilterBit(key);
            m_filter[bit / 32] |= 1u << (bit % 32);
        } else if (m_slots[s].classCount < kMostClassesPerKey) {
            ++m_slots[s].classCount;
        }
    }
    return true;
}

bool CBlockScanner::Found(uint32_t block) const
{
    return block < m_index.blockCount && m_found != nullptr &&
           (m_found[block / 32] >> (block % 32) & 1u) != 0;
}

bool CBlockScanner::Feed(const unsigned char* data, uint32_t length)
{
    if (m_stopped)
        return false;
    m_fed += length;
    while (length > 0 && !m_gaveUp && !m_stopped) {
        if (m_inPlace) {
            // Only the file's own place is looked at, which the window holds.
            const uint32_t room = m_windowCapacity - m_windowLength;
            const uint32_t take = std::min(length, room);
            std::memcpy(m_window + m_windowLength, data, take);
            m_windowLength += take;
            return true;
        }
        const uint32_t take = std::min(length, m_windowCapacity - m_windowLength);
        std::memcpy(m_window + m_windowLength, data, take);
        m_windowLength += take;
        data += take;
        length -= take;
        Process(false);
        Compact();
    }
    return !m_stopped;
}

bool CBlockScanner::Finish()
{
    if (m_stopped)
        return false;
    if (m_inPlace) {
        CheckInPlace();
    } else if (!m_gaveUp) {
        Process(true);
        if (m_tailPending)
            CheckTail(true);
    }
    return !m_stopped;
}

void CBlockScanner::Compact()
{
    if (m_at == 0)
        return;
    std::memmove(m_window, m_window + m_at, m_windowLength - m_at);
    if (m_haveStrong && m_strongAt >= m_at)
        m_strongAt -= m_at;
    else
        m_haveStrong = false;
    m_windowStart += m_at;
    m_windowLength -= m_at;
    m_at = 0;
}

void CBlockScanner::Process(bool atEnd)
{
    const uint32_t size = m_index.blockSize;
    const uint32_t shift = m_index.shift;
    while (!m_stopped && !m_gaveUp) {
        if (m_tailPending)
            CheckTail(atEnd);
        if (!m_haveSums) {
            if (m_windowLength - m_at < 2 * size)
                return;
            // Right after a found block the next one is looked for first, by
            // its strong hash alone: in a run of unchanged blocks that is all
            // the work, one hash a block.
            if (m_next < m_fullBlocks && !m_stopped) {
                const uint32_t block = m_next;
                m_next = kNoBlock;
                if (std::memcmp(StrongAt(m_at + size), BlockStrong(m_index, block),
                                kBlockStrongBytes) == 0) {
                    if (!Take(block, m_at + size))
                        return;
                    m_next = block + 1;
                    m_at += size;
                    continue;
                }
            }
            FillWeaks();
            m_haveSums = true;
        }
        // Most offsets end at the filter. The window at an offset is the one
        // that led a block before, so only the leading window rolls, and the
        // weak sums it had wait in a ring of a block's length. While the short
        // last block waits for its bytes, one offset at a time.
        const unsigned char* w = m_window + m_at;
        const unsigned char* last = m_window + m_windowLength - 2 * size;
        if (m_tailPending && w < last)
            last = w + 1;
        const uint32_t mask = size - 1;
        uint16_t* const weaks = m_weaks;
        uint32_t at = static_cast<uint32_t>(m_windowStart) + m_at;
        RollingSums lead = m_lead;
        bool passed = false;
        for (;;) {
            const uint32_t leading = WeakOfSums(lead);
            const uint32_t bit = FilterBit(PairKey(weaks[at & mask], leading));
            if ((m_filter[bit / 32] >> (bit % 32) & 1u) != 0) {
                passed = true;
                break;
            }
            // The next offset needs the byte after the leading window.
            if (w >= last)
                break;
            weaks[at & mask] = static_cast<uint16_t>(leading);
            // RollSums, with the block's size as a factor: no shift by a
            // count in a register in the loop every byte goes through.
            const uint32_t out = w[size];
            lead.a += static_cast<uint32_t>(w[2 * size]) - out;
            lead.b += lead.a - out * size;
            ++w;
            ++at;
        }
        m_lead = lead;
        m_at = static_cast<uint32_t>(w - m_window);
        if (passed && Evaluate()) {
            m_at += size;
            m_haveSums = false;
            continue;
        }
        if (m_windowLength - m_at <= 2 * size)
            return;
        m_weaks[at & mask] = static_cast<uint16_t>(WeakOfSums(m_lead));
        RollSums(&m_lead, w[size], w[2 * size], shift);
        ++m_at;
    }
}

// The weak sums of the windows at m_at and the block's length after it, into
// the ring, and the leading window's sums: the one a block after m_at.
void CBlockScanner::FillWeaks()
{
    const uint32_t size = m_index.blockSize;
    const uint32_t at = static_cast<uint32_t>(m_windowStart) + m_at;
    const unsigned char* w = m_window + m_at;
    RollingSums sums = SumsOf(w, size, m_index.shift);
    for (uint32_t k = 0; k < size; ++k) {
        m_weaks[(at + k) & (size - 1)] = static_cast<uint16_t>(WeakOfSums(sums));
        RollSums(&sums, w[k], w[k + size], m_index.shift);
    }
    m_lead = sums;
}

uint32_t CBlockScanner::KeyAt() const
{
    const uint32_t at = static_cast<uint32_t>(m_windowStart) + m_at;
    return PairKey(m_weaks[at & (m_index.blockSize - 1)], WeakOfSums(m_lead));
}

const unsigned char* CBlockScanner::StrongAt(uint32_t at)
{
    if (!m_haveStrong || m_strongAt != at) {
        StrongOf(m_window + at, m_index.blockSize, m_strong);
        m_strongAt = at;
        m_haveStrong = true;
    }
    return m_strong;
}

bool CBlockScanner::Evaluate()
{
    const uint32_t size = m_index.blockSize;
    const uint32_t key = KeyAt();
    uint32_t s = SlotHash(key) & m_slotMask;
    while (m_slots[s].classCount != 0 && m_slots[s].key != key)
        s = (s + 1) & m_slotMask;
    const KeySlot& slot = m_slots[s];
    if (slot.classCount == 0)
        return false;

    // The first window's hash may be the one the last find computed.
    const bool known = m_haveStrong && m_strongAt == m_at;
    unsigned char first[kBlockStrongBytes];
    std::memcpy(first, StrongAt(m_at), sizeof first);
    unsigned char second[kBlockStrongBytes];
    bool haveSecond = false;
    bool hit = false;
    for (uint32_t c = slot.firstClass; c < slot.firstClass + slot.classCount; ++c) {
        const PairClass& pair = m_classes[c];
        const uint32_t member = m_order[pair.firstMember];
        if (std::memcmp(BlockStrong(m_index, member), first, sizeof first) != 0)
            continue;
        if (!haveSecond) {
            std::memcpy(second, StrongAt(m_at + size), sizeof second);
            haveSecond = true;
        }
        if (std::memcmp(BlockStrong(m_index, member + 1), second, sizeof second) != 0)
            continue;
        hit = true;
        if (!TakeClass(m_classes[c], m_at))
            return false;
        if (m_next == kNoBlock)
            m_next = member + 2;
    }
    if (!hit) {
        m_wasted += (known ? 0 : 1) + (haveSecond ? 1 : 0);
        if (m_wasted > kWastedAllowance + 2 * (m_fed >> m_index.shift))
            m_gaveUp = true;
    }
    return hit;
}

bool CBlockScanner::TakeClass(PairClass& pair, uint32_t at)
{
    if (pair.taken)
        return true;
    pair.taken = true;
    for (uint32_t n = pair.firstMember; n < pair.firstMember + pair.memberCount; ++n) {
        const uint32_t block = m_order[n];
        if (!Take(block, at) || !Take(block + 1, at + m_index.blockSize))
            return false;
    }
    return true;
}

bool CBlockScanner::Take(uint32_t block, uint32_t at)
{
    if (Found(block))
        return true;
    const uint32_t length = BlockLength(m_index, block);
    m_found[block / 32] |= 1u << (block % 32);
    ++m_foundBlocks;
    m_foundBytes += length;
    if (!m_sink->Found(block, m_window + at, length)) {
        m_stopped = true;
        return false;
    }
    // The short last block, if any, is looked for right after this one.
    if (block + 1 == m_fullBlocks && m_fullBlocks < m_index.blockCount && !m_tailPending &&
        !Found(m_fullBlocks)) {
        m_tailAt = m_windowStart + at + m_index.blockSize;
        m_tailPending = true;
    }
    return true;
}

void CBlockScanner::CheckTail(bool atEnd)
{
    const uint32_t tail = m_fullBlocks;
    const uint32_t length = BlockLength(m_index, tail);
    if (m_tailAt < m_windowStart + m_at) {
        m_tailPending = false;
        return;
    }
    const uint64_t at = m_tailAt - m_windowStart;
    if (at + length > m_windowLength) {
        if (atEnd)
            m_tailPending = false;
        return;
    }
    m_tailPending = false;
    unsigned char strong[kBlockStrongBytes];
    StrongOf(m_window + at, length, strong);
    if (std::memcmp(strong, BlockStrong(m_index, tail), sizeof strong) == 0)
        Take(tail, static_cast<uint32_t>(at));
    else
        ++m_wasted;
}

void CBlockScanner::CheckInPlace()
{
    for (uint32_t block = 0; block < m_index.blockCount && !m_stopped; ++block) {
        const uint32_t at = block << m_index.shift;
        const uint32_t length = BlockLength(m_index, block);
        if (static_cast<uint64_t>(at) + length > m_windowLength)
            return;
        unsigned char strong[kBlockStrongBytes];
        StrongOf(m_window + at, length, strong);
        if (std::memcmp(strong, BlockStrong(m_index, block), sizeof strong) == 0)
            Take(block, at);
    }
}

bool NextMissingRun(const CBlockScanner& scanner, const BlockIndexView& index, uint32_t fromBlock,
                    BlockRun* run)
{
    uint32_t first = fromBlock;
    while (first < index.blockCount && scanner.Found(first))
        ++first;
    if (first >= index.blockCount)
        return false;
    uint32_t end = first;
    while (end < index.blockCount && !scanner.Found(end))
        ++end;
    run->firstBlock = first;
    run->endBlock = end;
    run->offset = first << index.shift;
    const uint64_t stop = std::min(static_cast<uint64_t>(end) << index.shift,
                                   static_cast<uint64_t>(index.fileSize));
    run->length = static_cast<uint32_t>(stop - run->offset);
    return true;
}
