// Resource ids of the launcher: dialogs, strings, icon, pictures, commands.
#pragma once

#include "button_ids.h"

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_LAUNCHER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BACKGROUND 129
#define IDB_SETUP_SIMPLIFIED 147
#define IDB_SETUP_TRADITIONAL 148
#define IDB_EXIT_SETUP 149

#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
