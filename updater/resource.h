#pragma once

// Resources of the main dialog; the numbers are shared with Fernup.rc.
#define IDD_FERNUP 101
#define IDI_FERNUP 102
#define IDD_README 103

#define IDC_FILE_LIST 1001
#define IDC_UPDATE 1002
#define IDC_EXIT 1003
#define IDC_MESSAGES 1004
#define IDC_OFFLINE_PATH 1005
#define IDC_BROWSE 1006
#define IDC_README 1007
#define IDC_README_TEXT 1008

// The publisher's public keys (RCDATA, text as the build option takes them);
// present only in a build made with keys.
#define IDR_SIGNING_KEYS 201
