#include <gtest/gtest.h>

#include <cstring>

// Every text of the program is Shift-JIS in the binary. "ソ" and "表" carry the
// trail byte 0x5C, the one a UTF-8 or byte-wise tool would most likely break.
TEST(ShiftJisLiteral, JapaneseTextsAreShiftJisBytes)
{
    const unsigned char expected[] = {0x83, 0x5C, 0x95, 0x5C, 0x00};
    EXPECT_EQ(0, std::memcmp("ソ表", expected, sizeof expected));

    // "アップデート実行中", a line of the message list.
    const unsigned char running[] = {0x83, 0x41, 0x83, 0x62, 0x83, 0x76, 0x83, 0x66, 0x81, 0x5B,
                                     0x83, 0x67, 0x8E, 0xC0, 0x8D, 0x73, 0x92, 0x86, 0x00};
    ASSERT_EQ(sizeof running, sizeof "アップデート実行中");
    EXPECT_EQ(0, std::memcmp("アップデート実行中", running, sizeof running));
}
