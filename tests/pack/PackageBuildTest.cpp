// fernup-pack build and verify on disk: round trips with two-byte names, the
// offline layout, the previous release, and every refusal of build, which
// must leave nothing behind.
#include <gtest/gtest.h>

#include "tests/common/TestBlocks.h"
#include "tests/pack/PackTestFiles.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageVerifier.h"
#include "tools/pack/ShiftJis.h"
#include "tools/pack/SigningKey.h"

namespace fs = std::filesystem;

namespace {

const char kTitle[] = u8"フェルンの冒険";

struct ReleaseFile {
    std::string name;  // UTF-8, "/" between folders
    std::string content;
};

std::vector<ReleaseFile> SampleRelease()
{
    return {
        {"data/map01.dat", Pattern(70000, 1)},
        {u8"data/表示/マップ.dat", Pattern(3000, 2)},  // 表 has the trail byte 0x5C
        {"empty.txt", ""},
        {u8"ソフト.txt", "soft"},
    };
}

void WriteRelease(const CScratchFolder& scratch, const char* folder,
                  const std::vector<ReleaseFile>& files)
{
    fs::create_directories(scratch / folder);
    for (const ReleaseFile& file : files)
        WriteBytes(scratch / (std::string(folder) + "/" + file.name), file.content);
}

BuildOptions Options(const CScratchFolder& scratch)
{
    BuildOptions options;
    options.files = scratch / "new";
    options.output = scratch / "pkg";
    options.title = kTitle;
    options.version = "1.01";
    options.day = "2026/12/07";
    return options;
}

std::string Line(int number, const std::string& source, const std::string& target,
                 const std::string& content)
{
    char key[8];
    std::snprintf(key, sizeof key, "FILE%03d", number);
    return std::string(key) + "=" + source + "," + target + "," + std::to_string(content.size()) +
           "," + Md5Of(content) + "\r\n";
}

std::string Head(const char* version)
{
    return "[UPDATE_VER]\r\nNAME=" + Sjis(kTitle) + "\r\nVER=" + version +
           "\r\nDAY=2026/12/07\r\n[UPDATE_FILE]\r\n";
}

}  // namespace

TEST(PackBuild, OnlinePackageHoldsTheDefinitionAndEveryFileUnderItsSourcePath)
{
    CScratchFolder scratch("online");
    std::vector<ReleaseFile> files = SampleRelease();
    WriteRelease(scratch, "new", files);
    WriteBytes(scratch / "readme-src.txt", Sjis(u8"説明です。\r\n"));
    BuildOptions options = Options(scratch);
    options.readme = scratch / "readme-src.txt";
    options.output = scratch / "pkg/";  // as a shell completes it

    BuildResult result;
    ASSERT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
    EXPECT_EQ(4u, result.listed);
    EXPECT_EQ(73004u, result.bytes);

    // Each file at the address its bytes give: the first 16 hexadecimal
    // digits of their SHA-256, then the file's last name.
    fs::path package = scratch / "pkg";
    const std::string map = AddressOf(files[0].content, "map01.dat");
    const std::string kanji = AddressOf(files[1].content, u8"マップ.dat");
    const std::string empty = AddressOf("", "empty.txt");
    const std::string soft = AddressOf("soft", u8"ソフト.txt");
    EXPECT_EQ("files/e3b0c44298fc1c14/empty.txt", empty) << "SHA-256 of nothing: e3b0c442...";
    std::vector<std::string> expectedListing = {"MD5.txt", "files", "readme.txt", "update.qdv"};
    for (const std::string& address : {map, kanji, empty, soft}) {
        std::string decoded;
        ASSERT_TRUE(DecodeAddressPath(address, &decoded));
        expectedListing.push_back(decoded.substr(0, decoded.rfind('/')));
        expectedListing.push_back(decoded);
    }
    std::sort(expectedListing.begin(), expectedListing.end());
    EXPECT_EQ(Joined(expectedListing), Joined(Listing(package, true)));

    // Source paths in ASCII (UTF-8 escaped), target paths in Shift-JIS.
    std::string definition = Head("1.01") + Line(1, map, "data\\map01.dat", files[0].content) +
                             Line(2, kanji, Sjis(u8"data\\表示\\マップ.dat"), files[1].content) +
                             Line(3, empty, "empty.txt", "") +
                             Line(4, soft, Sjis(u8"ソフト.txt"), "soft");
    EXPECT_EQ("files/" + kanji.substr(6, 16) + "/%E3%83%9E%E3%83%83%E3%83%97.dat", kanji);
    EXPECT_EQ(definition, ReadBytes(package / "update.qdv"));
    EXPECT_EQ(Md5Of(definition), ReadBytes(package / "MD5.txt"));
    EXPECT_EQ(Md5Of(definition), result.digest);
    EXPECT_EQ(Sjis(u8"説明です。\r\n"), ReadBytes(package / "readme.txt"));
    const std::string addresses[] = {map, kanji, empty, soft};
    for (size_t i = 0; i < files.size(); ++i) {
        fs::path copy;
        ASSERT_TRUE(ServedFilePath(package, addresses[i], &copy));
        EXPECT_TRUE(ReadBytes(copy) == files[i].content) << files[i].name;
    }

    VerifyResult verified = Verify(package, false);
    EXPECT_EQ("", Joined(verified.problems));
    EXPECT_EQ(4u, verified.files);
    EXPECT_EQ(73004u, verified.bytes);
}

