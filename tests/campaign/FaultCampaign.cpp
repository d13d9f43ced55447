// The fault campaign: many complete updates in a row against a loopback
// server of our own and a real game folder, each meeting one fault, each
// judged by the invariants of UpdateInvariants.h and by what its fault allows.
// Prints one line per run and the table of faults, runs and violations;
// exits non-zero when any run broke an invariant, hung or crashed.
//
// With --kills N it runs the kill campaign instead: the real Fernup.exe on an
// update of a few dozen files, its process killed at a moment of the fetch or
// install phase, the game folder judged, then the same update run to its end
// and judged again.
//
// usage: fault_campaign [--runs N] [--seed S] [--first R] [--timeout-ms T]
//        fault_campaign --kills N [--seed S] [--first R] [--program FERNUP_EXE]
//        fault_campaign --hold PATH RELEASE READY   (helper: holds PATH open)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FaultPlan.h"
#include "UpdateInvariants.h"
#include "core/DefinitionCheck.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/NoCopy.h"
#include "support/ProfileText.h"
#include "support/TextRoutines.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/ChildProcess.h"
#include "tests/common/DialogDriver.h"
#include "tests/common/TaskTestSupport.h"
#include "tests/common/TestBytes.h"
#include "updater/CFernupTask.h"
#include "updater/CInitUpdateTask.h"
#include "updater/HttpFetch.h"
#include "updater/InstalledStateWin.h"

namespace {

constexpr char kTitle[] = "フェルンの冒険";
constexpr char kPackagePath[] = "/pkg/";
constexpr uint32_t kTaskLimitMs = 120000;  // a run that takes longer has hung
constexpr char kLineBrokenOff[] = "ダウンロードが中断されました。";
constexpr char kLineDefinitionBrokenOff[] = "定義ファイルの取得が中断されました。";
constexpr char kLineDone[] = "アップデートが正常に完了しました。";
constexpr char kLineFailed[] = "アップデートに失敗しました。";

struct Options {
    uint32_t runs = 60;
    uint32_t seed = 1;
    uint32_t first = 0;
    uint32_t timeoutMs = 1000;  // the HTTP time-out seam, shortened
    uint32_t kills = 0;         // runs of the kill campaign; 0 runs the fault campaign
    std::string program;        // Fernup.exe; by default the build's own
};

// ---- The helper that holds a file open in a process of its own ----

int HoldFile(const char* path, const char* releaseName, const char* readyName)
{
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, releaseName);
    // Sharing nothing: no other handle may read, write or delete it meanwhile.
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == nullptr || release == nullptr || file == INVALID_HANDLE_VALUE)
        return 1;
    SetEvent(ready);
    WaitForSingleObject(release, kTaskLimitMs);
    CloseHandle(file);
    CloseHandle(ready);
    CloseHandle(release);
    return 0;
}

// Starts the helper on path and waits until it holds the file; the
// destructor lets it go and waits for it to end.
class FileHolder : NoCopy {
public:
    explicit FileHolder(const std::string& path)
        : m_releaseName(UniqueName("campaign-release")),
          m_release(CreateEventA(nullptr, TRUE, FALSE, m_releaseName.c_str())),
          m_helper("\"" + ThisProgram() + "\" --hold \"" + path + "\" " + m_releaseName, 20000)
    {
    }
    // The helper's own destructor then waits for its end.
    ~FileHolder()
    {
        SetEvent(m_release);
        CloseHandle(m_release);
    }

    bool Held() const { return m_helper.Ready(); }

private:
    std::string m_releaseName;
    HANDLE m_release;  // made before the helper starts, so that it can open it
    ReadyHelper m_helper;
};

// ---- The game folder and the package ----

std::string LogText(const std::string& baseAddress)
{
    return std::string("[GAME_UPDATE]\r\nURL=") + baseAddress +
           "\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=" +
           kTitle + "\r\n[GAME_OPTIONS]\r\nWINDOW=1\r\n";
}

