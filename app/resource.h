// Identifiers of the updater's resources (app/Updater.rc). Shared by the
// resource compilers and the C++ code, so plain #defines only.
#pragma once

// clang-format off
#define IDD_ABOUTBOX            100
#define IDS_ABOUTBOX            101
#define IDD_UPDATER_DIALOG      102
#define IDR_MAINFRAME           128

#define IDC_STATUS_TEXT         1000
#define IDC_RECORD_PROGRESS     1001
#define IDC_UPDATE_NOW          1002
#define IDC_OVERALL_PROGRESS    1004

// The about item the dialog appends to its system menu. System command ids
// must stay below 0xF000.
#define IDM_ABOUTBOX            0x0010

// Labels and other controls nobody addresses. Not in the toolchain's headers.
#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif
// clang-format on
