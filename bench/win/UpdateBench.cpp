// Times each phase of a real update by CFernupTask, online or offline, without
// instrumenting the product: the task runs on its own thread while this one
// polls the progress fields of the file entries, as the dialog's timer does but
// every millisecond. The poll only reads memory and sleeps; the thread's
// messages (the task's lines) are handled every 20 ms once the steps have
// begun, since each look at the queue is a round trip to Wine's server, which
// the task's file calls wait on too.
//
// Every step of the task is followed by a 10 ms pause, so a poll sees each step
// end before the next one starts, and the end of a step shows in its entry:
//   download             download percentage reaches 85 (the declared size arrived)
//   check of the copy    download state 2
//   copy into the game   transfer percentage reaches 85
//   check of the install transfer state 2
// A step's time runs from the end of the step before it, less one pause; the
// first step starts at the task's first line and the record phase ends at its
// last. What a step does after its last progress store falls to the next one:
// closing the request and the file of a download, closing the files of a copy
// and putting the copy in place of the installed file.
//
// The pause is measured as the task gets it: a copy stores its transfer state 1
// before anything else, so the time from the end of the step before it to that
// store is one pause. Beside the figures: the floor that the pacing of the
// download sets, and the reference pipeline's times that scripts/bench.sh
// measured and passes in. --direct calls the steps one after another on this
// thread instead, without the task's thread and pauses, to see where the work
// goes; --step-times writes each step's time to a CSV file.
//
// usage: update_bench --definition FILE --game FOLDER\ (--base URL | --offline FOLDER\)
//                     [--label TEXT] [--poll-ms N] [--curl S] [--md5a S] [--cp S] [--md5b S]
//                     [--step-times CSV] [--direct PAUSE_MS]
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/win/BenchSupport.h"
#include "core/DefinitionCheck.h"
#include "core/MessageLines.h"
#include "framework/CWinThreadMaster.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/FileRoutines.h"
#include "support/PlatformCrypto.h"
#include "support/ProfileText.h"
#include "support/TextRoutines.h"
#include "updater/CFernupTask.h"

