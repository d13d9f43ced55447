// CMd5 fed in chunkings drawn from the input gives the digest of the one-shot
// call, and both give the digest of an independent implementation
// (OpenSSL's), as 32 lower-case hexadecimal characters.
#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "support/CMd5.h"

namespace {

std::string ReferenceHex(const std::vector<uint8_t>& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // The chunk sizes come first, then the bytes to digest; sizes near the
    // 64-byte block are the ones that matter.
    std::vector<uint32_t> sizes;
    const size_t chunks = input.ConsumeIntegralInRange<size_t>(0, 64);
    for (size_t i = 0; i < chunks; ++i) {
        static const uint32_t kNear[] = {0, 1, 55, 56, 63, 64, 65, 119, 120, 128};
        sizes.push_back(input.ConsumeBool() ? kNear[input.ConsumeIntegralInRange(0, 9)]
                                            : input.ConsumeIntegralInRange<uint32_t>(0, 300));
    }
    const std::vector<uint8_t> bytes = input.ConsumeRemainingBytes<uint8_t>();

    char oneShot[CMd5::kHexSize];
    Md5Hex(bytes.data(), static_cast<uint32_t>(bytes.size()), oneShot);

    CMd5 md5;
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); ++i) {
        // The given sizes, then the rest in one piece.
        uint32_t count = i < sizes.size() ? sizes[i] : static_cast<uint32_t>(bytes.size() - at);
        if (count > bytes.size() - at)
            count = static_cast<uint32_t>(bytes.size() - at);
        md5.Update(bytes.data() + at, count);
        at += count;
    }
    md5.Update(bytes.data() + at, 0);
    char chunked[CMd5::kHexSize];
    md5.FinalHex(chunked);
    md5.Release();

    const std::string reference = ReferenceHex(bytes);
    FUZZ_EXPECT_EQ(reference, TextIn(oneShot, CMd5::kHexSize, "one-shot digest"),
                   "one-shot digest");
    FUZZ_EXPECT_EQ(reference, TextIn(chunked, CMd5::kHexSize, "chunked digest"), "chunked digest");
    return 0;
}
