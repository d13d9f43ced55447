#include "tools/pack/StagingFolder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tools/pack/PackagePaths.h"

namespace fs = std::filesystem;

namespace {

unsigned long ProcessId()
{
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

bool IsEmptyFolder(const fs::path& path)
{
    std::error_code code;
    return fs::is_directory(path, code) && fs::is_empty(path, code) && !code;
}

}  // namespace

fs::path OwnNameBeside(const fs::path& path, const char* word)
{
    return path.parent_path() / PathOfUtf8("." + Utf8OfPath(path.filename()) + "." + word + "-" +
                                           std::to_string(ProcessId()));
}

CStagingFolder::~CStagingFolder()
{
    if (m_pending) {
        std::error_code code;
        fs::remove_all(m_temporary, code);
    }
}

bool CStagingFolder::Begin(const fs::path& finalPath, std::string* error)
{
    std::error_code code;
    m_final = WholePath(finalPath);
    if (m_final.filename().empty()) {
        *error = "cannot use " + Utf8OfPath(finalPath) + " as the output folder";
        return false;
    }
    if (fs::exists(fs::symlink_status(m_final, code)) && !IsEmptyFolder(m_final)) {
        *error = Utf8OfPath(finalPath) + " already exists; name a new folder";
        return false;
    }
    fs::path parent = m_final.parent_path();
    if (!fs::is_directory(parent, code)) {
        *error = "the folder " + Utf8OfPath(parent) + " does not exist";
        return false;
    }
    m_temporary = OwnNameBeside(m_final, "partial");
    fs::remove_all(m_temporary, code);
    if (!fs::create_directory(m_temporary, code) || code) {
        *error = "cannot create " + Utf8OfPath(m_temporary) + ": " + code.message();
        return false;
    }
    m_pending = true;
    return true;
}

bool CStagingFolder::Commit(std::string* error)
{
    std::error_code code;
    // An empty folder that the user made for the package gives way to it.
    if (IsEmptyFolder(m_final))
        fs::remove(m_final, code);
    fs::rename(m_temporary, m_final, code);
    if (code) {
        *error = "cannot rename " + Utf8OfPath(m_temporary) + " to " + Utf8OfPath(m_final) + ": " +
                 code.message();
        return false;
    }
    m_pending = false;
    return true;
}
