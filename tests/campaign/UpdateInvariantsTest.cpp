#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "UpdateInvariants.h"
#include "tests/common/TestBytes.h"

namespace {

const char kLog[] =
    "[GAME_UPDATE]\r\nURL=http://127.0.0.1:8080/pkg/\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\n"
    "UPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=Quill\r\n";
const char kLogUpdated[] =
    "[GAME_UPDATE]\r\nURL=http://127.0.0.1:8080/pkg/\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.05\r\n"
    "UPDATE_DAY=2027/01/05\r\nUPDATE_TITLE=Quill\r\n";

// A game of three files, an update of the first two and a new third.
UpdateRun BaseRun()
{
    UpdateRun run;
    run.before = {{"data\\", kFolderMark},
                  {"data\\a.dat", "old a"},
                  {"b.ini", "old b"},
                  {"save.sav", "save"},
                  {"update.log", kLog},
                  {"orvaCheck.cfg", "[FILE_CHECK_LIST]\r\nFILE0001=B.INI:" + Md5Of("old b") +
                                        "\r\nFILE0002=save.sav:" + Md5Of("save") + "\r\n"}};
    run.files = {{"data\\a.dat", "new a", Md5Of("new a")},
                 {"b.ini", "new b", Md5Of("new b")},
                 {"data\\c.pak", "new c", Md5Of("new c")}};
    run.newVersion = "1.05";
    run.newDay = "2027/01/05";
    run.after = run.before;
    return run;
}

// The game folder after a complete update of BaseRun.
void Complete(UpdateRun* run)
{
    run->outcome = RunOutcome::Succeeded;
    for (const UpdatedFile& file : run->files)
        run->after[file.target] = file.content;
    run->after["update.log"] = kLogUpdated;
    run->after["orvaCheck.cfg"] = "[FILE_CHECK_LIST]\r\nFILE0001=B.INI:" + Md5Of("new b") +
                                  "\r\nFILE0002=save.sav:" + Md5Of("save") +
                                  "\r\nFILE0003=data\\a.dat:" + Md5Of("new a") +
                                  "\r\nFILE0004=data\\c.pak:" + Md5Of("new c") + "\r\n";
}

struct Case {
    const char* what;
    std::function<void(UpdateRun*)> make;
    const char* violation;  // a part of the one expected line; null when none is
};

TEST(UpdateInvariants, JudgesEveryOutcome)
{
    const Case cases[] = {
        {"fetch failed, nothing touched",
         [](UpdateRun* r) { r->outcome = RunOutcome::FetchFailed; }, nullptr},
        {"definition refused, nothing touched",
         [](UpdateRun* r) { r->outcome = RunOutcome::DefinitionFailed; }, nullptr},
        {"fetch failed, an installed file replaced",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::FetchFailed;
             r->after["data\\a.dat"] = "new a";
         },
         "data\\a.dat: not part of the update"},
        {"fetch failed, update.log written",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::FetchFailed;
             r->after["update.log"] = kLogUpdated;
         },
         "update.log: not part of the update"},
        {"fetch failed, a temporary file left",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::FetchFailed;
             r->after["data\\fup1A.tmp"] = "partial";
         },
         "data\\fup1A.tmp: left behind"},
        {"fetch failed, work folder left",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::FetchFailed;
             r->workFolderLeft = true;
         },
         "work folder"},
        {"install failed at the second, first installed",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 1;
             r->after["data\\a.dat"] = "new a";
         },
         nullptr},
        {"install failed at the second, which is wholly new",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 1;
             r->after["data\\a.dat"] = "new a";
             r->after["b.ini"] = "new b";
         },
         nullptr},
        {"install failed at a new file that stayed absent",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 2;
             r->after["data\\a.dat"] = "new a";
             r->after["b.ini"] = "new b";
         },
         nullptr},
        {"install failed, the failing file half written",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 1;
             r->after["data\\a.dat"] = "new a";
             r->after["b.ini"] = "new";
         },
         "neither as it was"},
        {"install failed, the failing new file half written",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 2;
             r->after["data\\a.dat"] = "new a";
             r->after["b.ini"] = "new b";
             r->after["data\\c.pak"] = "";
         },
         "neither as it was"},
        {"install failed, an earlier file not installed",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 1;
         },
         "data\\a.dat: installed file differs"},
        {"install failed, a later file installed",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 0;
             r->after["b.ini"] = "new b";
         },
         "b.ini: after the failing entry"},
        {"install failed, check list written",
         [](UpdateRun* r) {
             Complete(r);
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 2;
             r->after["update.log"] = kLog;
         },
         "orvaCheck.cfg: not part of the update"},
        {"complete", [](UpdateRun* r) { Complete(r); }, nullptr},
        {"complete without a check list before",
         [](UpdateRun* r) {
             r->before.erase("orvaCheck.cfg");
             Complete(r);
             r->after["orvaCheck.cfg"] =
                 "[FILE_CHECK_LIST]\r\nFILE0001=data\\a.dat:" + Md5Of("new a") +
                 "\r\nFILE0002=b.ini:" + Md5Of("new b") +
                 "\r\nFILE0003=data\\c.pak:" + Md5Of("new c") + "\r\n";
         },
         nullptr},
        {"complete, another line of update.log changed",
         [](UpdateRun* r) {
             Complete(r);
             std::string& log = r->after["update.log"];
             log.replace(log.find("8080"), 4, "8081");
         },
         "update.log: lines other than"},
        {"complete, version not recorded",
         [](UpdateRun* r) {
             Complete(r);
             std::string& log = r->after["update.log"];
             log.replace(log.find("1.05"), 4, "1.00");
         },
         "UPDATE_VER: expected 1.05, got 1.00"},
        {"complete, day not recorded",
         [](UpdateRun* r) {
             Complete(r);
             r->after["update.log"] = kLog;
             std::string& log = r->after["update.log"];
             log.replace(log.find("1.00"), 4, "1.05");
         },
         "UPDATE_DAY: expected 2027/01/05"},
        {"complete, a file missing from the check list",
         [](UpdateRun* r) {
             Complete(r);
             std::string& list = r->after["orvaCheck.cfg"];
             list = list.substr(0, list.find("FILE0004"));
         },
         "no record of data\\c.pak"},
        {"complete, an old digest left in the check list",
         [](UpdateRun* r) {
             Complete(r);
             std::string& list = r->after["orvaCheck.cfg"];
             list.replace(list.find(Md5Of("new b")), 32, Md5Of("old b"));
         },
         "expected digest " /* of b.ini */},
        {"complete, a listed name rewritten",
         [](UpdateRun* r) {
             Complete(r);
             std::string& list = r->after["orvaCheck.cfg"];
             list.replace(list.find("B.INI"), 5, "b.ini");
         },
         "FILE0001=B.INI"},
        {"complete, a line of another file changed",
         [](UpdateRun* r) {
             Complete(r);
             std::string& list = r->after["orvaCheck.cfg"];
             list.replace(list.find(Md5Of("save")), 32, Md5Of("other"));
         },
         "FILE0002=save.sav"},
        {"complete, a file that does not match its digest",
         [](UpdateRun* r) {
             r->files[1].md5 = Md5Of("something else");
             Complete(r);
         },
         "b.ini: installed file differs"},
        {"complete, an unrelated file changed",
         [](UpdateRun* r) {
             Complete(r);
             r->after["save.sav"] = "lost";
         },
         "save.sav: not part of the update"},
    };
    for (const Case& c : cases) {
        UpdateRun run = BaseRun();
        c.make(&run);
        const std::vector<std::string> violations = CheckUpdateRun(run);
        if (c.violation == nullptr) {
            EXPECT_TRUE(violations.empty()) << c.what << ": unexpected " << violations[0];
            continue;
        }
        // The check-list case with an old digest also names the file.
        ASSERT_FALSE(violations.empty()) << c.what << ": expected '" << c.violation << "'";
        bool named = false;
        for (const std::string& line : violations)
            named = named || line.find(c.violation) != std::string::npos;
        EXPECT_TRUE(named) << c.what << ": expected '" << c.violation << "', got '" << violations[0]
                           << "'";
    }
}

