#include <gtest/gtest.h>

#include <string>

#include "core/InstalledState.h"

namespace {

TEST(VersionNumber, RemovesPointsAndReadsTheRestAsDecimal)
{
    struct Case {
        const char* text;
        uint32_t expected;
    };
    const Case cases[] = {
        {"1.00", 100u},
        {"1.01", 101u},
        {"1.1", 11u},
        {"1.10", 110u},
        {"1.0.1", 101u},
        {"1..05", 105u},
        {"x1.2", 0u},
        {"", 0u},
        {".", 0u},
        {"  2.50", 250u},
        {"+3.00", 300u},
        {"1.00a", 100u},
        {"-1", 0xFFFFFFFFu},  // negative: larger than any real version
        {"-1.00", static_cast<uint32_t>(-100)},
        {"99999999999", 2147483647u},  // held at the signed limit
        {"1．00", 1u},                 // a full-width point is no point; reading stops at it
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, VersionNumber(c.text)) << "version text \"" << c.text << "\"";
}

struct FolderCase {
    const char* current;
    bool logInCurrent;
    const char* module;
    const char* folder;
    const char* log;
};

TEST(ChooseGameFolder, CurrentDirectoryWithLogElseProgramFolder)
{
    const FolderCase cases[] = {
        {"C:\\Games\\Quill", true, "D:\\Tools\\Fernup.exe", "C:\\Games\\Quill\\",
         "C:\\Games\\Quill\\update.log"},
        // A root already ends in a backslash and gets no second one.
        {"C:\\", true, "D:\\Tools\\Fernup.exe", "C:\\", "C:\\update.log"},
        {"C:\\Games\\Quill", false, "D:\\Tools\\Fernup.exe", "D:\\Tools\\",
         "D:\\Tools\\update.log"},
        // "ソ" ends in the byte 0x5C: the folder does not end in a backslash.
        {"C:\\ソ", true, "D:\\x.exe", "C:\\ソ\\", "C:\\ソ\\update.log"},
        {"C:\\a", false, "D:\\ソ\\表.exe", "D:\\ソ\\", "D:\\ソ\\update.log"},
    };
    for (const FolderCase& c : cases) {
        char folder[kPathSize];
        char log[kPathSize];
        EXPECT_TRUE(ChooseGameFolder(c.current, c.logInCurrent, c.module, folder, log))
            << "current " << c.current << ", module " << c.module;
        EXPECT_STREQ(c.folder, folder) << "current " << c.current << ", module " << c.module;
        EXPECT_STREQ(c.log, log) << "current " << c.current << ", module " << c.module;
    }
}

TEST(ChooseGameFolder, RefusesFoldersThatDoNotFit)
{
    // update.log is 10 bytes: a folder of 1013 bytes with its backslash is the
    // longest whose log path still fits 1023 bytes.
    std::string fits = "C:\\" + std::string(1009, 'a');  // 1012 bytes, a backslash added
    std::string tooLong = fits + "a";
    std::string huge = "C:\\" + std::string(1900, 'b');

    char folder[kPathSize];
    char log[kPathSize];
    EXPECT_TRUE(ChooseGameFolder(fits.c_str(), true, "D:\\x.exe", folder, log));
    EXPECT_EQ(fits + "\\", folder);
    EXPECT_EQ(fits + "\\update.log", log);

    struct Refused {
        std::string current;
        bool logInCurrent;
        std::string module;
    };
    const Refused refused[] = {
        {tooLong, true, "D:\\x.exe"},
        {huge, true, "D:\\x.exe"},
        {"C:\\a", false, tooLong + "\\Fernup.exe"},
        {"C:\\a", false, huge + "\\Fernup.exe"},
        // The program path could not be learned.
        {"C:\\a", false, ""},
        {"C:\\a", false, "Fernup.exe"},
    };
    for (const Refused& r : refused) {
        folder[0] = 'x';
        log[0] = 'x';
        EXPECT_FALSE(
            ChooseGameFolder(r.current.c_str(), r.logInCurrent, r.module.c_str(), folder, log))
            << "current of " << r.current.size() << " bytes, module of " << r.module.size();
        EXPECT_STREQ("", folder);
        EXPECT_STREQ("", log);
    }
}

}  // namespace
