#include "updater/HttpFetch.h"

#include <cstring>

#include "core/ByteRange.h"
#include "core/FetchLimits.h"
#include "core/TargetPath.h"
#include "core/UpdateFileEntry.h"
#include "framework/CWinThreadMaster.h"
#include "support/ByteArea.h"
#include "support/NoCopy.h"
#include "support/TextRoutines.h"
#include "updater/TestSeams.h"

uint32_t g_httpTimeoutMs = 30000;
AttemptConnectProc g_attemptConnect = InternetAttemptConnect;
InternetOpenProc g_internetOpen = InternetOpenA;
QueryDataAvailableProc g_queryDataAvailable = InternetQueryDataAvailable;

namespace {

// Always from the server, raw; and never written to the platform's cache,
// which would store every download a second time. Redirects are followed
// here rather than by the platform, which follows a loop for ever.
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_RAW_DATA |
                             INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;

// Redirects followed in a row before an address counts as one that cannot
// be opened; a moved host needs one.
constexpr int kMostRedirects = 10;
constexpr DWORD kRedirectAddressSize = INTERNET_MAX_URL_LENGTH;
// Room for the request's own header lines (a Range).
constexpr size_t kHeadersSize = 64;

// One opened address: the request and, for HTTP, the connection it runs on.
struct OpenedAddress {
    HINTERNET connection;  // null when the platform opened the address as a whole
    HINTERNET request;
};

void CloseAddress(const OpenedAddress& opened)
{
    InternetCloseHandle(opened.request);
    if (opened.connection != nullptr)
        InternetCloseHandle(opened.connection);
}

// An address that a fetch opened, closed when the fetch is done with it.
class COpenedAddress : NoCopy {
public:
    explicit COpenedAddress(const OpenedAddress& opened) : m_opened(opened) {}
    ~COpenedAddress() { CloseAddress(m_opened); }
    HINTERNET Request() const { return m_opened.request; }

private:
    OpenedAddress m_opened;
};

// What InternetOpenUrlA does for an HTTP address, in its three steps, so that
// the receive time-out can be put on the request before it is sent: Wine's
// WinINet does not pass a session's receive time-out on to its requests, and
// applies a request's only when it begins to read the response. Other schemes
// are left to InternetOpenUrlA and the platform's time-outs.
bool SendRequest(HINTERNET session, const char* address, const char* headers, OpenedAddress* opened)
{
    opened->connection = nullptr;
    opened->request = nullptr;

    char host[INTERNET_MAX_HOST_NAME_LENGTH];
    char user[INTERNET_MAX_USER_NAME_LENGTH];
    char password[INTERNET_MAX_PASSWORD_LENGTH];
    char path[INTERNET_MAX_PATH_LENGTH];
    char extra[INTERNET_MAX_PATH_LENGTH];
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof(host);
    parts.lpszUserName = user;
    parts.dwUserNameLength = sizeof(user);
    parts.lpszPassword = password;
    parts.dwPasswordLength = sizeof(password);
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof(path);
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = sizeof(extra);
    if (!InternetCrackUrlA(address, 0, 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        opened->request =
            InternetOpenUrlA(session, address, headers[0] != '\0' ? headers : nullptr,
                             headers[0] != '\0' ? static_cast<DWORD>(-1) : 0, kOpenFlags, 0);
        return opened->request != nullptr;
    }

    // The object asked for: path and query, "/" when the address has neither.
    char object[2 * INTERNET_MAX_PATH_LENGTH];
    CopyText(object, sizeof(object), path[0] != '\0' ? path : "/");
    AppendText(object, sizeof(object), extra);
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;

    opened->connection =
        InternetConnectA(session, host, parts.nPort, user[0] != '\0' ? user : nullptr,
                         password[0] != '\0' ? password : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (opened->connection == nullptr)
        return false;
    opened->request = HttpOpenRequestA(opened->connection, nullptr, object, nullptr, nullptr,
                                       nullptr, kOpenFlags | secure, 0);
    if (opened->request != nullptr) {
        DWORD timeout = g_httpTimeoutMs;
        InternetSetOptionA(opened->request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout,
                           sizeof(timeout));
        if (HttpSendRequestA(opened->request, headers[0] != '\0' ? headers : nullptr,
                             headers[0] != '\0' ? static_cast<DWORD>(-1) : 0, nullptr, 0))
            return true;
        InternetCloseHandle(opened->request);
        opened->request = nullptr;
    }
    InternetCloseHandle(opened->connection);
    opened->connection = nullptr;
    return false;
}

// One send on a thread of its own, and the thread that waits for it; freed
// by whichever of the two lets go last.
struct PendingSend {
    HINTERNET session;
    char address[kRedirectAddressSize];
    char headers[kHeadersSize];
    OpenedAddress opened;
    bool sent;
    volatile LONG holders;  // 2 while both hold it
};

DWORD WINAPI SendOnItsOwn(void* context)
{
    auto* pending = static_cast<PendingSend*>(context);
    pending->sent =
        SendRequest(pending->session, pending->address, pending->headers, &pending->opened);
    if (InterlockedDecrement(&pending->holders) == 0) {
        // The waiter gave up on this send: what it opened is closed here.
        if (pending->sent)
            CloseAddress(pending->opened);
        FreeArea(pending);
    }
    return 0;
}

// SendRequest, given allowedMs in all (what is left of the address's
// budget): the platform may not bound a step on its own. Wine's WinINet, for
// one, waits for the server's side of a TLS handshake as long as the server
// keeps the connection open, time-outs or not. A send that overruns is left
// to end on its thread, which closes what it opened then, and counts as a
// failure to open now.
bool SendRequestWithin(HINTERNET session, const char* address, const char* headers,
                       uint32_t allowedMs, OpenedAddress* opened)
{
    opened->connection = nullptr;
    opened->request = nullptr;
    auto* pending = static_cast<PendingSend*>(AllocArea(sizeof(PendingSend)));
    if (pending == nullptr)
        return false;
    pending->session = session;
    pending->opened = *opened;
    pending->sent = false;
    pending->holders = 2;
    if (!CopyText(pending->address, sizeof(pending->address), address) ||
        !CopyText(pending->headers, sizeof(pending->headers), headers)) {
        FreeArea(pending);
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, SendOnItsOwn, pending, 0, nullptr);
    if (thread == nullptr) {
        FreeArea(pending);
        return false;
    }
    WaitForSingleObject(thread, LesserMs(allowedMs, INFINITE - 1));
    CloseHandle(thread);
    if (InterlockedDecrement(&pending->holders) != 0)
        return false;  // still sending; the thread frees what it holds
    const bool sent = pending->sent;
    *opened = pending->opened;
    FreeArea(pending);
    return sent;
}

enum RedirectKind { kNoRedirect, kRedirect, kUnfollowable };

// Whether the response of request sends the fetch elsewhere, with the
// absolute address it names in next (kRedirectAddressSize bytes). A redirect
// status without a Location is answered as it stands, like any other status.
// The HTTP status of an opened request; 0 when it has none (another scheme).
DWORD StatusOf(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr))
        return 0;
    return status;
}

RedirectKind RedirectTarget(HINTERNET request, const char* address, char* next)
{
    const DWORD status = StatusOf(request);
    if (status == 0)
        return kNoRedirect;
    if (status != HTTP_STATUS_MOVED && status != HTTP_STATUS_REDIRECT &&
        status != HTTP_STATUS_REDIRECT_METHOD && status != HTTP_STATUS_REDIRECT_KEEP_VERB &&
        status != HTTP_STATUS_PERMANENT_REDIRECT)
        return kNoRedirect;
    char location[kRedirectAddressSize];
    DWORD size = sizeof(location);
    if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &size, nullptr))
        return kNoRedirect;
    // A relative Location is taken from the address that answered.
    size = kRedirectAddressSize;
    if (!InternetCombineUrlA(address, location, next, &size, ICU_NO_ENCODE))
        return kUnfollowable;
    return MayFollowRedirect(address, next) ? kRedirect : kUnfollowable;
}

