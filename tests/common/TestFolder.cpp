#include "tests/updater/TestFolder.h"

#include <windows.h>

#include "support/CMd5.h"

namespace {

unsigned g_folderCount = 0;

}  // namespace

TestFolder::TestFolder(const char* tag)
{
    char temp[MAX_PATH + 1];
    GetTempPathA(sizeof temp, temp);
    m_path = temp;
    if (m_path.empty() || m_path.back() != '\\')
        m_path += '\\';
    m_path += "fernup-" + std::string(tag) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++g_folderCount) + "\\";
    CreateDirectoryA(m_path.c_str(), nullptr);
}

TestFolder::~TestFolder()
{
    for (const std::string& file : m_files)
        DeleteFileA(file.c_str());
    for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder)
        RemoveDirectoryA(folder->c_str());
    RemoveDirectoryA(m_path.c_str());
}

std::string TestFolder::Write(const std::string& name, const std::string& bytes)
{
    std::string::size_type slash = name.rfind('\\');
    if (slash != std::string::npos) {
        std::string folder = m_path + name.substr(0, slash);
        if (CreateDirectoryA(folder.c_str(), nullptr))
            m_folders.push_back(folder);
    }
    std::string path = m_path + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    m_files.push_back(path);
    return path;
}

void TestFolder::Remove(const std::string& name)
{
    DeleteFileA((m_path + name).c_str());
}

std::string ReadFileText(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

