#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>
#include <sddl.h>

#include "support/ByteArea.h"
#include "support/PlatformCrypto.h"
#include "support/TemporaryName.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/ChildProcess.h"
#include "tests/common/TaskTestSupport.h"
#include "updater/CFernupTask.h"
#include "updater/HttpFetch.h"
#include "updater/TestSeams.h"

namespace {

using Ending = CannedHttpServer::Ending;
using Lines = std::vector<std::string>;
using Files = std::vector<std::pair<std::string, std::string>>;

const std::string kRule(43, '-');
const char* const kRunning = "アップデート実行中";
const char* const kDone = "アップデートが正常に完了しました。";
const char* const kFailed = "アップデートに失敗しました。";
const char* const kNoInternet = "インターネットが利用出来ません。";
const char* const kNoSession = "インターネットに接続出来ませんでした。";
const char* const kUnsafePath = "不正なファイルパスが含まれています。";
const char* const kCannotOpen = "ファイルが開けませんでした。";
const char* const kCannotDownload = "ダウンロードを行うことが出来ませんでした。";
const char* const kBrokenOff = "ダウンロードが中断されました。";
const char* const kBadDownload = "正常にダウンロードが行われませんでした。";
const char* const kCopyFailed = "ファイルの転送に失敗しました。";
const char* const kBadInstall = "正常に転送が行われませんでした。";

const std::string kLog =
    "[GAME_UPDATE]\r\nURL=http://example.invalid/game/\r\n"
    "[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\nUPDATE_DAY=2024/01/01\r\nUPDATE_TITLE=テスト\r\n"
    "NOTE=kept\r\n[OTHER]\r\nKEY=value\r\n";
const std::string kUpdatedLog =
    "[GAME_UPDATE]\r\nURL=http://example.invalid/game/\r\n"
    "[UPDATE_INFO]\r\nUPDATE_VER=1.10\r\nUPDATE_DAY=2024/05/01\r\nUPDATE_TITLE=テスト\r\n"
    "NOTE=kept\r\n[OTHER]\r\nKEY=value\r\n";

DWORD WINAPI NotConnected(DWORD)
{
    return ERROR_NOT_CONNECTED;
}

HINTERNET WINAPI NoSession(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)
{
    return nullptr;
}

class FernupTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start());
        ASSERT_TRUE(WriteBytes(m_game / "update.log", kLog));
        ASSERT_TRUE(CreateDirectoryA((m_game / "data").c_str(), nullptr));
        // Each test names its own work folder, as each definition would.
        m_digest = Md5Of(UniqueName("definition"));
        char temp[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        m_workFolder = std::string(temp) + m_digest + "\\";
    }

    void TearDown() override
    {
        m_server.Stop();
        g_attemptConnect = InternetAttemptConnect;
        g_internetOpen = InternetOpenA;
        RemoveTree(m_workFolder);
        DeleteFileA(m_workFolder.substr(0, m_workFolder.size() - 1).c_str());
    }

    // What the dialog hands the task before the start; keyed, the task
    // checks the SHA-256 that the entries carry as well.
    UpdateSettings Settings(MessageListWindow* messages, bool offline, bool keyed = false,
                            const std::string& game = std::string())
    {
        UpdateSettings settings = {};
        CopyInto(settings.gameFolder, game.empty() ? m_game.Path() : game);
        CopyInto(settings.offlineFolder, m_offline.Path());
        CopyInto(settings.definitionDigest, m_digest);
        CopyInto(settings.newVersion, "1.10");
        CopyInto(settings.newDay, "2024/05/01");
        settings.offline = offline ? 1 : 0;
        settings.checkSignedHashes = keyed ? 1 : 0;
        settings.messageList = messages->List();
        return settings;
    }

    template <size_t N>
    static void CopyInto(char (&field)[N], const std::string& text)
    {
        ASSERT_LT(text.size(), N);
        std::copy(text.begin(), text.end(), field);
        field[text.size()] = '\0';
    }

    // How a run ended: its failure code and the lines it wrote.
    struct Outcome {
        int32_t code;
        Lines lines;

        bool operator==(const Outcome& other) const
        {
            return code == other.code && lines == other.lines;
        }
        friend void PrintTo(const Outcome& outcome, std::ostream* out)
        {
            *out << "code " << outcome.code << ", lines "
                 << ::testing::PrintToString(outcome.lines);
        }
    };

    static Outcome Done() { return {0, {kRule, kRunning, kDone}}; }
    static Outcome Failed(int32_t code, const char* line)
    {
        return {code, {kRule, kRunning, line, kFailed}};
    }

    // A task over the entries with the fields set that the dialog sets, and
    // the message list it writes to.
    struct PreparedTask {
        PreparedTask(FernupTaskTest& test, const std::string& base, const EntryChain& entries,
                     bool offline, bool keyed = false, const std::string& game = std::string())
            : task(base.c_str(), entries.Head())
        {
            task.ApplySettings(test.Settings(&messages, offline, keyed, game));
        }
        Outcome Result() const { return {task.GetFailureCode(), messages.Lines()}; }

        MessageListWindow messages;  // outlives the task, which writes to it
        CFernupTask task;
    };

    Outcome Update(const std::string& base, const EntryChain& entries, bool offline)
    {
        PreparedTask prepared(*this, base, entries, offline);
        EXPECT_TRUE(RunTask(&prepared.task)) << "the update did not finish";
        return prepared.Result();
    }

    std::string Installed(const std::string& target)
    {
        std::string bytes;
        EXPECT_TRUE(ReadBytes(m_game / target, &bytes)) << target << " is not installed";
        return bytes;
    }

    // Each file of the list is in the game folder with exactly its bytes.
    ::testing::AssertionResult InstalledAre(const Files& files)
    {
        for (const auto& [target, bytes] : files) {
            std::string installed;
            if (!ReadBytes(m_game / target, &installed))
                return ::testing::AssertionFailure() << target << " is not installed";
            if (installed != bytes)
                return ::testing::AssertionFailure() << target << " differs: " << installed.size()
                                                     << " bytes, " << bytes.size() << " listed";
        }
        return ::testing::AssertionSuccess();
    }

    // The names in the temporary folder that begin with the digest: the work
    // folders a run left, and whatever a test put there.
    Lines WorkFoldersLeft() const
    {
        return FindNames(m_workFolder.substr(0, m_workFolder.size() - 1) + "*");
    }

    CannedHttpServer m_server;
    ScratchFolder m_game{"game"};
    ScratchFolder m_offline{"offline"};
    std::string m_digest;
    std::string m_workFolder;
};

