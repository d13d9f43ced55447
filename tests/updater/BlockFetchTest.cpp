// The copy made from an installed file's blocks and ranges of the server's,
// against the canned server: what a range is taken as, and every answer that
// makes the caller fetch the file whole instead.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/BlockIndex.h"
#include "core/OsClass.h"
#include "framework/CWinThreadMaster.h"
#include "support/TextRoutines.h"
#include "support/ScopedHandle.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/TaskTestSupport.h"
#include "tests/common/TestBlocks.h"
#include "updater/BlockFetch.h"
#include "updater/FileReader.h"
#include "updater/HttpFetch.h"

namespace {

using Reply = CannedHttpServer::Reply;
using Ending = CannedHttpServer::Ending;

constexpr uint32_t kSize = 1u << 20;  // 256 blocks of 4 KiB
constexpr uint32_t kChanged = 100;    // the one block the installed file lacks
const std::string kRange = "bytes=409600-413695";

std::string NewFile()
{
    std::string bytes = Pattern(kSize, 70);
    for (uint32_t i = 0; i < 4096; ++i)
        bytes[kChanged * 4096 + i] = static_cast<char>(bytes[kChanged * 4096 + i] ^ 0x5A);
    return bytes;
}

struct Outcome {
    bool assembled;
    std::string copy;
    int32_t state;
    int32_t percent;
    std::vector<std::string> asked;  // path and range of each request
};

class BlockFetchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_session = OpenSession("Fernup");
        ASSERT_NE(nullptr, m_session);
        // Read unbuffered, as every class but Windows 2000 reads.
        m_reader.Allocate(kOsClassUnknown, m_folder.Path().c_str());
    }
    void TearDown() override { InternetCloseHandle(m_session); }

    Outcome Assemble(CannedHttpServer& server, const std::string& installedBytes,
                     const std::string& fresh)
    {
        UpdateFileEntry entry = {};
        entry.size = static_cast<int32_t>(fresh.size());
        CopyText(entry.md5, sizeof entry.md5, Md5Of(fresh).c_str());
        const std::string installedPath = m_folder.Write("installed.pak", installedBytes);
        CFileHandle installed(m_reader.Open(installedPath.c_str()));
        const std::string copyPath = m_folder / "copy.pak";
        CFileHandle copy(CreateFileA(copyPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        Outcome outcome = {};
        outcome.assembled = AssembleFromBlocks(
            &m_task, m_session, server.Address("/f").c_str(), entry, installed.Get(),
            static_cast<uint32_t>(installedBytes.size()), &m_reader, copy.Get(), outcome.state,
            outcome.percent);
        copy.Reset(INVALID_HANDLE_VALUE);
        ReadBytes(copyPath, &outcome.copy);
        for (const std::string& head : server.Requests()) {
            const size_t path = head.find(' ') + 1;
            std::string line = head.substr(path, head.find(' ', path) - path);
            const size_t range = head.find("\r\nRange: ");
            if (range != std::string::npos)
                line += " " + head.substr(range + 9, head.find("\r\n", range + 2) - range - 9);
            outcome.asked.push_back(line);
        }
        return outcome;
    }

    CWinThreadMaster m_task;  // never started: its pauses return at once
    HINTERNET m_session = nullptr;
    ScratchFolder m_folder{"blocks"};
    CFileReader m_reader;
};

}  // namespace

TEST_F(BlockFetchTest, ARangeIsTakenOnlyAsTheRangeAskedForAndEveryTroubleFallsBack)
{
    const std::string installed = Pattern(kSize, 70);
    const std::string fresh = NewFile();
    const std::string index = BlockIndexOf(fresh);
    const std::string block = fresh.substr(kChanged * 4096, 4096);
    const std::string answered = "bytes 409600-413695/1048576";
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, Reply>> replies;       // by path
        std::vector<std::pair<std::string, Reply>> rangeReplies;  // by path, to a Range
        bool assembled;
        std::vector<std::string> asked;
    };
    const std::vector<Case> cases = {
        {"the range asked for", {{"/f.fbi", CannedHttpServer::Ok(index)}},
         {{"/f", CannedHttpServer::Partial(block, answered)}}, true, {"/f.fbi", "/f " + kRange}},
        {"the range behind a redirect, the Range sent again",
         {{"/f.fbi", CannedHttpServer::Ok(index)}, {"/f", CannedHttpServer::Redirect("/g")}},
         {{"/g", CannedHttpServer::Partial(block, answered)}}, true,
         {"/f.fbi", "/f " + kRange, "/g " + kRange}},
        {"no index", {}, {}, false, {"/f.fbi"}},
        {"an index larger than any",
         {{"/f.fbi", CannedHttpServer::Ok(std::string(kMaxBlockIndexSize + 1, 'x'))}}, {}, false,
         {"/f.fbi"}},
        {"another file's index", {{"/f.fbi", CannedHttpServer::Ok(BlockIndexOf(installed))}}, {},
         false, {"/f.fbi"}},
        {"a 200 with the whole file",
         {{"/f.fbi", CannedHttpServer::Ok(index)}, {"/f", CannedHttpServer::Ok(fresh)}}, {},
         false, {"/f.fbi", "/f " + kRange}},
        {"another range", {{"/f.fbi", CannedHttpServer::Ok(index)}},
         {{"/f", CannedHttpServer::Partial(block, "bytes 409601-413696/1048576")}}, false,
         {"/f.fbi", "/f " + kRange}},
        {"another file's length", {{"/f.fbi", CannedHttpServer::Ok(index)}},
         {{"/f", CannedHttpServer::Partial(block, "bytes 409600-413695/1048577")}}, false,
         {"/f.fbi", "/f " + kRange}},
        {"a short range", {{"/f.fbi", CannedHttpServer::Ok(index)}},
         {{"/f", CannedHttpServer::Partial(block.substr(0, 1000), answered, 4096)}}, false,
         {"/f.fbi", "/f " + kRange}},
        {"a range broken off", {{"/f.fbi", CannedHttpServer::Ok(index)}},
         {{"/f", [&] {
               Reply reply = CannedHttpServer::Partial(block.substr(0, 1000), answered, 4096);
               reply.ending = Ending::Reset;
               return reply;
           }()}},
         false, {"/f.fbi", "/f " + kRange}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CannedHttpServer server;
        for (const auto& reply : c.replies)
            server.SetReply(reply.first, reply.second);
        for (const auto& reply : c.rangeReplies)
            server.SetRangeReply(reply.first, reply.second);
        ASSERT_TRUE(server.Start());
        const Outcome outcome = Assemble(server, installed, fresh);
        EXPECT_EQ(c.assembled, outcome.assembled);
        EXPECT_EQ(c.asked, outcome.asked);
        EXPECT_EQ(kStateRunning, outcome.state);
        if (c.assembled) {
            EXPECT_TRUE(outcome.copy == fresh);
            EXPECT_EQ(85, outcome.percent);
        }
    }
}
