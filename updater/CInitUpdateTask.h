#pragma once

#include <cstdint>

#include "framework/CWinThreadMaster.h"
#include "framework/FinishedFlag.h"

class CWinListBox;
struct TimeBudget;

// The texts a finished fetch hands over. Each is a byte area (AllocArea) that
// the receiver owns and frees; null when it was not fetched.
struct FetchedPackage {
    char* definitionText;
    uint32_t definitionLength;
    char* readmeText;
    uint32_t readmeLength;
    char* signatureText;
    uint32_t signatureLength;
};

// Fetches the definition package (update.qdv, MD5.txt, readme.txt and, for a
// program that checks signatures, update.sig) into memory on its own thread
// and accepts the definition only when MD5.txt holds its digest. All of them
// are fetched within kDefinitionTimeouts HTTP time-outs (FetchLimits.h);
// past that the fetch ends as broken off (failure code 3 and its line),
// whichever file and step it was in. The dialog polls IsFinished, then takes
// the texts over with TakePackage; it checks the signature itself.
class CInitUpdateTask final : public CWinThreadMaster {
public:
    explicit CInitUpdateTask(const char* definitionAddress);
    ~CInitUpdateTask();

    int32_t Run() override;
    bool IsFinished() const { return IsRaised(m_finished); }
    int32_t GetFailureCode() const { return m_failureCode; }
    // Moves the fetched texts into package; the task holds none afterwards.
    void TakePackage(FetchedPackage* package);

    char m_definitionAddress[256];
    int32_t m_failureCode;
    int32_t m_finished;      // raised with RaiseFinished as the last action of Run
    char* m_definitionText;  // byte area (AllocArea), owned until the dialog takes it
    uint32_t m_definitionLength;
    char* m_readmeText;  // byte area (AllocArea), owned until the dialog takes it
    uint32_t m_readmeLength;
    int32_t m_fetchSignature;  // 1: update.sig is fetched too; set before the start
    char* m_signatureText;     // byte area (AllocArea), owned until the dialog takes it
    uint32_t m_signatureLength;
    CWinListBox* m_messageList;  // borrowed from the dialog

private:
    void AppendMessage(const char* line);
    int32_t FetchInto(void* session, const TimeBudget& budget, const char* address,
                      uint32_t capacity, char** area, uint32_t* length);
};
