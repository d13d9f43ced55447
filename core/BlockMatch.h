#pragma once

#include <cstdint>

#include "core/BlockIndex.h"
#include "support/NoCopy.h"

// Finds the blocks of an indexed file in another file (the installed copy of
// an older version), wherever they lie in it: the other file's bytes are fed
// in order, its rolling sums are taken at every offset, and a place where
// they agree with the index is confirmed with the strong hashes. A block
// counts as found only together with the block after it (two in a row), or
// right after a found block: that doubles the bits a false find must beat,
// at the cost of an unchanged block that lies alone between two changed ones.
// The last block, when it is short, is looked for right after the block
// before it; a file of fewer than two whole blocks only where it was.
// The caller writes each found block where it belongs; what is not found is
// fetched (NextMissingRun).
//
// Memory: the index's own bytes (borrowed), about 40 bytes per block for the
// tables and a window of a few blocks. Work: the rolling sums at every offset,
// one strong hash per block found, and a bounded number of strong hashes that
// find nothing: an index that lies costs a fetch, not the scan's time.

// Takes each block as it is found. Each block is handed over once, its bytes
// valid during the call only.
class CBlockSink {
public:
    // False stops the scan (the caller could not keep the block).
    virtual bool Found(uint32_t block, const unsigned char* bytes, uint32_t length) = 0;

protected:
    ~CBlockSink() = default;
};

class CBlockScanner : NoCopy {
public:
    CBlockScanner();
    ~CBlockScanner();

    // Against index (borrowed until the scanner is done with); false without
    // memory, when nothing can be found.
    bool Begin(const BlockIndexView& index, CBlockSink* sink);
    // The other file's next bytes; false once the scan has stopped.
    bool Feed(const unsigned char* data, uint32_t length);
    // After the last bytes; false when the scan was stopped by the sink.
    bool Finish();

    bool Found(uint32_t block) const;
    uint32_t FoundBlocks() const { return m_foundBlocks; }
    uint64_t FoundBytes() const { return m_foundBytes; }
    // The scan ran out of strong hashes that found nothing and looked no
    // further (what was found stands).
    bool GaveUp() const { return m_gaveUp; }

private:
    struct PairClass;
    struct KeySlot;

    bool BuildTables();
    void Process(bool atEnd);
    bool Evaluate();
    void FillWeaks();
    uint32_t KeyAt() const;
    bool TakeClass(PairClass& pair, uint32_t at);
    bool Take(uint32_t block, uint32_t at);
    void CheckTail(bool atEnd);
    void CheckInPlace();
    const unsigned char* StrongAt(uint32_t at);
    void Compact();

    BlockIndexView m_index;
    CBlockSink* m_sink;  // borrowed
    uint32_t m_fullBlocks;
    bool m_inPlace;

    uint32_t* m_order;     // owned; the pairs (by first block), by key and hashes
    PairClass* m_classes;  // owned
    uint32_t m_classCount;
    KeySlot* m_slots;  // owned; m_slotMask + 1 of them
    uint32_t m_slotMask;
    uint32_t* m_filter;  // owned; bits of the pair keys present
    uint32_t* m_found;  // owned; a bit per block
    uint32_t m_foundBlocks;
    uint64_t m_foundBytes;

    unsigned char* m_window;  // owned; the other file's bytes from m_windowStart on
    uint32_t m_windowCapacity;
    uint32_t m_windowLength;
    uint64_t m_windowStart;  // offset in the other file of m_window[0]
    uint32_t m_at;           // the offset looked at, in the window
    bool m_haveSums;
    // With m_haveSums: the weak sums of the block-long windows at m_at and
    // the block's length after it, by offset in the other file modulo the
    // block size (owned), and the sums of the window a block after m_at.
    uint16_t* m_weaks;
    RollingSums m_lead;

    // The strong hash of the block-long window at m_strongAt (window offset),
    // kept from the pair that found it, which the next pair begins with.
    uint32_t m_strongAt;
    unsigned char m_strong[kBlockStrongBytes];
    bool m_haveStrong;

    // The block looked for first at m_at + blockSize: the one after the last
    // found at m_at, while a run of found blocks goes on.
    uint32_t m_next;

    uint64_t m_tailAt;  // where the short last block is looked for, once
    bool m_tailPending;

    uint64_t m_fed;
    uint64_t m_wasted;  // strong hashes that found nothing
    bool m_gaveUp;
    bool m_stopped;
};

// A run of blocks that were not found, and the bytes they cover.
struct BlockRun {
    uint32_t firstBlock;
    uint32_t endBlock;  // one past the last
    uint32_t offset;
    uint32_t length;
};

// The next run of blocks not found from fromBlock on; false when none is left.
bool NextMissingRun(const CBlockScanner& scanner, const BlockIndexView& index, uint32_t fromBlock,
                    BlockRun* run);
