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

// What the launcher tells the user when an edition command does not end with
// its setup program started, in the edition's language: one string block of
// 16 ids per edition, IDS_EDITION_MESSAGES + 16 * (button - IDC_SETUP_SIMPLIFIED)
// + one of the IDS_MESSAGE_* offsets.
#define IDS_EDITION_MESSAGES 208
#define IDS_MESSAGE_CAPTION 0
#define IDS_MESSAGE_DAMAGED 1
#define IDS_MESSAGE_CANNOT_WRITE 2
#define IDS_MESSAGE_CANNOT_START 3
#define IDS_SIMPLIFIED_CAPTION 208
#define IDS_SIMPLIFIED_DAMAGED 209
#define IDS_SIMPLIFIED_CANNOT_WRITE 210
#define IDS_SIMPLIFIED_CANNOT_START 211
#define IDS_TRADITIONAL_CAPTION 224
#define IDS_TRADITIONAL_DAMAGED 225
#define IDS_TRADITIONAL_CANNOT_WRITE 226
#define IDS_TRADITIONAL_CANNOT_START 227
#define IDS_ENGLISH_CAPTION 240
#define IDS_ENGLISH_DAMAGED 241
#define IDS_ENGLISH_CANNOT_WRITE 242
#define IDS_ENGLISH_CANNOT_START 243

#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
