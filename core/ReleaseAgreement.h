#pragma once

#include <cstdint>

// The files of a package that the program fetches together (update.qdv,
// MD5.txt, readme.txt and, with keys, update.sig) are four objects to a web
// cache, each kept from its own moment, and a publisher uploads them one
// after the other. So a player who fetches while a release goes up, or
// through a cache that took its copies on either side of an upload, can get
// files of two releases. Each release alone is sound; the mix would be
// refused. The program and fernup-pack status therefore fetch a set that does
// not agree once more, after a wait, and only then judge it as before.

// The wait. A cache that keeps the definition files for 1 s (docs/hosting.md)
// hands a copy out for up to 2 s after it took it (nginx counts its lifetimes
// in whole seconds). The disagreement shows that one file was taken after the
// upload, so 3 s later every copy any cache hands out was taken after it too.
constexpr uint32_t kDisagreementWaitMs = 3000;

// The texts as fetched; signature null when update.sig was not fetched.
struct PackageTexts {
    const char* definition;
    uint32_t definitionLength;
    const char* digest;  // MD5.txt
    uint32_t digestLength;
    const char* readme;
    uint32_t readmeLength;
    const char* signature;
    uint32_t signatureLength;
};

// True when the texts are of one release: MD5.txt holds the digest of
// update.qdv and, when update.sig was fetched, it names the SHA-256 of this
// update.qdv and this readme.txt. Whether the signature holds is judged
// later, as before. Reads no ProfileText: the fetch task's thread may call it.
bool TextsOfOneRelease(const PackageTexts& texts);
