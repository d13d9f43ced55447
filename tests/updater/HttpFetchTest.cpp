#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "framework/CWinThreadMaster.h"
#include "support/ByteArea.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/TaskTestSupport.h"
#include "updater/HttpFetch.h"
#include "updater/TestSeams.h"

namespace {

using Ending = CannedHttpServer::Ending;

// Restores the seams of HttpFetch.h whatever a test does to them.
class HttpFetchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start());
        m_session = OpenSession("Fernup");
        ASSERT_NE(nullptr, m_session);
    }
    void TearDown() override
    {
        if (m_session != nullptr)
            InternetCloseHandle(m_session);
        m_server.Stop();
        g_httpTimeoutMs = 30000;
        g_attemptConnect = InternetAttemptConnect;
        g_internetOpen = InternetOpenA;
        g_queryDataAvailable = InternetQueryDataAvailable;
    }

    // Fetches into memory; the area is released here, its bytes returned.
    FetchOutcome ToMemory(const std::string& address, uint32_t capacity, std::string* body,
                          bool* gotArea = nullptr)
    {
        char* area = reinterpret_cast<char*>(1);
        uint32_t received = 12345;
        FetchOutcome outcome = FetchToMemory(&m_task, m_session, address.c_str(), capacity,
                                             kNoTimeLimit, &area, &received);
        if (gotArea != nullptr)
            *gotArea = area != nullptr;
        body->assign(area != nullptr ? area : "", area != nullptr ? received : 0);
        if (area == nullptr) {
            EXPECT_EQ(0u, received) << "no area, yet bytes reported";
        }
        FreeArea(area);
        return outcome;
    }

    struct FileResult {
        FetchOutcome outcome;
        std::string bytes;
        int32_t state;
        int32_t percent;
    };

    FileResult ToFile(const std::string& address, uint32_t declaredSize)
    {
        ScratchFolder folder("fetch");
        std::string path = folder / "download.bin";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file);
        FileResult result{};
        result.outcome = FetchToFile(&m_task, m_session, address.c_str(), file, declaredSize,
                                     result.state, result.percent);
        // The file stays open for the caller.
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, "", 0, &written, nullptr)) << "file closed by the fetch";
        CloseHandle(file);
        ReadBytes(path, &result.bytes);
        return result;
    }

    CannedHttpServer m_server;
    CWinThreadMaster m_task;  // never started: its pauses return at once
    HINTERNET m_session = nullptr;
};

DWORD WINAPI Reachable(DWORD)
{
    return ERROR_SUCCESS;
}
DWORD WINAPI NotConnected(DWORD)
{
    return ERROR_NOT_CONNECTED;
}

HINTERNET WINAPI NoSession(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)
{
    return nullptr;
}
DWORD WINAPI OddSuccess(DWORD)
{
    return 1;
}

TEST_F(HttpFetchTest, CheckInternetIsTrueOnlyForZero)
{
    const std::pair<AttemptConnectProc, bool> cases[] = {
        {Reachable, true}, {NotConnected, false}, {OddSuccess, false}};
    for (const auto& c : cases) {
        g_attemptConnect = c.first;
        EXPECT_EQ(c.second, CheckInternet());
    }
}

TEST_F(HttpFetchTest, SessionIsDirectWithAgentAndTimeouts)
{
    g_httpTimeoutMs = 4321;
    HINTERNET session = OpenSession("FernupTask");
    ASSERT_NE(nullptr, session);

    char agent[64] = {};
    DWORD size = sizeof(agent);
    ASSERT_TRUE(InternetQueryOptionA(session, INTERNET_OPTION_USER_AGENT, agent, &size));
    EXPECT_STREQ("FernupTask", agent);

    char proxy[256] = {};
    size = sizeof(proxy);
    ASSERT_TRUE(InternetQueryOptionA(session, INTERNET_OPTION_PROXY, proxy, &size));
    EXPECT_EQ(static_cast<DWORD>(INTERNET_OPEN_TYPE_DIRECT),
              reinterpret_cast<INTERNET_PROXY_INFO*>(proxy)->dwAccessType);

    DWORD timeout = 0;
    size = sizeof(timeout);
    ASSERT_TRUE(InternetQueryOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, &size));
    EXPECT_EQ(4321u, timeout);

    timeout = 0;
    size = sizeof(timeout);
    BOOL known = InternetQueryOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, &size);
    if (RunningUnderWine()) {
        // Wine 8 accepts the receive time-out of a session without keeping it.
        EXPECT_FALSE(known) << "Wine now keeps the receive time-out: check it like Windows";
    } else {
        ASSERT_TRUE(known);
        EXPECT_EQ(4321u, timeout);
    }
    InternetCloseHandle(session);

    // The agent goes out with every request.
    m_server.SetReply("/agent", CannedHttpServer::Ok("x"));
    std::string body;
    ASSERT_EQ(FetchDone, ToMemory(m_server.Address("/agent"), 16, &body));
    std::vector<std::string> requests = m_server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_NE(std::string::npos, requests[0].find("\r\nUser-Agent: Fernup\r\n")) << requests[0];
}

