// LoadText and GetValue on arbitrary bytes: lookups never write past the
// caller's buffer, and what they return agrees with itself across limits,
// defaults and the letter case of names.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "support/ByteArea.h"
#include "support/ProfileText.h"

namespace {

constexpr size_t kLargestDefinition = 65536;  // the fetch takes no more

// A default that no value can equal and its twin: a key is found exactly when
// both lookups give the same text. A value that is empty only once its quotes
// are gone ("") is found, and gives the empty text.
constexpr char kDefaultOne[] = "\x01missing-one\x01";
constexpr char kDefaultTwo[] = "\x02missing-two\x02";

struct Lookup {
    bool found;
    std::string text;
};

Lookup GetWithLimit(const std::string& section, const std::string& key, uint32_t limit)
{
    // Exactly limit + 1 bytes on the heap, so a write past them is caught.
    std::vector<char> one(limit + 1), two(limit + 1);
    uint32_t lengthOne =
        ProfileText::GetValue(section.c_str(), key.c_str(), kDefaultOne, one.data(), limit);
    uint32_t lengthTwo =
        ProfileText::GetValue(section.c_str(), key.c_str(), kDefaultTwo, two.data(), limit);
    std::string textOne = TextIn(one.data(), one.size(), "GetValue output");
    std::string textTwo = TextIn(two.data(), two.size(), "GetValue output");
    FUZZ_EXPECT_EQ(static_cast<uint32_t>(textOne.size()), lengthOne, "returned length");
    FUZZ_EXPECT_EQ(static_cast<uint32_t>(textTwo.size()), lengthTwo, "returned length");
    FUZZ_EXPECT(textOne.size() <= limit, "value within the limit", Shown(textOne));
    if (textOne == textTwo)
        return {true, textOne};
    FUZZ_EXPECT_EQ(std::string(kDefaultOne).substr(0, limit), textOne, "default text, cut");
    FUZZ_EXPECT_EQ(std::string(kDefaultTwo).substr(0, limit), textTwo, "default text, cut");
    return {false, ""};
}

std::string FlipAsciiCase(const std::string& name)
{
    std::string flipped = name;
    for (char& c : flipped) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return flipped;
}

bool IsAscii(const std::string& text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// The value at the largest limit decides the others: a value fits a limit
// exactly when it is no longer, and counts as missing otherwise.
void CheckKey(const std::string& section, const std::string& key)
{
    const Lookup whole = GetWithLimit(section, key, ProfileText::kMaxValue);
    static const uint32_t kLimits[] = {0, 1, 31, 32, 63, 64, 127, 254, 255, 511};
    for (uint32_t limit : kLimits) {
        const Lookup cut = GetWithLimit(section, key, limit);
        // Both defaults cut to nothing, like a quoted empty value ("").
        if (limit == 0)
            continue;
        const bool fits = whole.found && whole.text.size() <= limit;
        FUZZ_EXPECT_EQ(fits, cut.found, ("found at limit " + std::to_string(limit)).c_str());
        if (fits)
            FUZZ_EXPECT_EQ(whole.text, cut.text, "the same value at a smaller limit");
    }
    if (IsAscii(section) && IsAscii(key)) {
        const Lookup flipped =
            GetWithLimit(FlipAsciiCase(section), FlipAsciiCase(key), ProfileText::kMaxValue);
        FUZZ_EXPECT_EQ(whole.found, flipped.found, "found whatever the letter case");
        FUZZ_EXPECT_EQ(whole.text, flipped.text, "the same value whatever the letter case");
    }
}

// A name taken from the text itself: the bytes after the first occurrence of
// opener up to closer, so lookups also hit names nobody planned.
std::string NameAfter(const uint8_t* data, size_t size, char opener, char closer)
{
    const char* text = reinterpret_cast<const char*>(data);
    const void* at = std::memchr(text, opener, size);
    if (at == nullptr)
        return "";
    const char* begin = static_cast<const char*>(at) + 1;
    const char* end = begin;
    while (end < text + size && *end != closer && *end != '\r' && *end != '\0' && end - begin < 300)
        ++end;
    return std::string(begin, end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kLargestDefinition)
        return 0;
    char* buffer = static_cast<char*>(AllocArea(static_cast<uint32_t>(size)));
    if (size > 0)
        std::memcpy(buffer, data, size);
    ProfileText::LoadText(buffer, static_cast<uint32_t>(size));  // takes the buffer over

    static const char* const kKeys[][2] = {
        {"UPDATE_VER", "NAME"},
        {"UPDATE_VER", "VER"},
        {"UPDATE_VER", "DAY"},
        {"UPDATE_FILE", "FILE001"},
        {"UPDATE_FILE", "FILE002"},
        {"FILE_CHECK_LIST", "FILE0001"},
        {"GAME_UPDATE", "URL"},
        {"", "NAME"},
        {"", ""},
    };
    for (const auto& pair : kKeys)
        CheckKey(pair[0], pair[1]);
    CheckKey(NameAfter(data, size, '[', ']'), NameAfter(data, size, '\n', '='));

    ProfileText::ReleaseText();
    std::vector<char> out(64);
    FUZZ_EXPECT_EQ(0u, ProfileText::GetValue("UPDATE_VER", "NAME", "", out.data(), 63),
                   "nothing found once released");
    return 0;
}
