// fernup-pack verify over HTTPS, against nginx with certificates of the test
// CA: libcurl natively, trusting the CA through --ca-file only; WinINet under
// Wine, trusting it through the prefix's store only. A certificate for
// another name, an expired one and one from an unknown CA leave the package
// unread.
#include <gtest/gtest.h>

#include <cstdio>

#ifndef _WIN32
#include <sys/wait.h>
#endif

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

class CHttpEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(HttpStartup(CaFile(), &error)) << error;
    }
    void TearDown() override { HttpShutdown(); }
};

// Owned and deleted by GoogleTest.
::testing::Environment* const g_http = ::testing::AddGlobalTestEnvironment(new CHttpEnvironment);

std::string BaseAddress(const std::string& server, const std::string& name)
{
    std::string port = ReadBytes(HttpsFolder() / server / "port");
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r'))
        port.pop_back();
    return "https://127.0.0.1:" + port + "/" + name + "/";
}

void Publish(const CScratchFolder& scratch, const std::string& name)
{
    WriteBytes(scratch / "new/data/map01.dat", Pattern(300000, 5));
    WriteBytes(scratch / "new/readme2.txt", "second file");
    BuildOptions options;
    options.files = scratch / "new";
    options.output = HttpsFolder() / "www" / name;
    options.title = u8"フェルンの冒険";
    options.version = "1.01";
    options.day = "2026/12/07";
    std::error_code code;
    fs::remove_all(options.output, code);
    BuildResult result;
    ASSERT_TRUE(BuildPackage(options, &result)) << Joined(result.errors);
}

VerifyResult VerifyAt(const std::string& address)
{
    VerifyOptions options;
    options.package = address;
    VerifyResult result;
    std::string error;
    EXPECT_TRUE(VerifyPackage(options, &result, &error)) << error;
    return result;
}

struct Outcome {
    int status;
    std::string output;  // stdout and stderr
};

// The tool as a publisher runs it; arguments ASCII, free of blanks and quotes.
Outcome RunTool(const std::string& arguments)
{
    std::string command = std::string("\"") + FERNUP_PACK_EXE + "\" " + arguments + " 2>&1";
    Outcome outcome = {-1, std::string()};
#ifdef _WIN32
    // cmd.exe drops the first and the last quote of its command line.
    std::FILE* pipe = _popen(("\"" + command + "\"").c_str(), "rb");
#else
    std::FILE* pipe = popen(command.c_str(), "r");
#endif
    if (pipe == nullptr)
        return outcome;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        outcome.output.append(buffer, got);
#ifdef _WIN32
    outcome.status = _pclose(pipe);
#else
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return outcome;
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
    Outcome outcome = RunTool("verify " + good);
    EXPECT_EQ(0, outcome.status) << outcome.output;
    outcome = RunTool("verify --ca-file " + caFile + " " + good);
    EXPECT_EQ(2, outcome.status) << outcome.output;
    EXPECT_NE(std::string::npos, outcome.output.find("--ca-file is not available on Windows"))
        << outcome.output;
#else
    Outcome outcome = RunTool("verify --ca-file " + caFile + " " + good);
    EXPECT_EQ(0, outcome.status) << outcome.output;
    // The system's CAs do not include the test CA, and nothing else stands in.
    outcome = RunTool("verify " + good);
    EXPECT_EQ(1, outcome.status) << outcome.output;
    EXPECT_NE(std::string::npos, outcome.output.find("update.qdv: cannot be read: "))
        << outcome.output;
    // Another CA's file: the test CA is trusted through nothing else.
    outcome = RunTool("verify --ca-file " +
                      Utf8OfPath(HttpsFolder() / "certs" / "stranger-ca.pem") + " " + good);
    EXPECT_EQ(1, outcome.status) << outcome.output;
    outcome = RunTool("verify --ca-file " + caFile + ".absent " + good);
    EXPECT_EQ(2, outcome.status) << outcome.output;
    EXPECT_NE(std::string::npos, outcome.output.find("cannot read the CA file")) << outcome.output;
#endif
}
