// The real program under Wine, updating through a cache as a CDN runs it
// (nginx's proxy_cache and Varnish, cdn_caches fixture): the cache holds
// release 1.01, files for a day and the definition files for a second, when
// 1.02 goes up over it. A player on 1.00 and one on 1.01 both end on 1.02,
// byte for byte: for a package that fernup-pack built and published, because
// a new file has a new address; for one written by hand at fixed addresses,
// because the program fetches a file that fails its check once more under a
// query naming its digest, which the cache has never seen. Each origin's log
// shows what reached it; the figures are printed for docs/hosting.md.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/common/DialogDriver.h"
#include "tests/common/TestBytes.h"
#include "tests/e2e/UpdateScenario.h"
#include "tests/pack/PackTestFiles.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackagePublisher.h"
#include "tools/pack/PackageReader.h"

namespace fs = std::filesystem;

namespace {

const char kTitleAscii[] = "Fern";

// Owned and deleted by GoogleTest.
::testing::Environment* const g_http = ::testing::AddGlobalTestEnvironment(HttpClientEnvironment());

std::string Folder(const std::string& name)
{
    return std::string(FERNUP_CDN_DIR) + "\\" + name;
}

// The site as the players reach it: through the cache named.
PackageSite CacheSite(const std::string& cache)
{
    const int port = std::stoi(FileBytes(Folder(cache) + "\\port"));
    return {Folder("www") + "\\", "http://127.0.0.1:" + std::to_string(port) + "/"};
}

std::string OriginLog(const std::string& cache)
{
    return Folder("origin-" + cache) + "\\access.log";
}

// The paths the origin was asked for since offset, each with its count.
std::map<std::string, int> AskedSince(const std::string& cache, size_t offset,
                                      const std::string& under)
{
    const std::string log = FileBytes(OriginLog(cache));
    std::map<std::string, int> asked;
    const std::string prefix = "\"GET /" + under + "/";
    for (size_t at = log.find(prefix, offset); at != std::string::npos;
         at = log.find(prefix, at + 1)) {
        const size_t start = at + prefix.size();
        ++asked[log.substr(start, log.find(' ', start) - start)];
    }
    return asked;
}

int Total(const std::map<std::string, int>& asked, bool definitionFiles)
{
    int total = 0;
    for (const auto& path : asked) {
        const bool definition = path.first.find('/') == std::string::npos;
        if (definition == definitionFiles)
            total += path.second;
    }
    return total;
}

std::string Listed(const std::map<std::string, int>& asked)
{
    std::string text;
    for (const auto& path : asked)
        text += path.first + " x" + std::to_string(path.second) + "\n";
    return text;
}

// The releases: 1.01 changes a.bin of 1.00 and adds c.bin; 1.02 changes a.bin
// again and adds d.bin. b.bin is the same throughout.
std::vector<PackageFile> Release(const std::string& version)
{
    const unsigned seed = version == "1.01" ? 11u : 12u;
    std::vector<PackageFile> files = {
        {"files/a.bin", "a.bin", Pattern(300000, seed)},
        {"files/b.bin", "data\\b.bin", Pattern(20000, 3)},
        {"files/c.bin", "data\\c.bin", Pattern(5000, 4)},
    };
    if (version == "1.02")
        files.push_back({"files/d.bin", "d.bin", Pattern(7000, 5)});
    return files;
}

void WriteLog(UpdateScenario* player, const std::string& version)
{
    player->m_log = "[GAME_UPDATE]\r\nURL=" + player->m_baseAddress +
                    "\r\n[UPDATE_INFO]\r\nUPDATE_VER=" + version +
                    "\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=" + kTitleAscii + "\r\n";
    ASSERT_TRUE(WriteBytes(player->m_game + "update.log", player->m_log));
}

// The release as fernup-pack builds it, published into the site's folder.
void PublishWithPack(UpdateScenario* scenario, const std::string& version)
{
    // Beside the game folder, new for each run.
    const fs::path files = PathOfUtf8(scenario->m_game).parent_path().parent_path() /
                           PathOfUtf8("fernup-release-" + scenario->m_name + "-" + version + "-" +
                                      std::to_string(GetTickCount()));
    std::error_code code;
    fs::create_directories(files / "data", code);
    for (const PackageFile& file : Release(version))
        ASSERT_TRUE(WriteBytes(Utf8OfPath(files) + "\\" + file.target, file.content));
    BuildOptions build;
    build.files = files;
    build.output = PathOfUtf8(Utf8OfPath(files) + "-package");
    build.title = kTitleAscii;
    build.version = version;
    build.day = "2026/12/07";
    BuildResult built;
    ASSERT_TRUE(BuildPackage(build, &built)) << built.errors.front();
    PublishOptions publish;
    publish.package = build.output;
    publish.site = PathOfUtf8(scenario->m_www);
    PublishResult published;
    ASSERT_TRUE(PublishPackage(publish, &published)) << published.errors.front();
    scenario->m_files = Release(version);
}

// The cache hands out the definition of version: its second has passed.
::testing::AssertionResult CacheServes(const UpdateScenario& scenario, const std::string& version)
{
    std::string last;
    if (DialogDriver::WaitUntil(
            [&] {
                last = FetchBody(scenario.m_baseAddress + "update.qdv", 65536).bytes;
                return last.find("VER=" + version) != std::string::npos;
            },
            kWindowTimeout))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the cache still serves\n" << last;
}

// One player's update through the cache; what reached the origin meanwhile.
std::map<std::string, int> UpdateThrough(UpdateScenario* player, const std::string& cache,
                                         const std::string& version)
{
    const size_t before = FileBytes(OriginLog(cache)).size();
    player->ExpectAnUpdateTo(version);
    return AskedSince(cache, before, player->m_name);
}

struct Layout {
    const char* name;
    bool byPack;
};

// A player on 1.00 brings the cache 1.01; 1.02 goes up; a player on 1.00 and
// the one on 1.01 update to it. Prints what reached the origin.
void PublishOverACachedRelease(const std::string& cache, const Layout& layout)
{
    const std::string name = std::string(layout.name) + "-" + cache;
    const PackageSite site = CacheSite(cache);
    UpdateScenario early(name, FERNUP_EXE, site);
    UpdateScenario late(name, FERNUP_EXE, site);
    // The same package, a game folder of its own (both may have been named
    // in the same tick).
    late.m_game = early.m_game.substr(0, early.m_game.size() - 1) + "-late\\";
    ASSERT_TRUE(CreateDirectoryA(late.m_game.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((late.m_game + "data").c_str(), nullptr));
    const size_t start = FileBytes(OriginLog(cache)).size();
    if (layout.byPack)
        PublishWithPack(&early, "1.01");
    else
        early.Publish(Release("1.01"), "1.01", false, kTitleAscii);
    WriteLog(&early, "1.00");
    WriteLog(&late, "1.00");
    const std::map<std::string, int> first = UpdateThrough(&early, cache, "1.01");
    ASSERT_FALSE(::testing::Test::HasFailure());

    if (layout.byPack)
        PublishWithPack(&early, "1.02");
    else
        early.Publish(Release("1.02"), "1.02", false, kTitleAscii);
    late.m_files = early.m_files;
    ASSERT_TRUE(CacheServes(early, "1.02"));
    const std::map<std::string, int> onOld = UpdateThrough(&late, cache, "1.02");
    const std::map<std::string, int> onPrevious = UpdateThrough(&early, cache, "1.02");
    const std::map<std::string, int> all = AskedSince(cache, start, name);

    if (layout.byPack) {
        for (const auto& path : all) {
            if (path.first.find('/') != std::string::npos) {
                EXPECT_EQ(1, path.second) << path.first << " reached the origin more than once\n"
                                          << Listed(all);
            }
        }
    } else {
        // 1.01's a.bin was still in the cache: the player on 1.00 fetched
        // 1.02's once more by its digest, and the player on 1.01 then found
        // that copy in the cache too.
        EXPECT_EQ(1, all.count("files/a.bin?md5=" + Md5Of(Release("1.02")[0].content)))
            << Listed(all);
    }
    std::printf(
        "%s through %s: origin requests (definition files + files): 1.01 player on "
        "1.00 %d+%d, after 1.02 went up: player on 1.00 %d+%d, player on 1.01 %d+%d; "
        "all %d+%d\n%s",
        layout.name, cache.c_str(), Total(first, true), Total(first, false), Total(onOld, true),
        Total(onOld, false), Total(onPrevious, true), Total(onPrevious, false), Total(all, true),
        Total(all, false), Listed(all).c_str());
}

const Layout kPackLayout = {"pack", true};
const Layout kHandLayout = {"hand", false};

}  // namespace

TEST(CacheEndToEnd, NginxCachePackagesByFernupPack)
{
    PublishOverACachedRelease("nginx", kPackLayout);
}

TEST(CacheEndToEnd, VarnishPackagesByFernupPack)
{
    PublishOverACachedRelease("varnish", kPackLayout);
}

TEST(CacheEndToEnd, NginxCacheHandMadePackagesAtFixedAddresses)
{
    PublishOverACachedRelease("nginx", kHandLayout);
}

TEST(CacheEndToEnd, VarnishHandMadePackagesAtFixedAddresses)
{
    PublishOverACachedRelease("varnish", kHandLayout);
}