// Opens the address, following at most kMostRedirects redirects in a row,
// all of them within the address's budget and what is left of the fetch's.
// The header lines (empty: none) go with every hop.
bool OpenAddress(HINTERNET session, const char* address, const char* headers,
                 const TimeBudget& fetchBudget, OpenedAddress* opened)
{
    char current[kRedirectAddressSize];
    if (!CopyText(current, sizeof(current), address))
        return false;
    const TimeBudget addressBudget = {GetTickCount(),
                                      TimeoutsMs(kAddressTimeouts, g_httpTimeoutMs)};
    for (int redirects = 0;; ++redirects) {
        const DWORD now = GetTickCount();
        const uint32_t leftMs = LesserMs(addressBudget.LeftMs(now), fetchBudget.LeftMs(now));
        if (leftMs == 0 || !SendRequestWithin(session, current, headers, leftMs, opened))
            return false;
        char next[kRedirectAddressSize];
        RedirectKind kind = RedirectTarget(opened->request, current, next);
        if (kind == kNoRedirect)
            return true;
        CloseAddress(*opened);
        opened->connection = nullptr;
        opened->request = nullptr;
        if (kind == kUnfollowable || redirects == kMostRedirects)
            return false;
        CopyText(current, sizeof(current), next);
    }
}

// How much of the body is waiting. False when the query failed in a way that
// ends the fetch, its outcome left in outcome; a failure with no error code
// is passed over, and the read that follows tells.
bool QueryAvailable(HINTERNET request, DWORD* available, FetchOutcome* outcome)
{
    *available = 0;
    if (g_queryDataAvailable(request, available, 0, 0))
        return true;
    const DWORD error = GetLastError();
    if (error == 0)
        return true;
    *outcome = error == ERROR_NO_MORE_FILES ? FetchDone : FetchBrokenOff;
    return false;
}