TEST_F(HttpFetchTest, OpenSessionGivesNullWhenPlatformRefuses)
{
    g_internetOpen = NoSession;
    EXPECT_EQ(nullptr, OpenSession("Fernup"));
}

TEST_F(HttpFetchTest, FetchToMemoryOutcomes)
{
    const std::string small = "hello";
    const std::string large = Pattern(40000, 1);
    const std::string exact = Pattern(8192, 2);
    const std::string oversize = Pattern(10000, 3);
    m_server.SetReply("/small", CannedHttpServer::Ok(small));
    m_server.SetReply("/large", CannedHttpServer::Ok(large));
    m_server.SetReply("/exact", CannedHttpServer::Ok(exact));
    m_server.SetReply("/oversize", CannedHttpServer::Ok(oversize));
    m_server.SetReply("/empty", CannedHttpServer::Ok(""));

    struct Case {
        std::string address;
        uint32_t capacity;
        FetchOutcome outcome;
        std::string body;
    };
    const Case cases[] = {
        {m_server.Address("/small"), 65536, FetchDone, small},
        {m_server.Address("/large"), 65536, FetchDone, large},
        {m_server.Address("/exact"), 8192, FetchDone, exact},
        // Never past the area: the excess is dropped.
        {m_server.Address("/oversize"), 8192, FetchDone, oversize.substr(0, 8192)},
        {m_server.Address("/large"), 100, FetchDone, large.substr(0, 100)},
        {m_server.Address("/empty"), 8192, FetchDone, ""},
        // The status is not examined: the error page is the body.
        {m_server.Address("/missing"), 8192, FetchDone, "<html><body>404 Not Found</body></html>"},
        {RefusedAddress("/small"), 8192, FetchCannotOpen, ""},
    };
    for (const Case& c : cases) {
        std::string body;
        bool gotArea = false;
        EXPECT_EQ(c.outcome, ToMemory(c.address, c.capacity, &body, &gotArea)) << c.address;
        EXPECT_EQ(c.body.size(), body.size()) << c.address;
        EXPECT_TRUE(c.body == body) << c.address << ": bytes differ";
        EXPECT_EQ(c.outcome != FetchCannotOpen, gotArea) << c.address;
    }
}

TEST_F(HttpFetchTest, FetchToMemoryKeepsWhatArrivedBeforeBreak)
{
    const std::string body = Pattern(20000, 8);
    m_server.SetReply("/broken", CannedHttpServer::Ok(body.substr(0, 3000), 40000, Ending::Reset));
    std::string fetched;
    bool gotArea = false;
    EXPECT_EQ(FetchBrokenOff, ToMemory(m_server.Address("/broken"), 65536, &fetched, &gotArea));
    EXPECT_TRUE(gotArea);
    // Whatever the read that broke off held is lost with it: what is kept is
    // a prefix of what was sent.
    EXPECT_LE(fetched.size(), 3000u);
    EXPECT_TRUE(body.compare(0, fetched.size(), fetched) == 0) << "not a prefix";
}

