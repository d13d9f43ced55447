// fernup-pack publish and prune on a site folder: releases published one over
// the other add files and never replace one, the definition files go last,
// and prune removes only what no package lists any more.
#include <gtest/gtest.h>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackagePublisher.h"
#include "tools/pack/PackageSigner.h"
#include "tools/pack/SitePruner.h"

namespace fs = std::filesystem;

namespace {

// Builds the files under scratch/<release> as version into scratch/pkg-<release>.
fs::path Build(const CScratchFolder& scratch, const std::string& release,
               const std::string& version)
{
    BuildOptions options;
    options.files = scratch / release;
    options.output = scratch / ("pkg-" + release);
    options.title = "Fern";
    options.version = version;
    options.day = "2026/12/07";
    BuildResult result;
    EXPECT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
    return options.output;
}

PublishResult Publish(const fs::path& package, const fs::path& site)
{
    PublishOptions options;
    options.package = package;
    options.site = site;
    PublishResult result;
    EXPECT_TRUE(PublishPackage(options, &result)) << Joined(result.errors);
    return result;
}

PruneResult Prune(const fs::path& site, bool remove)
{
    PruneOptions options;
    options.site = site;
    options.remove = remove;
    PruneResult result;
    EXPECT_TRUE(PruneSite(options, &result)) << Joined(result.errors);
    return result;
}

}  // namespace

TEST(PackPublish, ReleasesAddFilesNeverReplaceOneAndTheDefinitionGoesLast)
{
    CScratchFolder scratch("publish");
    WriteBytes(scratch / "r1/a.bin", "a of 1.01");
    WriteBytes(scratch / "r1/data/b.bin", "b, the same in both");
    WriteBytes(scratch / "r1/data/c.bin", "c of 1.01");
    WriteBytes(scratch / "r2/a.bin", "a of 1.02");
    WriteBytes(scratch / "r2/data/b.bin", "b, the same in both");
    WriteBytes(scratch / "r2/data/c.bin", "a of 1.01");  // bytes 1.01 published as a.bin
    const fs::path site = scratch / "site";
    fs::create_directories(site);
    const fs::path first = Build(scratch, "r1", "1.01");
    const fs::path second = Build(scratch, "r2", "1.02");
    const std::string oldA = SourceOf(first, "a.bin");

    PublishResult result = Publish(first, site);
    EXPECT_EQ(3u, result.added.size());
    EXPECT_EQ("readme.txt\nMD5.txt\nupdate.qdv\n", Joined(result.definitionFiles));
    EXPECT_EQ("", Joined(Verify(site, false).problems));

    result = Publish(second, site);
    // 1.02's a.bin and c.bin are new addresses; b.bin is where 1.01 put it.
    EXPECT_EQ(2u, result.added.size()) << Joined(result.added);
    EXPECT_EQ(1u, result.kept.size()) << Joined(result.kept);
    std::vector<std::string> order = UploadOrder(result);
    ASSERT_EQ(5u, order.size());
    EXPECT_EQ("readme.txt\nMD5.txt\nupdate.qdv\n",
              Joined(std::vector<std::string>(order.begin() + 2, order.end())));
    EXPECT_EQ(ReadBytes(second / "update.qdv"), ReadBytes(site / "update.qdv"));
    EXPECT_EQ("", Joined(Verify(site, false).problems));
    EXPECT_EQ("a of 1.01", ReadBytes(CopyOf(first, "a.bin")));
    EXPECT_TRUE(fs::exists(site / oldA)) << "1.01's a.bin is still there for its players";
    for (const std::string& name : Listing(site, true))
        EXPECT_EQ(std::string::npos, name.find(".publishing-")) << name;

    // An address that holds other bytes refuses the whole publish.
    WriteBytes(site / SourceOf(second, "a.bin"), "damaged");
    const std::vector<std::string> before = Listing(site, true);
    const std::string definitionBefore = ReadBytes(site / "update.qdv");
    PublishOptions options;
    options.package = second;
    options.site = site;
    EXPECT_FALSE(PublishPackage(options, &result));
    EXPECT_NE(std::string::npos, Joined(result.errors).find("holds other bytes"))
        << Joined(result.errors);
    EXPECT_EQ(Joined(before), Joined(Listing(site, true)));
    EXPECT_EQ(definitionBefore, ReadBytes(site / "update.qdv"));
    WriteBytes(site / SourceOf(second, "a.bin"), "a of 1.02");

    // Unsigned over signed: the signature of the release before goes.
    EXPECT_EQ(3u, SignWithNewKey(scratch, first));
    EXPECT_EQ("readme.txt\nupdate.sig\nMD5.txt\nupdate.qdv\n",
              Joined(Publish(first, site).definitionFiles));
    EXPECT_EQ(ReadBytes(first / "update.sig"), ReadBytes(site / "update.sig"));
    EXPECT_TRUE(Publish(second, site).removedSignature);
    EXPECT_FALSE(fs::exists(site / "update.sig"));
}

