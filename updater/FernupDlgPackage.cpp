// The main dialog's taking of a definition package, fetched or opened from
// its folder: the signature in a build with keys, the verdict on the
// definition, its files. Everything here runs on the dialog's thread.
#include "updater/CFernupDlg.h"

#include <cstring>
#include <utility>

#include "core/DefinitionCheck.h"
#include "core/MessageLines.h"
#include "support/PlatformCrypto.h"
#include "support/ProfileText.h"
#include "support/TextRoutines.h"

void CFernupDlg::AcceptPackage(CByteArea definition, CByteArea readme, CByteArea signature,
                               bool offline)
{
    m_readme = std::move(readme);
    SignedFacts* facts = nullptr;
    if (m_keyCount != 0 && (facts = CheckSignature(definition, signature)) == nullptr) {
        // Offline the lines of whatever was shown before go; online the
        // fetch's own lines stay above the refusal.
        if (offline)
            m_messageList.ClearLines();
        RefuseSignature();
        return;
    }
    const uint32_t length = definition.Length();
    const bool offer = CheckDefinition(definition.Release(), length);
    if (facts != nullptr)
        BindSignedHashes(*facts);
    FreeArea(facts);
    // Online, a definition that offers nothing is shown as no definition at
    // all: its readme is not offered either.
    ShowState(offer     ? DialogState::kReady
              : offline ? DialogState::kNothingToOffer
                        : DialogState::kFetchFailed);
}

bool CFernupDlg::CheckDefinition(char* text, uint32_t length)
{
    m_messageList.ClearLines();
    InstalledFacts installed = {m_installed.title, m_installed.version, m_installed.day,
                                m_installed.versionNumber, false};
    // Of the bytes as they came, before the reader takes them over.
    m_update.definitionSha256[0] = '\0';
    unsigned char sha256[kSha256Size];
    if (m_keyCount != 0 && text != nullptr && Sha256Of(text, length, sha256)) {
        WriteHex(sha256, kSha256Size, m_update.definitionSha256);
        installed.otherDefinition = IsOtherDefinition(m_installed.definitionSha256, sha256);
    }
    ProfileText::LoadText(text, length);

    DefinitionVerdict verdict;
    JudgeLoadedDefinition(installed, &verdict);
    for (int32_t line = 0; line < verdict.lineCount; ++line)
        m_messageList.AppendLine(verdict.lines[line]);

    bool offer = verdict.offerUpdate;
    if (verdict.listFiles) {
        CopyText(m_update.newDay, sizeof m_update.newDay, verdict.newDay);
        CopyText(m_update.newVersion, sizeof m_update.newVersion, verdict.newVersion);
        // An update of part of the list would be recorded as complete.
        if (!ReadFileEntries())
            offer = false;
        FillFileList();
    }
    ProfileText::ReleaseText();
    return offer;
}

bool CFernupDlg::ReadFileEntries()
{
    bool complete = false;
    UpdateFileEntry* chain = ReadLoadedFileList(&complete);
    if (!complete) {
        FreeEntryChain(chain);
        return false;
    }
    UpdateFileEntry** tail = &m_entries;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = chain;
    return true;
}

SignedFacts* CFernupDlg::CheckSignature(const CByteArea& definition, const CByteArea& signature)
{
    SignedFacts* facts = AllocSignedFacts();
    if (facts == nullptr || m_keyCount <= 0 ||
        CheckSignedPackage(signature.Bytes(), signature.Length(), definition.Bytes(),
                           definition.Length(), m_readme.Bytes(), m_readme.Length(), m_signingKeys,
                           static_cast<uint32_t>(m_keyCount), UtcToday(),
                           facts) != kSignatureGood) {
        FreeArea(facts);
        return nullptr;
    }
    return facts;
}

void CFernupDlg::BindSignedHashes(const SignedFacts& facts)
{
    int32_t index = 0;
    for (UpdateFileEntry* entry = m_entries; entry != nullptr; entry = entry->next, ++index) {
        const unsigned char* hash = SignedFileHash(facts, index);
        entry->sha256Bound = hash != nullptr ? 1 : 0;
        if (hash != nullptr)
            std::memcpy(entry->sha256, hash, sizeof entry->sha256);
    }
}

void CFernupDlg::RefuseSignature()
{
    m_readme = CByteArea();
    m_messageList.AppendLine(kLineSignatureRefused);
    ShowState(DialogState::kFetchFailed);
}
