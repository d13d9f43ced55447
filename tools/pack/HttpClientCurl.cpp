#include "tools/pack/HttpClient.h"

#include <curl/curl.h>

#include <cstdio>

namespace {

// --ca-file, for every transfer of the process; empty: libcurl's default.
std::string g_caFile;

constexpr long kConnectTimeoutMs = 15000;
// A server that sends nothing for this long has stalled.
constexpr long kStallSeconds = 30;

struct Transfer {
    CBodySink* sink;
    bool stopped;
};

size_t TakeBody(char* data, size_t size, size_t count, void* context)
{
    Transfer* transfer = static_cast<Transfer*>(context);
    size_t bytes = size * count;
    if (!transfer->sink->Take(reinterpret_cast<const unsigned char*>(data), bytes)) {
        transfer->stopped = true;
        return 0;  // curl ends the transfer with a write error
    }
    return bytes;
}

}  // namespace

bool HttpStartup(const std::string& caFile, std::string* error)
{
    if (!caFile.empty()) {
        // Said once here rather than by every fetch that would fail on it.
        std::FILE* file = std::fopen(caFile.c_str(), "rb");
        if (file == nullptr) {
            *error = "cannot read the CA file " + caFile;
            return false;
        }
        std::fclose(file);
    }
    g_caFile = caFile;
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        *error = "the HTTP library could not start";
        return false;
    }
    return true;
}

void HttpShutdown()
{
    curl_global_cleanup();
}

HttpReply HttpGet(const std::string& address, CBodySink* sink)
{
    HttpReply reply = {HttpOutcome::CannotOpen, 0, std::string()};
    if (!IsHttpAddress(address)) {
        reply.error = "not an http:// or https:// address";
        return reply;
    }
    // One handle per fetch, released below on every path.
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        reply.error = "libcurl could not start a transfer";
        return reply;
    }
    Transfer transfer = {sink, false};
    char message[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "fernup-pack");
    curl_easy_setopt(handle, CURLOPT_PROXY, "");  // direct, as the program connects
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);  // several threads fetch at once
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    // Peer and host name are always verified (libcurl's defaults, left as
    // they are); a CA file replaces the system's CAs, folder included.
    if (!g_caFile.empty()) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, g_caFile.c_str());
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }
    struct curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);

    CURLcode result = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
    if (result == CURLE_OK || transfer.stopped) {
        reply.outcome = HttpOutcome::Done;
    } else {
        reply.outcome = reply.status > 0 ? HttpOutcome::BrokenOff : HttpOutcome::CannotOpen;
        reply.error = message[0] != '\0' ? message : curl_easy_strerror(result);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(handle);
    return reply;
}
