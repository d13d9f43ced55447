// update.sig's reader and the whole package check on arbitrary bytes: nothing
// is read or written out of bounds, a text the reader accepts is exactly what
// the layout writer makes of what it read (so no second spelling of a file
// can be accepted), and no input passes the check without a valid signature.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/SignedPackage.h"
#include "fuzz/FuzzCheck.h"
#include "support/ByteArea.h"

namespace {

// A valid point of P-256 (the public key of the platform test's vector).
const char kTrustedKey[] =
    "44b28d598f5a786786e890f78b3c813621659897bbeb8293091f495178ae39e1"
    "18a6a315fe436277cd87ba804b68eef8ed339d08de79b18cc3137043c1292158";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kSignatureTextCapacity + 16)
        return 0;
    // Exactly the input's bytes on the heap, so a read past them is caught.
    std::vector<char> text(data, data + size);
    SignedFacts* facts = AllocSignedFacts();
    FUZZ_EXPECT(facts != nullptr, "facts allocated", "null");

    uint32_t signedLength = 0;
    const SignatureVerdict verdict =
        ReadSignatureText(text.data(), static_cast<uint32_t>(size), facts, &signedLength);
    if (verdict == kSignatureGood) {
        std::vector<char> written(kSignatureTextCapacity);
        const uint32_t writtenLength =
            WriteSignedPart(*facts, written.data(), kSignatureTextCapacity);
        FUZZ_EXPECT_EQ(signedLength, writtenLength, "signed part as written");
        const uint32_t whole = AppendSignatureLine(facts->signature, written.data(), writtenLength,
                                                   kSignatureTextCapacity);
        FUZZ_EXPECT_EQ(Shown(text.data(), size), Shown(written.data(), whole),
                       "accepted text is the one layout");
    } else {
        FUZZ_EXPECT_EQ(static_cast<uint32_t>(0), signedLength, "no signed part when refused");
    }

    PublicKey key;
    FUZZ_EXPECT_EQ(1, ReadPublicKeys(kTrustedKey, &key, 1), "trusted key read");
    const char definition[] = "[UPDATE_VER]\r\n";
    const SignatureVerdict checked =
        CheckSignedPackage(text.data(), static_cast<uint32_t>(size), definition,
                           sizeof definition - 1, "", 0, &key, 1, 20261207, facts);
    FUZZ_EXPECT(checked != kSignatureGood, "no package passes without its signature",
                Shown(text.data(), size));
    FreeArea(facts);
    return 0;
}
