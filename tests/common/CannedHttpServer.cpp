#include "tests/common/CannedHttpServer.h"

#include <ws2tcpip.h>

#include <cstring>

namespace {

bool g_winsockReady = false;

void ReadyWinsock()
{
    if (!g_winsockReady) {
        WSADATA data;
        g_winsockReady = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
}

void SendAll(SOCKET socket, const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

// The reply at its pace; a pause cut short by stop ends it.
void SendPaced(SOCKET socket, const CannedHttpServer::Reply& reply, HANDLE stop)
{
    const size_t head =
        reply.trickleMs == 0 ? reply.bytes.size() : reply.bytes.find("\r\n\r\n") + 4;
    if (WaitForSingleObject(stop, reply.delayMs) == WAIT_OBJECT_0)
        return;
    SendAll(socket, reply.bytes.substr(0, head));
    for (size_t sent = head; sent < reply.bytes.size(); ++sent) {
        if (WaitForSingleObject(stop, reply.trickleMs) == WAIT_OBJECT_0)
            return;
        SendAll(socket, reply.bytes.substr(sent, 1));
    }
}

}  // namespace

SOCKET ListenOnLoopback(uint16_t* port, int backlog)
{
    ReadyWinsock();
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return INVALID_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, backlog) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(listener);
        return INVALID_SOCKET;
    }
    *port = ntohs(address.sin_port);
    return listener;
}

uint16_t ClosedPort()
{
    uint16_t port = 0;
    SOCKET probe = ListenOnLoopback(&port);
    closesocket(probe);
    return port;
}

CannedHttpServer::CannedHttpServer()
    : m_listener(INVALID_SOCKET), m_port(0), m_thread(nullptr), m_stopEvent(nullptr)
{
    InitializeCriticalSection(&m_lock);
}

CannedHttpServer::~CannedHttpServer()
{
    Stop();
    DeleteCriticalSection(&m_lock);
}

bool CannedHttpServer::Start()
{
    m_listener = ListenOnLoopback(&m_port);
    if (m_listener == INVALID_SOCKET)
        return false;
    m_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // The socket listens before the thread exists, so a client may connect
    // as soon as Start returns.
    m_thread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    return m_thread != nullptr;
}

void CannedHttpServer::Stop()
{
    if (m_thread == nullptr)
        return;
    SetEvent(m_stopEvent);
    closesocket(m_listener);  // ends the accept
    m_listener = INVALID_SOCKET;
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    CloseHandle(m_stopEvent);
    m_thread = nullptr;
    m_stopEvent = nullptr;
}

CannedHttpServer::Reply CannedHttpServer::Ok(const std::string& body, int64_t declaredLength,
                                             Ending ending, uint32_t stallMs)
{
    Reply reply;
    int64_t length = declaredLength < 0 ? static_cast<int64_t>(body.size()) : declaredLength;
    reply.bytes = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                  std::to_string(length) + "\r\nConnection: close\r\n\r\n" + body;
    reply.ending = ending;
    reply.stallMs = stallMs;
    return reply;
}

CannedHttpServer::Reply CannedHttpServer::Partial(const std::string& body,
                                                  const std::string& contentRange,
                                                  int64_t declaredLength)
{
    Reply reply;
    int64_t length = declaredLength < 0 ? static_cast<int64_t>(body.size()) : declaredLength;
    reply.bytes = "HTTP/1.1 206 Partial Content\r\nContent-Type: application/octet-stream\r\n"
                  "Content-Range: " +
                  contentRange + "\r\nContent-Length: " + std::to_string(length) +
                  "\r\nConnection: close\r\n\r\n" + body;
    return reply;
}

CannedHttpServer::Reply CannedHttpServer::Redirect(const std::string& location, int status)
{
    const std::string page = "<html><body>moved</body></html>";
    Reply reply;
    reply.bytes = "HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation: " + location +
                  "\r\nContent-Length: " + std::to_string(page.size()) +
                  "\r\nConnection: close\r\n\r\n" + page;
    return reply;
}

void CannedHttpServer::SetReply(const std::string& path, const Reply& reply)
{
    EnterCriticalSection(&m_lock);
    m_replies[path] = reply;
    LeaveCriticalSection(&m_lock);
}

void CannedHttpServer::SetRangeReply(const std::string& path, const Reply& reply)
{
    EnterCriticalSection(&m_lock);
    m_rangeReplies[path] = reply;
    LeaveCriticalSection(&m_lock);
}

void CannedHttpServer::SetReplyBehindRedirects(const std::string& path, int hops, uint32_t hopMs,
                                               const Reply& reply)
{
    std::string from = path;
    for (int hop = 1; hop <= hops; ++hop) {
        Reply redirect = Redirect(path + "~" + std::to_string(hop));
        redirect.delayMs = hopMs;
        SetReply(from, redirect);
        from = path + "~" + std::to_string(hop);
    }
    SetReply(from, reply);
}

std::string CannedHttpServer::Address(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<std::string> CannedHttpServer::Requests()
{
    EnterCriticalSection(&m_lock);
    std::vector<std::string> copy = m_requests;
    LeaveCriticalSection(&m_lock);
    return copy;
}

DWORD WINAPI CannedHttpServer::ThreadMain(void* self)
{
    static_cast<CannedHttpServer*>(self)->Serve();
    return 0;
}

void CannedHttpServer::Serve()
{
    for (;;) {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return;
        Answer(client);
        if (WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0)
            return;
    }
}

void CannedHttpServer::Answer(SOCKET client)
{
    // A client killed mid-request may leave its end open under Wine, and
    // the one thread serves everyone: nothing waits on it for ever.
    const DWORD patienceMs = 15000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&patienceMs),
               sizeof(patienceMs));
    setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&patienceMs),
               sizeof(patienceMs));
    std::string head;
    char buffer[2048];
    while (head.find("\r\n\r\n") == std::string::npos) {
        int n = recv(client, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        head.append(buffer, static_cast<size_t>(n));
    }
    std::string path;
    size_t space = head.find(' ');
    if (space != std::string::npos)
        path = head.substr(space + 1, head.find(' ', space + 1) - space - 1);

    Reply reply;
    EnterCriticalSection(&m_lock);
    m_requests.push_back(head);
    const bool ranged = head.find("\r\nRange:") != std::string::npos;
    auto found = m_replies.find(path);
    auto rangeFound = m_rangeReplies.find(path);
    if (ranged && rangeFound != m_rangeReplies.end()) {
        reply = rangeFound->second;
    } else if (found != m_replies.end()) {
        reply = found->second;
    } else {
        std::string page = "<html><body>404 Not Found</body></html>";
        reply.bytes = "HTTP/1.1 404 Not Found\r\nContent-Length: " + std::to_string(page.size()) +
                      "\r\nConnection: close\r\n\r\n" + page;
    }
    LeaveCriticalSection(&m_lock);

    SendPaced(client, reply, m_stopEvent);
    if (reply.ending == Ending::Reset) {
        // The client must already wait in its read when the reset comes, or
        // it may take the reset for the end of the body.
        WaitForSingleObject(m_stopEvent, 300);
        linger abort{1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof(abort));
    } else if (reply.ending == Ending::Stall) {
        WaitForSingleObject(m_stopEvent, reply.stallMs);
    }
    if (reply.ending != Ending::Reset)
        shutdown(client, SD_SEND);
    closesocket(client);
}