// The game as installed before the campaign: the pool's installed files, a
// save file and a check list with a gap in its keys.
void MakeGame(const std::string& game)
{
    for (const char* folder : {"data", "data\\sub", "データ", "save"})
        CreateDirectoryA((game + folder).c_str(), nullptr);
    for (const PoolFile& file : TargetPool())
        if (file.installedAtStart)
            WriteBytes(game + file.target, std::string("old ") + file.target);
    WriteBytes(game + "save\\slot1.sav", Pattern(5000, 99));
    WriteBytes(game + "update.log", LogText("http://127.0.0.1:1/pkg/"));
    WriteBytes(game + "orvaCheck.cfg",
               "[FILE_CHECK_LIST]\r\nFILE0001=game.ini:" + Md5Of("old game.ini") +
                   "\r\nFILE0002=save\\slot1.sav:\r\nFILE0004=save\\after-gap.sav:" + Md5Of("gap") +
                   "\r\n");
}

// update.log names the base address of the server of this run.
void PointLogAt(const std::string& game, const std::string& baseAddress)
{
    std::string log;
    ReadBytes(game + "update.log", &log);
    size_t url = log.find("URL=");
    size_t end = log.find("\r\n", url);
    WriteBytes(game + "update.log", log.substr(0, url + 4) + baseAddress + log.substr(end));
}

std::string DefinitionText(const RunPlan& plan)
{
    std::string text = std::string("[UPDATE_VER]\r\nNAME=") + kTitle + "\r\nVER=" + plan.version +
                       "\r\nDAY=" + plan.day + "\r\n[UPDATE_FILE]\r\n";
    for (size_t i = 0; i < plan.files.size(); ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "FILE%03zu=", i + 1);
        const UpdatedFile& file = plan.files[i].file;
        text += key + plan.files[i].source + "," + file.target + "," +
                std::to_string(file.content.size()) + "," + file.md5 + "\r\n";
    }
    return text;
}

CannedHttpServer::Reply Page(const char* status)
{
    std::string page = std::string("<html><body><h1>") + status + "</h1></body></html>";
    CannedHttpServer::Reply reply;
    reply.bytes = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: text/html\r\n" +
                  "Content-Length: " + std::to_string(page.size()) +
                  "\r\nConnection: close\r\n\r\n" + page;
    return reply;
}

// The reply for a body that meets the run's fault.
CannedHttpServer::Reply FaultyReply(const RunPlan& plan, const std::string& body)
{
    using Ending = CannedHttpServer::Ending;
    const size_t cut = body.empty() ? 0 : plan.cutAt % body.size();
    const std::string junk = Pattern(1 + plan.cutAt % 20000, plan.run + 7);
    switch (plan.fault) {
    case Fault::BrokenOff:
        return CannedHttpServer::Ok(body.substr(0, cut), static_cast<int64_t>(body.size()),
                                    Ending::Reset);
    case Fault::ShortBody:
        return CannedHttpServer::Ok(body.substr(0, cut), static_cast<int64_t>(body.size()));
    case Fault::Stall:
        return CannedHttpServer::Ok(body.substr(0, cut), static_cast<int64_t>(body.size()),
                                    Ending::Stall, kTaskLimitMs);
    case Fault::LongBody:
        // Past the declared length, or declared and sent longer than the file.
        return CannedHttpServer::Ok(
            body + junk, plan.variant == 0 ? static_cast<int64_t>(body.size())
                                           : static_cast<int64_t>(body.size() + junk.size()));
    case Fault::ErrorPage:
        return Page(plan.variant == 0 ? "500 Internal Server Error" : "404 Not Found");
    default: return CannedHttpServer::Ok(body);
    }
}

// ---- One run ----

struct RunResult {
    RunOutcome outcome = RunOutcome::DefinitionFailed;
    std::string failureLine;  // the line that reported the failure, if any
    std::vector<std::string> violations;
    DWORD elapsedMs = 0;
    bool hung = false;
};

std::string Join(const std::vector<std::string>& lines)
{
    std::string joined;
    for (const std::string& line : lines)
        joined += (joined.empty() ? "" : " | ") + line;
    return joined;
}

FolderImage ImageOf(const std::string& folder)
{
    FolderImage image;
    for (auto& [path, bytes] : Snapshot(folder))
        image[path] = bytes;
    return image;
}

// Starts the run's server and points update.log at its package; the
// package's address, or empty (with the violation noted) when it did not start.
std::string ServeRun(CannedHttpServer* server, const std::string& game,
                     std::vector<std::string>* violations)
{
    if (!server->Start()) {
        violations->push_back("the loopback server did not start");
        return "";
    }
    const std::string base = server->Address(kPackagePath);
    PointLogAt(game, base);
    return base;
}