TEST_F(HttpFetchTest, FetchToFileOutcomes)
{
    const std::string body = Pattern(300000, 4);
    m_server.SetReply("/whole", CannedHttpServer::Ok(body));
    // The server ends the body early: an orderly close before the declared size.
    m_server.SetReply("/short", CannedHttpServer::Ok(body.substr(0, 5000), 300000));
    m_server.SetReply("/broken", CannedHttpServer::Ok(body.substr(0, 5000), 300000, Ending::Reset));
    m_server.SetReply("/longer", CannedHttpServer::Ok(body.substr(0, 5000)));
    m_server.SetReply("/empty", CannedHttpServer::Ok(""));

    struct Case {
        std::string address;
        uint32_t declared;
        FetchOutcome outcome;
        std::string bytes;
        int32_t state;
        int32_t percent;
    };
    const Case cases[] = {
        {m_server.Address("/whole"), 300000, FetchDone, body, 1, 85},
        {m_server.Address("/short"), 300000, FetchDone, body.substr(0, 5000), 1, 1},
        {m_server.Address("/broken"), 300000, FetchBrokenOff, body.substr(0, 5000), 1, 1},
        {m_server.Address("/empty"), 0, FetchDone, "", 1, 0},
        {m_server.Address("/missing"), 39, FetchDone, "<html><body>404 Not Found</body></html>", 1,
         85},
        {RefusedAddress("/whole"), 100, FetchCannotOpen, "", 0, 0},
    };
    for (const Case& c : cases) {
        DWORD start = GetTickCount();
        FileResult result = ToFile(c.address, c.declared);
        EXPECT_EQ(c.outcome, result.outcome) << c.address;
        EXPECT_EQ(c.bytes.size(), result.bytes.size()) << c.address;
        EXPECT_TRUE(c.bytes == result.bytes) << c.address << ": bytes differ";
        EXPECT_EQ(c.state, result.state) << c.address;
        EXPECT_EQ(c.percent, result.percent) << c.address;
        EXPECT_LT(GetTickCount() - start, 5000u) << c.address << " did not end with the body";
    }
}

TEST_F(HttpFetchTest, FetchToFileStopsAtDeclaredSizeAndShowsExcess)
{
    const std::string body = Pattern(5000, 5);
    m_server.SetReply("/longer", CannedHttpServer::Ok(body));

    // More than declared is kept up to the end of the read that reached it.
    FileResult result = ToFile(m_server.Address("/longer"), 1000);
    EXPECT_EQ(FetchDone, result.outcome);
    ASSERT_GE(result.bytes.size(), 1000u);
    EXPECT_TRUE(body.compare(0, result.bytes.size(), result.bytes) == 0) << "not a prefix";
    EXPECT_GT(result.percent, 85) << "85 is passed only when more than declared arrives";
    EXPECT_LE(result.percent, 100);

    // Declared 0: the first read that gives bytes ends it.
    result = ToFile(m_server.Address("/longer"), 0);
    EXPECT_EQ(FetchDone, result.outcome);
    EXPECT_FALSE(result.bytes.empty());
    EXPECT_TRUE(body.compare(0, result.bytes.size(), result.bytes) == 0) << "not a prefix";
    EXPECT_EQ(100, result.percent);
}

// A server that stops sending must not hold a fetch for ever: the receive
// time-out ends a stall before the headers as a failure to open, and one in
// mid-body as a broken-off transfer, to memory and to a file alike, well
// before the server would have given up. So do the stalls that no receive
// time-out sees: redirects each answered within it but together past the
// address's two time-outs, and a body trickled a byte a third of it apart
// (its 40 bytes would take 4 s).
TEST_F(HttpFetchTest, StallsEndAfterTimeout)
{
    g_httpTimeoutMs = 300;
    HINTERNET session = OpenSession("Fernup");
    ASSERT_NE(nullptr, session);
    InternetCloseHandle(m_session);
    m_session = session;
    const uint32_t stallMs = 4000;

    struct Case {
        const char* name;
        bool toFile;
        CannedHttpServer::Reply reply;
        FetchOutcome outcome;
        int hops = 0;  // redirects before the reply, each half the time-out late
    };
    CannedHttpServer::Reply silent;
    silent.ending = Ending::Stall;
    silent.stallMs = stallMs;
    CannedHttpServer::Reply trickle = CannedHttpServer::Ok(Pattern(40, 14));
    trickle.trickleMs = 100;
    const Case cases[] = {
        {"/head", false, silent, FetchCannotOpen},
        {"/memory", false, CannedHttpServer::Ok("0123456789", 1000, Ending::Stall, stallMs),
         FetchBrokenOff},
        {"/file", true, CannedHttpServer::Ok(Pattern(3000, 7), 9000, Ending::Stall, stallMs),
         FetchBrokenOff},
        {"/hops", false, CannedHttpServer::Ok("x"), FetchCannotOpen, 5},
        {"/trickle", false, trickle, FetchBrokenOff},
        {"/trickle-file", true, trickle, FetchBrokenOff},
    };
    for (const Case& c : cases) {
        // One connection at a time: a fresh server, so no stall before holds it.
        m_server.Stop();
        ASSERT_TRUE(m_server.Start());
        m_server.SetReplyBehindRedirects(c.name, c.hops, 150, c.reply);
        DWORD start = GetTickCount();
        FetchOutcome outcome;
        if (c.toFile) {
            outcome = ToFile(m_server.Address(c.name), 9000).outcome;
        } else {
            std::string body;
            outcome = ToMemory(m_server.Address(c.name), 65536, &body);
        }
        DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(c.outcome, outcome) << c.name;
        EXPECT_GE(elapsed, 250u) << c.name << ": ended before the time-out";
        EXPECT_LT(elapsed, 2500u) << c.name << ": not ended by the time-out";
    }
}

