// The program's fetch over HTTPS under Wine: against nginx with a certificate
// from the test CA, which only this prefix trusts, it fetches like over HTTP;
// a certificate for another name, an expired one and one from an unknown CA
// are refused before any byte of the body is taken; a stall, in the handshake
// or after it, ends by the receive time-out as it does over HTTP.
#include <gtest/gtest.h>

#include <string>

#include "framework/CWinThreadMaster.h"
#include "support/ByteArea.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/TaskTestSupport.h"
#include "updater/HttpFetch.h"

namespace {

std::string ReadPort(const std::string& server)
{
    std::string port;
    EXPECT_TRUE(ReadBytes(std::string(FERNUP_HTTPS_DIR) + "\\" + server + "\\port", &port))
        << "no " << server << " server runs";
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r'))
        port.pop_back();
    return port;
}

std::string Address(const std::string& server, const std::string& path)
{
    return "https://127.0.0.1:" + ReadPort(server) + path;
}

void WriteServed(const std::string& path, const std::string& bytes)
{
    const std::string www = std::string(FERNUP_HTTPS_DIR) + "\\www\\";
    CreateDirectoryA(www.c_str(), nullptr);
    CreateDirectoryA((www + "fetch").c_str(), nullptr);
    CreateDirectoryA((www + "fetch\\moved").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(www + path, bytes)) << path;
}

class HttpsFetchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_session = OpenSession("Fernup");
        ASSERT_NE(nullptr, m_session);
    }
    void TearDown() override
    {
        if (m_session != nullptr)
            InternetCloseHandle(m_session);
        g_httpTimeoutMs = 30000;
    }

    // A fresh session, so that the time-out it is opened with holds.
    void Reopen()
    {
        InternetCloseHandle(m_session);
        m_session = OpenSession("Fernup");
        ASSERT_NE(nullptr, m_session);
    }

    FetchOutcome ToMemory(const std::string& address, std::string* body, bool* gotArea)
    {
        char* area = nullptr;
        uint32_t received = 0;
        FetchOutcome outcome = FetchToMemory(&m_task, m_session, address.c_str(), 1 << 20,
                                             kNoTimeLimit, &area, &received);
        *gotArea = area != nullptr;
        body->assign(area != nullptr ? area : "", area != nullptr ? received : 0);
        FreeArea(area);
        return outcome;
    }

    FetchOutcome ToFile(const std::string& address, uint32_t declaredSize, std::string* bytes)
    {
        ScratchFolder folder("https");
        const std::string path = folder / "download.bin";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file);
        int32_t state = 0;
        int32_t percent = 0;
        FetchOutcome outcome =
            FetchToFile(&m_task, m_session, address.c_str(), file, declaredSize, state, percent);
        CloseHandle(file);
        ReadBytes(path, bytes);
        return outcome;
    }

    CWinThreadMaster m_task;  // never started: its pauses return at once
    HINTERNET m_session = nullptr;
};

TEST_F(HttpsFetchTest, ATrustedCertificateForTheHostFetchesAndFollowsRedirects)
{
    const std::string body = Pattern(200000, 31);
    WriteServed("fetch\\file.bin", body);
    WriteServed("fetch\\moved\\index.html", "moved here");

    std::string got;
    bool gotArea = false;
    EXPECT_EQ(FetchDone, ToMemory(Address("good", "/fetch/file.bin"), &got, &gotArea));
    EXPECT_TRUE(got == body) << got.size() << " bytes";
    EXPECT_EQ(FetchDone, ToFile(Address("good", "/fetch/file.bin"), 200000, &got));
    EXPECT_TRUE(got == body) << got.size() << " bytes";
    // nginx sends a folder named without its slash on to https://host:port/
    // with the slash: the redirect keeps the scheme and the port.
    EXPECT_EQ(FetchDone, ToMemory(Address("good", "/fetch/moved"), &got, &gotArea));
    EXPECT_EQ("moved here", got);
}

TEST_F(HttpsFetchTest, CertificatesThatDoNotHoldAreRefused)
{
    WriteServed("fetch\\refused.bin", "must not arrive");
    for (const char* server : {"other-name", "expired", "unknown-ca"}) {
        SCOPED_TRACE(server);
        std::string got;
        bool gotArea = true;
        EXPECT_EQ(FetchCannotOpen, ToMemory(Address(server, "/fetch/refused.bin"), &got, &gotArea));
        EXPECT_FALSE(gotArea);
        EXPECT_EQ(FetchCannotOpen, ToFile(Address(server, "/fetch/refused.bin"), 15, &got));
        EXPECT_EQ("", got);
    }
    // The same file from the server whose certificate holds: the refusals
    // above are the certificates', not the address's.
    std::string got;
    bool gotArea = false;
    EXPECT_EQ(FetchDone, ToMemory(Address("good", "/fetch/refused.bin"), &got, &gotArea));
    EXPECT_EQ("must not arrive", got);
}

// Bounded as over HTTP (HttpFetchTest's stall test): a server that never
// answers the handshake, one that takes the request and sends nothing, and one
// that stops in mid-body.
TEST_F(HttpsFetchTest, StallsEndAfterTimeout)
{
    g_httpTimeoutMs = 300;
    Reopen();
    // Takes the handshake's first message as a request head that never ends.
    CannedHttpServer silent;
    ASSERT_TRUE(silent.Start());

    struct Case {
        std::string address;
        bool toFile;
        FetchOutcome outcome;
    };
    const Case cases[] = {
        {"https://127.0.0.1:" + std::to_string(silent.Port()) + "/handshake", false,
         FetchCannotOpen},
        {Address("stall", "/head"), false, FetchCannotOpen},
        {Address("stall", "/body"), false, FetchBrokenOff},
        {Address("stall", "/body"), true, FetchBrokenOff},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + (c.toFile ? " to a file" : " to memory"));
        const DWORD start = GetTickCount();
        std::string got;
        bool gotArea = false;
        const FetchOutcome outcome =
            c.toFile ? ToFile(c.address, 9000, &got) : ToMemory(c.address, &got, &gotArea);
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(c.outcome, outcome);
        EXPECT_GE(elapsed, 250u) << "ended before the time-out";
        EXPECT_LT(elapsed, 2500u) << "not ended by the time-out";
    }
    // The send given up on still waits for its handshake: closing the
    // session under it, as a task does at its end, must not harm the process.
    InternetCloseHandle(m_session);
    m_session = nullptr;
    silent.Stop();
}

}  // namespace
