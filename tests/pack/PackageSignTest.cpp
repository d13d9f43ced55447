// fernup-pack keygen, sign and verify --key, with the platform's provider
// (libcrypto natively, bcrypt.dll under Wine): a signed package verifies, and
// each thing that makes players refuse it is named.
#include <gtest/gtest.h>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageSigner.h"
#include "tools/pack/PackageVerifier.h"

namespace fs = std::filesystem;

namespace {

void BuildSigned(const CScratchFolder& scratch, uint32_t lastDay = 0)
{
    WriteBytes(scratch / "new/data/map01.dat", Md5CollisionBlock(0));
    WriteBytes(scratch / "new/data/map02.dat", Pattern(3000, 2));
    ASSERT_TRUE(BuildRelease(scratch, scratch / "pkg", "Game"));
    EXPECT_EQ(2u, SignWithNewKey(scratch, scratch / "pkg", lastDay));
}

std::vector<std::string> VerifyWithKey(const CScratchFolder& scratch, const char* pub)
{
    VerifyOptions options;
    options.package = Utf8OfPath(scratch / "pkg");
    options.publicKeys = Utf8OfPath(scratch / pub);
    VerifyResult result;
    std::string error;
    EXPECT_TRUE(VerifyPackage(options, &result, &error)) << error;
    return result.problems;
}

TEST(PackSign, ASignedPackageVerifiesAndEachRefusalIsNamed)
{
    CScratchFolder scratch("pack-sign");
    BuildSigned(scratch);
    EXPECT_EQ("", Joined(VerifyWithKey(scratch, "keys/publisher.pub")));

    std::string error;
    ASSERT_TRUE(WriteNewKeyFiles(scratch / "keys/other", &error)) << error;
    EXPECT_EQ(
        "update.sig: signed with a key that is not trusted; the program refuses the "
        "package\n",
        Joined(VerifyWithKey(scratch, "keys/other.pub")));

    // A file with the listed size and MD5 but other bytes: only the SHA-256
    // that the signature binds tells them apart.
    WriteBytes(CopyOf(scratch / "pkg", "data\\map01.dat"), Md5CollisionBlock(1));
    const std::vector<std::string> problems = VerifyWithKey(scratch, "keys/publisher.pub");
    ASSERT_EQ(1u, problems.size()) << Joined(problems);
    EXPECT_NE(std::string::npos, problems[0].find("FILE001")) << problems[0];
    EXPECT_NE(std::string::npos, problems[0].find("is not the file update.sig binds"))
        << problems[0];
    EXPECT_EQ("", Joined(Verify(scratch / "pkg", false).problems))
        << "without --key, MD5 alone passes it";

    WriteBytes(CopyOf(scratch / "pkg", "data\\map01.dat"), Md5CollisionBlock(0));
    WriteBytes(scratch / "pkg/readme.txt", "swapped");
    EXPECT_EQ("update.sig: readme.txt is not the signed one; the program refuses the package\n",
              Joined(VerifyWithKey(scratch, "keys/publisher.pub")));
}

TEST(PackSign, APassedLastDayIsNamed)
{
    CScratchFolder scratch("pack-sign-expired");
    BuildSigned(scratch, 20200101);
    EXPECT_EQ("update.sig: signature expired; the program refuses the package\n",
              Joined(VerifyWithKey(scratch, "keys/publisher.pub")));
}

TEST(PackSign, PrivateKeysStayOutOfPackages)
{
    CScratchFolder scratch("pack-sign-keys");
    std::string error;
    ASSERT_TRUE(WriteNewKeyFiles(scratch / "publisher", &error)) << error;
#ifndef _WIN32
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
              fs::status(scratch / "publisher.key").permissions() & fs::perms::all);
#endif
    const std::string key = ReadBytes(scratch / "publisher.key");
    EXPECT_FALSE(WriteNewKeyFiles(scratch / "publisher", &error)) << "replaced a key";
    EXPECT_EQ(key, ReadBytes(scratch / "publisher.key"));

    // Nor beside a release's files, from where it could be published with them.
    WriteBytes(scratch / "new/game.exe", "MZ");
    EXPECT_FALSE(WriteNewKeyFiles(scratch / "new/publisher", &error));
    EXPECT_NE(std::string::npos, error.find("holds game.exe, which is no key file")) << error;
    EXPECT_EQ("<missing>", ReadBytes(scratch / "new/publisher.key"));

    WriteBytes(scratch / "pkg/update.qdv", "[UPDATE_VER]\r\n");
    EXPECT_FALSE(WriteNewKeyFiles(scratch / "pkg/publisher", &error));
    EXPECT_FALSE(WriteNewKeyFiles(scratch / "pkg/sub/publisher", &error));
    EXPECT_EQ("<missing>", ReadBytes(scratch / "pkg/publisher.key"));

    fs::copy_file(scratch / "publisher.key", scratch / "pkg/publisher.key");
    SignOptions sign;
    sign.package = scratch / "pkg";
    sign.key = scratch / "pkg/publisher.key";
    size_t files = 0;
    EXPECT_FALSE(SignPackageFolder(sign, &files, &error));
    EXPECT_NE(std::string::npos, error.find("inside the package")) << error;
    EXPECT_EQ("<missing>", ReadBytes(scratch / "pkg/update.sig"));

    // Signed with the key outside, the package still holds a copy.
    sign.key = scratch / "publisher.key";
    EXPECT_FALSE(SignPackageFolder(sign, &files, &error));
    EXPECT_NE(std::string::npos, error.find("pkg/publisher.key is a private key")) << error;
    EXPECT_EQ("<missing>", ReadBytes(scratch / "pkg/update.sig"));
}

}  // namespace
