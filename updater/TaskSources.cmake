# HTTP fetch, the two worker tasks, the check list.
set(FERNUP_TASK_CORE_SOURCES)
set(FERNUP_TASK_WIN_SOURCES)
