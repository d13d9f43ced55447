// The real Fernup.exe under Wine with an https:// base address: nginx with a
// certificate from the test CA (trusted only in this build tree's prefix)
// updates the game; a certificate for another name, an expired one and one
// from an unknown CA end at the definition's fetch with its failure line,
// and the game folder stays byte for byte as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/common/TestBytes.h"
#include "tests/e2e/DialogDriver.h"

using namespace DialogDriver;

namespace {

constexpr DWORD kWindowTimeout = 20000;
constexpr DWORD kUpdateTimeout = 60000;
const char kTitle[] = "フェルンの冒険";
const char kFetching[] = "－－－定義ファイル取得中－－－";
const char kNotFetched[] = "定義ファイルが取得できませんでした。";

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

std::string AllLines(HWND dialog)
{
    std::string text;
    for (const std::string& line : Lines(dialog))
        text += line + "\n";
    return text;
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

// A package of two files under www\<name>\ (one nginx root for every
// server), and a game folder at 1.00 whose update.log points at it through
// the server named.
class HttpsScenario {
public:
    HttpsScenario(const std::string& name, const std::string& server)
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        m_game = std::string(temp) + "fernup-https-" + name + "-" +
                 std::to_string(GetTickCount()) + "\\";
        CreateDirectoryA(m_game.c_str(), nullptr);
        CreateDirectoryA((m_game + "data").c_str(), nullptr);
        WriteAll(m_game + "data\\map01.dat", "old map");

        const std::string www = std::string(FERNUP_HTTPS_DIR) + "\\www\\";
        CreateDirectoryA(www.c_str(), nullptr);
        const std::string package = www + name + "\\";
        CreateDirectoryA(package.c_str(), nullptr);
        CreateDirectoryA((package + "files").c_str(), nullptr);
        m_files = {{"data\\map01.dat", Pattern(300000, 41)}, {"readme2.txt", "second file"}};
        std::string definition = std::string("[UPDATE_VER]\r\nNAME=") + kTitle +
                                 "\r\nVER=1.01\r\nDAY=2026/12/07\r\n[UPDATE_FILE]\r\n";
        const char* sources[] = {"map01.dat", "readme2.txt"};
        for (size_t i = 0; i < m_files.size(); ++i) {
            WriteAll(package + "files\\" + sources[i], m_files[i].second);
            definition += "FILE00" + std::to_string(i + 1) + "=files/" + sources[i] + "," +
                          m_files[i].first + "," + std::to_string(m_files[i].second.size()) +
                          "," + Md5Of(m_files[i].second) + "\r\n";
        }
        WriteAll(package + "update.qdv", definition);
        WriteAll(package + "MD5.txt", Md5Of(definition));
        WriteAll(package + "readme.txt", "readme of " + name + "\r\n");

        const std::string port =
            ReadAll(std::string(FERNUP_HTTPS_DIR) + "\\" + server + "\\port");
        EXPECT_NE("<missing>", port) << "no " << server << " server runs";
        WriteAll(m_game + "update.log",
                 "[GAME_UPDATE]\r\nURL=https://127.0.0.1:" + port.substr(0, port.find('\n')) +
                     "/" + name + "/\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\n"
                     "UPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=" + kTitle + "\r\n");
    }

    ~HttpsScenario()
    {
        if (m_process.hProcess != nullptr) {
            if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_process.hProcess, 1);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
    }

    HWND Start()
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        char commandLine[] = FERNUP_EXE;
        EXPECT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                   m_game.c_str(), &startup, &m_process));
        return FindDialog(m_process.dwProcessId, kWindowTimeout);
    }

    void Exit(HWND dialog)
    {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(0, ExitCodeWithin(m_process.hProcess, 10000));
    }

    std::string m_game;
    std::vector<std::pair<std::string, std::string>> m_files;  // target, content
    PROCESS_INFORMATION m_process = {};
};

TEST(HttpsEndToEnd, AnUpdateOverHttpsSucceeds)
{
    HttpsScenario scenario("https-ok", "good");
    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(WaitForState(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    Press(dialog, kUpdate);
    ASSERT_TRUE(WaitForState(dialog, "-ER-", "アップデートが正常に完了しました。", kUpdateTimeout))
        << Buttons(dialog) << "\n" << AllLines(dialog);
    for (const auto& file : scenario.m_files)
        EXPECT_TRUE(ReadAll(scenario.m_game + file.first) == file.second) << file.first;
    EXPECT_NE(std::string::npos, ReadAll(scenario.m_game + "update.log").find("UPDATE_VER=1.01"));
    scenario.Exit(dialog);
}

TEST(HttpsEndToEnd, ACertificateThatDoesNotHoldEndsAtTheFetchAndChangesNothing)
{
    for (const char* server : {"other-name", "expired", "unknown-ca"}) {
        SCOPED_TRACE(server);
        HttpsScenario scenario(std::string("https-refused-") + server, server);
        const std::map<std::string, std::string> before = Snapshot(scenario.m_game);
        HWND dialog = scenario.Start();
        ASSERT_NE(nullptr, dialog);
        ASSERT_TRUE(WaitForState(dialog, "-E-B", kNotFetched, kWindowTimeout))
            << Buttons(dialog) << "\n" << AllLines(dialog);
        EXPECT_EQ(std::string(kFetching) + "\n" + kNotFetched + "\n", AllLines(dialog));
        EXPECT_EQ(0, RowCount(dialog));
        scenario.Exit(dialog);
        EXPECT_TRUE(before == Snapshot(scenario.m_game)) << "the game folder changed";
    }
}

}  // namespace
