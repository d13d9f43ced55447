#include "support/NoCopy.h"
#include "tools/pack/FileDigest.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "core/BlockIndex.h"
#include "support/CMd5.h"
#include "support/PlatformCrypto.h"
#include "tools/pack/HttpClient.h"

namespace {

constexpr size_t kReadSize = 1 << 20;  // per thread; large reads keep system calls few
constexpr uint64_t kMaxDigestLength = 0xFFFFFFFFu;

// Closes its stream when it goes out of scope; Close reports a failed flush.
class CStream : NoCopy {
public:
    CStream() = default;
    ~CStream() { Close(); }

    bool Open(const std::filesystem::path& path, bool write)
    {
#ifdef _WIN32
        m_file = _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
        m_file = std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
        // Reads and writes are whole buffers already; stdio's own would only copy.
        if (m_file != nullptr)
            std::setvbuf(m_file, nullptr, _IONBF, 0);
        return m_file != nullptr;
    }

    bool Close()
    {
        if (m_file == nullptr)
            return true;
        bool ok = std::fclose(m_file) == 0;
        m_file = nullptr;
        return ok;
    }

    std::FILE* Get() const
    {
        return m_file;
    }

private:
    std::FILE* m_file = nullptr;
};

// Adds bytes to a digest and a count, up to the job's limit.
class CDigestSink : public CBodySink, NoCopy {
public:
    explicit CDigestSink(DigestJob* job) : m_job(job)
    {
        m_indexing = job->blockShift != 0 && m_index.Begin(job->indexedSize, job->blockShift);
    }
    // The digest's block buffer is released here when Finish was never reached.
    ~CDigestSink()
    {
        if (!m_finished)
            m_digest.Release();
    }

    bool Take(const unsigned char* data, size_t size) override
    {
        uint64_t room = m_job->readLimit - m_job->size;
        if (size > room) {
            m_job->overLimit = true;
            size = static_cast<size_t>(room);
        }
        m_digest.Update(data, static_cast<uint32_t>(size));
        if (m_job->wantSha256)
            m_sha256.Update(data, static_cast<uint32_t>(size));
        if (m_indexing)
            m_index.Feed(data, static_cast<uint32_t>(size));
        m_job->size += size;
        return !m_job->overLimit;
    }

    void Finish()
    {
        m_digest.FinalHex(m_job->md5);
        m_digest.Release();
        if (m_job->wantSha256 && !m_sha256.Final(m_job->sha256))
            m_job->md5[0] = '\0';  // no digest then, and no match with anything
        unsigned char md5[16];
        if (m_indexing && DigestTextBytes(m_job->md5, md5)) {
            std::string index(BlockIndexSizeOf(m_job->indexedSize, m_job->blockShift), '\0');
            if (m_index.Finish(md5, reinterpret_cast<unsigned char*>(&index[0])))
                m_job->blockIndex.swap(index);
        }
        m_finished = true;
    }

private:
    DigestJob* m_job;
    CMd5 m_digest;
    CSha256 m_sha256;
    CBlockIndexWriter m_index;
    bool m_indexing = false;
    bool m_finished = false;
};

void DigestLocal(DigestJob* job, unsigned char* buffer)
{
    CStream input;
    if (!input.Open(job->source, false)) {
        job->missing = errno == ENOENT;
        job->error = job->missing ? "does not exist"
                                  : std::string("cannot be opened: ") + std::strerror(errno);
        return;
    }
    CStream output;
    if (!job->copyTo.empty() && !output.Open(job->copyTo, true)) {
        job->error = std::string("its copy cannot be created: ") + std::strerror(errno);
        return;
    }
    CDigestSink sink(job);
    for (;;) {
        size_t got = std::fread(buffer, 1, kReadSize, input.Get());
        if (got > 0) {
            if (output.Get() != nullptr && std::fwrite(buffer, 1, got, output.Get()) != got) {
                job->error = std::string("its copy cannot be written: ") + std::strerror(errno);
                return;
            }
            if (!sink.Take(buffer, got))
                break;
        }
        if (got < kReadSize) {
            if (std::ferror(input.Get())) {
                job->error = "cannot be read";
                return;
            }
            break;
        }
    }
    if (!output.Close()) {
        job->error = std::string("its copy cannot be written: ") + std::strerror(errno);
        return;
    }
    sink.Finish();
    job->done = !job->overLimit;
    if (job->overLimit)
        job->error = "is longer than expected";
}

void DigestAddress(DigestJob* job)
{
    CDigestSink sink(job);
    HttpReply reply = HttpGet(job->address, &sink);
    job->httpStatus = reply.status;
    if (reply.outcome != HttpOutcome::Done) {
        job->error = reply.error;
        return;
    }
    sink.Finish();
    if (reply.status != 200) {
        job->missing = reply.status == 404;
        job->error = "answered with HTTP status " + std::to_string(reply.status);
        return;
    }
    job->done = !job->overLimit;
    if (job->overLimit)
        job->error = "is longer than expected";
}

void RunOne(DigestJob* job, unsigned char* buffer)
{
    if (job->address.empty())
        DigestLocal(job, buffer);
    else
        DigestAddress(job);
}

}  // namespace

DigestJob LocalDigestJob(const std::filesystem::path& source, const std::filesystem::path& copyTo,
                         uint64_t readLimit)
{
    DigestJob job = {};
    job.source = source;
    job.copyTo = copyTo;
    job.readLimit = readLimit < kMaxDigestLength ? readLimit : kMaxDigestLength;
    return job;
}

DigestJob AddressDigestJob(const std::string& address, uint64_t readLimit)
{
    DigestJob job = {};
    job.address = address;
    job.readLimit = readLimit < kMaxDigestLength ? readLimit : kMaxDigestLength;
    return job;
}

unsigned DigestThreadCount(unsigned requested)
{
    if (requested > 0)
        return requested;
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

void RunDigestJobs(std::vector<DigestJob>* jobs, unsigned threads)
{
    for (DigestJob& job : *jobs) {
        job.done = false;
        job.missing = false;
        job.overLimit = false;
        job.size = 0;
        job.md5[0] = '\0';
        job.httpStatus = 0;
        job.error.clear();
        job.blockIndex.clear();
    }
    std::atomic<size_t> next(0);
    auto work = [jobs, &next]() {
        // One read buffer per thread, freed when the thread's work ends.
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadSize]);
        for (size_t index = next++; index < jobs->size(); index = next++)
            RunOne(&(*jobs)[index], buffer.get());
    };
    size_t count = threads < jobs->size() ? threads : jobs->size();
    if (count <= 1) {
        work();
        return;
    }
    std::vector<std::thread> workers;
    for (size_t i = 0; i < count; ++i)
        workers.emplace_back(work);
    for (std::thread& worker : workers)
        worker.join();
}
