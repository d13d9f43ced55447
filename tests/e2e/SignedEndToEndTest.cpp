// The program built with the tests' public key (bin/test-key/Fernup.exe),
// under Wine against nginx: signed packages update as before, and a package
// whose signature does not hold is refused before anything is fetched,
// leaving the game folder byte for byte as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/ByteArea.h"
#include "support/FormatText.h"
#include "support/SigningKey.h"
#include "tests/common/Md5Collision.h"
#include "tests/common/TestBytes.h"
#include "tests/e2e/DialogDriver.h"

using namespace DialogDriver;

namespace {

constexpr DWORD kWindowTimeout = 20000;
constexpr DWORD kUpdateTimeout = 60000;
const char kTitle[] = "フェルンの冒険";
const char kRefused[] = "定義ファイルの署名が確認できませんでした。";
const char kFetching[] = "－－－定義ファイル取得中－－－";

std::string ReadAll(const std::string& path)
{
    std::string data;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return "<missing>";
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.append(buffer, got);
    std::fclose(file);
    return data;
}

void WriteAll(const std::string& path, const std::string& data)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file) << path;
    std::fwrite(data.data(), 1, data.size(), file);
    std::fclose(file);
}

// Every file under folder with its bytes, for a before-and-after comparison.
void Snapshot(const std::string& folder, const std::string& prefix,
              std::map<std::string, std::string>* files)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            Snapshot(folder + name + "\\", prefix + name + "\\", files);
        else
            (*files)[prefix + name] = ReadAll(folder + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    Snapshot(folder, "", &files);
    return files;
}

PrivateKey TestKey()
{
    PrivateKey key = {};
    const std::string text = ReadAll(FERNUP_TEST_KEY_FILE);
    EXPECT_TRUE(ReadPrivateKeyText(text.data(), static_cast<uint32_t>(text.size()), &key))
        << FERNUP_TEST_KEY_FILE;
    return key;
}

struct PackageFile {
    std::string source;   // under the package folder, "/"-separated
    std::string target;   // under the game folder, "\\"-separated
    std::string content;  // what is published
    std::string signedContent;  // what the signature binds, when not content
};

// A package under www\<name>\, signed or not, and a game folder that points
// at it; the program is the build with the tests' key.
class SignedScenario {
public:
    explicit SignedScenario(const std::string& name) : m_name(name)
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        m_game = std::string(temp) + "fernup-signed-" + name + "-" +
                 std::to_string(GetTickCount()) + "\\";
        CreateDirectoryA(m_game.c_str(), nullptr);
        CreateDirectoryA((m_game + "data").c_str(), nullptr);
        m_www = std::string(FERNUP_E2E_DIR) + "\\www\\" + name + "\\";
        CreateDirectoryA(m_www.c_str(), nullptr);
        CreateDirectoryA((m_www + "files").c_str(), nullptr);
        // The folder outlives a run: no signature of an earlier one stays.
        DeleteFileA((m_www + "update.sig").c_str());
        const int port = std::stoi(ReadAll(std::string(FERNUP_E2E_DIR) + "\\port"));
        m_baseAddress = "http://127.0.0.1:" + std::to_string(port) + "/" + name + "/";
    }

    ~SignedScenario()
    {
        if (m_process.hProcess != nullptr) {
            if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_process.hProcess, 1);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
    }

    // With offline, update.log points where no package is: the fetch at the
    // start fails and the package is opened from its folder instead.
    void WriteGame(const std::string& version, bool offline = false)
    {
        WriteAll(m_game + "update.log",
                 "[GAME_UPDATE]\r\nURL=" + m_baseAddress + (offline ? "none/" : "") +
                     "\r\n[UPDATE_INFO]\r\nUPDATE_VER=" + version +
                     "\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=" + kTitle + "\r\n");
        WriteAll(m_game + "data\\map01.dat", "old map");
    }

    // The definition, MD5.txt, readme and files of a version, unsigned.
    void Publish(const std::vector<PackageFile>& files, const std::string& version)
    {
        m_files = files;
        m_definition = std::string("[UPDATE_VER]\r\nNAME=") + kTitle + "\r\nVER=" + version +
                       "\r\nDAY=2026/12/07\r\n[UPDATE_FILE]\r\n";
        int n = 1;
        for (const PackageFile& file : files) {
            WriteAll(m_www + "files\\" + file.source.substr(file.source.rfind('/') + 1),
                     file.content);
            char key[16];
            FormatText(key, sizeof key, "FILE%z3", n++);
            m_definition += std::string(key) + "=" + file.source + "," + file.target + "," +
                            std::to_string(file.content.size()) + "," + Md5Of(file.content) +
                            "\r\n";
        }
        m_readme = "readme of " + m_name + "\r\n";
        WriteAll(m_www + "update.qdv", m_definition);
        WriteAll(m_www + "MD5.txt", Md5Of(m_definition));
        WriteAll(m_www + "readme.txt", m_readme);
    }

    // update.sig over the published package (or over what signedContent
    // says), by key, good until lastDay (YYYYMMDD, 0: no end).
    void Sign(const PrivateKey& key, uint32_t lastDay = 0)
    {
        SignedFacts* facts = AllocSignedFacts();
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
        WriteAll(m_www + "update.sig", text);
    }

    // An offline package holds each file under the last component of its
    // target path, beside update.qdv.
    void CopyFilesForOffline()
    {
        for (const PackageFile& file : m_files)
            WriteAll(m_www + file.target.substr(file.target.rfind('\\') + 1), file.content);
    }

    HWND Start()
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        char commandLine[] = FERNUP_TEST_KEY_EXE;
        EXPECT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                   m_game.c_str(), &startup, &m_process));
        return FindDialog(m_process.dwProcessId, kWindowTimeout);
    }

    void Exit(HWND dialog)
    {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(0, ExitCodeWithin(m_process.hProcess, 10000));
    }

    std::string m_name;
    std::string m_game;
    std::string m_www;
    std::string m_baseAddress;
    std::string m_definition;
    std::string m_readme;
    std::vector<PackageFile> m_files;
    PROCESS_INFORMATION m_process = {};
};