TEST(UpdateInvariants, JudgesAKilledRun)
{
    const Case cases[] = {
        {"killed before anything was installed", [](UpdateRun*) {}, nullptr},
        {"killed midway: one new, one old, a copy left beside them",
         [](UpdateRun* r) {
             r->after["data\\a.dat"] = "new a";
             r->after["data\\~fup1A2B.tmp"] = "new";
         },
         nullptr},
        {"killed after the last file, before the record",
         [](UpdateRun* r) {
             for (const UpdatedFile& file : r->files)
                 r->after[file.target] = file.content;
         },
         nullptr},
        {"a file half written", [](UpdateRun* r) { r->after["b.ini"] = "new"; },
         "b.ini: neither as it was"},
        {"a file gone", [](UpdateRun* r) { r->after.erase("b.ini"); }, "b.ini: neither"},
        {"a new file half written", [](UpdateRun* r) { r->after["data\\c.pak"] = "ne"; },
         "data\\c.pak: neither"},
        {"update.log written", [](UpdateRun* r) { r->after["update.log"] = kLogUpdated; },
         "update.log: not part of the update"},
        {"the check list written",
         [](UpdateRun* r) { r->after["orvaCheck.cfg"] = "[FILE_CHECK_LIST]\r\n"; },
         "orvaCheck.cfg: not part of the update"},
        {"another file changed", [](UpdateRun* r) { r->after["save.sav"] = "lost"; },
         "save.sav: not part"},
        {"a copy left beside a two-byte name that ends in 0x5C",
         [](UpdateRun* r) { r->after["データ\\~fup0F0F.tmp"] = "new"; }, nullptr},
        {"a name whose two-byte character ends in 0x5C before a temporary name",
         [](UpdateRun* r) { r->after["表~fup0F0F.tmp"] = ""; }, "came into"},
        {"a file of another name left", [](UpdateRun* r) { r->after["data\\rf40A3.tmp"] = ""; },
         "data\\rf40A3.tmp: came into"},
    };
    for (const Case& c : cases) {
        UpdateRun run = BaseRun();
        c.make(&run);
        const std::vector<std::string> violations = CheckKilledRun(run);
        if (c.violation == nullptr) {
            EXPECT_TRUE(violations.empty()) << c.what << ": unexpected " << violations[0];
            continue;
        }
        ASSERT_EQ(1u, violations.size()) << c.what << ": expected '" << c.violation << "'";
        EXPECT_NE(std::string::npos, violations[0].find(c.violation))
            << c.what << ": expected '" << c.violation << "', got '" << violations[0] << "'";
    }
}

TEST(UpdateInvariants, ProfileLinesSplitAtCrLfOnly)
{
    const struct {
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a=1\r\nb=2\r\n", {"a=1", "b=2"}},
        {"a=1\r\nb=2", {"a=1", "b=2"}},
        {"a=1\nb=2\r\n\r\nc", {"a=1\nb=2", "", "c"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.lines, ProfileLines(c.bytes)) << c.bytes;
}

}  // namespace