// The package as the server holds it, with the plan's fault in it.
void ServePackage(CannedHttpServer* server, const RunPlan& plan)
{
    const std::string definition = DefinitionText(plan);
    std::string md5Text = Md5Of(definition);
    if (plan.fault == Fault::WrongDigestMd5Txt) {
        if (plan.variant == 0)
            md5Text[plan.cutAt % 32] = md5Text[plan.cutAt % 32] == 'a' ? 'b' : 'a';
        else if (plan.variant == 1)
            for (char& c : md5Text)
                c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 32 : c);
        else
            md5Text += "\r\n";
        if (md5Text == Md5Of(definition))
            md5Text[0] = md5Text[0] == '0' ? '1' : '0';
    }
    const std::string readme = "readme of " + plan.version + "\r\n";
    const std::string package[] = {definition, md5Text, readme};
    const char* const names[] = {"update.qdv", "MD5.txt", "readme.txt"};
    const FaultSite sites[] = {FaultSite::Definition, FaultSite::Md5Txt, FaultSite::Readme};
    for (int i = 0; i < 3; ++i)
        server->SetReply(std::string(kPackagePath) + names[i],
                         plan.site == sites[i] ? FaultyReply(plan, package[i])
                                               : CannedHttpServer::Ok(package[i]));
    for (size_t i = 0; i < plan.files.size(); ++i) {
        const std::string& body = plan.files[i].file.content;
        const bool faulty = plan.site == FaultSite::UpdateFile && i == plan.fileIndex;
        server->SetReply(kPackagePath + plan.files[i].source,
                         faulty ? FaultyReply(plan, body) : CannedHttpServer::Ok(body));
    }
    if (plan.fault == Fault::Refused && plan.site == FaultSite::Definition)
        server->Stop();
}

// The work folders of digest: named by it, or by it and a number where that
// name was taken; each ends in "\\".
std::vector<std::string> WorkFolders(const std::string& digest)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::vector<std::string> folders;
    for (const std::string& name : FindNames(std::string(temp) + digest + "*"))
        folders.push_back(std::string(temp) + name + "\\");
    return folders;
}

// Whether a run left a work folder for digest behind that holds anything,
// or with allowEmpty false, one at all. Empty ones that are allowed are
// removed for the next run.
bool WorkFolderLeft(const std::string& digest, bool allowEmpty)
{
    bool left = false;
    for (const std::string& folder : WorkFolders(digest)) {
        left = left || !allowEmpty || !Snapshot(folder).empty();
        if (!left)
            RemoveDirectoryA(folder.c_str());
    }
    return left;
}

// Whether a work folder for digest holds a copy named name.
bool WorkCopyExists(const std::string& digest, const std::string& name)
{
    for (const std::string& folder : WorkFolders(digest))
        if (PathExists(folder + name))
            return true;
    return false;
}

// What the judge of a run of plan is told before it starts.
UpdateRun RunToJudge(const std::string& game, const RunPlan& plan)
{
    UpdateRun judged;
    judged.before = ImageOf(game);
    for (const PlannedFile& planned : plan.files)
        judged.files.push_back(planned.file);
    judged.newVersion = plan.version;
    judged.newDay = plan.day;
    return judged;
}