std::string AllLines(HWND dialog)
{
    std::string text;
    for (const std::string& line : Lines(dialog))
        text += line + "\n";
    return text;
}

// A state counts only together with the line that ends it.
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

std::vector<PackageFile> TwoFiles()
{
    return {{"files/map01.dat", "data\\map01.dat", Pattern(300000, 21), ""},
            {"files/readme2.txt", "readme2.txt", "second file", ""}};
}

TEST(SignedEndToEnd, ASignedPackageUpdatesOnline)
{
    SignedScenario scenario("signed-ok");
    scenario.WriteGame("1.00");
    scenario.Publish(TwoFiles(), "1.01");
    scenario.Sign(TestKey(), 20991231);

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(WaitForState(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    Press(dialog, kUpdate);
    ASSERT_TRUE(WaitForState(dialog, "-ER-", "アップデートが正常に完了しました。", kUpdateTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    for (const PackageFile& file : scenario.m_files)
        EXPECT_TRUE(ReadAll(scenario.m_game + file.target) == file.content) << file.target;
    EXPECT_NE(std::string::npos, ReadAll(scenario.m_game + "update.log").find("UPDATE_VER=1.01"));
    scenario.Exit(dialog);
}

TEST(SignedEndToEnd, ASignedPackageUpdatesOfflineAndAnUnsignedOneIsRefused)
{
    SignedScenario scenario("signed-offline");
    scenario.WriteGame("1.00", true);
    scenario.Publish(TwoFiles(), "1.01");
    scenario.CopyFilesForOffline();

    // First without update.sig beside the definition.
    const std::map<std::string, std::string> before = Snapshot(scenario.m_game);
    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(WaitForState(dialog, "-E-B", "定義ファイルが取得できませんでした。", kWindowTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    ASSERT_TRUE(ChooseOffline(dialog, scenario.m_www + "update.qdv"));
    ASSERT_TRUE(WaitForState(dialog, "-E-B", kRefused, kWindowTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    EXPECT_EQ(std::string(kRefused) + "\n", AllLines(dialog));
    EXPECT_EQ(0, RowCount(dialog));
    EXPECT_TRUE(before == Snapshot(scenario.m_game));

    // Then signed.
    scenario.Sign(TestKey());
    ASSERT_TRUE(ChooseOffline(dialog, scenario.m_www + "update.qdv"));
    ASSERT_TRUE(WaitForState(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    Press(dialog, kUpdate);
    ASSERT_TRUE(WaitForState(dialog, "-ER-", "アップデートが正常に完了しました。", kUpdateTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    for (const PackageFile& file : scenario.m_files)
        EXPECT_TRUE(ReadAll(scenario.m_game + file.target) == file.content) << file.target;
    scenario.Exit(dialog);
}

TEST(SignedEndToEnd, PackagesWhoseSignatureFailsAreRefusedBeforeAnyDownload)
{
    PrivateKey otherKey;
    ASSERT_TRUE(GenerateP256(&otherKey));
    const struct {
        const char* name;
        void (*spoil)(SignedScenario& scenario, const PrivateKey& otherKey);
    } cases[] = {
        {"unsigned", [](SignedScenario&, const PrivateKey&) {}},
        {"other-key", [](SignedScenario& s, const PrivateKey& other) { s.Sign(other); }},
        {"changed-definition",
         [](SignedScenario& s, const PrivateKey&) {
             s.Sign(TestKey());
             // The server's owner lists a file of their own and fixes MD5.txt.
             s.m_definition += "FILE003=files/evil.dll,evil.dll,4,00000000000000000000000000000000\r\n";
             WriteAll(s.m_www + "update.qdv", s.m_definition);
             WriteAll(s.m_www + "MD5.txt", Md5Of(s.m_definition));
         }},
        {"swapped-readme",
         [](SignedScenario& s, const PrivateKey&) {
             s.Sign(TestKey());
             WriteAll(s.m_www + "readme.txt", "Run evil.exe first.\r\n");
         }},
        {"expired",
         [](SignedScenario& s, const PrivateKey&) { s.Sign(TestKey(), 20200101); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SignedScenario scenario(std::string("refused-") + c.name);
        scenario.WriteGame("1.00");
        scenario.Publish(TwoFiles(), "1.01");
        c.spoil(scenario, otherKey);
        const std::map<std::string, std::string> before = Snapshot(scenario.m_game);

        HWND dialog = scenario.Start();
        ASSERT_NE(nullptr, dialog);
        ASSERT_TRUE(WaitForState(dialog, "-E-B", kRefused, kWindowTimeout))
            << Buttons(dialog) << "\n" << AllLines(dialog);
        EXPECT_EQ(std::string(kFetching) + "\n" + kRefused + "\n", AllLines(dialog));
        EXPECT_EQ(0, RowCount(dialog));
        // Nothing to press: Update is off, and so is Readme.
        Press(dialog, kUpdate);
        Press(dialog, kReadme);
        Sleep(200);
        EXPECT_EQ("-E-B", Buttons(dialog));
        scenario.Exit(dialog);
        EXPECT_TRUE(before == Snapshot(scenario.m_game)) << "the game folder changed";
    }
}

TEST(SignedEndToEnd, AFileWithTheListedMd5ButOtherContentsIsNotInstalled)
{
    SignedScenario scenario("md5-collision");
    scenario.WriteGame("1.00");
    const std::string genuine = CollisionBlockOne() + "payload";
    const std::string forged = CollisionBlockTwo() + "payload";
    ASSERT_EQ(Md5Of(genuine), Md5Of(forged));
    ASSERT_NE(genuine, forged);
    // The server holds the forged file; the definition lists its MD5, which
    // is the genuine file's too, and the signature binds the genuine one.
    scenario.Publish({{"files/map01.dat", "data\\map01.dat", forged, genuine},
                      {"files/second.dat", "data\\second.dat", "second", ""}},
                     "1.01");
    scenario.Sign(TestKey());
    const std::map<std::string, std::string> before = Snapshot(scenario.m_game);

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(WaitForState(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    Press(dialog, kUpdate);
    ASSERT_TRUE(WaitForState(dialog, "-ER-", "アップデートに失敗しました。", kUpdateTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    const std::vector<std::string> lines = Lines(dialog);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("正常にダウンロードが行われませんでした。", lines[lines.size() - 2]);
    scenario.Exit(dialog);
    EXPECT_TRUE(before == Snapshot(scenario.m_game)) << "nothing is installed";
}

TEST(SignedEndToEnd, AnOlderSignedPackageReplayedInstallsNothing)
{
    SignedScenario scenario("replayed");
    scenario.WriteGame("1.02");
    scenario.Publish(TwoFiles(), "1.01");
    scenario.Sign(TestKey());
    const std::map<std::string, std::string> before = Snapshot(scenario.m_game);

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    // The signature holds; the version verdict refuses.
    ASSERT_TRUE(WaitForButtons(dialog, "-E-B", kWindowTimeout)) << AllLines(dialog);
    Sleep(300);
    EXPECT_EQ("-E-B", Buttons(dialog)) << AllLines(dialog);
    EXPECT_EQ(std::string::npos, AllLines(dialog).find(kRefused)) << AllLines(dialog);
    EXPECT_NE(std::string::npos, AllLines(dialog).find("アップデートの必要はありません。"))
        << AllLines(dialog);
    scenario.Exit(dialog);
    EXPECT_TRUE(before == Snapshot(scenario.m_game));
}

}  // namespace
