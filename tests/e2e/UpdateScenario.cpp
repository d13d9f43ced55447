#include "tests/e2e/UpdateScenario.h"

#include <gtest/gtest.h>

#include "core/SignedPackage.h"
#include "support/ByteArea.h"
#include "support/FormatText.h"
#include "support/PlatformCrypto.h"
#include "tests/common/DialogDriver.h"
#include "tests/common/TestBytes.h"
#include "tools/pack/SigningKey.h"

using namespace DialogDriver;

const char kTitle[] = "フェルンの冒険";

PackageSite FixtureSite()
{
    const std::string folder = FERNUP_E2E_DIR;
    const int port = std::stoi(FileBytes(folder + "\\port"));
    return {folder + "\\www\\", "http://127.0.0.1:" + std::to_string(port) + "/"};
}

UpdateScenario::UpdateScenario(const std::string& name, const std::string& program,
                               const PackageSite& site)
    : m_name(name), m_program(program)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    m_game = std::string(temp) + "fernup-e2e-" + name + "-" + std::to_string(GetTickCount()) + "\\";
    CreateDirectoryA(m_game.c_str(), nullptr);
    CreateDirectoryA((m_game + "data").c_str(), nullptr);
    CreateDirectoryA(site.root.c_str(), nullptr);
    m_www = site.root + name + "\\";
    CreateDirectoryA(m_www.c_str(), nullptr);
    CreateDirectoryA((m_www + "files").c_str(), nullptr);
    // The folder outlives a run: no signature of an earlier one stays.
    DeleteFileA((m_www + "update.sig").c_str());
    m_baseAddress = site.address + name + "/";
}

UpdateScenario::~UpdateScenario()
{
    if (m_process.hProcess != nullptr) {
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process.hProcess, 1);
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
    }
}

void UpdateScenario::WriteLog(const std::string& version, bool offline)
{
    m_log = "[GAME_UPDATE]\r\nURL=" + m_baseAddress + (offline ? "none/" : "") +
            "\r\n[UPDATE_INFO]\r\nUPDATE_VER=" + version +
            "\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=" + kTitle + "\r\n";
    EXPECT_TRUE(WriteBytes(m_game + "update.log", m_log));
}

void UpdateScenario::Publish(const std::vector<PackageFile>& files, const std::string& version,
                             bool corruptDigest, const std::string& title)
{
    m_files = files;
    m_definition = "[UPDATE_VER]\r\nNAME=" + title + "\r\nVER=" + version +
                   "\r\nDAY=2026/12/07\r\n[UPDATE_FILE]\r\n";
    int n = 1;
    for (const PackageFile& file : files) {
        EXPECT_TRUE(WriteBytes(m_www + "files\\" + file.source.substr(file.source.rfind('/') + 1),
                               file.content));
        char key[16];
        FormatText(key, sizeof key, "FILE%z3", n++);
        m_definition += std::string(key) + "=" + file.source + "," + file.target + "," +
                        std::to_string(file.content.size()) + "," + Md5Of(file.content) + "\r\n";
    }
    m_definitionDigest = Md5Of(m_definition);
    m_readme = "readme of " + m_name + "\r\n";
    EXPECT_TRUE(WriteBytes(m_www + "update.qdv", m_definition));
    EXPECT_TRUE(
        WriteBytes(m_www + "MD5.txt", corruptDigest ? std::string(32, '0') : m_definitionDigest));
    EXPECT_TRUE(WriteBytes(m_www + "readme.txt", m_readme));
}

void UpdateScenario::Sign(const PrivateKey& key, uint32_t lastDay)
{
    SignedFacts* facts = AllocSignedFacts();
    ASSERT_NE(nullptr, facts);
    facts->expiryDay = lastDay;
    Sha256Of(m_definition.data(), static_cast<uint32_t>(m_definition.size()),
             facts->definitionHash);
    Sha256Of(m_readme.data(), static_cast<uint32_t>(m_readme.size()), facts->readmeHash);
    facts->fileCount = static_cast<int32_t>(m_files.size());
    for (size_t i = 0; i < m_files.size(); ++i) {
        const std::string& bound =
            m_files[i].signedContent.empty() ? m_files[i].content : m_files[i].signedContent;
        Sha256Of(bound.data(), static_cast<uint32_t>(bound.size()), facts->fileHashes[i]);
    }
    std::string text(kSignatureTextCapacity, '\0');
    const uint32_t length = SignPackage(facts, key, &text[0], kSignatureTextCapacity);
    FreeArea(facts);
    ASSERT_GT(length, 0u);
    text.resize(length);
    EXPECT_TRUE(WriteBytes(m_www + "update.sig", text));
}

