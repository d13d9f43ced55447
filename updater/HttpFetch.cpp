#include "updater/HttpFetch.h"

#include <cstring>

#include "framework/CWinThreadMaster.h"
#include "support/ByteArea.h"
#include "updater/UpdateFileEntry.h"

uint32_t g_httpTimeoutMs = 30000;
AttemptConnectProc g_attemptConnect = InternetAttemptConnect;
InternetOpenProc g_internetOpen = InternetOpenA;

namespace {

// Always from the server, raw; and never written to the platform's cache,
// which would store every download a second time.
constexpr DWORD kOpenFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_RAW_DATA | INTERNET_FLAG_NO_CACHE_WRITE;

HINTERNET OpenAddress(HINTERNET session, const char* address)
{
    return InternetOpenUrlA(session, address, nullptr, 0, kOpenFlags, 0);
}

// Outcome of a failed InternetQueryDataAvailable, by the thread's last error;
// kGoOn when the failure is to be ignored.
constexpr int32_t kGoOn = -1;
int32_t QueryFailure()
{
    DWORD error = GetLastError();
    if (error == 0)
        return kGoOn;
    if (error == ERROR_NO_MORE_FILES)
        return FetchDone;
    return FetchBrokenOff;
}

// 85 parts of the hundred are the download's; more than 85 means the server
// sent more than declared. Held at 100, the most a percentage cell shows, so
// that a tiny declared size cannot overflow the conversion.
int32_t DownloadPercent(uint32_t received, uint32_t declaredSize)
{
    if (declaredSize == 0)
        return 100;
    double percent = 85.0 * static_cast<double>(received) / static_cast<double>(declaredSize);
    return percent >= 100.0 ? 100 : static_cast<int32_t>(percent);
}

}  // namespace

bool CheckInternet()
{
    return g_attemptConnect(0) == ERROR_SUCCESS;
}

HINTERNET OpenSession(const char* agent)
{
    HINTERNET session = g_internetOpen(agent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (session == nullptr)
        return nullptr;
    // Handles opened from the session inherit these; results not checked, the
    // platform's defaults stand where an option is refused.
    DWORD timeout = g_httpTimeoutMs;
    InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    return session;
}

FetchOutcome FetchToMemory(CWinThreadMaster* task, HINTERNET session, const char* address,
                           uint32_t capacity, char** area, uint32_t* received)
{
    *area = nullptr;
    *received = 0;
    HINTERNET request = OpenAddress(session, address);
    if (request == nullptr)
        return FetchCannotOpen;

    // Both freed below except the destination, which goes to the caller.
    char* destination = static_cast<char*>(AllocArea(capacity));
    char* chunk = static_cast<char*>(AllocArea(kMemoryChunkSize));
    if (destination == nullptr || chunk == nullptr) {
        FreeArea(destination);
        FreeArea(chunk);
        InternetCloseHandle(request);
        return FetchCannotOpen;
    }

    uint32_t count = 0;
    FetchOutcome outcome = FetchDone;
    for (;;) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
            int32_t failure = QueryFailure();
            if (failure != kGoOn) {
                outcome = static_cast<FetchOutcome>(failure);
                break;
            }
        }
        DWORD got = 0;
        if (!InternetReadFile(request, chunk, kMemoryReadSize, &got)) {
            outcome = FetchBrokenOff;
            break;
        }
        if (got == 0)
            break;
        // Whatever does not fit is dropped: a cut definition fails its digest
        // check, a cut readme is shown as far as it goes.
        uint32_t room = capacity - count;
        uint32_t kept = got < room ? got : room;
        std::memcpy(destination + count, chunk, kept);
        count += kept;
        if (count == capacity)
            break;
        task->SleepIfRunning(kReadPauseMs);
    }

    InternetCloseHandle(request);
    FreeArea(chunk);
    *area = destination;
    *received = count;
    return outcome;
}

FetchOutcome FetchToFile(CWinThreadMaster* task, HINTERNET session, const char* address,
                         HANDLE file, uint32_t declaredSize, int32_t& downloadState,
                         int32_t& downloadPercent)
{
    HINTERNET request = OpenAddress(session, address);
    if (request == nullptr)
        return FetchCannotOpen;

    StoreProgress(downloadState, kStateRunning);
    auto* buffer = static_cast<unsigned char*>(AllocArea(kFileTransferSize));  // freed below
    if (buffer == nullptr) {
        InternetCloseHandle(request);
        return FetchBrokenOff;
    }

    uint32_t received = 0;
    FetchOutcome outcome = FetchDone;
    for (;;) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
            int32_t failure = QueryFailure();
            if (failure != kGoOn) {
                outcome = static_cast<FetchOutcome>(failure);
                break;
            }
        }
        if (available >= kFileTransferSize)
            available = kFileTransferSize;
        // Nothing available with success, or a read that gives nothing, is
        // the end of the body; when it comes before the declared size the
        // digest check rejects the short file.
        if (available == 0)
            break;
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, available, &got)) {
            outcome = FetchBrokenOff;
            break;
        }
        if (got == 0)
            break;
        DWORD written = 0;
        WriteFile(file, buffer, got, &written, nullptr);
        received += got;
        StoreProgress(downloadPercent, DownloadPercent(received, declaredSize));
        if (received >= declaredSize)
            break;
        task->SleepIfRunning(kReadPauseMs);
    }

    InternetCloseHandle(request);
    FreeArea(buffer);
    return outcome;
}
