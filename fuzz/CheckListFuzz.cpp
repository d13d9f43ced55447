// The check list's record work on arbitrary values and file entries: values
// split into a name and a digest that fit their records, and a merge gives
// every file of the update exactly one record with its digest, keeps every
// other line as it was and never writes two records under one key.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/CheckListRecords.h"
#include "core/UpdateFileEntry.h"
#include "fuzz/FuzzCheck.h"
#include "support/FormatText.h"

namespace {

// Fields up to a stop byte outside two-byte characters.
size_t PlainFind(const std::string& text, char stop)
{
    size_t i = 0;
    while (i < text.size() && text[i] != stop)
        i += IsSjisLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
    return i;
}

void CheckSplit(const std::string& value, std::string* name, std::string* md5)
{
    std::vector<char> nameOut(64, '\x5A'), md5Out(64, '\x5A');
    SplitCheckValue(value.c_str(), nameOut.data(), md5Out.data());
    *name = TextIn(nameOut.data(), 64, "name");
    *md5 = TextIn(md5Out.data(), 64, "MD5");

    const size_t colon = PlainFind(value, ':');
    const std::string plainName = value.substr(0, colon);
    const std::string after = colon < value.size() ? value.substr(colon + 1) : "";
    FUZZ_EXPECT_EQ(plainName.size() < 64 ? plainName : std::string(), *name, "name of a value");
    FUZZ_EXPECT_EQ(after.size() == 32 ? after : std::string(), *md5, "MD5 of a value");
}

struct Before {
    int32_t index;
    std::string name, md5;
};

// The keys of the file beyond a gap, one flag per key.
struct Context {
    std::vector<bool> taken = std::vector<bool>(kMaxCheckRecords, false);
};

bool KeyTaken(int32_t index, void* context)
{
    return static_cast<Context*>(context)->taken.at(static_cast<size_t>(index));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    Context context;
    CheckListEntry* head = nullptr;
    std::vector<Before> before;

    // The records as ReadCheckList makes them: consecutive keys from FILE0001.
    const size_t records = input.ConsumeIntegralInRange<size_t>(0, 24);
    for (size_t i = 0; i < records && input.remaining_bytes() > 0; ++i) {
        std::string value = input.ConsumeRandomLengthString(254);
        value = value.substr(0, value.find('\0'));
        std::string name, md5;
        CheckSplit(value, &name, &md5);
        FUZZ_EXPECT(AppendCheckRecord(&head, static_cast<int32_t>(i), name.c_str(), md5.c_str(),
                                      0) != nullptr,
                    "record appended", "no memory");
        before.push_back({static_cast<int32_t>(i), name, md5});
    }
    const size_t gaps = input.ConsumeIntegralInRange<size_t>(0, 8);
    for (size_t i = 0; i < gaps; ++i)
        context.taken[input.ConsumeIntegralInRange<size_t>(0, 40)] = true;
    // Now and then the key space is nearly used up.
    if (input.ConsumeBool() && input.ConsumeBool())
        for (size_t i = records; i < kMaxCheckRecords - 2; ++i)
            context.taken[i] = true;

    // The update's entries, with target paths and digests of at most 63 bytes.
    std::vector<UpdateFileEntry> entries(input.ConsumeIntegralInRange<size_t>(0, 16));
    for (size_t i = 0; i < entries.size(); ++i) {
        UpdateFileEntry& entry = entries[i];
        std::memset(&entry, 0, sizeof entry);
        std::string target = input.ConsumeRandomLengthString(63);
        // Often the name of a record, in another letter case.
        if (!before.empty() && input.ConsumeBool()) {
            target = before[input.ConsumeIntegralInRange<size_t>(0, before.size() - 1)].name;
            for (char& c : target)
                if (c >= 'a' && c <= 'z' && input.ConsumeBool())
                    c = static_cast<char>(c - 32);
        }
        std::string md5 = input.ConsumeRandomLengthString(63);
        std::memcpy(entry.targetPath, target.data(), target.size());
        std::memcpy(entry.md5, md5.data(), md5.size());
        entry.next = i + 1 < entries.size() ? &entries[i + 1] : nullptr;
    }

    const bool merged =
        MergeCheckRecords(&head, entries.empty() ? nullptr : &entries[0], KeyTaken, &context);
    FUZZ_EXPECT(merged, "merge had memory", "it ran out");

    std::vector<const CheckListEntry*> after;
    std::set<int32_t> indices;
    for (const CheckListEntry* record = head; record != nullptr; record = record->next) {
        after.push_back(record);
        FUZZ_EXPECT(record->index >= 0 && record->index < kMaxCheckRecords, "key within FILE9999",
                    Shown(record->index));
        FUZZ_EXPECT(indices.insert(record->index).second, "one record per key",
                    Shown(record->index));
        TextIn(record->name, 64, "record name");
        TextIn(record->md5, 64, "record MD5");
    }
    FUZZ_EXPECT(after.size() >= before.size(), "no record lost", Shown(after.size()));

    // Records read from the file keep their key and name; they change only
    // when the update lists their file.
    for (size_t i = 0; i < before.size(); ++i) {
        FUZZ_EXPECT_EQ(before[i].index, after[i]->index, "key of a record read");
        FUZZ_EXPECT_EQ(before[i].name, std::string(after[i]->name), "name of a record read");
        const UpdateFileEntry* last = nullptr;
        for (const UpdateFileEntry& entry : entries)
            if (!before[i].name.empty() && PlainSameText(before[i].name, entry.targetPath))
                last = &entry;
        // Only the first record of a name takes the digest.
        bool first = true;
        for (size_t j = 0; j < i; ++j)
            if (!before[j].name.empty() && PlainSameText(before[j].name, before[i].name))
                first = false;
        if (last != nullptr && first) {
            FUZZ_EXPECT_EQ(1, after[i]->changed, "a listed file's record is written");
            FUZZ_EXPECT_EQ(std::string(last->md5), std::string(after[i]->md5),
                           "the digest of the last entry of the file");
        } else {
            FUZZ_EXPECT_EQ(0, after[i]->changed, "an unlisted record stays as it was");
            FUZZ_EXPECT_EQ(before[i].md5, std::string(after[i]->md5), "its digest too");
        }
    }

    // Each file that no record named gets one new record, under a key the
    // file does not use, unless the four-digit keys have run out.
    std::vector<std::string> added;
    for (const UpdateFileEntry& entry : entries) {
        bool known = false;
        for (const Before& record : before)
            known = known || (!record.name.empty() && PlainSameText(record.name, entry.targetPath));
        for (const std::string& name : added)
            known = known || (!name.empty() && PlainSameText(name, entry.targetPath));
        if (!known)
            added.push_back(entry.targetPath);
    }
    FUZZ_EXPECT(after.size() - before.size() <= added.size(), "one new record per new file",
                Shown(after.size() - before.size()));
    for (size_t i = before.size(); i < after.size(); ++i) {
        FUZZ_EXPECT(!context.taken[after[i]->index], "a new key is free in the file",
                    Shown(after[i]->index));
        FUZZ_EXPECT_EQ(1, after[i]->changed, "a new record is written");
        FUZZ_EXPECT_EQ(added[i - before.size()], std::string(after[i]->name), "new record's name");
        const UpdateFileEntry* last = nullptr;
        for (const UpdateFileEntry& entry : entries)
            if (std::string(entry.targetPath) == added[i - before.size()] ||
                (!added[i - before.size()].empty() &&
                 PlainSameText(added[i - before.size()], entry.targetPath)))
                last = &entry;
        // An empty name matches nothing, so each such entry has its own record.
        if (!added[i - before.size()].empty())
            FUZZ_EXPECT_EQ(std::string(last->md5), std::string(after[i]->md5),
                           "new record's digest: the last entry of the file");
        char key[16], value[kCheckValueCapacity + 1];
        std::memset(value, 0x5A, sizeof value);
        FormatCheckKey(key, after[i]->index);
        FormatCheckValue(value, after[i]);
        char expectedKey[16];
        std::snprintf(expectedKey, sizeof expectedKey, "FILE%04d", after[i]->index + 1);
        FUZZ_EXPECT_EQ(std::string(expectedKey), std::string(key), "key text");
        const std::string whole = std::string(after[i]->name) + ":" + after[i]->md5;
        FUZZ_EXPECT_EQ(whole.substr(0, kCheckValueCapacity - 1),
                       TextIn(value, kCheckValueCapacity, "value text"), "value text");
    }
    if (after.size() - before.size() < added.size()) {
        size_t free = 0;
        for (int32_t i = 0; i < kMaxCheckRecords; ++i)
            free += (indices.count(i) == 0 && !context.taken[i]) ? 1 : 0;
        FUZZ_EXPECT_EQ(static_cast<size_t>(0), free, "files left out only when no key is free");
    }
    FreeCheckRecords(head);
    return 0;
}
