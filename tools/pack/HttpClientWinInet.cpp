#include "tools/pack/HttpClient.h"

#include <windows.h>
#include <wininet.h>

namespace {

constexpr DWORD kTimeoutMs = 30000;
constexpr DWORD kReadSize = 65536;

// The one session of the process, opened by HttpStartup and closed by
// HttpShutdown; WinINet lets several threads open addresses on it.
HINTERNET g_session = nullptr;

std::string LastErrorText(const char* what)
{
    return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

bool HttpStartup(const std::string& caFile, std::string* error)
{
    // WinINet takes its CAs from the system's store, and only from there.
    if (!caFile.empty()) {
        *error =
            "--ca-file is not available on Windows: add the CA to the Windows certificate "
            "store (Trusted Root Certification Authorities) instead";
        return false;
    }
    g_session = InternetOpenA("fernup-pack", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (g_session == nullptr) {
        *error = "the HTTP library could not start";
        return false;
    }
    DWORD timeout = kTimeoutMs;
    InternetSetOptionA(g_session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(g_session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    return true;
}

void HttpShutdown()
{
    if (g_session != nullptr)
        InternetCloseHandle(g_session);
    g_session = nullptr;
}

HttpReply HttpGet(const std::string& address, CBodySink* sink)
{
    HttpReply reply = {HttpOutcome::CannotOpen, 0, std::string()};
    if (!IsHttpAddress(address)) {
        reply.error = "not an http:// or https:// address";
        return reply;
    }
    if (g_session == nullptr) {
        reply.error = "no Internet session";
        return reply;
    }
    // Fetched from the server and not kept in the Internet cache, as the program does.
    HINTERNET request = InternetOpenUrlA(
        g_session, address.c_str(), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
    if (request == nullptr) {
        reply.error = LastErrorText("InternetOpenUrlA");
        return reply;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                       &statusSize, nullptr))
        reply.status = static_cast<long>(status);
    reply.outcome = HttpOutcome::Done;
    // Freed below, once the request is closed.
    unsigned char* buffer = new unsigned char[kReadSize];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, kReadSize, &got)) {
            reply.outcome = HttpOutcome::BrokenOff;
            reply.error = LastErrorText("InternetReadFile");
            break;
        }
        if (got == 0 || !sink->Take(buffer, got))
            break;
    }
    InternetCloseHandle(request);
    delete[] buffer;
    return reply;
}
