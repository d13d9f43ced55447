#pragma once

#include <cstddef>

// The address of a file beside the definition ("MD5.txt", "readme.txt"): the
// definition address with everything after its last "/" replaced by the name.
// An address without "/" is used unchanged. out holds capacity bytes; the
// result is cut there, never inside a two-byte character.
void CompanionAddress(char* out, size_t capacity, const char* definitionAddress, const char* name);

// The address of a file once more, under a query naming the digest its
// definition lists: "?md5=<digest>", or "&md5=<digest>" after a query the
// address already has. A web server hands out the same file; a cache that
// keys on the query string (nginx, Varnish and most CDNs by default) has no
// copy under it and asks the server, so a file it kept from an earlier
// release at the same address does not come again. False, with nothing
// written, when md5 is not 32 characters or the result does not fit.
bool DigestQueryAddress(char* out, size_t capacity, const char* address, const char* md5);
