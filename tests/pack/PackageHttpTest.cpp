// fernup-pack verify and status against a package served by nginx on
// loopback (the pack_nginx fixture): libcurl natively, WinINet under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/HttpClient.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageVerifier.h"
#include "tools/pack/ShiftJis.h"
#include "tools/pack/StatusReport.h"

namespace fs = std::filesystem;

namespace {

// Owned and deleted by GoogleTest.
::testing::Environment* const g_http = ::testing::AddGlobalTestEnvironment(HttpClientEnvironment());

fs::path ServedFolder()
{
    return PathOfUtf8(FERNUP_PACK_HTTP_DIR);
}

std::string BaseAddress(const std::string& name)
{
    return ServedAddress("http", ServedFolder(), name);
}

// A package published under the server's root as name; files two-byte named.
void Publish(const CScratchFolder& scratch, const std::string& name)
{
    WriteBytes(scratch / "new/data/map01.dat", Pattern(300000, 1));
    WriteBytes(scratch / u8"new/data/表示/マップ.dat", Pattern(1000, 2));
    WriteBytes(scratch / "new/a b.txt", "blank in the name");
    ASSERT_TRUE(BuildRelease(scratch, ServedFolder() / "www" / name, u8"フェルンの冒険"));
}

StatusResult Status(const CScratchFolder& scratch, const std::string& package)
{
    StatusOptions options;
    options.game = Utf8OfPath(scratch / "game");
    options.package = package;
    StatusResult result;
    std::string error;
    EXPECT_TRUE(TellStatus(options, &result, &error)) << error;
    return result;
}

void WriteLog(const CScratchFolder& scratch, const std::string& address)
{
    WriteBytes(
        scratch / "game/update.log",
        "[GAME_UPDATE]\r\nURL=" + address +
            "\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=" +
            Sjis(u8"フェルンの冒険") + "\r\n");
}

const char kFetching[] = "－－－定義ファイル取得中－－－\n";
const char kNotFetched[] = "定義ファイルが取得できませんでした。\n";

}  // namespace

TEST(PackHttp, VerifiesAServedPackageAndReportsWhatTheServerLacks)
{
    CScratchFolder scratch("http-verify");
    Publish(scratch, "verify");
    std::string base = BaseAddress("verify");
    VerifyResult result = VerifyAt(base);
    EXPECT_EQ("", Joined(result.problems));
    EXPECT_EQ(3u, result.files);

    fs::path served = ServedFolder() / "www" / "verify";
    const std::string target = Sjis(u8"data\\表示\\マップ.dat");
    const std::string source = SourceOf(served, target);
    fs::remove(CopyOf(served, target));
    WriteBytes(served / "MD5.txt", std::string(32, 'f'));
    fs::remove(served / "readme.txt");
    result = VerifyAt(base);
    ASSERT_EQ(3u, result.problems.size()) << Joined(result.problems);
    EXPECT_EQ(0u, result.problems[0].find("MD5.txt: holds ffff")) << result.problems[0];
    EXPECT_EQ(
        "readme.txt: missing (HTTP status 404); the program would take the server's error "
        "page for it",
        result.problems[1]);
    EXPECT_EQ(base + source + " answered with HTTP status 404",
              result.problems[2].substr(result.problems[2].find("http://")));
}

TEST(PackHttp, StatusFetchesAsTheProgramDoes)
{
    CScratchFolder scratch("http-status");
    Publish(scratch, "status");
    std::string base = BaseAddress("status");
    WriteLog(scratch, base);
    const std::string newer =
        "タイトル　：フェルンの冒険\n公開日　　：2026/11/01 -> 2026/12/07\n"
        "バージョン：1.00 -> 1.01\n新しい修正ファイルがあります。\n";
    EXPECT_EQ(Readable(newer), Readable(Joined(Status(scratch, "").lines))) << "update.log's URL";
    EXPECT_EQ(Readable(newer), Readable(Joined(Status(scratch, base).lines)));

    // The program takes an error page for the readme, so a missing one
    // changes nothing it says; verify is the one that tells.
    fs::remove(ServedFolder() / "www" / "status" / "readme.txt");
    EXPECT_EQ(Readable(newer), Readable(Joined(Status(scratch, base).lines)));

    EXPECT_EQ(Readable(std::string(kFetching) + kNotFetched),
              Readable(Joined(Status(scratch, BaseAddress("absent")).lines)))
        << "an error page is no definition whose digest matches";
    EXPECT_EQ(Readable(std::string(kFetching) + kNotFetched),
              Readable(Joined(Status(scratch, "http://127.0.0.1:9/").lines)))
        << "nothing listens on the discard port";
    WriteLog(scratch, "");
    EXPECT_EQ(Readable(std::string(kFetching) + kNotFetched),
              Readable(Joined(Status(scratch, "").lines)))
        << "without a URL the program fetches \"update.qdv\" alone";
}

