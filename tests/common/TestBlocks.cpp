#include "tests/common/TestBlocks.h"

#include "core/BlockIndex.h"
#include "tests/common/TestBytes.h"

std::string BlockIndexOf(const std::string& bytes, uint32_t shift)
{
    const auto size = static_cast<uint32_t>(bytes.size());
    if (shift == 0)
        shift = BlockShiftFor(size);
    CBlockIndexWriter writer;
    std::string index(BlockIndexSizeOf(size, shift), '\0');
    unsigned char md5[16];
    if (!writer.Begin(size, shift) || !DigestTextBytes(Md5Of(bytes).c_str(), md5))
        return std::string();
    writer.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), size);
    if (!writer.Finish(md5, reinterpret_cast<unsigned char*>(&index[0])))
        return std::string();
    return index;
}
