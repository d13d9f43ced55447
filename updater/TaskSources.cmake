# HTTP fetch, the two worker tasks, the check list.
set(FERNUP_TASK_CORE_SOURCES
  CheckListRecords.cpp
  EntryDigest.cpp
  CompanionAddress.cpp
  FetchLimits.cpp
  TargetPath.cpp
)
set(FERNUP_TASK_WIN_SOURCES
  HttpFetch.cpp
  CheckList.cpp
  CInitUpdateTask.cpp
  CFernupTask.cpp
  FineTimer.cpp
  FileReplace.cpp
  WorkFolder.cpp
)