TEST(PackHttp, StatusFetchesASetOfTwoReleasesOnceMoreAfterItsWait)
{
    CScratchFolder scratch("http-mixed");
    Publish(scratch, "mixed");
    const std::string base = BaseAddress("mixed");
    WriteLog(scratch, base);
    const fs::path served = ServedFolder() / "www" / "mixed";
    const std::string digest = ReadBytes(served / "MD5.txt");
    const std::string newer =
        "タイトル　：フェルンの冒険\n公開日　　：2026/11/01 -> 2026/12/07\n"
        "バージョン：1.00 -> 1.01\n新しい修正ファイルがあります。\n";

    // The MD5.txt of the release before, as a cache may still hand it out,
    // until the first set has been fetched (its update.sig asked for, by the
    // server's log); then the one of this release.
    WriteBytes(served / "MD5.txt", Md5Of("the release before"));
    const fs::path log = ServedFolder() / "access.log";
    const size_t logStart = ReadBytes(log).size();
    std::thread cache([&] {
        for (int i = 0; i < 2000; ++i) {
            if (ReadBytes(log).find("GET /mixed/update.sig", logStart) != std::string::npos) {
                WriteBytes(served / "MD5.txt", digest);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    StatusResult result = Status(scratch, base);
    cache.join();
    EXPECT_TRUE(result.fetchedAgain);
    EXPECT_EQ(Readable(newer), Readable(Joined(result.lines)));
    EXPECT_TRUE(result.offerUpdate);

    // Of two releases at the second fetch as well: refused as before.
    WriteBytes(served / "MD5.txt", Md5Of("the release before"));
    result = Status(scratch, base);
    EXPECT_TRUE(result.fetchedAgain);
    EXPECT_EQ(Readable(std::string(kFetching) + kNotFetched), Readable(Joined(result.lines)));

    // Of one release: fetched once.
    WriteBytes(served / "MD5.txt", digest);
    result = Status(scratch, base);
    EXPECT_FALSE(result.fetchedAgain);
    EXPECT_EQ(Readable(newer), Readable(Joined(result.lines)));
}

TEST(PackHttp, BlockIndexesAreCheckedAndCountedAsTheProgramUsesThem)
{
    CScratchFolder scratch("http-blocks");
    const std::string big = Pattern(2 << 20, 30);
    WriteBytes(scratch / "new/data/big.pak", big);
    WriteBytes(scratch / "new/data/small.dat", Pattern(5000, 31));
    const fs::path served = ServedFolder() / "www" / "blocks";
    ASSERT_TRUE(BuildRelease(scratch, served, u8"フェルンの冒険"));
    const std::string base = BaseAddress("blocks");
    fs::path index = CopyOf(served, "data\\big.pak");
    index += ".fbi";
    const std::string published = ReadBytes(index);
    const uint64_t indexSize = published.size();
    ASSERT_EQ(28u + 5 * 512, indexSize);

    // status: the older big.pak edited in three blocks of 4 KiB, apart.
    WriteLog(scratch, base);
    WriteBytes(scratch / "game/data/small.dat", Pattern(5000, 31));
    std::string edited = big;
    for (size_t at : {100000u, 700000u, 1500000u})
        edited[at] = static_cast<char>(edited[at] ^ 1);
    struct Installed {
        const char* name;
        std::string bytes;  // of game/data/big.pak; "" leaves it out
        uint64_t fetched;
        int32_t byBlocks;
        uint32_t requests;
    };
    const std::vector<Installed> installed = {
        {"three blocks edited", edited, indexSize + 3 * 4096, 1, 4},
        // The first block stands alone before the inserted bytes.
        {"a KiB inserted", big.substr(0, 4096) + Pattern(1024, 32) + big.substr(4096),
         indexSize + 4096, 1, 2},
        {"the listed file", big, 0, 0, 0},
        {"none", "", big.size(), 0, 0},
        {"smaller than its index", Pattern(1000, 33), big.size(), 0, 0},
    };
    for (const Installed& row : installed) {
        SCOPED_TRACE(row.name);
        fs::remove(scratch / "game/data/big.pak");
        if (!row.bytes.empty())
            WriteBytes(scratch / "game/data/big.pak", row.bytes);
        const StatusResult result = Status(scratch, base);
        EXPECT_EQ(row.fetched, result.bytesToFetch);
        EXPECT_EQ(row.byBlocks, result.filesByBlocks);
        EXPECT_EQ(row.requests, result.blockRequests);
    }
    // Offline, nothing is fetched: the whole file is copied.
    WriteBytes(scratch / "game/data/big.pak", edited);
    ASSERT_TRUE(BuildRelease(scratch, scratch / "offline", u8"フェルンの冒険", true));
    EXPECT_EQ(0, Status(scratch, Utf8OfPath(scratch / "offline")).filesByBlocks);

    // verify: each index against its file, as served.
    struct Spoilt {
        const char* name;
        std::string index;    // "" removes it
        const char* problem;  // "" for none
        size_t checked;       // indexes compared with their file's blocks
    };
    std::string flipped = published;
    flipped[28 + 5 * 100 + 3] = static_cast<char>(flipped[28 + 5 * 100 + 3] ^ 1);
    std::string otherFile = published;
    otherFile[12] = static_cast<char>(otherFile[12] ^ 1);
    const std::vector<Spoilt> spoilt = {
        {"as built", published, "", 1},
        {"a strong hash changed", flipped, "its block index does not hold the blocks of", 1},
        {"another file's MD5", otherFile, "is the index of another file", 0},
        {"cut", published.substr(0, published.size() - 1), "is not a block index the program", 0},
        {"missing", "", "", 0},
    };
    for (const Spoilt& row : spoilt) {
        SCOPED_TRACE(row.name);
        fs::remove(index);
        if (!row.index.empty())
            WriteBytes(index, row.index);
        const VerifyResult result = VerifyAt(base);
        if (row.problem[0] == '\0') {
            EXPECT_EQ("", Joined(result.problems));
        } else {
            ASSERT_EQ(1u, result.problems.size()) << Joined(result.problems);
            EXPECT_NE(std::string::npos, result.problems[0].find(row.problem)) << result.problems[0];
        }
        EXPECT_EQ(row.checked, result.indexes);
        EXPECT_EQ(row.index.empty() ? 1u : 0u, result.notes.size()) << Joined(result.notes);
    }
}
