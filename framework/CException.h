#pragma once

// The task framework's exceptions. They carry no data: the type alone says what
// happened, and they are thrown by value.
class CException {};

// Thrown by CWinThreadMaster::CheckKilled once the task has been stopped.
class CExKilledByCtrl : public CException {};

// Thrown by CTaskController::Wait when the platform cannot wait on the thread.
class CCtrlFailed : public CException {};
