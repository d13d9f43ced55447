// The real program under Wine bringing a large installed file up to date by
// its blocks: the index published beside the file, the ranges the server was
// asked for (nginx's ranges.log), and every way the block path may fail, each
// ending with the release installed byte for byte after one full download.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "core/BlockIndex.h"
#include "tests/common/DialogDriver.h"
#include "tests/common/TestBlocks.h"
#include "tests/common/TestBytes.h"
#include "tests/e2e/UpdateScenario.h"
#include "tools/pack/SigningKey.h"

using namespace DialogDriver;

namespace {

constexpr size_t kOldSize = 4u << 20;  // 1024 blocks of 4 KiB

size_t FileLength(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

// The requests for the scenario's files after offset of a request log, as
// "name status range" ("-" without a Range header), in order.
std::vector<std::string> RangesSince(const std::string& log, size_t offset, const std::string& name)
{
    const std::string text = FileBytes(log);
    const std::string prefix = "/" + name + "/files/";
    std::vector<std::string> requests;
    for (size_t at = text.find(prefix, offset); at != std::string::npos;
         at = text.find(prefix, at + 1)) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at + prefix.size(), end - at - prefix.size());
        // "<name> <status> <bytes> "<range>" "<agent>""
        const size_t nameEnd = line.find(' ');
        const size_t statusEnd = line.find(' ', nameEnd + 1);
        const size_t rangeStart = line.find('"') + 1;
        const std::string range = line.substr(rangeStart, line.find('"', rangeStart) - rangeStart);
        requests.push_back(line.substr(0, statusEnd) + " " + range);
    }
    return requests;
}

std::string Edited(std::string bytes, const std::vector<size_t>& blocks)
{
    for (size_t block : blocks)
        for (size_t i = 100; i < 1100; ++i)
            bytes[block * 4096 + i] = static_cast<char>(bytes[block * 4096 + i] ^ 0x3C);
    return bytes;
}

// The index of what to say about a file whose bytes are other: its header
// (size and MD5) says it is file's, its blocks are other's.
std::string LyingIndex(const std::string& file, const std::string& other)
{
    std::string index = BlockIndexOf(other);
    const std::string header = BlockIndexOf(file).substr(0, kBlockIndexHeaderSize);
    return header + index.substr(kBlockIndexHeaderSize);
}

const char kIndexNone[] = "\x01";  // publish no index

struct BlockCase {
    const char* name;
    std::string fresh;      // the release's big.pak
    std::string index;      // published as big.pak.fbi (kIndexNone: none)
    std::vector<std::string> requests;  // for big.pak and its index, as RangesSince gives them
};

class BlockScenario : public UpdateScenario {
public:
    BlockScenario(const std::string& name, const std::string& program,
                  const PackageSite& site = FixtureSite())
        : UpdateScenario(name, program, site)
    {
    }

    // The release: big.pak (its older version installed) and a small file
    // installed already, with the index as the case has it.
    void Prepare(const std::string& old, const BlockCase& c)
    {
        WriteLog("1.00");
        Publish({{"files/big.pak", "data\\big.pak", c.fresh}, {"files/small.dat", "small.dat",
                                                               Pattern(5000, 60)}},
                "1.01");
        const std::string index = m_www + "files\\big.pak.fbi";
        DeleteFileA(index.c_str());
        if (c.index != kIndexNone) {
            EXPECT_TRUE(WriteBytes(index, c.index));
        }
        EXPECT_TRUE(WriteBytes(m_game + "data\\big.pak", old));
        EXPECT_TRUE(WriteBytes(m_game + "small.dat", Pattern(5000, 60)));
    }

    // Updates, and expects the release installed and the download cells full.
    void Update()
    {
        HWND dialog = Start();
        ASSERT_NE(nullptr, dialog);
        ASSERT_TRUE(UpdatedWhenOffered(dialog));
        EXPECT_EQ("100% 100%\n100% 100%\n",
                  Cell(dialog, 0, 2) + " " + Cell(dialog, 0, 3) + "\n" + Cell(dialog, 1, 2) + " " +
                      Cell(dialog, 1, 3) + "\n");
        ExpectInstalled("1.01");
        Exit(dialog);
    }
};

std::string NginxRanges()
{
    return std::string(FERNUP_E2E_DIR) + "\\ranges.log";
}

}  // namespace

