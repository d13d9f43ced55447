#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>

#include <string>
#include <thread>
#include <vector>

#include "core/ReleaseAgreement.h"
#include "core/SignedPackage.h"
#include "support/ByteArea.h"
#include "support/PlatformCrypto.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/TaskTestSupport.h"
#include "updater/CInitUpdateTask.h"
#include "updater/HttpFetch.h"
#include "updater/TestSeams.h"

namespace {

using Ending = CannedHttpServer::Ending;
using Lines = std::vector<std::string>;

const char* const kFetching = "－－－定義ファイル取得中－－－";
const char* const kNoInternet = "インターネットが利用出来ません。";
const char* const kNotFetched = "定義ファイルが取得できませんでした。";
const char* const kBrokenOff = "定義ファイルの取得が中断されました。";

class InitUpdateTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start());
        // Files of two releases are fetched once more after this wait; the
        // tests that are not about it keep it short.
        g_disagreementWaitMs = 300;
    }
    void TearDown() override
    {
        m_server.Stop();
        g_disagreementWaitMs = kDisagreementWaitMs;
        g_attemptConnect = InternetAttemptConnect;
        g_internetOpen = InternetOpenA;
        g_httpTimeoutMs = 30000;
    }

    // Serves a package under /pkg/ with the given three bodies.
    void Serve(const std::string& definition, const std::string& digest, const std::string& readme)
    {
        m_server.SetReply("/pkg/update.qdv", CannedHttpServer::Ok(definition));
        m_server.SetReply("/pkg/MD5.txt", CannedHttpServer::Ok(digest));
        m_server.SetReply("/pkg/readme.txt", CannedHttpServer::Ok(readme));
    }

    struct Outcome {
        int32_t code;
        Lines lines;
        std::string definition;
        std::string readme;
        bool definitionHeld;  // a definition area was delivered
        bool readmeHeld;
    };

    Outcome Fetch(const std::string& address)
    {
        MessageListWindow messages;
        CInitUpdateTask task(address.c_str(), messages.List(), m_fetchSignature == 1);
        EXPECT_TRUE(RunTask(&task)) << "the task did not finish";
        Outcome outcome{};
        outcome.code = task.GetFailureCode();
        outcome.lines = messages.Lines();
        FetchedPackage package;
        task.TakePackage(&package);
        outcome.definitionHeld = package.definition.Bytes() != nullptr;
        outcome.readmeHeld = package.readme.Bytes() != nullptr;
        outcome.definition.assign(package.definition.Bytes() ? package.definition.Bytes() : "",
                                  package.definition.Length());
        outcome.readme.assign(package.readme.Bytes() ? package.readme.Bytes() : "",
                              package.readme.Length());
        return outcome;
    }

    CannedHttpServer m_server;
    int32_t m_fetchSignature = 0;
};

TEST_F(InitUpdateTaskTest, FetchesPackageFromRealServer)
{
    NginxSite site = FindNginx();
    ASSERT_NE(0, site.port) << "the nginx fixture is not running";
    const std::string folder = UniqueName("init");
    ASSERT_TRUE(CreateDirectoryA((site.root + folder).c_str(), nullptr));
    const std::string definition =
        "[UPDATE_VER]\r\nNAME=テスト\r\nVER=1.10\r\nDAY=2024/05/01\r\n[UPDATE_FILE]\r\n";
    const std::string readme = "お読みください\r\n" + Pattern(20000, 9);
    const std::string base = site.root + folder + "\\";
    ASSERT_TRUE(WriteBytes(base + "update.qdv", definition));
    ASSERT_TRUE(WriteBytes(base + "MD5.txt", Md5Of(definition)));
    ASSERT_TRUE(WriteBytes(base + "readme.txt", readme));

    Outcome outcome = Fetch(site.Address(folder + "/update.qdv"));
    EXPECT_EQ(0, outcome.code);
    EXPECT_EQ(Lines{kFetching}, outcome.lines);
    EXPECT_TRUE(definition == outcome.definition) << outcome.definition;
    EXPECT_TRUE(readme == outcome.readme)
        << "readme differs, " << outcome.readme.size() << " bytes";
    RemoveTree(base);
}

