#pragma once

#include <cstdint>

#include "framework/CWinThreadMaster.h"
#include "framework/FinishedFlag.h"
#include "support/ByteArea.h"

class CWinListBox;
struct TimeBudget;

// The texts a finished fetch hands over, each empty when it was not fetched.
struct FetchedPackage {
    CByteArea definition;
    CByteArea readme;
    CByteArea signature;
};

// The definition fetch task: fetches the definition package (update.qdv,
// MD5.txt, readme.txt and, for a program that checks signatures, update.sig)
// into memory on its own thread and accepts the definition only when MD5.txt
// holds its digest. All of them are fetched within kDefinitionTimeouts HTTP
// time-outs (core/FetchLimits.h); past that the fetch ends as broken off
// (failure code 3 and its line), whichever file and step it was in. The
// dialog polls IsFinished, then takes the texts over with TakePackage; it
// checks the signature itself. Files that are not of one release (MD5.txt,
// or update.sig, of another update.qdv) are fetched once more after
// core/ReleaseAgreement.h's wait, each attempt within the time above, and
// only then judged.
class CInitUpdateTask final : public CWinThreadMaster {
public:
    // messageList is borrowed for the task's lifetime; with fetchSignature
    // update.sig is fetched too.
    CInitUpdateTask(const char* definitionAddress, CWinListBox* messageList, bool fetchSignature);
    ~CInitUpdateTask();

    int32_t Run() override;
    bool IsFinished() const { return IsRaised(m_finished); }
    int32_t GetFailureCode() const { return m_failureCode; }
    // Moves the fetched texts into package; the task holds none afterwards.
    void TakePackage(FetchedPackage* package);

private:
    void AppendMessage(const char* line);
    int32_t FetchInto(void* session, const TimeBudget& budget, const char* address,
                      uint32_t capacity, CByteArea* area);
    // Every file of the package, within the package's time; the failure code.
    int32_t FetchSet(void* session, FetchedPackage* package, CByteArea* digest);
    bool OfOneRelease(const FetchedPackage& package, const CByteArea& digest) const;

    char m_definitionAddress[256];
    CWinListBox* m_messageList;
    bool m_fetchSignature;
    int32_t m_failureCode;
    int32_t m_finished;        // raised with RaiseFinished as the last action of Run
    FetchedPackage m_package;  // owned until the dialog takes it
};