TEST(BlockEndToEnd, OnlyTheChangedBlocksAreFetchedAndEveryFailureEndsInAFullDownload)
{
    const std::string old = Pattern(kOldSize, 50);
    const std::string edited = Edited(old, {10, 500, 501, 900});
    const std::string inserted =
        old.substr(0, 65636) + Pattern(1024, 51) + old.substr(65636);
    const std::string appended = old + Pattern(300000, 52);
    // Patterns of other seeds are the same generator's stream further on, which
    // the matcher finds; flipped bits are no part of it.
    std::string fresh = Pattern(kOldSize, 53);
    for (char& c : fresh)
        c = static_cast<char>(c ^ 0xA5);
    const std::vector<std::string> whole = {"big.pak.fbi 404 -", "big.pak 200 -"};
    const std::vector<std::string> refused = {"big.pak.fbi 200 -", "big.pak 200 -"};
    const std::vector<BlockCase> cases = {
        // Blocks 500 and 501 in one request.
        {"scattered edits", edited, BlockIndexOf(edited),
         {"big.pak.fbi 200 -", "big.pak 206 bytes=40960-45055",
          "big.pak 206 bytes=2048000-2056191", "big.pak 206 bytes=3686400-3690495"}},
        {"a KiB inserted near the start", inserted, BlockIndexOf(inserted),
         {"big.pak.fbi 200 -", "big.pak 206 bytes=65536-69631"}},
        {"bytes appended", appended, BlockIndexOf(appended),
         {"big.pak.fbi 200 -", "big.pak 206 bytes=4194304-4494303"}},
        {"entirely new contents", fresh, BlockIndexOf(fresh),
         {"big.pak.fbi 200 -", "big.pak 206 bytes=0-4194303"}},
        {"no index", edited, kIndexNone, whole},
        {"a malformed index", edited, "FBIY" + BlockIndexOf(edited).substr(4), refused},
        {"an index larger than any", edited, std::string(kMaxBlockIndexSize + 1, 'x'), refused},
        {"another file's index", edited, BlockIndexOf(appended), refused},
        // Every block found in the older copy: no range, a copy that fails
        // its check, then the file whole.
        {"an index that lies", edited, LyingIndex(edited, old), refused},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        BlockScenario scenario("blocks", FERNUP_EXE);
        scenario.Prepare(old, c);
        const size_t before = FileLength(NginxRanges());
        scenario.Update();
        EXPECT_EQ(c.requests, RangesSince(NginxRanges(), before, "blocks"));
    }
}

TEST(BlockEndToEnd, AServerThatIgnoresRangeAndAKeyedBuildGivenALieStillInstallTheRelease)
{
    const std::string old = Pattern(kOldSize, 54);
    const std::string edited = Edited(old, {7, 300});

    // Python's http.server answers a Range request with the whole file (200):
    // the block path ends there and the file is fetched whole once more.
    const std::string plain = FERNUP_E2E_PLAIN_DIR;
    const PackageSite site = {plain + "\\www\\",
                              "http://127.0.0.1:" + std::to_string(std::stoi(FileBytes(plain + "\\port"))) +
                                  "/"};
    {
        BlockScenario scenario("blocks-plain", FERNUP_EXE, site);
        scenario.Prepare(old, {"", edited, BlockIndexOf(edited), {}});
        const size_t before = FileLength(plain + "\\server.log");
        scenario.Update();
        const std::string log = FileBytes(plain + "\\server.log").substr(before);
        size_t asked = 0;
        for (size_t at = log.find("GET /blocks-plain/files/big.pak HTTP"); at != std::string::npos;
             at = log.find("GET /blocks-plain/files/big.pak HTTP", at + 1))
            ++asked;
        EXPECT_EQ(2u, asked) << log;
        EXPECT_NE(std::string::npos, log.find("GET /blocks-plain/files/big.pak.fbi HTTP")) << log;
    }

    // With keys: the copy made from a lying index fails its signed check, and
    // the signed file is installed after all.
    BlockScenario scenario("blocks-signed", FERNUP_TEST_KEY_EXE);
    scenario.Prepare(old, {"", edited, LyingIndex(edited, old), {}});
    scenario.Sign(KeyFromFile(FERNUP_TEST_KEY_FILE));
    const size_t before = FileLength(NginxRanges());
    scenario.Update();
    EXPECT_EQ((std::vector<std::string>{"big.pak.fbi 200 -", "big.pak 200 -"}),
              RangesSince(NginxRanges(), before, "blocks-signed"));
}