TEST(PackBuild, OfflinePackagePutsEachFileBesideTheDefinitionByItsLastName)
{
    CScratchFolder scratch("offline");
    std::vector<ReleaseFile> files = SampleRelease();
    WriteRelease(scratch, "new", files);
    BuildOptions options = Options(scratch);
    options.offline = true;

    BuildResult result;
    ASSERT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
    fs::path package = scratch / "pkg";
    std::vector<std::string> expectedListing = {"MD5.txt",     "empty.txt",  "map01.dat",
                                                "readme.txt",  "update.qdv", u8"ソフト.txt",
                                                u8"マップ.dat"};
    std::sort(expectedListing.begin(), expectedListing.end());
    EXPECT_EQ(Joined(expectedListing), Joined(Listing(package, true)));
    EXPECT_EQ("", ReadBytes(package / "readme.txt"));
    EXPECT_TRUE(ReadBytes(scratch / u8"pkg/マップ.dat") == files[1].content);
    // Offline the source path is never fetched, so it stays readable in the
    // program's file list.
    std::string definition = ReadBytes(package / "update.qdv");
    EXPECT_NE(
        std::string::npos,
        definition.find("FILE002=" + Sjis(u8"files/data/表示/マップ.dat,data\\表示\\マップ.dat,")))
        << Readable(definition);

    EXPECT_EQ("", Joined(Verify(package, true).problems));
    VerifyResult asOnline = Verify(package, false);
    EXPECT_EQ(4u, asOnline.problems.size()) << Joined(asOnline.problems);
}

TEST(PackBuild, PreviousReleaseLeavesOutUnchangedFilesAndGuardsFolders)
{
    CScratchFolder scratch("previous");
    std::vector<ReleaseFile> files = SampleRelease();
    WriteRelease(scratch, "new", files);
    WriteRelease(scratch, "old",
                 {{"data/map01.dat", files[0].content},
                  {u8"data/表示/マップ.dat", "older"},
                  {u8"ソフト.txt", "sofT"},  // same size, other bytes
                  {"gone.txt", "x"}});
    BuildOptions options = Options(scratch);
    options.previous = scratch / "old";

    BuildResult result;
    ASSERT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
    EXPECT_EQ(3u, result.listed);
    EXPECT_EQ(1u, result.unchanged);
    EXPECT_EQ(1u, result.notes.size()) << Joined(result.notes);
    std::string definition = ReadBytes(scratch / "pkg/update.qdv");
    EXPECT_EQ(std::string::npos, definition.find("map01")) << Readable(definition);
    EXPECT_NE(std::string::npos, definition.find("FILE003=" + AddressOf("soft", u8"ソフト.txt")))
        << Readable(definition);
    EXPECT_EQ("", Joined(Verify(scratch / "pkg", false).problems));

    // The program does not create folders: a new file in a folder that the
    // players' game lacks is refused; the folder's letter case is Windows's.
    WriteBytes(scratch / "new/DATA/extra.dat", "e");
    WriteBytes(scratch / "new/newdir/x.dat", "x");
    options.output = scratch / "pkg2";
    EXPECT_FALSE(BuildPackage(options, &result));
    EXPECT_EQ(
        "newdir/x.dat: the folder newdir is not in the previous release, and the program "
        "does not create folders\n",
        Joined(result.errors));
}

