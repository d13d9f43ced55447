# Entry point, main dialog, definition check, installed state.
set(FERNUP_DIALOG_CORE_SOURCES
  DefinitionCheck.cpp
  DefinitionPackage.cpp
  InstalledState.cpp
  OsClass.cpp)
set(FERNUP_DIALOG_WIN_SOURCES
  CFernupDlg.cpp
  CReadmeDlg.cpp
  CSystemReport.cpp
  InstalledStateWin.cpp
  SigningKeys.cpp)
