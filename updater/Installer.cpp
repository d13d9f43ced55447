#include "updater/Installer.h"

#include "core/EntryDigest.h"
#include "core/UpdateFileEntry.h"
#include "support/ByteArea.h"
#include "support/PathText.h"
#include "support/TextRoutines.h"

namespace {

// A fresh 512 KiB block for every file cost a mapping and its page faults
// each time: one is made for the first copy and kept.
constexpr uint32_t kCopyBufferSize = 524288;
// How long a replace refused for sharing is tried again: a virus scanner or
// an indexer holds a new file for moments, not for seconds.
constexpr uint32_t kReplaceRetryMs = 2000;
constexpr size_t kPathCapacity = 2048;

int32_t CopyPercent(uint32_t done, uint32_t whole)
{
    return static_cast<int32_t>(85.0 * static_cast<double>(done) / static_cast<double>(whole));
}

// Read-only, hidden and system go before an installed file is replaced: a
// read-only file could not be. Looked at first: reading attributes costs a
// tenth of setting them, and installed files seldom have any of the three.
// The replacement takes on what is left, so an installed file kept as it is
// goes through the same step to end as a replaced one would.
void ClearProtectingAttributes(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) !=
            0)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

// The folder of destination into folder (kPathCapacity bytes); the first
// entry into a folder removes the leftovers a cut-off run left there.
void SettleFolder(const char* destination, bool firstIntoFolder, char* folder)
{
    CopyText(folder, kPathCapacity, destination);
    folder[FolderPartLength(folder)] = '\0';
    if (firstIntoFolder)
        RemoveTemporaryFiles(folder);
}

}  // namespace

CInstaller::CInstaller() : m_copyBuffer(nullptr), m_previous() {}

CInstaller::~CInstaller()
{
    FreeArea(m_copyBuffer);
}

InstallOutcome CInstaller::Install(HANDLE input, uint32_t length, const char* destination,
                                   const UpdateFileEntry& entry, bool checkSigned,
                                   bool firstIntoFolder, int32_t& percent)
{
    m_previous.existed = true;
    m_previous.kept[0] = '\0';
    ClearProtectingAttributes(destination);
    char folder[kPathCapacity];
    SettleFolder(destination, firstIntoFolder, folder);
    const bool inPlace = !TemporaryNameFits(folder);
    char temporary[MAX_PATH];
    HANDLE output = inPlace ? CreateFileA(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr)
                            : CreateTemporaryFile(folder, temporary, sizeof(temporary));
    if (output == INVALID_HANDLE_VALUE)
        return InstallOutcome::kCannotOpen;
    SetFilePointer(input, 0, nullptr, FILE_BEGIN);
    SetFilePointer(output, 0, nullptr, FILE_BEGIN);

    if (m_copyBuffer == nullptr)
        m_copyBuffer = AllocArea(kCopyBufferSize);
    InstallOutcome outcome =
        m_copyBuffer != nullptr ? InstallOutcome::kInstalled : InstallOutcome::kCopyFailed;
    CEntryDigest digest(checkSigned);
    uint32_t copied = 0;
    while (length > 0 && outcome == InstallOutcome::kInstalled) {
        DWORD got = 0;
        DWORD written = 0;
        // A failed or empty read before the end would never reach the length.
        if (!ReadFile(input, m_copyBuffer, kCopyBufferSize, &got, nullptr) || got == 0) {
            outcome = InstallOutcome::kCopyFailed;
            break;
        }
        digest.Update(m_copyBuffer, got);
        WriteFile(output, m_copyBuffer, got, &written, nullptr);
        copied += got;
        if (written != got) {
            outcome = InstallOutcome::kCopyFailed;
            break;
        }
        StoreProgress(percent, CopyPercent(copied, length));
        if (copied >= length)
            break;
    }
    if (outcome == InstallOutcome::kInstalled && !digest.Matches(entry, copied, length))
        outcome = InstallOutcome::kNotTheChecked;
    StoreProgress(percent, 85);
    CloseHandle(output);

    if (inPlace)
        return outcome;
    if (outcome == InstallOutcome::kInstalled &&
        !PutInPlace(temporary, destination, kReplaceRetryMs, &m_previous))
        outcome = InstallOutcome::kCannotOpen;
    if (outcome != InstallOutcome::kInstalled)
        DeleteFileA(temporary);
    return outcome;
}

void CInstaller::Keep(const char* destination, bool firstIntoFolder)
{
    m_previous.existed = true;
    m_previous.kept[0] = '\0';
    ClearProtectingAttributes(destination);
    char folder[kPathCapacity];
    SettleFolder(destination, firstIntoFolder, folder);
}

void CInstaller::Settle(const char* destination, bool passed)
{
    if (passed)
        DropPrevious(m_previous);
    else
        PutBack(m_previous, destination, kReplaceRetryMs);
    m_previous.kept[0] = '\0';
}