// A server that answers with redirects must neither hold a fetch for ever
// nor lose a host that has moved; to memory and to a file alike.
TEST_F(HttpFetchTest, RedirectsFollowedAtMostTenInARow)
{
    CannedHttpServer moved;
    ASSERT_TRUE(moved.Start());
    const std::string body = Pattern(20000, 12);
    moved.SetReply("/new/file.bin", CannedHttpServer::Ok(body));
    m_server.SetReply("/old/file.bin", CannedHttpServer::Redirect(moved.Address("/new/file.bin")));
    // /hop0 to /hop11 by relative addresses and every redirect status: from
    // /hop1 ten redirects reach the body, from /hop0 eleven.
    const int statuses[] = {301, 302, 303, 307, 308};
    for (int i = 0; i <= 10; ++i)
        m_server.SetReply(
            "/hop" + std::to_string(i),
            CannedHttpServer::Redirect("/hop" + std::to_string(i + 1), statuses[i % 5]));
    m_server.SetReply("/hop11", CannedHttpServer::Ok(body));
    m_server.SetReply("/loop", CannedHttpServer::Redirect("/loop"));
    m_server.SetReply("/ftp", CannedHttpServer::Redirect("ftp://127.0.0.1/file.bin"));
    // A redirect status without a Location is a response like any other.
    CannedHttpServer::Reply nowhere;
    nowhere.bytes = "HTTP/1.1 302 Found\r\nContent-Length: 5\r\nConnection: close\r\n\r\nthere";
    m_server.SetReply("/nowhere", nowhere);

    struct Case {
        const char* path;
        FetchOutcome outcome;
        std::string body;
        size_t requests;  // at the first server
    };
    const Case cases[] = {
        {"/old/file.bin", FetchDone, body, 1}, {"/hop1", FetchDone, body, 11},
        {"/hop0", FetchCannotOpen, "", 11},    {"/loop", FetchCannotOpen, "", 11},
        {"/ftp", FetchCannotOpen, "", 1},      {"/nowhere", FetchDone, "there", 1},
    };
    for (const Case& c : cases) {
        for (bool toFile : {false, true}) {
            const size_t before = m_server.Requests().size();
            const DWORD start = GetTickCount();
            FetchOutcome outcome;
            std::string fetched;
            if (toFile) {
                FileResult result =
                    ToFile(m_server.Address(c.path), static_cast<uint32_t>(c.body.size()));
                outcome = result.outcome;
                fetched = result.bytes;
            } else {
                outcome = ToMemory(m_server.Address(c.path), 65536, &fetched);
            }
            const std::string what = std::string(c.path) + (toFile ? " to a file" : " to memory");
            EXPECT_EQ(c.outcome, outcome) << what;
            EXPECT_TRUE(c.body == fetched) << what << ": " << fetched.size() << " bytes";
            EXPECT_EQ(c.requests, m_server.Requests().size() - before) << what;
            EXPECT_LT(GetTickCount() - start, 5000u) << what;
        }
    }
}

BOOL WINAPI NothingWithoutErrorCode(HINTERNET, LPDWORD available, DWORD, DWORD_PTR)
{
    *available = 0;
    SetLastError(0);
    return FALSE;
}

BOOL WINAPI NothingYet(HINTERNET, LPDWORD available, DWORD, DWORD_PTR)
{
    *available = 0;
    return TRUE;
}

// Only a read that gives nothing ends a body: a query that reports nothing,
// or fails without an error code, does not end a download as done.
TEST_F(HttpFetchTest, QueryThatReportsNothingDoesNotEndTheBody)
{
    const std::string body = Pattern(100000, 13);
    m_server.SetReply("/body", CannedHttpServer::Ok(body));
    for (QueryDataAvailableProc query : {NothingWithoutErrorCode, NothingYet}) {
        g_queryDataAvailable = query;
        FileResult result = ToFile(m_server.Address("/body"), 100000);
        EXPECT_EQ(FetchDone, result.outcome);
        EXPECT_TRUE(body == result.bytes) << result.bytes.size() << " bytes";
        EXPECT_EQ(85, result.percent);
        std::string fetched;
        EXPECT_EQ(FetchDone, ToMemory(m_server.Address("/body"), 65536 * 2, &fetched));
        EXPECT_TRUE(body == fetched) << fetched.size() << " bytes";
    }
}

