// The rule by which an installed file counts as the listed one: its size
// first, then its MD5, then, when signatures are checked, its SHA-256.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/EntryDigest.h"
#include "core/UpdateFileEntry.h"
#include "support/PlatformCrypto.h"
#include "tests/common/TestBytes.h"

namespace {

UpdateFileEntry EntryFor(const std::string& bytes, bool bindSha)
{
    UpdateFileEntry entry = {};
    entry.size = static_cast<int32_t>(bytes.size());
    std::strcpy(entry.md5, Md5Of(bytes).c_str());
    if (bindSha) {
        entry.sha256Bound = 1;
        EXPECT_TRUE(Sha256Of(bytes.data(), static_cast<uint32_t>(bytes.size()), entry.sha256));
    }
    return entry;
}

// Fed in two pieces, as reads of a file give it.
bool Judge(const UpdateFileEntry& entry, const std::string& bytes, bool checkSigned)
{
    CEntryDigest digest(checkSigned);
    const size_t half = bytes.size() / 2;
    digest.Update(bytes.data(), static_cast<uint32_t>(half));
    digest.Update(bytes.data() + half, static_cast<uint32_t>(bytes.size() - half));
    const auto length = static_cast<uint32_t>(bytes.size());
    return digest.Matches(entry, length, length);
}

}  // namespace

TEST(EntryDigest, MatchesOnlyTheListedBytesAndUnderSignaturesOnlyTheSignedOnes)
{
    const std::string genuine = Md5CollisionBlock(0) + "tail";
    const std::string forged = Md5CollisionBlock(1) + "tail";
    ASSERT_EQ(Md5Of(genuine), Md5Of(forged));

    const UpdateFileEntry plain = EntryFor(genuine, false);
    EXPECT_TRUE(Judge(plain, genuine, false));
    EXPECT_TRUE(Judge(plain, forged, false)) << "MD5 alone cannot tell them apart";
    EXPECT_FALSE(Judge(plain, genuine + "x", false));
    EXPECT_FALSE(Judge(plain, genuine, true)) << "a file the signature binds nothing to";

    const UpdateFileEntry bound = EntryFor(genuine, true);
    EXPECT_TRUE(Judge(bound, genuine, true));
    EXPECT_FALSE(Judge(bound, forged, true));

    // Bytes short of the file's length never match, whatever their digest.
    CEntryDigest digest(false);
    digest.Update(genuine.data(), static_cast<uint32_t>(genuine.size()));
    const auto length = static_cast<uint32_t>(genuine.size());
    EXPECT_FALSE(digest.Matches(plain, length, length + 1));

    // An upper-case listed MD5 is not the program's text of any digest.
    UpdateFileEntry upper = plain;
    for (char* p = upper.md5; *p != '\0'; ++p)
        if (*p >= 'a' && *p <= 'f')
            *p = static_cast<char>(*p - 'a' + 'A');
    EXPECT_FALSE(Judge(upper, genuine, false));
}

TEST(EntryDigest, OnlyAFileOfTheListedSizeIsWorthReading)
{
    UpdateFileEntry entry = {};
    entry.size = 4000;
    EXPECT_TRUE(InstalledSizeMayMatch(4000, entry));
    EXPECT_FALSE(InstalledSizeMayMatch(3999, entry));
    EXPECT_FALSE(InstalledSizeMayMatch(4001, entry));
    EXPECT_FALSE(InstalledSizeMayMatch(0xFFFFFFFFu, entry)) << "no such file";
    entry.size = 0;
    EXPECT_TRUE(InstalledSizeMayMatch(0, entry)) << "an empty file is listed as such";
    entry.size = -1;
    EXPECT_FALSE(InstalledSizeMayMatch(0xFFFFFFFFu, entry));
}
