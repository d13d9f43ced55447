// The fernup-pack program itself: exit status, what goes to stdout and
// stderr, and UTF-8 on the terminal.
#include <gtest/gtest.h>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageSigner.h"

namespace fs = std::filesystem;

namespace {

ToolOutcome Pack(const CScratchFolder& scratch, const std::string& arguments)
{
    return RunTool(FERNUP_PACK_EXE, scratch, arguments);
}

std::string Quoted(const fs::path& path)
{
    return "\"" + Utf8OfPath(path) + "\"";
}

}  // namespace

TEST(PackCommand, ExitStatusAndOutputOfEachCommand)
{
    CScratchFolder scratch("command");
    WriteBytes(scratch / "new/data/a.dat", "alpha");
    WriteBytes(
        scratch / "game/update.log",
        "[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=Fern\r\n");
    std::string package = Quoted(scratch / "pkg");

    ToolOutcome help = Pack(scratch, "--help");
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage:")) << help.out;

    ToolOutcome refused = Pack(scratch, "build --files " + Quoted(scratch / "new") + " --out " +
                                            package + " --version 1.01 --day 2026/12/07");
    EXPECT_EQ(2, refused.status);
    EXPECT_EQ("fernup-pack: build needs --title\nTry fernup-pack --help.\n", refused.err);
    EXPECT_FALSE(fs::exists(scratch / "pkg"));

    ToolOutcome wrongVersion =
        Pack(scratch, "build --files " + Quoted(scratch / "new") + " --out " + package +
                          " --title Fern --version 1.1 --day 2026/12/07 --offline");
    EXPECT_EQ(1, wrongVersion.status);
    EXPECT_NE(std::string::npos, wrongVersion.err.find("error: --version \"1.1\""))
        << wrongVersion.err;
    EXPECT_NE(std::string::npos, wrongVersion.err.find("fernup-pack: nothing was written"));
    EXPECT_FALSE(fs::exists(scratch / "pkg"));

    ToolOutcome built =
        Pack(scratch, "build --files=" + Quoted(scratch / "new") + " --out=" + package +
                          " --title=Fern --version=1.01 "
                          "--day=2026/12/07 --offline");
    EXPECT_EQ(0, built.status) << built.err;
    EXPECT_NE(std::string::npos, built.out.find(": 1 files, 5 bytes; update.qdv digest "))
        << built.out;

    ToolOutcome status = Pack(scratch, "status " + Quoted(scratch / "game") + " " + package);
    EXPECT_EQ(0, status.status) << status.err;
    EXPECT_EQ(std::string(u8"タイトル　：Fern\n公開日　　：2026/11/01 -> 2026/12/07\n"
                          u8"バージョン：1.00 -> 1.01\n新しい修正ファイルがあります。\n"),
              status.out)
        << "status speaks UTF-8 on the terminal";

    ToolOutcome sound = Pack(scratch, "verify --offline " + package);
    EXPECT_EQ(0, sound.status) << sound.out;
    EXPECT_EQ("", sound.out);
    EXPECT_EQ("package sound: 1 files, 5 bytes\n", sound.err);

    WriteBytes(scratch / "pkg/MD5.txt", ReadBytes(scratch / "pkg/MD5.txt") + "\r\n");
    ToolOutcome broken = Pack(scratch, "verify --offline " + package);
    EXPECT_EQ(1, broken.status);
    EXPECT_EQ(
        "MD5.txt: 34 bytes (the digest and a line end); the program accepts exactly the 32 "
        "characters of the digest\n",
        broken.out);
    EXPECT_EQ("1 problems\n", broken.err);
    ToolOutcome refusedStatus = Pack(scratch, "status " + Quoted(scratch / "game") + " " + package);
    EXPECT_EQ(1, refusedStatus.status);
    EXPECT_EQ(std::string(u8"定義ファイルが取得できませんでした。\n"), refusedStatus.out);

    EXPECT_EQ(2, Pack(scratch, "verify " + Quoted(scratch / "absent")).status);

    // An online package published into a site, then the site pruned.
    ASSERT_TRUE(BuildRelease(scratch, scratch / "online", "Fern"));
    fs::create_directories(scratch / "site");
    ToolOutcome published =
        Pack(scratch, "publish " + Quoted(scratch / "online") + " " + Quoted(scratch / "site"));
    EXPECT_EQ(0, published.status) << published.err;
    const std::string order = "upload in this order";
    ASSERT_NE(std::string::npos, published.out.find(order)) << published.out;
    EXPECT_EQ("  " + SourceOf(scratch / "online", "data\\a.dat") +
                  "\n  readme.txt\n  MD5.txt\n  update.qdv\n",
              published.out.substr(published.out.find('\n', published.out.find(order)) + 1));
    ToolOutcome pruned = Pack(scratch, "prune " + Quoted(scratch / "site"));
    EXPECT_EQ(0, pruned.status) << pruned.err;
    EXPECT_EQ("", pruned.out);
    EXPECT_EQ(
        "1 definitions read, 1 files listed, 0 files (0 bytes) unlisted; --delete removes them\n",
        pruned.err);
    EXPECT_EQ(1, Pack(scratch, "publish " + package + " " + Quoted(scratch / "site")).status)
        << "an offline package does not verify as an online one";

    ToolOutcome digest = Pack(scratch, "digest " + Quoted(scratch / "new/data/a.dat"));
    EXPECT_EQ(0, digest.status);
    EXPECT_EQ(Md5Of("alpha") + "  " + Utf8OfPath(scratch / "new/data/a.dat") + "\n", digest.out);

    // A key among the release's files: named, nothing written, signed or not.
    std::string error;
    fs::create_directories(scratch / "keys");
    ASSERT_TRUE(WriteNewKeyFiles(scratch / "keys/publisher", &error)) << error;
    WriteBytes(scratch / "new/data/old.dat", ReadBytes(scratch / "keys/publisher.key"));
    const std::string build = "build --files " + Quoted(scratch / "new") + " --out " +
                              Quoted(scratch / "pkg2") + " --title Fern --version 1.01 --day 1";
    for (const std::string& sign :
         {std::string(), " --sign " + Quoted(scratch / "keys/publisher.key")}) {
        ToolOutcome keyed = Pack(scratch, build + sign);
        EXPECT_EQ(1, keyed.status) << sign;
        EXPECT_NE(std::string::npos, keyed.err.find("new/data/old.dat is a private key"))
            << keyed.err;
        EXPECT_FALSE(fs::exists(scratch / "pkg2"));
    }
    ToolOutcome keygen = Pack(scratch, "keygen " + Quoted(scratch / "new/mygame"));
    EXPECT_EQ(1, keygen.status);
    EXPECT_NE(std::string::npos, keygen.err.find("new holds ")) << keygen.err;
    EXPECT_EQ("<missing>", ReadBytes(scratch / "new/mygame.key"));
}