void UpdateScenario::CopyFilesForOffline()
{
    for (const PackageFile& file : m_files)
        EXPECT_TRUE(
            WriteBytes(m_www + file.target.substr(file.target.rfind('\\') + 1), file.content));
}

HWND UpdateScenario::Start(const std::string& program)
{
    if (m_process.hProcess != nullptr) {
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
        m_process = {};
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + (program.empty() ? m_program : program) + "\"";
    EXPECT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               m_game.c_str(), &startup, &m_process));
    return FindDialog(m_process.dwProcessId, kWindowTimeout);
}

long UpdateScenario::ExitCode(DWORD timeoutMs)
{
    return ExitCodeWithin(m_process.hProcess, timeoutMs);
}

void UpdateScenario::ExpectInstalled(const std::string& version) const
{
    for (const PackageFile& file : m_files)
        EXPECT_TRUE(FileBytes(m_game + file.target) == file.content) << file.target;
    const std::string log = FileBytes(m_game + "update.log");
    EXPECT_NE(std::string::npos, log.find("UPDATE_VER=" + version)) << log;
}

void UpdateScenario::Exit(HWND dialog)
{
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, ExitCode(10000));
}

void UpdateScenario::ExpectAnUpdateTo(const std::string& version)
{
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(UpdatedWhenOffered(dialog));
    ExpectInstalled(version);
    Exit(dialog);
}

PrivateKey KeyFromFile(const std::string& path)
{
    PrivateKey key = {};
    const std::string text = FileBytes(path);
    EXPECT_TRUE(ReadPrivateKeyText(text.data(), static_cast<uint32_t>(text.size()), &key)) << path;
    return key;
}

std::string LastLines(HWND dialog, size_t count)
{
    std::vector<std::string> lines = Lines(dialog);
    std::string text;
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
        text += lines[i] + "\n";
    return text;
}

std::string AllLines(HWND dialog)
{
    return LastLines(dialog, static_cast<size_t>(-1));
}

::testing::AssertionResult Reached(HWND dialog, const std::string& buttons,
                                   const std::string& lastLine, DWORD timeoutMs)
{
    if (WaitForState(dialog, buttons, lastLine, timeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected buttons " << buttons << " after \""
                                         << lastLine << "\", got " << Buttons(dialog) << "\n"
                                         << AllLines(dialog);
}

::testing::AssertionResult UpdatedWhenOffered(HWND dialog)
{
    ::testing::AssertionResult offered =
        Reached(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout);
    if (!offered)
        return offered;
    Press(dialog, kUpdate);
    return Reached(dialog, "-ER-", "アップデートが正常に完了しました。", kUpdateTimeout);
}

::testing::AssertionResult StoppedAtDefinition(HWND dialog, const std::string& line)
{
    ::testing::AssertionResult stopped = Reached(dialog, "-E-B", line, kWindowTimeout);
    if (!stopped)
        return stopped;
    const std::string expected = "－－－定義ファイル取得中－－－\n" + line + "\n";
    if (AllLines(dialog) != expected)
        return ::testing::AssertionFailure() << "expected the lines\n"
                                             << expected << "got\n"
                                             << AllLines(dialog);
    if (RowCount(dialog) != 0)
        return ::testing::AssertionFailure() << RowCount(dialog) << " files listed";
    return ::testing::AssertionSuccess();
}

bool WaitForState(HWND dialog, const std::string& buttons, const std::string& lastLine,
                  DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        std::vector<std::string> lines = Lines(dialog);
        if (!lines.empty() && lines.back() == lastLine && Buttons(dialog) == buttons)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
}
