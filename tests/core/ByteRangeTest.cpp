// The Range header of a request for part of a file, and the only
// Content-Range taken as its answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ByteRange.h"

TEST(ByteRange, TheRequestAndTheOneAnswerTakenForIt)
{
    char header[64];
    ASSERT_TRUE(RangeRequestHeader(header, sizeof header, 4096, 8192));
    EXPECT_STREQ("Range: bytes=4096-12287\r\n", header);
    ASSERT_TRUE(RangeRequestHeader(header, sizeof header, 0, 1));
    EXPECT_STREQ("Range: bytes=0-0\r\n", header);
    ASSERT_TRUE(RangeRequestHeader(header, sizeof header, 0xFFFFFFFFu, 1));
    EXPECT_STREQ("Range: bytes=4294967295-4294967295\r\n", header);
    EXPECT_FALSE(RangeRequestHeader(header, sizeof header, 5, 0));
    EXPECT_FALSE(RangeRequestHeader(header, 20, 4096, 8192));

    struct Answer {
        const char* value;
        bool taken;
    };
    // For bytes 4096-12287 of a file of 1048576.
    const std::vector<Answer> answers = {
        {"bytes 4096-12287/1048576", true},
        {"bytes 4096-12287/*", false},
        {"bytes 4096-12286/1048576", false},
        {"bytes 4095-12287/1048576", false},
        {"bytes 4096-12287/1048577", false},
        {"bytes 04096-12287/1048576", false},
        {"bytes  4096-12287/1048576", false},
        {"bytes 4096-12287/1048576 ", false},
        {"bytes=4096-12287/1048576", false},
        {"Bytes 4096-12287/1048576", false},
        {"bytes 4096 - 12287/1048576", false},
        {"bytes +4096-12287/1048576", false},
        {"bytes 4096-12287/99999999999", false},
        {"bytes 4096-12287", false},
        {"", false},
    };
    for (const Answer& a : answers)
        EXPECT_EQ(a.taken, ContentRangeAnswers(a.value, 4096, 8192, 1048576)) << a.value;
    EXPECT_TRUE(ContentRangeAnswers("bytes 0-0/1", 0, 1, 1));
    EXPECT_FALSE(ContentRangeAnswers("bytes 0-0/1", 0, 0, 1));
}