#ifndef _WIN32
// Sparse files, so that sizes past the 32-bit digest are cheap to make here.
TEST(PackBuild, FilesOf2GiBAndMoreAreComparedByContentAndNeverListed)
{
    CScratchFolder scratch("large");
    const uintmax_t large = uintmax_t(1) << 31;
    WriteBytes(scratch / "new/small.dat", "s");
    WriteBytes(scratch / "new/big.pak", "");
    fs::resize_file(scratch / "new/big.pak", large);
    WriteBytes(scratch / "old/big.pak", "");
    fs::resize_file(scratch / "old/big.pak", large);
    BuildOptions options = Options(scratch);
    options.previous = scratch / "old";
    BuildResult result;
    ASSERT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
    EXPECT_EQ(1u, result.listed);
    EXPECT_EQ(1u, result.unchanged);

    WriteBytes(scratch / "old/big.pak", "x");
    fs::resize_file(scratch / "old/big.pak", large);
    options.output = scratch / "pkg2";
    EXPECT_FALSE(BuildPackage(options, &result));
    EXPECT_EQ("big.pak: 2147483648 bytes; the program handles files below 2 GiB\n",
              Joined(result.errors));
}
#endif

TEST(PackBuild, SameLastNameIsFineWhenTheBytesAreTheSame)
{
    CScratchFolder scratch("same-name");
    WriteRelease(scratch, "new", {{"a/same.dat", "one"}, {"b/SAME.dat", "one"}});
    BuildOptions options = Options(scratch);
    options.offline = true;
    BuildResult result;
    ASSERT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
    EXPECT_EQ(2u, result.listed);
    EXPECT_EQ("MD5.txt\nreadme.txt\nsame.dat\nupdate.qdv\n",
              Joined(Listing(scratch / "pkg", false)));
    EXPECT_EQ("", Joined(Verify(scratch / "pkg", true).problems));
}

TEST(PackBuild, AddressesFollowTheBytesAndStayWithinTheDefinitionsLimit)
{
    CScratchFolder scratch("addresses");
    const std::string longName = u8"とても長い名前の地図データファイル.dat";
    WriteRelease(scratch, "new",
                 {{"a/same.dat", "one"},
                  {"b/same.dat", "one"},
                  {"md5.TXT", "x"},
                  {"data/" + longName, "long"}});
    BuildOptions options = Options(scratch);
    options.prefix = "";
    BuildResult result;
    ASSERT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
    const std::string definition = ReadBytes(scratch / "pkg/update.qdv");
    // The same bytes under the same name are one address, listed twice.
    const std::string same = AddressOf("one", "same.dat", "");
    const std::vector<std::string> listing = Listing(scratch / "pkg", true);
    EXPECT_EQ(1, std::count_if(listing.begin(), listing.end(),
                               [](const std::string& name) {
                                   return name.size() > 9 &&
                                          name.substr(name.size() - 9) == "/same.dat";
                               }))
        << Joined(listing);
    EXPECT_NE(std::string::npos, definition.find("FILE001=" + same + ",a\\same.dat"));
    EXPECT_NE(std::string::npos, definition.find("FILE002=" + same + ",b\\same.dat"));
    // Without a prefix no address meets the package's own files.
    EXPECT_NE(std::string::npos, definition.find(AddressOf("x", "md5.TXT", "") + ",md5.TXT"));
    // A long name is cut by whole characters, its extension kept: 17 bytes
    // of digest and "/", four characters of nine escaped bytes, ".dat".
    const std::string cut = AddressOf("long", longName, "");
    EXPECT_EQ(AddressOf("long", u8"とても長.dat", ""), cut);
    EXPECT_NE(std::string::npos, definition.find("FILE003=" + cut + ","));
    EXPECT_EQ("", Joined(Verify(scratch / "pkg", false).problems));

    // Built again, the package is the same, address for address.
    options.output = scratch / "again";
    ASSERT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
    EXPECT_EQ(definition, ReadBytes(scratch / "again/update.qdv"));
    EXPECT_EQ(Joined(Listing(scratch / "pkg", true)), Joined(Listing(scratch / "again", true)));
}