// The next piece of the body into buffer, at most limit bytes (never less
// than kMemoryReadSize); false when the body has ended (outcome stays
// FetchDone) or broke off. It asks for what the server says is waiting: a
// read waits for all it asks for, however slowly it comes, so a larger one
// would keep a trickle from being judged. Only a read that gives nothing
// ends the body: a query may report nothing, or fail without an error code,
// while more is on its way. A body that ends before its declared size is
// judged by the digest.
bool ReadBody(HINTERNET request, void* buffer, DWORD limit, DWORD* got, FetchOutcome* outcome)
{
    *got = 0;
    DWORD available = 0;
    if (!QueryAvailable(request, &available, outcome))
        return false;
    const DWORD wanted = available == 0 ? kMemoryReadSize : (available < limit ? available : limit);
    if (!InternetReadFile(request, buffer, wanted, got)) {
        *outcome = FetchBrokenOff;
        return false;
    }
    return *got != 0;
}

// Reads the body piece by piece into buffer and hands each piece to take,
// pausing between reads, until the body ends or breaks off or take answers
// false (it has all it wants). A body that falls below the least pace, or
// outlasts the fetch's budget, breaks off: each read returns once something
// arrives or the receive time-out passes, so it is judged that often.
template <typename Take>
FetchOutcome PumpBody(CWinThreadMaster* task, HINTERNET request, const TimeBudget& fetchBudget,
                      void* buffer, DWORD limit, Take take)
{
    FetchOutcome outcome = FetchDone;
    BodyPace pace(GetTickCount(), g_httpTimeoutMs);
    DWORD got = 0;
    while (ReadBody(request, buffer, limit, &got, &outcome) && take(got)) {
        const DWORD now = GetTickCount();
        if (!pace.Keeps(now, got) || fetchBudget.LeftMs(now) == 0)
            return FetchBrokenOff;
        task->SleepIfRunning(kReadPauseMs);
    }
    return outcome;
}

}  // namespace

