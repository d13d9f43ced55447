#include "updater/SigningKeys.h"

#include <windows.h>

#include <cstring>

#include "core/SignedPackage.h"
#include "updater/resource.h"

namespace {

// Room for kMaxPublicKeys keys and their separators.
constexpr DWORD kKeyTextCapacity = kMaxPublicKeys * (kPublicKeyHexLength + 1) + 1;

}  // namespace

int32_t LoadSigningKeys(PublicKey* keys, uint32_t capacity)
{
    HMODULE program = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(IDR_SIGNING_KEYS), RT_RCDATA);
    if (found == nullptr)
        return 0;
    // A resource that is there but unreadable must not make the build one
    // without keys.
    HGLOBAL loaded = LoadResource(program, found);
    const DWORD size = SizeofResource(program, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0 || size >= kKeyTextCapacity)
        return -1;
    char text[kKeyTextCapacity];
    std::memcpy(text, bytes, size);
    text[size] = '\0';
    const int32_t count = ReadPublicKeys(text, keys, capacity);
    return count == 0 ? -1 : count;
}
