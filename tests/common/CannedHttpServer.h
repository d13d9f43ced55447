#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/NoCopy.h"

// A socket listening on 127.0.0.1 at an ephemeral port (Winsock started
// first), its port in *port; INVALID_SOCKET when none can be had. Connections
// wait in its backlog until someone accepts them: a server that never answers.
SOCKET ListenOnLoopback(uint16_t* port, int backlog = 8);

// A port on 127.0.0.1 where nothing listens: bound once, then let go.
uint16_t ClosedPort();

// A loopback HTTP server with canned replies, for the faults a real server
// will not produce on demand. It answers one connection at a time on
// 127.0.0.1 at an ephemeral port; Start returns once it listens.
class CannedHttpServer : NoCopy {
public:
    // What happens after the canned bytes are sent.
    enum class Ending {
        Close,  // an orderly close
        Reset,  // a pause (so the client is waiting in a read), then a reset
        Stall,  // nothing more for stallMs, then an orderly close
    };

    struct Reply {
        std::string bytes;  // status line, headers and body, as sent
        Ending ending = Ending::Close;
        uint32_t stallMs = 0;
        uint32_t delayMs = 0;    // silence before the first byte
        uint32_t trickleMs = 0;  // the body a byte at a time, this long before each
    };

    CannedHttpServer();
    ~CannedHttpServer();

    bool Start();
    void Stop();  // also ends a stall at once

    // A 200 reply with Content-Length (declaredLength, or the body's length
    // when negative) and the body; the connection closes after it.
    static Reply Ok(const std::string& body, int64_t declaredLength = -1,
                    Ending ending = Ending::Close, uint32_t stallMs = 0);

    // A 206 reply with the Content-Range value given, Content-Length
    // (declaredLength, or the body's length when negative) and the body.
    static Reply Partial(const std::string& body, const std::string& contentRange,
                         int64_t declaredLength = -1);

    // A redirect (301 unless told) to location, with a small page.
    static Reply Redirect(const std::string& location, int status = 301);

    // Paths not set answer 404 with a small page.
    void SetReply(const std::string& path, const Reply& reply);
    // A request for path that asks for a Range gets this reply instead.
    void SetRangeReply(const std::string& path, const Reply& reply);
    // path answers with hops redirects in a row, each hopMs late, to path~1,
    // path~2 ... and reply.
    void SetReplyBehindRedirects(const std::string& path, int hops, uint32_t hopMs,
                                 const Reply& reply);

    uint16_t Port() const { return m_port; }
    std::string Address(const std::string& path) const;

    // Request heads received so far, in order.
    std::vector<std::string> Requests();

private:
    static DWORD WINAPI ThreadMain(void* self);
    void Serve();
    void Answer(SOCKET client);

    SOCKET m_listener;
    uint16_t m_port;
    HANDLE m_thread;
    HANDLE m_stopEvent;  // manual reset; ends stalls and the accept loop
    CRITICAL_SECTION m_lock;
    std::map<std::string, Reply> m_replies;
    std::map<std::string, Reply> m_rangeReplies;
    std::vector<std::string> m_requests;
};
