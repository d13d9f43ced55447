#pragma once

// Resource identifiers of the framework tests' dialog template, shared by the
// resource script and the tests.
#define IDD_FRAMEWORK_TEST 201
#define IDD_MISSING_TEMPLATE 299
#define IDC_LIST_VIEW 1101
#define IDC_LIST_BOX 1102
#define IDC_EDIT 1103
#define IDC_BUTTON 1104