TEST(PackBuild, RefusesWhatThePlayersUpdateWouldTripOverAndWritesNothing)
{
    struct Case {
        const char* name;
        std::vector<ReleaseFile> files;
        void (*adjust)(const CScratchFolder&, BuildOptions*);
        const char* error;
    };
    auto none = [](const CScratchFolder&, BuildOptions*) {};
    // Where only an option is at fault.
    const std::vector<ReleaseFile> oneFile = {{"a.dat", "a"}};
    PrivateKey pair;
    ASSERT_TRUE(GenerateP256(&pair));
    std::string key(kPrivateKeyTextSize, '\0');
    ASSERT_EQ(kPrivateKeyTextSize, WritePrivateKeyText(pair, &key[0], kPrivateKeyTextSize));
    const Case cases[] = {
        {"version", oneFile, [](const CScratchFolder&, BuildOptions* o) { o->version = "1.1"; },
         "--version \"1.1\" is not written like 1.00"},
        {"title", oneFile, [](const CScratchFolder&, BuildOptions* o) { o->title = "A \"B\""; },
         "--title \"A \"B\"\" holds"},
        {"long target", {{"data/" + std::string(55, 'x') + ".dat", "a"}}, none, "64 bytes"},
        {"comma", {{"a,b.dat", "a"}}, none, "would end the field"},
        {"wave dash", {{u8"〜.dat", "a"}}, none, "cannot be written exactly in Shift-JIS"},
        {"long source offline",
         {{"data/" + std::string(50, 'x') + ".dat", "a"}},
         [](const CScratchFolder&, BuildOptions* o) { o->offline = true; },
         "the source path"},
        {"no room for a name", oneFile,
         [](const CScratchFolder&, BuildOptions* o) { o->prefix = std::string(46, 'p') + "/"; },
         "--prefix leaves no room for a name"},
        {"work folder",
         {{"a/same.dat", "1"}, {"b/same.dat", "2"}},
         none,
         "b/same.dat and a/same.dat end in the same name and differ"},
        {"work folder offline",
         {{"a/same.dat", "1"}, {"b/Same.dat", "2"}},
         [](const CScratchFolder&, BuildOptions* o) { o->offline = true; },
         "end in the same name"},
        {"offline readme",
         {{"readme.txt", "game's own"}},
         [](const CScratchFolder&, BuildOptions* o) { o->offline = true; },
         "package's own readme.txt"},
        {"empty prefix offline",
         {{"md5.TXT", "x"}},
         [](const CScratchFolder&, BuildOptions* o) {
             o->prefix = "";
             o->offline = true;
         },
         "package's own md5.TXT"},
        // Addresses follow the bytes: only a file of the same bytes, named as
        // the index, lies where it goes.
        {"a file where a block index goes",
         {{"big.pak", std::string(1 << 20, 'b')}, {"big.pak.fbi", std::string(1 << 20, 'b')}},
         none,
         "big.pak.fbi: lies where the block index of big.pak is published"},
        {"bad prefix", oneFile, [](const CScratchFolder&, BuildOptions* o) { o->prefix = "/abs/"; },
         "--prefix"},
        {"output exists", oneFile,
         [](const CScratchFolder& s, BuildOptions*) { WriteBytes(s / "pkg/old.txt", "x"); },
         "already exists"},
        {"output inside", oneFile,
         [](const CScratchFolder& s, BuildOptions* o) { o->output = s / "new/pkg"; },
         "inside the files folder"},
        {"output is the files", oneFile,
         [](const CScratchFolder& s, BuildOptions* o) { o->output = s / "new/"; },
         "inside the files folder"},
        {"readme size", oneFile,
         [](const CScratchFolder& s, BuildOptions* o) {
             WriteBytes(s / "big.txt", std::string(32769, 'r'));
             o->readme = s / "big.txt";
         },
         "32769 bytes; the program shows at most 32768"},
        {"key in the release",
         {{"a.dat", "a"}, {"mygame.key", key}},
         none,
         "new/mygame.key is a private key"},
        {"key in a subfolder under another name",
         {{"data/a.dat", "a"}, {"data/old.dat", key}},
         none,
         "new/data/old.dat is a private key"},
        {"no files folder",
         {},
         [](const CScratchFolder& s, BuildOptions* o) { o->files = s / "absent"; },
         "does not exist"},
    };
    for (const Case& c : cases) {
        CScratchFolder scratch("refusal");
        WriteRelease(scratch, "new", c.files);
        BuildOptions options = Options(scratch);
        c.adjust(scratch, &options);
        std::vector<std::string> before = Listing(scratch.Path(), true);
        BuildResult result;
        EXPECT_FALSE(BuildPackage(options, &result)) << c.name;
        std::string errors = Joined(result.errors);
        EXPECT_NE(std::string::npos, errors.find(c.error))
            << c.name << ": expected \"" << c.error << "\" in:\n"
            << errors;
        EXPECT_EQ(Joined(before), Joined(Listing(scratch.Path(), true)))
            << c.name << ": the refusal left something behind";
    }
}