TEST_F(InitUpdateTaskTest, RejectsAndBreaksWithCodeAndOneLine)
{
    const std::string definition = "[UPDATE_VER]\r\nNAME=x\r\n";
    const std::string digest = Md5Of(definition);
    std::string upper = digest;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const std::string readme = Pattern(20000, 10);
    const std::string oversizeDefinition = Pattern(70000, 11);

    struct Case {
        const char* what;
        CannedHttpServer::Reply definition, digest, readme;
        int32_t code;
        const char* line;
    };
    using Server = CannedHttpServer;
    const Case cases[] = {
        {"digest with a line end", Server::Ok(definition), Server::Ok(digest + "\n"),
         Server::Ok(readme), 2, kNotFetched},
        {"digest with CR LF", Server::Ok(definition), Server::Ok(digest + "\r\n"),
         Server::Ok(readme), 2, kNotFetched},
        {"upper-case digest", Server::Ok(definition), Server::Ok(upper), Server::Ok(readme), 2,
         kNotFetched},
        {"digest of other bytes", Server::Ok(definition), Server::Ok(Md5Of("other")),
         Server::Ok(readme), 2, kNotFetched},
        {"definition cut at its area", Server::Ok(oversizeDefinition),
         Server::Ok(Md5Of(oversizeDefinition)), Server::Ok(readme), 2, kNotFetched},
        {"readme breaks off", Server::Ok(definition), Server::Ok(digest),
         Server::Ok(readme.substr(0, 2000), 20000, Ending::Reset), 3, kBrokenOff},
        {"digest breaks off", Server::Ok(definition),
         Server::Ok(digest.substr(0, 10), 32, Ending::Reset), Server::Ok(readme), 3, kBrokenOff},
        {"definition breaks off", Server::Ok(definition.substr(0, 5), 400, Ending::Reset),
         Server::Ok(digest), Server::Ok(readme), 3, kBrokenOff},
    };
    for (const Case& c : cases) {
        m_server.SetReply("/pkg/update.qdv", c.definition);
        m_server.SetReply("/pkg/MD5.txt", c.digest);
        m_server.SetReply("/pkg/readme.txt", c.readme);
        Outcome outcome = Fetch(m_server.Address("/pkg/update.qdv"));
        EXPECT_EQ(c.code, outcome.code) << c.what;
        EXPECT_EQ((Lines{kFetching, c.line}), outcome.lines) << c.what;
        EXPECT_FALSE(outcome.definitionHeld) << c.what;
        EXPECT_FALSE(outcome.readmeHeld) << c.what;
    }
}

TEST_F(InitUpdateTaskTest, MissingFilesFailWithCodeTwo)
{
    const std::string definition = "[UPDATE_VER]\r\n";
    struct Case {
        const char* what;
        std::string address;
        size_t requests;  // how far the fetch went
    };
    Serve(definition, Md5Of(definition), "readme");
    const Case cases[] = {
        // The server's error page is taken as MD5.txt and is not 32 bytes,
        // as MD5.txt of another release is not: the three once more.
        {"no MD5.txt on the server", m_server.Address("/nodigest/update.qdv"), 6},
        {"server refuses", RefusedAddress("/pkg/update.qdv"), 0},
        {"address without a slash", "update.qdv", 0},
    };
    for (const Case& c : cases) {
        size_t before = m_server.Requests().size();
        Outcome outcome = Fetch(c.address);
        EXPECT_EQ(2, outcome.code) << c.what;
        EXPECT_EQ((Lines{kFetching, kNotFetched}), outcome.lines) << c.what;
        EXPECT_FALSE(outcome.definitionHeld || outcome.readmeHeld) << c.what;
        EXPECT_EQ(c.requests, m_server.Requests().size() - before) << c.what;
    }
}

TEST_F(InitUpdateTaskTest, AcceptsEmptyDefinitionAndCutsLongReadme)
{
    const std::string readme = Pattern(40000, 12);
    Serve("", Md5Of(""), readme);
    Outcome outcome = Fetch(m_server.Address("/pkg/update.qdv"));
    EXPECT_EQ(0, outcome.code);
    EXPECT_EQ(Lines{kFetching}, outcome.lines);
    EXPECT_TRUE(outcome.definitionHeld);
    EXPECT_EQ(0u, outcome.definition.size());
    EXPECT_EQ(32768u, outcome.readme.size());
    EXPECT_TRUE(readme.compare(0, 32768, outcome.readme) == 0) << "readme is not its first bytes";
}

