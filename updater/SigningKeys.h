#pragma once

#include <cstdint>

struct PublicKey;

// The publisher's public keys built into the program (resource
// IDR_SIGNING_KEYS of the running module). Returns how many there are: 0 in
// a build without keys, which checks no signatures at all; -1 when the
// resource is there but cannot be read, which then trusts no definition.
int32_t LoadSigningKeys(PublicKey* keys, uint32_t capacity);