RunResult RunOne(const Options& options, const std::string& game, const RunPlan& plan)
{
    RunResult result;
    CannedHttpServer server;
    const std::string base = ServeRun(&server, game, &result.violations);
    if (base.empty())
        return result;
    ServePackage(&server, plan);

    UpdateRun judged = RunToJudge(game, plan);
    DWORD start = GetTickCount();

    // The definition fetch, and the dialog's check of what it brought.
    MessageListWindow messages;
    CInitUpdateTask fetch((base + "update.qdv").c_str(), messages.List(), false);
    if (!RunTask(&fetch, kTaskLimitMs)) {
        result.hung = true;
        result.violations.push_back("the definition fetch did not end");
        return result;
    }
    UpdateFileEntry* entries = nullptr;
    char digest[CMd5::kHexSize] = "";
    bool offered = false;
    FetchedPackage package;
    fetch.TakePackage(&package);
    if (fetch.GetFailureCode() == 0 && package.definition.Bytes() != nullptr) {
        Md5Hex(package.definition.Bytes(), package.definition.Length(), digest);
        // Taken over as the dialog does: LoadText releases the area.
        const uint32_t length = package.definition.Length();
        ProfileText::LoadText(package.definition.Release(), length);
        InstalledState installed;
        ReadInstalledState((game + "update.log").c_str(), &installed);
        InstalledFacts facts = {installed.title, installed.version, installed.day,
                                installed.versionNumber, false};
        DefinitionVerdict verdict;
        JudgeLoadedDefinition(facts, &verdict);
        bool complete = false;
        if (verdict.listFiles)
            entries = ReadLoadedFileList(&complete);
        ProfileText::ReleaseText();
        offered = verdict.offerUpdate && complete;
        if (!offered)
            result.violations.push_back("an accepted definition offered no update: " +
                                        std::string(verdict.lines[verdict.lineCount - 1]));
    } else {
        const std::vector<std::string> lines = messages.Lines();
        result.failureLine = lines.empty() ? "" : lines.back();
        if (plan.fault == Fault::Stall && result.failureLine != kLineDefinitionBrokenOff)
            result.violations.push_back("a stalled definition fetch did not end as broken off");
    }

    if (offered) {
        const std::string faultyTarget = game + plan.files[plan.fileIndex].file.target;
        if (plan.fault == Fault::ReadOnlyFile)
            SetFileAttributesA(faultyTarget.c_str(), FILE_ATTRIBUTE_READONLY);
        std::unique_ptr<FileHolder> holder;
        if (plan.fault == Fault::HeldOpen) {
            holder.reset(new FileHolder(faultyTarget));
            if (!holder->Held())
                result.violations.push_back("the helper could not hold " + faultyTarget);
        }
        if (plan.fault == Fault::Refused)
            server.Stop();

        CFernupTask update(base.c_str(), entries);
        UpdateSettings settings = {};
        CopyText(settings.gameFolder, sizeof settings.gameFolder, game.c_str());
        CopyText(settings.definitionDigest, sizeof settings.definitionDigest, digest);
        CopyText(settings.newVersion, sizeof settings.newVersion, plan.version.c_str());
        CopyText(settings.newDay, sizeof settings.newDay, plan.day.c_str());
        settings.messageList = messages.List();
        update.ApplySettings(settings);
        if (!RunTask(&update, kTaskLimitMs)) {
            // The task still runs on the entries; nothing more can be judged.
            result.hung = true;
            result.violations.push_back("the update did not end");
            return result;
        }
        holder.reset();
        SetFileAttributesA(faultyTarget.c_str(), FILE_ATTRIBUTE_NORMAL);

        int lastStarted = -1, index = 0;
        for (UpdateFileEntry* entry = entries; entry != nullptr; entry = entry->next, ++index)
            if (entry->transferState != kStateNotBegun)
                lastStarted = index;
        if (update.GetFailureCode() == 0) {
            result.outcome = RunOutcome::Succeeded;
        } else if (lastStarted >= 0) {
            result.outcome = RunOutcome::InstallFailed;
            judged.failingEntry = static_cast<size_t>(lastStarted);
        } else {
            result.outcome = RunOutcome::FetchFailed;
        }
        const std::vector<std::string> lines = messages.Lines();
        if (update.GetFailureCode() != 0 && lines.size() >= 2)
            result.failureLine = lines[lines.size() - 2];
        const char* last = update.GetFailureCode() == 0 ? kLineDone : kLineFailed;
        if (lines.empty() || lines.back() != last)
            result.violations.push_back("the last line is not the outcome's");
        if (plan.fault == Fault::Stall && plan.site == FaultSite::UpdateFile &&
            (lines.size() < 2 || lines[lines.size() - 2] != kLineBrokenOff))
            result.violations.push_back("a stalled download did not end as broken off");
    }
    FreeEntryChain(entries);
    result.elapsedMs = GetTickCount() - start;
    server.Stop();

    if (plan.fault == Fault::Stall && result.elapsedMs > 3 * options.timeoutMs + 5000)
        result.violations.push_back("a stall held the run for " + std::to_string(result.elapsedMs) +
                                    " ms");
    judged.workFolderLeft = digest[0] != '\0' && WorkFolderLeft(digest, false);
    judged.after = ImageOf(game);
    judged.outcome = result.outcome;
    for (const std::string& violation : CheckUpdateRun(judged))
        result.violations.push_back(violation);
    if ((plan.allowed & OutcomeBit(result.outcome)) == 0)
        result.violations.push_back(std::string("the fault may not end as '") +
                                    OutcomeName(result.outcome) + "'");
    return result;
}

