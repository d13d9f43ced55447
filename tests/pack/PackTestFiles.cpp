#include "tests/pack/PackTestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "support/CMd5.h"
#include "support/PlatformCrypto.h"
#include "tools/pack/ContentAddress.h"
#include "tools/pack/HttpClient.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageSigner.h"
#include "tools/pack/PackageVerifier.h"
#include "tools/pack/ShiftJis.h"

namespace fs = std::filesystem;

CScratchFolder::CScratchFolder(const std::string& name)
{
    static std::atomic<unsigned> serial(0);
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = fs::temp_directory_path() / ("fernup-pack-test-" + name + "-" + std::to_string(now) +
                                          "-" + std::to_string(serial++));
    fs::create_directories(m_path);
}

CScratchFolder::~CScratchFolder()
{
    std::error_code code;
    fs::remove_all(m_path, code);
}

fs::path CScratchFolder::operator/(const std::string& utf8Relative) const
{
    return m_path / PathOfUtf8(utf8Relative);
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::error_code code;
    fs::create_directories(path.parent_path(), code);
#ifdef _WIN32
    std::FILE* file = _wfopen(path.c_str(), L"wb");
#else
    std::FILE* file = std::fopen(path.c_str(), "wb");
#endif
    ASSERT_NE(nullptr, file) << Utf8OfPath(path);
    EXPECT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
}

std::string ReadBytes(const fs::path& path)
{
#ifdef _WIN32
    std::FILE* file = _wfopen(path.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
    if (file == nullptr)
        return "<missing>";
    std::string bytes;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
}

std::vector<std::string> Listing(const fs::path& folder, bool recursive)
{
    std::vector<std::string> names;
    std::error_code code;
    if (recursive) {
        for (auto walk = fs::recursive_directory_iterator(folder, code);
             !code && walk != fs::recursive_directory_iterator(); walk.increment(code))
            names.push_back(GenericUtf8OfPath(walk->path().lexically_relative(folder)));
    } else {
        for (auto walk = fs::directory_iterator(folder, code);
             !code && walk != fs::directory_iterator(); walk.increment(code))
            names.push_back(Utf8OfPath(walk->path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Sjis(const std::string& utf8)
{
    std::string sjis;
    EXPECT_TRUE(Utf8ToShiftJis(utf8, &sjis)) << utf8;
    return sjis;
}

std::string AddressOf(const std::string& content, const std::string& utf8Name,
                      const std::string& prefix)
{
    unsigned char sha256[kSha256Size];
    EXPECT_TRUE(Sha256Of(content.data(), static_cast<uint32_t>(content.size()), sha256));
    return ContentAddress(prefix, sha256, utf8Name);
}

std::string SourceOf(const fs::path& package, const std::string& sjisTarget)
{
    const std::string definition = ReadBytes(package / "update.qdv");
    const size_t at = definition.find("," + sjisTarget + ",");
    if (at == std::string::npos)
        return std::string();
    const size_t start = definition.rfind('=', at) + 1;
    return definition.substr(start, at - start);
}

fs::path CopyOf(const fs::path& package, const std::string& sjisTarget)
{
    fs::path copy;
    const std::string source = SourceOf(package, sjisTarget);
    EXPECT_FALSE(source.empty()) << sjisTarget << " is not listed";
    EXPECT_TRUE(source.empty() || ServedFilePath(package, source, &copy)) << source;
    return copy;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

VerifyResult Verify(const fs::path& package, bool offline)
{
    VerifyOptions options;
    options.package = Utf8OfPath(package);
    options.offline = offline;
    VerifyResult result;
    std::string error;
    EXPECT_TRUE(VerifyPackage(options, &result, &error)) << error;
    return result;
}

namespace {

class CHttpEnvironment : public ::testing::Environment {
public:
    explicit CHttpEnvironment(const std::string& caFile) : m_caFile(caFile) {}
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(HttpStartup(m_caFile, &error)) << error;
    }
    void TearDown() override { HttpShutdown(); }

private:
    std::string m_caFile;
};

}  // namespace

::testing::Environment* HttpClientEnvironment(const std::string& caFile)
{
    return new CHttpEnvironment(caFile);
}

std::string ServedAddress(const char* scheme, const fs::path& folder, const std::string& name)
{
    std::string port = ReadBytes(folder / "port");
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r'))
        port.pop_back();
    return std::string(scheme) + "://127.0.0.1:" + port + "/" + name + "/";
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

ToolOutcome RunTool(const std::string& program, const CScratchFolder& scratch,
                    const std::string& arguments)
{
    fs::path errors = scratch / "stderr.txt";
    std::string command = "\"" + program + "\" " + arguments + " 2>\"" + Utf8OfPath(errors) + "\"";
    ToolOutcome outcome = {-1, std::string(), std::string()};
#ifdef _WIN32
    // cmd.exe drops the first and the last quote of its command line.
    command = "\"" + command + "\"";
    std::FILE* pipe = _popen(command.c_str(), "rb");
#else
    std::FILE* pipe = popen(command.c_str(), "r");
#endif
    if (pipe == nullptr)
        return outcome;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        outcome.out.append(buffer, got);
#ifdef _WIN32
    outcome.status = _pclose(pipe);
#else
    int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    outcome.err = ReadBytes(errors);
    // Windows consoles and pipes may turn line ends into CR LF.
    for (std::string* text : {&outcome.out, &outcome.err}) {
        std::string plain;
        for (char c : *text)
            if (c != '\r')
                plain += c;
        *text = plain;
    }
    return outcome;
}

bool BuildRelease(const CScratchFolder& scratch, const fs::path& output, const std::string& title,
                  bool offline, const fs::path& previous)
{
    BuildOptions options;
    options.files = scratch / "new";
    options.previous = previous;
    options.output = output;
    options.title = title;
    options.version = "1.01";
    options.day = "2026/12/07";
    options.offline = offline;
    std::error_code code;
    fs::remove_all(options.output, code);
    BuildResult result;
    if (BuildPackage(options, &result))
        return true;
    ADD_FAILURE() << "the build was refused: " << Joined(result.errors);
    return false;
}

size_t SignWithNewKey(const CScratchFolder& scratch, const fs::path& package, uint32_t lastDay)
{
    std::string error;
    std::error_code code;
    fs::create_directories(scratch / "keys", code);
    EXPECT_TRUE(WriteNewKeyFiles(scratch / "keys/publisher", &error)) << error;
    SignOptions sign;
    sign.package = package;
    sign.key = scratch / "keys/publisher.key";
    sign.lastDay = lastDay;
    size_t files = 0;
    EXPECT_TRUE(SignPackageFolder(sign, &files, &error)) << error;
    return files;
}
