#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/TaskTestSupport.h"
#include "updater/CheckList.h"

namespace {

const std::string kDigestA = "0123456789abcdef0123456789abcdef";
const std::string kDigestB = "fedcba9876543210fedcba9876543210";

struct Row {
    int32_t index;
    std::string name;
    std::string md5;
    bool operator==(const Row& other) const
    {
        return index == other.index && name == other.name && md5 == other.md5;
    }
};

std::ostream& operator<<(std::ostream& out, const Row& row)
{
    return out << "{" << row.index << ", " << row.name << ", " << row.md5 << "}";
}

class CheckListFileTest : public ::testing::Test {
protected:
    ~CheckListFileTest() override { FreeCheckRecords(m_records); }

    std::vector<Row> Read(const std::string& text)
    {
        EXPECT_TRUE(WriteBytes(m_game / "orvaCheck.cfg", text));
        ReadCheckListFile(m_game.Path().c_str(), &m_records);
        std::vector<Row> rows;
        for (const CheckListEntry* r = m_records; r != nullptr; r = r->next) {
            EXPECT_EQ(0, r->changed);
            rows.push_back({r->index, r->name, r->md5});
        }
        return rows;
    }

    // Merges the entries and writes back; returns the file's text.
    std::string MergeAndWrite(const EntryChain& entries)
    {
        EXPECT_TRUE(MergeCheckListFile(m_game.Path().c_str(), &m_records, entries.Head()));
        WriteCheckListFile(m_game.Path().c_str(), m_records);
        std::string text;
        ReadBytes(m_game / "orvaCheck.cfg", &text);
        return text;
    }

    ScratchFolder m_game{"checklist"};
    CheckListEntry* m_records = nullptr;
};

TEST_F(CheckListFileTest, MissingFileReadsEmptyAndWriteCreatesIt)
{
    ReadCheckListFile(m_game.Path().c_str(), &m_records);
    EXPECT_EQ(nullptr, m_records);
    EntryChain entries;
    entries.Add("", "a.dat", 1, kDigestA);
    entries.Add("", "data\\b.dat", 1, kDigestB);
    entries.Add("", "c.dat", 1, "");
    EXPECT_EQ("[FILE_CHECK_LIST]\r\nFILE0001=a.dat:" + kDigestA +
                  "\r\nFILE0002=data\\b.dat:" + kDigestB + "\r\nFILE0003=c.dat:\r\n",
              MergeAndWrite(entries));
}

TEST_F(CheckListFileTest, ReadsUpToFirstMissingOrEmptyKey)
{
    const std::string name300(300, 'n');
    const std::vector<Row> expected = {
        {0, "a.dat", kDigestA},
        {1, "nothing.dat", ""},
        {2, "short.dat", ""},
        {3, "plain.dat", ""},
        {4, "\x83\x5C.dat", kDigestB},  // "ソ": its trail byte is "\"
        {5, "", ""},                    // a value cut at 254 characters, name too long
    };
    EXPECT_EQ(expected,
              Read("[OTHER]\r\nFILE0001=other\r\n[file_check_list]\r\nfile0001=a.dat:" + kDigestA +
                   "\r\nFILE0002=nothing.dat:\r\nFILE0003=short.dat:0123\r\nFILE0004=plain.dat\r\n"
                   "FILE0005=\x83\x5C.dat:" +
                   kDigestB + "\r\nFILE0006=" + name300 +
                   "\r\n"
                   "FILE0007=\r\nFILE0008=after.dat:" +
                   kDigestA + "\r\n"));
}

TEST_F(CheckListFileTest, MergeRewritesOnlyChangedLines)
{
    const std::string overlong = std::string(70, 'p') + ":" + kDigestA;
    const std::string text =
        "; kept comment\r\n[FILE_CHECK_LIST]\r\nFILE0001=Data\\X.DAT:\r\n"
        "FILE0002=" +
        overlong + "\r\nFILE0003=keep.dat:" + kDigestA + "\r\nFILE0005=beyond.dat:" + kDigestA +
        "\r\n[AFTER]\r\nK=v\r\n";
    Read(text);
    EntryChain entries;
    entries.Add("", "data\\x.dat", 1, kDigestB);
    entries.Add("", "new1.dat", 1, kDigestB);
    entries.Add("", "new2.dat", 1, kDigestB);
    // FILE0004 is free; FILE0005 lies beyond the gap and keeps its line.
    EXPECT_EQ("; kept comment\r\n[FILE_CHECK_LIST]\r\nFILE0001=Data\\X.DAT:" + kDigestB +
                  "\r\nFILE0002=" + overlong + "\r\nFILE0003=keep.dat:" + kDigestA +
                  "\r\nFILE0005=beyond.dat:" + kDigestA + "\r\nFILE0004=new1.dat:" + kDigestB +
                  "\r\nFILE0006=new2.dat:" + kDigestB + "\r\n[AFTER]\r\nK=v\r\n",
              MergeAndWrite(entries));
}

}  // namespace