// ---- The campaign ----

// What each row of a campaign's table counts: its runs, those that broke an
// invariant, and the longest.
struct Tally {
    uint32_t runs = 0;
    uint32_t violations = 0;
    DWORD longestMs = 0;

    void Count(bool violated, DWORD ms)
    {
        ++runs;
        violations += violated ? 1 : 0;
        longestMs = ms > longestMs ? ms : longestMs;
    }
    void Add(const Tally& other)
    {
        runs += other.runs;
        violations += other.violations;
        longestMs = other.longestMs > longestMs ? other.longestMs : longestMs;
    }
};

// A campaign's table: its header, a row for each kind of run, and their sum.
template <class RowType, size_t N>
void PrintTable(const char* header, const RowType (&rows)[N])
{
    std::printf("%s", header);
    RowType total;
    for (size_t i = 0; i < N; ++i) {
        rows[i].Print(RowType::Name(i));
        total.Add(rows[i]);
    }
    total.Print("all");
}

// A row of the fault campaign's table: the runs of one fault, or of all.
struct Row {
    static const char* Name(size_t i) { return FaultName(static_cast<Fault>(i)); }

    Tally tally;
    uint32_t outcomes[static_cast<int>(RunOutcome::Count)] = {};

    void Count(const RunResult& result)
    {
        tally.Count(!result.violations.empty(), result.elapsedMs);
        ++outcomes[static_cast<int>(result.outcome)];
    }
    void Add(const Row& row)
    {
        tally.Add(row.tally);
        for (int k = 0; k < static_cast<int>(RunOutcome::Count); ++k)
            outcomes[k] += row.outcomes[k];
    }
    void Print(const char* name) const
    {
        std::printf("| %s | %u | %u | %u | %u | %u | %lu ms | %u |\n", name, tally.runs,
                    outcomes[0], outcomes[1], outcomes[2], outcomes[3],
                    static_cast<unsigned long>(tally.longestMs), tally.violations);
    }
};

bool ParseOptions(int argc, char** argv, Options* options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        uint32_t value = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        if (std::strcmp(argv[i], "--program") == 0)
            options->program = argv[i + 1];
        else if (std::strcmp(argv[i], "--kills") == 0)
            options->kills = value;
        else if (std::strcmp(argv[i], "--runs") == 0)
            options->runs = value;
        else if (std::strcmp(argv[i], "--seed") == 0)
            options->seed = value;
        else if (std::strcmp(argv[i], "--first") == 0)
            options->first = value;
        else if (std::strcmp(argv[i], "--timeout-ms") == 0)
            options->timeoutMs = value;
        else
            return false;
    }
    return argc % 2 == 1;
}

// ---- The kill campaign ----

constexpr DWORD kWindowLimitMs = 30000;
constexpr DWORD kUpdateLimitMs = 180000;
constexpr char kLineOffered[] = "新しい修正ファイルがあります。";

// The build's own Fernup.exe: bin\ of the build, two folders above ours.
std::string BuiltProgram()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string program = path;
    for (int up = 0; up < 3; ++up)
        program = program.substr(0, program.rfind('\\'));
    return program + "\\bin\\Fernup.exe";
}

// What a file looks like from outside, without opening it: a replace shows
// as a new write time, a new file as its arrival.
struct FileLook {
    bool exists = false;
    uint64_t size = 0;
    uint64_t written = 0;
    bool operator!=(const FileLook& other) const
    {
        return exists != other.exists || size != other.size || written != other.written;
    }
};

FileLook LookAt(const std::string& path)
{
    FileLook look;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        look.exists = true;
        look.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        look.written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                       data.ftLastWriteTime.dwLowDateTime;
    }
    return look;
}