TEST_F(InitUpdateTaskTest, FetchesInOrderWithFernupAgent)
{
    const std::string definition = "[UPDATE_VER]\r\nVER=1.00\r\n";
    Serve(definition, Md5Of(definition), "");
    Outcome outcome = Fetch(m_server.Address("/pkg/update.qdv"));
    EXPECT_EQ(0, outcome.code);
    std::vector<std::string> requests = m_server.Requests();
    ASSERT_EQ(3u, requests.size());
    const char* const paths[] = {"GET /pkg/update.qdv ", "GET /pkg/MD5.txt ",
                                 "GET /pkg/readme.txt "};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(0u, requests[i].find(paths[i])) << requests[i];
        EXPECT_NE(std::string::npos, requests[i].find("\r\nUser-Agent: Fernup\r\n")) << requests[i];
    }
}

// update.sig's text for a definition and a readme; only its DEFINITION and
// README lines matter to the fetch, so the signature is left zero.
std::string SignatureFor(const std::string& definition, const std::string& readme)
{
    SignedFacts* facts = AllocSignedFacts();
    Sha256Of(definition.data(), static_cast<uint32_t>(definition.size()), facts->definitionHash);
    Sha256Of(readme.data(), static_cast<uint32_t>(readme.size()), facts->readmeHash);
    std::string text(kSignatureTextCapacity, '\0');
    const unsigned char signature[kSignatureSize] = {};
    const uint32_t length = AppendSignatureLine(
        signature, &text[0], WriteSignedPart(*facts, &text[0], kSignatureTextCapacity),
        kSignatureTextCapacity);
    FreeArea(facts);
    text.resize(length);
    return text;
}

TEST_F(InitUpdateTaskTest, FilesOfTwoReleasesAreFetchedOnceMoreAfterTheWait)
{
    const std::string old = "[UPDATE_VER]\r\nVER=1.01\r\n", now = "[UPDATE_VER]\r\nVER=1.02\r\n";
    struct Case {
        const char* what;
        bool fetchSignature;
        const char* stalePath;  // what the server hands out of the release before at first
        std::string stale, fresh;
    };
    const Case cases[] = {
        {"MD5.txt of the release before", false, "/pkg/MD5.txt", Md5Of(old), Md5Of(now)},
        {"update.sig of the release before", true, "/pkg/update.sig", SignatureFor(old, "readme"),
         SignatureFor(now, "readme")},
    };
    for (const Case& c : cases) {
        const size_t files = c.fetchSignature ? 4 : 3;
        m_fetchSignature = c.fetchSignature ? 1 : 0;
        Serve(now, Md5Of(now), "readme");
        m_server.SetReply("/pkg/update.sig", CannedHttpServer::Ok(SignatureFor(now, "readme")));
        m_server.SetReply(c.stalePath, CannedHttpServer::Ok(c.stale));
        // Once the first set has been asked for, the server's own file, as
        // from a cache whose copy has run out.
        const size_t before = m_server.Requests().size();
        std::thread cache([&] {
            for (int i = 0; i < 1000 && m_server.Requests().size() < before + files; ++i)
                Sleep(10);
            m_server.SetReply(c.stalePath, CannedHttpServer::Ok(c.fresh));
        });
        Outcome outcome = Fetch(m_server.Address("/pkg/update.qdv"));
        cache.join();
        EXPECT_EQ(0, outcome.code) << c.what;
        EXPECT_EQ(Lines{kFetching}, outcome.lines) << c.what;
        EXPECT_TRUE(outcome.definition == now) << c.what;
        EXPECT_EQ(2 * files, m_server.Requests().size() - before) << c.what;

        // Still of two releases the second time: refused as before.
        m_server.SetReply(c.stalePath, CannedHttpServer::Ok(c.stale));
        const size_t again = m_server.Requests().size();
        outcome = Fetch(m_server.Address("/pkg/update.qdv"));
        EXPECT_EQ(c.fetchSignature ? 0 : 2, outcome.code)
            << c.what << ": the dialog's signature check refuses it";
        EXPECT_EQ(2 * files, m_server.Requests().size() - again) << c.what;
    }
    // One release: fetched once.
    m_fetchSignature = 1;
    m_server.SetReply("/pkg/update.sig", CannedHttpServer::Ok(SignatureFor(now, "readme")));
    const size_t before = m_server.Requests().size();
    EXPECT_EQ(0, Fetch(m_server.Address("/pkg/update.qdv")).code);
    EXPECT_EQ(4u, m_server.Requests().size() - before);
}

