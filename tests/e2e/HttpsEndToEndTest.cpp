// The real Fernup.exe under Wine with an https:// base address: nginx with a
// certificate from the test CA (trusted only in this build tree's prefix)
// updates the game; a certificate for another name, an expired one and one
// from an unknown CA end at the definition's fetch with its failure line,
// and the game folder stays byte for byte as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/common/DialogDriver.h"
#include "tests/common/TaskTestSupport.h"
#include "tests/common/TestBytes.h"
#include "tests/e2e/UpdateScenario.h"

using namespace DialogDriver;

namespace {

const char kNotFetched[] = "定義ファイルが取得できませんでした。";

// One nginx root for every server; each server has its own certificate.
PackageSite HttpsSite(const std::string& server)
{
    const std::string folder = FERNUP_HTTPS_DIR;
    const std::string port = FileBytes(folder + "\\" + server + "\\port");
    EXPECT_NE("<missing>", port) << "no " << server << " server runs";
    return {folder + "\\www\\",
            "https://127.0.0.1:" + std::to_string(std::atoi(port.c_str())) + "/"};
}

// A game at 1.00 and a package of two files for it, served by server.
void Prepare(UpdateScenario& scenario)
{
    scenario.WriteLog("1.00");
    EXPECT_TRUE(WriteBytes(scenario.m_game + "data\\map01.dat", "old map"));
    scenario.Publish({{"files/map01.dat", "data\\map01.dat", Pattern(300000, 41)},
                      {"files/readme2.txt", "readme2.txt", "second file"}},
                     "1.01");
}

TEST(HttpsEndToEnd, AnUpdateOverHttpsSucceeds)
{
    UpdateScenario scenario("https-ok", FERNUP_EXE, HttpsSite("good"));
    Prepare(scenario);
    scenario.ExpectAnUpdateTo("1.01");
}

TEST(HttpsEndToEnd, ACertificateThatDoesNotHoldEndsAtTheFetchAndChangesNothing)
{
    for (const char* server : {"other-name", "expired", "unknown-ca"}) {
        SCOPED_TRACE(server);
        UpdateScenario scenario(std::string("https-refused-") + server, FERNUP_EXE,
                                HttpsSite(server));
        Prepare(scenario);
        const auto before = Snapshot(scenario.m_game);
        HWND dialog = scenario.Start();
        ASSERT_NE(nullptr, dialog);
        ASSERT_TRUE(StoppedAtDefinition(dialog, kNotFetched));
        scenario.Exit(dialog);
        EXPECT_TRUE(before == Snapshot(scenario.m_game)) << "the game folder changed";
    }
}

}  // namespace
