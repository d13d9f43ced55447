#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// MD5 digests of many files at once, each on one of several threads, so that
// hashing keeps up with the disk: one thread per core reads and digests whole
// files in turn. A file may be copied while it is read, so a package is written
// and digested in one pass over its bytes.

struct DigestJob {
    // What to read: a local file, or the body at an address when address is set.
    std::filesystem::path source;
    std::string address;
    std::filesystem::path copyTo;  // when set, the bytes are written here too (replacing it)
    // Reading ends after this many bytes, so a file that is longer than it
    // should be is known without reading it all. At most 0xFFFFFFFF: CMd5
    // counts its input in 32 bits.
    uint64_t readLimit;
    bool wantSha256;  // a SHA-256 too, in the same pass (for update.sig)
    // With blockShift set (core/BlockIndex.h), the block index of the bytes at
    // that shift, for a file of indexedSize bytes, in the same pass: into
    // blockIndex when done and the bytes were that many.
    uint32_t blockShift;
    uint32_t indexedSize;

    // Results, written by RunDigestJobs.
    bool done;                 // read to its end (and copied) without a failure
    bool missing;              // no such file, or HTTP 404
    bool overLimit;            // there was more than readLimit
    uint64_t size;             // bytes read
    char md5[33];              // digest of those bytes, 32 lower-case characters; valid when done
    unsigned char sha256[32];  // their SHA-256 when wanted; valid when done
    std::string blockIndex;
    long httpStatus;
    std::string error;  // why not done
};

// A job for a local file; copyTo may be empty.
DigestJob LocalDigestJob(const std::filesystem::path& source, const std::filesystem::path& copyTo,
                         uint64_t readLimit);
// A job for an address.
DigestJob AddressDigestJob(const std::string& address, uint64_t readLimit);

// The number of threads to use: requested, or the machine's cores when it is 0.
unsigned DigestThreadCount(unsigned requested);

// Runs every job, on at most threads threads. HTTP jobs need HttpStartup first.
void RunDigestJobs(std::vector<DigestJob>* jobs, unsigned threads);
