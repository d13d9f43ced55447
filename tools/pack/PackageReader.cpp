#include "tools/pack/PackageReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/pack/HttpClient.h"
#include "tools/pack/PackagePaths.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kCountLimit = uint64_t(1) << 30;

std::FILE* OpenFile(const fs::path& path, bool write)
{
#ifdef _WIN32
    return _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

// Keeps the first keep bytes of a body and counts the rest.
class CKeepSink : public CBodySink {
public:
    CKeepSink(PackageBody* body, uint32_t keep) : m_body(body), m_keep(keep) {}

    bool Take(const unsigned char* data, size_t size) override
    {
        size_t room = m_body->bytes.size() < m_keep ? m_keep - m_body->bytes.size() : 0;
        m_body->bytes.append(reinterpret_cast<const char*>(data), size < room ? size : room);
        m_body->totalSize += size;
        return m_body->totalSize < kCountLimit;
    }

private:
    PackageBody* m_body;
    uint32_t m_keep;
};

}  // namespace

bool ParsePackageLocation(const std::string& utf8Argument, PackageLocation* location,
                          std::string* error)
{
    location->online = IsHttpAddress(utf8Argument);
    location->anyCase = false;
    location->baseAddress.clear();
    location->folder.clear();
    if (!location->online) {
        location->folder = PathOfUtf8(utf8Argument);
        std::error_code code;
        if (!fs::is_directory(location->folder, code)) {
            *error = utf8Argument + " is neither a folder nor an http:// address";
            return false;
        }
        return true;
    }
    if (utf8Argument.back() != '/') {
        *error = "the base address " + utf8Argument +
                 " must end in \"/\": the program appends update.qdv to it directly";
        return false;
    }
    location->baseAddress = utf8Argument;
    return true;
}

PackageBody ReadLocalBody(const fs::path& path, uint32_t keep)
{
    PackageBody body = {BodyOutcome::Done, 0, std::string(), 0, std::string()};
    std::FILE* file = OpenFile(path, false);
    if (file == nullptr) {
        body.outcome = errno == ENOENT ? BodyOutcome::Missing : BodyOutcome::CannotOpen;
        body.error = std::strerror(errno);
        return body;
    }
    char buffer[65536];
    for (;;) {
        size_t got = std::fread(buffer, 1, sizeof buffer, file);
        size_t room = body.bytes.size() < keep ? keep - body.bytes.size() : 0;
        body.bytes.append(buffer, got < room ? got : room);
        body.totalSize += got;
        if (got < sizeof buffer)
            break;
    }
    if (std::ferror(file)) {
        body.outcome = BodyOutcome::BrokenOff;
        body.error = "read error";
    }
    std::fclose(file);
    return body;
}

PackageBody FetchBody(const std::string& address, uint32_t keep)
{
    PackageBody body = {BodyOutcome::Done, 0, std::string(), 0, std::string()};
    CKeepSink sink(&body, keep);
    HttpReply reply = HttpGet(address, &sink);
    body.httpStatus = reply.status;
    body.error = reply.error;
    if (reply.outcome == HttpOutcome::CannotOpen)
        body.outcome = BodyOutcome::CannotOpen;
    else if (reply.outcome == HttpOutcome::BrokenOff)
        body.outcome = BodyOutcome::BrokenOff;
    return body;
}

PackageBody ReadPackageBody(const PackageLocation& location, const std::string& name, uint32_t keep)
{
    if (location.online)
        return FetchBody(RequestAddress(location.baseAddress, name), keep);
    fs::path path;
    bool placed = location.anyCase ? FindOfflineCopy(location.folder, name, &path) || !path.empty()
                                   : ServedFilePath(location.folder, name, &path);
    if (!placed)
        return PackageBody{BodyOutcome::CannotOpen, 0, std::string(), 0, "malformed name"};
    return ReadLocalBody(path, keep);
}

bool WriteLocalFile(const fs::path& path, const std::string& bytes, std::string* error)
{
    std::FILE* file = OpenFile(path, true);
    if (file == nullptr) {
        *error = "cannot create " + Utf8OfPath(path) + ": " + std::strerror(errno);
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        *error = "cannot write " + Utf8OfPath(path) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
