#include "updater/CInitUpdateTask.h"

#include "core/CompanionAddress.h"
#include "core/DefinitionPackage.h"
#include "core/MessageLines.h"
#include "core/SignedPackage.h"
#include "framework/CWinListBox.h"
#include "framework/FinishedFlag.h"
#include "support/ByteArea.h"
#include "support/TextRoutines.h"
#include "updater/FineTimer.h"
#include "updater/HttpFetch.h"

namespace {

// Failure codes of the fetch.
constexpr int32_t kFailNoInternet = 1;
constexpr int32_t kFailNotFetched = 2;
constexpr int32_t kFailBrokenOff = 3;

// Room for a definition address of 255 characters with its tail replaced.
constexpr size_t kAddressCapacity = 272;

}  // namespace

CInitUpdateTask::CInitUpdateTask(const char* definitionAddress)
    : m_failureCode(0),
      m_finished(0),
      m_definitionText(nullptr),
      m_definitionLength(0),
      m_readmeText(nullptr),
      m_readmeLength(0),
      m_fetchSignature(0),
      m_signatureText(nullptr),
      m_signatureLength(0),
      m_messageList(nullptr)
{
    CopyText(m_definitionAddress, sizeof(m_definitionAddress), definitionAddress);
}

CInitUpdateTask::~CInitUpdateTask()
{
    // Only what the dialog has not taken over.
    FreeArea(m_definitionText);
    FreeArea(m_readmeText);
    FreeArea(m_signatureText);
}

void CInitUpdateTask::TakePackage(FetchedPackage* package)
{
    package->definitionText = m_definitionText;
    package->definitionLength = m_definitionLength;
    package->readmeText = m_readmeText;
    package->readmeLength = m_readmeLength;
    package->signatureText = m_signatureText;
    package->signatureLength = m_signatureLength;
    m_definitionText = nullptr;
    m_definitionLength = 0;
    m_readmeText = nullptr;
    m_readmeLength = 0;
    m_signatureText = nullptr;
    m_signatureLength = 0;
}

void CInitUpdateTask::AppendMessage(const char* line)
{
    if (m_messageList != nullptr)
        m_messageList->AppendLine(line);
}

int32_t CInitUpdateTask::FetchInto(void* session, const TimeBudget& budget, const char* address,
                                   uint32_t capacity, char** area, uint32_t* length)
{
    FetchOutcome outcome = FetchToMemory(this, session, address, capacity,
                                         budget.LeftMs(GetTickCount()), area, length);
    // Out of the package's time the fetch was cut short, as by a stall, even
    // when it was still opening an address the server may well have.
    if (outcome == FetchCannotOpen && budget.LeftMs(GetTickCount()) == 0)
        outcome = FetchBrokenOff;
    if (outcome == FetchCannotOpen) {
        AppendMessage(kLineDefinitionNotFetched);
        m_failureCode = kFailNotFetched;
    } else if (outcome == FetchBrokenOff) {
        AppendMessage(kLineDefinitionBrokenOff);
        m_failureCode = kFailBrokenOff;
    }
    return m_failureCode;
}

int32_t CInitUpdateTask::Run()
{
    if (IsRaised(m_finished))
        return 0;
    // Until the finished flag: the pauses between reads are as short as meant.
    CFineTimer fineTimer;

    // Areas of this run; the definition and the readme go to the members at
    // the end, the digest text is always freed here.
    char* definition = nullptr;
    uint32_t definitionLength = 0;
    char* digest = nullptr;
    uint32_t digestLength = 0;
    char* readme = nullptr;
    uint32_t readmeLength = 0;
    char* signature = nullptr;
    uint32_t signatureLength = 0;

    if (!CheckInternet()) {
        AppendMessage(kLineNoInternet);
        m_failureCode = kFailNoInternet;
    } else {
        AppendMessage(kLineFetchingDefinition);
        HINTERNET session = OpenSession("Fernup");
        if (session == nullptr) {
            AppendMessage(kLineDefinitionNotFetched);
            m_failureCode = kFailNotFetched;
        } else {
            const TimeBudget budget = {GetTickCount(),
                                       TimeoutsMs(kDefinitionTimeouts, g_httpTimeoutMs)};
            char address[kAddressCapacity];
            if (FetchInto(session, budget, m_definitionAddress, kDefinitionAreaSize, &definition,
                          &definitionLength) == 0) {
                CompanionAddress(address, sizeof(address), m_definitionAddress, "MD5.txt");
                FetchInto(session, budget, address, kDigestAreaSize, &digest, &digestLength);
            }
            if (m_failureCode == 0) {
                CompanionAddress(address, sizeof(address), m_definitionAddress, "readme.txt");
                FetchInto(session, budget, address, kReadmeAreaSize, &readme, &readmeLength);
            }
            if (m_failureCode == 0 && m_fetchSignature == 1) {
                CompanionAddress(address, sizeof(address), m_definitionAddress, "update.sig");
                FetchInto(session, budget, address, kSignatureTextCapacity, &signature,
                          &signatureLength);
            }
            InternetCloseHandle(session);
        }

        if (m_failureCode == 0) {
            if (!DigestTextAccepts(definition, definitionLength, digest, digestLength)) {
                AppendMessage(kLineDefinitionNotFetched);
                m_failureCode = kFailNotFetched;
            }
        }
    }

    if (m_failureCode != 0) {
        FreeArea(definition);
        FreeArea(readme);
        FreeArea(signature);
        definition = nullptr;
        readme = nullptr;
        signature = nullptr;
        definitionLength = 0;
        readmeLength = 0;
        signatureLength = 0;
    }
    m_definitionText = definition;
    m_definitionLength = definitionLength;
    m_readmeText = readme;
    m_readmeLength = readmeLength;
    m_signatureText = signature;
    m_signatureLength = signatureLength;
    FreeArea(digest);

    fineTimer.Release();
    RaiseFinished(m_finished);
    return 0;
}
