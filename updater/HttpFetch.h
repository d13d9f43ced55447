#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

#include "core/FetchLimits.h"
#include "support/ScopedHandle.h"

class CWinThreadMaster;

// A session, connection or request of WinINet's, closed once.
struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { InternetCloseHandle(handle); }
};
using CInternetHandle = ScopedHandle<InternetHandleTraits>;

// HTTP over WinINet for both worker tasks. Every call is made on the worker
// thread of the task that owns the session; the task is passed in only for
// its SleepIfRunning pause between two reads.

enum FetchOutcome : int32_t {
    FetchDone = 0,
    FetchCannotOpen = 1,
    FetchBrokenOff = 2,
};

// Capacities of the fetch buffers.
constexpr uint32_t kMemoryChunkSize = 16384;    // chunk buffer of FetchToMemory
constexpr uint32_t kMemoryReadSize = 8192;      // most one read of FetchToMemory asks for
constexpr uint32_t kFileTransferSize = 131072;  // transfer buffer of FetchToFile
constexpr uint32_t kReadPauseMs = 2;

// A stalled server must not hold an update for ever: the connect and receive
// time-outs. Every other time limit of a fetch is counted in it
// (FetchLimits.h): opening an address with all its redirects, the least pace
// of a body, the definition package as a whole. Tests shorten it; it is read
// when a session opens, when an address is opened (the receive time-out goes
// on each request) and when a body begins.
extern uint32_t g_httpTimeoutMs;

// True when the platform says the Internet can be reached.
bool CheckInternet();

// A direct session presenting the agent text, with the time-outs set; null
// when it cannot be opened. The caller closes it with InternetCloseHandle.
HINTERNET OpenSession(const char* agent);

// Fetches the body at address into a new byte area of the given capacity
// (AllocArea; the caller owns it and frees it with FreeArea). *area and
// *received are set in every outcome but FetchCannotOpen (then null and 0);
// after FetchBrokenOff they hold what arrived before the break. Bytes beyond
// the capacity are dropped and end the fetch as FetchDone. The fetch gives
// up once withinMs have passed since it began (kNoTimeLimit: never): still
// opening the address, as FetchCannotOpen; in the body, as FetchBrokenOff,
// at the first read that returns after it.
FetchOutcome FetchToMemory(CWinThreadMaster* task, HINTERNET session, const char* address,
                           uint32_t capacity, uint32_t withinMs, char** area, uint32_t* received);

// Both fetches: redirects (301, 302, 303, 307, 308 with a Location) are
// followed, at most 10 in a row and never from https to http; past that, or
// to an address of another scheme, the address counts as one that cannot be
// opened. Opening an address, its redirects included, is given
// kAddressTimeouts time-outs in all; past them it cannot be opened either.
// A body that brings fewer than kLeastBodyBytesPerWindow bytes for each
// time-out it lasts (judged over spans of at least one time-out) has stalled
// and ends as FetchBrokenOff, as does one that the receive time-out ends.

// Fetches the body at address into the open file, which stays open. It ends
// at the declared size or when a read gives nothing; the caller's digest check
// judges a body of the wrong length. Writes the entry's download state (1)
// and download percentage as it goes.
FetchOutcome FetchToFile(CWinThreadMaster* task, HINTERNET session, const char* address,
                         HANDLE file, uint32_t declaredSize, int32_t& downloadState,
                         int32_t& downloadPercent);