// One start of the program in the game folder; killed if still running
// when it goes.
class ProgramRun : NoCopy {
public:
    ProgramRun(const std::string& program, const std::string& game)
        : m_process("\"" + program + "\"", game.c_str())
    {
        if (m_process.Started())
            m_dialog = DialogDriver::FindDialog(m_process.Id(), kWindowLimitMs);
    }
    ~ProgramRun()
    {
        if (m_process.Started())
            Kill();
    }

    // True once the dialog offers the update, with Update pressed.
    bool PressUpdateWhenOffered(std::string* why)
    {
        if (m_dialog == nullptr) {
            *why = "the program showed no dialog";
            return false;
        }
        if (!WaitForLast(kLineOffered, "UERB", kWindowLimitMs)) {
            *why = "no update offered: " + LastLine();
            return false;
        }
        DialogDriver::Press(m_dialog, DialogDriver::kUpdate);
        return true;
    }

    bool WaitForLast(const char* line, const char* buttons, DWORD limitMs)
    {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < limitMs) {
            const std::vector<std::string> lines = DialogDriver::Lines(m_dialog);
            if (!lines.empty() && lines.back() == line &&
                DialogDriver::Buttons(m_dialog) == buttons)
                return true;
            if (!Running())
                return false;
            Sleep(20);
        }
        return false;
    }

    std::string LastLine() const
    {
        const std::vector<std::string> lines = DialogDriver::Lines(m_dialog);
        return lines.empty() ? std::string() : lines.back();
    }

    bool Running() const { return WaitForSingleObject(m_process.Handle(), 0) == WAIT_TIMEOUT; }

    // As a crash or a power cut ends it: no code of the program runs.
    void Kill()
    {
        if (Running())
            TerminateProcess(m_process.Handle(), 1);
        WaitForSingleObject(m_process.Handle(), 20000);
    }

    long ExitAndWait()
    {
        DialogDriver::Press(m_dialog, DialogDriver::kExit);
        return DialogDriver::ExitCodeWithin(m_process.Handle(), 20000);
    }

private:
    ChildProcess m_process;
    HWND m_dialog = nullptr;
};

FolderImage OutsideImage(const std::string& root)
{
    FolderImage image;
    for (auto& [path, bytes] : Snapshot(root))
        if (path.compare(0, 5, "game\\") != 0)
            image[path] = bytes;
    return image;
}

// Where a kill landed, told from the game folder afterwards.
enum class Landed : int { Fetching = 0, Installing = 1, Count = 2 };

struct KillResult {
    Landed landed = Landed::Fetching;
    bool killed = false;     // the process was still running when killed
    bool rerunDone = false;  // the second run completed the update
    DWORD killAtMs = 0;      // from the press of Update
    DWORD rerunMs = 0;
    std::vector<std::string> violations;
};