DWORD WINAPI NotConnected(DWORD)
{
    return ERROR_NOT_CONNECTED;
}

HINTERNET WINAPI NoSession(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)
{
    return nullptr;
}

TEST_F(InitUpdateTaskTest, WithoutInternetOnlyOneLine)
{
    Serve("x", Md5Of("x"), "r");
    g_attemptConnect = NotConnected;
    Outcome outcome = Fetch(m_server.Address("/pkg/update.qdv"));
    EXPECT_EQ(1, outcome.code);
    EXPECT_EQ(Lines{kNoInternet}, outcome.lines);
    EXPECT_FALSE(outcome.definitionHeld || outcome.readmeHeld);
    EXPECT_EQ(0u, m_server.Requests().size());
}

TEST_F(InitUpdateTaskTest, SessionThatCannotOpenFailsWithCodeTwo)
{
    Serve("x", Md5Of("x"), "r");
    g_internetOpen = NoSession;
    Outcome outcome = Fetch(m_server.Address("/pkg/update.qdv"));
    EXPECT_EQ(2, outcome.code);
    EXPECT_EQ((Lines{kFetching, kNotFetched}), outcome.lines);
    EXPECT_EQ(0u, m_server.Requests().size());
}

TEST_F(InitUpdateTaskTest, SecondRunChangesNothing)
{
    const std::string definition = "[UPDATE_VER]\r\n";
    Serve(definition, Md5Of(definition), "readme");
    MessageListWindow messages;
    CInitUpdateTask task(m_server.Address("/pkg/update.qdv").c_str(), messages.List(), false);
    ASSERT_TRUE(RunTask(&task));
    ASSERT_EQ(0, task.GetFailureCode());

    EXPECT_EQ(0, task.Run());
    EXPECT_TRUE(task.IsFinished());
    EXPECT_EQ(0, task.GetFailureCode());
    FetchedPackage package;
    task.TakePackage(&package);
    EXPECT_EQ(definition, std::string(package.definition.Bytes(), package.definition.Length()));
    EXPECT_EQ("readme", std::string(package.readme.Bytes(), package.readme.Length()));
    EXPECT_EQ(Lines{kFetching}, messages.Lines());
    EXPECT_EQ(3u, m_server.Requests().size());
}

// A host that has moved keeps working for the definition and both files
// beside it; a server that redirects for ever ends the fetch as a file that
// could not be had, whichever of the three it is.
TEST_F(InitUpdateTaskTest, RedirectsOfTheDefinitionAndItsCompanions)
{
    CannedHttpServer moved;
    ASSERT_TRUE(moved.Start());
    const std::string definition = "[UPDATE_VER]\r\nVER=1.00\r\n";
    const char* const names[] = {"update.qdv", "MD5.txt", "readme.txt"};
    for (const char* name : names)
        m_server.SetReply(std::string("/old/") + name,
                          CannedHttpServer::Redirect(moved.Address(std::string("/new/") + name)));
    moved.SetReply("/new/update.qdv", CannedHttpServer::Ok(definition));
    moved.SetReply("/new/MD5.txt", CannedHttpServer::Ok(Md5Of(definition)));
    moved.SetReply("/new/readme.txt", CannedHttpServer::Ok("the readme"));
    Outcome outcome = Fetch(m_server.Address("/old/update.qdv"));
    EXPECT_EQ(0, outcome.code);
    EXPECT_EQ(Lines{kFetching}, outcome.lines);
    EXPECT_TRUE(definition == outcome.definition) << outcome.definition;
    EXPECT_EQ("the readme", outcome.readme);

    for (const char* looping : names) {
        for (const char* name : names) {
            const std::string path = std::string("/loop/") + name;
            if (name == looping)
                m_server.SetReply(path, CannedHttpServer::Redirect(path));
            else
                m_server.SetReply(
                    path, CannedHttpServer::Ok(name == names[1] ? Md5Of(definition) : definition));
        }
        const DWORD start = GetTickCount();
        outcome = Fetch(m_server.Address("/loop/update.qdv"));
        EXPECT_EQ(2, outcome.code) << looping;
        EXPECT_EQ((Lines{kFetching, kNotFetched}), outcome.lines) << looping;
        EXPECT_FALSE(outcome.definitionHeld || outcome.readmeHeld) << looping;
        EXPECT_LT(GetTickCount() - start, 10000u) << looping;
    }
}