TEST(PackPrune, RemovesOnlyWhatNoPackageListsAndOnlyWhenTold)
{
    CScratchFolder scratch("prune");
    WriteBytes(scratch / "r1/a.bin", "a of 1.01");
    WriteBytes(scratch / "r1/b.bin", "b of both");
    WriteBytes(scratch / "r2/a.bin", "a of 1.02");
    WriteBytes(scratch / "r2/b.bin", "b of both");
    const fs::path site = scratch / "site";
    fs::create_directories(site / "game");
    const fs::path first = Build(scratch, "r1", "1.01");
    const fs::path second = Build(scratch, "r2", "1.02");
    Publish(first, site / "game");
    // Another game's package under the same site, and what is not build's.
    WriteBytes(scratch / "other/x.bin", "another game's");
    Publish(Build(scratch, "other", "1.01"), site);
    WriteBytes(site / "installer.exe", "not a package's");
    WriteBytes(site / "game/files/by-hand.bin", "a hand-made package's");
    Publish(second, site / "game");
    // A block index beside a listed file, and one beside the file that goes.
    const fs::path listedCopy = CopyOf(site / "game", "b.bin");
    const fs::path goneCopy = site / "game" / SourceOf(first, "a.bin");
    WriteBytes(listedCopy.string() + ".blocks", "index of b");
    WriteBytes(goneCopy.string() + ".blocks", "index of the old a");

    PruneResult dry = Prune(site, false);
    EXPECT_EQ(2u, dry.definitions);
    const std::string gone = "game/" + SourceOf(first, "a.bin");
    EXPECT_EQ(gone + "\n" + gone + ".blocks\n", Joined(dry.unlisted));
    EXPECT_EQ(9u + 18u, dry.unlistedBytes);
    EXPECT_EQ(4u, dry.kept) << "x.bin, b.bin, its index and 1.02's a.bin";
    EXPECT_TRUE(fs::exists(goneCopy)) << "a dry run removes nothing";

    PruneResult removed = Prune(site, true);
    EXPECT_EQ(Joined(dry.unlisted), Joined(removed.unlisted));
    EXPECT_FALSE(fs::exists(goneCopy));
    EXPECT_FALSE(fs::exists(goneCopy.parent_path())) << "its digest's folder went with it";
    EXPECT_TRUE(fs::exists(listedCopy.string() + ".blocks"));
    EXPECT_EQ("not a package's", ReadBytes(site / "installer.exe"));
    EXPECT_EQ("a hand-made package's", ReadBytes(site / "game/files/by-hand.bin"));
    EXPECT_EQ("", Joined(Verify(site / "game", false).problems));
    EXPECT_EQ("", Joined(Verify(site, false).problems));
    EXPECT_EQ("", Joined(Prune(site, false).unlisted));

    // A folder with no package would lose every file: refused.
    PruneOptions options;
    options.site = site / "game/files";
    options.remove = true;
    PruneResult refused;
    EXPECT_FALSE(PruneSite(options, &refused));
    EXPECT_NE(std::string::npos, Joined(refused.errors).find("no update.qdv"));
    EXPECT_TRUE(fs::exists(listedCopy));
}