KillResult KillOne(const std::string& program, const std::string& root, const std::string& game,
                   const KillPlan& plan)
{
    KillResult result;
    CannedHttpServer server;
    if (ServeRun(&server, game, &result.violations).empty())
        return result;
    // The same update as a fault run's, without a fault.
    RunPlan asRun{};
    asRun.fault = Fault::None;
    asRun.version = plan.version;
    asRun.day = plan.day;
    asRun.files = plan.files;
    ServePackage(&server, asRun);
    const std::string digest = Md5Of(DefinitionText(asRun));

    UpdateRun judged = RunToJudge(game, asRun);
    const FolderImage outside = OutsideImage(root);
    // What the kill waits for: a download's file in the work folder, an
    // installed file's new write time, or a copy of ours beside it.
    const UpdatedFile& marked = plan.files[plan.entry].file;
    // The last "\\" that is not the second byte of a two-byte character.
    const char* slash = FindLastChar(marked.target.c_str(), '\\');
    const size_t nameAt =
        slash == nullptr ? 0 : static_cast<size_t>(slash - marked.target.c_str()) + 1;
    // The work folder bears the digest, with a number added where that name
    // was taken.
    const std::string watched = plan.moment == KillMoment::DownloadBegun
                                    ? marked.target.substr(nameAt)
                                    : game + marked.target;
    const std::string copies = game + marked.target.substr(0, nameAt) + "~fup????.tmp";
    const FileLook unchanged = LookAt(watched);
    auto reached = [&]() {
        if (plan.moment == KillMoment::DownloadBegun)
            return WorkCopyExists(digest, watched);
        // A copy may come and go between two looks: then its file is new.
        if (LookAt(watched) != unchanged)
            return true;
        if (plan.moment == KillMoment::FileInstalled)
            return false;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(copies.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindClose(search);
        return true;
    };
    {
        ProgramRun run(program, game);
        std::string why;
        if (!run.PressUpdateWhenOffered(&why)) {
            result.violations.push_back("first run: " + why);
            return result;
        }
        const DWORD pressed = GetTickCount();
        while (run.Running() && GetTickCount() - pressed < kUpdateLimitMs && !reached())
            Sleep(1);
        Sleep(plan.pauseMs);
        result.killed = run.Running();
        run.Kill();
        result.killAtMs = GetTickCount() - pressed;
        if (!result.killed)
            result.violations.push_back("the program ended before it was killed: " +
                                        run.LastLine());
    }

    judged.after = ImageOf(game);
    for (const auto& [path, bytes] : judged.after)
        if (IsTemporaryPath(path) ||
            (judged.before.count(path) != 0 && judged.before.at(path) != bytes) ||
            judged.before.count(path) == 0)
            result.landed = Landed::Installing;
    for (const std::string& violation : CheckKilledRun(judged))
        result.violations.push_back("killed: " + violation);
    if (OutsideImage(root) != outside)
        result.violations.push_back("killed: a file outside the game folder changed");

    // The same update again, to its end.
    {
        ProgramRun run(program, game);
        std::string why;
        const DWORD start = GetTickCount();
        if (!run.PressUpdateWhenOffered(&why)) {
            result.violations.push_back("second run: " + why);
            return result;
        }
        result.rerunDone = run.WaitForLast(kLineDone, "-ER-", kUpdateLimitMs);
        result.rerunMs = GetTickCount() - start;
        if (!result.rerunDone)
            result.violations.push_back("second run did not complete: " + run.LastLine());
        else if (run.ExitAndWait() != 0)
            result.violations.push_back("second run did not exit cleanly");
    }
    server.Stop();
    judged.after = ImageOf(game);
    judged.outcome = RunOutcome::Succeeded;
    // The killed run could not remove its folder, but its copies went with
    // its process; the re-run removed its own.
    judged.workFolderLeft = WorkFolderLeft(digest, true);
    for (const std::string& violation : CheckUpdateRun(judged))
        result.violations.push_back("completed: " + violation);
    if (OutsideImage(root) != outside)
        result.violations.push_back("completed: a file outside the game folder changed");
    return result;
}

// A row of the kill campaign's table: the kills at one moment, or at all.
struct KillRow {
    static const char* Name(size_t i) { return KillMomentName(static_cast<KillMoment>(i)); }

    Tally tally;  // of the re-runs' times
    uint32_t landed[static_cast<int>(Landed::Count)] = {};
    uint32_t rerunsDone = 0;

    void Count(const KillResult& result)
    {
        tally.Count(!result.violations.empty(), result.rerunMs);
        ++landed[static_cast<int>(result.landed)];
        rerunsDone += result.rerunDone ? 1 : 0;
    }
    void Add(const KillRow& row)
    {
        tally.Add(row.tally);
        landed[0] += row.landed[0];
        landed[1] += row.landed[1];
        rerunsDone += row.rerunsDone;
    }
    void Print(const char* name) const
    {
        std::printf("| %s | %u | %u | %u | %u | %lu ms | %u |\n", name, tally.runs, landed[0],
                    landed[1], rerunsDone, static_cast<unsigned long>(tally.longestMs),
                    tally.violations);
    }
};

int KillCampaign(const Options& options)
{
    const std::string built = options.program.empty() ? BuiltProgram() : options.program;
    ScratchFolder root("kill-campaign");
    const std::string game = root.Path() + "game\\";
    CreateDirectoryA(game.c_str(), nullptr);
    MakeGame(game);
    // The program lives outside the game folder, beside a folder of someone
    // else's files; neither may change.
    CreateDirectoryA((root.Path() + "program").c_str(), nullptr);
    CreateDirectoryA((root.Path() + "outside").c_str(), nullptr);
    const std::string program = root.Path() + "program\\Fernup.exe";
    if (!CopyFileA(built.c_str(), program.c_str(), FALSE)) {
        std::printf("kill campaign: cannot copy %s\n", built.c_str());
        return 2;
    }
    WriteBytes(root.Path() + "outside\\notes.txt", Pattern(3000, 5));
    WriteBytes(root.Path() + "outside\\~fup0001.tmp", "someone's, in another folder");

    std::printf("kill campaign: seed %u, kills %u to %u%s\n", options.seed, options.first,
                options.first + options.kills - 1, RunningUnderWine() ? ", under Wine" : "");
    KillRow rows[static_cast<int>(KillMoment::Count)];
    uint32_t violations = 0;
    for (uint32_t run = options.first; run < options.first + options.kills; ++run) {
        const KillPlan plan = PlanKill(options.seed, run);
        const KillResult result = KillOne(program, root.Path(), game, plan);
        rows[static_cast<int>(plan.moment)].Count(result);
        violations += result.violations.empty() ? 0 : 1;
        const UpdatedFile& marked = plan.files[plan.entry].file;
        std::printf(
            "kill %3u: %2zu files, %-16s %2zu (%s, %zu bytes) + %u ms -> at %5lu ms, "
            "while %s; re-run %5lu ms  %s\n",
            run, plan.files.size(), KillMomentName(plan.moment), plan.entry + 1,
            marked.target.c_str(), marked.content.size(), plan.pauseMs,
            static_cast<unsigned long>(result.killAtMs),
            result.landed == Landed::Fetching ? "fetching" : "installing",
            static_cast<unsigned long>(result.rerunMs),
            result.violations.empty() ? "ok" : ("VIOLATED: " + Join(result.violations)).c_str());
        std::fflush(stdout);
    }

    PrintTable(
        "\n| kill after | kills | landed while fetching | landed while installing | "
        "re-runs completed | longest re-run | invariant violations |\n"
        "|---|---:|---:|---:|---:|---:|---:|\n",
        rows);
    return violations == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--hold") == 0)
        return HoldFile(argv[2], argv[3], argv[4]);
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: fault_campaign [--runs N] [--seed S] [--first R] "
                     "[--timeout-ms T]\n"
                     "       fault_campaign --kills N [--seed S] [--first R] "
                     "[--program FERNUP_EXE]\n");
        return 2;
    }
    g_httpTimeoutMs = options.timeoutMs;
    if (options.kills > 0)
        return KillCampaign(options);

    ScratchFolder root("campaign");
    const std::string game = root.Path() + "game\\";
    CreateDirectoryA(game.c_str(), nullptr);
    MakeGame(game);

    std::printf("fault campaign: seed %u, runs %u to %u, HTTP time-out %u ms%s\n", options.seed,
                options.first, options.first + options.runs - 1, options.timeoutMs,
                RunningUnderWine() ? ", under Wine" : "");
    Row rows[static_cast<int>(Fault::Count)];
    uint32_t violations = 0;
    bool hung = false;
    for (uint32_t run = options.first; run < options.first + options.runs && !hung; ++run) {
        const RunPlan plan = PlanRun(options.seed, run);
        const RunResult result = RunOne(options, game, plan);
        rows[static_cast<int>(plan.fault)].Count(result);
        violations += result.violations.empty() ? 0 : 1;
        hung = result.hung;
        std::printf(
            "run %3u: %-30s %-10s %zu of %zu files -> %-18s %5lu ms  %s  %s\n", run,
            FaultName(plan.fault), SiteName(plan.site), plan.fileIndex + 1, plan.files.size(),
            OutcomeName(result.outcome), static_cast<unsigned long>(result.elapsedMs),
            result.violations.empty() ? "ok" : ("VIOLATED: " + Join(result.violations)).c_str(),
            result.failureLine.c_str());
        std::fflush(stdout);
    }

    PrintTable(
        "\n| fault | runs | definition refused | fetch failed | install failed | "
        "succeeded | longest run | invariant violations |\n"
        "|---|---:|---:|---:|---:|---:|---:|---:|\n",
        rows);
    if (hung)
        std::printf("campaign stopped: a run did not end\n");
    return violations == 0 && !hung ? 0 : 1;
}
