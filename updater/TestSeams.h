#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

class CFernupTask;

// What tests replace or reach in the program, and no other code does: the
// platform calls whose failures do not come on demand, and the end of an
// update task that never ran. The program's own files define them.

// The reachability probe behind CheckInternet. Wine's InternetAttemptConnect
// always reports success, so tests put a failing probe here.
using AttemptConnectProc = DWORD(WINAPI*)(DWORD);
extern AttemptConnectProc g_attemptConnect;

// The session opener behind OpenSession, replaceable by tests for the same
// reason (InternetOpenA practically never fails).
using InternetOpenProc = HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
extern InternetOpenProc g_internetOpen;

// The available-data query behind both fetches: the platform's answers
// (nothing yet, or a failure without an error code) do not come on demand.
using QueryDataAvailableProc = BOOL(WINAPI*)(HINTERNET, LPDWORD, DWORD, DWORD_PTR);
extern QueryDataAvailableProc g_queryDataAvailable;

// The definition fetch's wait before it fetches files of two releases once
// more (core/ReleaseAgreement.h's kDisagreementWaitMs); tests that are not
// about the wait shorten it.
extern uint32_t g_disagreementWaitMs;

// Raises the finished flag of an update task that was never started, as its
// Run does last: the dialog's handling of a finished update without one.
void RaiseFinishedWithoutRun(CFernupTask* task);
