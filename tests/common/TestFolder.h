#pragma once

#include <string>
#include <vector>

#include "tests/common/TestBytes.h"

// A folder of its own for one test under the temporary folder, removed with
// the files the test wrote into it (through Write) when the object goes.
class TestFolder {
public:
    explicit TestFolder(const char* tag);
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // The folder, ending in a backslash.
    const std::string& Path() const { return m_path; }
    // Writes bytes into the folder (a subfolder in name is made first);
    // returns the full path.
    std::string Write(const std::string& name, const std::string& bytes);
    void Remove(const std::string& name);

private:
    std::string m_path;
    std::vector<std::string> m_files;
    std::vector<std::string> m_folders;
};

// The whole file, or "<missing>" when it cannot be read.
std::string ReadFileText(const std::string& path);

