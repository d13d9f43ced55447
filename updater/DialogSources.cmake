# Entry point, main dialog, definition check, installed state.
set(FERNUP_DIALOG_CORE_SOURCES)
set(FERNUP_DIALOG_WIN_SOURCES)
