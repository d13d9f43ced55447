// fernup-pack verify over HTTPS, against nginx with certificates of the test
// CA: libcurl natively, trusting the CA through --ca-file only; WinINet under
// Wine, trusting it through the prefix's store only. A certificate for
// another name, an expired one and one from an unknown CA leave the package
// unread.
#include <gtest/gtest.h>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/HttpClient.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageVerifier.h"

namespace fs = std::filesystem;

namespace {

fs::path HttpsFolder()
{
    return PathOfUtf8(FERNUP_HTTPS_DIR);
}

// Natively the CA comes from its file; on Windows from the system's store.
std::string CaFile()
{
#ifdef _WIN32
    return std::string();
#else
    return Utf8OfPath(HttpsFolder() / "certs" / "ca.pem");
#endif
}

// Owned and deleted by GoogleTest.
::testing::Environment* const g_http =
    ::testing::AddGlobalTestEnvironment(HttpClientEnvironment(CaFile()));

std::string BaseAddress(const std::string& server, const std::string& name)
{
    return ServedAddress("https", HttpsFolder() / server, name);
}

void Publish(const CScratchFolder& scratch, const std::string& name)
{
    WriteBytes(scratch / "new/data/map01.dat", Pattern(300000, 5));
    WriteBytes(scratch / "new/readme2.txt", "second file");
    ASSERT_TRUE(BuildRelease(scratch, HttpsFolder() / "www" / name, u8"フェルンの冒険"));
}

}  // namespace

TEST(PackHttps, VerifiesOverHttpsAndRefusesCertificatesThatDoNotHold)
{
    CScratchFolder scratch("https-verify");
    Publish(scratch, "pack-https");
    VerifyResult result = VerifyAt(BaseAddress("good", "pack-https"));
    EXPECT_EQ("", Joined(result.problems));
    EXPECT_EQ(2u, result.files);

    for (const char* server : {"other-name", "expired", "unknown-ca"}) {
        SCOPED_TRACE(server);
        result = VerifyAt(BaseAddress(server, "pack-https"));
        ASSERT_FALSE(result.problems.empty());
        EXPECT_EQ(0u, result.problems[0].find("update.qdv: cannot be read: "))
            << Joined(result.problems);
        EXPECT_EQ(0u, result.files);
    }
}

TEST(PackHttps, TheCommandTrustsOnlyWhatItIsTold)
{
    CScratchFolder scratch("https-command");
    Publish(scratch, "pack-https-command");
    const std::string good = BaseAddress("good", "pack-https-command");
    const std::string caFile = Utf8OfPath(HttpsFolder() / "certs" / "ca.pem");
#ifdef _WIN32
    ToolOutcome outcome = RunTool(FERNUP_PACK_EXE, scratch, "verify " + good);
    EXPECT_EQ(0, outcome.status) << (outcome.out + outcome.err);
    outcome = RunTool(FERNUP_PACK_EXE, scratch, "verify --ca-file " + caFile + " " + good);
    EXPECT_EQ(2, outcome.status) << (outcome.out + outcome.err);
    EXPECT_NE(std::string::npos,
              (outcome.out + outcome.err).find("--ca-file is not available on Windows"))
        << (outcome.out + outcome.err);
#else
    ToolOutcome outcome =
        RunTool(FERNUP_PACK_EXE, scratch, "verify --ca-file " + caFile + " " + good);
    EXPECT_EQ(0, outcome.status) << (outcome.out + outcome.err);
    // The system's CAs do not include the test CA, and nothing else stands in.
    outcome = RunTool(FERNUP_PACK_EXE, scratch, "verify " + good);
    EXPECT_EQ(1, outcome.status) << (outcome.out + outcome.err);
    EXPECT_NE(std::string::npos, (outcome.out + outcome.err).find("update.qdv: cannot be read: "))
        << (outcome.out + outcome.err);
    // Another CA's file: the test CA is trusted through nothing else.
    outcome = RunTool(
        FERNUP_PACK_EXE, scratch,
        "verify --ca-file " + Utf8OfPath(HttpsFolder() / "certs" / "stranger-ca.pem") + " " + good);
    EXPECT_EQ(1, outcome.status) << (outcome.out + outcome.err);
    outcome = RunTool(FERNUP_PACK_EXE, scratch, "verify --ca-file " + caFile + ".absent " + good);
    EXPECT_EQ(2, outcome.status) << (outcome.out + outcome.err);
    EXPECT_NE(std::string::npos, (outcome.out + outcome.err).find("cannot read the CA file"))
        << (outcome.out + outcome.err);
#endif
}
