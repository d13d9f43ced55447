#include "updater/CInitUpdateTask.h"

#include <utility>

#include "core/CompanionAddress.h"
#include "core/DefinitionPackage.h"
#include "core/MessageLines.h"
#include "core/ReleaseAgreement.h"
#include "core/SignedPackage.h"
#include "framework/CWinListBox.h"
#include "framework/FinishedFlag.h"
#include "support/ByteArea.h"
#include "support/TextRoutines.h"
#include "updater/FineTimer.h"
#include "updater/HttpFetch.h"
#include "updater/TestSeams.h"

namespace {

// Failure codes of the fetch.
constexpr int32_t kFailNoInternet = 1;
constexpr int32_t kFailNotFetched = 2;
constexpr int32_t kFailBrokenOff = 3;

// Room for a definition address of 255 characters with its tail replaced.
constexpr size_t kAddressCapacity = 272;

}  // namespace

uint32_t g_disagreementWaitMs = kDisagreementWaitMs;

CInitUpdateTask::CInitUpdateTask(const char* definitionAddress, CWinListBox* messageList,
                                 bool fetchSignature)
    : m_messageList(messageList), m_fetchSignature(fetchSignature), m_failureCode(0), m_finished(0)
{
    CopyText(m_definitionAddress, sizeof(m_definitionAddress), definitionAddress);
}

// Only what the dialog has not taken over goes with the package's areas.
CInitUpdateTask::~CInitUpdateTask() {}

void CInitUpdateTask::TakePackage(FetchedPackage* package)
{
    *package = std::move(m_package);
}

void CInitUpdateTask::AppendMessage(const char* line)
{
    if (m_messageList != nullptr)
        m_messageList->AppendLine(line);
}

int32_t CInitUpdateTask::FetchInto(void* session, const TimeBudget& budget, const char* address,
                                   uint32_t capacity, CByteArea* area)
{
    char* bytes = nullptr;
    uint32_t length = 0;
    FetchOutcome outcome = FetchToMemory(this, session, address, capacity,
                                         budget.LeftMs(GetTickCount()), &bytes, &length);
    *area = CByteArea(bytes, length);
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

int32_t CInitUpdateTask::FetchSet(void* session, FetchedPackage* package, CByteArea* digest)
{
    const TimeBudget budget = {GetTickCount(), TimeoutsMs(kDefinitionTimeouts, g_httpTimeoutMs)};
    char address[kAddressCapacity];
    if (FetchInto(session, budget, m_definitionAddress, kDefinitionAreaSize,
                  &package->definition) == 0) {
        CompanionAddress(address, sizeof(address), m_definitionAddress, kDigestFileName);
        FetchInto(session, budget, address, kDigestAreaSize, digest);
    }
    if (m_failureCode == 0) {
        CompanionAddress(address, sizeof(address), m_definitionAddress, kReadmeFileName);
        FetchInto(session, budget, address, kReadmeAreaSize, &package->readme);
    }
    if (m_failureCode == 0 && m_fetchSignature) {
        CompanionAddress(address, sizeof(address), m_definitionAddress, kSignatureFileName);
        FetchInto(session, budget, address, kSignatureTextCapacity, &package->signature);
    }
    return m_failureCode;
}

bool CInitUpdateTask::OfOneRelease(const FetchedPackage& package, const CByteArea& digest) const
{
    const PackageTexts texts = {
        package.definition.Bytes(),
        package.definition.Length(),
        digest.Bytes(),
        digest.Length(),
        package.readme.Bytes(),
        package.readme.Length(),
        // A fetched update.sig that came empty is still one to compare.
        m_fetchSignature ? (package.signature.Bytes() ? package.signature.Bytes() : "") : nullptr,
        package.signature.Length(),
    };
    return TextsOfOneRelease(texts);
}

int32_t CInitUpdateTask::Run()
{
    if (IsRaised(m_finished))
        return 0;
    // Until the finished flag: the pauses between reads are as short as meant.
    CFineTimer fineTimer;

    // The digest text is only looked at; the others go to the dialog.
    FetchedPackage package;
    CByteArea digest;
    if (!CheckInternet()) {
        AppendMessage(kLineNoInternet);
        m_failureCode = kFailNoInternet;
    } else {
        AppendMessage(kLineFetchingDefinition);
        CInternetHandle session(OpenSession("Fernup"));
        if (!session.IsValid()) {
            AppendMessage(kLineDefinitionNotFetched);
            m_failureCode = kFailNotFetched;
        } else if (FetchSet(session.Get(), &package, &digest) == 0 &&
                   !OfOneRelease(package, digest)) {
            // Files of two releases, as a cache hands them out for a moment
            // after an upload: once more, when every copy a cache still holds
            // was taken after it (core/ReleaseAgreement.h). Each attempt has
            // the package's time of its own.
            SleepIfRunning(g_disagreementWaitMs);
            FetchSet(session.Get(), &package, &digest);
        }
        if (m_failureCode == 0 &&
            !DigestTextAccepts(package.definition.Bytes(), package.definition.Length(),
                               digest.Bytes(), digest.Length())) {
            AppendMessage(kLineDefinitionNotFetched);
            m_failureCode = kFailNotFetched;
        }
    }
    // A failed fetch hands over nothing.
    if (m_failureCode == 0)
        m_package = std::move(package);

    fineTimer.Release();
    RaiseFinished(m_finished);
    return 0;
}
