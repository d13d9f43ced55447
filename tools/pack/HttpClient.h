#pragma once

#include <cstddef>
#include <string>

// HTTP GET for verify and status: libcurl natively (HttpClientCurl.cpp), WinINet
// on Windows (HttpClientWinInet.cpp). Like the program, it connects directly
// (no proxy), follows redirects and never answers from a cache. Addresses are
// ASCII; see RequestAddress.

enum class HttpOutcome {
    Done,        // the body ended, or the sink stopped it
    CannotOpen,  // no response: refused, unreachable, not an http(s) address
    BrokenOff,   // the response began but the transfer failed
};

struct HttpReply {
    HttpOutcome outcome;
    long status;        // HTTP status once a response began, else 0
    std::string error;  // why, when the outcome is not Done
};

// Takes the body piece by piece; returns false to end the transfer early.
class CBodySink {
public:
    virtual bool Take(const unsigned char* data, size_t size) = 0;

protected:
    ~CBodySink() = default;
};

// Once per process, before any thread fetches, and once when all are done.
// With caFile (a PEM file; empty: the system's), HTTPS trusts the CAs in it
// instead of the system's; the Windows build has only the system's. False,
// with *error, when the library cannot start or the CA file cannot be used.
bool HttpStartup(const std::string& caFile, std::string* error);
void HttpShutdown();

// Fetches address into sink; safe to call from several threads at once.
HttpReply HttpGet(const std::string& address, CBodySink* sink);

// True for an address that starts with http:// or https:// (any letter case).
bool IsHttpAddress(const std::string& address);