// Four files, each answered within the receive time-out and opened within an
// address's time, must still come within the package's four time-outs: past
// them the fetch ends as broken off, though it was still opening a file.
// Each file a little slow is fetched as usual.
TEST_F(InitUpdateTaskTest, PackageEndsAtItsTimeBudget)
{
    g_httpTimeoutMs = 400;  // 1600 ms for the package, 800 for an address
    m_fetchSignature = 1;
    const std::string definition = "[UPDATE_VER]\r\nVER=1.00\r\n";
    const std::string bodies[] = {definition, Md5Of(definition), "readme", "signature"};
    const char* const names[] = {"update.qdv", "MD5.txt", "readme.txt", "update.sig"};
    for (int hops : {0, 1}) {  // each 250 ms late: 1000 ms in all, then 2000
        for (int i = 0; i < 4; ++i) {
            CannedHttpServer::Reply reply = CannedHttpServer::Ok(bodies[i]);
            reply.delayMs = 250;
            m_server.SetReplyBehindRedirects(std::string("/pkg/") + names[i], hops, 250, reply);
        }
        const DWORD start = GetTickCount();
        Outcome outcome = Fetch(m_server.Address("/pkg/update.qdv"));
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(hops == 0 ? 0 : 3, outcome.code) << hops;
        EXPECT_EQ((hops == 0 ? Lines{kFetching} : Lines{kFetching, kBrokenOff}), outcome.lines)
            << hops;
        EXPECT_GE(elapsed, hops == 0 ? 1000u : 1550u) << hops << ": before the package's time";
    }
}

const CInitUpdateTask* g_watchedTask = nullptr;
CannedHttpServer* g_watchedServer = nullptr;

// The system timer ticks every millisecond from the task's start until just
// before its finished flag, and a refused request is not taken back.
TEST_F(InitUpdateTaskTest, FineTimerHeldForTheLengthOfTheTask)
{
    const std::string definition = "[UPDATE_VER]\r\n";
    Serve(definition, Md5Of(definition), "readme");
    g_watchedServer = &m_server;
    TimerPeriodLog log([] { return g_watchedTask->IsFinished(); },
                       [] { return g_watchedServer->Requests().size(); });
    const UINT beginResults[] = {TIMERR_NOERROR, TIMERR_NOCANDO};
    for (UINT beginResult : beginResults) {
        log.SetBeginResult(beginResult);
        const size_t before = log.Calls().size();
        const size_t requestsBefore = m_server.Requests().size();
        MessageListWindow messages;
        CInitUpdateTask task(m_server.Address("/pkg/update.qdv").c_str(), messages.List(), false);
        g_watchedTask = &task;
        ASSERT_TRUE(RunTask(&task));
        ASSERT_EQ(0, task.GetFailureCode());
        std::vector<TimerPeriodLog::Call> calls = log.Calls();
        calls.erase(calls.begin(), calls.begin() + static_cast<ptrdiff_t>(before));
        const bool granted = beginResult == TIMERR_NOERROR;
        ASSERT_EQ(granted ? 2u : 1u, calls.size());
        EXPECT_EQ("begin 1", calls[0].what);
        EXPECT_EQ(requestsBefore, calls[0].requests) << "raised after the first request";
        EXPECT_FALSE(calls[0].finished);
        if (granted) {
            EXPECT_EQ("end 1", calls[1].what);
            EXPECT_EQ(requestsBefore + 3, calls[1].requests) << "released before the last request";
            EXPECT_FALSE(calls[1].finished) << "released after the finished flag";
        }
    }
}

TEST_F(InitUpdateTaskTest, AddressIsTakenAtMost255Characters)
{
    const std::string address = m_server.Address("/" + std::string(300, 'a'));
    MessageListWindow messages;
    CInitUpdateTask task(address.c_str(), messages.List(), false);
    EXPECT_FALSE(task.IsFinished());
    ASSERT_TRUE(RunTask(&task));
    const std::vector<std::string> requests = m_server.Requests();
    ASSERT_FALSE(requests.empty());
    const std::string asked = address.substr(address.find('/', 7), 255 - address.find('/', 7));
    EXPECT_EQ(0u, requests[0].find("GET " + asked + " ")) << requests[0];
}

}  // namespace
