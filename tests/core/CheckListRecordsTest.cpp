#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/CheckListRecords.h"
#include "core/UpdateFileEntry.h"

namespace {

const char* const kDigestA = "0123456789abcdef0123456789abcdef";
const char* const kDigestB = "fedcba9876543210fedcba9876543210";
const char* const kDigestC = "00000000000000000000000000000000";

struct SplitCase {
    const char* value;
    const char* name;
    const char* md5;
};

TEST(CheckListRecords, SplitsValueAtFirstColon)
{
    const std::string name63(63, 'n');
    const std::string name64(64, 'n');
    const std::string over63 = name64 + ":" + kDigestA;
    const std::string at63 = name63 + ":" + kDigestA;
    const SplitCase cases[] = {
        {"data\\sample.dat:0123456789abcdef0123456789abcdef", "data\\sample.dat", kDigestA},
        {"plain.dat", "plain.dat", ""},
        {"nothing.dat:", "nothing.dat", ""},
        {"short.dat:0123", "short.dat", ""},
        {"long.dat:0123456789abcdef0123456789abcdef0", "long.dat", ""},
        // Only the first colon splits; the rest belongs to the MD5.
        {"a:b:0123456789abcdef0123456789abcd", "a", "b:0123456789abcdef0123456789abcd"},
        {":0123456789abcdef0123456789abcdef", "", kDigestA},
        // A two-byte character is copied whole, its trail byte never read alone.
        {"\x83\x5C\x83\x74\x83\x67.dat:0123456789abcdef0123456789abcdef",
         "\x83\x5C\x83\x74\x83\x67.dat", kDigestA},
        {at63.c_str(), name63.c_str(), kDigestA},
        // A name that does not fit reads as no name; its MD5 is still judged.
        {over63.c_str(), "", kDigestA},
        // A lead byte that ends the text is kept alone.
        {"end\x83", "end\x83", ""},
    };
    for (const SplitCase& c : cases) {
        char name[64];
        char md5[64];
        std::memset(name, 'x', sizeof(name));
        std::memset(md5, 'x', sizeof(md5));
        SplitCheckValue(c.value, name, md5);
        EXPECT_STREQ(c.name, name) << "value: " << c.value;
        EXPECT_STREQ(c.md5, md5) << "value: " << c.value;
    }
}

TEST(CheckListRecords, FormatsKeysWithFourDigitsAndValuesWithColon)
{
    char key[16];
    const std::pair<int32_t, const char*> keys[] = {
        {0, "FILE0001"}, {2, "FILE0003"}, {41, "FILE0042"}, {9998, "FILE9999"}};
    for (const auto& k : keys) {
        FormatCheckKey(key, k.first);
        EXPECT_STREQ(k.second, key) << "index " << k.first;
    }
    CheckListEntry record{};
    std::strcpy(record.name, "data\\sample.dat");
    std::strcpy(record.md5, kDigestA);
    char value[kCheckValueCapacity];
    FormatCheckValue(value, &record);
    EXPECT_STREQ("data\\sample.dat:0123456789abcdef0123456789abcdef", value);
}

// Records as (index, name, md5, changed), compared and printed whole.
using Row = std::tuple<int32_t, std::string, std::string, int32_t>;

std::vector<Row> Rows(const CheckListEntry* head)
{
    std::vector<Row> rows;
    for (; head != nullptr; head = head->next)
        rows.push_back({head->index, head->name, head->md5, head->changed});
    return rows;
}

class Entries {
public:
    ~Entries()
    {
        for (UpdateFileEntry* entry : m_entries)
            delete entry;
    }
    Entries& Add(const char* target, const char* md5)
    {
        auto* entry = new UpdateFileEntry{};
        std::strcpy(entry->targetPath, target);
        std::strcpy(entry->md5, md5);
        if (!m_entries.empty())
            m_entries.back()->next = entry;
        m_entries.push_back(entry);
        return *this;
    }
    const UpdateFileEntry* Head() const { return m_entries.empty() ? nullptr : m_entries[0]; }

private:
    std::vector<UpdateFileEntry*> m_entries;
};

class RecordList {
public:
    ~RecordList() { FreeCheckRecords(m_head); }
    RecordList& Add(int32_t index, const char* name, const char* md5, int32_t changed = 0)
    {
        EXPECT_NE(nullptr, AppendCheckRecord(&m_head, index, name, md5, changed));
        return *this;
    }
    CheckListEntry** HeadPointer() { return &m_head; }
    const CheckListEntry* Head() const { return m_head; }

private:
    CheckListEntry* m_head = nullptr;
};

bool TakenInSet(int32_t index, void* context)
{
    const auto* taken = static_cast<const std::vector<int32_t>*>(context);
    return std::find(taken->begin(), taken->end(), index) != taken->end();
}

TEST(CheckListRecords, MergePutsEachEntryIntoTheRecords)
{
    struct Case {
        const char* what;
        std::vector<Row> listed;  // the records read, before the merge
        std::vector<std::pair<const char*, const char*>> entries;  // target path, md5
        // Keys the file holds beyond the records read; none: merged without
        // asking the file.
        std::optional<std::vector<int32_t>> taken;
        std::vector<Row> expected;
    };
    const Case cases[] = {
        {"an empty list takes the entries in their order",
         {},
         {{"a.dat", kDigestA}, {"data\\b.dat", kDigestB}, {"c.dat", kDigestC}},
         std::nullopt,
         {{0, "a.dat", kDigestA, 1}, {1, "data\\b.dat", kDigestB, 1}, {2, "c.dat", kDigestC, 1}}},
        {"a listed file is updated, keeping its key and its name",
         {{0, "Data\\Sample.DAT", kDigestC, 0}, {1, "other.dat", kDigestC, 0}},
         {{"data\\sample.dat", kDigestA}},
         std::nullopt,
         {{0, "Data\\Sample.DAT", kDigestA, 1}, {1, "other.dat", kDigestC, 0}}},
        // "ア" (83 41) and "ツ" (83 61) share the lead byte; their trail bytes
        // are the ASCII letters "A" and "a", which case folding would equate.
        {"two-byte characters match exactly",
         {{0, "\x83\x41.dat", kDigestC, 0}, {1, "\x83\x61.dat", kDigestC, 0}},
         {{"\x83\x61.DAT", kDigestA}},
         std::nullopt,
         {{0, "\x83\x41.dat", kDigestC, 0}, {1, "\x83\x61.dat", kDigestA, 1}}},
        // FILE0001 and FILE0002 read; FILE0004 and FILE0006 lie beyond the gap.
        {"after a gap no unread key is written over",
         {{0, "one.dat", kDigestC, 0}, {1, "two.dat", kDigestC, 0}},
         {{"three.dat", kDigestA}, {"four.dat", kDigestB}, {"five.dat", kDigestC}},
         std::vector<int32_t>{3, 5},
         {{0, "one.dat", kDigestC, 0},
          {1, "two.dat", kDigestC, 0},
          {2, "three.dat", kDigestA, 1},
          {4, "four.dat", kDigestB, 1},
          {6, "five.dat", kDigestC, 1}}},
        {"without a gap a new record takes the number of records before it",
         {{0, "one.dat", kDigestC, 0}},
         {{"two.dat", kDigestA}, {"three.dat", kDigestB}},
         std::vector<int32_t>{},
         {{0, "one.dat", kDigestC, 0}, {1, "two.dat", kDigestA, 1}, {2, "three.dat", kDigestB, 1}}},
        // The second entry of the same name finds the first record again.
        {"of two equal names the first takes the digest",
         {{0, "same.dat", "", 0}, {1, "SAME.dat", kDigestC, 0}},
         {{"same.dat", kDigestA}, {"same.dat", kDigestB}},
         std::nullopt,
         {{0, "same.dat", kDigestB, 1}, {1, "SAME.dat", kDigestC, 0}}},
        // An empty name is what SplitCheckValue leaves of an overlong one.
        {"a name that did not fit never matches",
         {{0, "", kDigestC, 0}},
         {{"new.dat", kDigestA}},
         std::nullopt,
         {{0, "", kDigestC, 0}, {1, "new.dat", kDigestA, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordList list;
        for (const auto& [index, name, md5, changed] : c.listed)
            list.Add(index, name.c_str(), md5.c_str(), changed);
        Entries entries;
        for (const auto& [target, md5] : c.entries)
            entries.Add(target, md5);
        std::optional<std::vector<int32_t>> taken = c.taken;
        EXPECT_TRUE(MergeCheckRecords(list.HeadPointer(), entries.Head(),
                                      taken ? TakenInSet : nullptr, taken ? &*taken : nullptr));
        EXPECT_EQ(c.expected, Rows(list.Head()));
    }
}

TEST(CheckListRecords, MergeStopsAddingAtLastFourDigitKey)
{
    RecordList list;
    for (int32_t i = 0; i < kMaxCheckRecords - 1; ++i)
        list.Add(i, ("f" + std::to_string(i)).c_str(), kDigestC);
    Entries entries;
    entries.Add("last.dat", kDigestA).Add("beyond.dat", kDigestB).Add("f5", kDigestA);
    ASSERT_TRUE(MergeCheckRecords(list.HeadPointer(), entries.Head(), nullptr, nullptr));
    std::vector<Row> rows = Rows(list.Head());
    ASSERT_EQ(static_cast<size_t>(kMaxCheckRecords), rows.size());
    EXPECT_EQ((Row{kMaxCheckRecords - 1, "last.dat", kDigestA, 1}), rows.back());
    // A listed file is still updated when no key is left for new ones.
    EXPECT_EQ((Row{5, "f5", kDigestA, 1}), rows[5]);

    // The last key taken in the file leaves no room at all.
    RecordList crowded;
    crowded.Add(0, "f0", kDigestC);
    std::vector<int32_t> taken;
    for (int32_t i = 1; i < kMaxCheckRecords; ++i)
        taken.push_back(i);
    Entries more;
    more.Add("new.dat", kDigestA);
    ASSERT_TRUE(MergeCheckRecords(crowded.HeadPointer(), more.Head(), TakenInSet, &taken));
    EXPECT_EQ(1u, Rows(crowded.Head()).size());
}

}  // namespace