TEST(PackBuild, FilesOfAMiBAndMoreGetTheirBlockIndexBesideThemOnline)
{
    CScratchFolder scratch("build-blocks");
    const std::string big = Pattern(1 << 20, 40);
    const std::string bigger = Pattern((3 << 20) + 5, 41);
    WriteRelease(scratch, "new",
                 {{"data/big.pak", big},
                  {u8"data/表示/大.pak", bigger},
                  {"data/small.pak", Pattern((1 << 20) - 1, 42)}});
    ASSERT_TRUE(BuildRelease(scratch, scratch / "pkg", kTitle));
    // Beside each copy, at its address and ".fbi", whatever the address.
    auto indexOf = [&](const std::string& utf8Target) {
        fs::path path = CopyOf(scratch / "pkg", Sjis(utf8Target));
        return path.empty() ? std::string("<not listed>") : ReadBytes(path += ".fbi");
    };
    EXPECT_EQ(BlockIndexOf(big), indexOf("data\\big.pak"));
    EXPECT_EQ(BlockIndexOf(bigger), indexOf(u8"data\\表示\\大.pak"));
    EXPECT_EQ("<missing>", indexOf("data\\small.pak"));
    size_t indexes = 0;
    for (const std::string& name : Listing(scratch / "pkg", true))
        indexes += name.size() > 4 && name.compare(name.size() - 4, 4, ".fbi") == 0 ? 1 : 0;
    EXPECT_EQ(2u, indexes);
    VerifyResult verified = Verify(scratch / "pkg", false);
    EXPECT_EQ("", Joined(verified.problems));
    EXPECT_EQ(2u, verified.indexes);

    // Offline the package is on disk: no index.
    ASSERT_TRUE(BuildRelease(scratch, scratch / "offline", kTitle, true));
    EXPECT_EQ(Joined({"MD5.txt", "big.pak", "readme.txt", "small.pak", "update.qdv", u8"大.pak"}),
              Joined(Listing(scratch / "offline", false)));
}