TEST_F(FernupTaskTest, OnlineUpdateFromRealServer)
{
    NginxSite site = FindNginx();
    ASSERT_NE(0, site.port) << "the nginx fixture is not running";
    const std::string folder = UniqueName("update");
    const std::string root = site.root + folder + "\\";
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root + "sub").c_str(), nullptr));
    const std::string a = Pattern(300000, 20), b = Pattern(7000, 21), c = "テキスト\r\n";
    ASSERT_TRUE(WriteBytes(root + "a.dat", a));
    ASSERT_TRUE(WriteBytes(root + "sub\\b.bin", b));
    ASSERT_TRUE(WriteBytes(root + "c.txt", c));
    // "ソ" ends in the byte of "\": the folder and the name must stay whole.
    const std::string sjisFolder = "データソ";
    ASSERT_TRUE(CreateDirectoryA((m_game / sjisFolder).c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(m_game / "data\\b.bin", "old contents"));

    EntryChain entries;
    entries.Add("a.dat", "a.dat", 300000, Md5Of(a));
    entries.Add("sub/b.bin", "data\\b.bin", 7000, Md5Of(b));
    entries.Add("c.txt", sjisFolder + "\\ソフト.txt", static_cast<int32_t>(c.size()), Md5Of(c));

    Outcome outcome = Update(site.Address(folder + "/"), entries, false);
    EXPECT_EQ(Done(), outcome);
    EXPECT_TRUE(InstalledAre({{"a.dat", a}, {"data\\b.bin", b}, {sjisFolder + "\\ソフト.txt", c}}));
    EXPECT_EQ(kUpdatedLog, Installed("update.log"));
    EXPECT_EQ("[FILE_CHECK_LIST]\r\nFILE0001=a.dat:" + Md5Of(a) + "\r\nFILE0002=data\\b.bin:" +
                  Md5Of(b) + "\r\nFILE0003=" + sjisFolder + "\\ソフト.txt:" + Md5Of(c) + "\r\n",
              Installed("orvaCheck.cfg"));
    EXPECT_FALSE(PathExists(m_workFolder)) << "work folder left: " << m_workFolder;
    // Nothing else in the game folder: no copy left half-way.
    Files files = Snapshot(m_game.Path());
    Lines names;
    for (const auto& file : files)
        names.push_back(file.first);
    std::sort(names.begin(), names.end());
    Lines expected = {"a.dat",
                      "data\\",
                      "data\\b.bin",
                      "orvaCheck.cfg",
                      "update.log",
                      sjisFolder + "\\",
                      sjisFolder + "\\ソフト.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, names);
    for (UpdateFileEntry* e = entries.Head(); e != nullptr; e = e->next) {
        EXPECT_EQ(100, LoadProgress(e->downloadPercent)) << e->targetPath;
        EXPECT_EQ(kStateEnded, LoadProgress(e->downloadState)) << e->targetPath;
        EXPECT_EQ(100, LoadProgress(e->transferPercent)) << e->targetPath;
        EXPECT_EQ(kStateEnded, LoadProgress(e->transferState)) << e->targetPath;
    }
    RemoveTree(root);
}

TEST_F(FernupTaskTest, OfflineUpdateMergesCheckListAndKeepsPackage)
{
    const std::string x = Pattern(5000, 30), y = Pattern(100, 31), empty;
    ASSERT_TRUE(WriteBytes(m_offline / "x.dat", x));
    ASSERT_TRUE(WriteBytes(m_offline / "y.dat", y));
    ASSERT_TRUE(WriteBytes(m_offline / "empty.dat", empty));
    ASSERT_TRUE(WriteBytes(m_offline / "update.qdv", "definition"));
    const std::string stale(32, '0');
    // FILE0003 is missing, so FILE0004 is never read and stays as it is.
    const std::string checkList = "[FILE_CHECK_LIST]\r\nFILE0001=Data\\X.DAT:" + stale +
                                  "\r\nFILE0002=other.dat:" + stale +
                                  "\r\nFILE0004=y.dat:" + stale + "\r\n";
    ASSERT_TRUE(WriteBytes(m_game / "orvaCheck.cfg", checkList));
    // A read-only installed file is replaced all the same.
    ASSERT_TRUE(WriteBytes(m_game / "y.dat", "old"));
    ASSERT_TRUE(SetFileAttributesA((m_game / "y.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    Files package = Snapshot(m_offline.Path());

    EntryChain entries;
    entries.Add("ignored", "data\\x.dat", 5000, Md5Of(x));
    entries.Add("ignored", "y.dat", 100, Md5Of(y));
    entries.Add("ignored", "data\\empty.dat", 0, Md5Of(empty));

    Outcome outcome = Update(m_server.Address("/"), entries, true);
    EXPECT_EQ(Done(), outcome);
    EXPECT_TRUE(InstalledAre({{"data\\x.dat", x}, {"y.dat", y}, {"data\\empty.dat", empty}}));
    EXPECT_EQ(0u, GetFileAttributesA((m_game / "y.dat").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(kUpdatedLog, Installed("update.log"));
    EXPECT_EQ("[FILE_CHECK_LIST]\r\nFILE0001=Data\\X.DAT:" + Md5Of(x) + "\r\nFILE0002=other.dat:" +
                  stale + "\r\nFILE0004=y.dat:" + stale + "\r\nFILE0003=y.dat:" + Md5Of(y) +
                  "\r\nFILE0005=data\\empty.dat:" + Md5Of(empty) + "\r\n",
              Installed("orvaCheck.cfg"));
    EXPECT_EQ(package, Snapshot(m_offline.Path())) << "the package folder changed";
    EXPECT_TRUE(m_server.Requests().empty()) << "an offline update fetched something";
}

TEST_F(FernupTaskTest, FetchPhaseFailureLeavesGameFolderAsItWas)
{
    const std::string good = Pattern(3000, 40), bad = Pattern(3000, 41);
    ASSERT_TRUE(WriteBytes(m_game / "data\\good.dat", "installed"));
    ASSERT_TRUE(WriteBytes(m_game / "orvaCheck.cfg", "[FILE_CHECK_LIST]\r\nFILE0001=x:y\r\n"));
    m_server.SetReply("/good.dat", CannedHttpServer::Ok(good));
    m_server.SetReply("/bad.dat", CannedHttpServer::Ok(bad));
    m_server.SetReply("/reset.dat", CannedHttpServer::Ok(bad.substr(0, 1000), 3000, Ending::Reset));
    m_server.SetReply("/short.dat", CannedHttpServer::Ok(bad.substr(0, 1000), 3000));
    std::string upper = Md5Of(bad);
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);

    struct Case {
        const char* what;
        std::string source;  // of the failing second entry
        std::string md5;
        std::string base;
        AttemptConnectProc attempt;
        InternetOpenProc open;
        int32_t code;
        const char* line;
    };
    const std::string base = m_server.Address("/");
    const Case cases[] = {
        {"no Internet", "bad.dat", Md5Of(bad), base, NotConnected, InternetOpenA, 1, kNoInternet},
        {"no session", "bad.dat", Md5Of(bad), base, InternetAttemptConnect, NoSession, 2,
         kNoSession},
        {"download breaks off", "reset.dat", Md5Of(bad), base, InternetAttemptConnect,
         InternetOpenA, 4, kBrokenOff},
        {"server refuses", "bad.dat", Md5Of(bad), RefusedAddress("/"), InternetAttemptConnect,
         InternetOpenA, 5, kCannotDownload},
        {"error page", "missing.dat", Md5Of(bad), base, InternetAttemptConnect, InternetOpenA, 5,
         kBadDownload},
        {"body ends early", "short.dat", Md5Of(bad), base, InternetAttemptConnect, InternetOpenA, 5,
         kBadDownload},
        {"upper-case digest", "bad.dat", upper, base, InternetAttemptConnect, InternetOpenA, 5,
         kBadDownload},
        {"digest emptied by the check", "bad.dat", "", base, InternetAttemptConnect, InternetOpenA,
         5, kBadDownload},
    };
    const Files before = Snapshot(m_game.Path());
    for (const Case& c : cases) {
        EntryChain entries;
        entries.Add("good.dat", "data\\good.dat", 3000, Md5Of(good));
        entries.Add(c.source, "data\\bad.dat", 3000, c.md5);
        entries.Add("good.dat", "data\\later.dat", 3000, Md5Of(good));
        g_attemptConnect = c.attempt;
        g_internetOpen = c.open;
        // The refused case has no server behind it; the first entry still
        // must not be installed.
        Outcome outcome = Update(c.base, entries, false);
        g_attemptConnect = InternetAttemptConnect;
        g_internetOpen = InternetOpenA;
        EXPECT_EQ(Failed(c.code, c.line), outcome) << c.what;
        EXPECT_TRUE(before == Snapshot(m_game.Path())) << c.what << ": the game folder changed";
        EXPECT_EQ(Lines{}, WorkFoldersLeft()) << c.what;
    }
}

TEST_F(FernupTaskTest, ADownloadThatFailsItsCheckIsFetchedOnceMoreByItsDigest)
{
    // /a.dat is what a cache kept from the release before; under the query
    // that names the listed digest the server's own file comes.
    const std::string stale = Pattern(3000, 42), fresh = Pattern(3000, 43), b = Pattern(500, 44);
    const std::string query = "/a.dat?md5=" + Md5Of(fresh);
    m_server.SetReply("/a.dat", CannedHttpServer::Ok(stale));
    m_server.SetReply(query, CannedHttpServer::Ok(fresh));
    m_server.SetReply("/b.dat", CannedHttpServer::Ok(b));
    EntryChain entries;
    entries.Add("a.dat", "data\\a.dat", 3000, Md5Of(fresh));
    entries.Add("b.dat", "data\\b.dat", 500, Md5Of(b));
    EXPECT_EQ(Done(), Update(m_server.Address("/"), entries, false));
    EXPECT_TRUE(InstalledAre({{"data\\a.dat", fresh}, {"data\\b.dat", b}}));
    Lines asked;
    for (const std::string& request : m_server.Requests())
        asked.push_back(request.substr(0, request.find(" HTTP/")));
    EXPECT_EQ((Lines{"GET /a.dat", "GET " + query, "GET /b.dat"}), asked)
        << "one more request for the file that failed, none for the other";

    // The server's own file fails as well: the update fails as it always
    // did, after that one more request.
    m_server.SetReply(query, CannedHttpServer::Ok(stale));
    ASSERT_TRUE(WriteBytes(m_game / "data\\a.dat", "older"));
    const size_t before = m_server.Requests().size();
    EXPECT_EQ(Failed(5, kBadDownload), Update(m_server.Address("/"), entries, false));
    EXPECT_EQ(2u, m_server.Requests().size() - before) << "b.dat is installed already";
    EXPECT_TRUE(InstalledAre({{"data\\a.dat", "older"}, {"data\\b.dat", b}}));
}

TEST_F(FernupTaskTest, UnsafePathRefusedBeforeAnything)
{
    const std::string bytes = "payload";
    m_server.SetReply("/a.dat", CannedHttpServer::Ok(bytes));
    const std::pair<std::string, std::string> cases[] = {
        {"a.dat", "..\\escaped.dat"},
        {"a.dat", "data\\..\\..\\escaped.dat"},
        {"a.dat", "C:\\escaped.dat"},
        {"a.dat", "\\\\server\\share\\escaped.dat"},
        {"a.dat", "\\escaped.dat"},
        {"a.dat", ""},
        {"../a.dat", "data\\a.dat"},
        {"sub/%2e%2e/%2e%2e/a.dat", "data\\a.dat"},
        {"sub/%2e%2e%2f%2e%2e%2fa.dat", "data\\a.dat"},
        {"sub%5c..%5c..%5ca.dat", "data\\a.dat"},
        // Devices: under Wine an update that writes to one never ends.
        {"a.dat", "data\\COM1"},
        {"a.dat", "AUX.txt"},
        {"a.dat", "data\\lpt1.dat"},
        {"a.dat", "nul \\a.dat"},
    };
    const Files before = Snapshot(m_game.Path());
    for (const auto& c : cases) {
        EntryChain entries;
        entries.Add("a.dat", "data\\first.dat", 7, Md5Of(bytes));
        entries.Add(c.first, c.second, 7, Md5Of(bytes));
        Outcome outcome = Update(m_server.Address("/"), entries, false);
        EXPECT_EQ(Failed(9, kUnsafePath), outcome) << c.first << " -> " << c.second;
        EXPECT_TRUE(before == Snapshot(m_game.Path())) << c.second;
        EXPECT_FALSE(PathExists(m_workFolder)) << "work folder made for " << c.second;
    }
    EXPECT_TRUE(m_server.Requests().empty()) << "fetched despite an unsafe path";

    // Offline the source path is not used; the target path still counts.
    EntryChain entries;
    entries.Add("../../anything", "..\\escaped.dat", 7, Md5Of(bytes));
    ASSERT_TRUE(WriteBytes(m_offline / "escaped.dat", bytes));
    Outcome outcome = Update(m_server.Address("/"), entries, true);
    EXPECT_EQ(Failed(9, kUnsafePath), outcome);
}

// Stored definitions hold target paths with a lone "." or a doubled
// separator inside; they install where the plain path points.
TEST_F(FernupTaskTest, DotAndDoubledSeparatorInsideATargetInstall)
{
    const std::string x = Pattern(3000, 50), y = Pattern(200, 51);
    ASSERT_TRUE(WriteBytes(m_offline / "x.dat", x));
    ASSERT_TRUE(WriteBytes(m_offline / "y.dat", y));
    EntryChain entries;
    entries.Add("ignored", ".\\data\\x.dat", 3000, Md5Of(x));
    entries.Add("ignored", "data\\\\y.dat", 200, Md5Of(y));
    Outcome outcome = Update(m_server.Address("/"), entries, true);
    EXPECT_EQ(Done(), outcome);
    EXPECT_TRUE(InstalledAre({{"data\\x.dat", x}, {"data\\y.dat", y}}));
}

// Offline nothing is fetched, yet the reachability test and the session
// come first as online, and their failures end the update the same way.
TEST_F(FernupTaskTest, OfflineUpdateStillNeedsInternetAndASession)
{
    const std::string x = Pattern(300, 52);
    ASSERT_TRUE(WriteBytes(m_offline / "x.dat", x));
    const Files before = Snapshot(m_game.Path());
    struct Case {
        AttemptConnectProc attempt;
        InternetOpenProc open;
        int32_t code;
        const char* line;
    };
    const Case cases[] = {{NotConnected, InternetOpenA, 1, kNoInternet},
                          {InternetAttemptConnect, NoSession, 2, kNoSession}};
    for (const Case& c : cases) {
        EntryChain entries;
        entries.Add("ignored", "data\\x.dat", 300, Md5Of(x));
        g_attemptConnect = c.attempt;
        g_internetOpen = c.open;
        Outcome outcome = Update(m_server.Address("/"), entries, true);
        g_attemptConnect = InternetAttemptConnect;
        g_internetOpen = InternetOpenA;
        EXPECT_EQ(Failed(c.code, c.line), outcome);
        EXPECT_TRUE(before == Snapshot(m_game.Path())) << "the game folder changed";
    }
}

// A download from a host that has moved arrives; one that redirects for
// ever cannot be had. The requests carry the update task's agent.
TEST_F(FernupTaskTest, DownloadFollowsAMovedHostButNoLoop)
{
    CannedHttpServer moved;
    ASSERT_TRUE(moved.Start());
    const std::string x = Pattern(40000, 53);
    m_server.SetReply("/x.dat", CannedHttpServer::Redirect(moved.Address("/files/x.dat")));
    moved.SetReply("/files/x.dat", CannedHttpServer::Ok(x));
    m_server.SetReply("/loop.dat", CannedHttpServer::Redirect("/loop.dat", 302));

    EntryChain entries;
    entries.Add("x.dat", "data\\x.dat", 40000, Md5Of(x));
    Outcome outcome = Update(m_server.Address("/"), entries, false);
    EXPECT_EQ(Done(), outcome);
    EXPECT_TRUE(x == Installed("data\\x.dat"));
    std::vector<std::string> requests = moved.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(0u, requests[0].find("GET /files/x.dat ")) << requests[0];
    EXPECT_NE(std::string::npos, requests[0].find("\r\nUser-Agent: FernupTask\r\n")) << requests[0];

    const Files before = Snapshot(m_game.Path());
    EntryChain looping;
    looping.Add("loop.dat", "data\\loop.dat", 10, Md5Of("0123456789"));
    const DWORD start = GetTickCount();
    outcome = Update(m_server.Address("/"), looping, false);
    EXPECT_EQ(Failed(5, kCannotDownload), outcome);
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_TRUE(before == Snapshot(m_game.Path())) << "the game folder changed";
}

const CFernupTask* g_watchedUpdate = nullptr;
CannedHttpServer* g_watchedServer = nullptr;

// The system timer ticks every millisecond from the update's start until
// just before its finished flag.
TEST_F(FernupTaskTest, FineTimerHeldForTheLengthOfTheUpdate)
{
    const std::string x = Pattern(5000, 54);
    m_server.SetReply("/x.dat", CannedHttpServer::Ok(x));
    g_watchedServer = &m_server;
    TimerPeriodLog log([] { return g_watchedUpdate->IsFinished(); },
                       [] { return g_watchedServer->Requests().size(); });
    EntryChain entries;
    entries.Add("x.dat", "data\\x.dat", 5000, Md5Of(x));
    PreparedTask prepared(*this, m_server.Address("/"), entries, false);
    g_watchedUpdate = &prepared.task;
    ASSERT_TRUE(RunTask(&prepared.task));
    ASSERT_EQ(0, prepared.task.GetFailureCode());
    std::vector<TimerPeriodLog::Call> calls = log.Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("begin 1", calls[0].what);
    EXPECT_EQ(0u, calls[0].requests);
    EXPECT_FALSE(calls[0].finished);
    EXPECT_EQ("end 1", calls[1].what);
    EXPECT_EQ(1u, calls[1].requests);
    EXPECT_FALSE(calls[1].finished) << "released after the finished flag";
}

// The temporary folder is the user's: whatever another program put at the
// work folder's name (a file, a folder with a link inside, a link to a folder
// elsewhere) is neither used nor changed nor removed, and the update works.
TEST_F(FernupTaskTest, WhatStandsAtTheWorkFolderNameIsNeitherUsedNorTouched)
{
    ScratchFolder outside("outside");
    outside.Write("victim.dat", "not the updater's");
    const std::string planted = m_workFolder.substr(0, m_workFolder.size() - 1);
    struct Case {
        const char* what;
        bool (*plant)(const std::string& at, const ScratchFolder& outside);
    };
    const Case cases[] = {
        {"a file",
         [](const std::string& at, const ScratchFolder&) { return WriteBytes(at, "in the way"); }},
        {"a folder with a link at the copy's name",
         [](const std::string& at, const ScratchFolder& outside) {
             return CreateDirectoryA(at.c_str(), nullptr) &&
                    RunUnixCommand({"/bin/ln", "-s", UnixPath(outside / "victim.dat"),
                                    UnixPath(at + "\\a.dat")});
         }},
        {"a link to a folder elsewhere",
         [](const std::string& at, const ScratchFolder& outside) {
             return RunUnixCommand({"/bin/ln", "-s", UnixPath(outside.Path()), UnixPath(at)});
         }},
    };
    m_server.SetReply("/a.dat", CannedHttpServer::Ok("abc"));
    for (const Case& c : cases) {
        if (!RunningUnderWine() && c.plant != cases[0].plant)
            continue;  // the links are made by a Unix program
        ASSERT_TRUE(c.plant(planted, outside)) << c.what;
        const Files inside = Snapshot(planted + "\\"), beside = Snapshot(outside.Path());
        EntryChain entries;
        entries.Add("a.dat", "a.dat", 3, Md5Of("abc"));
        EXPECT_EQ(Done(), Update(m_server.Address("/"), entries, false)) << c.what;
        EXPECT_EQ("abc", Installed("a.dat")) << c.what;
        EXPECT_TRUE(inside == Snapshot(planted + "\\")) << c.what;
        EXPECT_TRUE(beside == Snapshot(outside.Path())) << c.what << ": outside changed";
        // Only what was planted is left; links go by a Unix program, as
        // Wine's own deletes would reach through them.
        EXPECT_EQ(Lines{m_digest}, WorkFoldersLeft()) << c.what;
        ASSERT_TRUE(RunningUnderWine() ? RunUnixCommand({"/bin/rm", "-r", UnixPath(planted)})
                                       : DeleteFileA(planted.c_str()))
            << c.what;
    }
}

TEST_F(FernupTaskTest, OfflineFileMissingFailsItsCheck)
{
    ASSERT_TRUE(WriteBytes(m_offline / "here.dat", "here"));
    EntryChain entries;
    entries.Add("", "here.dat", 4, Md5Of("here"));
    entries.Add("", "data\\absent.dat", 4, Md5Of("gone"));
    const Files before = Snapshot(m_game.Path());
    const Files package = Snapshot(m_offline.Path());
    Outcome outcome = Update(m_server.Address("/"), entries, true);
    EXPECT_EQ(Failed(5, kBadDownload), outcome);
    EXPECT_TRUE(before == Snapshot(m_game.Path()));
    EXPECT_TRUE(package == Snapshot(m_offline.Path()));
}

TEST_F(FernupTaskTest, InstallFailureKeepsEarlierFilesAndRecordsNothing)
{
    const std::string one = Pattern(2000, 50), two = Pattern(2000, 51);
    ASSERT_TRUE(WriteBytes(m_offline / "one.dat", one));
    ASSERT_TRUE(WriteBytes(m_offline / "two.dat", two));
    ASSERT_TRUE(WriteBytes(m_game / "data\\two.dat", "old two"));
    EntryChain entries;
    entries.Add("", "data\\one.dat", 2000, Md5Of(one));
    entries.Add("", "nofolder\\two.dat", 2000, Md5Of(two));
    entries.Add("", "data\\two.dat", 2000, Md5Of(two));
    Outcome outcome = Update(m_server.Address("/"), entries, true);
    EXPECT_EQ(Failed(21, kCannotOpen), outcome);
    EXPECT_TRUE(one == Installed("data\\one.dat"));
    EXPECT_EQ("old two", Installed("data\\two.dat"));
    EXPECT_FALSE(PathExists(m_game / "nofolder"));
    EXPECT_EQ(kLog, Installed("update.log"));
    EXPECT_FALSE(PathExists(m_game / "orvaCheck.cfg"));
    EXPECT_EQ(kStateEnded, entries.At(0)->transferState);
    EXPECT_EQ(kStateRunning, entries.At(1)->transferState);
    EXPECT_EQ(kStateNotBegun, entries.At(2)->transferState);
}

// Two files of one name for two folders each get a work-folder copy of their
// own, whether their bytes differ or not.
TEST_F(FernupTaskTest, FilesOfOneNameForTwoFoldersEachHaveTheirOwnCopy)
{
    const std::string first = Pattern(1500, 60), second = Pattern(1500, 61);
    m_server.SetReply("/first.dat", CannedHttpServer::Ok(first));
    m_server.SetReply("/second.dat", CannedHttpServer::Ok(second));
    ASSERT_TRUE(CreateDirectoryA((m_game / "other").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((m_game / "third").c_str(), nullptr));
    EntryChain entries;
    entries.Add("first.dat", "data\\same.dat", 1500, Md5Of(first));
    entries.Add("second.dat", "other\\same.dat", 1500, Md5Of(second));
    entries.Add("first.dat", "third\\SAME.dat", 1500, Md5Of(first));
    EXPECT_EQ(Done(), Update(m_server.Address("/"), entries, false));
    EXPECT_TRUE(InstalledAre(
        {{"data\\same.dat", first}, {"other\\same.dat", second}, {"third\\SAME.dat", first}}));
    EXPECT_EQ(Lines{}, WorkFoldersLeft());
}

TEST_F(FernupTaskTest, EmptyFileListGoesStraightToRecord)
{
    EntryChain entries;
    Outcome outcome = Update(m_server.Address("/"), entries, false);
    EXPECT_EQ(Done(), outcome);
    EXPECT_EQ(kUpdatedLog, Installed("update.log"));
    EXPECT_FALSE(PathExists(m_workFolder));
}

TEST_F(FernupTaskTest, SecondRunChangesNothing)
{
    ASSERT_TRUE(WriteBytes(m_offline / "x.dat", "x"));
    EntryChain entries;
    entries.Add("", "x.dat", 1, Md5Of("x"));
    PreparedTask prepared(*this, m_server.Address("/"), entries, true);
    ASSERT_TRUE(RunTask(&prepared.task));
    ASSERT_EQ(0, prepared.task.GetFailureCode());
    const Files after = Snapshot(m_game.Path());
    ASSERT_TRUE(DeleteFileA((m_offline / "x.dat").c_str()));

    EXPECT_EQ(0, prepared.task.Run());
    EXPECT_EQ(Done(), prepared.Result());
    EXPECT_TRUE(after == Snapshot(m_game.Path()));
}

// Steps driven one at a time, for faults a whole run cannot reach on demand.
class FernupTaskStepTest : public FernupTaskTest {
protected:
    // A task whose steps the test calls itself, taking its files from work
    // (the offline package's folder unless given).
    struct StepTask : PreparedTask {
        StepTask(FernupTaskStepTest& test, const EntryChain& entries, const std::string& work,
                 bool keyed = false, const std::string& game = std::string())
            : PreparedTask(test, test.m_server.Address("/"), entries, true, keyed, game)
        {
            // Class 4 reads through a plain buffer.
            task.PrepareSteps(work.c_str(), 4);
        }
        StepTask(FernupTaskStepTest& test, const EntryChain& entries)
            : StepTask(test, entries, test.m_offline.Path())
        {
        }
    };
};

// A file of the kernel's: its size says 4096 bytes, a read gives far fewer.
const char* const kShortFolder = "Z:\\sys\\devices\\system\\cpu\\";
const char* const kShortName = "online";

TEST_F(FernupTaskStepTest, FileShorterThanItsSizeEndsCopyAndHash)
{
    if (!PathExists(std::string(kShortFolder) + kShortName))
        GTEST_SKIP() << "needs Wine's Z: drive over a Linux /sys";
    ASSERT_TRUE(WriteBytes(m_game / "online", "installed before"));
    EntryChain entries;
    UpdateFileEntry* entry = entries.Add("", kShortName, 4096, std::string(32, '0'));

    StepTask steps(*this, entries, kShortFolder);
    DWORD start = GetTickCount();
    EXPECT_EQ(5, steps.task.VerifyDownloaded(entry));
    EXPECT_EQ(100, entry->downloadPercent);
    EXPECT_EQ(kStateEnded, entry->downloadState);

    steps.task.ClearFailure();
    EXPECT_EQ(7, steps.task.TransferFile(entry));
    EXPECT_LT(GetTickCount() - start, 5000u) << "a short read did not end the loop";
    EXPECT_EQ((Lines{kBadDownload, kCopyFailed}), steps.messages.Lines());
    // The installed file is as it was and no copy is left beside it.
    EXPECT_EQ("installed before", Installed("online"));
    Files files = Snapshot(m_game.Path());
    EXPECT_EQ(3u, files.size()) << "a copy was left in the game folder";
}

TEST_F(FernupTaskStepTest, InstalledFileThatCannotBeOpenedIsJudgedByItsListedSize)
{
    // Held without sharing, the file yields no bytes. One with bytes then
    // falls short of its size; an empty one is the digest of no bytes, as its
    // size in the folder says, and passes.
    struct Case {
        const char* name;
        std::string bytes;
        int32_t code;
        Lines lines;
    };
    const Case cases[] = {{"held.dat", "ten bytes!", 8, {kBadInstall}}, {"empty.dat", "", 0, {}}};
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(m_game / c.name, c.bytes));
        HANDLE holder = CreateFileA((m_game / c.name).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder) << c.name;
        EntryChain entries;
        UpdateFileEntry* entry =
            entries.Add("", c.name, static_cast<int32_t>(c.bytes.size()), Md5Of(c.bytes));
        StepTask steps(*this, entries);
        EXPECT_EQ(c.code, steps.task.VerifyInstalled(entry)) << c.name;
        EXPECT_EQ(c.lines, steps.messages.Lines()) << c.name;
        EXPECT_EQ(100, entry->transferPercent) << c.name;
        EXPECT_EQ(kStateEnded, entry->transferState) << c.name;
        CloseHandle(holder);
    }
}

TEST_F(FernupTaskStepTest, InstalledFileIsReplacedWhateverItsAttributes)
{
    // Windows refuses to replace a read-only file; Wine replaces it all the
    // same, so here only the outcome is seen, not the clearing that gets it.
    const DWORD kCleared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD cases[] = {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                           FILE_ATTRIBUTE_SYSTEM, kCleared};
    ASSERT_TRUE(WriteBytes(m_offline / "a.dat", "new bytes"));
    for (DWORD attributes : cases) {
        const std::string installed = m_game / "a.dat";
        SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(WriteBytes(installed, "old")) << attributes;
        ASSERT_TRUE(SetFileAttributesA(installed.c_str(), attributes)) << attributes;
        EntryChain entries;
        UpdateFileEntry* entry = entries.Add("", "a.dat", 9, Md5Of("new bytes"));
        StepTask steps(*this, entries);
        EXPECT_EQ(0, steps.task.TransferFile(entry)) << "attributes " << attributes;
        EXPECT_EQ("new bytes", Installed("a.dat")) << "attributes " << attributes;
        EXPECT_EQ(0u, GetFileAttributesA(installed.c_str()) & kCleared)
            << "attributes " << attributes;
    }
}

TEST_F(FernupTaskStepTest, CopyLeavesFilesOfTheTemporaryPatternAsTheyWere)
{
    // The copy's temporary name is numbered from the tick count. Files of that
    // pattern that are already there (an earlier run's, or anyone's) are made
    // to lie on the numbers of the coming moment: the copy has to step past
    // every one of them, and must neither write nor delete any.
    ASSERT_TRUE(WriteBytes(m_offline / "new.dat", "new bytes"));
    ASSERT_TRUE(WriteBytes(m_game / "data\\new.dat", "old bytes"));
    const std::string folder = m_game / "data\\";
    constexpr UINT kTaken = 300, kLead = 300, kLate = 100;
    std::vector<std::string> taken;
    for (int attempt = 0; attempt < 5 && taken.empty(); ++attempt) {
        const UINT start = GetTickCount() + kLead;
        for (UINT n = 0; n < kTaken; ++n) {
            char name[MAX_PATH];
            const UINT unique = (start + n) & 0xFFFF;
            if (unique == 0 || GetTempFileNameA(folder.c_str(), "fup", unique, name) == 0)
                continue;
            ASSERT_TRUE(WriteBytes(name, "someone's")) << name;
            taken.push_back(name);
        }
        while (GetTickCount() < start)
            Sleep(1);
        // Too late to be sure the copy starts among them: try again.
        if (GetTickCount() - start > kLate) {
            for (const std::string& name : taken)
                DeleteFileA(name.c_str());
            taken.clear();
        }
    }
    ASSERT_FALSE(taken.empty()) << "the numbers of the coming moment could not be taken";

    EntryChain entries;
    UpdateFileEntry* entry = entries.Add("", "data\\new.dat", 9, Md5Of("new bytes"));
    StepTask steps(*this, entries);
    EXPECT_EQ(0, steps.task.TransferFile(entry));
    EXPECT_EQ(0, steps.task.VerifyInstalled(entry));
    EXPECT_EQ(Lines{}, steps.messages.Lines());
    EXPECT_EQ("new bytes", Installed("data\\new.dat"));
    for (const std::string& name : taken) {
        std::string bytes;
        EXPECT_TRUE(ReadBytes(name, &bytes)) << name << " is gone";
        EXPECT_EQ("someone's", bytes) << name;
    }
    // Only the installed file came in: no copy was left beside it.
    const std::string inside = "data\\";
    size_t inData = 0;
    for (const auto& file : Snapshot(m_game.Path()))
        inData += file.first.size() > inside.size() && file.first.rfind(inside, 0) == 0 ? 1 : 0;
    EXPECT_EQ(taken.size() + 1, inData);
}

TEST_F(FernupTaskStepTest, TransferWithoutSourceOrFolderFailsWithCode21)
{
    ASSERT_TRUE(WriteBytes(m_offline / "present.dat", "present"));
    struct Case {
        const char* target;
    };
    const Case cases[] = {{"data\\absent.dat"}, {"nofolder\\present.dat"}};
    for (const Case& c : cases) {
        EntryChain entries;
        UpdateFileEntry* entry = entries.Add("", c.target, 7, Md5Of("present"));
        StepTask steps(*this, entries);
        EXPECT_EQ(21, steps.task.TransferFile(entry)) << c.target;
        EXPECT_EQ(Lines{kCannotOpen}, steps.messages.Lines()) << c.target;
        EXPECT_EQ(kStateRunning, entry->transferState) << c.target;
    }
    EXPECT_FALSE(PathExists(m_game / "nofolder"));
    EXPECT_FALSE(PathExists(m_game / "data\\absent.dat"));
}

// The access list of a file, as text (SDDL), or empty when it cannot be read.
std::string AccessList(const std::string& path)
{
    alignas(8) unsigned char descriptor[4096];
    DWORD needed = 0;
    char* text = nullptr;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return "";
    std::string list = text;
    LocalFree(text);
    return list;
}

// Opens path to everyone for writing, as an installer does for saves and
// settings; returns the access list the file then has.
std::string OpenToEveryone(const std::string& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;;FA;;;WD)(A;;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_TRUE(SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor)) << path;
    LocalFree(descriptor);
    return AccessList(path);
}

TEST_F(FernupTaskStepTest, ReplacedFileKeepsItsAccessList)
{
    ASSERT_TRUE(WriteBytes(m_offline / "settings.ini", "new settings"));
    ASSERT_TRUE(WriteBytes(m_offline / "fresh.dat", "fresh"));
    ASSERT_TRUE(WriteBytes(m_game / "settings.ini", "old settings"));
    ASSERT_TRUE(WriteBytes(m_game / "plain.ini", "a file as the folder makes them"));
    const std::string plain = AccessList(m_game / "plain.ini");
    const std::string opened = OpenToEveryone(m_game / "settings.ini");
    // Wine keeps an access list as Unix permissions: what it can show is
    // whether everyone may write.
    ASSERT_NE(plain, opened) << "the platform cannot tell the two access lists apart";

    EntryChain entries;
    UpdateFileEntry* replaced = entries.Add("", "settings.ini", 12, Md5Of("new settings"));
    UpdateFileEntry* added = entries.Add("", "fresh.dat", 5, Md5Of("fresh"));
    StepTask steps(*this, entries);
    EXPECT_EQ(0, steps.task.TransferFile(replaced));
    EXPECT_EQ(0, steps.task.TransferFile(added));
    EXPECT_EQ(Lines{}, steps.messages.Lines());
    EXPECT_EQ("new settings", Installed("settings.ini"));
    EXPECT_EQ(opened, AccessList(m_game / "settings.ini"));
    EXPECT_EQ(plain, AccessList(m_game / "fresh.dat")) << "a new file takes the folder's";
}

TEST_F(FernupTaskStepTest, CopyIsWrittenInPlaceWhereNoTemporaryNameFits)
{
    // A game folder whose path leaves room for the installed file's name but
    // not for a temporary one beside it: 250 characters, "a.dat" 5 more.
    std::string game = m_game.Path();
    while (game.size() < 250) {
        const size_t remaining = 250 - game.size();
        game += std::string(remaining > 61 ? 40 : remaining - 1, 'g') + "\\";
        ASSERT_TRUE(CreateDirectoryA(game.c_str(), nullptr)) << game;
    }
    ASSERT_EQ(250u, game.size());
    ASSERT_TRUE(WriteBytes(m_offline / "a.dat", "new bytes"));
    ASSERT_TRUE(WriteBytes(m_offline / "b.dat", "bytes of a new file"));
    ASSERT_TRUE(WriteBytes(game + "a.dat", "old"));
    const std::string opened = OpenToEveryone(game + "a.dat");

    EntryChain entries;
    UpdateFileEntry* replaced = entries.Add("", "a.dat", 9, Md5Of("new bytes"));
    UpdateFileEntry* added = entries.Add("", "b.dat", 19, Md5Of("bytes of a new file"));
    StepTask steps(*this, entries, m_offline.Path(), false, game);
    EXPECT_EQ(0, steps.task.TransferFile(replaced));
    EXPECT_EQ(0, steps.task.TransferFile(added));
    EXPECT_EQ(Lines{}, steps.messages.Lines());
    Files files = Snapshot(game);
    std::sort(files.begin(), files.end());
    EXPECT_EQ((Files{{"a.dat", "new bytes"}, {"b.dat", "bytes of a new file"}}), files);
    EXPECT_EQ(opened, AccessList(game + "a.dat")) << "the same file was written";
}

TEST_F(FernupTaskStepTest, LeftoversOfAnInterruptedRunAreRemovedAndNothingElse)
{
    ASSERT_TRUE(CreateDirectoryA((m_game / "save").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(m_offline / "one.dat", "one"));
    ASSERT_TRUE(WriteBytes(m_offline / "two.dat", "two"));
    const char* const leftovers[] = {"data\\~fup0001.tmp", "data\\~fupBEEF.tmp", "~fupA0A0.tmp"};
    for (const char* name : leftovers)
        ASSERT_TRUE(WriteBytes(m_game / name, Pattern(70000, 5))) << name;
    // Near misses, a folder of the very form, and a leftover in a folder that
    // this update does not install into.
    const char* const others[] = {
        "data\\~fup1a2b.tmp",  "data\\fup1A2B.tmp", "data\\~fup1A2B.tmp.bak",
        "data\\~fupABCDE.tmp", "data\\rf40A3.tmp",  "save\\~fup0002.tmp",
        "~fup1A2B.txt"};
    for (const char* name : others)
        ASSERT_TRUE(WriteBytes(m_game / name, name)) << name;
    ASSERT_TRUE(CreateDirectoryA((m_game / "data\\~fup2222.tmp").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(m_game / "data\\~fup2222.tmp\\inside.dat", "inside"));

    EntryChain entries;
    entries.Add("", "data\\one.dat", 3, Md5Of("one"));
    entries.Add("", "data\\two.dat", 3, Md5Of("two"));
    entries.Add("", "one.dat", 3, Md5Of("one"));
    StepTask steps(*this, entries);
    for (UpdateFileEntry* entry = entries.Head(); entry != nullptr; entry = entry->next)
        EXPECT_EQ(0, steps.task.TransferFile(entry)) << entry->targetPath;

    for (const char* name : leftovers)
        EXPECT_FALSE(PathExists(m_game / name)) << name << " was left";
    for (const char* name : others) {
        std::string bytes;
        EXPECT_TRUE(ReadBytes(m_game / name, &bytes)) << name << " is gone";
        EXPECT_EQ(name, bytes);
    }
    EXPECT_TRUE(PathExists(m_game / "data\\~fup2222.tmp\\inside.dat"));
    EXPECT_EQ("two", Installed("data\\two.dat"));
}

// Gives the entry the SHA-256 of bytes, as a signature binds it.
void BindSha256(UpdateFileEntry* entry, const std::string& bytes)
{
    entry->sha256Bound = 1;
    ASSERT_TRUE(Sha256Of(bytes.data(), static_cast<uint32_t>(bytes.size()), entry->sha256));
}

// Another program of the player's writes bytes into path: a Unix program,
// which no sharing mode of Wine's holds off, as the worst that can happen.
bool ChangeFromOutside(ScratchFolder& scratch, const std::string& path, const std::string& bytes)
{
    return RunUnixCommand(
        {"/bin/cp", UnixPath(scratch.Write("altered.dat", bytes)), UnixPath(path)});
}

const UpdateFileEntry* g_attacked = nullptr;
std::string g_attackedPath;
bool g_attackedDone = false;

// What is installed is what was checked: a copy changed by another program
// after its check (online in the work folder, while a later file is still on
// its way; offline in the package) is refused as it is installed, and the
// installed file stays as it was; with the signed SHA-256 checked and without.
TEST_F(FernupTaskStepTest, ACopyChangedAfterItsCheckIsNeverInstalled)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "the other program is a Unix one";
    const std::string a = Pattern(3000, 70), b = Pattern(2000, 71);
    m_server.SetReply("/a.dat", CannedHttpServer::Ok(a));
    CannedHttpServer::Reply slow = CannedHttpServer::Ok(b);
    slow.delayMs = 3000;
    m_server.SetReply("/b.dat", slow);
    ASSERT_TRUE(WriteBytes(m_offline / "a.dat", a));
    ScratchFolder scratch("attacker");
    struct Case {
        bool online;
        bool keyed;
    };
    for (const Case c :
         {Case{true, false}, Case{true, true}, Case{false, false}, Case{false, true}}) {
        SCOPED_TRACE(std::string(c.online ? "online" : "offline") + (c.keyed ? ", keyed" : ""));
        ASSERT_TRUE(WriteBytes(m_game / "data\\a.dat", "installed"));
        const Files before = Snapshot(m_game.Path());
        EntryChain entries;
        UpdateFileEntry* first = entries.Add("a.dat", "data\\a.dat", 3000, Md5Of(a));
        UpdateFileEntry* second = entries.Add("b.dat", "data\\b.dat", 2000, Md5Of(b));
        if (c.keyed) {
            BindSha256(first, a);
            BindSha256(second, b);
        }
        if (c.online) {
            PreparedTask prepared(*this, m_server.Address("/"), entries, false, c.keyed);
            g_attacked = first;
            g_attackedPath = m_workFolder + "a.dat";
            g_attackedDone = false;
            ASSERT_TRUE(RunTaskToEnd(&prepared.task, [](CWinThreadMaster* task) {
                if (!g_attackedDone && LoadProgress(g_attacked->downloadState) == kStateEnded) {
                    static ScratchFolder attacker("attacker");
                    g_attackedDone = ChangeFromOutside(attacker, g_attackedPath, Pattern(3000, 72));
                }
                return static_cast<CFernupTask*>(task)->IsFinished();
            }));
            ASSERT_TRUE(g_attackedDone) << "the copy was not changed in time";
            EXPECT_EQ(Failed(8, kBadInstall), prepared.Result());
            EXPECT_EQ(Lines{}, WorkFoldersLeft());
        } else {
            StepTask steps(*this, entries, m_offline.Path(), c.keyed);
            ASSERT_EQ(0, steps.task.VerifyDownloaded(first));
            ASSERT_TRUE(ChangeFromOutside(scratch, m_offline / "a.dat", Pattern(3000, 72)));
            EXPECT_EQ(8, steps.task.TransferFile(first));
            EXPECT_EQ(Lines{kBadInstall}, steps.messages.Lines());
            ASSERT_TRUE(WriteBytes(m_offline / "a.dat", a));
        }
        EXPECT_TRUE(before == Snapshot(m_game.Path())) << "the game folder changed";
    }
}

// A file that fails its check after the install does not stay: the file it
// replaced comes back, or, where there was none, it goes.
TEST_F(FernupTaskStepTest, AFileThatFailsItsCheckAfterTheInstallIsTakenBack)
{
    ASSERT_TRUE(WriteBytes(m_offline / "a.dat", "new bytes"));
    for (const char* previous : {"old bytes", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(previous != nullptr ? "replacing a file" : "a new file");
        if (previous != nullptr) {
            ASSERT_TRUE(WriteBytes(m_game / "a.dat", previous));
        }
        const Files before = Snapshot(m_game.Path());
        EntryChain entries;
        UpdateFileEntry* entry = entries.Add("", "a.dat", 9, Md5Of("new bytes"));
        StepTask steps(*this, entries);
        ASSERT_EQ(0, steps.task.TransferFile(entry));
        ASSERT_TRUE(WriteBytes(m_game / "a.dat", "spoilt"));
        EXPECT_EQ(8, steps.task.VerifyInstalled(entry));
        EXPECT_EQ(Lines{kBadInstall}, steps.messages.Lines());
        EXPECT_TRUE(before == Snapshot(m_game.Path())) << "not what was there before";
        DeleteFileA((m_game / "a.dat").c_str());
    }
}

// The holder helper, built beside this program, on path for holdMs.
std::string HolderCommand(const std::string& path, DWORD holdMs)
{
    const std::string self = ThisProgram();
    const std::string holder = self.substr(0, self.rfind('\\') + 1) + "file_holder.exe";
    return "\"" + holder + "\" \"" + path + "\" " + std::to_string(holdMs);
}

TEST_F(FernupTaskStepTest, ReplaceWaitsForAFileThatAnotherProcessHoldsBriefly)
{
    ASSERT_TRUE(WriteBytes(m_offline / "held.dat", "new bytes"));
    struct Case {
        DWORD holdMs;
        int32_t code;
        const char* installed;
    };
    // Half a second is waited out; six seconds outlast the wait.
    const Case cases[] = {{500, 0, "new bytes"}, {6000, 21, "old"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(m_game / "held.dat", "old"));
        EntryChain entries;
        UpdateFileEntry* entry = entries.Add("", "held.dat", 9, Md5Of("new bytes"));
        StepTask steps(*this, entries);
        ReadyHelper holder(HolderCommand(m_game / "held.dat", c.holdMs), 20000);
        ASSERT_TRUE(holder.Ready()) << c.holdMs;
        const DWORD start = GetTickCount();
        EXPECT_EQ(c.code, steps.task.TransferFile(entry)) << c.holdMs;
        const DWORD elapsed = GetTickCount() - start;
        if (c.code == 0) {
            EXPECT_EQ(0, steps.task.VerifyInstalled(entry));
        }
        EXPECT_EQ(c.code == 0 ? Lines{} : Lines{kCannotOpen}, steps.messages.Lines()) << c.holdMs;
        EXPECT_EQ(c.installed, Installed("held.dat")) << c.holdMs;
        // Failed or not, the copy went: beside the installed file there is at
        // most a second name of it that its holder kept from being deleted.
        for (const auto& [name, bytes] : Snapshot(m_game.Path()))
            EXPECT_TRUE(name == "held.dat" || name == "update.log" || name == "data\\" ||
                        (IsTemporaryName(name.c_str()) && bytes == "old"))
                << c.holdMs << ": " << name;
        if (c.code != 0) {
            EXPECT_GE(elapsed, 1900u) << "the replace was not tried again for 2 s";
        }
    }
}

}  // namespace
