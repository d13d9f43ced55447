#include <gtest/gtest.h>

#include <string>

#include "support/TemporaryName.h"

namespace {

std::string Formed(uint32_t number)
{
    char name[kTemporaryNameLength + 1];
    FormTemporaryName(name, sizeof name, number);
    return name;
}

TEST(TemporaryName, FormsFourUpperCaseDigitsOfTheNumber)
{
    EXPECT_EQ("~fup0000.tmp", Formed(0));
    EXPECT_EQ("~fup1A2B.tmp", Formed(0x1A2B));
    EXPECT_EQ("~fupFFFF.tmp", Formed(0xFFFF));
    EXPECT_EQ("~fup0001.tmp", Formed(0x30001)) << "only the low 16 bits count";
    for (uint32_t number : {0u, 9u, 0xA0u, 0xBEEFu, 0x12345u})
        EXPECT_TRUE(IsTemporaryName(Formed(number).c_str())) << Formed(number);
}

// Leftovers are deleted by this rule: every near miss is someone else's.
TEST(TemporaryName, AcceptsOnlyTheExactForm)
{
    const char* const others[] = {
        "",
        "~fup.tmp",
        "~fup1A2.tmp",
        "~fup1A2B3.tmp",
        "~fup1a2b.tmp",
        "~fup1A2G.tmp",
        "~FUP1A2B.tmp",
        "~fup1A2B.TMP",
        "~fup1A2B.tm",
        "~fup1A2B.tmpx",
        "fup1A2B.tmp",
        "~fup1A2B.tmp ",
        " ~fup1A2B.tmp",
        "x~fup1A2B.tmp",
        "~fup1A2B_tmp",
        "~fup1A 2.tmp",
        "~fu1A2B.tmp",
        "~fup1A2B.tmp.",
        "rf40A3.tmp",
        "~fup1A2B",
    };
    for (const char* name : others)
        EXPECT_FALSE(IsTemporaryName(name)) << "\"" << name << "\"";
}

}  // namespace