// Reads a whole response; the number of bytes read.
size_t ReadResponse(HINTERNET request)
{
    char buffer[8192];
    DWORD got = 0;
    size_t total = 0;
    while (InternetReadFile(request, buffer, sizeof(buffer), &got) && got > 0)
        total += got;
    return total;
}

// What goes on the wire. INTERNET_FLAG_RELOAD adds no header to a request:
// it sends it to the server even when the platform's cache holds a fresh
// copy, and without the validators (If-None-Match, If-Modified-Since) that
// would let the server answer "not modified". Wine 8 never answers from its
// cache nor sends validators, with the flag or without, so there only the
// request itself shows; on Windows the cached copy is passed over.
TEST_F(HttpFetchTest, ReloadGoesToTheServerPastACachedCopy)
{
    const std::string path = "/" + UniqueName("cached") + ".bin";
    CannedHttpServer::Reply fresh = CannedHttpServer::Ok("first");
    fresh.bytes.insert(fresh.bytes.find("\r\n") + 2,
                       "ETag: \"v1\"\r\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\n"
                       "Cache-Control: max-age=3600\r\n");
    m_server.SetReply(path, fresh);
    const std::string address = m_server.Address(path);

    // A fetch as the platform does it by default puts a copy in its cache;
    // on Windows a second one is answered from there.
    for (int pass = 0; pass < 2; ++pass) {
        HINTERNET request = InternetOpenUrlA(m_session, address.c_str(), nullptr, 0, 0, 0);
        ASSERT_NE(nullptr, request);
        EXPECT_EQ(5u, ReadResponse(request));
        InternetCloseHandle(request);
    }
    const size_t primed = m_server.Requests().size();
    if (RunningUnderWine()) {
        EXPECT_EQ(2u, primed) << "Wine now answers from its cache: check it like Windows";
    } else {
        EXPECT_EQ(1u, primed) << "the cache did not answer the second fetch";
    }

    m_server.SetReply(path, CannedHttpServer::Ok("second"));
    std::string body;
    ASSERT_EQ(FetchDone, ToMemory(address, 64, &body));
    EXPECT_EQ("second", body);
    std::vector<std::string> requests = m_server.Requests();
    ASSERT_EQ(primed + 1, requests.size()) << "answered from the cache";
    EXPECT_EQ("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_server.Port()) +
                  "\r\nUser-Agent: Fernup\r\n\r\n",
              requests.back());
}

// The files of the Internet cache whose names begin with stem.
int CountCacheCopies(const std::string& folder, const std::string& stem)
{
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            count += CountCacheCopies(folder + "\\" + name, stem);
        else if (name.compare(0, stem.size(), stem) == 0)
            ++count;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

TEST_F(HttpFetchTest, DownloadsLeaveNoCopyInInternetCache)
{
    char cache[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, cache));
    const std::string stem = UniqueName("cachecheck");
    const std::string body = Pattern(20000, 6);
    for (const char* kind : {"memory", "file", "control"})
        m_server.SetReply("/" + stem + kind + ".bin", CannedHttpServer::Ok(body));

    std::string fetched;
    ASSERT_EQ(FetchDone, ToMemory(m_server.Address("/" + stem + "memory.bin"), 65536, &fetched));
    ASSERT_EQ(FetchDone, ToFile(m_server.Address("/" + stem + "file.bin"), 20000).outcome);
    EXPECT_EQ(0, CountCacheCopies(cache, stem + "memory")) << "cache: " << cache;
    EXPECT_EQ(0, CountCacheCopies(cache, stem + "file")) << "cache: " << cache;

    // Without INTERNET_FLAG_NO_CACHE_WRITE the same download leaves a copy
    // there, so the search above does look where the platform writes.
    HINTERNET request =
        InternetOpenUrlA(m_session, m_server.Address("/" + stem + "control.bin").c_str(), nullptr,
                         0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_RAW_DATA, 0);
    ASSERT_NE(nullptr, request);
    char buffer[8192];
    DWORD got = 0;
    while (InternetReadFile(request, buffer, sizeof(buffer), &got) && got > 0) {
    }
    InternetCloseHandle(request);
    EXPECT_EQ(1, CountCacheCopies(cache, stem + "control")) << "cache: " << cache;
}

}  // namespace
