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

using Change = std::function<void(UpdateRun*)>;

// These files written into the game folder; alone, a killed run's, whose
// outcome is not told.
Change Written(const FolderImage& written)
{
    return [=](UpdateRun* r) {
        for (const auto& [path, bytes] : written)
            r->after[path] = bytes;
    };
}

// The run ended as outcome, with these files written.
Change Ended(RunOutcome outcome, const FolderImage& written = {})
{
    return [=](UpdateRun* r) {
        r->outcome = outcome;
        Written(written)(r);
    };
}

// The install failed at the entry, with these files written before it.
Change InstallFailedAt(size_t entry, const FolderImage& written = {})
{
    return [=](UpdateRun* r) {
        Ended(RunOutcome::InstallFailed, written)(r);
        r->failingEntry = entry;
    };
}

// A complete update, after which the first from in a file's bytes became to.
Change CompletedWith(const std::string& path, const std::string& from, const std::string& to)
{
    return [=](UpdateRun* r) {
        Complete(r);
        std::string& bytes = r->after[path];
        bytes.replace(bytes.find(from), from.size(), to);
    };
}

struct Case {
    const char* what;
    Change make;
    const char* violation;  // a part of the one expected line; null when none is
};

// Judges each case's run with check: no violation where the case expects
// none, else one that names its part (with onlyLine, the only one).
template <size_t N>
void ExpectJudged(const Case (&cases)[N], std::vector<std::string> (*check)(const UpdateRun&),
                  bool onlyLine)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateRun run = BaseRun();
        c.make(&run);
        const std::vector<std::string> violations = check(run);
        if (c.violation == nullptr) {
            EXPECT_EQ(std::vector<std::string>{}, violations);
            continue;
        }
        if (onlyLine) {
            ASSERT_EQ(1u, violations.size()) << "expected '" << c.violation << "'";
        }
        // Any line will do: a check list with an old digest, say, also names
        // the file.
        bool named = false;
        for (const std::string& line : violations)
            named = named || line.find(c.violation) != std::string::npos;
        EXPECT_TRUE(named) << "expected '" << c.violation << "', got "
                           << ::testing::PrintToString(violations);
    }
}

TEST(UpdateInvariants, JudgesEveryOutcome)
{
    const FolderImage firstInstalled = {{"data\\a.dat", "new a"}};
    const FolderImage twoInstalled = {{"data\\a.dat", "new a"}, {"b.ini", "new b"}};
    const Case cases[] = {
        {"fetch failed, nothing touched", Ended(RunOutcome::FetchFailed), nullptr},
        {"definition refused, nothing touched", Ended(RunOutcome::DefinitionFailed), nullptr},
        {"fetch failed, an installed file replaced", Ended(RunOutcome::FetchFailed, firstInstalled),
         "data\\a.dat: not part of the update"},
        {"fetch failed, update.log written",
         Ended(RunOutcome::FetchFailed, {{"update.log", kLogUpdated}}),
         "update.log: not part of the update"},
        {"fetch failed, a temporary file left",
         Ended(RunOutcome::FetchFailed, {{"data\\fup1A.tmp", "partial"}}),
         "data\\fup1A.tmp: left behind"},
        {"fetch failed, work folder left",
         [](UpdateRun* r) {
             r->outcome = RunOutcome::FetchFailed;
             r->workFolderLeft = true;
         },
         "work folder"},
        {"install failed at the second, first installed", InstallFailedAt(1, firstInstalled),
         nullptr},
        {"install failed at the second, which is wholly new", InstallFailedAt(1, twoInstalled),
         nullptr},
        {"install failed at a new file that stayed absent", InstallFailedAt(2, twoInstalled),
         nullptr},
        {"install failed, the failing file half written",
         InstallFailedAt(1, {{"data\\a.dat", "new a"}, {"b.ini", "new"}}), "neither as it was"},
        {"install failed, the failing new file half written",
         InstallFailedAt(2, {{"data\\a.dat", "new a"}, {"b.ini", "new b"}, {"data\\c.pak", ""}}),
         "neither as it was"},
        {"install failed, an earlier file not installed", InstallFailedAt(1),
         "data\\a.dat: installed file differs"},
        {"install failed, a later file installed", InstallFailedAt(0, {{"b.ini", "new b"}}),
         "b.ini: after the failing entry"},
        {"install failed, check list written",
         [](UpdateRun* r) {
             Complete(r);
             r->outcome = RunOutcome::InstallFailed;
             r->failingEntry = 2;
             r->after["update.log"] = kLog;
         },
         "orvaCheck.cfg: not part of the update"},
        {"complete", Complete, nullptr},
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
         CompletedWith("update.log", "8080", "8081"), "update.log: lines other than"},
        {"complete, version not recorded", CompletedWith("update.log", "1.05", "1.00"),
         "UPDATE_VER: expected 1.05, got 1.00"},
        {"complete, day not recorded", CompletedWith("update.log", "2027/01/05", "2026/11/01"),
         "UPDATE_DAY: expected 2027/01/05"},
        {"complete, a file missing from the check list",
         CompletedWith("orvaCheck.cfg", "FILE0004=data\\c.pak:" + Md5Of("new c") + "\r\n", ""),
         "no record of data\\c.pak"},
        {"complete, an old digest left in the check list",
         CompletedWith("orvaCheck.cfg", Md5Of("new b"), Md5Of("old b")),
         "expected digest " /* of b.ini */},
        {"complete, a listed name rewritten", CompletedWith("orvaCheck.cfg", "B.INI", "b.ini"),
         "FILE0001=B.INI"},
        {"complete, a line of another file changed",
         CompletedWith("orvaCheck.cfg", Md5Of("save"), Md5Of("other")), "FILE0002=save.sav"},
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
    ExpectJudged(cases, CheckUpdateRun, false);
}

TEST(UpdateInvariants, JudgesAKilledRun)
{
    const Case cases[] = {
        {"killed before anything was installed", Written({}), nullptr},
        {"killed midway: one new, one old, a copy left beside them",
         Written({{"data\\a.dat", "new a"}, {"data\\~fup1A2B.tmp", "new"}}), nullptr},
        {"killed after the last file, before the record",
         [](UpdateRun* r) {
             for (const UpdatedFile& file : r->files)
                 r->after[file.target] = file.content;
         },
         nullptr},
        {"a file half written", Written({{"b.ini", "new"}}), "b.ini: neither as it was"},
        {"a file gone", [](UpdateRun* r) { r->after.erase("b.ini"); }, "b.ini: neither"},
        {"a new file half written", Written({{"data\\c.pak", "ne"}}), "data\\c.pak: neither"},
        {"update.log written", Written({{"update.log", kLogUpdated}}),
         "update.log: not part of the update"},
        {"the check list written", Written({{"orvaCheck.cfg", "[FILE_CHECK_LIST]\r\n"}}),
         "orvaCheck.cfg: not part of the update"},
        {"another file changed", Written({{"save.sav", "lost"}}), "save.sav: not part"},
        {"a copy left beside a two-byte name that ends in 0x5C",
         Written({{"データ\\~fup0F0F.tmp", "new"}}), nullptr},
        {"a name whose two-byte character ends in 0x5C before a temporary name",
         Written({{"表~fup0F0F.tmp", ""}}), "came into"},
        {"a file of another name left", Written({{"data\\rf40A3.tmp", ""}}),
         "data\\rf40A3.tmp: came into"},
    };
    ExpectJudged(cases, CheckKilledRun, true);
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