namespace {

constexpr uint32_t kStepPauseMs = 10;
constexpr double kMemoryEveryMs = 10;
constexpr double kPumpEveryMs = 20;

enum StepKind { kDownload = 0, kCheckCopy = 1, kInstall = 2, kCheckInstalled = 3, kKinds = 4 };

const char* const kPhaseNames[kKinds] = {
    "download",
    "check of the copies",
    "install (copy into the game folder)",
    "check of the installed files",
};

struct Step {
    UpdateFileEntry* entry;
    StepKind kind;
    double startMs;  // copies only: when a poll first saw the transfer state 1; else -1
    double endMs;    // when a poll first saw it ended; -1 until then
};

// A copy sets its transfer state to 1 before anything else, so the time from
// the end of the step before it to that moment is the pause between them, as
// the task's thread gets it.
bool StepStarted(const Step& step)
{
    return step.kind == kInstall && LoadProgress(step.entry->transferState) >= kStateRunning;
}

bool StepEnded(const Step& step)
{
    const UpdateFileEntry& e = *step.entry;
    switch (step.kind) {
    case kDownload:
        return LoadProgress(e.downloadPercent) >= 85 ||
               LoadProgress(e.downloadState) >= kStateEnded;
    case kCheckCopy: return LoadProgress(e.downloadState) >= kStateEnded;
    case kInstall:
        return LoadProgress(e.transferPercent) >= 85 ||
               LoadProgress(e.transferState) >= kStateEnded;
    case kCheckInstalled: return LoadProgress(e.transferState) >= kStateEnded;
    default: return false;
    }
}

// What WinINet gives without the pauses, on one file: how many reads, the
// most it ever reported available, and the time.
struct WinInetProbe {
    bool ok = false;
    uint32_t reads = 0;
    uint32_t largestAvailable = 0;
    uint64_t bytes = 0;
    double ms = 0;
};

WinInetProbe ProbeWinInet(const std::string& address)
{
    WinInetProbe probe;
    HINTERNET session =
        InternetOpenA("FernupBench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (session == nullptr)
        return probe;
    const double start = NowMs();
    HINTERNET request = InternetOpenUrlA(
        session, address.c_str(), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_RAW_DATA | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request != nullptr) {
        std::vector<unsigned char> buffer(131072);
        for (;;) {
            DWORD available = 0;
            if (!InternetQueryDataAvailable(request, &available, 0, 0) || available == 0)
                break;
            if (available > buffer.size())
                available = static_cast<DWORD>(buffer.size());
            if (available > probe.largestAvailable)
                probe.largestAvailable = available;
            DWORD got = 0;
            if (!InternetReadFile(request, buffer.data(), available, &got) || got == 0)
                break;
            ++probe.reads;
            probe.bytes += got;
        }
        InternetCloseHandle(request);
        probe.ok = probe.reads > 0;
    }
    probe.ms = NowMs() - start;
    InternetCloseHandle(session);
    return probe;
}

std::string DefinitionValue(const char* path, const char* section, const char* key)
{
    uint32_t length = 0;
    char* text = ReadWholeFile(path, &length);
    ProfileText::LoadText(text, length);  // takes the text over; null loads nothing
    char value[kDefinitionTextLimit + 1];
    ProfileText::GetValue(section, key, "", value, kDefinitionTextLimit);
    ProfileText::ReleaseText();
    return value;
}

std::string DefinitionDigest(const char* path)
{
    uint32_t length = 0;
    char* text = ReadWholeFile(path, &length);
    char digest[CMd5::kHexSize] = "";
    if (text != nullptr)
        Md5Hex(text, length, digest);
    FreeArea(text);
    return digest;
}

double NumberOption(int argc, char** argv, const char* name)
{
    const char* text = Option(argc, argv, name, nullptr);
    return text != nullptr ? std::atof(text) : -1;
}

std::string Ratio(double ours, double reference)
{
    return reference > 0 ? Fixed(ours / reference, 2) : "-";
}

std::string Thousands(uint64_t value)
{
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

// The steps called one after another on this thread, without the task's
// thread or its pauses, each timed on its own: where the work goes. Sets up
// what Run would (read buffer, work folder, session) the way Run does.
// What a build with keys checks besides the MD5: each entry bound to the
// SHA-256 of its file in the package (taken before anything is timed).
bool BindSignedHashes(UpdateFileEntry* entries, const char* definition, const char* offline)
{
    std::string folder = definition;
    folder.erase(folder.rfind('\\') + 1);
    for (UpdateFileEntry* e = entries; e != nullptr; e = e->next) {
        std::string path;
        if (offline != nullptr) {
            const char* name = std::strrchr(e->targetPath, '\\');
            path = std::string(offline) + (name != nullptr ? name + 1 : e->targetPath);
        } else {
            path = folder + e->sourcePath;
            for (char& c : path)
                if (c == '/')
                    c = '\\';
        }
        uint32_t length = 0;
        char* bytes = ReadWholeFile(path.c_str(), &length);
        const bool hashed = bytes != nullptr && Sha256Of(bytes, length, e->sha256);
        FreeArea(bytes);
        if (!hashed) {
            std::fprintf(stderr, "update_bench: cannot hash %s\n", path.c_str());
            return false;
        }
        e->sha256Bound = 1;
    }
    return true;
}

int RunDirect(UpdateFileEntry* entries, CFernupTask* task, bool online, uint32_t pauseMs)
{
    if (!task->BeginSteps()) {
        std::fprintf(stderr, "update_bench: the steps cannot begin (code %d)\n",
                     task->GetFailureCode());
        return 1;
    }

    // By kind of step and by size: up to 64 KiB, up to 4 MiB, larger.
    const char* const sizeNames[3] = {"<= 64 KiB", "<= 4 MiB", "> 4 MiB"};
    double ms[kKinds][3] = {};
    uint32_t n[kKinds][3] = {};
    auto sizeClass = [](const UpdateFileEntry* e) {
        return e->size <= (64 << 10) ? 0 : e->size <= (4 << 20) ? 1 : 2;
    };
    using StepCall = int32_t (CFernupTask::*)(UpdateFileEntry*);
    auto timed = [&](StepKind kind, UpdateFileEntry* e, StepCall step) {
        const double start = NowMs();
        (task->*step)(e);
        ms[kind][sizeClass(e)] += NowMs() - start;
        ++n[kind][sizeClass(e)];
        if (pauseMs > 0)
            Sleep(pauseMs);
    };
    for (UpdateFileEntry* e = entries; e != nullptr && task->GetFailureCode() == 0; e = e->next) {
        if (online)
            timed(kDownload, e, &CFernupTask::DownloadFile);
        if (task->GetFailureCode() == 0)
            timed(kCheckCopy, e, &CFernupTask::VerifyDownloaded);
    }
    for (UpdateFileEntry* e = entries; e != nullptr && task->GetFailureCode() == 0; e = e->next) {
        timed(kInstall, e, &CFernupTask::TransferFile);
        if (task->GetFailureCode() == 0)
            timed(kCheckInstalled, e, &CFernupTask::VerifyInstalled);
    }
    double record[5] = {};
    const char* const recordNames[5] = {"WriteInstalledState", "ReadCheckList", "MergeCheckList",
                                        "WriteCheckList", "RemoveWorkFolder"};
    if (task->GetFailureCode() == 0) {
        double at = NowMs();
        auto lap = [&](int i) {
            const double now = NowMs();
            record[i] = now - at;
            at = now;
        };
        task->WriteInstalledState();
        lap(0);
        task->ReadCheckList();
        lap(1);
        task->MergeCheckList();
        lap(2);
        task->WriteCheckList();
        lap(3);
        if (online)
            task->RemoveWorkFolder();
        lap(4);
    }
    task->EndSteps();
    if (task->GetFailureCode() != 0) {
        std::fprintf(stderr, "update_bench: a step failed (code %d)\n", task->GetFailureCode());
        return 1;
    }

    std::printf(
        "\n#### Steps called directly, without thread or pauses (ms in all, ms per step)\n\n");
    std::printf("| step | %s | %s | %s |\n|---|---:|---:|---:|\n", sizeNames[0], sizeNames[1],
                sizeNames[2]);
    for (int kind = online ? kDownload : kCheckCopy; kind < kKinds; ++kind) {
        std::printf("| %s |", kPhaseNames[kind]);
        for (int c = 0; c < 3; ++c)
            std::printf(" %s (%u x %s) |", Fixed(ms[kind][c], 1).c_str(), n[kind][c],
                        n[kind][c] ? Fixed(ms[kind][c] / n[kind][c], 3).c_str() : "-");
        std::printf("\n");
    }
    for (int i = 0; i < 5; ++i)
        std::printf("| %s | %s | | |\n", recordNames[i], Fixed(record[i], 1).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* definition = Option(argc, argv, "--definition", nullptr);
    const char* game = Option(argc, argv, "--game", nullptr);
    const char* base = Option(argc, argv, "--base", nullptr);
    const char* offline = Option(argc, argv, "--offline", nullptr);
    const char* label = Option(argc, argv, "--label", "");
    const uint32_t pollMs = static_cast<uint32_t>(std::atoi(Option(argc, argv, "--poll-ms", "1")));
    if (definition == nullptr || game == nullptr || (base == nullptr) == (offline == nullptr)) {
        std::fprintf(stderr,
                     "usage: update_bench --definition FILE --game FOLDER\\ "
                     "(--base URL | --offline FOLDER\\) [--label TEXT] [--poll-ms N] "
                     "[--curl S] [--md5a S] [--cp S] [--md5b S] [--step-times CSV] "
                     "[--direct PAUSE_MS] [--signed 1]\n");
        return 2;
    }
    const bool online = base != nullptr;

    UpdateFileEntry* entries = LoadEntries(definition);
    if (entries == nullptr) {
        std::fprintf(stderr, "update_bench: no file entries in %s\n", definition);
        return 1;
    }
    uint32_t files = 0;
    uint64_t totalBytes = 0;
    const UpdateFileEntry* largest = entries;
    for (const UpdateFileEntry* e = entries; e != nullptr; e = e->next) {
        ++files;
        totalBytes += static_cast<uint32_t>(e->size);
        if (e->size > largest->size)
            largest = e;
    }

    // The platform's pauses, measured in this process before the run.
    const double pause2 = MeasureSleepMs(kReadPauseMs, 500);
    const double sleep10 = MeasureSleepMs(kStepPauseMs, 100);

    WinInetProbe probe;
    if (online) {
        probe = ProbeWinInet(std::string(base) + largest->sourcePath);
        if (!probe.ok || probe.bytes != static_cast<uint32_t>(largest->size)) {
            std::fprintf(stderr, "update_bench: WinINet probe of %s%s failed\n", base,
                         largest->sourcePath);
            FreeEntryChain(entries);
            return 1;
        }
    }

    std::vector<Step> steps;
    if (online)
        for (UpdateFileEntry* e = entries; e != nullptr; e = e->next) {
            steps.push_back({e, kDownload, -1, -1});
            steps.push_back({e, kCheckCopy, -1, -1});
        }
    else
        for (UpdateFileEntry* e = entries; e != nullptr; e = e->next)
            steps.push_back({e, kCheckCopy, -1, -1});
    for (UpdateFileEntry* e = entries; e != nullptr; e = e->next) {
        steps.push_back({e, kInstall, -1, -1});
        steps.push_back({e, kCheckInstalled, -1, -1});
    }

    StampedMessageList messages;
    auto* task = new CFernupTask(online ? base : "", entries);  // deleted below
    UpdateSettings settings = {};
    CopyText(settings.gameFolder, sizeof settings.gameFolder, game);
    if (!online)
        CopyText(settings.offlineFolder, sizeof settings.offlineFolder, offline);
    CopyText(settings.definitionDigest, sizeof settings.definitionDigest,
             DefinitionDigest(definition).c_str());
    CopyText(settings.newVersion, sizeof settings.newVersion,
             DefinitionValue(definition, "UPDATE_VER", "VER").c_str());
    CopyText(settings.newDay, sizeof settings.newDay,
             DefinitionValue(definition, "UPDATE_VER", "DAY").c_str());
    settings.offline = online ? 0 : 1;
    settings.messageList = messages.List();
    if (Option(argc, argv, "--signed", nullptr) != nullptr) {
        if (!BindSignedHashes(entries, definition, online ? nullptr : offline)) {
            delete task;
            FreeEntryChain(entries);
            return 1;
        }
        settings.checkSignedHashes = 1;
    }
    task->ApplySettings(settings);

    if (Option(argc, argv, "--direct", nullptr) != nullptr) {
        const auto pauseMs = static_cast<uint32_t>(std::atoi(Option(argc, argv, "--direct", "0")));
        const int status = RunDirect(entries, task, online, pauseMs);
        delete task;
        FreeEntryChain(entries);
        return status;
    }

    const MemorySample before = SampleMemory();
    MemorySample peak = before;
    double lastSample = NowMs();

    const double startMs = NowMs();
    CTaskController controller;
    controller.Attach(task);
    controller.Start();
    size_t next = 0;      // the first step not yet seen to end
    uint32_t merged = 0;  // steps whose end was first seen together with the one before
    double lastPump = NowMs();
    while (!task->IsFinished()) {
        // Each pump is a round trip to Wine's server, which the task's file
        // calls wait on too: between its first and its last step the task
        // sends nothing (but a failure's line), so the poll then only sleeps
        // and reads the entries.
        if (next == 0 || next == steps.size() || NowMs() - lastPump >= kPumpEveryMs) {
            PumpMessages(pollMs);
            lastPump = NowMs();
        } else {
            Sleep(pollMs);
        }
        const double now = NowMs();
        if (next < steps.size() && steps[next].startMs < 0 && StepStarted(steps[next]))
            steps[next].startMs = now;
        bool first = true;
        while (next < steps.size() && StepEnded(steps[next])) {
            steps[next++].endMs = now;
            if (!first)
                ++merged;
            first = false;
        }
        if (now - lastSample >= kMemoryEveryMs) {
            const MemorySample sample = SampleMemory();
            if (sample.privateBytes > peak.privateBytes)
                peak.privateBytes = sample.privateBytes;
            lastSample = now;
        }
    }
    PumpMessages(0);
    CTaskController ender;
    ender.Attach(task);
    ender.Stop();
    ender.Wait(INFINITE);
    const MemorySample after = SampleMemory();
    const int32_t failure = task->GetFailureCode();
    delete task;

    const double runMs = messages.TimeOf(kLineRunning);
    const double doneMs = messages.TimeOf(kLineDone);
    if (failure != 0 || doneMs < 0 || runMs < 0 || next != steps.size()) {
        std::fprintf(stderr, "update_bench: the update failed (code %d, %zu of %zu steps seen)\n",
                     failure, next, steps.size());
        for (const auto& line : messages.Lines())
            std::fprintf(stderr, "  %s\n", line.text.c_str());
        FreeEntryChain(entries);
        return 1;
    }

    // The pause as the task's thread had it, from every copy's start.
    double pauseSum = 0;
    uint32_t pauseCount = 0;
    for (size_t k = 1; k < steps.size(); ++k)
        if (steps[k].startMs >= 0) {
            pauseSum += steps[k].startMs - steps[k - 1].endMs;
            ++pauseCount;
        }
    const double pause10 = pauseCount > 0 ? pauseSum / pauseCount : sleep10;

    // Work of each kind of step, its pauses excluded.
    double work[kKinds] = {};
    uint32_t count[kKinds] = {};
    for (size_t k = 0; k < steps.size(); ++k) {
        const double from = k == 0 ? runMs : steps[k - 1].endMs + pause10;
        work[steps[k].kind] += steps[k].endMs - from;
        ++count[steps[k].kind];
    }
    const double recordMs = doneMs - (steps.back().endMs + pause10);

    // Each step's work, for profiling: kind, size, milliseconds.
    if (const char* stepsPath = Option(argc, argv, "--step-times", nullptr)) {
        if (FILE* out = std::fopen(stepsPath, "w")) {
            std::fprintf(out, "kind,name,size,ms\n");
            for (size_t k = 0; k < steps.size(); ++k) {
                const double from = k == 0 ? runMs : steps[k - 1].endMs + pause10;
                std::fprintf(out, "%s,%s,%d,%.3f\n", kPhaseNames[steps[k].kind],
                             steps[k].entry->sourcePath, steps[k].entry->size,
                             steps[k].endMs - from);
            }
            std::fclose(out);
        }
    }
    const double totalMs = doneMs - startMs;

    // The pacing's floor for the download: a pause between two reads of a
    // file (none after the read that completes it) and one after each step.
    uint64_t reads = 0, readPauses = 0;
    if (online) {
        for (const UpdateFileEntry* e = entries; e != nullptr; e = e->next) {
            const uint64_t size = static_cast<uint32_t>(e->size);
            const uint64_t fileReads =
                size == 0 ? 1 : (size + probe.largestAvailable - 1) / probe.largestAvailable;
            reads += fileReads;
            readPauses += fileReads - 1;
        }
    }
    const double floorMs = readPauses * pause2 + count[kDownload] * pause10;

    const double curl = NumberOption(argc, argv, "--curl");
    const double md5a = NumberOption(argc, argv, "--md5a");
    const double cp = NumberOption(argc, argv, "--cp");
    const double md5b = NumberOption(argc, argv, "--md5b");
    const double pipeline = md5a >= 0 && cp >= 0 && md5b >= 0 ? md5a + cp + md5b : -1;

    auto seconds = [](double ms) { return Fixed(ms / 1000.0, 2); };
    std::printf("\n#### %s update%s: %u files, %s MiB (largest %s MiB)\n\n",
                online ? "Online" : "Offline", label[0] ? (std::string(", ") + label).c_str() : "",
                files, Mib(totalBytes).c_str(), Mib(static_cast<uint32_t>(largest->size)).c_str());
    std::printf(
        "| phase | ours (s) | its 10 ms pauses (s) | ours less pauses (s) | reference (s) "
        "| ratio | goal |\n");
    std::printf("|---|---:|---:|---:|---|---:|---|\n");
    for (int kind = online ? kDownload : kCheckCopy; kind < kKinds; ++kind) {
        const double pauses = count[kind] * pause10;
        std::string reference = "", ratio = "", goal = "";
        if (kind == kDownload) {
            reference = "floor " + seconds(floorMs) + " (" + Thousands(readPauses) +
                        " read pauses x " + Fixed(pause2, 3) + " ms + " +
                        std::to_string(count[kind]) + " steps x " + Fixed(pause10, 2) +
                        " ms); curl " + (curl >= 0 ? Fixed(curl, 2) : "-");
            ratio = Ratio(work[kind] + pauses, floorMs);
            goal = "<= 1.1";
        } else if (kind == kCheckCopy) {
            reference = "md5sum " + (md5a >= 0 ? Fixed(md5a, 2) : "-");
        } else if (kind == kInstall) {
            reference = "cp " + (cp >= 0 ? Fixed(cp, 2) : "-");
        } else {
            reference = "md5sum " + (md5b >= 0 ? Fixed(md5b, 2) : "-");
        }
        std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", kPhaseNames[kind],
                    seconds(work[kind] + pauses).c_str(), seconds(pauses).c_str(),
                    seconds(work[kind]).c_str(), reference.c_str(), ratio.c_str(), goal.c_str());
    }
    const double checks = work[kCheckCopy] + work[kInstall] + work[kCheckInstalled];
    const double checkPauses =
        (count[kCheckCopy] + count[kInstall] + count[kCheckInstalled]) * pause10;
    std::printf(
        "| **check + install + check** | %s | %s | **%s** | md5sum + cp + md5sum %s | **%s** "
        "| <= 2 |\n",
        seconds(checks + checkPauses).c_str(), seconds(checkPauses).c_str(),
        seconds(checks).c_str(), pipeline >= 0 ? Fixed(pipeline, 2).c_str() : "-",
        Ratio(checks / 1000.0, pipeline).c_str());
    std::printf(
        "| record%s | %s | %s | %s | | | |\n", online ? " (and removal of the work folder)" : "",
        seconds(recordMs + pause10).c_str(), seconds(pause10).c_str(), seconds(recordMs).c_str());
    std::printf("| total, from Start to the last line | %s | %s | %s | | | |\n",
                seconds(totalMs).c_str(), seconds((steps.size()) * pause10).c_str(),
                seconds(totalMs - steps.size() * pause10).c_str());
    if (online)
        std::printf(
            "| download ratio if the %s reads were paced 2 ms and steps 10 ms exactly | | | | "
            "floor %s | %s | |\n",
            Thousands(reads).c_str(), seconds(readPauses * 2.0 + count[kDownload] * 10.0).c_str(),
            Ratio(work[kDownload] + count[kDownload] * pause10,
                  readPauses * 2.0 + count[kDownload] * 10.0)
                .c_str());
    std::printf("\n");
    if (online)
        std::printf(
            "- WinINet alone on the largest file, no pauses: %s reads, at most %u bytes "
            "available, %s MB/s.\n",
            Thousands(probe.reads).c_str(), probe.largestAvailable,
            Fixed(probe.bytes / probe.ms / 1000.0, 1).c_str());
    std::printf(
        "- Pauses: the task's own 10 ms pause took %s ms on average (%u pauses seen from "
        "their end to the next copy's start); the pauses column is steps x that. "
        "Measured before the run on this thread: Sleep(2) %s ms, Sleep(10) %s ms.\n",
        Fixed(pause10, 3).c_str(), pauseCount, Fixed(pause2, 3).c_str(), Fixed(sleep10, 3).c_str());
    std::printf(
        "- Thread start to the first line: %s ms. Entries polled every %u ms (messages "
        "every %d ms between the first step and the last); steps whose end was first seen "
        "together with the one before: %u of %zu.\n",
        Fixed(runMs - startMs, 1).c_str(), pollMs, static_cast<int>(kPumpEveryMs), merged,
        steps.size());
    std::printf(
        "- Private memory (PagefileUsage): %s MiB before, %s MiB at the most during the "
        "run (+%s MiB, sampled every %d ms), %s MiB after.\n",
        Mib(before.privateBytes).c_str(), Mib(peak.privateBytes).c_str(),
        Mib(peak.privateBytes - before.privateBytes).c_str(), static_cast<int>(kMemoryEveryMs),
        Mib(after.privateBytes).c_str());

    // One line per goal for the summary table of scripts/bench.sh.
    const char* mode = online ? "Online" : "Offline";
    if (online) {
        const double download = work[kDownload] + count[kDownload] * pause10;
        std::printf(
            "@summary|%s update: download phase vs the floor of its pacing|%s s|%s s|%s|<= "
            "1.1|%s\n",
            mode, seconds(download).c_str(), seconds(floorMs).c_str(),
            Ratio(download, floorMs).c_str(), download <= 1.1 * floorMs ? "yes" : "no");
    }
    std::printf(
        "@summary|%s update: check + install + check less pauses vs md5sum + cp + md5sum|%s s|%s "
        "s|%s|<= 2|%s\n",
        mode, seconds(checks).c_str(), pipeline >= 0 ? Fixed(pipeline, 2).c_str() : "-",
        Ratio(checks / 1000.0, pipeline).c_str(),
        pipeline < 0                      ? "-"
        : checks / 1000.0 <= 2 * pipeline ? "yes"
                                          : "no");
    std::printf("@summary|%s update: total, of which %zu pauses of 10 ms|%s s|%s s of pauses|||\n",
                mode, steps.size(), seconds(totalMs).c_str(),
                seconds(steps.size() * pause10).c_str());
    FreeEntryChain(entries);
    return 0;
}