int32_t DownloadPercent(uint32_t received, uint32_t declaredSize)
{
    if (declaredSize == 0)
        return 100;
    double percent = 85.0 * static_cast<double>(received) / static_cast<double>(declaredSize);
    return percent >= 100.0 ? 100 : static_cast<int32_t>(percent);
}

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
                           uint32_t capacity, uint32_t withinMs, char** area, uint32_t* received,
                           uint32_t* status)
{
    *area = nullptr;
    *received = 0;
    if (status != nullptr)
        *status = 0;
    const TimeBudget fetchBudget = {GetTickCount(), withinMs};
    OpenedAddress opening;
    if (!OpenAddress(session, address, "", fetchBudget, &opening))
        return FetchCannotOpen;
    const COpenedAddress opened(opening);
    if (status != nullptr)
        *status = StatusOf(opened.Request());

    CByteArea destination(static_cast<char*>(AllocArea(capacity)), capacity);
    const CByteArea chunk(static_cast<char*>(AllocArea(kMemoryChunkSize)), kMemoryChunkSize);
    if (destination.Bytes() == nullptr || chunk.Bytes() == nullptr)
        return FetchCannotOpen;

    uint32_t count = 0;
    const FetchOutcome outcome = PumpBody(
        task, opened.Request(), fetchBudget, chunk.Bytes(), kMemoryReadSize, [&](DWORD got) {
            // Whatever does not fit is dropped: a cut definition fails its
            // digest check, a cut readme is shown as far as it goes.
            uint32_t room = capacity - count;
            uint32_t kept = got < room ? got : room;
            std::memcpy(destination.Bytes() + count, chunk.Bytes(), kept);
            count += kept;
            return count != capacity;
        });
    *area = destination.Release();
    *received = count;
    return outcome;
}

FetchOutcome FetchToFile(CWinThreadMaster* task, HINTERNET session, const char* address,
                         HANDLE file, uint32_t declaredSize, int32_t& downloadState,
                         int32_t& downloadPercent)
{
    // No budget of its own: a large file on a slow but live line must finish.
    const TimeBudget unbounded = {0, kNoTimeLimit};
    OpenedAddress opening;
    if (!OpenAddress(session, address, "", unbounded, &opening))
        return FetchCannotOpen;
    const COpenedAddress opened(opening);

    StoreProgress(downloadState, kStateRunning);
    const CByteArea buffer(static_cast<char*>(AllocArea(kFileTransferSize)), kFileTransferSize);
    if (buffer.Bytes() == nullptr)
        return FetchBrokenOff;

    uint32_t received = 0;
    return PumpBody(task, opened.Request(), unbounded, buffer.Bytes(), kFileTransferSize,
                    [&](DWORD got) {
                        DWORD written = 0;
                        WriteFile(file, buffer.Bytes(), got, &written, nullptr);
                        received += got;
                        StoreProgress(downloadPercent, DownloadPercent(received, declaredSize));
                        return received < declaredSize;
                    });
}

FetchOutcome FetchRange(CWinThreadMaster* task, HINTERNET session, const char* address,
                        uint32_t offset, uint32_t length, uint32_t total, HANDLE file,
                        uint32_t assembled, int32_t& downloadPercent)
{
    char headers[kHeadersSize];
    if (!RangeRequestHeader(headers, sizeof headers, offset, length))
        return FetchRefused;
    // No budget of its own, as a whole file has none; the least pace holds.
    const TimeBudget unbounded = {0, kNoTimeLimit};
    OpenedAddress opening;
    if (!OpenAddress(session, address, headers, unbounded, &opening))
        return FetchCannotOpen;
    const COpenedAddress opened(opening);
    // Anything but the range asked for ends here, before a byte of the body
    // is taken: a server that ignores Range answers 200 with the whole file.
    char contentRange[96];
    DWORD size = sizeof contentRange;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    if (StatusOf(opened.Request()) != HTTP_STATUS_PARTIAL_CONTENT ||
        !HttpQueryInfoA(opened.Request(), HTTP_QUERY_CONTENT_RANGE, contentRange, &size, nullptr) ||
        !ContentRangeAnswers(contentRange, offset, length, total) ||
        !SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
        return FetchRefused;
    const CByteArea buffer(static_cast<char*>(AllocArea(kFileTransferSize)), kFileTransferSize);
    if (buffer.Bytes() == nullptr)
        return FetchBrokenOff;
    uint32_t received = 0;
    bool written = true;
    const FetchOutcome outcome = PumpBody(
        task, opened.Request(), unbounded, buffer.Bytes(), kFileTransferSize, [&](DWORD got) {
            // Bytes past the range are not the range's.
            const DWORD keep = got < length - received ? got : length - received;
            DWORD wrote = 0;
            if (!WriteFile(file, buffer.Bytes(), keep, &wrote, nullptr) || wrote != keep) {
                written = false;
                return false;
            }
            received += keep;
            StoreProgress(downloadPercent, DownloadPercent(assembled + received, total));
            return received < length;
        });
    if (outcome != FetchDone)
        return outcome;
    return written && received == length ? FetchDone : FetchRefused;
}
