#pragma once

#include <cstdint>

#include "support/CMd5.h"
#include "support/NoCopy.h"

class CSha256;
struct UpdateFileEntry;

// How a file is judged against the entry that lists it: the MD5 the
// definition gives, and in a build that checks signatures the SHA-256 that
// update.sig binds, both fed from the same reads. The update's checks of its
// copies and its look at an installed file before a download use it, and so
// does fernup-pack's status, so that the tool counts what the program fetches.
class CEntryDigest : NoCopy {
public:
    explicit CEntryDigest(bool checkSigned);
    ~CEntryDigest();

    void Update(const void* data, uint32_t count);
    // Once, after the last Update: true when the bytes were the whole file
    // (hashed equals expected) and every digest the entry carries matches. A
    // signed check passes only a file whose SHA-256 the signature binds.
    bool Matches(const UpdateFileEntry& entry, uint32_t hashed, uint32_t expected);

private:
    CMd5 m_md5;
    CSha256* m_sha;  // owned; null when signatures are not checked
    bool m_checkSigned;
};

// The same judgement on digests finished elsewhere (fernup-pack reads files
// its own way): md5 is the 32-character text of hashed bytes, sha256 their
// SHA-256, or null when it was not computed.
bool DigestsMatch(const UpdateFileEntry& entry, bool checkSigned, uint32_t hashed,
                  uint32_t expected, const char* md5, const unsigned char* sha256);

// Whether an installed file of installedSize bytes may already be the
// entry's file. Only then is it read: a file of another size is fetched
// without being hashed first.
bool InstalledSizeMayMatch(uint32_t installedSize, const UpdateFileEntry& entry);
